// Unpacks a file that the server sent as one zlib stream into page memory of its own.
#pragma once

#include "platform/types.h"
#include "util/Cutil.h"

class Cunzip {
public:
    // The output buffer: a file that inflates to more than kOutputSize - 1 bytes (one byte is
    // kept for the terminating zero) fails; larger files travel as cached transfers.
    static constexpr DWORD kOutputSize = 0x500000;

    // On success *out is page memory (release with Cutil::FreePacket) holding *outLength
    // inflated bytes and a zero byte, and the result is 1. On failure the result is 0, *out
    // is null and *outLength 0.
    DWORD Decompress(void** out, DWORD* outLength, const void* in, DWORD inLength);

private:
    Cutil m_util;
};
