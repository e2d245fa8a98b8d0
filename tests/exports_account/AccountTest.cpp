// The account and member exports against the stand-in server: what they send, what they
// hand back, the server's refusals with their status words, and replies that do not fit the
// host's buffers.
#include <string>

#include <gtest/gtest.h>

#include "MemberChannelTest.h"
#include "support/KelvaneLibrary.h"
#include "tools/server/CommandHandlers.h"

namespace {

using namespace ServerCommand;

constexpr size_t kHostText = 1024;

class Account : public MemberChannelTest {
protected:
    StoredMember Member()
    {
        return server.Store([](ServiceState& state) { return state.member; });
    }

    int32_t MemberInfo(Csocketclient* on)
    {
        return EXPORT(GetMemberExtendedInformation)(on, texts[0], texts[1], texts[2], texts[3],
                                                    texts[4], texts[5], &a, &b, &words[0],
                                                    &words[1], &words[2], &words[3], &words[4]);
    }

    int32_t AccountInfo(Csocketclient* on)
    {
        return EXPORT(GetAccountInformation)(on, texts[0], texts[1], texts[2], texts[3], texts[4],
                                             texts[5], texts[6], texts[7]);
    }

    char16_t texts[8][kHostText] = {};
    uint64_t a = 5, b = 5;
    uint32_t words[5] = {5, 5, 5, 5, 5};
};

TEST_F(Account, CheckUsernameHandsTheResultWordThrough)
{
    uint32_t reason = 99;
    EXPECT_EQ(EXPORT(CheckUsername)(channel, u"carol", &reason), 1);
    EXPECT_EQ(reason, 0u);
    EXPECT_EQ(EXPORT(CheckUsername)(channel, u"bob", &reason), 0);
    EXPECT_EQ(reason, ServerStatus::kNameTaken);
    server.AnswerWith(kCheckUsername, WireBytes().U32(2).U32(7).Get());
    EXPECT_EQ(EXPORT(CheckUsername)(channel, u"dave", &reason), 2);
    EXPECT_EQ(reason, 7u);
}

TEST_F(Account, UpdateUsernamePasswordNeedsTheMembersAuthenticationText)
{
    uint32_t reason = 0;
    EXPECT_EQ(EXPORT(UpdateUsernamePassword)(channel, u"member-auth-7", u"al", u"new", &reason),
              1);
    EXPECT_EQ(Member().userName, u"al");
    EXPECT_EQ(EXPORT(UpdateUsernamePassword)(channel, u"forged", u"mallory", u"x", &reason), 0);
    EXPECT_EQ(reason, ServerStatus::kNotAuthorized);
}

TEST_F(Account, ExtendedInformationGoesToTheHostsWordsInTheirOrder)
{
    server.Store([](ServiceState& state) {
        state.member.extendedTexts[0] = u"first";
        state.member.extendedTexts[5] = std::u16string(kHostText - 1, u'x');
        state.member.extendedA = 0x1122334455667788;
        state.member.extendedB = 42;
        for (DWORD i = 0; i < 6; ++i)
            state.member.extendedValues[i] = 10 + i;
    });
    ASSERT_EQ(MemberInfo(channel), 1);
    EXPECT_EQ(std::u16string(texts[0]), u"first");
    EXPECT_EQ(std::u16string(texts[5]), std::u16string(kHostText - 1, u'x'));
    EXPECT_EQ(a, 0x1122334455667788u);
    EXPECT_EQ(b, 42u);
    // Suspended, Cancelled, Deleted, Activated, value 3; the sixth word is dropped.
    EXPECT_EQ(std::vector<uint32_t>(words, words + 5),
              (std::vector<uint32_t>{10, 11, 12, 13, 14}));
    EXPECT_EQ(EXPORT(GetMemberExtendedInformation)(channel, nullptr, nullptr, nullptr, nullptr,
                                                   nullptr, nullptr, nullptr, nullptr, nullptr,
                                                   nullptr, nullptr, nullptr, nullptr),
              1);
}

TEST_F(Account, ATextLongerThanTheHostsBufferIsRefusedAndNothingIsWritten)
{
    server.Store([](ServiceState& state) {
        state.member.extendedTexts[0] = u"short";
        state.member.extendedTexts[2] = std::u16string(kHostText, u'x');
        state.member.accountTexts[0] = u"short";
        state.member.accountTexts[7] = std::u16string(kHostText, u'y');
    });
    EXPECT_EQ(MemberInfo(channel), 0);
    EXPECT_EQ(AccountInfo(channel), 0);
    EXPECT_EQ(texts[0][0], u'\0');
    EXPECT_EQ(a, 5u);
    EXPECT_EQ(words[0], 5u);
}

TEST_F(Account, AccountAndMemberDataAreStoredAndReadBack)
{
    EXPECT_EQ(EXPORT(UpdateAccountInformation)(channel, u"Alice A", u"1 Road", u"", u"Town",
                                               u"Province", u"12345", u"Land", u"+1 555"),
              1);
    ASSERT_EQ(AccountInfo(channel), 1);
    EXPECT_EQ(std::u16string(texts[1]), u"1 Road");
    EXPECT_EQ(std::u16string(texts[7]), u"+1 555");
    EXPECT_EQ(EXPORT(UpdateMemberExtendedInfo)(channel, u"alice", u"pw", u"a@example.org", u"en",
                                               u"Alice", u"Able", u"555"),
              1);
    EXPECT_EQ(Member().email, u"a@example.org");

    uint32_t reason = 99;
    EXPECT_EQ(EXPORT(UpdateUserInformation)(channel, u"carol", u"", u"c@example.org", u"fr",
                                            u"Carol", u"Cole", u"556", &reason),
              1);
    EXPECT_EQ(Member().userName, u"carol");
    EXPECT_EQ(Member().password, u"");
    EXPECT_EQ(EXPORT(UpdateUserInformation)(channel, u"bob", u"pw", u"", u"", u"", u"", u"",
                                            &reason),
              0);
    EXPECT_EQ(reason, ServerStatus::kNameTaken);
}

TEST_F(Account, ExportsThatNeedALoginSendNothingWithoutOne)
{
    for (Csocketclient* without : {server.OpenNoUser(), static_cast<Csocketclient*>(nullptr)}) {
        uint32_t word = 0;
        EXPECT_EQ(MemberInfo(without), 0);
        EXPECT_EQ(AccountInfo(without), 0);
        EXPECT_EQ(EXPORT(UpdateMemberExtendedInfo)(without, u"a", u"b", u"c", u"d", u"e", u"f",
                                                   u"g"),
                  0);
        EXPECT_EQ(EXPORT(UpdateAccountInformation)(without, u"", u"", u"", u"", u"", u"", u"",
                                                   u""),
                  0);
        EXPECT_EQ(EXPORT(UpdateUserInformation)(without, u"a", u"", u"", u"", u"", u"", u"",
                                                &word),
                  0);
        EXPECT_EQ(EXPORT(DeleteMember)(without, u"bob"), 0);
        EXPECT_EQ(EXPORT(CancelAccount)(without, u"tag", 3, &word), 0);
    }
    for (DWORD code : {kGetMemberInfo, kUpdateMemberExtendedInfo, kGetAccountInfo,
                       kUpdateAccountInfo, kCreateAccount, kDeleteMember, kCancelAccount})
        EXPECT_EQ(server.RequestCount(code), 0u) << code;
    uint32_t word = 0;
    EXPECT_EQ(EXPORT(CheckUsername)(nullptr, u"dave", &word), 0);
    EXPECT_EQ(EXPORT(UpdateUsernamePassword)(nullptr, u"a", u"b", u"c", &word), 0);
    EXPECT_FALSE(EXPORT(SetMachinePlanEx)(nullptr, u"", u"", u"", u"", 0, 0));
    EXPECT_EQ(EXPORT(CreateAccount)(), 0);
}

TEST_F(Account, DeleteMemberHandsTheResultWordThrough)
{
    EXPECT_EQ(EXPORT(DeleteMember)(channel, u"bob"), 1);
    EXPECT_EQ(EXPORT(DeleteMember)(channel, u"bob"), 0);
    server.AnswerWith(kDeleteMember, WireBytes().U32(3).U32(0).Get());
    EXPECT_EQ(EXPORT(DeleteMember)(channel, u"anyone"), 3);
}

TEST_F(Account, CancelAccountBringsTheConfirmationCode)
{
    server.Store([](ServiceState& state) { state.cancelConfirmation = 4711; });
    uint32_t confirm = 0;
    EXPECT_EQ(EXPORT(CancelAccount)(channel, u"tag-1", 3, &confirm), 1);
    EXPECT_EQ(confirm, 4711u);
    EXPECT_EQ(Member().cancelReason, 3u);
    EXPECT_EQ(Member().cancelServiceTag, u"tag-1");
    server.AnswerWith(kCancelAccount, WireBytes().U32(0).U32(12).Get());
    EXPECT_EQ(EXPORT(CancelAccount)(channel, u"tag-1", 3, &confirm), 0);
    EXPECT_EQ(confirm, 12u);
}

TEST_F(Account, SetMachinePlanSendsItsTextsAsUtf8)
{
    EXPECT_TRUE(EXPORT(SetMachinePlanEx)(channel, u"plan", u"gr\u00fcn", u"c", u"d", 6, 7));
    StoredPlan plan = server.Store([](ServiceState& state) { return state.lastPlan; });
    EXPECT_EQ(plan.texts[1], "gr\xc3\xbcn");
    EXPECT_EQ(plan.value1, 6u);
    EXPECT_EQ(plan.value2, 7u);
    server.AnswerWith(kSetMachinePlan, WireBytes().U32(0).U32(0).Get());
    EXPECT_FALSE(EXPORT(SetMachinePlanEx)(channel, u"plan", u"b", u"c", u"d", 6, 7));
}

} // namespace
