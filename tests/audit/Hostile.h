// Hostile input for the audit tests: a builder of little-endian wire bytes, a seeded mutator
// that turns a well-formed reply or file into the kinds of damage a peer or a disk can do
// (cuts, flipped bytes, counts and lengths set to the values that wrap 32-bit sums, inserted
// and removed runs), and buffers filled with a sentinel that show whether anything was written.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "platform/types.h"
#include "support/WireBytes.h"

// The little-endian u32 at offset, or nothing when the bytes end before it.
inline std::optional<uint32_t> WordIn(const std::vector<BYTE>& bytes, uint64_t offset)
{
    if (offset + 4 > bytes.size())
        return std::nullopt;
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

// One zlib stream of the data, as the server compresses a file.
inline std::string Compress(const void* data, size_t size)
{
    uLongf length = compressBound(static_cast<uLong>(size));
    std::string stream(length, '\0');
    compress2(reinterpret_cast<Bytef*>(stream.data()), &length, static_cast<const Bytef*>(data),
              static_cast<uLong>(size), Z_BEST_SPEED);
    stream.resize(length);
    return stream;
}

// Values that break careless arithmetic on a 32-bit count, length or offset.
inline const std::vector<uint32_t>& HostileWords()
{
    static const std::vector<uint32_t> words = {0,          1,          2,          3,
                                                4,          0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                                                0xFFFFFFFE, 0xFFFFFFFC, 0xFFFFFFF0, 0xFFFF,
                                                0x10000,    0x3FFFFFFF};
    return words;
}

class Mutator {
public:
    explicit Mutator(uint32_t seed) : m_random(seed) {}

    uint32_t Below(uint32_t bound) { return bound == 0 ? 0 : m_random() % bound; }
    uint32_t Word() { return static_cast<uint32_t>(m_random()); }

    // One damaged copy of bytes; the damage is chosen at random, one or a few kinds at once.
    std::vector<BYTE> Mutate(std::vector<BYTE> bytes)
    {
        const uint32_t rounds = 1 + Below(3);
        for (uint32_t round = 0; round < rounds; ++round)
            MutateOnce(bytes);
        return bytes;
    }

    // Writes a hostile word (or one near the buffer's own length) over the u32 at offset.
    void PutHostileWord(std::vector<BYTE>& bytes, size_t offset)
    {
        if (offset + 4 > bytes.size())
            return;
        uint32_t value;
        const uint32_t length = static_cast<uint32_t>(bytes.size());
        switch (Below(3)) {
        case 0:
            value = HostileWords()[Below(static_cast<uint32_t>(HostileWords().size()))];
            break;
        case 1:
            value = length - static_cast<uint32_t>(offset) + Below(9) - 4;
            break;
        default:
            value = 0u - Below(64);
            break;
        }
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = static_cast<BYTE>(value >> (8 * i));
    }

private:
    void MutateOnce(std::vector<BYTE>& bytes)
    {
        const uint32_t size = static_cast<uint32_t>(bytes.size());
        switch (Below(6)) {
        case 0:
            bytes.resize(Below(size + 1));
            break;
        case 1:
            if (size != 0)
                bytes[Below(size)] ^= static_cast<BYTE>(1 + Below(255));
            break;
        case 2:
        case 3:
            // Counts sit on 4-byte boundaries in most replies, but not behind a text.
            if (size >= 4)
                PutHostileWord(bytes, Below(2) == 0 ? Below(size / 4) * 4 : Below(size - 3));
            break;
        case 4: {
            const uint32_t at = Below(size + 1);
            const uint32_t count = 1 + Below(16);
            std::vector<BYTE> run(count);
            for (BYTE& byte : run)
                byte = static_cast<BYTE>(Word());
            bytes.insert(bytes.begin() + at, run.begin(), run.end());
            break;
        }
        default:
            if (size != 0) {
                const uint32_t at = Below(size);
                const uint32_t count = 1 + Below(std::min<uint32_t>(16, size - at));
                bytes.erase(bytes.begin() + at, bytes.begin() + at + count);
            }
            break;
        }
    }

    std::mt19937 m_random;
};

// A buffer of n elements, all the sentinel; Untouched says whether every one still is.
template <typename Char>
class Sentinel {
public:
    static constexpr Char kMark = static_cast<Char>('#');

    explicit Sentinel(size_t n) : m_data(n, kMark) {}
    Char* data() { return m_data.data(); }
    bool Untouched() const
    {
        return std::all_of(m_data.begin(), m_data.end(), [](Char c) { return c == kMark; });
    }
    // The text written into the buffer, up to its terminator (or the whole buffer).
    std::basic_string<Char> Text() const
    {
        auto end = std::find(m_data.begin(), m_data.end(), Char{0});
        return std::basic_string<Char>(m_data.begin(), end);
    }

private:
    std::vector<Char> m_data;
};
