#include <future>

#include "connection/ServerChannel.h"
#include "platform/clock.h"
#include "platform/module.h"

namespace {

using Frames = ServerChannel;

std::vector<BYTE> Bytes(const std::string& text)
{
    return std::vector<BYTE>(text.begin(), text.end());
}

// The server's replies to echo requests carry the given fault from now on.
void SetEchoFault(StandinServer& server, FaultKind kind, DWORD cbData = 0)
{
    ServerFault fault;
    fault.kind = kind;
    fault.command = ServerChannel::kEcho;
    fault.cbData = cbData;
    server.SetFault(fault);
}

}

TEST_F(Frames, AFrameIsTheLengthPlusFourTheCrcAndThePayload)
{
    Connect();
    EXPECT_EQ(Exchange(Bytes("123456789")), std::string(8, '\0'));
    EXPECT_EQ(Exchange(Bytes("0123456789")), std::string(8, '\0'));
    EXPECT_EQ(Exchange({}), std::string(8, '\0'));
    std::vector<RecordedRequest> requests = server->Log().Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].payload, Bytes(std::string("K\0\0\0", 4)));
    EXPECT_EQ(requests[1].cbData, 13u);
    EXPECT_EQ(requests[1].crcPacket, 0xCBF43926u);
    EXPECT_EQ(requests[1].payload, Bytes("123456789"));
    EXPECT_EQ(requests[2].cbData, 14u);
    EXPECT_TRUE(requests[2].crcValid);
    EXPECT_EQ(requests[2].payload, Bytes("0123456789"));
    EXPECT_EQ(requests[3].cbData, 4u);
    EXPECT_EQ(requests[3].crcPacket, 0u);
    EXPECT_TRUE(requests[3].payload.empty());
}

TEST_F(Frames, PayloadsOf64MiBTravelBothWays)
{
    Connect();
    std::string data(64u << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 131 + (i >> 16));
    EXPECT_TRUE(Exchange(EchoRequest(data)) == data);
    EXPECT_EQ(Exchange(EchoRequest("small")), "small");
}

TEST_F(Frames, AnEmptyPayloadIsRefusedAtOnceInBothReceiveVariants)
{
    // The server sends nothing after the empty frame: a receive that waited for its payload
    // would time out and say so.
    for (INT level : {0, 30}) {
        SetEchoFault(*server, FaultKind::EmptyPayload);
        Connect();
        probe.SetWaitTimeout(5);
        channel.SetLogLevel(level);
        channel.SetWaitBeforeChunk(level != 0);
        host.Install(channel);
        testing::internal::CaptureStdout();
        EXPECT_EQ(Exchange(EchoRequest("x")), "");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(channel.IsConnected(), 0u);
        EXPECT_FALSE(probe.HasSocket());
        if (level != 0) {
            EXPECT_TRUE(host.Logged("ReceiveMsg: ReceiveDataUntil failed on cbData2 0 bytes"));
            for (const std::string& message : host.Messages())
                EXPECT_EQ(message.find("timeout"), std::string::npos) << message;
        }
        channel.SetCallback(0, nullptr);
        channel.SetLogLevel(0);
    }
}

TEST_F(Frames, AWrongCrcDropsTheReplyAndClosesTheChannel)
{
    SetEchoFault(*server, FaultKind::WrongCrc);
    Connect();
    EXPECT_EQ(Exchange(EchoRequest("abc")), "");
    EXPECT_EQ(channel.IsConnected(), 0u);
    EXPECT_EQ(probe.CommandIndex(), 0u);
    void* reply = reinterpret_cast<void*>(1);
    EXPECT_EQ(channel.ReceiveMsg(&reply), 0u);
    EXPECT_EQ(reply, nullptr);
}

TEST_F(Frames, LengthsThatCannotBeAFrameAreRefusedBeforeReading)
{
    host.Install(channel);
    for (DWORD cbData : {0u, 3u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
        SetEchoFault(*server, FaultKind::GivenCbData, cbData);
        Connect();
        channel.SetLogLevel(30);
        EXPECT_EQ(Exchange(EchoRequest("payload")), "") << cbData;
        EXPECT_FALSE(probe.HasSocket());
        EXPECT_TRUE(host.Logged("ReceiveMsg: invalid cbData " + std::to_string(cbData)));
        channel.SetLogLevel(0);
    }
}

TEST_F(Frames, APeerClosingMidMessageFailsTheReceive)
{
    SetEchoFault(*server, FaultKind::CloseMidMessage);
    Connect();
    EXPECT_EQ(Exchange(EchoRequest(std::string(100000, 'z'))), "");
    EXPECT_EQ(channel.IsConnected(), 0u);
    EXPECT_FALSE(probe.HasSocket());
}

TEST_F(Frames, ASilentPeerTimesTheReceiveOut)
{
    for (FaultKind kind : {FaultKind::NoAnswer, FaultKind::TruncatedFrame}) {
        SetEchoFault(*server, kind);
        Connect();
        probe.SetWaitTimeout(1);
        testing::internal::CaptureStdout();
        EXPECT_EQ(Exchange(EchoRequest("hello")), "");
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "ReceiveDataFast: WaitTo RecvData failed\n");
        EXPECT_FALSE(probe.HasSocket());
    }
}

TEST_F(Frames, APeerThatStopsInsideAPayloadTimesTheReceiveOut)
{
    // The first bytes arrive, so the wait before the transfer succeeds; the receive itself
    // must not wait for the rest for longer than the wait time-out.
    for (INT level : {0, 30}) {
        SetEchoFault(*server, FaultKind::StallMidMessage);
        probe.SetWaitTimeout(1);
        Connect();
        channel.SetLogLevel(level);
        host.Install(channel);
        testing::internal::CaptureStdout();
        EXPECT_EQ(Exchange(EchoRequest(std::string(1000, 's'))), "");
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(probe.HasSocket());
        if (level == 0)
            EXPECT_NE(printed.find("ReceiveDataFast: recv1 failed wsaerror (10060)"),
                      std::string::npos)
                << printed;
        else
            EXPECT_TRUE(host.Logged("CTransportSocket::ReceiveData recv error wsaerror 10060"));
        channel.SetCallback(0, nullptr);
        channel.SetLogLevel(0);
    }
}

TEST_F(Frames, APeerThatStopsReadingTimesTheSendOut)
{
    // The server takes one echo request and reads nothing more until released: a large send
    // behind it fills the connection's buffers and must not wait longer than the wait time-out.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    server->Commands().Set(kEcho, [released](RequestReader&, ReplyWriter& reply, ServerModel&) {
        released.wait();
        reply.NoReply();
    });
    const std::vector<BYTE> stop = EchoRequest("stop");
    const std::vector<BYTE> large = EchoRequest(std::string(64u << 20, 'l'));
    for (INT level : {0, 30}) {
        probe.SetWaitTimeout(1);
        Connect();
        channel.SetLogLevel(level);
        host.Install(channel);
        DWORD socketError = 0;
        EXPECT_EQ(channel.SendMsg(stop.data(), static_cast<DWORD>(stop.size()), &socketError), 1);
        EXPECT_EQ(channel.SendMsg(large.data(), static_cast<DWORD>(large.size()), &socketError), 0);
        EXPECT_EQ(probe.LastError(), 800u);
        EXPECT_FALSE(probe.HasSocket());
        if (level == 0) {
            EXPECT_EQ(socketError, static_cast<DWORD>(WSAETIMEDOUT));
        } else {
            bool logged = false;
            for (const std::string& message : host.Messages())
                logged = logged || message.rfind("SendData: send error wsaerror 10060 (", 0) == 0;
            EXPECT_TRUE(logged);
        }
        channel.SetCallback(0, nullptr);
        channel.SetLogLevel(0);
    }
    release.set_value();
}

TEST_F(Frames, AZeroTimeOutFailsTheWaitWithoutSelect)
{
    probe.SetWaitTimeout(0);
    DWORD selectFailed = 7;
    // Without a socket select would fail; the wait ends before it gets there.
    EXPECT_EQ(channel.WaitToRecvData(4, 0, &selectFailed), 0);
    EXPECT_EQ(selectFailed, 0u);
    EXPECT_EQ(channel.WaitToSendData(0, &selectFailed), 0);
    EXPECT_EQ(selectFailed, 0u);
    EXPECT_EQ(channel.WaitToRecvData(4, 1, &selectFailed), 0);
    EXPECT_EQ(selectFailed, 1u);

    probe.SetWaitTimeout(3600);
    Connect();
    probe.SetWaitTimeout(0);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Exchange(EchoRequest("x")), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ReceiveDataFast: WaitTo RecvData failed\n");
}

TEST_F(Frames, TheHostCancelsAReceiveThroughCode4)
{
    Connect();
    host.Install(channel);
    host.Answer(10, 5);
    host.Answer(4, 7);
    EXPECT_EQ(channel.SendMsg(EchoRequest("abc").data(), 7, nullptr), 1);
    EXPECT_EQ(probe.LastError(), 5u);
    ASSERT_GE(host.Count(10), 1u);
    EXPECT_EQ(host.Events().back().value, 7u);
    void* reply = nullptr;
    EXPECT_EQ(channel.ReceiveMsg(&reply), 0u);
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(probe.Cancel(), 1u);
    EXPECT_EQ(probe.LastError(), 7u);
    EXPECT_EQ(channel.IsConnected(), 0u);
    EXPECT_FALSE(probe.HasSocket());
    EXPECT_EQ(host.Count(4), 1u);
}

TEST_F(Frames, ReceivesAskForAtMostTheGetPacketSize)
{
    Connect();
    host.Install(channel);
    channel.SetGetPacketSize(1000);
    std::string data(10000, 'q');
    EXPECT_EQ(Exchange(EchoRequest(data)), data);
    // One cancellation poll per received piece: the two header words and at least ten
    // pieces of the payload.
    EXPECT_GE(host.Count(4), 12u);
}

TEST_F(Frames, SendFailuresLeaveTheirCodeAndTheSocketError)
{
    std::vector<BYTE> request = EchoRequest("abc");
    DWORD socketError = 0;
    EXPECT_EQ(channel.SendMsg(request.data(), 7, &socketError), 0);
    EXPECT_EQ(probe.LastError(), 700u);
    channel.SetLogLevel(30);
    EXPECT_EQ(channel.SendMsg(request.data(), 7, &socketError), 0);
    EXPECT_EQ(probe.LastError(), 700u);
    channel.SetLogLevel(0);

    // The server ends the connection on an unknown farewell; sends then meet a reset.
    server->Commands().Set(kEcho, [](RequestReader&, ReplyWriter& reply, ServerModel&) {
        reply.NoReply();
        reply.CloseConnection();
    });
    Connect();
    EXPECT_EQ(channel.SendMsg(request.data(), 7, &socketError), 1);
    // The server's close makes the socket readable; the reset that answers the next send
    // fails the ones after it.
    DWORD selectFailed = 0;
    EXPECT_EQ(channel.WaitToRecvData(4, 10, &selectFailed), 1);
    BOOL sent = 1;
    for (int attempt = 0; attempt < 1000 && sent; ++attempt) {
        sent = channel.SendMsg(request.data(), 7, &socketError);
        Sleep(1);
    }
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(probe.LastError(), 800u);
    EXPECT_EQ(socketError, static_cast<DWORD>(WSAECONNRESET));
    EXPECT_FALSE(probe.HasSocket());
}

TEST_F(Frames, TheLoggingVariantsReportEachStep)
{
    Connect();
    host.Install(channel);
    channel.SetLogLevel(40);
    channel.SetWaitBeforeChunk(1);
    EXPECT_EQ(Exchange(EchoRequest("0123456789")), "0123456789");
    std::string thread = "thread " + std::to_string(GetCurrentThreadId()) + ": ";
    EXPECT_TRUE(host.Logged(thread + "SendData [22]"));
    EXPECT_TRUE(host.Logged(thread + "SendDataChunk [22]"));
    EXPECT_TRUE(host.Logged(thread + "SendMsg [14]"));
    EXPECT_TRUE(host.Logged(thread + "ReceiveData [4]"));
    EXPECT_TRUE(host.Logged(thread + "ReceiveData ok [10]"));
    EXPECT_TRUE(host.Logged(thread + "ReceiveMsg [10]"));
    bool waitedToSend = false;
    for (const std::string& message : host.Messages())
        waitedToSend = waitedToSend || message.rfind("WaitTo SendData OK t=3600 ", 0) == 0;
    EXPECT_TRUE(waitedToSend);
}
