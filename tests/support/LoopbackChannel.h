// A test with a stand-in server on a loopback address of its own, a channel pointed at it
// that never pauses between sends or receives, a host recorder to install on the channel
// and a registry file of the test's own. Defined here rather than in the support library so
// that each test program holds the class's type information itself.
#pragma once

#include <memory>

#include <gtest/gtest.h>

#include "connection/Csocketclient.h"
#include "platform/text.h"
#include "support/HostRecorder.h"
#include "support/LoopbackServer.h"
#include "support/RegistryFile.h"

class LoopbackChannel : public testing::Test {
protected:
    void SetUp() override
    {
        server = StartLoopbackServer();
        ASSERT_TRUE(server) << "no loopback address could be bound on port 443";
        channel.SetServer(Utf8ToUtf16(server->Address()).c_str(), StandinServer::kDefaultPort);
        channel.SetSendSleep(0);
        channel.SetRecvSleep(0);
    }

    void TearDown() override
    {
        if (server)
            server->Stop();
    }

    // Connects the channel and fetches its command index; nobody is logged in.
    void Connect()
    {
        WCHAR errText[CTransportSocket::kErrorTextCapacity] = {};
        ASSERT_EQ(channel.Connect(errText), 1) << Utf16ToUtf8(errText);
    }

    RegistryFile registry;
    std::unique_ptr<StandinServer> server;
    // Outlives the channel, whose farewell may still call it.
    HostRecorder host;
    Csocketclient channel;
};
