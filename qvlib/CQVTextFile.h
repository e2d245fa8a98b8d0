// A UTF-16LE text file that begins with the byte-order mark U+FEFF.
#pragma once

#include <cstdint>

#include "qvlib/CQVFile.h"

class CQVTextFile : public CQVFile {
public:
    CQVTextFile();
    ~CQVTextFile() override;

    // Reads two bytes at the current position: the mark sets the UTF-16 flag and stays read;
    // anything else clears the flag and goes back to the start. Always 1.
    uint32_t ReadBom();
    // Opens or creates the file for reading and writing and appends the mark.
    uint32_t OpenForAppend();
    // Appends the text's code units up to its NUL; byteCount is only tested for 0.
    uint32_t Write(const char16_t* text, uint32_t byteCount);

    bool IsUnicode() const { return m_unicode != 0; }

private:
    uint32_t m_unicode;
};
