#include "qvlib/CQVError.h"

#include "platform/error.h"
#include "platform/message.h"
#include "platform/module.h"

namespace {
constexpr uint32_t kModuleErrorBit = 0x10000000;
constexpr DWORD kUserDefaultLanguage = 0x400;
constexpr int kTextCapacity = 260;
}  // namespace

CQVError::CQVError() : m_message(u"OK"), m_code(0) {}

CQVError::~CQVError() = default;

void CQVError::SetCode(uint32_t code)
{
    m_code = code;
    SetLastError(code);
}

CQVString CQVError::GetErrorText() const
{
    char16_t buffer[kTextCapacity] = {};
    if ((m_code & kModuleErrorBit) != 0) {
        HMODULE module = GetModuleHandleW(u"CQVError.dll");
        LoadStringW(module, m_code - kModuleErrorBit, buffer, kTextCapacity);
    } else {
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, m_code,
                       kUserDefaultLanguage, buffer, kTextCapacity, nullptr);
    }
    return CQVString(buffer);
}
