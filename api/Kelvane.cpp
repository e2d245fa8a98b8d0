// The exported functions of libkelvane.so. Each runs in the export frame (trace, argument
// checks, one operation of the channel, result) and never lets an exception out.
#include "kelvane.h"

#include <cstring>

#include "api/ChannelOpening.h"
#include "api/DataServer.h"
#include "api/ExportFrame.h"
#include "api/ExportSupport.h"
#include "api/LocalLogin.h"
#include "api/MandatoryText.h"

namespace {

constexpr Csocketclient* kNoChannel = nullptr;
// Bytes of the settings text that the server sends beside the data-server name.
constexpr size_t kSettingsTextSize = 8192;

void LogProxyVars(ExportFrame& frame, const char16_t* proxyHost, int32_t proxyPort,
                  const char16_t* proxyUser)
{
    frame.Var(u"ProxyHost", proxyHost);
    frame.Scope().LogVar(static_cast<uint32_t>(proxyPort));
    frame.Var(u"username", proxyUser);
}

} // namespace

extern "C" {

Csocketclient* OpenChannel(const char16_t* ServerURL, const char16_t* UserName,
                           const char16_t* password, uint32_t* flags, int32_t useProxy,
                           const char16_t* ProxyHost, int32_t ProxyPort,
                           const char16_t* proxyUser, const char16_t* proxyPassword)
{
    return ExportFrame::Run(u"OpenChannel", u"147", kNoChannel,
                            [&](ExportFrame& frame) -> Csocketclient* {
        frame.Var(u"ServerURL", ServerURL);
        frame.Var(u"UserName", UserName);
        frame.Var(u"useProxy", useProxy);
        LogProxyVars(frame, ProxyHost, ProxyPort, proxyUser);
        if (AnyNullOrEmpty(UserName, ServerURL, password)) {
            frame.Error(158, kMandatoryTextMissing);
            return frame.Return(u"159", kNoChannel);
        }
        if (!StartWinsock(frame, 169, u"WSAStartup failed."))
            return frame.Return(u"170", kNoChannel);
        ChannelHolder channel = CreateChannel(frame, u"Using proxy", useProxy, ProxyHost,
                                              ProxyPort, proxyUser, proxyPassword);
        channel->SetServer(ServerURL, kServerPort);
        DisableTransferPauses(*channel);
        bool authenticated = false;
        if (ConnectChannel(frame, *channel, 253, ConnectSuccess::ExactlyOne)) {
            channel->SetUserCredentials(UserName, password);
            uint32_t maintenance = 0;
            uint32_t lockedout = 0;
            authenticated = AuthenticateUser(channel.get(), &maintenance, &lockedout) == 1;
            if (flags != nullptr)
                *flags = SessionFlags(*channel);
        }
        frame.Scope().LogVar(authenticated);
        if (!authenticated)
            channel.reset();
        return frame.Return(u"265", channel.release());
    });
}

Csocketclient* OpenChannelEx(const char16_t* ServerURL, const char* MachineLicence,
                             uint32_t* flags, int32_t useProxy, const char16_t* ProxyHost,
                             int32_t ProxyPort, const char16_t* proxyUser,
                             const char16_t* proxyPassword)
{
    return ExportFrame::Run(u"OpenChannelEx", u"278", kNoChannel,
                            [&](ExportFrame& frame) -> Csocketclient* {
        frame.Var(u"ServerURL", ServerURL);
        frame.Var(u"MachineLicence", MachineLicence);
        frame.Var(u"useProxy", useProxy);
        LogProxyVars(frame, ProxyHost, ProxyPort, proxyUser);
        if (AnyNullOrEmpty(ServerURL, MachineLicence)) {
            frame.Error(290, kMandatoryTextMissing);
            return frame.Return(u"291", kNoChannel);
        }
        if (!StartWinsock(frame, 301, u"WSAStartup has failed."))
            return frame.Return(u"302", kNoChannel);
        ChannelHolder channel = CreateChannel(frame, u"Using Proxy", useProxy, ProxyHost,
                                              ProxyPort, proxyUser, proxyPassword);
        channel->SetServer(ServerURL, kServerPort);
        DisableTransferPauses(*channel);
        int32_t authenticated = 0;
        if (ConnectChannel(frame, *channel, 391, ConnectSuccess::ExactlyOne)) {
            channel->SetMachineKey(MachineLicence);
            uint32_t maintenance = 0;
            uint32_t lockedout = 0;
            if (AuthenticateMachine(channel.get(), &maintenance, &lockedout)) {
                authenticated = 1;
                if (flags != nullptr)
                    *flags = SessionFlags(*channel);
            } else if (flags != nullptr) {
                *flags |= KELVANE_FLAG_MACHINE_LOGIN_FAILED;
            }
        }
        frame.Var(u"isAuthenticated", authenticated);
        if (!authenticated)
            channel.reset();
        return frame.Return(u"402", channel.release());
    });
}

Csocketclient* OpenChannelNoUser(const char16_t* ServerURL, int32_t useProxy,
                                 const char16_t* ProxyHost, int32_t ProxyPort,
                                 const char16_t* proxyUser, const char16_t* proxyPassword)
{
    return ExportFrame::Run(u"OpenChannelNoUser", u"413", kNoChannel,
                            [&](ExportFrame& frame) -> Csocketclient* {
        if (AnyNullOrEmpty(ServerURL)) {
            frame.Error(417, kMandatoryTextMissing);
            return frame.Return(u"418", kNoChannel);
        }
        frame.Var(u"ServerURL", ServerURL);
        LogProxyVars(frame, ProxyHost, ProxyPort, proxyUser);
        if (!StartWinsock(frame, 431, u"WSAStartup has failed."))
            return frame.Return(u"432", kNoChannel);
        ChannelHolder channel = CreateChannel(frame, u"Using proxy", useProxy, ProxyHost,
                                              ProxyPort, proxyUser, proxyPassword);
        channel->SetServer(ServerURL, kServerPort);
        if (!channel->IsConnected() &&
            !ConnectChannel(frame, *channel, 467, ConnectSuccess::NonZero)) {
            channel.reset();
            return frame.Return(u"468", kNoChannel);
        }
        return frame.Return(u"477", channel.release());
    });
}

void CloseChannel(Csocketclient* channel)
{
    ExportFrame::Run(u"CloseChannel", u"483", [&](ExportFrame&) { ReleaseChannel(channel); });
}

bool AuthenticateMachine(Csocketclient* channel, uint32_t* maintenance, uint32_t* lockedout)
{
    return ExportFrame::Run(u"AuthenticateMachine", u"2670", false, [&](ExportFrame& frame) {
        if (channel == nullptr)
            return false;
        uint32_t maintenanceScratch = 0;
        uint32_t lockedoutScratch = 0;
        maintenance = OutOrScratch(maintenance, maintenanceScratch);
        lockedout = OutOrScratch(lockedout, lockedoutScratch);
        char dataServer[kDataServerSize] = {};
        uint32_t dataServerMaintenance = 0;
        channel->SetAutoSession(1);
        if (!channel->LoginMachine(maintenance, lockedout)) {
            frame.Var(u"maintenance", *maintenance);
            frame.Var(u"lockedout", *lockedout);
            frame.Error(2682, u"Execute authenticate machine failed.");
            return frame.Return(u"2683", false);
        }
        CopyServerHost(*channel, dataServer);
        if (!VerifyServer(channel, dataServer, &dataServerMaintenance)) {
            frame.Var(u"&myhost[0]", static_cast<const char*>(dataServer));
            frame.Var(u"mymaintenance", dataServerMaintenance);
            frame.Error(2691, u"Verify Server failed.");
            channel->Disconnect(1);
            return frame.Return(u"2693", false);
        }
        if (IsCurrentHost(*channel, dataServer)) {
            *maintenance = dataServerMaintenance;
            frame.Var(u"maintenance", *maintenance);
            return frame.Return(u"2700", true);
        }
        frame.Var(u"&myhost[0]", static_cast<const char*>(dataServer));
        frame.Var(u"mysocket->m_host", channel->GetServerHost());
        frame.Warning(u"Comparison failed.");
        if (!channel->Disconnect(1))
            frame.Warning(u"Disconnection failed.");
        PointChannelAt(*channel, dataServer);
        if (!ConnectServer(channel)) {
            frame.Error(2722, u"Connect server failed.");
            return frame.Return(u"2723", false);
        }
        if (!channel->LoginMachine(maintenance, lockedout)) {
            frame.Error(2728, u"Authentice machine failed.");
            return frame.Return(u"2729", false);
        }
        frame.Var(u"maintenance", *maintenance);
        frame.Var(u"lockedout", *lockedout);
        return frame.Return(u"2735", true);
    });
}

bool VerifyServer(Csocketclient* channel, char* dataServer, uint32_t* maintenance)
{
    return ExportFrame::Run(u"VerifyServer", u"2740", false, [&](ExportFrame& frame) {
        char dataServerScratch[kDataServerSize] = {};
        uint32_t maintenanceScratch = 0;
        dataServer = OutOrScratch(dataServer, dataServerScratch);
        maintenance = OutOrScratch(maintenance, maintenanceScratch);
        char namedServer[kDataServerSize] = {};
        char settingsText[kSettingsTextSize] = {};
        if (!RequireChannel(frame, channel, 2768)) {
            std::memset(dataServer, 0, kDataServerSize);
        } else {
            uint32_t language = 0;
            if (!channel->GetSettings(namedServer, &language, maintenance, settingsText, 1)) {
                frame.Warning(u"Get settings failed.");
                if (!channel->Disconnect(1))
                    frame.Warning(u"Disconnection failed.");
                return frame.Return(u"2757", false);
            }
            frame.Var(u"language", language);
            frame.Var(u"&tmpdataserver[0]", static_cast<const char*>(namedServer));
            frame.Info(u"Get settings succeed!");
            std::memcpy(dataServer, namedServer, kDataServerSize);
        }
        frame.Var(u"dataserver", static_cast<const char*>(dataServer));
        frame.Var(u"maintenance", *maintenance);
        return frame.Return(u"2774", channel != nullptr);
    });
}

int32_t WebPortalIsEnabled(Csocketclient* channel, uint32_t* IsEnabled)
{
    return ExportFrame::Run(u"WebPortalIsEnabled", u"2779", 0, [&](ExportFrame& frame) {
        if (channel == nullptr)
            return 0;
        uint32_t enabledScratch = 0;
        IsEnabled = OutOrScratch(IsEnabled, enabledScratch);
        int32_t result = channel->IsWebPortalEnabledEx(IsEnabled) ? 1 : 0;
        if (result == 0)
            frame.Warning(u"Unable to get status of web portal.");
        if (!channel->Disconnect(1))
            frame.Warning(u"Disconnection failed.");
        frame.Var(u"IsEnabled", *IsEnabled);
        return frame.Return(u"2795", result);
    });
}

int32_t SetActiveMachine(Csocketclient* channel, const char16_t* machine)
{
    return ExportFrame::Run(u"SetActiveMachine", u"498", 0, [&](ExportFrame& frame) {
        if (channel == nullptr || machine == nullptr)
            return 0;
        int32_t result = static_cast<int32_t>(channel->SetActiveMachine(machine));
        return frame.Return(u"500", result);
    });
}

int32_t GetMachineInformation(Csocketclient* channel, uint32_t MachineCodeLow,
                              uint32_t MachineCodeHigh, char* text)
{
    return ExportFrame::Run(u"GetMachineInformation", u"505", 0, [&](ExportFrame& frame) {
        uint64_t machineCode = JoinCode(MachineCodeLow, MachineCodeHigh);
        frame.Var(u"MachineCode", static_cast<int64_t>(machineCode));
        if (channel == nullptr) {
            frame.Error(513, u"Socket not opened");
            return frame.Return(u"514", 0);
        }
        char textScratch[Csocketclient::kReplyTextCapacity] = {};
        int32_t result = static_cast<int32_t>(channel->GetMachineInformation(
            MachineCodeLow, MachineCodeHigh, OutOrScratch(text, textScratch)));
        if (result == 0)
            frame.Error(521, u"Unable to get machine authentication.");
        return frame.Return(u"524", result);
    });
}

} // extern "C"
