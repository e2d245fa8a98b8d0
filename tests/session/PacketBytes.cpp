#include "PacketBytes.h"

#include <gtest/gtest.h>

#include "util/Cutil.h"

ExpectedPacket& ExpectedPacket::U32(DWORD value)
{
    for (int shift = 0; shift < 32; shift += 8)
        m_bytes.push_back(static_cast<BYTE>(value >> shift));
    return *this;
}

ExpectedPacket& ExpectedPacket::U64(ULONGLONG value)
{
    U32(static_cast<DWORD>(value));
    return U32(static_cast<DWORD>(value >> 32));
}

ExpectedPacket& ExpectedPacket::Narrow(const std::string& text)
{
    U32(static_cast<DWORD>(text.size()));
    m_bytes.insert(m_bytes.end(), text.begin(), text.end());
    return *this;
}

ExpectedPacket& ExpectedPacket::Wide(const std::u16string& text)
{
    U32(static_cast<DWORD>(text.size() * 2));
    for (char16_t unit : text) {
        m_bytes.push_back(static_cast<BYTE>(unit));
        m_bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    return *this;
}

ExpectedPacket& ExpectedPacket::Zeros(size_t count)
{
    m_bytes.insert(m_bytes.end(), count, 0);
    return *this;
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
