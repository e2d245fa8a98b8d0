// The frame that every traced function of the exported interface runs in: the trace scope
// with its entry line, the "var: " lines of the inputs, error lines that carry the thread's
// last system error, warnings and information lines, the exit line number and the result.
//
// An exported function runs its body through ExportFrame::Run, which turns any exception that
// reaches it into an error line and the export's failure result, so that nothing is ever
// thrown across the library's boundary. The one unwind that passes is the cancellation of the
// host's thread (abi::__forced_unwind): it must reach the host's frames, and the objects on
// the export's stack (trace scope, channel holder) clean up on its way:
//
//     return ExportFrame::Run(u"OpenChannel", u"147", failure, [&](ExportFrame& frame) {
//         frame.Var(u"UserName", UserName);
//         ...
//         frame.Error(158, u"Mandatory field are null or empty");
//         return frame.Return(u"159", failure);
//     });
//
// The local functions that exports share build an ExportFrame on their stack directly: what
// they throw reaches the Run of the export that called them.
#pragma once

#include <cxxabi.h>

#include <cstdint>
#include <type_traits>

#include "qvlib/CQVLogScope.h"

// The cancellation unwind has no exception object, so binding abi::__forced_unwind& to it is
// binding a null reference; the functions that catch it to pass it on leave that binding
// unchecked.
#define KELVANE_PASSES_CANCELLATION __attribute__((no_sanitize("null")))

class ExportFrame {
public:
    // Every traced function of the interface gives this source name.
    static constexpr const char16_t* kSourceName = u"Kelvane";

    // The texts are constants of the traced function and must outlive the frame.
    ExportFrame(const char16_t* function, const char16_t* entryLine);
    ExportFrame(const ExportFrame&) = delete;
    ExportFrame& operator=(const ExportFrame&) = delete;

    template <typename Result, typename Body>
    static Result Run(const char16_t* function, const char16_t* entryLine, Result failure,
                      Body&& body);
    // For the exports without a result.
    template <typename Body>
    static void Run(const char16_t* function, const char16_t* entryLine, Body&& body);

    // A "var: " line: name = value.
    template <typename Value>
    void Var(const char16_t* name, Value value)
    {
        m_scope.LogVar(name, value);
    }
    // The writers whose variable name is built in ("ProxyPort", "Data.wVersion", ...).
    CQVLogScope& Scope() { return m_scope; }

    // An error line at a source line of the function, with the thread's last system error
    // read now.
    void Error(uint32_t line, const char16_t* message);
    void Warning(const char16_t* message);
    void Info(const char16_t* message);

    // Records the exit line number and the result, and gives the result back.
    template <typename Result>
    Result Return(const char16_t* exitLine, Result result)
    {
        m_scope.SetExitLine(exitLine);
        return m_scope.LogResult(result);
    }

private:
    // The error line for an exception that reached Run; must be called inside a handler.
    void ReportException();

    const char16_t* m_function;
    const char16_t* m_entryLine;
    CQVLogScope m_scope;
};

template <typename Result, typename Body>
KELVANE_PASSES_CANCELLATION Result ExportFrame::Run(const char16_t* function,
                                                    const char16_t* entryLine, Result failure,
                                                    Body&& body)
{
    try {
        ExportFrame frame(function, entryLine);
        try {
            return body(frame);
        } catch (abi::__forced_unwind&) {
            throw;
        } catch (...) {
            frame.ReportException();
            return frame.m_scope.LogResult(failure);
        }
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        return failure;
    }
}

template <typename Body>
KELVANE_PASSES_CANCELLATION void ExportFrame::Run(const char16_t* function,
                                                  const char16_t* entryLine, Body&& body)
{
    try {
        ExportFrame frame(function, entryLine);
        try {
            body(frame);
        } catch (abi::__forced_unwind&) {
            throw;
        } catch (...) {
            frame.ReportException();
        }
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
    }
}
