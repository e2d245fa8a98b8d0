// The move of a channel to the data server that the server's settings name, shared by the
// user and the machine login.
#pragma once

#include <cstddef>

#include "connection/Csocketclient.h"

// Bytes of the 8-bit data-server buffers, the terminator included.
constexpr size_t kDataServerSize = 1024;

// Copies the channel's current server host into a data-server buffer, zero-filling the rest.
void CopyServerHost(const Csocketclient& channel, char (&buffer)[kDataServerSize]);
// Whether the named data server is the channel's current host (ASCII letters in either case).
bool IsCurrentHost(const Csocketclient& channel, const char* dataServer);
// Points the channel at the data server, on the server port.
void PointChannelAt(Csocketclient& channel, const char* dataServer);
