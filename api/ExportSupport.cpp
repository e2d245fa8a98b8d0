#include "api/ExportSupport.h"

#include <algorithm>

#include "api/ExportFrame.h"
#include "connection/Csocketclient.h"

namespace {

// The text of the error line for a NULL channel handle.
constexpr const char16_t* kNoSocketMessage = u"No socket has opened.";

} // namespace

bool RequireChannel(ExportFrame& frame, Csocketclient* channel, uint32_t noSocketLine)
{
    if (channel != nullptr)
        return true;
    frame.Error(noSocketLine, kNoSocketMessage);
    return false;
}

bool RequireLoggedInChannel(ExportFrame& frame, Csocketclient* channel, uint32_t noSocketLine,
                            uint32_t notLoggedInLine)
{
    if (!RequireChannel(frame, channel, noSocketLine))
        return false;
    if (channel->IsAuthenticated() == 1)
        return true;
    frame.Error(notLoggedInLine, kAuthenticationFailed);
    return false;
}

int32_t Outcome(ExportFrame& frame, bool succeeded, uint32_t errorLine, const char16_t* message)
{
    if (succeeded)
        return 1;
    frame.Error(errorLine, message);
    return 0;
}

int32_t Outcome(ExportFrame& frame, bool succeeded, const char16_t* reasonName, uint32_t reason,
                uint32_t errorLine, const char16_t* message)
{
    if (!succeeded)
        frame.Var(reasonName, reason);
    return Outcome(frame, succeeded, errorLine, message);
}

bool CopyTextToHost(std::u16string_view text, char16_t* out, int32_t capacity)
{
    if (out == nullptr || capacity <= 0)
        return false;
    if (text.size() >= static_cast<size_t>(capacity)) {
        out[0] = u'\0';
        return false;
    }
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = u'\0';
    return true;
}
