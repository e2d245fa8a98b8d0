#include "host/StepValues.h"

#include <cstdlib>

#include "platform/text.h"

uint64_t ParseNumber(const char* text)
{
    bool hexadecimal = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    return std::strtoull(text, nullptr, hexadecimal ? 16 : 10);
}

uint32_t Low(uint64_t code)
{
    return static_cast<uint32_t>(code);
}

uint32_t High(uint64_t code)
{
    return static_cast<uint32_t>(code >> 32);
}

std::u16string Wide(const char* text)
{
    return Utf8ToUtf16(text);
}

std::string Narrow(const char16_t* text)
{
    return Utf16ToUtf8(text);
}
