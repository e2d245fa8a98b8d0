// A read-only INI file in memory: sections found by name without regard to case, keys by name
// without regard to the case of ASCII letters, the first occurrence of a key winning.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "qvlib/QVIniSection.h"

class CQVIni : public std::unordered_map<std::u16string, QVIniSection*> {
public:
    CQVIni();
    virtual ~CQVIni();
    CQVIni(const CQVIni&) = delete;
    CQVIni& operator=(const CQVIni&) = delete;

    // 0 when the file cannot be opened, else 1 (also for an empty or unparsable file).
    uint32_t Load(const char16_t* path);
    uint32_t SectionExists(const char16_t* section) const;
    // 1 and the value in out when the key exists, else 0 and out untouched.
    uint32_t GetString(const char16_t* section, const char16_t* key, std::u16string& out) const;
    // 1 whenever the key exists; out changes only when the value starts with a number (for a
    // bool: the number 0 or 1).
    uint32_t GetInt(const char16_t* section, const char16_t* key, int32_t* out) const;
    uint32_t GetBool(const char16_t* section, const char16_t* key, bool* out) const;

    // The file's text: UTF-16LE after the mark FF FE, else 8-bit text (UTF-8 when valid, else
    // one character per byte); 0 or E_INVALIDARG.
    static int32_t ReadFile(const char16_t* path, std::u16string& text);
    void Clear();
    uint32_t AddSection(const char16_t* name);
    uint32_t AddValue(const char16_t* section, const char16_t* key, const char16_t* value);
    QVIniSection* FindSection(const char16_t* name) const;
    void InsertSection(const char16_t* name, QVIniSection* section);

private:
    void ParseLine(std::u16string line, std::u16string& currentSection);
};
