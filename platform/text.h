// Conversion between 8-bit code pages and UTF-16. The ANSI and thread code pages are UTF-8.
#pragma once

#include <string>

#include "platform/types.h"

#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_ERR_INVALID_CHARS 0x00000080u

// Length -1 converts up to and including the terminator. Capacity 0 asks for the size
// needed. Invalid input is replaced by U+FFFD unless the *_ERR_INVALID_CHARS flag asks for a
// failure (ERROR_NO_UNICODE_TRANSLATION); a too small buffer fails with
// ERROR_INSUFFICIENT_BUFFER.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR out,
                        int capacity);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR text, int length, LPSTR out,
                        int capacity, LPCSTR defaultChar, BOOL* usedDefaultChar);

// Conveniences for code outside the specified conversions (paths, tests, tools).
std::u16string Utf8ToUtf16(const std::string& text);
std::string Utf16ToUtf8(const std::u16string& text);

// Writes the UTF-16 form of a code point up to U+10FFFF that is no surrogate into out (room
// for 2 units); gives the number of units written.
size_t EncodeUtf16(char32_t value, WCHAR* out);

// Length of a NUL-terminated UTF-16 text.
size_t lstrlenW(LPCWSTR text);

// Copies at most capacity - 1 characters and a terminator; gives the destination (null when
// either text is null). A capacity of 0 or less copies nothing.
LPWSTR lstrcpynW(LPWSTR destination, LPCWSTR source, int capacity);

// Compares two texts ignoring the case of ASCII letters: negative, 0 or positive.
int lstrcmpiW(LPCWSTR first, LPCWSTR second);
