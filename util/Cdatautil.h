// Sealed texts: data prefixed with its CRC-32 and a pad field, padded, enciphered with
// Blowfish under a key that follows from the sealed length, and written as hexadecimal.
// Opening reverses this and accepts the token only when the CRC-32 matches.
#pragma once

#include <cstdint>

#include "platform/types.h"
#include "util/Cutil.h"

class Cdatautil {
public:
    // Largest data that can be sealed, in bytes.
    static constexpr uint32_t kMaxDataLength = 2048;

    Cdatautil();
    ~Cdatautil();

    // Seals len bytes into out, which needs SealedTextLength(len) + 1 characters (at most
    // 4225). Gives 1, or 0 with an empty out when len is 0 or over kMaxDataLength.
    uint32_t Encode(const void* data, uint32_t len, WCHAR* out);
    // Opens a sealed text into out, which needs room for 2048 bytes; *outLen is the data
    // length in bytes, 0 when the text is refused.
    uint32_t Decode(const WCHAR* sealed, uint8_t* out, uint32_t* outLen);

    // The number of characters of the sealed text of len data bytes.
    static uint32_t SealedTextLength(uint32_t len);

private:
    Cutil m_util;
};

// Seals the UTF-16 bytes of a text; out receives at most 1024 characters, its NUL included.
uint32_t EncodeParameterText(const WCHAR* text, WCHAR* out);
// Opens a sealed text into out (at most 2048 bytes) as a NUL-terminated UTF-16 text.
uint32_t DecodeParameterText(const WCHAR* sealed, WCHAR* out);
