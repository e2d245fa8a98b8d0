#include "qvlib/CQVLogScope.h"

#include "platform/sync.h"
#include "qvlib/CQVLog.h"

std::u16string NarrowToWide(const char* text)
{
    std::u16string wide;
    if (text == nullptr)
        return wide;
    for (const char* byte = text; *byte != '\0'; ++byte)
        wide += static_cast<char16_t>(static_cast<int16_t>(static_cast<signed char>(*byte)));
    return wide;
}

CQVLogScope::CQVLogScope(const char16_t* functionName, const char16_t* sourceName,
                         const char16_t* entryLine)
    : m_log(&CQVLog::GetInstance()),
      m_functionName(functionName),
      m_sourceName(sourceName),
      m_entryLine(entryLine),
      m_errorFile(nullptr),
      m_errorFunction(nullptr),
      m_errorLine(0),
      m_exitLine(nullptr),
      m_errorCode(0),
      m_skip(false)
{
}

CQVLogScope::~CQVLogScope()
{
    // The exit line is written on every way out of a call, the host's cancellation of the
    // thread included; writing is a cancellation point that a destructor must not act on.
    CancellationHold hold;
    if (!m_skip && m_log->IsInitialized())
        m_log->Leave(*this);
}

void CQVLogScope::SetError(const char16_t* file, const char16_t* function, uint32_t line,
                           uint32_t code)
{
    m_errorFile = file;
    m_errorFunction = function;
    m_errorLine = line;
    m_errorCode = code;
}

template <typename T>
void CQVLogScope::WriteVar(const char16_t* name, const T& value)
{
    if (m_skip || !m_log->LevelIncludes(CQVLog::kLevelVariables))
        return;
    m_lineStream << name << u" = " << value;
    m_log->Log(m_lineStream, u"var: ");
}

void CQVLogScope::LogVar(const char16_t* name, const char* value)
{
    if (value == nullptr)
        WriteVar(name, u"nullptr");
    else
        WriteVar(name, NarrowToWide(value));
}

void CQVLogScope::LogVar(const char16_t* name, const char16_t* value)
{
    WriteVar(name, value != nullptr ? value : u"nullptr");
}

void CQVLogScope::LogVar(const char16_t* name, uint32_t value) { WriteVar(name, value); }
void CQVLogScope::LogVar(const char16_t* name, int32_t value) { WriteVar(name, value); }
void CQVLogScope::LogVar(const char16_t* name, uint16_t value) { WriteVar(name, value); }
void CQVLogScope::LogVar(const char16_t* name, bool value) { WriteVar(name, value); }
void CQVLogScope::LogVar(const char16_t* name, int64_t value) { WriteVar(name, value); }
void CQVLogScope::LogVar(const char16_t* name, uint64_t value) { WriteVar(name, value); }
void CQVLogScope::LogVar(const char16_t* name, char16_t value) { WriteVar(name, value); }

void CQVLogScope::LogVar(uint32_t proxyPort) { LogVar(u"ProxyPort", proxyPort); }
void CQVLogScope::LogVar(uint16_t version) { LogVar(u"Data.wVersion", version); }
void CQVLogScope::LogVar(bool isAuthenticated) { LogVar(u"isAuthenticated", isAuthenticated); }
void CQVLogScope::LogVar(char16_t reason) { LogVar(u"(wchar_t)*&reason[0]", reason); }

// A skipped scope records nothing; its result ends the quiet period that its entry began.
bool CQVLogScope::ResultWanted()
{
    if (m_skip) {
        m_log->SetLevel(CQVLog::kLevelVariables);
        return false;
    }
    return m_log->LevelIncludes(CQVLog::kLevelCalls);
}

void CQVLogScope::RecordResult(const std::u16string& text)
{
    if (!m_resultStream)
        m_resultStream = std::make_unique<QVWideStream>();
    *m_resultStream << text << u"\r\n" << m_log->GetTimePrefix();
}

void CQVLogScope::RecordPointer(const void* value)
{
    if (ResultWanted())
        RecordResult(QVHexText(reinterpret_cast<uintptr_t>(value), true, sizeof(void*) * 2));
}

int32_t CQVLogScope::LogResult(int32_t value)
{
    if (ResultWanted())
        RecordResult(QVHexText(static_cast<uint32_t>(value), false, 0));
    return value;
}

uint32_t CQVLogScope::LogResult(uint32_t value)
{
    if (ResultWanted())
        RecordResult(QVHexText(value, false, 0));
    return value;
}

bool CQVLogScope::LogResult(bool value)
{
    if (ResultWanted())
        RecordResult(value ? u"1" : u"0");
    return value;
}

std::nullptr_t CQVLogScope::LogResult(std::nullptr_t value)
{
    RecordPointer(value);
    return value;
}

void CQVLogScope::LogWarning()
{
    if (!m_skip && m_log->LevelIncludes(CQVLog::kLevelWarnings))
        m_log->Log(m_lineStream, u"!Warning: ");
}

void CQVLogScope::LogInfo()
{
    if (!m_skip && m_log->LevelIncludes(CQVLog::kLevelInformation))
        m_log->Log(m_lineStream, u"");
}

void CQVLogScope::LogError()
{
    if (m_log->LevelIncludes(CQVLog::kLevelErrors))
        m_log->LogError(m_lineStream, m_errorFile, m_errorFunction, m_errorLine, m_errorCode);
}
