// The exported functions that a benchmark's restores go through: those of the library linked
// into the program, or those of another build of it loaded at run time, so that two builds can
// be measured in one run. Each build keeps its own state: the library exports nothing but its
// flat interface, and its calls of its own functions bind inside it.
#pragma once

#include <string>

#include "bench/support/FrameClient.h"
#include "kelvane.h"

struct RestoreExports {
    decltype(&::OpenChannel) OpenChannel = nullptr;
    decltype(&::RestoreFile) RestoreFile = nullptr;
    decltype(&::CloseChannel) CloseChannel = nullptr;

    // The library this program is linked with.
    static RestoreExports Linked();
    // The build at path, loaded beside the linked one; false, with a message on standard
    // error, when it cannot be loaded, lacks an export, or turns out to be the linked copy.
    static bool Load(const std::string& path, RestoreExports* exports);

    // Opens a channel to the server and logs the user in (password = user name).
    Csocketclient* Open(const std::string& server, const std::string& user) const;
    // RestoreFile of the file version named by codes to path, with a callback that answers
    // every event with 0; true when it gives 1.
    bool Restore(Csocketclient* channel, const FrameClient::Codes& codes,
                 const char16_t* path) const;
};
