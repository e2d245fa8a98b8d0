// Every reply that the channel parses field by field, cut at every length and with each of its
// byte counts raised past what the reply holds. A reply that lacks any field it announces must
// fail its command as a whole: result 0, the command's "reply malformed" line in the channel
// log, and the caller's out-parameters as they were before (or at the values the command
// presets), never half filled. The whole reply must still succeed, so the cut is what fails.
#include <functional>

#include "audit/Hostile.h"
#include "audit/ScriptedChannel.h"
#include "platform/text.h"

namespace {

constexpr DWORD kText = Csocketclient::kReplyTextCapacity;
constexpr ULONGLONG kMark64 = 0x2323232323232323ull;
constexpr DWORD kMark32 = 0x23232323u;

// What one run of a command left behind.
struct Outcome {
    DWORD result = 0;
    // Every out-parameter is as it was before the call, or at the command's preset.
    bool outsIntact = true;
};

// One command whose reply is parsed by the channel.
struct ParsedReply {
    const char* logName;
    DWORD code;
    std::vector<BYTE> whole;
    // Offsets of the byte counts inside the whole reply.
    std::vector<size_t> counts;
    std::function<Outcome(Csocketclient&)> run;
};

bool AllEqual(std::initializer_list<ULONGLONG> values, ULONGLONG expected)
{
    for (ULONGLONG value : values) {
        if (value != expected)
            return false;
    }
    return true;
}

std::vector<ParsedReply> ParsedReplies()
{
    std::vector<ParsedReply> replies;
    replies.push_back({"GetMemberAuth", CCreatePacket::kGetMemberAuth,
                       WireBytes().U32(1).U32(0).Text8("member-authentication"), {8},
                       [](Csocketclient& channel) {
                           Sentinel<char> key(kText);
                           Outcome outcome;
                           outcome.result = channel.GetMemberAuth(key.data());
                           outcome.outsIntact = key.Untouched();
                           return outcome;
                       }});
    replies.push_back({"GetMachineAuth", CCreatePacket::kGetMachineAuth,
                       WireBytes().U32(1).Text8("machine-key"), {4}, [](Csocketclient& channel) {
                           Sentinel<char> key(kText);
                           Outcome outcome;
                           outcome.result = channel.GetMachineAuth(1, 0, 2, 0, key.data());
                           outcome.outsIntact = key.Untouched();
                           return outcome;
                       }});
    replies.push_back({"CreateMachineByAuth", CCreatePacket::kCreateMachineByAuth,
                       WireBytes().U32(1).U64(0x1122334455667788ull).Text8("new-machine-key"),
                       {12}, [](Csocketclient& channel) {
                           Sentinel<char> key(kText);
                           ULONGLONG id = kMark64;
                           DWORD status = kMark32;
                           Outcome outcome;
                           outcome.result = channel.CreateMachineByAuth("auth", "name", "host", 53,
                                                                        &id, key.data(), &status);
                           outcome.outsIntact = key.Untouched() && id == kMark64 && status == 0;
                           return outcome;
                       }});
    replies.push_back(
        {"GetMachineBucketDetailsEx", CCreatePacket::kGetMachineBucketDetailsEx,
         WireBytes().U32(1).U32(0).U64(1 << 30).U64(1 << 20).U64(1700000000).U32(1).U32(2)
             .U32(3).U32(4).U32(5).U32(6).Text8("purchase-1").Text8("subscription-2").U32(7),
         {56, 70}, [](Csocketclient& channel) {
             ULONGLONG wide[3] = {kMark64, kMark64, kMark64};
             DWORD words[7] = {kMark32, kMark32, kMark32, kMark32, kMark32, kMark32, kMark32};
             Sentinel<WCHAR> text1(kText);
             Sentinel<WCHAR> text2(kText);
             Outcome outcome;
             outcome.result = channel.GetMachineBucketDetailsEx(
                 &wide[0], &wide[1], &wide[2], &words[0], &words[1], &words[2], &words[3],
                 &words[4], &words[5], text1.data(), text2.data(), &words[6]);
             outcome.outsIntact = AllEqual({wide[0], wide[1], wide[2]}, kMark64) &&
                                  AllEqual({words[0], words[1], words[2], words[3], words[4],
                                            words[5], words[6]},
                                           kMark32) &&
                                  text1.Untouched() && text2.Untouched();
             return outcome;
         }});
    WireBytes account;
    account.U32(1).U32(0);
    std::vector<size_t> accountCounts;
    for (const char16_t* text : {u"Name", u"Street 1", u"", u"City", u"Province", u"1234",
                                 u"Country", u"555-0100"}) {
        accountCounts.push_back(account.size());
        account.Text16(text);
    }
    replies.push_back({"GetAccountInfo", CCreatePacket::kGetAccountInfo, account, accountCounts,
                       [](Csocketclient& channel) {
                           std::vector<Sentinel<WCHAR>> texts(8, Sentinel<WCHAR>(kText));
                           Outcome outcome;
                           outcome.result = channel.GetAccountInfo(
                               texts[0].data(), texts[1].data(), texts[2].data(),
                               texts[3].data(), texts[4].data(), texts[5].data(),
                               texts[6].data(), texts[7].data());
                           for (const Sentinel<WCHAR>& text : texts)
                               outcome.outsIntact = outcome.outsIntact && text.Untouched();
                           return outcome;
                       }});
    WireBytes member;
    member.U32(1).U32(0);
    std::vector<size_t> memberCounts;
    for (const char16_t* text : {u"mallory", u"x", u"m@example.invalid", u"en", u"Mal", u"Ory"}) {
        memberCounts.push_back(member.size());
        member.Text16(text);
    }
    member.U64(11).U64(12).U32(1).U32(0).U32(0).U32(1).U32(5).U32(6);
    replies.push_back({"GetMemberInfo", CCreatePacket::kGetMemberInfo, member, memberCounts,
                       [](Csocketclient& channel) {
                           std::vector<Sentinel<WCHAR>> texts(6, Sentinel<WCHAR>(kText));
                           ULONGLONG a = kMark64;
                           ULONGLONG b = kMark64;
                           DWORD words[6] = {kMark32, kMark32, kMark32, kMark32, kMark32, kMark32};
                           Outcome outcome;
                           outcome.result = channel.GetMemberInfo(
                               texts[0].data(), texts[1].data(), texts[2].data(),
                               texts[3].data(), texts[4].data(), texts[5].data(), &a, &b,
                               &words[0], &words[1], &words[2], &words[3], &words[4], &words[5]);
                           outcome.outsIntact =
                               a == kMark64 && b == kMark64 &&
                               AllEqual({words[0], words[1], words[2], words[3], words[4],
                                         words[5]},
                                        kMark32);
                           for (const Sentinel<WCHAR>& text : texts)
                               outcome.outsIntact = outcome.outsIntact && text.Untouched();
                           return outcome;
                       }});
    replies.push_back({"IsWebPortalEnabledEx", CCreatePacket::kIsWebPortalEnabledEx,
                       WireBytes().U32(1).U32(0).U32(1), {}, [](Csocketclient& channel) {
                           DWORD enabled = kMark32;
                           Outcome outcome;
                           outcome.result = channel.IsWebPortalEnabledEx(&enabled);
                           outcome.outsIntact = enabled == 0;
                           return outcome;
                       }});
    replies.push_back({"LastRestoreInfo", CCreatePacket::kLastRestoreInfo,
                       WireBytes().U32(1).U32(5).U64(1).U64(2).U64(3), {},
                       [](Csocketclient& channel) {
                           ULONGLONG values[3] = {kMark64, kMark64, kMark64};
                           DWORD status = kMark32;
                           Outcome outcome;
                           outcome.result = channel.LastRestoreInfo(&values[0], &values[1],
                                                                    &values[2], &status);
                           outcome.outsIntact = AllEqual({values[0], values[1], values[2]},
                                                         kMark64) &&
                                                status == kMark32;
                           return outcome;
                       }});
    replies.push_back({"CheckFile", CCreatePacket::kCheckFile,
                       WireBytes().U32(1).U32(3).U64(4).U64(5).U64(6), {},
                       [](Csocketclient& channel) {
                           ULONGLONG values[3] = {kMark64, kMark64, kMark64};
                           DWORD result = kMark32;
                           DWORD status = kMark32;
                           Outcome outcome;
                           outcome.result = channel.CheckFile(
                               9, 0, u"\\folder\\", u"name.txt", 1, 2, 3, 4, 5, &values[0],
                               &values[1], &values[2], &result, &status);
                           outcome.outsIntact = AllEqual({values[0], values[1], values[2]}, 0) &&
                                                result == 0 && status == 0;
                           return outcome;
                       }});
    replies.push_back({"DeleteServerFile", CCreatePacket::kDeleteServerFile,
                       WireBytes().U32(1).U32(7), {}, [](Csocketclient& channel) {
                           DWORD status = kMark32;
                           Outcome outcome;
                           outcome.result = channel.DeleteServerFile(1, 0, 2, 0, 3, 0, 4, 0, 5,
                                                                     0, &status);
                           outcome.outsIntact = status == 0;
                           return outcome;
                       }});
    replies.push_back({"CancellationReasons", CCreatePacket::kCancellationReasons,
                       WireBytes().U32(1).U32(2).U32(0), {}, [](Csocketclient& channel) {
                           void* reply = nullptr;
                           DWORD count = kMark32;
                           DWORD status = kMark32;
                           DWORD length = kMark32;
                           Outcome outcome;
                           outcome.result = channel.CancellationReasons(u"x", 1, &reply, &count,
                                                                        &status, &length);
                           // The status word may come with an incomplete reply; nothing else.
                           outcome.outsIntact = reply == nullptr && count == kMark32 &&
                                                length == kMark32;
                           Cutil::FreePacket(reply);
                           return outcome;
                       }});
    return replies;
}

// The counts a reply cannot hold: far past its end, and one byte past it.
std::vector<DWORD> CountsPastTheEnd(const std::vector<BYTE>& reply, size_t countOffset)
{
    const DWORD rest = static_cast<DWORD>(reply.size() - countOffset - 4);
    return {rest + 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, 0xFFFFFFFC, 0xFFFFFFFE, 0xFFFFFFFF};
}

std::vector<BYTE> WithWord(std::vector<BYTE> bytes, size_t offset, DWORD value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<BYTE>(value >> (8 * i));
    return bytes;
}

}  // namespace

using TruncatedReplies = ScriptedChannel;

TEST_F(TruncatedReplies, EveryCutOfAParsedReplyFailsItsCommandAndWritesNothing)
{
    for (const ParsedReply& reply : ParsedReplies()) {
        SCOPED_TRACE(reply.logName);
        Answer(reply.code, reply.whole);
        ASSERT_TRUE(channel->EnsureSession(1, 0));
        Outcome whole = reply.run(*channel);
        ASSERT_NE(whole.result, 0u) << "the uncut reply must be accepted";
        for (size_t length = 0; length < reply.whole.size(); ++length) {
            SCOPED_TRACE(length);
            host.Clear();
            Answer(reply.code, std::vector<BYTE>(reply.whole.begin(),
                                                 reply.whole.begin() + length));
            // A cut that left no frame drops the connection; the next command logs in again.
            ASSERT_TRUE(channel->EnsureSession(1, 0));
            Outcome cut = reply.run(*channel);
            EXPECT_EQ(cut.result, 0u);
            EXPECT_TRUE(cut.outsIntact);
            // An empty payload is no frame at all; every other cut is a malformed reply.
            const std::string line = std::string(reply.logName) +
                                     (length == 0 ? ": ReceiveMsg failed" : ": reply malformed");
            EXPECT_TRUE(host.Logged(line)) << line;
        }
    }
}

TEST_F(TruncatedReplies, CountsPastTheEndOfTheReplyFailTheCommandAndWriteNothing)
{
    for (const ParsedReply& reply : ParsedReplies()) {
        SCOPED_TRACE(reply.logName);
        for (size_t offset : reply.counts) {
            for (DWORD count : CountsPastTheEnd(reply.whole, offset)) {
                SCOPED_TRACE(testing::Message() << "count at " << offset << " = " << count);
                host.Clear();
                Answer(reply.code, WithWord(reply.whole, offset, count));
                Outcome outcome = reply.run(*channel);
                EXPECT_EQ(outcome.result, 0u);
                EXPECT_TRUE(outcome.outsIntact);
                EXPECT_TRUE(host.Logged(std::string(reply.logName) + ": reply malformed"));
            }
        }
    }
}

TEST_F(TruncatedReplies, EveryCutOfALoginReplyFailsTheLoginAndLeavesItUnauthenticated)
{
    const std::string text = "welcome";
    WireBytes whole;
    whole.U32(1).U32(1).Text8(text);
    for (DWORD word = 0; word < 13; ++word)
        whole.U32(word == 4 ? kLogLevel : 0);
    whole.U64(0x501).U64(0).U32(0).U32(0);
    ASSERT_EQ(whole.size(), 88 + text.size());
    for (size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        if (!channel->IsConnected()) {
            WCHAR errText[CTransportSocket::kErrorTextCapacity] = {};
            ASSERT_EQ(channel->Connect(errText), 1) << Utf16ToUtf8(errText);
        }
        host.Clear();
        Answer(CCreatePacket::kAuthenticateUser,
               std::vector<BYTE>(whole.Get().begin(), whole.Get().begin() + length));
        DWORD maintenance = kMark32;
        DWORD lockedOut = kMark32;
        const DWORD loggedIn = channel->LoginUser(&maintenance, &lockedOut);
        if (length == whole.size()) {
            EXPECT_EQ(loggedIn, 1u);
            EXPECT_EQ(channel->IsAuthenticated(), 1u);
            continue;
        }
        EXPECT_EQ(loggedIn, 0u);
        EXPECT_EQ(channel->IsAuthenticated(), 0u);
        EXPECT_EQ(maintenance, kMark32);
        EXPECT_EQ(lockedOut, kMark32);
        EXPECT_TRUE(host.Logged("Authenticate failed"));
    }
}

TEST_F(TruncatedReplies, LoginTextCountsOutsideOneTo254FailTheLogin)
{
    for (DWORD count : {0u, 255u, 0x7FFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFF4u}) {
        SCOPED_TRACE(count);
        if (!channel->IsConnected()) {
            WCHAR errText[CTransportSocket::kErrorTextCapacity] = {};
            ASSERT_EQ(channel->Connect(errText), 1);
        }
        WireBytes reply;
        reply.U32(1).U32(1).U32(count).Fill(300, 'w');
        Answer(CCreatePacket::kAuthenticateUser, reply);
        DWORD maintenance = kMark32;
        DWORD lockedOut = kMark32;
        EXPECT_EQ(channel->LoginUser(&maintenance, &lockedOut), 0u);
        EXPECT_EQ(channel->IsAuthenticated(), 0u);
        EXPECT_EQ(maintenance, kMark32);
    }
}

TEST_F(TruncatedReplies, EveryCutOfASettingsReplyFailsAndItsNameNeverOverrunsItsBuffer)
{
    WireBytes whole;
    whole.U32(1).U32(9).Text8("data.server.invalid").U32(2).Text8("second settings text");
    for (size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        host.Clear();
        Answer(CCreatePacket::kGetSettings,
               std::vector<BYTE>(whole.Get().begin(), whole.Get().begin() + length));
        // Exactly the sizes the method promises to stay within.
        Sentinel<char> dataServer(65);
        Sentinel<char> text(4096);
        DWORD first = 0;
        DWORD maintenance = 0;
        const DWORD result =
            channel->GetSettings(dataServer.data(), &first, &maintenance, text.data(), 1);
        if (length == whole.size()) {
            EXPECT_EQ(result, 1u);
            EXPECT_EQ(dataServer.Text(), "data.server.invalid");
            EXPECT_EQ(text.Text(), "second settings text");
            EXPECT_EQ(maintenance, 2u);
            continue;
        }
        EXPECT_EQ(result, 0u);
        EXPECT_TRUE(text.Untouched());
        if (length > 0) {
            EXPECT_TRUE(host.Logged("GetSettings: reply malformed"));
        }
    }
}

TEST_F(TruncatedReplies, SettingsCountsPastTheReplyFail)
{
    WireBytes whole;
    whole.U32(1).U32(9).Text8("data.server.invalid").U32(2).Text8("second settings text");
    for (DWORD count : CountsPastTheEnd(whole, 8)) {
        SCOPED_TRACE(count);
        Answer(CCreatePacket::kGetSettings, WithWord(whole, 8, count));
        Sentinel<char> dataServer(65);
        Sentinel<char> text(4096);
        DWORD first = 0;
        DWORD maintenance = 0;
        EXPECT_EQ(channel->GetSettings(dataServer.data(), &first, &maintenance, text.data(), 1),
                  0u);
        EXPECT_TRUE(dataServer.Untouched());
        EXPECT_TRUE(text.Untouched());
    }
    // A second text whose count runs past the reply but lies in 1..4095 is no text.
    const size_t secondCount = 8 + 4 + 19 + 4;
    for (DWORD count : {21u, 4095u}) {
        Answer(CCreatePacket::kGetSettings, WithWord(whole, secondCount, count));
        Sentinel<char> dataServer(65);
        Sentinel<char> text(4096);
        DWORD first = 0;
        DWORD maintenance = 0;
        EXPECT_EQ(channel->GetSettings(dataServer.data(), &first, &maintenance, text.data(), 1),
                  0u);
        EXPECT_TRUE(text.Untouched());
    }
}

TEST_F(TruncatedReplies, EveryCutOfTheCommandIndexReplyFailsTheConnection)
{
    WireBytes whole;
    whole.U32(1).U64(0x0123456789ull).U32(0);
    for (size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        Answer(CCreatePacket::kGetCommandIndex,
               std::vector<BYTE>(whole.Get().begin(), whole.Get().begin() + length));
        channel->Disconnect(1);
        WCHAR errText[CTransportSocket::kErrorTextCapacity] = {};
        const BOOL connected = channel->Connect(errText);
        if (length == whole.size()) {
            EXPECT_EQ(connected, 1);
            continue;
        }
        EXPECT_EQ(connected, 0);
        const std::string text = Utf16ToUtf8(errText);
        EXPECT_EQ(text.rfind(length == 0 ? "GetCommandIndex: ReceiveMsg failed"
                                         : "GetCommandIndex: ReceiveMsg ok rc=fail",
                             0),
                  0u)
            << text;
    }
}
