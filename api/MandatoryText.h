// The test of the texts that an export cannot work without: a text is missing when it is
// NULL or holds nothing but white space.
#pragma once

// True when the text is NULL or empty once white space (as the current global locale
// classifies it) is trimmed from both ends. Traced; the caller's text is not changed.
bool STRING_ISNULLOREMPTY(const char16_t* text);
bool STRING_ISNULLOREMPTY(const char* text);

// True when one of the texts is missing; tests them in order and stops at the first.
template <typename... Texts>
bool AnyNullOrEmpty(const Texts*... texts)
{
    return (STRING_ISNULLOREMPTY(texts) || ...);
}
