#include "qvlib/QVIniSection.h"

#include "platform/text.h"

QVIniSection::~QVIniSection() = default;

int32_t QVIniSection::FindValue(const char16_t* key) const
{
    if (key == nullptr)
        return -1;
    for (size_t index = 0; index < size(); ++index) {
        if (lstrcmpiW((*this)[index].GetName().c_str(), key) == 0)
            return static_cast<int32_t>(index);
    }
    return -1;
}
