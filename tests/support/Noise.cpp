#include "support/Noise.h"

std::string Noise(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<char>(seed >> 23);
    }
    return bytes;
}
