#include "api/DataServer.h"

#include <cstring>

#include "api/ChannelOpening.h"
#include "platform/text.h"

namespace {

char ToLowerAscii(char character)
{
    return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a')
                                                 : character;
}

} // namespace

void CopyServerHost(const Csocketclient& channel, char (&buffer)[kDataServerSize])
{
    std::strncpy(buffer, channel.GetServerHost(), kDataServerSize);
    buffer[kDataServerSize - 1] = '\0';
}

bool IsCurrentHost(const Csocketclient& channel, const char* dataServer)
{
    const char* host = channel.GetServerHost();
    for (; *dataServer != '\0' && *host != '\0'; ++dataServer, ++host) {
        if (ToLowerAscii(*dataServer) != ToLowerAscii(*host))
            return false;
    }
    return *dataServer == *host;
}

void PointChannelAt(Csocketclient& channel, const char* dataServer)
{
    WCHAR name[kDataServerSize] = {};
    MultiByteToWideChar(CP_ACP, 0, dataServer, -1, name, static_cast<int>(kDataServerSize));
    channel.SetServer(name, kServerPort);
}
