// The exports that the host calls around its channels: its callback, the size of the pieces
// in which a channel reads from its socket, and a test of a proxy on a channel of its own.
#include "kelvane.h"

#include <algorithm>
#include <memory>
#include <string_view>

#include "api/ChannelOpening.h"
#include "api/ExportFrame.h"
#include "api/ExportSupport.h"
#include "api/MandatoryText.h"

namespace {

// Messages of the proxy check's channel up to this level are reported.
constexpr INT kProxyCheckLogLevel = 10;

// A channel that goes through the proxy to the server and nowhere else.
std::unique_ptr<Csocketclient> CreateProxyCheckChannel(const char16_t* proxyHost,
                                                      int32_t proxyPort,
                                                      const char16_t* proxyUser,
                                                      const char16_t* proxyPassword,
                                                      const char16_t* remoteServer,
                                                      int32_t remotePort)
{
    auto channel = std::make_unique<Csocketclient>();
    channel->SetLogLevel(kProxyCheckLogLevel);
    UseProxy(*channel, proxyHost, proxyPort, proxyUser, proxyPassword);
    channel->SetServer(remoteServer, static_cast<DWORD>(remotePort));
    return channel;
}

// The text that a connect left in its buffer, which need not hold a terminator.
std::u16string_view ConnectText(const WCHAR (&text)[kConnectTextSize])
{
    return std::u16string_view(text, std::find(text, text + kConnectTextSize, u'\0') - text);
}

} // namespace

extern "C" {

int32_t SetCallBack(Csocketclient* channel, void* context, TransportCallback function)
{
    return ExportFrame::Run(u"SetCallBack", u"3101", 0, [&](ExportFrame& frame) {
        if (channel == nullptr)
            return frame.Return(u"3111", 0);
        channel->SetCallback(reinterpret_cast<uintptr_t>(context), function);
        return frame.Return(u"3111", 1);
    });
}

int32_t ResetCallBack(Csocketclient* channel)
{
    return ExportFrame::Run(u"ResetCallBack", u"3116", 0, [&](ExportFrame& frame) {
        if (channel == nullptr)
            return frame.Return(u"3126", 0);
        channel->SetCallback(0, nullptr);
        return frame.Return(u"3126", 1);
    });
}

int32_t SetGetPacketSize(Csocketclient* channel, uint32_t packetsize)
{
    return ExportFrame::Run(u"SetGetPacketSize", u"3081", 0, [&](ExportFrame& frame) {
        frame.Var(u"packetsize", packetsize);
        if (!RequireChannel(frame, channel, 3093))
            return frame.Return(u"3096", 0);
        channel->SetGetPacketSize(packetsize);
        return frame.Return(u"3096", 1);
    });
}

int32_t CheckProxySettings(const char16_t* ProxyHost, int32_t ProxyPort, const char16_t* proxyUser,
                           const char16_t* proxyPassword, const char16_t* RemoteServer,
                           int32_t RemotePort, char16_t* errText, int32_t errTextLen)
{
    return ExportFrame::Run(u"CheckProxySettings", u"1662", 0, [&](ExportFrame& frame) {
        frame.Var(u"ProxyHost", ProxyHost);
        frame.Scope().LogVar(static_cast<uint32_t>(ProxyPort));
        frame.Var(u"RemoteServer", RemoteServer);
        frame.Var(u"username", proxyUser);
        if (AnyNullOrEmpty(ProxyHost, RemoteServer)) {
            frame.Error(1670, kMandatoryTextMissing);
            return 0;
        }
        if (!IsEmptyText(proxyPassword))
            frame.Info(u"password has filled.");
        if (!StartWinsock(frame, 1686, u"WSAStartup failed."))
            return frame.Return(u"1687", 0);
        std::unique_ptr<Csocketclient> channel = CreateProxyCheckChannel(
            ProxyHost, ProxyPort, proxyUser, proxyPassword, RemoteServer, RemotePort);
        WCHAR reason[kConnectTextSize] = {};
        int32_t result = channel->Connect(reason);
        if (result == 0) {
            frame.Scope().LogVar(static_cast<char16_t>(reason[0]));
            frame.Error(1718, u"Connect has failed.");
            CopyTextToHost(ConnectText(reason), errText, errTextLen);
        }
        if (!channel->Disconnect(1))
            frame.Warning(u"Disconnect has failed.");
        channel.reset();
        return frame.Return(u"1731", result);
    });
}

} // extern "C"
