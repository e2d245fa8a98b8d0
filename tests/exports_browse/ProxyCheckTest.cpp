// CheckProxySettings through a real tinyproxy to a stand-in server, and against proxies that
// refuse or cannot be reached: the result, and the error text within the host's capacity.
#include <algorithm>
#include <array>

#include "BrowseFixture.h"
#include "platform/text.h"
#include "support/LoopbackServer.h"
#include "support/ScriptedProxy.h"
#include "support/Tinyproxy.h"

namespace {

constexpr char16_t kSentinel = u'#';
// A loopback port that nothing listens on.
constexpr int32_t kClosedPort = 1;

class ProxyCheckTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Started()) << "port 443 of a loopback address could not be bound";
        errText.fill(kSentinel);
    }

    int32_t Check(const Tinyproxy& proxy, const char16_t* user = u"",
                  const char16_t* password = u"", int32_t capacity = kCapacity)
    {
        return exports.CheckProxySettings(u"127.0.0.1", static_cast<int32_t>(proxy.Port()), user,
                                          password, server.Address16().c_str(), 443,
                                          errText.data(), capacity);
    }

    std::string ErrorText() const { return Utf16ToUtf8(errText.data()); }
    bool ErrorTextUntouched() const
    {
        return std::all_of(errText.begin(), errText.end(),
                           [](char16_t unit) { return unit == kSentinel; });
    }

    static constexpr int32_t kCapacity = 64;
    const BrowseExports& exports = BrowseExports::Get();
    LoginServer server;
    std::array<char16_t, kCapacity + 16> errText{};
};

} // namespace

TEST_F(ProxyCheckTest, ConnectsThroughTheProxyAndLeavesTheErrorTextAlone)
{
    Tinyproxy proxy;
    ASSERT_TRUE(proxy.Start());
    EXPECT_EQ(Check(proxy), 1) << ErrorText() << proxy.Log();
    EXPECT_TRUE(ErrorTextUntouched());
    EXPECT_EQ(server.Server().Log().Hellos().size(), 1u);
    EXPECT_EQ(server.RequestCount(CCreatePacket::kGetCommandIndex), 1u);
}

TEST_F(ProxyCheckTest, ProxyCredentialsAreSentOnlyWithAUserName)
{
    Tinyproxy proxy;
    ASSERT_TRUE(proxy.Start("keeper", "gate"));
    EXPECT_EQ(Check(proxy, u"keeper", u"gate"), 1) << ErrorText() << proxy.Log();
    EXPECT_TRUE(ErrorTextUntouched());

    EXPECT_EQ(Check(proxy, u"keeper", u"wrong"), 0);
    EXPECT_EQ(ErrorText(), "HTTP_STATUS_PROXY_AUTH_REQ");
    errText.fill(kSentinel);
    // A password without a user name is not sent.
    EXPECT_EQ(Check(proxy, u"", u"gate"), 0);
    EXPECT_EQ(ErrorText(), "HTTP_STATUS_PROXY_AUTH_REQ");
    EXPECT_EQ(server.Server().Log().Hellos().size(), 1u);
}

TEST_F(ProxyCheckTest, UnreachableProxyFillsTheErrorTextWithinItsCapacity)
{
    auto check = [&](int32_t capacity) {
        return exports.CheckProxySettings(u"127.0.0.1", kClosedPort, u"", u"",
                                          server.Address16().c_str(), 443, errText.data(),
                                          capacity);
    };
    EXPECT_EQ(check(kCapacity), 0);
    const std::string text = ErrorText();
    EXPECT_EQ(text, "Proxy Connection Failed with Error - 10061");
    EXPECT_TRUE(std::all_of(errText.begin() + text.size() + 1, errText.end(),
                            [](char16_t unit) { return unit == kSentinel; }));

    // Four units hold three characters and the NUL: the text does not fit, nothing is cut.
    errText.fill(kSentinel);
    EXPECT_EQ(check(4), 0);
    EXPECT_EQ(errText[0], u'\0');
    EXPECT_TRUE(std::all_of(errText.begin() + 1, errText.end(),
                            [](char16_t unit) { return unit == kSentinel; }));

    // Exactly the text and its NUL fit.
    errText.fill(kSentinel);
    EXPECT_EQ(check(static_cast<int32_t>(text.size() + 1)), 0);
    EXPECT_EQ(ErrorText(), text);

    errText.fill(kSentinel);
    EXPECT_EQ(check(0), 0);
    EXPECT_EQ(check(-5), 0);
    EXPECT_TRUE(ErrorTextUntouched());
    EXPECT_EQ(exports.CheckProxySettings(u"127.0.0.1", kClosedPort, nullptr, nullptr,
                                         server.Address16().c_str(), 443, nullptr, 100),
              0);
    EXPECT_EQ(server.Server().Log().ConnectionCount(), 0u);
}

TEST_F(ProxyCheckTest, BlankHostsStartNothing)
{
    ScriptedProxy proxy("HTTP/1.0 200 Connection established\r\n\r\n");
    ASSERT_TRUE(proxy.Start());
    const auto port = static_cast<int32_t>(proxy.Port());
    EXPECT_EQ(exports.CheckProxySettings(u"127.0.0.1", port, u"", u"", u" \t", 443,
                                         errText.data(), kCapacity),
              0);
    EXPECT_EQ(exports.CheckProxySettings(u"127.0.0.1", port, u"", u"", nullptr, 443,
                                         errText.data(), kCapacity),
              0);
    EXPECT_EQ(exports.CheckProxySettings(u"  ", port, u"", u"", server.Address16().c_str(), 443,
                                         errText.data(), kCapacity),
              0);
    EXPECT_EQ(exports.CheckProxySettings(nullptr, port, u"", u"", server.Address16().c_str(),
                                         443, errText.data(), kCapacity),
              0);
    EXPECT_TRUE(ErrorTextUntouched());
    EXPECT_TRUE(proxy.Requests().empty());
}

TEST_F(ProxyCheckTest, TheTunnelGoesToTheCallersServerPort)
{
    std::unique_ptr<StandinServer> other = StartLoopbackServer(0);
    ASSERT_NE(other, nullptr);
    const std::u16string address = Utf8ToUtf16(other->Address());
    const auto port = static_cast<int32_t>(other->Port());

    Tinyproxy only443;
    ASSERT_TRUE(only443.Start());
    EXPECT_EQ(exports.CheckProxySettings(u"127.0.0.1", static_cast<int32_t>(only443.Port()), u"",
                                         u"", address.c_str(), port, errText.data(), kCapacity),
              0);
    EXPECT_EQ(ErrorText(), "proxy resp: 403");

    Tinyproxy toPort;
    ASSERT_TRUE(toPort.Start("", "", static_cast<unsigned>(port)));
    EXPECT_EQ(exports.CheckProxySettings(u"127.0.0.1", static_cast<int32_t>(toPort.Port()), u"",
                                         u"", address.c_str(), port, errText.data(), kCapacity),
              1)
        << ErrorText() << toPort.Log();
    EXPECT_EQ(other->Log().Hellos().size(), 1u);
    other->Stop();
}
