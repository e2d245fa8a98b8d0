// A deliberate misbehaviour of the stand-in server, so that clients' failure paths meet a
// real peer: it changes the reply to one command (or to every command).
#pragma once

#include "platform/types.h"

enum class FaultKind {
    None,
    // The reply's CRC-32 is wrong.
    WrongCrc,
    // Only the frame's header is sent; the connection stays open.
    TruncatedFrame,
    // The header and half of the payload are sent, then the connection is closed.
    CloseMidMessage,
    // The header and half of the payload are sent, then nothing more; the connection stays
    // open.
    StallMidMessage,
    // The header claims 0xFFFFFFF0 bytes, more than any frame can hold.
    OversizedFrame,
    // The request is not answered; the connection stays open.
    NoAnswer,
    // A frame with no payload: cbData 4, CRC 0.
    EmptyPayload,
    // The header carries the fault's cbData; the real payload follows.
    GivenCbData,
    // A tunnelled connection is closed instead of answering its hello record.
    NoHelloAnswer,
};

struct ServerFault {
    static constexpr DWORD kAnyCommand = 0xFFFFFFFF;

    FaultKind kind = FaultKind::None;
    DWORD command = kAnyCommand;
    DWORD cbData = 0;

    bool AppliesTo(DWORD code) const
    {
        return kind != FaultKind::None && (command == kAnyCommand || command == code);
    }
};
