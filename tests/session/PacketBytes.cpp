#include "PacketBytes.h"

#include <gtest/gtest.h>

#include "util/Cutil.h"

WireBytes ExpectedPacket(DWORD command)
{
    WireBytes bytes;
    bytes.U32(command);
    return bytes;
}

Bytes TakePacket(DWORD length, void* packet)
{
    if (length == 0) {
        EXPECT_EQ(packet, nullptr);
        return {};
    }
    EXPECT_NE(packet, nullptr);
    const BYTE* bytes = static_cast<const BYTE*>(packet);
    Bytes payload(bytes, bytes + length);
    Cutil::FreePacket(packet);
    return payload;
}
