#include "qvlib/QVWideStream.h"

#include <cctype>
#include <charconv>

QVWideStream& QVWideStream::operator<<(const char16_t* text)
{
    if (text != nullptr)
        m_text += text;
    return *this;
}

QVWideStream& QVWideStream::operator<<(const std::u16string& text)
{
    m_text += text;
    return *this;
}

QVWideStream& QVWideStream::operator<<(char16_t character)
{
    m_text += character;
    return *this;
}

QVWideStream& QVWideStream::operator<<(bool value)
{
    m_text += value ? u'1' : u'0';
    return *this;
}

std::u16string QVWideStream::Take()
{
    std::u16string text;
    text.swap(m_text);
    return text;
}

void QVWideStream::AppendSigned(int64_t value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    m_text.append(digits, end);
}

void QVWideStream::AppendUnsigned(uint64_t value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    m_text.append(digits, end);
}

std::u16string QVHexText(uint64_t value, bool upperCase, size_t minDigits)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    std::u16string text;
    const size_t count = static_cast<size_t>(end - digits);
    if (count < minDigits)
        text.assign(minDigits - count, u'0');
    for (const char* digit = digits; digit != end; ++digit)
        text += static_cast<char16_t>(upperCase ? std::toupper(*digit) : *digit);
    return text;
}
