// Small pieces that the exports share: the checks of the channel handle, the end of a command,
// the host's out-parameters and text buffers, its 64-bit codes, and the untraced calls.
#pragma once

#include <cxxabi.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "api/ExportFrame.h"

class Csocketclient;

// Room of a host text buffer that the interface gives no capacity for, terminator included
// (bytes for 8-bit texts, code units for UTF-16 texts).
constexpr size_t kHostTextCapacity = 1024;

// The text of the error line for a channel whose login failed or never happened.
constexpr const char16_t* kAuthenticationFailed = u"Authentication failed.";

// A NULL handle writes the error line "No socket has opened." at noSocketLine; false then.
bool RequireChannel(ExportFrame& frame, Csocketclient* channel, uint32_t noSocketLine);
// RequireChannel, then a channel that is not logged in writes "Authentication failed." at
// notLoggedInLine; false when either check fails.
bool RequireLoggedInChannel(ExportFrame& frame, Csocketclient* channel, uint32_t noSocketLine,
                            uint32_t notLoggedInLine);

// The result of an export whose command succeeded (1) or failed (0). A failed command writes
// its error line at errorLine, after the "var: " line of the status word that says why where
// the command gives one.
int32_t Outcome(ExportFrame& frame, bool succeeded, uint32_t errorLine, const char16_t* message);
int32_t Outcome(ExportFrame& frame, bool succeeded, const char16_t* reasonName, uint32_t reason,
                uint32_t errorLine, const char16_t* message);

// Copies text with its terminator into the host's buffer of capacity units. A text that does
// not fit is refused and leaves the buffer empty; a NULL buffer or a capacity of 0 or less
// receives nothing. True when the text was copied.
bool CopyTextToHost(std::u16string_view text, char16_t* out, int32_t capacity);

// Whether a text of the host is NULL or has no characters.
constexpr bool IsEmptyText(const char16_t* text)
{
    return text == nullptr || *text == u'\0';
}

// A 64-bit code from the two 32-bit words in which the host passes it.
constexpr uint64_t JoinCode(uint32_t low, uint32_t high)
{
    return static_cast<uint64_t>(high) << 32 | low;
}

// Where an out-value goes when the host passed no pointer for it: the library never writes
// through a NULL pointer.
template <typename T>
T* OutOrScratch(T* out, T& scratch)
{
    return out != nullptr ? out : &scratch;
}

// The same for a host text buffer: scratch is a whole host-sized buffer.
template <typename Char>
Char* OutOrScratch(Char* out, Char (&scratch)[kHostTextCapacity])
{
    return out != nullptr ? out : scratch;
}

// Runs the body of an export that writes no trace; whatever it throws ends in the failure
// result, never across the library's boundary. The cancellation of the host's thread passes,
// as through ExportFrame::Run.
template <typename Result, typename Body>
KELVANE_PASSES_CANCELLATION Result RunUntraced(Result failure, Body&& body)
{
    try {
        return body();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        return failure;
    }
}
