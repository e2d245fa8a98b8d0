#include "api/ExportFrame.h"

#include <exception>
#include <string>

#include "platform/error.h"
#include "qvlib/CQVLog.h"

ExportFrame::ExportFrame(const char16_t* function, const char16_t* entryLine)
    : m_function(function), m_entryLine(entryLine), m_scope(function, kSourceName, entryLine)
{
    m_scope.GetLog().Enter(m_scope);
}

void ExportFrame::Error(uint32_t line, const char16_t* message)
{
    m_scope.SetError(kSourceName, m_function, line, GetLastError());
    m_scope.LineStream() << message;
    m_scope.LogError();
}

void ExportFrame::Warning(const char16_t* message)
{
    m_scope.LineStream() << message;
    m_scope.LogWarning();
}

void ExportFrame::Info(const char16_t* message)
{
    m_scope.LineStream() << message;
    m_scope.LogInfo();
}

void ExportFrame::ReportException()
{
    std::u16string what = u"unknown exception";
    try {
        throw;
    } catch (const std::exception& exception) {
        what = NarrowToWide(exception.what());
    } catch (...) {
    }
    uint32_t line = 0;
    for (const char16_t* digit = m_entryLine; *digit >= u'0' && *digit <= u'9'; ++digit)
        line = line * 10 + static_cast<uint32_t>(*digit - u'0');
    m_scope.SetError(kSourceName, m_function, line, GetLastError());
    m_scope.LineStream() << u"Unexpected failure: " << what;
    m_scope.LogError();
}
