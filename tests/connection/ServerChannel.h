// A test fixture: a stand-in server on a loopback address of its own, with an echo command
// (the payload after the code comes back as the reply), and a channel to it.
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "connection/ChannelProbe.h"
#include "support/LoopbackChannel.h"

class ServerChannel : public LoopbackChannel {
public:
    static constexpr DWORD kEcho = 0x7E57;

protected:
    void SetUp() override
    {
        LoopbackChannel::SetUp();
        if (HasFatalFailure())
            return;
        server->Commands().Set(kEcho, [](RequestReader& request, ReplyWriter& reply, ServerModel&) {
            std::string rest;
            request.ReadBytes(request.Remaining(), &rest);
            reply.PutBytes(rest.data(), rest.size());
        });
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

    ChannelProbe probe{channel};
};
