#include "ServiceFixture.h"

#include <zlib.h>

std::vector<uint8_t> Word(uint32_t value)
{
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

uint32_t WordAt(const uint8_t* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

std::vector<uint8_t> CommandHeader(uint32_t command)
{
    std::vector<uint8_t> code = Word(command);
    auto crc = static_cast<uint32_t>(crc32(0, code.data(), 4));
    std::vector<uint8_t> header;
    for (uint32_t word : {1u, 0u, 0u, 24u, crc, command}) {
        std::vector<uint8_t> bytes = Word(word);
        header.insert(header.end(), bytes.begin(), bytes.end());
    }
    return header;
}

std::vector<uint8_t> Pattern(size_t length)
{
    std::vector<uint8_t> bytes(length);
    for (size_t index = 0; index < length; ++index)
        bytes[index] = static_cast<uint8_t>(index % 251);
    return bytes;
}
