#include <chrono>

#include "connection/ServerChannel.h"
#include "support/ScriptedProxy.h"
#include "support/Tinyproxy.h"
#include "tools/server/HelloAnswer.h"

namespace {

class Proxy : public ServerChannel {
protected:
    void UseProxy(DWORD port)
    {
        channel.SetUseProxy(1);
        channel.SetProxy(u"127.0.0.1", port);
    }

    std::string Connect()
    {
        WCHAR errText[CTransportSocket::kErrorTextCapacity] = {};
        return channel.Connect(errText) ? "connected" : Utf16ToUtf8(errText);
    }

    std::string ConnectRequest(const std::string& authorization = "") const
    {
        const std::string& host = server->Address();
        return "CONNECT " + host + ":443 HTTP/1.0\r\n"
               "User-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0)\r\n"
               "Host: " + host + "\r\n"
               "Content-Length: 0\r\nProxy-Connection: Keep-Alive\r\nPragma: no-cache\r\n" +
               (authorization.empty() ? "" : "Proxy-Authorization: Basic " + authorization + "\r\n") +
               "\r\n";
    }
};

const std::vector<BYTE> kHello = {
    0x80, 0x4C, 0x01, 0x03, 0x00, 0x00, 0x33, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x04, 0x00, 0x00,
    0x05, 0x00, 0x00, 0x0A, 0x01, 0x00, 0x80, 0x07, 0x00, 0xC0, 0x03, 0x00, 0x80, 0x00, 0x00, 0x09,
    0x06, 0x00, 0x40, 0x00, 0x00, 0x64, 0x00, 0x00, 0x62, 0x00, 0x00, 0x03, 0x00, 0x00, 0x06, 0x02,
    0x00, 0x80, 0x04, 0x00, 0x80, 0x00, 0x00, 0x13, 0x00, 0x00, 0x12, 0x00, 0x00, 0x63, 0xCC, 0xA6,
    0xF8, 0x01, 0x0F, 0x43, 0x45, 0x01, 0x5B, 0x23, 0x9C, 0x58, 0x64, 0xAD, 0x64, 0xDB, 0x00};

}

TEST_F(Proxy, TinyproxyTunnelsTheHelloAndTheFrames)
{
    Tinyproxy proxy;
    ASSERT_TRUE(proxy.Start()) << proxy.Log();
    UseProxy(proxy.Port());
    ASSERT_EQ(Connect(), "connected") << proxy.Log();
    EXPECT_EQ(probe.ProxyActive(), 1u);
    EXPECT_EQ(probe.CommandIndex(), server->Model().LastCommandIndex());
    EXPECT_EQ(Exchange(EchoRequest("through the tunnel")), "through the tunnel");

    ASSERT_EQ(Connect(), "connected");
    std::vector<RecordedHello> hellos = server->Log().Hellos();
    ASSERT_EQ(hellos.size(), 2u);
    EXPECT_EQ(hellos[0].bytes, kHello);
    std::vector<RecordedRequest> requests = server->Log().Requests(75);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].tunnelled);
    EXPECT_TRUE(requests[1].tunnelled);
}

TEST_F(Proxy, TinyproxyWithBasicAuthenticationLetsOnlyTheRightCredentialsIn)
{
    Tinyproxy proxy;
    ASSERT_TRUE(proxy.Start("user", "password")) << proxy.Log();
    UseProxy(proxy.Port());
    EXPECT_EQ(Connect(), "HTTP_STATUS_PROXY_AUTH_REQ");
    EXPECT_EQ(channel.IsConnected(), 0u);
    EXPECT_FALSE(probe.HasSocket());
    channel.SetProxyCredentials(u"user", u"wrong");
    EXPECT_EQ(Connect(), "HTTP_STATUS_PROXY_AUTH_REQ");
    channel.SetProxyCredentials(u"user", u"password");
    EXPECT_EQ(Connect(), "connected") << proxy.Log();
    EXPECT_EQ(server->Log().Hellos().size(), 1u);
}

TEST_F(Proxy, ARefusedConnectGivesTheProxysStatus)
{
    Tinyproxy proxy;
    ASSERT_TRUE(proxy.Start()) << proxy.Log();
    UseProxy(proxy.Port());
    channel.SetServer(Utf8ToUtf16(server->Address()).c_str(), 444);
    EXPECT_EQ(Connect(), "proxy resp: 403");
    EXPECT_FALSE(probe.HasSocket());
}

TEST_F(Proxy, OnlyTheFirstLineOfTheAnswerIsJudged)
{
    const std::pair<const char*, const char*> cases[] = {
        {"HTTP/1.1 401 Unauthorized\r\n\r\n", "HTTP_STATUS_PROXY_AUTH_REQ"},
        {"HTTP/1.0 407 Proxy Authentication Required\r\n\r\n", "HTTP_STATUS_PROXY_AUTH_REQ"},
        {"HTTP/1.0 502 Bad Gateway\r\nX-Status: 200\r\n\r\n", "proxy resp: 502"},
        {"nonsense\r\n\r\n", "proxy resp: 0"},
        {"HTTP/1.0\n200 Connection established\r\n\r\n", "proxy resp: 0"},
        {"HTTP/1.0 forbidden 200\r\n\r\n", "proxy resp: 0"}};
    for (const auto& [answer, result] : cases) {
        ScriptedProxy proxy(answer);
        ASSERT_TRUE(proxy.Start());
        UseProxy(proxy.Port());
        EXPECT_EQ(Connect(), result) << answer;
    }
}

TEST_F(Proxy, AHeaderLongerThanTheAnswerBufferIsRefused)
{
    ScriptedProxy proxy("HTTP/1.0 200 Connection established\r\nX-Padding: " +
                        std::string(5000, 'x') + "\r\n\r\n");
    ASSERT_TRUE(proxy.Start());
    UseProxy(proxy.Port());
    probe.SetWaitTimeout(10);
    EXPECT_EQ(Connect(), "proxy resp: 200");
    EXPECT_FALSE(probe.HasSocket());
    EXPECT_TRUE(server->Log().Hellos().empty());
}

TEST_F(Proxy, AnAnswerInPiecesOpensAWorkingTunnel)
{
    const std::string answer =
        "HTTP/1.0 200 Connection established\r\nProxy-agent: scripted/1.0\r\n\r\n";
    const size_t statusLineEnd = answer.find("\r\n") + 2;
    std::vector<std::string> fewBytesAtATime;
    for (size_t i = 0; i < answer.size(); i += 3)
        fewBytesAtATime.push_back(answer.substr(i, 3));
    const std::vector<std::string> splits[] = {
        {answer.substr(0, statusLineEnd), answer.substr(statusLineEnd)}, fewBytesAtATime};
    for (const std::vector<std::string>& pieces : splits) {
        ScriptedProxy proxy(pieces);
        proxy.TunnelTo(server->Address(), 443);
        ASSERT_TRUE(proxy.Start());
        UseProxy(proxy.Port());
        // A hello answer left behind would be read as a frame that never completes.
        probe.SetWaitTimeout(10);
        EXPECT_EQ(Connect(), "connected") << pieces.size() << " pieces";
        EXPECT_EQ(Exchange(EchoRequest("through the tunnel")), "through the tunnel");
    }
    EXPECT_EQ(server->Log().Hellos().size(), 2u);
}

TEST_F(Proxy, BytesAfterTheHeaderStartTheTunnelsStream)
{
    // A proxy that sends, with its header, the server's answer to the hello and the reply to
    // the command-index request: the channel must take both from what came with the header.
    const std::vector<BYTE> helloAnswer = {0x16, 0x03, 0x00, 0x00, 0x04, 0x0E, 0x00, 0x00, 0x00};
    const DWORD reply[] = {1, 0x89ABCDEF, 0x01234567, 0x55AA};
    DWORD crc = 0;
    Cutil::Crc32(reply, sizeof reply, &crc, 1);
    const DWORD header[] = {sizeof reply + 4, crc};
    std::string answer = "HTTP/1.0 200 Connection established\r\n\r\n";
    answer.append(helloAnswer.begin(), helloAnswer.end());
    answer.append(reinterpret_cast<const char*>(header), sizeof header);
    answer.append(reinterpret_cast<const char*>(reply), sizeof reply);
    ScriptedProxy proxy(answer);
    ASSERT_TRUE(proxy.Start());
    UseProxy(proxy.Port());
    probe.SetWaitTimeout(10);
    EXPECT_EQ(Connect(), "connected");
    EXPECT_EQ(probe.CommandIndex(), 0x0123456789ABCDEFull);
}

// What follows an answer that ended with the header (here an alert) is no frame either: the
// command index fails at once, instead of waiting for the payload its first bytes announce
// (785 bytes for the header of a second alert, of SSL 3.0).
TEST_F(Proxy, BytesAfterTheHeaderThatAreNoFrameFailAtOnce)
{
    const std::vector<BYTE> alerts = {0x15, 0x03, 0x01, 0x00, 0x02, 0x02, 0x28,
                                      0x15, 0x03, 0x00, 0x00, 0x02, 0x01, 0x00};
    std::string answer = "HTTP/1.0 200 Connection established\r\n\r\n";
    answer.append(alerts.begin(), alerts.end());
    ScriptedProxy proxy(answer);
    proxy.HoldOpen();
    ASSERT_TRUE(proxy.Start());
    UseProxy(proxy.Port());
    probe.SetWaitTimeout(10);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Connect().rfind("GetCommandIndex: ReceiveMsg failed (", 0), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(probe.HasSocket());
}

TEST_F(Proxy, TheConnectRequestCarriesTheAuthorizationOnlyWhenThereIsOne)
{
    ScriptedProxy proxy("HTTP/1.0 407 Proxy Authentication Required\r\n\r\n");
    ASSERT_TRUE(proxy.Start());
    UseProxy(proxy.Port());
    Connect();
    channel.SetProxyCredentials(u"user", u"");
    Connect();
    std::vector<std::string> requests = proxy.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], ConnectRequest());
    EXPECT_EQ(requests[1], ConnectRequest("dXNlcjo="));
}

TEST_F(Proxy, AnUnreachableProxyFallsBackToDirectConnectionsWhenAllowed)
{
    // Nothing listens on port 1 of the server's address.
    channel.SetUseProxy(1);
    channel.SetProxy(Utf8ToUtf16(server->Address()).c_str(), 1);
    EXPECT_EQ(Connect(), "Proxy Connection Failed with Error - 10061");
    EXPECT_EQ(probe.ProxyActive(), 1u);

    channel.SetProxyFallback(1);
    EXPECT_EQ(Connect(), "connected");
    EXPECT_EQ(probe.ProxyActive(), 0u);
    EXPECT_EQ(Connect(), "connected");
    EXPECT_EQ(server->Log().ConnectionCount(), 2u);
    EXPECT_TRUE(server->Log().Hellos().empty());
    for (const RecordedRequest& request : server->Log().Requests())
        EXPECT_FALSE(request.tunnelled);
}

TEST_F(Proxy, AServerThatDropsTheHelloFailsTheFirstExchange)
{
    Tinyproxy proxy;
    ASSERT_TRUE(proxy.Start()) << proxy.Log();
    ServerFault fault;
    fault.kind = FaultKind::NoHelloAnswer;
    server->SetFault(fault);
    UseProxy(proxy.Port());
    EXPECT_EQ(Connect().rfind("GetCommandIndex: Sendmsg failed (700) wsaerror (", 0), 0u);
    EXPECT_EQ(server->Log().Hellos().size(), 1u);
}

TEST_F(Proxy, PeersThatTrickleAreCutOffAtTheDeadline)
{
    // A proxy that trickles its header after the status line, and a server that trickles its
    // greeting, must not hold the set-up past its deadline of 2 seconds: the header still
    // coming then is cut ("proxy resp: 200"), and so is the connection of the greeting. Once
    // a byte every 20 ms with a receive sleep of 50 ms, so that each read finds a byte
    // waiting, and once a byte every 50 ms without a receive sleep, so that the deadline falls
    // while the channel waits for the next byte.
    struct Pace {
        INT recvSleep;
        DWORD byteEvery;
    };
    const auto deadline = std::chrono::seconds(2);
    const auto moment = std::chrono::seconds(1);
    for (const Pace pace : {Pace{50, 20}, Pace{0, 50}}) {
        SCOPED_TRACE(pace.byteEvery);
        channel.SetRecvSleep(pace.recvSleep);
        probe.SetWaitTimeout(2);
        // Ten seconds of bytes, far past the deadline.
        const size_t trickled = 10000 / pace.byteEvery;
        std::vector<std::string> header = {"HTTP/1.0 200 Connection established\r\n"};
        header.resize(1 + trickled, "x");
        ScriptedProxy tricklingProxy(header);
        tricklingProxy.PauseBetweenPieces(pace.byteEvery);
        ASSERT_TRUE(tricklingProxy.Start());
        UseProxy(tricklingProxy.Port());
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Connect(), "proxy resp: 200");
        EXPECT_LT(std::chrono::steady_clock::now() - start, deadline + moment);

        std::vector<HelloAnswer::Segment> greeting = {{0, {0x16, 0x03, 0x00, 0x48, 0x00}}};
        greeting.resize(1 + trickled, {pace.byteEvery, {0x61}});
        server->SetHelloAnswer(HelloAnswer(greeting));
        ScriptedProxy tunnel("HTTP/1.0 200 Connection established\r\n\r\n");
        tunnel.TunnelTo(server->Address(), 443);
        ASSERT_TRUE(tunnel.Start());
        UseProxy(tunnel.Port());
        start = std::chrono::steady_clock::now();
        EXPECT_EQ(Connect().rfind("GetCommandIndex: Sendmsg failed (700)", 0), 0u);
        EXPECT_LT(std::chrono::steady_clock::now() - start, deadline + moment);
    }
}
