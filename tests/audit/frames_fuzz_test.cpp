// The first exchange of every connection, and the proxy's answer before it, met with any
// byte sequence at all: frames whose length word is near 0 or near 4 GiB, whose CRC is wrong,
// which end early or carry a short payload, and proxy answers of every shape. The channel must
// take exactly the well-formed command-index reply, and fail every other with a clear error
// text, in both receive variants (quiet and logged).
#include <algorithm>
#include <cstring>
#include <optional>

#include <gtest/gtest.h>

#include "audit/Hostile.h"
#include "audit/RawPeer.h"
#include "audit/ScriptedChannel.h"
#include "connection/Csocketclient.h"
#include "platform/text.h"
#include "support/ScopedEnv.h"
#include "support/ScriptedProxy.h"
#include "support/TempDir.h"
#include "util/Cutil.h"

namespace {

constexpr uint32_t kRounds = 120;
constexpr ULONGLONG kCommandIndex = 0x0102030405060708ull;

std::vector<BYTE> Frame(const std::vector<BYTE>& payload)
{
    DWORD crc = 0;
    Cutil::Crc32(payload.data(), static_cast<DWORD>(payload.size()), &crc, 1);
    WireBytes frame;
    frame.U32(static_cast<DWORD>(payload.size() + 4)).U32(crc);
    std::vector<BYTE> bytes = frame.Get();
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

// Whether the bytes begin with a frame that holds a successful command-index reply.
bool HoldsACommandIndex(const std::vector<BYTE>& bytes)
{
    std::optional<DWORD> cbData = WordIn(bytes, 0);
    std::optional<DWORD> crc = WordIn(bytes, 4);
    if (!cbData || !crc || *cbData < 4 || uint64_t{*cbData} + 4 > bytes.size())
        return false;
    const DWORD length = *cbData - 4;
    DWORD computed = 0;
    Cutil::Crc32(bytes.data() + 8, length, &computed, 1);
    return computed == *crc && length >= 16 && WordIn(bytes, 8) == 1u;
}

// A damaged frame: most often its length word set to a hostile value, else random damage.
std::vector<BYTE> Damaged(Mutator& random, const std::vector<BYTE>& frame)
{
    std::vector<BYTE> bytes = frame;
    switch (random.Below(3)) {
    case 0:
        random.PutHostileWord(bytes, 0);
        return bytes;
    case 1:
        bytes.resize(random.Below(static_cast<uint32_t>(bytes.size())));
        return bytes;
    default:
        return random.Mutate(bytes);
    }
}

class FrameFuzz : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(peer.Start()); }

    // Connects a fresh channel to the peer, at this log level and with or without a wait for
    // readability before each receive; the channel's first exchange meets the scripted bytes.
    BOOL ConnectTo(INT logLevel, std::string* errText, DWORD waitBeforeChunk = 0)
    {
        Csocketclient channel;
        channel.SetServer(Utf8ToUtf16(peer.Address()).c_str(), peer.Port());
        channel.SetSendSleep(0);
        channel.SetRecvSleep(0);
        host.Install(channel);
        channel.SetLogLevel(logLevel);
        channel.SetWaitBeforeChunk(waitBeforeChunk);
        WCHAR text[CTransportSocket::kErrorTextCapacity] = {};
        const BOOL connected = channel.Connect(text);
        *errText = Utf16ToUtf8(text);
        channel.Disconnect(1);
        return connected;
    }

    TempDir folder;
    ScopedEnv registry{"KELVANE_REGISTRY", (folder.path() / "registry.ini").string()};
    HostRecorder host;
    RawPeer peer;
};

}  // namespace

TEST_F(FrameFuzz, OnlyAWholeFrameWithItsCrcAndAFullReplyGivesACommandIndex)
{
    const std::vector<BYTE> whole = Frame(WireBytes().U32(1).U64(kCommandIndex).U32(0));
    Mutator random(301);
    uint32_t connections = 0;
    for (uint32_t round = 0; round < kRounds; ++round) {
        const std::vector<BYTE> bytes = round == 0 ? whole : Damaged(random, whole);
        peer.Script(bytes);
        const INT level = round % 2 == 0 ? 0 : 40;
        const DWORD wait = round % 4 >= 2 ? 1 : 0;
        SCOPED_TRACE(testing::Message() << "round " << round << ", level " << level);
        std::string errText;
        const BOOL connected = ConnectTo(level, &errText, wait);
        ASSERT_EQ(connected != 0, HoldsACommandIndex(bytes)) << errText;
        if (connected) {
            ++connections;
            continue;
        }
        EXPECT_EQ(errText.rfind("GetCommandIndex: ReceiveMsg", 0), 0u) << errText;
    }
    EXPECT_GE(connections, 1u);
}

TEST_F(FrameFuzz, LengthWordsThatCannotBeAFrameOrWrapItsAllocationAreRefused)
{
    const std::vector<BYTE> payload = WireBytes().U32(1).U64(kCommandIndex).U32(0);
    for (DWORD cbData : {0u, 1u, 2u, 3u, 4u, 5u, 19u, 0x7FFFFFFFu, 0xFFFFFFEFu, 0xFFFFFFF0u,
                         0xFFFFFFFBu, 0xFFFFFFFCu, 0xFFFFFFFFu}) {
        for (INT level : {0, 40}) {
            SCOPED_TRACE(testing::Message() << "cbData " << cbData << ", level " << level);
            std::vector<BYTE> frame = Frame(payload);
            for (int i = 0; i < 4; ++i)
                frame[i] = static_cast<BYTE>(cbData >> (8 * i));
            peer.Script(frame);
            std::string errText;
            EXPECT_EQ(ConnectTo(level, &errText), 0);
            EXPECT_EQ(errText.rfind("GetCommandIndex: ReceiveMsg failed", 0), 0u) << errText;
        }
    }
}

TEST_F(FrameFuzz, AFrameCutAtEveryLengthIsRefused)
{
    const std::vector<BYTE> whole = Frame(WireBytes().U32(1).U64(kCommandIndex).U32(0));
    for (size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE(length);
        peer.Script(std::vector<BYTE>(whole.begin(), whole.begin() + length));
        std::string errText;
        EXPECT_EQ(ConnectTo(length % 2 == 0 ? 0 : 40, &errText), 0);
        EXPECT_EQ(errText.rfind("GetCommandIndex: ReceiveMsg failed", 0), 0u) << errText;
    }
}

namespace {

// Connects through a proxy that answers the CONNECT request with exactly these bytes.
BOOL ConnectThroughProxy(const std::string& answer, std::string* errText)
{
    ScriptedProxy proxy(answer);
    if (!proxy.Start()) {
        ADD_FAILURE() << "the proxy could not listen";
        return 0;
    }
    Csocketclient channel;
    channel.SetSendSleep(0);
    channel.SetRecvSleep(0);
    channel.SetUseProxy(1);
    channel.SetProxyFallback(0);
    channel.SetProxy(u"127.0.0.1", proxy.Port());
    channel.SetServer(u"server.invalid", 443);
    WCHAR text[CTransportSocket::kErrorTextCapacity] = {};
    const BOOL connected = channel.Connect(text);
    *errText = Utf16ToUtf8(text);
    return connected;
}

}  // namespace

TEST_F(FrameFuzz, ProxyAnswersOtherThanTwoHundredFailTheConnectionWithTheirStatus)
{
    struct Case {
        std::string answer;
        std::string errText;
    };
    const std::vector<Case> cases = {
        {"HTTP/1.0 407 Proxy Authentication Required\r\n\r\n", "HTTP_STATUS_PROXY_AUTH_REQ"},
        {"HTTP/1.1 401\r\n\r\n", "HTTP_STATUS_PROXY_AUTH_REQ"},
        {"HTTP/1.0 403 Forbidden\r\n\r\n", "proxy resp: 403"},
        {"HTTP/1.0 99999999999999999999 Big\r\n\r\n", "proxy resp: "},
        {"HTTP/1.0 -200\r\n\r\n", "proxy resp: 0"},
        {"HTTP/1.0\r\n200 OK\r\n\r\n", "proxy resp: 0"},
        {"HTTP/1.0 2OO\r\n\r\n", "proxy resp: 2"},
        {std::string("HTTP/1.0 \0 200\r\n\r\n", 17), "proxy resp: 0"},
        {"x", "proxy resp: 0"},
        {std::string(5000, 'A'), "proxy resp: 0"},
        {"HTTP/1.0" + std::string(4090, ' ') + "200\r\n\r\n", "proxy resp: 0"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.answer.substr(0, 40));
        std::string errText;
        EXPECT_EQ(ConnectThroughProxy(test.answer, &errText), 0);
        EXPECT_EQ(errText.rfind(test.errText, 0), 0u) << errText;
    }
}

TEST_F(FrameFuzz, RandomProxyAnswersFailTheConnectionWithAClearText)
{
    Mutator random(302);
    for (uint32_t round = 0; round < 40; ++round) {
        std::string answer = "HTTP/1.0 " + std::to_string(random.Below(1000)) + " X\r\n\r\n";
        const std::vector<BYTE> damaged =
            random.Mutate(std::vector<BYTE>(answer.begin(), answer.end()));
        answer.assign(damaged.begin(), damaged.end());
        // No digit 2 anywhere: the answer can never be the status that opens the tunnel.
        std::replace(answer.begin(), answer.end(), '2', '7');
        if (answer.empty())
            answer = "\n";
        SCOPED_TRACE(round);
        std::string errText;
        EXPECT_EQ(ConnectThroughProxy(answer, &errText), 0);
        const bool clear = errText.rfind("proxy resp: ", 0) == 0 ||
                           errText == "HTTP_STATUS_PROXY_AUTH_REQ" ||
                           errText == "Proxy Connection Failed";
        EXPECT_TRUE(clear) << errText;
    }
}

TEST_F(FrameFuzz, BytesATunnelSendsBeyondTheHelloAnswerAreNoFrame)
{
    // The proxy opens the tunnel, and the far end answers the hello with far more than one
    // read takes: what is left must be judged as a frame, and refused, not read past.
    const std::string answer = "HTTP/1.0 200 Connection established\r\n\r\n" +
                               std::string(9000, '\0');
    std::string errText;
    EXPECT_EQ(ConnectThroughProxy(answer, &errText), 0);
    EXPECT_EQ(errText.rfind("GetCommandIndex: ReceiveMsg failed", 0), 0u) << errText;
}
