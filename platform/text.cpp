#include "platform/text.h"

#include <cstring>

#include "platform/error.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kInvalid = 0xFFFFFFFF;

bool IsUtf8CodePage(UINT codePage)
{
    return codePage == CP_ACP || codePage == CP_THREAD_ACP || codePage == CP_UTF8;
}

// Decodes one character at text[*index] and moves the index past it. An ill-formed
// sequence gives kInvalid and moves past its maximal well-formed prefix (at least one
// byte), so each broken sequence becomes exactly one replacement character.
char32_t DecodeUtf8(const unsigned char* text, size_t length, size_t* index)
{
    unsigned char lead = text[*index];
    ++*index;
    if (lead < 0x80)
        return lead;
    size_t trailing;
    char32_t value;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2;
        value = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;  // no overlong forms
        else if (lead == 0xED)
            high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3;
        value = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;  // nothing above U+10FFFF
    } else {
        return kInvalid;
    }
    for (size_t n = 0; n < trailing; ++n) {
        if (*index >= length)
            return kInvalid;
        unsigned char byte = text[*index];
        if (byte < low || byte > high)
            return kInvalid;
        low = 0x80;
        high = 0xBF;
        value = (value << 6) | (byte & 0x3F);
        ++*index;
    }
    return value;
}

// Decodes one character of UTF-16; an unpaired surrogate gives kInvalid.
char32_t DecodeUtf16(const WCHAR* text, size_t length, size_t* index)
{
    char32_t unit = text[*index];
    ++*index;
    if (unit < 0xD800 || unit > 0xDFFF)
        return unit;
    if (unit >= 0xDC00 || *index >= length)
        return kInvalid;
    char32_t next = text[*index];
    if (next < 0xDC00 || next > 0xDFFF)
        return kInvalid;
    ++*index;
    return 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
}

size_t EncodeUtf8(char32_t value, char* out)
{
    if (value < 0x80) {
        out[0] = static_cast<char>(value);
        return 1;
    }
    if (value < 0x800) {
        out[0] = static_cast<char>(0xC0 | (value >> 6));
        out[1] = static_cast<char>(0x80 | (value & 0x3F));
        return 2;
    }
    if (value < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (value >> 12));
        out[1] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (value & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (value >> 18));
    out[1] = static_cast<char>(0x80 | ((value >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (value & 0x3F));
    return 4;
}

// Converts text[0..length) character by character, calling emit(encoded units, count) for
// each. Gives false at the first invalid character when strict, else replaces it.
template <typename In, typename Out, typename Decode, typename Encode, typename Emit>
bool Transcode(const In* text, size_t length, bool strict, Decode decode, Encode encode,
               Emit emit)
{
    size_t index = 0;
    Out units[4];
    while (index < length) {
        char32_t value = decode(text, length, &index);
        if (value == kInvalid) {
            if (strict)
                return false;
            value = kReplacement;
        }
        emit(units, encode(value, units));
    }
    return true;
}

bool Utf8ToUtf16Units(const char* text, size_t length, bool strict, std::u16string* out)
{
    return Transcode<unsigned char, WCHAR>(
        reinterpret_cast<const unsigned char*>(text), length, strict, DecodeUtf8, EncodeUtf16,
        [out](const WCHAR* units, size_t count) { out->append(units, count); });
}

bool Utf16ToUtf8Units(const WCHAR* text, size_t length, bool strict, std::string* out)
{
    // Paths and names are mostly ASCII, which is copied unit for unit; from the first other
    // unit on the text is transcoded.
    size_t ascii = 0;
    while (ascii < length && text[ascii] < 0x80)
        ++ascii;
    out->reserve(out->size() + length);
    out->append(text, text + ascii);
    return Transcode<WCHAR, char>(text + ascii, length - ascii, strict, DecodeUtf16, EncodeUtf8,
                                  [out](const char* units, size_t count) {
                                      out->append(units, count);
                                  });
}

// The shared tail of both conversions: capacity 0 asks for the size, a too small buffer
// fails without writing anything.
template <typename Char>
int DeliverConverted(const std::basic_string<Char>& converted, Char* out, int capacity)
{
    if (converted.size() > static_cast<size_t>(INT32_MAX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int needed = static_cast<int>(converted.size());
    if (capacity == 0)
        return needed;
    if (needed > capacity) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(out, converted.data(), converted.size() * sizeof(Char));
    return needed;
}

}  // namespace

size_t EncodeUtf16(char32_t value, WCHAR* out)
{
    if (value < 0x10000) {
        out[0] = static_cast<WCHAR>(value);
        return 1;
    }
    value -= 0x10000;
    out[0] = static_cast<WCHAR>(0xD800 + (value >> 10));
    out[1] = static_cast<WCHAR>(0xDC00 + (value & 0x3FF));
    return 2;
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR out,
                        int capacity)
{
    if (!IsUtf8CodePage(codePage) || text == nullptr || length == 0 || length < -1 ||
        capacity < 0 || (capacity > 0 && out == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((flags & ~MB_ERR_INVALID_CHARS) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    size_t count = length == -1 ? std::strlen(text) + 1 : static_cast<size_t>(length);
    std::u16string converted;
    if (!Utf8ToUtf16Units(text, count, (flags & MB_ERR_INVALID_CHARS) != 0, &converted)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return DeliverConverted(converted, out, capacity);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR out,
                        int capacity, LPCSTR defaultChar, BOOL* usedDefaultChar)
{
    // UTF-8 has no default character: Windows refuses both arguments for it.
    if (!IsUtf8CodePage(codePage) || text == nullptr || length == 0 || length < -1 ||
        capacity < 0 || (capacity > 0 && out == nullptr) || defaultChar != nullptr ||
        usedDefaultChar != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if ((flags & ~WC_ERR_INVALID_CHARS) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    size_t count = length == -1 ? lstrlenW(text) + 1 : static_cast<size_t>(length);
    std::string converted;
    if (!Utf16ToUtf8Units(text, count, (flags & WC_ERR_INVALID_CHARS) != 0, &converted)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return DeliverConverted(converted, out, capacity);
}

std::u16string Utf8ToUtf16(const std::string& text)
{
    std::u16string converted;
    Utf8ToUtf16Units(text.data(), text.size(), false, &converted);
    return converted;
}

std::string Utf16ToUtf8(const std::u16string& text)
{
    std::string converted;
    Utf16ToUtf8Units(text.data(), text.size(), false, &converted);
    return converted;
}

size_t lstrlenW(LPCWSTR text)
{
    if (text == nullptr)
        return 0;
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

LPWSTR lstrcpynW(LPWSTR destination, LPCWSTR source, int capacity)
{
    if (destination == nullptr || source == nullptr)
        return nullptr;
    if (capacity <= 0)
        return destination;
    int index = 0;
    for (; index < capacity - 1 && source[index] != 0; ++index)
        destination[index] = source[index];
    destination[index] = 0;
    return destination;
}

int lstrcmpiW(LPCWSTR first, LPCWSTR second)
{
    if (first == nullptr || second == nullptr)
        return first == second ? 0 : (first == nullptr ? -1 : 1);
    auto fold = [](WCHAR c) -> WCHAR { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; };
    for (size_t index = 0;; ++index) {
        WCHAR a = fold(first[index]);
        WCHAR b = fold(second[index]);
        if (a != b)
            return a < b ? -1 : 1;
        if (a == 0)
            return 0;
    }
}
