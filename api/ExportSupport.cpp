#include "api/ExportSupport.h"

#include "api/ExportFrame.h"
#include "connection/Csocketclient.h"

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
