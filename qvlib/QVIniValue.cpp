#include "qvlib/QVIniValue.h"

#include "platform/types.h"

QVIniValue::QVIniValue(const QVIniValue& other) : m_name(other.m_name), m_value(other.m_value) {}

QVIniValue::~QVIniValue() = default;

int32_t QVIniValue::SetName(const char16_t* name)
{
    if (name == nullptr)
        return E_INVALIDARG;
    m_name = name;
    return 0;
}

int32_t QVIniValue::SetValue(const char16_t* value)
{
    if (value == nullptr)
        return E_INVALIDARG;
    m_value = value;
    return 0;
}
