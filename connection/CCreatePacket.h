// The request packet builders of the channel: each writes one complete request payload (a
// u32 command code, then the command's fields) into a fresh page allocation that the caller
// sends and releases with Cutil::FreePacket.
#pragma once

#include "platform/types.h"

class CCreatePacket {
public:
    // Command codes.
    static constexpr DWORD kDisconnect = 0;
    static constexpr DWORD kGetCommandIndex = 75;

    // Zeroed room allocated beyond the fixed part of a packet.
    static constexpr DWORD kSlack = 1024;

    // Each gives the payload length, or 0 with *packet null when the allocation fails.
    DWORD Disconnect(void** packet);
    DWORD GetCommandIndex(void** packet);

private:
    static DWORD BuildCodeOnly(void** packet, DWORD code);
};
