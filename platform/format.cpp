#include "platform/format.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/text.h"

namespace {

// Widths and precisions beyond this are taken as this, so a stray number in a format cannot
// ask for gigabytes of padding.
constexpr int kMaxField = 1 << 16;

struct Spec {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    int width = 0;
    int precision = -1;  // -1: none given
    int bits = 32;       // integer width: Windows reads int and long as 32 bits
};

int64_t SignExtend(uint64_t value, int bits)
{
    if (bits >= 64)
        return static_cast<int64_t>(value);
    uint64_t sign = uint64_t{1} << (bits - 1);
    value &= (sign << 1) - 1;
    return static_cast<int64_t>((value ^ sign) - sign);
}

uint64_t ZeroExtend(uint64_t value, int bits)
{
    return bits >= 64 ? value : value & ((uint64_t{1} << bits) - 1);
}

bool IsInteger(const FormatArg* arg)
{
    return arg != nullptr &&
           (arg->kind() == FormatArg::Kind::Signed || arg->kind() == FormatArg::Kind::Unsigned);
}

// Keeps at most `limit` units of a text, dropping a character that the cut would split.
template <typename Char>
size_t LimitUnits(const Char* text, size_t length, int limit)
{
    if (limit < 0 || static_cast<size_t>(limit) >= length)
        return length;
    auto kept = static_cast<size_t>(limit);
    if constexpr (sizeof(Char) == 1) {
        while (kept > 0 && (static_cast<unsigned char>(text[kept]) & 0xC0) == 0x80)
            --kept;
    } else {
        if (kept > 0 && text[kept - 1] >= 0xD800 && text[kept - 1] <= 0xDBFF)
            --kept;
    }
    return kept;
}

std::string ToOutput(const std::string& text, char)
{
    return text;
}

std::u16string ToOutput(const std::string& text, WCHAR)
{
    return Utf8ToUtf16(text);
}

std::string ToOutput(const std::u16string& text, char)
{
    return Utf16ToUtf8(text);
}

std::u16string ToOutput(const std::u16string& text, WCHAR)
{
    return text;
}

template <typename Char>
std::basic_string<Char> Widen(const std::string& ascii)
{
    return std::basic_string<Char>(ascii.begin(), ascii.end());
}

template <typename Char>
class Formatter {
public:
    Formatter(const FormatArg* args, size_t count) : m_args(args), m_count(count) {}

    std::basic_string<Char> Run(const Char* format)
    {
        if (format == nullptr)
            return m_out;
        const Char* cursor = format;
        while (*cursor != 0) {
            if (*cursor != '%') {
                m_out += *cursor++;
                continue;
            }
            cursor = Conversion(cursor);
        }
        return m_out;
    }

private:
    const FormatArg* Take() { return m_next < m_count ? &m_args[m_next++] : nullptr; }

    // A width or precision: digits, or "*" taken from an integer argument.
    int Number(const Char** cursor, bool* fromArgument)
    {
        *fromArgument = false;
        if (**cursor == '*') {
            ++*cursor;
            *fromArgument = true;
            const FormatArg* arg = Take();
            if (!IsInteger(arg))
                return INT32_MIN;
            int64_t value = SignExtend(arg->asUnsigned(), 32);
            return static_cast<int>(std::clamp<int64_t>(value, -kMaxField, kMaxField));
        }
        int value = 0;
        while (**cursor >= '0' && **cursor <= '9') {
            value = std::min(value * 10 + (**cursor - '0'), kMaxField);
            ++*cursor;
        }
        return value;
    }

    // Parses and prints one conversion starting at '%'; gives where the format goes on.
    const Char* Conversion(const Char* start)
    {
        const Char* cursor = start + 1;
        Spec spec;
        for (;; ++cursor) {
            if (*cursor == '-')
                spec.left = true;
            else if (*cursor == '0')
                spec.zero = true;
            else if (*cursor == '+')
                spec.plus = true;
            else if (*cursor == ' ')
                spec.space = true;
            else if (*cursor == '#')
                spec.alternate = true;
            else
                break;
        }
        bool fromArgument;
        int width = Number(&cursor, &fromArgument);
        if (width != INT32_MIN) {
            spec.left = spec.left || width < 0;
            spec.width = width < 0 ? -width : width;
        }
        if (*cursor == '.') {
            ++cursor;
            int precision = Number(&cursor, &fromArgument);
            spec.precision = precision == INT32_MIN || precision < 0 ? (fromArgument ? -1 : 0)
                                                                     : precision;
        }
        cursor = Length(cursor, &spec);
        Char conversion = *cursor;
        if (conversion == 0)
            return cursor;
        ++cursor;
        switch (conversion) {
        case '%':
            m_out += '%';
            break;
        case 'd':
        case 'i':
            Signed(spec);
            break;
        case 'u':
            Unsigned(spec, 10, false);
            break;
        case 'o':
            Unsigned(spec, 8, false);
            break;
        case 'x':
            Unsigned(spec, 16, false);
            break;
        case 'X':
            Unsigned(spec, 16, true);
            break;
        case 'p':
            Pointer(spec);
            break;
        case 'c':
        case 'C':
            Character(spec);
            break;
        case 's':
        case 'S':
            Text(spec);
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            Floating(spec, static_cast<char>(conversion));
            break;
        default:
            // Not a conversion this formatter knows: shown as written, no argument used.
            m_out.append(start, cursor);
            break;
        }
        return cursor;
    }

    const Char* Length(const Char* cursor, Spec* spec)
    {
        switch (*cursor) {
        case 'h':
            if (cursor[1] == 'h') {
                spec->bits = 8;
                return cursor + 2;
            }
            spec->bits = 16;
            return cursor + 1;
        case 'l':
            if (cursor[1] == 'l') {
                spec->bits = 64;
                return cursor + 2;
            }
            spec->bits = 32;
            return cursor + 1;
        case 'I':
            if (cursor[1] == '6' && cursor[2] == '4') {
                spec->bits = 64;
                return cursor + 3;
            }
            if (cursor[1] == '3' && cursor[2] == '2') {
                spec->bits = 32;
                return cursor + 3;
            }
            spec->bits = 64;  // pointer-sized
            return cursor + 1;
        case 'j':
        case 'z':
        case 't':
            spec->bits = 64;
            return cursor + 1;
        case 'L':
        case 'w':
            return cursor + 1;
        default:
            return cursor;
        }
    }

    // Pads a finished field to its width. Zero padding goes after the sign or prefix.
    void Field(const Spec& spec, const std::basic_string<Char>& prefix,
               const std::basic_string<Char>& body, bool zeroPad)
    {
        size_t length = prefix.size() + body.size();
        size_t padding = static_cast<size_t>(spec.width) > length ? spec.width - length : 0;
        if (spec.left) {
            m_out += prefix;
            m_out += body;
            m_out.append(padding, ' ');
        } else if (zeroPad) {
            m_out += prefix;
            m_out.append(padding, '0');
            m_out += body;
        } else {
            m_out.append(padding, ' ');
            m_out += prefix;
            m_out += body;
        }
    }

    std::basic_string<Char> Digits(uint64_t value, unsigned base, bool upper, int precision)
    {
        const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
        char buffer[64];
        size_t length = 0;
        while (value != 0) {
            buffer[length++] = digits[value % base];
            value /= base;
        }
        std::basic_string<Char> text;
        size_t minimum = precision < 0 ? 1 : static_cast<size_t>(precision);
        if (length < minimum)
            text.append(minimum - length, '0');
        while (length > 0)
            text += static_cast<Char>(buffer[--length]);
        return text;
    }

    void Signed(const Spec& spec)
    {
        const FormatArg* arg = Take();
        if (!IsInteger(arg))
            return;
        int64_t value = SignExtend(arg->asUnsigned(), spec.bits);
        uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
        std::basic_string<Char> sign;
        if (value < 0)
            sign = Widen<Char>("-");
        else if (spec.plus)
            sign = Widen<Char>("+");
        else if (spec.space)
            sign = Widen<Char>(" ");
        Field(spec, sign, Digits(magnitude, 10, false, spec.precision),
              spec.zero && spec.precision < 0);
    }

    void Unsigned(const Spec& spec, unsigned base, bool upper)
    {
        const FormatArg* arg = Take();
        if (!IsInteger(arg))
            return;
        uint64_t value = ZeroExtend(arg->asUnsigned(), spec.bits);
        std::basic_string<Char> digits = Digits(value, base, upper, spec.precision);
        std::basic_string<Char> prefix;
        if (spec.alternate && value != 0 && base == 16)
            prefix = Widen<Char>(upper ? "0X" : "0x");
        else if (spec.alternate && base == 8 && (digits.empty() || digits[0] != '0'))
            prefix = Widen<Char>("0");
        Field(spec, prefix, digits, spec.zero && spec.precision < 0);
    }

    // The address of any pointer or text, or an integer, as 16 upper-case digits.
    void Pointer(const Spec& spec)
    {
        const FormatArg* arg = Take();
        if (arg == nullptr || arg->kind() == FormatArg::Kind::Floating)
            return;
        Field(spec, {}, Digits(arg->asUnsigned(), 16, true, 16), false);
    }

    void Character(const Spec& spec)
    {
        const FormatArg* arg = Take();
        if (!IsInteger(arg))
            return;
        uint64_t value = arg->asUnsigned();
        if (arg->kind() == FormatArg::Kind::Signed && arg->asSigned() < 0)
            value &= 0xFF;  // a char with its high bit set
        if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            value = 0xFFFD;
        WCHAR units[2];
        const size_t count = EncodeUtf16(static_cast<char32_t>(value), units);
        Field(spec, {}, ToOutput(std::u16string(units, count), Char()), spec.zero);
    }

    // A text of either width; the precision limits the units taken from the argument.
    void Text(const Spec& spec)
    {
        const FormatArg* arg = Take();
        if (arg == nullptr)
            return;
        if (arg->kind() == FormatArg::Kind::Narrow) {
            const char* text = arg->narrow() != nullptr ? arg->narrow() : "(null)";
            size_t length = LimitUnits(text, std::strlen(text), spec.precision);
            Field(spec, {}, ToOutput(std::string(text, length), Char()), spec.zero);
        } else if (arg->kind() == FormatArg::Kind::Wide) {
            const WCHAR* text = arg->wide() != nullptr ? arg->wide() : u"(null)";
            size_t length = LimitUnits(text, lstrlenW(text), spec.precision);
            Field(spec, {}, ToOutput(std::u16string(text, length), Char()), spec.zero);
        }
    }

    void Floating(const Spec& spec, char conversion)
    {
        const FormatArg* arg = Take();
        if (arg == nullptr || arg->kind() != FormatArg::Kind::Floating)
            return;
        std::string format = "%";
        if (spec.left)
            format += '-';
        if (spec.zero)
            format += '0';
        if (spec.plus)
            format += '+';
        if (spec.space)
            format += ' ';
        if (spec.alternate)
            format += '#';
        format += "*.*";
        format += conversion;
        double value = arg->asFloating();
        int length = std::snprintf(nullptr, 0, format.c_str(), spec.width, spec.precision, value);
        if (length <= 0)
            return;
        std::string text(static_cast<size_t>(length) + 1, '\0');
        std::snprintf(text.data(), text.size(), format.c_str(), spec.width, spec.precision, value);
        text.resize(static_cast<size_t>(length));
        m_out += Widen<Char>(text);
    }

    const FormatArg* m_args;
    size_t m_count;
    size_t m_next = 0;
    std::basic_string<Char> m_out;
};

template <typename Char>
int FormatBounded(Char* out, size_t capacity, const Char* format, const FormatArg* args,
                  size_t count)
{
    if (out == nullptr || capacity == 0)
        return -1;
    std::basic_string<Char> text = Formatter<Char>(args, count).Run(format);
    if (text.size() < capacity && text.size() <= static_cast<size_t>(INT32_MAX)) {
        std::copy(text.begin(), text.end(), out);
        out[text.size()] = 0;
        return static_cast<int>(text.size());
    }
    size_t kept = LimitUnits(text.data(), text.size(),
                             static_cast<int>(std::min<size_t>(capacity - 1, INT32_MAX)));
    std::copy(text.begin(), text.begin() + static_cast<ptrdiff_t>(kept), out);
    out[kept] = 0;
    return -1;
}

}  // namespace

int64_t FormatArg::asSigned() const
{
    return static_cast<int64_t>(asUnsigned());
}

uint64_t FormatArg::asUnsigned() const
{
    switch (m_kind) {
    case Kind::Signed:
        return static_cast<uint64_t>(m_signed);
    case Kind::Unsigned:
        return m_unsigned;
    case Kind::Floating:
        if (!(m_floating >= -9.2e18 && m_floating <= 1.8e19))
            return 0;
        return m_floating < 0 ? static_cast<uint64_t>(static_cast<int64_t>(m_floating))
                              : static_cast<uint64_t>(m_floating);
    case Kind::Narrow:
        return reinterpret_cast<uintptr_t>(m_narrow);
    case Kind::Wide:
        return reinterpret_cast<uintptr_t>(m_wide);
    case Kind::Pointer:
        return reinterpret_cast<uintptr_t>(m_pointer);
    }
    return 0;
}

int FormatList(WCHAR* out, size_t capacity, const WCHAR* format, const FormatArg* args,
               size_t count)
{
    return FormatBounded(out, capacity, format, args, count);
}

int FormatList(char* out, size_t capacity, const char* format, const FormatArg* args,
               size_t count)
{
    return FormatBounded(out, capacity, format, args, count);
}

std::u16string FormatListString(const WCHAR* format, const FormatArg* args, size_t count)
{
    return Formatter<WCHAR>(args, count).Run(format);
}

std::string FormatListString(const char* format, const FormatArg* args, size_t count)
{
    return Formatter<char>(args, count).Run(format);
}
