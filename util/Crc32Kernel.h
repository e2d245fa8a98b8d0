// The CRC-32 computation behind Cutil::Crc32: the standard reflected CRC-32 (polynomial
// 0xEDB88320). Every method continues a running register, which is the complement of the CRC
// so far (0xFFFFFFFF at the start of a message), and returns the new register; the CRC of a
// message is the complement of its final register. All methods give the same result.
#pragma once

#include <cstddef>
#include <cstdint>

class Crc32Kernel {
public:
    // In rising order of speed; a processor that runs one method runs those before it.
    enum class Method {
        Table,    // table lookups, sixteen bytes per step; every processor
        Fold128,  // carry-less multiplication (PCLMULQDQ) over 4 x 128-bit lanes
        Fold512,  // carry-less multiplication (VPCLMULQDQ, AVX-512) over 4 x 512-bit lanes
    };

    // The fastest method this processor runs.
    static Method Fastest();
    static bool IsSupported(Method method);
    // Update with the fastest method.
    static uint32_t Update(uint32_t crc, const uint8_t* bytes, size_t length);
    // method must be supported. The folding methods take the whole 16-byte blocks of a
    // buffer long enough for them, the table the rest.
    static uint32_t UpdateWith(Method method, uint32_t crc, const uint8_t* bytes, size_t length);
};
