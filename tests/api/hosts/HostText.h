/* Texts of the C test hosts. */
#ifndef HOST_TEXT_H
#define HOST_TEXT_H

#include <stdbool.h>
#include <stddef.h>
#include <uchar.h>

enum { kHostTextSize = 256 };

/* Copies an ASCII argument into the UTF-16 text of kHostTextSize units that the library
 * takes; false when it does not fit. */
static inline bool WidenAscii(const char* text, char16_t* out)
{
    size_t length = 0;
    for (; text[length] != '\0'; ++length) {
        if (length + 1 == kHostTextSize)
            return false;
        out[length] = (unsigned char)text[length];
    }
    out[length] = u'\0';
    return true;
}

#endif
