// Text-like bytes that compress about as well as documents do, the same for the same size.
#pragma once

#include <cstdint>
#include <iterator>
#include <string>

inline std::string TextBytes(size_t size)
{
    static const char* const kWords[] = {"backup ", "restore ", "volume ", "machine ", "folder ",
                                         "version ", "chunk ", "server ", "\n", "2024-05-17 "};
    std::string text;
    uint32_t seed = 7;
    while (text.size() < size) {
        seed = seed * 1103515245u + 12345u;
        text += kWords[(seed >> 16) % std::size(kWords)];
        text += std::to_string(seed % 1000);
    }
    text.resize(size);
    return text;
}
