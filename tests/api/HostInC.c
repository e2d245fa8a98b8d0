/* A C host: calls functions looked up by name through the types that kelvane.h declares for
 * C. Built as C inside the api test program, so that the header is compiled as C too. */
#include "HostInC.h"

#include <kelvane.h>
#include <stddef.h>

int OpenBlankChannelFromC(void* openChannelNoUser, void* closeChannel)
{
    Csocketclient* (*open)(const char16_t*, int32_t, const char16_t*, int32_t, const char16_t*,
                           const char16_t*) = openChannelNoUser;
    void (*close)(Csocketclient*) = closeChannel;
    Csocketclient* channel = open(u" \t ", 0, u"", 0, u"", u"");
    close(channel);
    return channel == NULL;
}
