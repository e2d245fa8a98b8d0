// Expected request payloads, written field by field, and the capture of a built packet.
#pragma once

#include <string>
#include <vector>

#include "platform/types.h"

using Bytes = std::vector<BYTE>;

class ExpectedPacket {
public:
    explicit ExpectedPacket(DWORD command) { U32(command); }
    ExpectedPacket& U32(DWORD value);
    ExpectedPacket& U64(ULONGLONG value);
    ExpectedPacket& Narrow(const std::string& text);  // count + bytes
    ExpectedPacket& Wide(const std::u16string& text); // count + UTF-16LE
    ExpectedPacket& Zeros(size_t count);
    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
};

// The payload of a built packet (length bytes), with the buffer released. A refused build
// (length 0) must leave the packet pointer null; that is checked here too.
Bytes TakePacket(DWORD length, void* packet);
