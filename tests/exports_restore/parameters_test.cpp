// SetParameters and GetParameters through the exported functions: texts sealed into three
// pieces and opened again, on channels whether connected or not, and every refusal.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/KelvaneLibrary.h"
#include "support/LoginServer.h"
#include "util/Cdatautil.h"

namespace {

constexpr int32_t kCapacity = 4096;

class ParametersTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Started()) << "port 443 of loopback not bound";
        channel = library.OpenChannelNoUser(server.Address16().c_str(), 0, u"", 0, u"", u"");
        ASSERT_NE(channel, nullptr);
    }
    void TearDown() override
    {
        if (channel != nullptr)
            library.CloseChannel(channel);
    }

    int32_t Set(const char16_t* a, const char16_t* b, const char16_t* c, const char16_t* d,
                int32_t capacity = kCapacity)
    {
        return set(channel, a, b, c, d, out.data(), capacity);
    }
    int32_t Get(const std::u16string& sealed1, const std::u16string& sealed2,
                const std::u16string& sealed3, int32_t capacity1 = kCapacity,
                int32_t capacity2 = kCapacity)
    {
        return get(channel, sealed1.c_str(), sealed2.c_str(), sealed3.c_str(), out1.data(),
                   capacity1, out2.data(), capacity2);
    }

    // The three pieces of the last SetParameters result.
    std::vector<std::u16string> Pieces() const
    {
        std::vector<std::u16string> pieces(1);
        for (const char16_t* unit = out.data(); *unit != 0; ++unit) {
            if (*unit == u'|')
                pieces.emplace_back();
            else
                pieces.back() += *unit;
        }
        return pieces;
    }

    static std::u16string Opened(const std::u16string& sealed)
    {
        std::vector<char16_t> text(kCapacity);
        EXPECT_EQ(DecodeParameterText(sealed.c_str(), text.data()), 1u);
        return text.data();
    }

    static std::u16string Untouched() { return std::u16string(8, u'#'); }
    // kCapacity characters of '#', then a terminator of the test's own.
    static std::vector<char16_t> Buffer()
    {
        std::vector<char16_t> buffer(kCapacity + 1, u'#');
        buffer.back() = u'\0';
        return buffer;
    }
    static std::u16string Text(const std::vector<char16_t>& buffer)
    {
        return std::u16string(buffer.data()).substr(0, 8);
    }

    KelvaneLibrary& library = KelvaneLibrary::Get();
    decltype(&::SetParameters) set =
        reinterpret_cast<decltype(&::SetParameters)>(library.Symbol("SetParameters"));
    decltype(&::GetParameters) get =
        reinterpret_cast<decltype(&::GetParameters)>(library.Symbol("GetParameters"));
    LoginServer server;
    Csocketclient* channel = nullptr;
    std::vector<char16_t> out = Buffer();
    std::vector<char16_t> out1 = Buffer();
    std::vector<char16_t> out2 = Buffer();
};

} // namespace

TEST_F(ParametersTest, OneCharacterTextsMakeThreePiecesThatOpenAsTwoPairs)
{
    ASSERT_EQ(Set(u"a", u"b", u"c", u"d"), 1);
    const std::vector<std::u16string> pieces = Pieces();
    ASSERT_EQ(pieces.size(), 3u);
    // Two data bytes seal into 64 bytes, six into 32; two hexadecimal digits a byte.
    EXPECT_EQ(pieces[0].size(), 128u);
    EXPECT_EQ(pieces[1].size(), 128u);
    EXPECT_EQ(pieces[2].size(), 64u);
    for (const std::u16string& piece : pieces)
        EXPECT_EQ(piece.find_first_not_of(u"0123456789ABCDEF"), std::u16string::npos);
    EXPECT_EQ(Opened(pieces[0]), u"a");
    EXPECT_EQ(Opened(pieces[1]), u"b");
    EXPECT_EQ(Opened(pieces[2]), u"c:d");

    ASSERT_EQ(Get(pieces[0], pieces[1], pieces[2]), 1);
    EXPECT_EQ(std::u16string(out1.data()), u"a:b");
    EXPECT_EQ(std::u16string(out2.data()), u"c:d");
}

TEST_F(ParametersTest, LongerTextsRoundTripWhetherConnectedOrNot)
{
    const std::u16string user = u"user name \u00e9\u4e2d " + std::u16string(180, u'u');
    const std::u16string secret = u"p|a:ss\u20ac";
    for (int round = 0; round < 2; ++round) {
        if (round == 1)
            server.Stop();
        ASSERT_EQ(Set(user.c_str(), secret.c_str(), u"host.example", u"8443"), 1) << round;
        const std::vector<std::u16string> pieces = Pieces();
        ASSERT_EQ(pieces.size(), 3u);
        ASSERT_EQ(Get(pieces[0], pieces[1], pieces[2]), 1);
        EXPECT_EQ(std::u16string(out1.data()), user + u":" + secret);
        EXPECT_EQ(std::u16string(out2.data()), u"host.example:8443");
    }
}

TEST_F(ParametersTest, TextThatCannotBeSealedStopsAtItsStepAndWritesNothing)
{
    const std::u16string tooLong(300, u'x');
    EXPECT_EQ(Set(u"", u"b", u"c", u"d"), 0);
    EXPECT_EQ(Set(nullptr, u"b", u"c", u"d"), 0);
    EXPECT_EQ(Set(u"a", tooLong.c_str(), u"c", u"d"), 0);
    EXPECT_EQ(Set(u"a", u"b", nullptr, u"d"), 0);
    EXPECT_EQ(Set(u"a", u"b", u"c", tooLong.c_str()), 0);
    EXPECT_EQ(Text(out), Untouched());
    // c ":" d is never empty.
    EXPECT_EQ(Set(u"a", u"b", u"", u""), 1);
    EXPECT_EQ(Opened(Pieces()[2]), u":");
}

TEST_F(ParametersTest, PiecesThatDoNotOpenStopAtTheirStep)
{
    ASSERT_EQ(Set(u"a", u"b", u"c", u"d"), 1);
    const std::vector<std::u16string> pieces = Pieces();
    std::u16string damaged = pieces[2];
    damaged[10] = damaged[10] == u'0' ? u'1' : u'0';

    EXPECT_EQ(Get(u"not sealed", pieces[1], pieces[2]), 0);
    EXPECT_EQ(Get(pieces[0], u"", pieces[2]), 0);
    EXPECT_EQ(Text(out1), Untouched());
    EXPECT_EQ(Text(out2), Untouched());

    // The first pair is handed over before the third piece is opened.
    EXPECT_EQ(Get(pieces[0], pieces[1], damaged), 0);
    EXPECT_EQ(std::u16string(out1.data()), u"a:b");
    EXPECT_EQ(Text(out2), Untouched());

    EXPECT_EQ(get(channel, nullptr, pieces[1].c_str(), pieces[2].c_str(), out1.data(), kCapacity,
                  out2.data(), kCapacity),
              0);
}

TEST_F(ParametersTest, ResultsAreNeverCutOrWrittenPastTheirCapacity)
{
    ASSERT_EQ(Set(u"a", u"b", u"c", u"d"), 1);
    const std::u16string sealed = out.data();
    const std::vector<std::u16string> pieces = Pieces();
    const int32_t exact = static_cast<int32_t>(sealed.size()) + 1;

    out = Buffer();
    EXPECT_EQ(Set(u"a", u"b", u"c", u"d", exact), 1);
    EXPECT_EQ(std::u16string(out.data()), sealed);
    out = Buffer();
    EXPECT_EQ(Set(u"a", u"b", u"c", u"d", exact - 1), 0);
    EXPECT_EQ(out[0], u'\0');
    EXPECT_EQ(out[1], u'#');
    out = Buffer();
    EXPECT_EQ(Set(u"a", u"b", u"c", u"d", 0), 0);
    EXPECT_EQ(Set(u"a", u"b", u"c", u"d", -5), 0);
    EXPECT_EQ(out[0], u'#');
    EXPECT_EQ(set(channel, u"a", u"b", u"c", u"d", nullptr, kCapacity), 0);

    EXPECT_EQ(Get(pieces[0], pieces[1], pieces[2], 4, 4), 1);
    out1 = Buffer();
    out2 = Buffer();
    EXPECT_EQ(Get(pieces[0], pieces[1], pieces[2], 3, 4), 0);
    EXPECT_EQ(out1[0], u'\0');
    EXPECT_EQ(out1[1], u'#');
    EXPECT_EQ(out2[0], u'#');
    out1 = Buffer();
    EXPECT_EQ(Get(pieces[0], pieces[1], pieces[2], 4, 3), 0);
    EXPECT_EQ(std::u16string(out1.data()), u"a:b");
    EXPECT_EQ(out2[0], u'\0');
    EXPECT_EQ(out2[1], u'#');
    EXPECT_EQ(get(channel, pieces[0].c_str(), pieces[1].c_str(), pieces[2].c_str(), out1.data(),
                  kCapacity, nullptr, kCapacity),
              0);
}

TEST_F(ParametersTest, NullChannelIsRefusedWithoutWriting)
{
    EXPECT_EQ(set(nullptr, u"a", u"b", u"c", u"d", out.data(), kCapacity), 0);
    EXPECT_EQ(get(nullptr, u"x", u"y", u"z", out1.data(), kCapacity, out2.data(), kCapacity), 0);
    EXPECT_EQ(Text(out), Untouched());
    EXPECT_EQ(Text(out1), Untouched());
    EXPECT_EQ(Text(out2), Untouched());
}
