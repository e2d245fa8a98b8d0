// Channels opened through a proxy tunnel, through the exports, against the many shapes of
// answer that servers and proxies give: the server's answer to the hello may be an SSL 3
// greeting whole or in any pieces, a cut one, or no greeting at all; the proxy's answer may
// come a byte at a time, end its lines in a bare LF, or have no blank line. Every row must
// connect (waiting at most the short grace where the answer leaves it open), or fail at
// once, never wait out the hour-long wait time-out of an exported channel.
#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "connection/CCreatePacket.h"
#include "connection/ChannelProbe.h"
#include "platform/text.h"
#include "support/KelvaneLibrary.h"
#include "support/LoginServer.h"
#include "support/RegistryFile.h"
#include "support/ScriptedProxy.h"
#include "support/Tinyproxy.h"
#include "tools/server/HelloAnswer.h"

namespace {

using Bytes = std::vector<BYTE>;
using Segments = std::vector<HelloAnswer::Segment>;

// Far below the wait time-out, well above the grace of a connect that waits one out.
constexpr auto kPromptly = std::chrono::seconds(8);

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

// A record of version 3.minor (TLS 1.0 unless told).
Bytes Record(BYTE type, const Bytes& body, BYTE minor = 0x01)
{
    return Join({{type, 0x03, minor, static_cast<BYTE>(body.size() >> 8),
                  static_cast<BYTE>(body.size())},
                 body});
}

// A handshake message: its type, a 24-bit length, its body.
Bytes Message(BYTE type, size_t length, BYTE fill)
{
    return Join({{type, static_cast<BYTE>(length >> 16), static_cast<BYTE>(length >> 8),
                  static_cast<BYTE>(length)},
                 Bytes(length, fill)});
}

const Bytes kServerHello = Message(0x02, 70, 0x5A);
const Bytes kHelloDone = Message(0x0E, 0, 0);
Bytes Certificate(size_t length)
{
    return Message(0x0B, length, 0xC3);
}

// The greeting of a server that sends each handshake message in a record of its own.
Bytes Greeting(size_t certificateLength)
{
    return Join({Record(0x16, kServerHello), Record(0x16, Certificate(certificateLength)),
                 Record(0x16, kHelloDone)});
}

Segments Whole(const Bytes& bytes)
{
    return {{0, bytes}};
}

// The bytes in segments of size bytes, each after a pause.
Segments InPieces(const Bytes& bytes, size_t size, DWORD pause)
{
    Segments segments;
    for (size_t at = 0; at < bytes.size(); at += size)
        segments.push_back({at == 0 ? 0 : pause,
                            Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                  bytes.begin() + static_cast<std::ptrdiff_t>(
                                                      std::min(bytes.size(), at + size)))});
    return segments;
}

// The shortest greeting: one SSL 3.0 handshake record holding ServerHelloDone.
const Bytes kShortestGreeting = Record(0x16, kHelloDone, 0x00);
const Bytes kAlert = Record(0x15, {0x01, 0x00}, 0x00);

// What a server of a later version sends at once: its ServerHello, a ChangeCipherSpec, and
// the rest of its flight already enciphered, as application-data records.
Bytes LaterVersionFlight()
{
    return Join({Record(0x16, kServerHello, 0x03), Record(0x14, {0x01}, 0x03),
                 Record(0x17, Bytes(0x1B, 0x9E), 0x03), Record(0x17, Bytes(0x400, 0x9E), 0x03),
                 Record(0x17, Bytes(0x119, 0x9E), 0x03), Record(0x17, Bytes(0x45, 0x9E), 0x03)});
}

// Each record of the greeting a segment of its own.
Segments ByRecord(size_t certificateLength)
{
    return {{0, Record(0x16, kServerHello)},
            {20, Record(0x16, Certificate(certificateLength))},
            {20, Record(0x16, kHelloDone)}};
}

struct HelloRow {
    const char* name;
    Segments answer;
    // How the command index fails after an answer that closes the connection.
    const char* failure = "GetCommandIndex: Sendmsg failed (700)";
};

void PrintTo(const HelloRow& row, std::ostream* out)
{
    *out << row.name;
}

class HelloAnswers : public testing::TestWithParam<HelloRow> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound";
        ASSERT_TRUE(proxy.Start()) << proxy.Log();
    }

    // Opens a user channel through the proxy; its time goes to *elapsed.
    Csocketclient* Open(std::chrono::steady_clock::duration* elapsed)
    {
        uint32_t flags = 0;
        const auto start = std::chrono::steady_clock::now();
        Csocketclient* channel = library.OpenChannel(
            server.Address16().c_str(), u"alice", u"secret", &flags, 1, u"127.0.0.1",
            static_cast<int32_t>(proxy.Port()), u"", u"");
        *elapsed = std::chrono::steady_clock::now() - start;
        return channel;
    }

    KelvaneLibrary& library = KelvaneLibrary::Get();
    LoginServer server;
    Tinyproxy proxy;
};

}  // namespace

TEST_P(HelloAnswers, OpenAWorkingChannelPromptly)
{
    server.Server().SetHelloAnswer(HelloAnswer(GetParam().answer));
    std::chrono::steady_clock::duration elapsed{};
    Csocketclient* channel = Open(&elapsed);
    ASSERT_NE(channel, nullptr) << proxy.Log();
    EXPECT_LT(elapsed, kPromptly);
    EXPECT_EQ(server.Server().Log().Hellos().size(), 1u);
    library.CloseChannel(channel);
}

INSTANTIATE_TEST_SUITE_P(
    AnyAnswer, HelloAnswers,
    testing::Values(
        HelloRow{"OneHandshakeByte", Whole({0x16})},
        HelloRow{"OneZeroByte", Whole({0x00})},
        HelloRow{"TwoBytes", Whole({0x16, 0x03})},
        HelloRow{"TwoHighBytes", Whole({0xFF, 0xFF})},
        HelloRow{"ThreeBytes", Whole({0x15, 0x03, 0x01})},
        HelloRow{"FourBytes", Whole({0x80, 0x2E, 0x04, 0x00})},
        HelloRow{"SixBytesOfACutRecord", Whole({0x16, 0x03, 0x00, 0x00, 0x04, 0x0E})},
        HelloRow{"SixLetters", Whole({'a', 'b', 'c', 'd', 'e', 'f'})},
        HelloRow{"EightBytes", Whole({0x17, 0x03, 0x03, 0x00, 0x40, 0x01, 0x02, 0x03})},
        HelloRow{"SixtyFourBytesOfACutRecord",
                 Whole(Join({{0x16, 0x03, 0x01, 0x01, 0x00}, Bytes(59, 0x42)}))},
        HelloRow{"SixtyFourZeroBytes", Whole(Bytes(64, 0x00))},
        HelloRow{"ALengthClaimingMoreThanIsSent",
                 Whole(Join({{0x42, 0x03, 0x00, 0x20, 0x00}, Bytes(27, 0x07)}))},
        HelloRow{"ACutRecordOfZeroes", Whole({0x16, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00})},
        HelloRow{"AServerHelloAlone", Whole(Record(0x16, kServerHello))},
        HelloRow{"AnSsl2ServerHello", Whole(Join({{0x80, 0x3B, 0x04, 0x00, 0x01, 0x00, 0x02},
                                                  Bytes(57, 0x33)}))},
        HelloRow{"AnHttpAnswer", Whole(Bytes{'H', 'T', 'T', 'P', '/', '1', '.', '1', ' ', '4',
                                             '0', '0', '\r', '\n', '\r', '\n'})},
        HelloRow{"AnAlert", Whole(Record(0x15, {0x02, 0x28}))},
        HelloRow{"RecordsInSegmentsOfTheirOwn", ByRecord(4096)},
        HelloRow{"SegmentsOf1400Bytes", InPieces(Greeting(4096), 1400, 20)},
        HelloRow{"SegmentsOf100Bytes", InPieces(Greeting(1024), 100, 5)},
        HelloRow{"SegmentsOfOneByte", InPieces(Greeting(120), 1, 2)},
        HelloRow{"ACutInsideTheFirstRecordHeader",
                 Segments{{0, {0x16, 0x03}}, {30, Join({{0x01, 0x00, 0x4A}, kServerHello})},
                          {30, Record(0x16, kHelloDone)}}},
        HelloRow{"FourKilobytesInOneSegment", Whole(Greeting(4096))},
        HelloRow{"AllInOneRecord",
                 Whole(Record(0x16, Join({kServerHello, Certificate(4096), kHelloDone})))},
        // More than a greeting in the first receive: nothing of it may be taken for a frame.
        HelloRow{"AGreetingThenFourHighBytes",
                 Whole(Join({kShortestGreeting, {0xFF, 0xFF, 0xFF, 0xFF}}))},
        HelloRow{"AGreetingThenEightZeroBytes", Whole(Join({kShortestGreeting, Bytes(8, 0x00)}))},
        HelloRow{"TwoAlerts", Whole(Join({kAlert, kAlert}))},
        HelloRow{"ALaterVersionFlight", Whole(LaterVersionFlight())},
        // Answers that end before their last segment came: the rest is no frame either.
        HelloRow{"ALaterVersionFlightInSegmentsOf1400Bytes",
                 InPieces(Join({LaterVersionFlight(), LaterVersionFlight()}), 1400, 5)},
        HelloRow{"AServerHelloThenAnHttpAnswer",
                 Segments{{0, Record(0x16, kServerHello)},
                          {30, Bytes{'H', 'T', 'T', 'P', '/', '1', '.', '1', ' ', '4', '0', '0',
                                     '\r', '\n', '\r', '\n'}}}},
        // An answer that reaches the bound and ends there has been read whole.
        HelloRow{"AnOkThenUpToTheBound",
                 InPieces(Join({{'O', 'K'}, Bytes(0x10000, 0x61)}), 1400, 5)}),
    [](const testing::TestParamInfo<HelloRow>& info) { return info.param.name; });

// A greeting that never ends is read up to a bound, and the connection is then given up at
// once, instead of leaving the rest of its records to be taken for frames.
TEST_F(HelloAnswers, AGreetingThatNeverEndsFailsAtOnce)
{
    const Bytes record = Record(0x16, Certificate(16000));
    server.Server().SetHelloAnswer(HelloAnswer(InPieces(Join({record, record, record, record,
                                                              record}),
                                                        4096, 0)));
    std::chrono::steady_clock::duration elapsed{};
    EXPECT_EQ(Open(&elapsed), nullptr);
    EXPECT_LT(elapsed, kPromptly);
    EXPECT_EQ(server.RequestCount(CCreatePacket::kGetCommandIndex), 0u);
}

namespace {

// Answers that may go on, still coming when the set-up's deadline or the answer's bound
// comes: the connection closes then, so that none of what keeps coming is read as a frame.
class HelloAnswersStillComing : public HelloAnswers {
protected:
    static constexpr ULONGLONG kWaitTimeout = 2;

    RegistryFile registry;
    Csocketclient channel;
    ChannelProbe probe{channel};
};

// After the answer, one byte every 100 to 200 ms, for far longer than the deadline.
Segments ThenAByteAtATime(const Bytes& answer)
{
    Segments segments = Whole(answer);
    for (DWORD byte = 0; byte < 60; ++byte)
        segments.push_back({100 + byte % 3 * 50, {0x61}});
    return segments;
}

// The same after a pause that ends the answer (well over 250 ms).
Segments AfterAPause(const Bytes& answer)
{
    Segments segments = ThenAByteAtATime(answer);
    segments[1].pause = 600;
    return segments;
}

}  // namespace

TEST_P(HelloAnswersStillComing, CloseTheConnection)
{
    server.Server().SetHelloAnswer(HelloAnswer(GetParam().answer));
    channel.SetServer(server.Address16().c_str(), StandinServer::kDefaultPort);
    channel.SetUseProxy(1);
    channel.SetProxy(u"127.0.0.1", proxy.Port());
    channel.SetRecvSleep(0);
    probe.SetWaitTimeout(kWaitTimeout);
    WCHAR errText[CTransportSocket::kErrorTextCapacity] = {};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(channel.Connect(errText), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(kWaitTimeout) + std::chrono::seconds(1));
    EXPECT_EQ(Utf16ToUtf8(errText).rfind(GetParam().failure, 0), 0u) << Utf16ToUtf8(errText);
    EXPECT_FALSE(probe.HasSocket());
    EXPECT_EQ(server.RequestCount(CCreatePacket::kGetCommandIndex), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    PastTheDeadlineOrTheBound, HelloAnswersStillComing,
    testing::Values(
        HelloRow{"AnOkThenAByteAtATime", ThenAByteAtATime({'O', 'K'})},
        HelloRow{"AnAlertThenAByteAtATime", ThenAByteAtATime(kAlert)},
        HelloRow{"ALaterVersionFlightThenAByteAtATime", ThenAByteAtATime(LaterVersionFlight())},
        HelloRow{"AnOkThenMoreThanTheBound",
                 InPieces(Join({{'O', 'K'}, Bytes(0x12000, 0x61)}), 1400, 5)},
        // Bytes that come after the answer has ended reach the frame reader, which refuses
        // them as a length at once instead of waiting for so long a frame.
        HelloRow{"AGreetingThenAByteAtATime", ThenAByteAtATime(kShortestGreeting),
                 "GetCommandIndex: ReceiveMsg failed ("},
        HelloRow{"AnOkThenAPauseThenAByteAtATime", AfterAPause({'O', 'K'}),
                 "GetCommandIndex: ReceiveMsg failed ("}),
    [](const testing::TestParamInfo<HelloRow>& info) { return info.param.name; });

namespace {

const std::string kEstablished = "HTTP/1.0 200 Connection established\r\n";

struct ProxyRow {
    const char* name;
    std::vector<std::string> answer;
    // What the proxy does after the answer: tunnel to the server, or hold the connection open.
    bool tunnels;
    // CheckProxySettings' error text; empty when the check must succeed.
    std::string errText;
};

void PrintTo(const ProxyRow& row, std::ostream* out)
{
    *out << row.name;
}

std::vector<std::string> OneByteAtATime(const std::string& answer)
{
    std::vector<std::string> pieces;
    for (char byte : answer)
        pieces.emplace_back(1, byte);
    return pieces;
}

class ProxyAnswers : public testing::TestWithParam<ProxyRow> {
protected:
    void SetUp() override { ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound"; }

    LoginServer server;
};

}  // namespace

TEST_P(ProxyAnswers, AreJudgedPromptly)
{
    const ProxyRow& row = GetParam();
    ScriptedProxy proxy(row.answer);
    if (row.tunnels)
        proxy.TunnelTo(server.Address(), 443);
    else
        proxy.HoldOpen();
    ASSERT_TRUE(proxy.Start());
    char16_t errText[256] = {};
    const auto start = std::chrono::steady_clock::now();
    const int32_t result =
        EXPORT(CheckProxySettings)(u"127.0.0.1", static_cast<int32_t>(proxy.Port()), u"", u"",
                                   server.Address16().c_str(), 443, errText, 256);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kPromptly);
    EXPECT_EQ(result, row.errText.empty() ? 1 : 0);
    EXPECT_EQ(Utf16ToUtf8(errText), row.errText);
}

INSTANTIATE_TEST_SUITE_P(
    AnyAnswer, ProxyAnswers,
    testing::Values(
        ProxyRow{"OneByteAtATime",
                 OneByteAtATime(kEstablished + "Proxy-agent: scripted/1.0\r\n\r\n"), true, ""},
        ProxyRow{"AStatusLineWithoutABlankLine", {kEstablished}, true, ""},
        ProxyRow{"ABareLineFeedBeforeTheBlankLine",
                 {"HTTP/1.0 200 Connection established\nProxy-agent: scripted/1.0\n\r\n"}, true,
                 ""},
        ProxyRow{"AnAuthenticationRequestAlone",
                 {"HTTP/1.0 407 Proxy Authentication Required\r\n"}, false,
                 "HTTP_STATUS_PROXY_AUTH_REQ"},
        ProxyRow{"ARefusalAloneInPieces", {"HTTP/1.0 40", "3 Forbidden\r\n"}, false,
                 "proxy resp: 403"}),
    [](const testing::TestParamInfo<ProxyRow>& info) { return info.param.name; });
