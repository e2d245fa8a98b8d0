// Inflates one zlib stream held whole in memory into a caller's buffer. The stream comes
// from the server, so nothing is trusted: the output never grows past the buffer, and only
// a stream that reaches its end (with its checksum verified by zlib) counts as inflated.
#pragma once

#include "platform/types.h"
#include "util/Cutil.h"

class Cinflate {
public:
    // zlib is called through an interface it has kept since 1.2.3; it checks only the first
    // character of this version text, and the size of its own stream structure.
    static constexpr const char* kZlibVersion = "1.2.3";
    // Output is produced in steps of this size; only the last, when a whole step no longer
    // fits the buffer, goes through a work area of its own before it is appended.
    static constexpr DWORD kWorkSize = 0x20000;

    // out holds *outLength bytes on entry. On success *outLength is the number of bytes
    // inflated, which are followed by a zero byte, so at most *outLength - 1 bytes fit.
    // *zlibStatus receives the status of the last zlib call (or Z_BUF_ERROR when the
    // stream inflates to more than fits). Gives 1, or 0 on failure.
    DWORD Inflate(void* out, DWORD* outLength, const void* in, DWORD inLength, INT* zlibStatus);

private:
    Cutil m_util;
};
