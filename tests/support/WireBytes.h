// Little-endian wire bytes built field by field: requests a test expects and replies it
// makes a stand-in peer send.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

class WireBytes {
public:
    WireBytes& U32(uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            m_bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
        return *this;
    }
    WireBytes& U64(uint64_t value)
    {
        return U32(static_cast<uint32_t>(value)).U32(static_cast<uint32_t>(value >> 32));
    }
    // A u32 byte count and the bytes (narrow and UTF-8 fields).
    WireBytes& Text8(const std::string& text)
    {
        U32(static_cast<uint32_t>(text.size()));
        m_bytes.insert(m_bytes.end(), text.begin(), text.end());
        return *this;
    }
    // A u32 byte count and UTF-16LE bytes (reply strings).
    WireBytes& Text16(const std::u16string& text)
    {
        U32(static_cast<uint32_t>(text.size() * 2));
        for (char16_t unit : text) {
            m_bytes.push_back(static_cast<BYTE>(unit & 0xFF));
            m_bytes.push_back(static_cast<BYTE>(unit >> 8));
        }
        return *this;
    }
    WireBytes& Fill(size_t count, BYTE value)
    {
        m_bytes.insert(m_bytes.end(), count, value);
        return *this;
    }
    const std::vector<BYTE>& Get() const { return m_bytes; }
    operator const std::vector<BYTE>&() const { return m_bytes; }
    size_t size() const { return m_bytes.size(); }

private:
    std::vector<BYTE> m_bytes;
};
