// One line of an INI section: a key and its value as written, or a comment (key ";").
#pragma once

#include <cstdint>
#include <string>

class QVIniValue {
public:
    QVIniValue() = default;
    QVIniValue(const QVIniValue& other);
    QVIniValue& operator=(const QVIniValue& other) = default;
    virtual ~QVIniValue();

    // 0, or E_INVALIDARG for a null text.
    int32_t SetName(const char16_t* name);
    int32_t SetValue(const char16_t* value);

    const std::u16string& GetName() const { return m_name; }
    const std::u16string& GetValue() const { return m_value; }

private:
    std::u16string m_name;
    std::u16string m_value;
};
