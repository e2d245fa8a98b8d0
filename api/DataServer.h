// The move of a channel to the data server that the server's settings name, shared by the
// user and the machine login.
#pragma once

#include <cstddef>

#include "connection/Csocketclient.h"
#include "kelvane.h"

// Bytes of the 8-bit data-server buffers, the terminator included: the size of the host's.
constexpr size_t kDataServerSize = KELVANE_DATA_SERVER_SIZE;

// Copies the channel's current server host into a data-server buffer, zero-filling the rest.
void CopyServerHost(const Csocketclient& channel, char (&buffer)[kDataServerSize]);
// Whether the named data server is the channel's current host (ASCII letters in either case).
bool IsCurrentHost(const Csocketclient& channel, const char* dataServer);
// Points the channel at the data server, on the server port.
void PointChannelAt(Csocketclient& channel, const char* dataServer);
