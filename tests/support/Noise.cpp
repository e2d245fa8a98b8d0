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

std::vector<uint8_t> NoiseBytes(size_t size, uint32_t seed)
{
    const std::string bytes = Noise(size, seed);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}
