// The little-endian integers of the system's byte formats (request and reply fields, pipe
// commands, sealed texts, cipher blocks, UTF-16LE text), read and written byte by byte so
// that neither the host's byte order nor the alignment of the bytes matters.
#pragma once

#include <cstdint>
#include <vector>

inline uint16_t LoadLittleEndian16(const uint8_t* bytes)
{
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

inline uint32_t LoadLittleEndian32(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline uint64_t LoadLittleEndian64(const uint8_t* bytes)
{
    return static_cast<uint64_t>(LoadLittleEndian32(bytes + 4)) << 32 | LoadLittleEndian32(bytes);
}

inline void StoreLittleEndian16(uint8_t* bytes, uint16_t value)
{
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline void StoreLittleEndian32(uint8_t* bytes, uint32_t value)
{
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    bytes[2] = static_cast<uint8_t>(value >> 16);
    bytes[3] = static_cast<uint8_t>(value >> 24);
}

inline void AppendLittleEndian16(std::vector<uint8_t>* bytes, uint16_t value)
{
    bytes->push_back(static_cast<uint8_t>(value));
    bytes->push_back(static_cast<uint8_t>(value >> 8));
}

inline void AppendLittleEndian32(std::vector<uint8_t>* bytes, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes->push_back(static_cast<uint8_t>(value >> shift));
}
