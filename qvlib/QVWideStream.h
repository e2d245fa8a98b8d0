// A growing UTF-16 text that trace lines are composed in: texts and characters are appended
// as they are, integers in decimal and booleans as 1 or 0.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <type_traits>

class QVWideStream {
public:
    QVWideStream& operator<<(const char16_t* text);
    QVWideStream& operator<<(const std::u16string& text);
    QVWideStream& operator<<(char16_t character);
    QVWideStream& operator<<(bool value);

    template <std::integral T>
        requires(!std::is_same_v<T, bool> && !std::is_same_v<T, char16_t> &&
                 !std::is_same_v<T, char>)
    QVWideStream& operator<<(T value)
    {
        if constexpr (std::is_signed_v<T>)
            AppendSigned(value);
        else
            AppendUnsigned(value);
        return *this;
    }

    const std::u16string& str() const { return m_text; }
    bool empty() const { return m_text.empty(); }
    // Hands the text over and leaves the stream empty.
    std::u16string Take();
    void Clear() { m_text.clear(); }

private:
    void AppendSigned(int64_t value);
    void AppendUnsigned(uint64_t value);

    std::u16string m_text;
};

// The value in hexadecimal digits, upper case when asked, zero-padded to minDigits.
std::u16string QVHexText(uint64_t value, bool upperCase, size_t minDigits);
