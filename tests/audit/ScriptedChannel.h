// A channel logged in on a stand-in server of its own, whose answer to any command a test
// replaces by exactly the bytes it chooses, and a host callback that records the channel's
// log lines. The channel keeps its session automatically, so a reply that made it drop the
// connection is followed by a reconnection and a new login on the next command.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "connection/Csocketclient.h"
#include "support/HostRecorder.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "tools/server/LoginService.h"
#include "tools/server/StandinServer.h"

class ScriptedChannel : public testing::Test {
protected:
    static constexpr const char* kUser = "mallory";
    static constexpr const char* kPassword = "hunter2";
    // The level at which the channel writes its "reply malformed" lines.
    static constexpr DWORD kLogLevel = 30;

    void SetUp() override;
    void TearDown() override;

    // The command is answered by exactly these bytes from now on.
    void Answer(DWORD code, const std::vector<BYTE>& bytes);
    // The login is answered by these fields from now on.
    void AnswerLogins(const LoginReplyFields& fields);

    TempDir folder;
    ScopedEnv registry{"KELVANE_REGISTRY", (folder.path() / "registry.ini").string()};
    LoginService logins;
    std::unique_ptr<StandinServer> server;
    // Outlives the channel, whose destructor still logs.
    HostRecorder host;
    std::unique_ptr<Csocketclient> channel;
};
