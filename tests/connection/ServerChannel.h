// A test fixture: a stand-in server on a loopback address of its own, with an echo command
// (the payload after the code comes back as the reply), a channel to it and a callback
// recorder to install on the channel.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "connection/CallbackRecorder.h"
#include "connection/ChannelProbe.h"
#include "connection/RegistryFile.h"
#include "support/LoopbackServer.h"

class ServerChannel : public testing::Test {
public:
    static constexpr DWORD kEcho = 0x7E57;

protected:
    void SetUp() override
    {
        server = StartLoopbackServer();
        ASSERT_TRUE(server) << "no loopback address could be bound on port 443";
        server->Commands().Set(kEcho, [](RequestReader& request, ReplyWriter& reply, ServerModel&) {
            std::string rest;
            request.ReadBytes(request.Remaining(), &rest);
            reply.PutBytes(rest.data(), rest.size());
        });
        channel.SetServer(Utf8ToUtf16(server->Address()).c_str(), 443);
        channel.SetSendSleep(0);
        channel.SetRecvSleep(0);
    }

    void TearDown() override
    {
        if (server)
            server->Stop();
    }

    // Connects the channel and fetches its command index.
    void Connect()
    {
        WCHAR errText[CTransportSocket::kErrorTextCapacity] = {};
        ASSERT_EQ(channel.Connect(errText), 1) << Utf16ToUtf8(errText);
    }

    // An echo request: the code, then the data.
    static std::vector<BYTE> EchoRequest(const std::string& data)
    {
        std::vector<BYTE> request(4 + data.size());
        std::memcpy(request.data(), &kEcho, 4);
        std::memcpy(request.data() + 4, data.data(), data.size());
        return request;
    }

    // Sends one request and receives one reply; the reply's bytes, or nothing on failure.
    std::string Exchange(const std::vector<BYTE>& request)
    {
        if (!channel.SendMsg(request.data(), static_cast<DWORD>(request.size()), nullptr))
            return "send failed";
        void* reply = nullptr;
        DWORD length = channel.ReceiveMsg(&reply);
        if (length == 0) {
            EXPECT_EQ(reply, nullptr);
            return "";
        }
        std::string bytes(static_cast<const char*>(reply), length);
        Cutil::FreePacket(reply);
        return bytes;
    }

    RegistryFile registry;
    std::unique_ptr<StandinServer> server;
    // Outlives the channel, whose farewell may still call it.
    CallbackRecorder recorder;
    Csocketclient channel;
    ChannelProbe probe{channel};
};
