// Reads the fields of a reply payload at a running offset. Replies come from the network, so
// every read is checked against the payload's length: a field that would run past the end
// is refused and the offset stays where it was.
#pragma once

#include "platform/types.h"

class ReplyReader {
public:
    // A counted narrow text inside the payload.
    struct Text {
        const BYTE* data = nullptr;
        DWORD count = 0;
        // Copies the text and a terminator into out, which holds count + 1 bytes.
        void CopyTo(char* out) const;
    };

    ReplyReader(const void* payload, DWORD length, DWORD offset = 0);

    bool U32(DWORD* value);
    bool U64(ULONGLONG* value);
    // A u32 byte count and the bytes after it; data points into the payload.
    bool Counted(const BYTE** data, DWORD* count);
    // A counted narrow text that fits a buffer of capacity bytes with its terminator.
    bool Narrow(Text* text, DWORD capacity);
    // A reply string: a u32 byte count and that many bytes of UTF-16LE text, copied into out
    // (capacity code units) with a terminator. A count that runs past the reply, is odd, or
    // leaves no room for the terminator is refused, with out untouched.
    bool Utf16(WCHAR* out, DWORD capacity);
    bool Skip(DWORD count);
    DWORD Offset() const { return m_offset; }

private:
    bool Has(ULONGLONG count) const { return m_offset + count <= m_length; }

    const BYTE* m_payload;
    DWORD m_length;
    DWORD m_offset;
};
