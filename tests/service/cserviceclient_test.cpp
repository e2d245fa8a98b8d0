#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ServiceFixture.h"
#include "service/Cserviceclient.h"
#include "service/StandinService.h"
#include "util/Cutil.h"

namespace {

using Misbehaviour = StandinService::Misbehaviour;
using Names = StandinService::Names;

class ServiceClient : public ServiceTest {
protected:
    StandinService service{dir.path().string()};
    Cserviceclient client;
    uint8_t buffer[4096] = {};
    uint32_t length = 0;

    // Sends a command and gives what it printed.
    std::string Send(uint32_t command, uint32_t* result, uint32_t size = sizeof(buffer))
    {
        testing::internal::CaptureStdout();
        *result = client.SendCommand(command, buffer, &length, size);
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(ServiceClient, EveryCommandIsOneExactHeaderAndItsReplyIsTakenWhole)
{
    const uint32_t commands[] = {1, 2, 6, 7, 9, 11, 12, 24};
    for (uint32_t command : commands)
        service.SetReply(command, Pattern(8 + command));
    ASSERT_TRUE(service.Start());
    ASSERT_EQ(client.Connect(10), 1u);
    for (uint32_t command : commands) {
        std::memset(buffer, 0xCC, sizeof(buffer));
        uint32_t result = 0;
        EXPECT_EQ(Send(command, &result), "");
        EXPECT_EQ(result, 1u) << command;
        ASSERT_EQ(length, 8 + command);
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + length), Pattern(8 + command));
    }
    std::vector<StandinService::Request> requests = service.Requests();
    ASSERT_EQ(requests.size(), std::size(commands));
    for (size_t index = 0; index < requests.size(); ++index) {
        EXPECT_EQ(requests[index].bytes, CommandHeader(commands[index]));
        EXPECT_TRUE(requests[index].wellFormed);
    }
    EXPECT_EQ(service.Connections(), 1u);
}

TEST_F(ServiceClient, TheHeaderOfTheStatusCommandByteForByte)
{
    ASSERT_TRUE(service.Start());
    ASSERT_EQ(client.Connect(1), 1u);
    uint32_t result = 0;
    Send(Cserviceclient::COMMAND_STATUS, &result);
    // CRC-32 of the bytes 01 00 00 00.
    const std::vector<uint8_t> expected = {1, 0, 0, 0, 0, 0, 0, 0, 0,    0,    0,    0,
                                           24, 0, 0, 0, 0x79, 0xB8, 0xF8, 0x99, 1, 0, 0, 0};
    ASSERT_EQ(service.Requests().size(), 1u);
    EXPECT_EQ(service.Requests()[0].bytes, expected);
}

TEST_F(ServiceClient, TheSessionNameComesFirstAndThePlainNameIsTheFallback)
{
    StandinService sessionService(dir.path().string(), Names::SessionOnly);
    StandinService plainService(dir.path().string(), Names::PlainOnly);
    sessionService.SetReply(2, Word(0x5E55));
    plainService.SetReply(2, Word(0x9A17));
    ASSERT_TRUE(sessionService.Start());
    ASSERT_TRUE(plainService.Start());
    uint32_t result = 0;
    ASSERT_EQ(client.Connect(1), 1u);
    Send(2, &result);
    EXPECT_EQ(WordAt(buffer), 0x5E55u);
    client.Close();

    sessionService.Stop();
    ASSERT_EQ(client.Connect(1), 1u);
    Send(2, &result);
    EXPECT_EQ(WordAt(buffer), 0x9A17u);
}

TEST_F(ServiceClient, NoServiceFailsTheConnectAndEveryCommandQuietly)
{
    EXPECT_EQ(client.Connect(1), 0u);
    length = 7;
    uint32_t result = 1;
    EXPECT_EQ(Send(7, &result), "");
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(length, 0u);
}

TEST_F(ServiceClient, ConnectWithoutLimitWaitsForTheService)
{
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(service.Start());
    });
    EXPECT_EQ(client.Connect(0), 1u);
    late.join();
    EXPECT_EQ(client.Connect(0), 1u);  // already open: no second connection
    uint32_t result = 0;
    Send(6, &result);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(service.Connections(), 1u);
}

TEST_F(ServiceClient, ASecondCommandOverwritesTheBufferFromItsStart)
{
    service.SetReply(24, Pattern(300));
    service.SetReply(7, Word(5));
    ASSERT_TRUE(service.Start());
    ASSERT_EQ(client.Connect(1), 1u);
    uint32_t result = 0;
    Send(24, &result);
    Send(7, &result);
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(WordAt(buffer), 5u);
    EXPECT_EQ(buffer[4], Pattern(300)[4]);  // the rest of the first reply is left alone
}

TEST_F(ServiceClient, AReplyThatFillsTheBufferExactlyIsTaken)
{
    service.SetReply(11, Pattern(sizeof(buffer)));
    ASSERT_TRUE(service.Start());
    ASSERT_EQ(client.Connect(1), 1u);
    uint32_t result = 0;
    EXPECT_EQ(Send(11, &result), "");
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(length, sizeof(buffer));
}

TEST_F(ServiceClient, AnOversizedReplyIsRefusedAndLeavesNothingBehind)
{
    service.Misbehave(9, Misbehaviour::Oversize, sizeof(buffer) + 1);
    ASSERT_TRUE(service.Start());
    ASSERT_EQ(client.Connect(1), 1u);
    uint32_t result = 1;
    EXPECT_EQ(Send(9, &result), "ReadFile failed");
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + sizeof(buffer)),
              std::vector<uint8_t>(sizeof(buffer), 0));
    // The failure closed the pipe: the next command fails at once, printing nothing.
    EXPECT_EQ(Send(2, &result), "");
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(service.Requests().size(), 1u);
}

TEST_F(ServiceClient, AServiceThatHangsUpFailsTheRead)
{
    service.Misbehave(12, Misbehaviour::CloseWithoutAnswer);
    ASSERT_TRUE(service.Start());
    ASSERT_EQ(client.Connect(1), 1u);
    uint32_t result = 1;
    EXPECT_EQ(Send(12, &result), "ReadFile failed");
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(length, 0u);
}

TEST_F(ServiceClient, AServiceGoneBeforeTheCommandFailsTheWrite)
{
    ASSERT_TRUE(service.Start());
    ASSERT_EQ(client.Connect(1), 1u);
    service.Stop();
    uint32_t result = 1;
    EXPECT_EQ(Send(1, &result), "WriteFile failed");
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(length, 0u);
}

TEST_F(ServiceClient, ANullBufferIsRefusedBeforeAnythingIsSent)
{
    ASSERT_TRUE(service.Start());
    ASSERT_EQ(client.Connect(1), 1u);
    length = 3;
    EXPECT_EQ(client.SendCommand(1, nullptr, &length, 8192), 0u);
    EXPECT_EQ(length, 0u);
    EXPECT_TRUE(service.Requests().empty());
}

TEST_F(ServiceClient, TransactAllocatesTheReplyBufferWhenGivenNone)
{
    service.SetReply(11, Pattern(70000));
    ASSERT_TRUE(service.Start());
    ASSERT_EQ(client.Connect(1), 1u);
    std::vector<uint8_t> header = CommandHeader(11);
    void* reply = nullptr;
    uint32_t replyLength = 0;
    EXPECT_EQ(client.Transact(header.data(), 24, &reply, &replyLength, 0), 1u);
    ASSERT_NE(reply, nullptr);
    ASSERT_EQ(replyLength, 70000u);
    const auto* bytes = static_cast<const uint8_t*>(reply);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + replyLength), Pattern(70000));
    Cutil::FreePacket(reply);
}

TEST_F(ServiceClient, ClientsOnTwoThreadsGetTheirOwnReplies)
{
    service.SetReply(2, Pattern(2000));
    service.SetReply(6, Word(6));
    ASSERT_TRUE(service.Start());
    auto exchange = [](uint32_t command, std::vector<uint8_t>* reply) {
        Cserviceclient own;
        ASSERT_EQ(own.Connect(1), 1u);
        for (int round = 0; round < 50; ++round) {
            uint8_t bytes[4096] = {};
            uint32_t received = 0;
            ASSERT_EQ(own.SendCommand(command, bytes, &received, sizeof(bytes)), 1u);
            reply->assign(bytes, bytes + received);
        }
    };
    std::vector<uint8_t> first;
    std::vector<uint8_t> second;
    std::thread one(exchange, 2u, &first);
    std::thread two(exchange, 6u, &second);
    one.join();
    two.join();
    EXPECT_EQ(first, Pattern(2000));
    EXPECT_EQ(second, Word(6));
    EXPECT_EQ(service.Connections(), 2u);
}

}  // namespace
