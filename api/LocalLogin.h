// The connect and the user login that the opening exports and the machine login share.
#pragma once

#include <cstdint>

#include "connection/Csocketclient.h"

// Connects the channel unless it is connected: 1 connected, 0 the connect failed.
int32_t ConnectServer(Csocketclient* channel);

// Logs the user whose credentials the channel holds in, asks for the server's settings and,
// when they name another data server, moves the channel there and logs in again (once).
// 1 when logged in; the caller's words receive the login's maintenance and locked-out values.
int32_t AuthenticateUser(Csocketclient* channel, uint32_t* maintenance, uint32_t* lockedout);
