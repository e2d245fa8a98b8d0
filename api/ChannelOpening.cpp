#include "api/ChannelOpening.h"

#include "api/ExportSupport.h"
#include "platform/sync.h"
#include "platform/winsock.h"

namespace {

constexpr WORD kWinsockVersion = 0x0101;

} // namespace

void ReleaseChannel(Csocketclient* channel)
{
    if (channel == nullptr)
        return;
    // Released by a holder's destructor, on the way out of a cancelled call too.
    CancellationHold hold;
    channel->Disconnect(0);
    delete channel;
}

bool StartWinsock(ExportFrame& frame, uint32_t errorLine, const char16_t* failureMessage)
{
    WSADATA data{};
    if (WSAStartup(kWinsockVersion, &data) != 0) {
        frame.Error(errorLine, failureMessage);
        return false;
    }
    frame.Var(u"Data.szDescription", static_cast<const char*>(data.szDescription));
    frame.Var(u"Data.szSystemStatus", static_cast<const char*>(data.szSystemStatus));
    frame.Scope().LogVar(static_cast<uint16_t>(data.wVersion));
    return true;
}

ChannelHolder CreateChannel(ExportFrame& frame, const char16_t* usingProxyMessage,
                            int32_t useProxy, const char16_t* proxyHost, int32_t proxyPort,
                            const char16_t* proxyUser, const char16_t* proxyPassword)
{
    ChannelHolder channel(new Csocketclient(), &ReleaseChannel);
    channel->ResetSession();
    if (useProxy == 1) {
        frame.Info(usingProxyMessage);
        UseProxy(*channel, proxyHost, proxyPort, proxyUser, proxyPassword);
    }
    return channel;
}

void UseProxy(Csocketclient& channel, const char16_t* host, int32_t port, const char16_t* user,
              const char16_t* password)
{
    channel.SetProxyFallback(0);
    channel.SetUseProxy(1);
    channel.SetProxy(IsEmptyText(host) ? u"" : host, static_cast<DWORD>(port));
    if (!IsEmptyText(user))
        channel.SetProxyCredentials(user, IsEmptyText(password) ? u"" : password);
}

void DisableTransferPauses(Csocketclient& channel)
{
    channel.SetSendSleep(0);
    channel.SetRecvSleep(0);
    channel.SetWaitBeforeChunk(0);
}

bool ConnectChannel(ExportFrame& frame, Csocketclient& channel, uint32_t errorLine,
                    ConnectSuccess success)
{
    WCHAR text[kConnectTextSize] = {};
    BOOL result = channel.Connect(text);
    bool connected = success == ConnectSuccess::ExactlyOne ? result == 1 : result != 0;
    if (!connected) {
        frame.Var(u"&buffer[0]", static_cast<const char16_t*>(text));
        frame.Error(errorLine, u"Connect has failed.");
    }
    return connected;
}

uint32_t SessionFlags(const Csocketclient& channel)
{
    uint32_t flags = 0;
    if (channel.IsAuthenticated())
        flags |= 0x20;
    if (channel.GetSessionFlag40())
        flags |= 0x40;
    if (channel.GetSessionFlag80())
        flags |= 0x80;
    if (channel.GetSessionFlag100())
        flags |= 0x100;
    if (channel.GetSessionFlag2())
        flags |= 0x2;
    if (channel.GetSessionFlag8())
        flags |= 0x8;
    if (channel.GetSessionFlag4())
        flags |= 0x4;
    if (channel.GetSessionFlag400())
        flags |= 0x400;
    return flags;
}
