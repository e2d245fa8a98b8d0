// What the steps of one run of kelvane-host share: the loaded library, the proxy given on the
// command line and the channel that the steps work on.
#pragma once

#include <cstdint>
#include <string>

#include "host/HostLibrary.h"

// The proxy of the opening steps and of the proxy check.
struct HostProxy {
    int32_t use = 0;
    std::u16string host;
    int32_t port = 0;
    std::u16string user;
    std::u16string password;
};

struct HostSession {
    // Closes the channel when one is open.
    void CloseChannel();

    HostLibrary exports;
    HostProxy proxy;
    Csocketclient* channel = nullptr;
};
