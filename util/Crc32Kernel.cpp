#include "util/Crc32Kernel.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "util/LittleEndian.h"

namespace {

// The polynomial P without its x^32 term, bit-reflected: bit i is the coefficient of
// x^(31 - i). A register in this form holds a remainder mod P.
constexpr uint32_t kReflectedPoly = 0xEDB88320u;

// A remainder times x, reduced mod P: in reflected form the coefficients move one bit down,
// and an x^31 term (bit 0) that becomes x^32 is replaced by the rest of P.
constexpr uint32_t TimesX(uint32_t remainder)
{
    return (remainder & 1) ? (remainder >> 1) ^ kReflectedPoly : remainder >> 1;
}

// CRC-32 sixteen bytes per step: table k gives the CRC of a byte followed by k zero bytes, so
// sixteen independent lookups fold a whole 16-byte group.
constexpr int kCrcSlices = 16;

struct CrcTables {
    uint32_t entry[kCrcSlices][256];
};

constexpr CrcTables MakeCrcTables()
{
    CrcTables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = TimesX(crc);
        tables.entry[0][i] = crc;
    }
    for (int k = 1; k < kCrcSlices; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t previous = tables.entry[k - 1][i];
            tables.entry[k][i] = (previous >> 8) ^ tables.entry[0][previous & 0xFF];
        }
    }
    return tables;
}

constexpr CrcTables kCrcTables = MakeCrcTables();

// The four bytes of a word looked up in the tables first + 3 down to first.
inline uint32_t FoldWord(uint32_t word, int first)
{
    const auto& t = kCrcTables.entry;
    return t[first + 3][word & 0xFF] ^ t[first + 2][(word >> 8) & 0xFF] ^
           t[first + 1][(word >> 16) & 0xFF] ^ t[first][word >> 24];
}

// The register after length bytes, by table.
uint32_t UpdateByTable(uint32_t crc, const uint8_t* bytes, size_t length)
{
    while (length >= kCrcSlices) {
        crc = FoldWord(LoadLittleEndian32(bytes) ^ crc, 12) ^
              FoldWord(LoadLittleEndian32(bytes + 4), 8) ^
              FoldWord(LoadLittleEndian32(bytes + 8), 4) ^
              FoldWord(LoadLittleEndian32(bytes + 12), 0);
        bytes += kCrcSlices;
        length -= kCrcSlices;
    }
    while (length-- > 0)
        crc = (crc >> 8) ^ kCrcTables.entry[0][(crc ^ *bytes++) & 0xFF];
    return crc;
}

#if defined(__x86_64__)

// Folding by carry-less multiplication, after Intel's "Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ Instruction", in the bit-reflected form.
//
// Numbering: bit i of a little-endian 128-bit load is the i-th bit of the message, the
// coefficient of x^(127 - i) of that block; in a 64-bit half, bit i stands for x^(63 - i).
// The register after a message M, starting from 0, is M * x^32 mod P.
//
// PCLMULQDQ multiplies two halves a and b into 128 bits whose bit k sums a_i * b_j over
// i + j = k, the coefficient of x^(126 - k): read as a 128-bit block the product is
// x * A * B, one power of x more than A * B.
//
// Moving a half n bits further along the message multiplies it by x^n; A * x^n and
// A * (x^n mod P) leave the same remainder, and the latter is only 32 bits longer than A, so
// it fits the 128-bit block that lies n bits on. A constant holding x^(n - 1) mod P (one power
// less, for the x of the multiplication) in its upper 32 bits, where bit 32 + i stands for
// x^(31 - i), moves a half n bits on.
constexpr uint32_t XPowerModP(uint32_t n)
{
    uint32_t remainder = 0x80000000u;  // x^0
    for (uint32_t i = 0; i < n; ++i)
        remainder = TimesX(remainder);
    return remainder;
}

constexpr uint64_t ShiftBy(uint32_t bits)
{
    return uint64_t{XPowerModP(bits - 1)} << 32;
}

// The pair of constants that moves a block n bits on: its low half (the earlier 64 bits of
// the message) goes n + 64 bits, its high half n bits.
struct BlockShift {
    uint64_t low;
    uint64_t high;
};

constexpr BlockShift MoveBlockBy(uint32_t bits)
{
    return {ShiftBy(bits + 64), ShiftBy(bits)};
}

// Barrett reduction uses the 33-bit polynomials P and floor(x^64 / P) in the low 33 bits of a
// half, bit i standing for x^(32 - i); so placed, a half stands for the polynomial times x^31.
constexpr uint64_t kPolyWide = uint64_t{kReflectedPoly} << 1 | 1;

// floor(x^64 / P), built like x^64 mod P one power at a time from x^32 = 1 * P + (x^32 mod
// P): each time the remainder reaches x^32 the quotient takes one more P, so the quotient's
// coefficient of x^(31 - k) is the x^31 coefficient (bit 0) of x^(32 + k) mod P.
constexpr uint64_t BarrettQuotient()
{
    uint64_t quotient = 1;  // x^32
    uint32_t remainder = kReflectedPoly;
    for (int k = 0; k < 32; ++k) {
        quotient |= uint64_t{remainder & 1} << (k + 1);
        remainder = TimesX(remainder);
    }
    return quotient;
}

constexpr uint64_t kBarrettQuotient = BarrettQuotient();

constexpr size_t kBlock = 16;
// Bytes taken per step by the four lanes of each folding method; a buffer shorter than one
// step goes to the next slower method. Below 64 bytes the table is as fast as setting up
// lanes and reducing them.
constexpr size_t kStride = 4 * kBlock;
constexpr size_t kWideStride = 4 * kStride;

constexpr BlockShift kBy128 = MoveBlockBy(128);
constexpr BlockShift kBy512 = MoveBlockBy(512);
constexpr BlockShift kBy2048 = MoveBlockBy(2048);

__attribute__((target("pclmul,sse4.1"))) inline __m128i Shifts(BlockShift shift)
{
    return _mm_set_epi64x(static_cast<int64_t>(shift.high), static_cast<int64_t>(shift.low));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i LoadBlock(const uint8_t* bytes)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

// A block moved forward onto the block it adds to: each half times its constant.
__attribute__((target("pclmul,sse4.1"))) inline __m128i FoldOnto(__m128i block, __m128i shifts,
                                                                 __m128i next)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(block, shifts, 0x00),
                                       _mm_clmulepi64_si128(block, shifts, 0x11)),
                         next);
}

// The register of a 128-bit block X whose message starts with it: X * x^32 mod P.
__attribute__((target("pclmul,sse4.1"))) uint32_t ReduceBlock(__m128i block)
{
    // X * x^32 = H * x^96 + L * x^32 for its halves H (low) and L (high). H moved 96 bits on
    // is at most 96 bits wide; L * x^32 is L placed 32 bits further along. The sum T fills
    // bits 32-127.
    const __m128i high = _mm_slli_si128(_mm_srli_si128(block, 8), 4);
    const __m128i sum =
        _mm_xor_si128(_mm_clmulepi64_si128(block, _mm_cvtsi64_si128(ShiftBy(96)), 0x00), high);
    // T's first 32 bits (32-63) moved 64 bits on land in the high half, which now holds a
    // 64-bit U with the same remainder.
    const __m128i folded =
        _mm_xor_si128(_mm_clmulepi64_si128(sum, _mm_cvtsi64_si128(ShiftBy(64)), 0x00), sum);
    const __m128i wide = _mm_srli_si128(folded, 8);
    // Barrett reduction of U: the quotient U div P is floor(floor(U / x^32) * floor(x^64 / P)
    // / x^32). U's x^63..x^32 (bits 0-31) times the quotient constant is the product times
    // x^64, whose bits 0-31 are the quotient q. q (in bits 0-31, standing for q * x^32) times
    // P is q * P * x^64, whose bits 32-63 match U's low 32 bits; their sum is the remainder.
    const __m128i low32 = _mm_cvtsi32_si128(-1);
    const __m128i quotient = _mm_and_si128(
        _mm_clmulepi64_si128(_mm_and_si128(wide, low32), _mm_cvtsi64_si128(kBarrettQuotient),
                             0x00),
        low32);
    const __m128i remainder =
        _mm_xor_si128(_mm_clmulepi64_si128(quotient, _mm_cvtsi64_si128(kPolyWide), 0x00), wide);
    return static_cast<uint32_t>(_mm_extract_epi32(remainder, 1));
}

// The register once the remaining whole blocks have been folded onto the last one.
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldRemainder(__m128i last,
                                                                 const uint8_t* bytes,
                                                                 size_t length)
{
    const __m128i by128 = Shifts(kBy128);
    for (; length >= kBlock; bytes += kBlock, length -= kBlock)
        last = FoldOnto(last, by128, LoadBlock(bytes));
    return ReduceBlock(last);
}

// The register after length bytes (a multiple of 16, at least kStride). The register is added
// to the message's first 32 bits; lane k then takes blocks k, k + 4, ..., each step moving it
// 512 bits on onto its next block, until the lanes are folded into one and reduced.
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldBlocks(uint32_t crc, const uint8_t* bytes,
                                                              size_t length)
{
    const __m128i by512 = Shifts(kBy512);
    const __m128i by128 = Shifts(kBy128);
    __m128i lane0 = _mm_xor_si128(LoadBlock(bytes), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i lane1 = LoadBlock(bytes + kBlock);
    __m128i lane2 = LoadBlock(bytes + 2 * kBlock);
    __m128i lane3 = LoadBlock(bytes + 3 * kBlock);
    bytes += kStride;
    length -= kStride;
    for (; length >= kStride; bytes += kStride, length -= kStride) {
        lane0 = FoldOnto(lane0, by512, LoadBlock(bytes));
        lane1 = FoldOnto(lane1, by512, LoadBlock(bytes + kBlock));
        lane2 = FoldOnto(lane2, by512, LoadBlock(bytes + 2 * kBlock));
        lane3 = FoldOnto(lane3, by512, LoadBlock(bytes + 3 * kBlock));
    }
    const __m128i last =
        FoldOnto(FoldOnto(FoldOnto(lane0, by128, lane1), by128, lane2), by128, lane3);
    return FoldRemainder(last, bytes, length);
}

__attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1"))) inline __m512i LoadWide(
    const uint8_t* bytes)
{
    return _mm512_loadu_si512(bytes);
}

__attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1"))) inline __m512i WideShifts(
    BlockShift shift)
{
    const auto low = static_cast<int64_t>(shift.low);
    const auto high = static_cast<int64_t>(shift.high);
    return _mm512_set_epi64(high, low, high, low, high, low, high, low);
}

// 0x96 makes the three-way exclusive or.
__attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1"))) inline __m512i FoldWideOnto(
    __m512i lane, __m512i shifts, __m512i next)
{
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(lane, shifts, 0x00),
                                     _mm512_clmulepi64_epi128(lane, shifts, 0x11), next, 0x96);
}

// FoldBlocks with four blocks side by side in each 512-bit lane (length at least kWideStride):
// a lane takes 64 bytes of every 256, moving 2048 bits per step; the lanes are folded into
// one, and its four blocks into the last.
__attribute__((target("avx512f,vpclmulqdq,pclmul,sse4.1"))) uint32_t FoldWideBlocks(
    uint32_t crc, const uint8_t* bytes, size_t length)
{
    const __m512i by2048 = WideShifts(kBy2048);
    const __m512i by512 = WideShifts(kBy512);
    const __m128i by128 = Shifts(kBy128);
    __m512i lane0 = _mm512_xor_si512(
        LoadWide(bytes), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
    __m512i lane1 = LoadWide(bytes + kStride);
    __m512i lane2 = LoadWide(bytes + 2 * kStride);
    __m512i lane3 = LoadWide(bytes + 3 * kStride);
    bytes += kWideStride;
    length -= kWideStride;
    for (; length >= kWideStride; bytes += kWideStride, length -= kWideStride) {
        lane0 = FoldWideOnto(lane0, by2048, LoadWide(bytes));
        lane1 = FoldWideOnto(lane1, by2048, LoadWide(bytes + kStride));
        lane2 = FoldWideOnto(lane2, by2048, LoadWide(bytes + 2 * kStride));
        lane3 = FoldWideOnto(lane3, by2048, LoadWide(bytes + 3 * kStride));
    }
    // The four blocks of the last lane are folded through memory: the instructions that take
    // a block out of a 512-bit register trip a false uninitialised-value warning in GCC 12.
    lane1 = FoldWideOnto(lane0, by512, lane1);
    lane2 = FoldWideOnto(lane1, by512, lane2);
    lane3 = FoldWideOnto(lane2, by512, lane3);
    alignas(64) uint8_t blocks[kStride];
    _mm512_store_si512(blocks, lane3);
    __m128i last = LoadBlock(blocks);
    for (size_t next = kBlock; next < sizeof blocks; next += kBlock)
        last = FoldOnto(last, by128, LoadBlock(blocks + next));
    return FoldRemainder(last, bytes, length);
}

Crc32Kernel::Method DetectFastest()
{
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("pclmul") || !__builtin_cpu_supports("sse4.1"))
        return Crc32Kernel::Method::Table;
    if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("vpclmulqdq"))
        return Crc32Kernel::Method::Fold128;
    return Crc32Kernel::Method::Fold512;
}

#else

Crc32Kernel::Method DetectFastest()
{
    return Crc32Kernel::Method::Table;
}

#endif

}  // namespace

Crc32Kernel::Method Crc32Kernel::Fastest()
{
    static const Method fastest = DetectFastest();
    return fastest;
}

bool Crc32Kernel::IsSupported(Method method)
{
    return method <= Fastest();
}

uint32_t Crc32Kernel::Update(uint32_t crc, const uint8_t* bytes, size_t length)
{
    return UpdateWith(Fastest(), crc, bytes, length);
}

uint32_t Crc32Kernel::UpdateWith(Method method, uint32_t crc, const uint8_t* bytes,
                                 size_t length)
{
#if defined(__x86_64__)
    const size_t whole = length - length % kBlock;
    if (method == Method::Fold512 && length >= kWideStride)
        return UpdateByTable(FoldWideBlocks(crc, bytes, whole), bytes + whole, length - whole);
    if (method != Method::Table && length >= kStride)
        return UpdateByTable(FoldBlocks(crc, bytes, whole), bytes + whole, length - whole);
#endif
    return UpdateByTable(crc, bytes, length);
}
