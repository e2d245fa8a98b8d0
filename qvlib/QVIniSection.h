// An INI section: its lines in file order and its name as first written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qvlib/QVIniValue.h"

class QVIniSection : public std::vector<QVIniValue> {
public:
    QVIniSection() = default;
    virtual ~QVIniSection();

    // Index of the first line whose key equals key, ignoring the case of ASCII letters; -1 when
    // there is none.
    int32_t FindValue(const char16_t* key) const;

    const std::u16string& GetName() const { return m_name; }
    void SetName(const std::u16string& name) { m_name = name; }

private:
    std::u16string m_name;
};
