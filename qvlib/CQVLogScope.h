// The trace of one call, kept on the traced function's stack: it names the call, composes its
// variable, warning, information and error lines, records its results and writes the exit
// line when it goes out of scope. Its writers test the log's level bits and the skip flag.
//
// A traced function runs:
//     CQVLogScope scope(u"OpenChannel", u"Kelvane", u"265");
//     scope.GetLog().Enter(scope);
//     scope.LogVar(u"UserName", userName);
//     ...
//     scope.SetError(u"Kelvane", u"OpenChannel", 78, GetLastError());
//     scope.LineStream() << u"Connect has failed.";
//     scope.LogError();
//     ...
//     scope.SetExitLine(u"331");
//     return scope.LogResult(result);
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "qvlib/QVWideStream.h"

class CQVLog;

// 8-bit text to UTF-16, one unit per byte by sign extension: 0x80-0xFF become U+FF80-U+FFFF.
std::u16string NarrowToWide(const char* text);

class CQVLogScope {
public:
    // The texts are constants of the traced function and must outlive the scope.
    CQVLogScope(const char16_t* functionName, const char16_t* sourceName,
                const char16_t* entryLine);
    ~CQVLogScope();
    CQVLogScope(const CQVLogScope&) = delete;
    CQVLogScope& operator=(const CQVLogScope&) = delete;

    CQVLog& GetLog() const { return *m_log; }
    // The text of the next variable, warning, information or error line.
    QVWideStream& LineStream() { return m_lineStream; }
    // Text written as it is in front of the exit line.
    QVWideStream& PendingText() { return m_pendingText; }
    bool IsSkipped() const { return m_skip; }

    void SetExitLine(const char16_t* line) { m_exitLine = line; }
    // Place and code of the next error line.
    void SetError(const char16_t* file, const char16_t* function, uint32_t line, uint32_t code);

    // "var: " lines: name = value; null texts are written as nullptr.
    void LogVar(const char16_t* name, const char* value);
    void LogVar(const char16_t* name, const char16_t* value);
    void LogVar(const char16_t* name, uint32_t value);
    void LogVar(const char16_t* name, int32_t value);
    void LogVar(const char16_t* name, uint16_t value);
    void LogVar(const char16_t* name, bool value);
    void LogVar(const char16_t* name, int64_t value);
    void LogVar(const char16_t* name, uint64_t value);
    void LogVar(const char16_t* name, char16_t value);
    // The same with the names that the exported functions use for these values.
    void LogVar(uint32_t proxyPort);
    void LogVar(uint16_t version);
    void LogVar(bool isAuthenticated);
    void LogVar(char16_t reason);

    // Record a result for the exit line and give it back unchanged.
    int32_t LogResult(int32_t value);
    uint32_t LogResult(uint32_t value);
    bool LogResult(bool value);
    std::nullptr_t LogResult(std::nullptr_t value);
    template <typename T>
    T* LogResult(T* value)
    {
        RecordPointer(value);
        return value;
    }

    void LogWarning();
    void LogInfo();
    void LogError();

private:
    friend class CQVLog;

    template <typename T>
    void WriteVar(const char16_t* name, const T& value);
    bool ResultWanted();
    void RecordResult(const std::u16string& text);
    void RecordPointer(const void* value);

    CQVLog* m_log;
    QVWideStream m_pendingText;
    QVWideStream m_lineStream;
    std::unique_ptr<QVWideStream> m_resultStream;
    const char16_t* m_functionName;
    const char16_t* m_sourceName;
    const char16_t* m_entryLine;
    const char16_t* m_errorFile;
    const char16_t* m_errorFunction;
    uint32_t m_errorLine;
    const char16_t* m_exitLine;
    uint32_t m_errorCode;
    bool m_skip;
};
