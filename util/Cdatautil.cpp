#include "util/Cdatautil.h"

#include <cstring>

#include "platform/format.h"
#include "platform/text.h"
#include "util/CBlowfish.h"
#include "util/LittleEndian.h"

namespace {

constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kWorkSize = 4096;
constexpr uint32_t kMinSealedCharacters = 12;
constexpr uint32_t kMaxSealedCharacters = 4096;
constexpr uint32_t kMaxPad = 64;
// The sealed parameter text is formed in a text of this many characters, its NUL included.
constexpr uint32_t kParameterTextCapacity = 1024;

// Zero bytes after the data: nine for every byte that the data lacks of a whole block.
uint32_t PadCount(uint32_t len)
{
    const uint32_t rest = len % 8;
    return rest == 0 ? 0 : 8 - rest;
}

uint32_t PlainLength(uint32_t len)
{
    return kHeaderSize + len + 9 * PadCount(len);
}

// No secret: the key is the decimal digits of the sealed text's length in characters.
void SetSealingKey(CBlowfish& cipher, uint32_t sealedCharacters)
{
    char digits[12];
    const int length = FormatA(digits, sizeof digits, "%u", sealedCharacters);
    cipher.SetKey(reinterpret_cast<const uint8_t*>(digits), static_cast<uint32_t>(length));
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Reads count pairs of hexadecimal digits; false when a pair is not a hexadecimal number.
bool ReadHexBytes(const char* text, uint32_t count, uint8_t* out)
{
    for (uint32_t i = 0; i < count; ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        out[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

}  // namespace

Cdatautil::Cdatautil() = default;

Cdatautil::~Cdatautil() = default;

uint32_t Cdatautil::SealedTextLength(uint32_t len)
{
    return 2 * PlainLength(len);
}

uint32_t Cdatautil::Encode(const void* data, uint32_t len, WCHAR* out)
{
    out[0] = 0;
    if (data == nullptr || len == 0 || len > kMaxDataLength)
        return 0;
    uint32_t crc = 0;
    m_util.Crc32(data, len, &crc, 1);
    const uint32_t total = PlainLength(len);

    uint8_t plain[kWorkSize] = {};
    StoreLittleEndian32(plain, crc);
    StoreLittleEndian32(plain + 4, 9 * PadCount(len));
    std::memcpy(plain + kHeaderSize, data, len);

    CBlowfish cipher;
    SetSealingKey(cipher, 2 * total);
    uint8_t sealed[kWorkSize];
    cipher.EncryptBuffer(plain, sealed, total);

    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    for (uint32_t i = 0; i < total; ++i) {
        out[2 * i] = kDigits[sealed[i] >> 4];
        out[2 * i + 1] = kDigits[sealed[i] & 0x0F];
    }
    out[2 * total] = 0;
    return 1;
}

uint32_t Cdatautil::Decode(const WCHAR* sealed, uint8_t* out, uint32_t* outLen)
{
    *outLen = 0;
    if (sealed == nullptr)
        return 0;
    // The length is checked before anything is copied into the working area.
    const int size =
        WideCharToMultiByte(CP_THREAD_ACP, 0, sealed, -1, nullptr, 0, nullptr, nullptr);
    if (size < 1)
        return 0;
    const uint32_t n = static_cast<uint32_t>(size) - 1;
    if (n < kMinSealedCharacters || n > kMaxSealedCharacters)
        return 0;
    char text[kMaxSealedCharacters + 1];
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, sealed, -1, text, size, nullptr, nullptr) != size)
        return 0;

    // An odd last character is ignored; too short a token cannot hold a header and data.
    const uint32_t m = n / 2;
    if (m < kHeaderSize + 1)
        return 0;
    uint8_t cipherBytes[kMaxSealedCharacters / 2] = {};
    if (!ReadHexBytes(text, m, cipherBytes))
        return 0;

    CBlowfish cipher;
    SetSealingKey(cipher, 2 * m);
    cipher.DecryptBuffer(cipherBytes, out, m);

    const uint32_t crc = LoadLittleEndian32(out);
    const uint32_t pad = LoadLittleEndian32(out + 4);
    std::memmove(out, out + kHeaderSize, m - kHeaderSize);
    if (pad > kMaxPad || pad >= m - kHeaderSize)
        return 0;
    const uint32_t d = m - kHeaderSize - pad;
    out[d] = 0;
    out[d + 1] = 0;

    uint32_t computed = 0;
    m_util.Crc32(out, d, &computed, 1);
    if (computed != crc)
        return 0;
    *outLen = d;
    return 1;
}

uint32_t EncodeParameterText(const WCHAR* text, WCHAR* out)
{
    out[0] = 0;
    if (text == nullptr)
        return 0;
    const size_t characters = lstrlenW(text);
    if (characters == 0 || characters > Cdatautil::kMaxDataLength / 2)
        return 0;
    // Texts whose sealed form would not fit in the caller's 1024 characters are refused.
    const uint32_t len = static_cast<uint32_t>(2 * characters);
    if (Cdatautil::SealedTextLength(len) > kParameterTextCapacity - 1)
        return 0;
    Cdatautil sealer;
    return sealer.Encode(text, len, out);
}

uint32_t DecodeParameterText(const WCHAR* sealed, WCHAR* out)
{
    Cdatautil opener;
    uint32_t length = 0;
    const uint32_t result = opener.Decode(sealed, reinterpret_cast<uint8_t*>(out), &length);
    if (result != 0)
        out[length / 2] = 0;
    return result;
}
