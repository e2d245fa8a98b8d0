#include "api/MandatoryText.h"

#include <algorithm>
#include <cctype>
#include <cwctype>
#include <string_view>

#include "api/ExportFrame.h"

namespace {

bool IsSpace(char16_t character)
{
    return std::iswspace(static_cast<wint_t>(character)) != 0;
}

bool IsSpace(char character)
{
    return std::isspace(static_cast<unsigned char>(character)) != 0;
}

// Trimming both ends leaves nothing exactly when every character is white space.
template <typename Char>
bool IsNullOrBlank(const Char* text)
{
    if (text == nullptr)
        return true;
    std::basic_string_view<Char> view(text);
    return std::all_of(view.begin(), view.end(), [](Char character) { return IsSpace(character); });
}

} // namespace

bool STRING_ISNULLOREMPTY(const char16_t* text)
{
    ExportFrame frame(u"STRING_ISNULLOREMPTY", u"94");
    return frame.Return(u"110", IsNullOrBlank(text));
}

bool STRING_ISNULLOREMPTY(const char* text)
{
    ExportFrame frame(u"STRING_ISNULLOREMPTY", u"115");
    return frame.Return(u"131", IsNullOrBlank(text));
}
