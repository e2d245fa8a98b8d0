#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "SessionProbe.h"
#include "platform/text.h"
#include "support/AllocationFailure.h"
#include "support/LoopbackChannel.h"
#include "tools/server/LoginService.h"
#include "util/Cutil.h"

namespace {

DWORD WordAt(const std::vector<BYTE>& payload, size_t offset)
{
    DWORD value = 0;
    if (offset + 4 <= payload.size())
        std::memcpy(&value, payload.data() + offset, 4);
    return value;
}

class Session : public LoopbackChannel {
protected:
    void SetUp() override
    {
        LoopbackChannel::SetUp();
        if (HasFatalFailure())
            return;
        service.Register(server->Commands());
        service.AddUser("ab", "p");
        channel.SetUserCredentials(u"ab", u"p");
    }

    DWORD LoginUser()
    {
        DWORD maintenance = 0;
        DWORD lockedout = 0;
        return channel.LoginUser(&maintenance, &lockedout);
    }

    DWORD LoginMachine()
    {
        DWORD maintenance = 0;
        DWORD lockedout = 0;
        return channel.LoginMachine(&maintenance, &lockedout);
    }

    size_t RequestCount(DWORD code) const { return server->Log().Requests(code).size(); }

    LoginService service;
    SessionProbe probe{channel};
};

}  // namespace

TEST_F(Session, UserLoginSendsTrimmedCredentialsAndIsAccepted)
{
    channel.SetUserCredentials(u" ab ", u"p");
    LoginReplyFields reply;
    reply.status = 3;
    reply.sessionValue = 77;
    reply.maintenance = 4;
    reply.lockedOut = 5;
    reply.machineId = 0x1122334455667788ull;
    service.SetLoginReply(reply);
    Connect();

    DWORD maintenance = 0;
    DWORD lockedout = 0;
    EXPECT_EQ(channel.LoginUser(&maintenance, &lockedout), 1u);
    EXPECT_EQ(channel.IsAuthenticated(), 3u);
    EXPECT_EQ(channel.GetSessionFlag40(), 3u);
    EXPECT_EQ(maintenance, 4u);
    EXPECT_EQ(lockedout, 5u);
    EXPECT_EQ(probe.SessionValue(), 77u);
    EXPECT_EQ(probe.MachineId(), 0x1122334455667788ull);
    EXPECT_EQ(probe.LoginText(), "welcome");
    EXPECT_EQ(probe.UserName(), "ab");

    const auto logins = service.Logins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_TRUE(logins[0].accepted);
    EXPECT_EQ(logins[0].userName, "ab");
    EXPECT_EQ(logins[0].password, "p");
    EXPECT_EQ(logins[0].hostName, probe.HostName());
    EXPECT_EQ(logins[0].word2, 2u);
    const auto requests = server->Log().Requests(CCreatePacket::kAuthenticateUser);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(WordAt(requests[0].payload, 12), 2u);
    EXPECT_EQ(WordAt(requests[0].payload, 16), 1u);
    EXPECT_EQ(WordAt(requests[0].payload, 20), probe.HostName().size());
}

TEST_F(Session, SecondLoginCarriesTheSequenceWordOfTheFirstReply)
{
    LoginReplyFields reply;
    reply.sequenceWord = 0x5151;
    service.SetLoginReply(reply);
    Connect();
    ASSERT_EQ(LoginUser(), 1u);
    reply.sequenceWord = 0x6262;
    service.SetLoginReply(reply);
    ASSERT_EQ(LoginUser(), 1u);

    const auto logins = service.Logins();
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_EQ(logins[0].sequence, 1u);
    EXPECT_EQ(logins[1].sequence, 0x5151u);
    EXPECT_EQ(probe.LoginSequence(), 0x6262u);
}

TEST_F(Session, RefusalFlagLeavesTheChannelUnauthenticatedButAppliesTheReply)
{
    LoginReplyFields reply;
    reply.status = 7;
    reply.refusalFlag = 1;
    reply.logLevel = 5;
    reply.flag80 = 0;
    reply.flag100 = 9;
    reply.machineId = 42;
    service.SetLoginReply(reply);
    Connect();

    EXPECT_EQ(LoginUser(), 1u);
    EXPECT_EQ(channel.IsAuthenticated(), 0u);
    EXPECT_EQ(channel.GetSessionFlag4(), 1u);
    EXPECT_EQ(channel.GetSessionFlag8(), 0u);
    EXPECT_EQ(channel.GetSessionFlag40(), 7u);
    EXPECT_EQ(channel.GetSessionFlag80(), 0u);
    EXPECT_EQ(channel.GetSessionFlag100(), 9u);
    EXPECT_EQ(channel.GetLogLevel(), 5);
    EXPECT_EQ(probe.MachineId(), 42u);
    EXPECT_EQ(probe.SessionValue(), 0u);
}

TEST_F(Session, RefusalCodeIsKeptAndNotAuthenticated)
{
    LoginReplyFields reply;
    reply.status = 4;
    reply.refusalCode = 12;
    service.SetLoginReply(reply);
    Connect();

    EXPECT_EQ(LoginUser(), 1u);
    EXPECT_EQ(channel.IsAuthenticated(), 0u);
    EXPECT_EQ(channel.GetSessionFlag4(), 0u);
    EXPECT_EQ(channel.GetSessionFlag8(), 12u);
    EXPECT_EQ(channel.GetSessionFlag40(), 4u);
    EXPECT_EQ(probe.SessionValue(), 0u);
}

TEST_F(Session, UnknownCredentialsAreRefused)
{
    channel.SetUserCredentials(u"ab", u"wrong");
    Connect();
    EXPECT_EQ(LoginUser(), 1u);
    EXPECT_EQ(channel.IsAuthenticated(), 0u);
    EXPECT_EQ(channel.GetSessionFlag4(), 1u);
    ASSERT_EQ(service.Logins().size(), 1u);
    EXPECT_FALSE(service.Logins()[0].accepted);
}

TEST_F(Session, FlagXClearsTheSessionValueOnly)
{
    LoginReplyFields reply;
    reply.flagX = 1;
    reply.sessionValue = 8;
    service.SetLoginReply(reply);
    Connect();
    EXPECT_EQ(LoginUser(), 1u);
    EXPECT_EQ(channel.IsAuthenticated(), 1u);
    EXPECT_EQ(probe.SessionFlagX(), 1u);
    EXPECT_EQ(probe.SessionValue(), 0u);
}

TEST_F(Session, LoginReplyTextMustHoldOneTo254Bytes)
{
    Connect();
    LoginReplyFields reply;
    reply.logLevel = 3;
    reply.text = "";
    service.SetLoginReply(reply);
    EXPECT_EQ(LoginUser(), 0u);
    reply.text = std::string(255, 't');
    service.SetLoginReply(reply);
    EXPECT_EQ(LoginUser(), 0u);
    EXPECT_EQ(channel.GetLogLevel(), 0);
    EXPECT_EQ(channel.IsAuthenticated(), 0u);

    reply.text = std::string(254, 't');
    service.SetLoginReply(reply);
    EXPECT_EQ(LoginUser(), 1u);
    EXPECT_EQ(channel.IsAuthenticated(), 1u);
    EXPECT_EQ(probe.LoginText(), reply.text);
}

TEST_F(Session, ResultWordZeroOrStatusZeroFailsTheUserLogin)
{
    Connect();
    LoginReplyFields reply;
    reply.result = 0;
    service.SetLoginReply(reply);
    EXPECT_EQ(LoginUser(), 0u);
    reply.result = 1;
    reply.status = 0;
    service.SetLoginReply(reply);
    EXPECT_EQ(LoginUser(), 0u);
    EXPECT_EQ(channel.IsAuthenticated(), 0u);
}

TEST_F(Session, EmptyPasswordLogsNothingInAndTheSessionCheckFails)
{
    channel.SetUserCredentials(u"ab", u"");
    Connect();
    EXPECT_EQ(LoginUser(), 1u);
    EXPECT_EQ(channel.IsAuthenticated(), 0u);
    EXPECT_EQ(RequestCount(CCreatePacket::kAuthenticateUser), 0u);

    channel.SetAutoSession(1);
    EXPECT_EQ(channel.EnsureSession(1, 0), 0);
    EXPECT_EQ(channel.IsConnected(), 0u);
    EXPECT_EQ(RequestCount(CCreatePacket::kAuthenticateUser), 0u);
}

TEST_F(Session, MachineLoginRaisesTheLogLevelButNeverLowersIt)
{
    service.AddMachineKey("machine-key");
    channel.SetMachineKey("machine-key");
    channel.SetLogLevel(20);
    Connect();
    LoginReplyFields reply;
    reply.logLevel = 10;
    reply.status = 6;
    service.SetLoginReply(reply);
    EXPECT_EQ(LoginMachine(), 1u);
    EXPECT_EQ(channel.GetLogLevel(), 20);
    EXPECT_EQ(channel.IsAuthenticated(), 6u);
    EXPECT_EQ(probe.MachineMode(), 1u);

    reply.logLevel = 25;
    service.SetLoginReply(reply);
    EXPECT_EQ(LoginMachine(), 1u);
    EXPECT_EQ(channel.GetLogLevel(), 25);

    const auto logins = service.Logins();
    ASSERT_EQ(logins.size(), 2u);
    EXPECT_EQ(logins[0].machineKey, "machine-key");
    EXPECT_EQ(logins[0].hostName, probe.HostName());
    EXPECT_TRUE(logins[0].accepted);
}

TEST_F(Session, UserLoginTakesTheReplyLevelLowerOrHigher)
{
    channel.SetLogLevel(25);
    Connect();
    LoginReplyFields reply;
    reply.logLevel = 10;
    service.SetLoginReply(reply);
    EXPECT_EQ(LoginUser(), 1u);
    EXPECT_EQ(channel.GetLogLevel(), 10);
}

TEST_F(Session, MachineLoginFailuresLeaveTheirCause)
{
    channel.SetMachineKey("machine-key");
    // Not connected and no automatic session: the send has no socket.
    EXPECT_EQ(LoginMachine(), 0u);
    EXPECT_EQ(probe.LastError(), 1100u);
    // An empty key logs nothing in.
    channel.SetMachineKey("");
    EXPECT_EQ(LoginMachine(), 1u);
    EXPECT_EQ(channel.IsAuthenticated(), 0u);
}

TEST_F(Session, AutoSessionOffSendsNothingEvenWhenDisconnected)
{
    EXPECT_EQ(channel.EnsureSession(1, 0), 1);
    EXPECT_EQ(channel.IsConnected(), 0u);
    EXPECT_EQ(server->Log().ConnectionCount(), 0u);
    EXPECT_TRUE(server->Log().Requests().empty());
}

TEST_F(Session, ForcedCheckConnectsWithoutLoginWhenNoneIsNeeded)
{
    EXPECT_EQ(channel.EnsureSession(0, 1), 1);
    EXPECT_EQ(channel.IsConnected(), 1u);
    EXPECT_NE(probe.CommandIndex(), 0u);
    EXPECT_EQ(RequestCount(CCreatePacket::kAuthenticateUser), 0u);
}

// A logged-in channel that runs out of memory at any step of being freed (the handle it closes
// on the server, its farewell) is freed all the same: the host goes on.
TEST_F(Session, AChannelThatRunsOutOfMemoryAsItIsFreedLetsTheHostGoOn)
{
    for (int step = 0; step < 200; ++step) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            alarm(10);
            auto* freed = new Csocketclient;
            freed->SetServer(Utf8ToUtf16(server->Address()).c_str(), StandinServer::kDefaultPort);
            freed->SetRecvSleep(0);
            freed->SetSendSleep(0);
            freed->SetUserCredentials(u"ab", u"p");
            freed->SetAutoSession(1);
            if (freed->EnsureSession(1, 0) != 1)
                _exit(2);
            FailAllocationAfter(step);
            delete freed;
            _exit(AllocationFailed() ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "the host ended at step " << step;
        ASSERT_NE(WEXITSTATUS(status), 2) << "no login";
        if (WEXITSTATUS(status) == 0)
            return;  // freeing needed fewer allocations: every one has failed once
    }
    FAIL() << "freeing still allocates after 200 steps";
}

TEST_F(Session, SessionCheckLogsInAgainAfterTheServerDroppedTheConnection)
{
    channel.SetAutoSession(1);
    ASSERT_EQ(channel.EnsureSession(1, 0), 1);
    EXPECT_EQ(channel.IsAuthenticated(), 1u);
    const ULONGLONG firstIndex = probe.CommandIndex();

    // A live session is checked with the echo and kept.
    ASSERT_EQ(channel.EnsureSession(1, 0), 1);
    EXPECT_EQ(RequestCount(CCreatePacket::kEchoTest), 1u);
    EXPECT_EQ(server->Log().ConnectionCount(), 1u);

    // The server drops the connection instead of answering the echo, whether the check sent
    // it or it was sent ahead of the check.
    ServerFault drop;
    drop.kind = FaultKind::CloseMidMessage;
    drop.command = CCreatePacket::kEchoTest;
    ULONGLONG lastIndex = firstIndex;
    for (const bool ahead : {false, true}) {
        SCOPED_TRACE(ahead ? "echo sent ahead" : "echo sent by the check");
        server->SetFault(drop);
        {
            std::optional<Csocketclient::ConnectionCheckAhead> echo;
            if (ahead)
                echo.emplace(channel);
            ASSERT_EQ(channel.EnsureSession(1, 0), 1);
        }
        server->SetFault(ServerFault{});

        EXPECT_EQ(channel.IsAuthenticated(), 1u);
        EXPECT_NE(probe.CommandIndex(), lastIndex);
        lastIndex = probe.CommandIndex();
        const auto logins = service.Logins();
        EXPECT_TRUE(logins.back().accepted);
        EXPECT_EQ(logins.back().commandIndex, probe.CommandIndex());
    }
    EXPECT_EQ(server->Log().ConnectionCount(), 3u);
    EXPECT_EQ(service.Logins().size(), 3u);
}

// An echo sent ahead while a command is prepared: the session check takes its answer as its
// test, and a request sent before that (or a second start) never leaves an answer behind
// for the next request to read as its own.
TEST_F(Session, AnEchoSentAheadIsAnsweredBeforeAnythingElseIsSent)
{
    channel.SetAutoSession(1);
    ASSERT_EQ(channel.EnsureSession(1, 0), 1);
    {
        const Csocketclient::ConnectionCheckAhead echo(channel);
        ASSERT_EQ(channel.EnsureSession(1, 0), 1);
    }
    EXPECT_EQ(RequestCount(CCreatePacket::kEchoTest), 1u);

    // The statistics skip the session check.
    server->Commands().Set(CCreatePacket::kGetMemberStats,
                           [](RequestReader&, ReplyWriter& reply, ServerModel&) {
                               for (DWORD word = 1; word <= 5; ++word)
                                   reply.PutU32(word);
                           });
    const Csocketclient::ConnectionCheckAhead first(channel);
    const Csocketclient::ConnectionCheckAhead second(channel);
    for (int round = 0; round < 2; ++round) {
        void* stats = nullptr;
        DWORD length = 0;
        ASSERT_TRUE(channel.GetMemberStats(&stats, &length));
        DWORD last = 0;
        ASSERT_EQ(length, 20u);
        std::memcpy(&last, static_cast<BYTE*>(stats) + 16, sizeof last);
        EXPECT_EQ(last, 5u);
        Cutil::FreePacket(stats);
    }
    EXPECT_EQ(RequestCount(CCreatePacket::kEchoTest), 2u);
    EXPECT_EQ(server->Log().ConnectionCount(), 1u);
}

// Closing the channel sends its farewell without waiting for the answer to an echo still due,
// which a server that went silent would never give.
TEST_F(Session, ClosingWithAnEchoStillDueWaitsForNoAnswer)
{
    channel.SetAutoSession(1);
    ASSERT_EQ(channel.EnsureSession(1, 0), 1);
    probe.SetWaitTimeout(3);
    server->SetFault(ServerFault{FaultKind::NoAnswer, CCreatePacket::kEchoTest});
    const Csocketclient::ConnectionCheckAhead echo(channel);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(channel.Disconnect(1), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(channel.IsConnected(), 0u);
}

TEST_F(Session, CredentialKeyFollowsTheCommandIndex)
{
    for (ULONGLONG index : {0ull, 1234567890ull, 98765432109876ull}) {
        server->Model().SetFirstCommandIndex(index);
        Connect();
        ASSERT_EQ(probe.CommandIndex(), index);
        EXPECT_EQ(LoginUser(), 1u);
        EXPECT_EQ(channel.IsAuthenticated(), 1u) << index;
        channel.Disconnect(1);
    }
    const auto logins = service.Logins();
    ASSERT_EQ(logins.size(), 3u);
    EXPECT_EQ(logins[1].commandIndex, 1234567890u);
    EXPECT_EQ(logins[1].password, "p");
}

TEST_F(Session, EchoTestSendsTheWordOneAndTwelveZeroBytes)
{
    Connect();
    EXPECT_EQ(channel.EchoTest(16), 1u);
    const auto requests = server->Log().Requests(CCreatePacket::kEchoTest);
    ASSERT_EQ(requests.size(), 1u);
    std::vector<BYTE> expected{0x31, 0, 0, 0, 1, 0, 0, 0};
    expected.resize(20, 0);
    EXPECT_EQ(requests[0].payload, expected);
}

TEST_F(Session, SettingsBoundTheDataServerNameAndTheSecondText)
{
    Connect();
    char dataServer[65];
    char text[4096];
    DWORD first = 0;
    DWORD maintenance = 0;
    SettingsReplyFields settings;
    settings.first = 3;
    settings.maintenance = 2;
    settings.dataServer = std::string(64, 'd');
    settings.text = std::string(4095, 'x');
    service.SetSettingsReply(settings);
    EXPECT_EQ(channel.GetSettings(dataServer, &first, &maintenance, text, 0), 1u);
    EXPECT_EQ(std::string(dataServer), settings.dataServer);
    EXPECT_EQ(std::string(text), settings.text);
    EXPECT_EQ(first, 3u);
    EXPECT_EQ(maintenance, 2u);

    settings.text = std::string(4096, 'y');
    service.SetSettingsReply(settings);
    EXPECT_EQ(channel.GetSettings(dataServer, &first, &maintenance, text, 0), 1u);
    EXPECT_STREQ(text, "");
    settings.text = "";
    service.SetSettingsReply(settings);
    EXPECT_EQ(channel.GetSettings(dataServer, &first, &maintenance, text, 0), 1u);
    EXPECT_STREQ(text, "");

    settings.dataServer = std::string(65, 'd');
    service.SetSettingsReply(settings);
    EXPECT_EQ(channel.GetSettings(dataServer, &first, &maintenance, text, 0), 0u);
    settings.dataServer = "";
    settings.result = 0;
    service.SetSettingsReply(settings);
    EXPECT_EQ(channel.GetSettings(dataServer, &first, &maintenance, text, 0), 0u);
}

TEST_F(Session, RepliesShorterThanTheirFieldsAreRefused)
{
    Connect();
    // A login reply that ends inside its fields.
    server->Commands().Set(CCreatePacket::kAuthenticateUser,
                           [](RequestReader&, ReplyWriter& reply, ServerModel&) {
                               reply.PutU32(1);
                               reply.PutU32(1);
                               reply.PutCountedBytes("x");
                               for (int i = 0; i < 10; ++i)
                                   reply.PutU32(0);
                           });
    EXPECT_EQ(LoginUser(), 0u);
    EXPECT_EQ(channel.IsAuthenticated(), 0u);

    // A settings reply whose second text claims more bytes than follow.
    server->Commands().Set(CCreatePacket::kGetSettings,
                           [](RequestReader&, ReplyWriter& reply, ServerModel&) {
                               reply.PutU32(1);
                               reply.PutU32(0);
                               reply.PutCountedBytes("data");
                               reply.PutU32(0);
                               reply.PutU32(100);
                               reply.PutBytes("abc", 3);
                           });
    char dataServer[65];
    char text[4096] = "unchanged";
    DWORD first = 0;
    DWORD maintenance = 0;
    EXPECT_EQ(channel.GetSettings(dataServer, &first, &maintenance, text, 0), 0u);
    EXPECT_STREQ(text, "unchanged");
}
