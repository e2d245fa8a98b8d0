// What the stand-in server keeps of one connection from one request to the next. A connection
// is served by one thread only, so its state needs no lock.
#pragma once

#include "platform/types.h"

struct ConnectionState {
    // The index that the connection's last command-index request was handed, 0 before the
    // first: the connection's user logins seal their credentials with the key of this index.
    ULONGLONG commandIndex = 0;
};
