// Bounded printf-style formatting for UTF-16 and 8-bit texts with Windows' conventions:
// %ld/%lu/%d/%u are 32-bit, %I64d/%I64u/%lld/%llu 64-bit, %x/%X hexadecimal, %p a pointer
// (16 digits), %c a character, %s/%S a text. The argument's own type decides a text's
// width (char or char16_t), so %s and %S never misread an argument. Flags "-0+ #", width,
// precision and "*" are understood. Arguments are checked at run time: a missing or
// mismatched argument prints as an empty field instead of reading past the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "platform/types.h"

class FormatArg {
public:
    enum class Kind { Signed, Unsigned, Floating, Narrow, Wide, Pointer };

    template <typename T>
        requires std::is_integral_v<T> || std::is_enum_v<T>
    FormatArg(T value)
    {
        if constexpr (std::is_enum_v<T>) {
            m_kind = Kind::Signed;
            m_signed = static_cast<int64_t>(value);
        } else if constexpr (std::is_signed_v<T>) {
            m_kind = Kind::Signed;
            m_signed = value;
        } else {
            m_kind = Kind::Unsigned;
            m_unsigned = value;
        }
    }
    FormatArg(double value) : m_kind(Kind::Floating), m_floating(value) {}
    FormatArg(const char* text) : m_kind(Kind::Narrow), m_narrow(text) {}
    FormatArg(const WCHAR* text) : m_kind(Kind::Wide), m_wide(text) {}
    FormatArg(const std::string& text) : m_kind(Kind::Narrow), m_narrow(text.c_str()) {}
    FormatArg(const std::u16string& text) : m_kind(Kind::Wide), m_wide(text.c_str()) {}
    FormatArg(const void* pointer) : m_kind(Kind::Pointer), m_pointer(pointer) {}
    FormatArg(std::nullptr_t) : m_kind(Kind::Pointer), m_pointer(nullptr) {}

    Kind kind() const { return m_kind; }
    int64_t asSigned() const;
    uint64_t asUnsigned() const;
    double asFloating() const { return m_floating; }
    const char* narrow() const { return m_narrow; }
    const WCHAR* wide() const { return m_wide; }
    const void* pointer() const { return m_pointer; }

private:
    Kind m_kind;
    union {
        int64_t m_signed;
        uint64_t m_unsigned;
        double m_floating;
        const char* m_narrow;
        const WCHAR* m_wide;
        const void* m_pointer;
    };
};

// Write at most capacity - 1 characters and a terminator. Give the number of characters
// written, or -1 when the text was cut to fit (it is still terminated); capacity 0 writes
// nothing and gives -1.
int FormatList(WCHAR* out, size_t capacity, const WCHAR* format, const FormatArg* args,
               size_t count);
int FormatList(char* out, size_t capacity, const char* format, const FormatArg* args,
               size_t count);
std::u16string FormatListString(const WCHAR* format, const FormatArg* args, size_t count);
std::string FormatListString(const char* format, const FormatArg* args, size_t count);

template <typename... Args>
int FormatW(WCHAR* out, size_t capacity, const WCHAR* format, const Args&... args)
{
    const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
    return FormatList(out, capacity, format, list, sizeof...(Args));
}

template <typename... Args>
int FormatA(char* out, size_t capacity, const char* format, const Args&... args)
{
    const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
    return FormatList(out, capacity, format, list, sizeof...(Args));
}

template <typename... Args>
std::u16string FormatString(const WCHAR* format, const Args&... args)
{
    const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
    return FormatListString(format, list, sizeof...(Args));
}

template <typename... Args>
std::string FormatString(const char* format, const Args&... args)
{
    const FormatArg list[] = {FormatArg(args)..., FormatArg(0)};
    return FormatListString(format, list, sizeof...(Args));
}
