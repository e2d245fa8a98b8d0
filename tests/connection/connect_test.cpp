#include <chrono>

#include "connection/ServerChannel.h"
#include "connection/UnresolvableName.h"

namespace {

using Connecting = ServerChannel;

std::string Text(const WCHAR* text)
{
    return Utf16ToUtf8(text);
}

// Answers the command-index request with the given words.
CommandHandler CommandIndexReply(std::vector<DWORD> words)
{
    return [words](RequestReader&, ReplyWriter& reply, ServerModel&) {
        for (DWORD word : words)
            reply.PutU32(word);
    };
}

}

TEST_F(Connecting, ADottedAddressConnectsAndFetchesTheCommandIndex)
{
    server->Commands().Set(75, CommandIndexReply({1, 0x89ABCDEF, 0x01234567, 0x55AA}));
    host.Install(channel);
    channel.SetLogLevel(40);
    probe.SetCancel(1);
    WCHAR errText[CTransportSocket::kErrorTextCapacity];
    ASSERT_EQ(channel.Connect(errText), 1) << Text(errText);
    EXPECT_EQ(Text(errText), "CTransportSocket::SocketConnect ok");
    EXPECT_EQ(channel.IsConnected(), 1u);
    EXPECT_EQ(probe.Cancel(), 0u);
    EXPECT_EQ(probe.CommandIndex(), 0x0123456789ABCDEFull);
    EXPECT_EQ(probe.CommandIndexWord(), 0x55AAu);

    EXPECT_EQ(server->Log().ConnectionCount(), 1u);
    EXPECT_TRUE(server->Log().Hellos().empty());
    std::vector<RecordedRequest> requests = server->Log().Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(requests[0].tunnelled);
    EXPECT_EQ(requests[0].payload, (std::vector<BYTE>{0x4B, 0, 0, 0}));

    const std::string& address = server->Address();
    EXPECT_TRUE(host.Logged("CreateConnectedSocket to " + address + " port 443"));
    EXPECT_TRUE(host.Logged("Create Connected Socket: Trying direct connection ..."));
    EXPECT_TRUE(host.Logged("CreateConnectedSocket: call connect to " + address + " (" +
                                address + ")"));
    EXPECT_TRUE(host.Logged("CreateConnectedSocket: call connect to " + address + " complete."));
    EXPECT_TRUE(host.Logged("connected to " + address + " port 443 ok ci (0)"));
}

TEST_F(Connecting, AHostNameIsResolved)
{
    StandinServer named("127.0.0.1", 0);
    ASSERT_TRUE(named.Start());
    channel.SetServer(u"localhost", named.Port());
    Connect();
    EXPECT_EQ(channel.IsConnected(), 1u);
    EXPECT_EQ(probe.CommandIndex(), named.Model().LastCommandIndex());
    EXPECT_EQ(named.Log().Requests(75).size(), 1u);
}

TEST_F(Connecting, FailuresLeaveTheirTextAndAnUnconnectedChannel)
{
    WCHAR errText[CTransportSocket::kErrorTextCapacity];
    channel.SetServer(Utf8ToUtf16(kUnresolvableName).c_str(), 443);
    EXPECT_EQ(channel.Connect(errText), 0);
    EXPECT_EQ(Text(errText), "gethostbyname failed for [" + std::string(kUnresolvableName) +
                                 "] wsaerror 11001. check internet connection or dns.");
    EXPECT_FALSE(probe.HasSocket());

    server->Stop();
    const std::string& address = server->Address();
    channel.SetServer(Utf8ToUtf16(address).c_str(), 443);
    EXPECT_EQ(channel.Connect(errText), 0);
    EXPECT_EQ(Text(errText), "CreateConnectedSocket: connect wsaerror 10061 " + address + " (" +
                                 address + ") (443)");
    EXPECT_EQ(channel.IsConnected(), 0u);
    EXPECT_FALSE(probe.HasSocket());
}

TEST_F(Connecting, OnlyACompleteCommandIndexReplyWithResultOneConnects)
{
    WCHAR errText[CTransportSocket::kErrorTextCapacity];
    const std::string rcFail = "GetCommandIndex: ReceiveMsg ok rc=fail (0) wsaerror (";
    for (std::vector<DWORD> reply : {std::vector<DWORD>{0, 5, 0, 0}, std::vector<DWORD>{2, 5, 0, 0},
                                     std::vector<DWORD>{1, 5, 0}}) {
        server->Commands().Set(75, CommandIndexReply(reply));
        EXPECT_EQ(channel.Connect(errText), 0) << reply[0] << " " << reply.size();
        EXPECT_EQ(Text(errText).rfind(rcFail, 0), 0u) << Text(errText);
        EXPECT_EQ(probe.CommandIndex(), 0u);
    }

    ServerFault fault;
    fault.kind = FaultKind::WrongCrc;
    fault.command = 75;
    server->SetFault(fault);
    EXPECT_EQ(channel.Connect(errText), 0);
    EXPECT_EQ(Text(errText).rfind("GetCommandIndex: ReceiveMsg failed (0) wsaerror (", 0), 0u)
        << Text(errText);
    EXPECT_EQ(channel.IsConnected(), 0u);
}

TEST_F(Connecting, DisconnectSaysFarewellAndClosesOnce)
{
    Connect();
    probe.SetLoginState(probe.CommandIndex(), 1, 5);
    EXPECT_EQ(channel.Disconnect(0), 1);
    ASSERT_TRUE(server->Log().WaitForRequests(0, 1, std::chrono::seconds(10)));
    EXPECT_EQ(server->Log().Requests(0)[0].payload, (std::vector<BYTE>{0, 0, 0, 0}));
    EXPECT_EQ(channel.IsConnected(), 0u);
    EXPECT_EQ(probe.CommandIndex(), 0u);
    EXPECT_EQ(channel.IsAuthenticated(), 0u);
    EXPECT_EQ(channel.GetSessionFlag40(), 0u);

    // Without a socket nothing is sent and nothing else changes.
    probe.SetCancel(1);
    EXPECT_EQ(channel.Disconnect(1), 1);
    EXPECT_EQ(probe.Cancel(), 1u);
    probe.SetLoginState(9, 1, 1);
    EXPECT_EQ(channel.CloseSocket(0), 1);
    EXPECT_EQ(probe.CommandIndex(), 0u);
    EXPECT_EQ(channel.IsAuthenticated(), 0u);
    EXPECT_EQ(channel.GetSessionFlag40(), 0u);
}

TEST_F(Connecting, DestroyingAConnectedChannelSaysFarewell)
{
    {
        Csocketclient other;
        other.SetServer(Utf8ToUtf16(server->Address()).c_str(), 443);
        WCHAR errText[CTransportSocket::kErrorTextCapacity];
        ASSERT_EQ(other.Connect(errText), 1) << Text(errText);
    }
    EXPECT_TRUE(server->Log().WaitForRequests(0, 1, std::chrono::seconds(10)));
}
