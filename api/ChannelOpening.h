// The steps that the channel-opening exports share: starting Winsock, creating and
// configuring the channel, connecting it, reading the login's flags and giving a channel up.
#pragma once

#include <cstdint>
#include <memory>

#include "api/ExportFrame.h"
#include "connection/Csocketclient.h"

// Port of the service's server; a channel always connects there.
constexpr uint32_t kServerPort = 443;
// Characters of the text that a connect leaves behind, the terminator included.
constexpr size_t kConnectTextSize = 1024;
constexpr const char16_t* kMandatoryTextMissing = u"Mandatory field are null or empty";

// Gives a channel up: disconnects it gracefully and destroys it.
void ReleaseChannel(Csocketclient* channel);
// A channel that is released unless it is handed out.
using ChannelHolder = std::unique_ptr<Csocketclient, decltype(&ReleaseChannel)>;

// Starts Winsock 1.1 and writes what it answered; a failure writes the error line.
bool StartWinsock(ExportFrame& frame, uint32_t errorLine, const char16_t* failureMessage);

// A new channel, with the proxy set when useProxy is exactly 1 (any other value connects
// directly): usingProxyMessage is written as an information line first, and the proxy
// credentials are set only for a proxy user that is not empty.
ChannelHolder CreateChannel(ExportFrame& frame, const char16_t* usingProxyMessage,
                            int32_t useProxy, const char16_t* proxyHost, int32_t proxyPort,
                            const char16_t* proxyUser, const char16_t* proxyPassword);

// Sends the channel through the HTTP proxy at host:port, with Basic credentials when the user
// is not empty; an empty host or password is passed on as "".
void UseProxy(Csocketclient& channel, const char16_t* host, int32_t port, const char16_t* user,
              const char16_t* password);

// A channel opened for a login transfers without pauses.
void DisableTransferPauses(Csocketclient& channel);

// Which answers of the connect count as connected.
enum class ConnectSuccess { ExactlyOne, NonZero };

// Connects the channel; a failure writes the text that the connect left and the error line.
bool ConnectChannel(ExportFrame& frame, Csocketclient& channel, uint32_t errorLine,
                    ConnectSuccess success);

// The flags word that the opening exports hand to the host after a login.
uint32_t SessionFlags(const Csocketclient& channel);
