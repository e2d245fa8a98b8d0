#include <cstring>
#include <filesystem>
#include <sched.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "connection/ChannelProbe.h"
#include "support/HostRecorder.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

TEST(Channel, StartsUnconnectedWithTheDocumentedDefaults)
{
    RegistryFile registry;
    Csocketclient channel;
    ChannelProbe probe(channel);
    EXPECT_GE(probe.TimerFrequency(), 1000u);
    EXPECT_EQ(probe.ProxyActive(), 0u);
    EXPECT_EQ(probe.LastError(), 0u);
    EXPECT_FALSE(probe.HasCallback());
    EXPECT_EQ(probe.SendSleep(), 10);
    EXPECT_EQ(probe.RecvSleep(), 10);
    EXPECT_EQ(probe.SendChunkSize(), 0x400000u);
    EXPECT_EQ(probe.GetPacketSize(), 0x100000u);
    EXPECT_EQ(probe.WaitTimeout(), 3600u);
    EXPECT_EQ(channel.GetLogLevel(), 0);
    EXPECT_EQ(probe.MachineMode(), 0u);
    EXPECT_EQ(probe.AutoSession(), 0u);
    EXPECT_EQ(probe.KeepAliveMode(), 1u);
    EXPECT_EQ(probe.MachineKey(), "");
    EXPECT_EQ(channel.IsConnected(), 0u);
    EXPECT_FALSE(probe.HasSocket());
    EXPECT_EQ(probe.CommandIndex(), 0u);
    EXPECT_EQ(probe.Cancel(), 0u);
    EXPECT_EQ(probe.ProxyHost(), "");
    EXPECT_EQ(probe.ProxyPort(), 0u);
    EXPECT_EQ(probe.ProxyAuthorization(), "");
    EXPECT_EQ(probe.ServerPort(), 443u);
    EXPECT_EQ(probe.ServerHost(), "server.kelvane.invalid");
    EXPECT_EQ(channel.IsAuthenticated(), 0u);
    EXPECT_EQ(channel.GetSessionFlag40(), 0u);
    EXPECT_EQ(channel.GetSessionFlag2(), 0u);
    EXPECT_EQ(channel.GetSessionFlag4(), 0u);
    EXPECT_EQ(channel.GetSessionFlag8(), 0u);
    EXPECT_EQ(channel.GetSessionFlag80(), 1u);
    EXPECT_EQ(channel.GetSessionFlag100(), 1u);
    EXPECT_EQ(channel.GetSessionFlag400(), 0u);
    EXPECT_EQ(probe.MachineId(), 0u);
    EXPECT_EQ(probe.WaitBeforeChunk(), 0u);
    EXPECT_EQ(probe.ProxyFallback(), 0u);
    EXPECT_EQ(probe.LoginSequence(), 1u);
    EXPECT_EQ(probe.UserName(), "");
    EXPECT_EQ(probe.Password(), "");
    for (size_t drive = 0; drive < Csocketclient::kVolumeCodeCount; ++drive)
        EXPECT_EQ(probe.VolumeCode(drive), 0u);
    char name[256];
    ASSERT_EQ(gethostname(name, sizeof name), 0);
    EXPECT_EQ(probe.HostName(), std::string(name).substr(0, std::strlen(name) > 32 ? 31 : 32));
}

// The computer name is changed in a UTS namespace of a child process only.
TEST(Channel, KeepsAComputerNameOf32CharactersAndCutsLongerOnesTo31)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "changing the computer name needs root";
    auto hostNameWith = [](const char* name) {
        if (unshare(CLONE_NEWUTS) != 0 || sethostname(name, std::strlen(name)) != 0)
            std::exit(2);
        RegistryFile registry;
        Csocketclient channel;
        std::fprintf(stderr, "[%s]", ChannelProbe(channel).HostName().c_str());
        std::exit(0);
    };
    EXPECT_EXIT(hostNameWith("abcdefghij0123456789abcdefghij01"), testing::ExitedWithCode(0),
                "\\[abcdefghij0123456789abcdefghij01\\]");
    EXPECT_EXIT(hostNameWith("abcdefghij0123456789abcdefghij012"), testing::ExitedWithCode(0),
                "\\[abcdefghij0123456789abcdefghij0\\]");
}

TEST(Channel, DataFolderIsTempUnderTheRegisteredDataPathAndIsCreated)
{
    TempDir data;
    std::string dataPath = (data.path() / "kelvane").string();
    RegistryFile registry(dataPath);
    Csocketclient channel;
    EXPECT_EQ(ChannelProbe(channel).DataFolder(), Utf8ToUtf16(dataPath + "\\Temp\\"));
    EXPECT_TRUE(std::filesystem::is_directory(data.path() / "kelvane" / "Temp"));
}

TEST(Channel, DataFolderIsTheCurrentDirectoryWithoutAUsableDataPath)
{
    std::u16string current = std::filesystem::current_path().u16string();
    {
        RegistryFile registry;
        Csocketclient channel;
        EXPECT_EQ(ChannelProbe(channel).DataFolder(), current);
    }
    // A data path leaving no room for "\Temp\" in the folder's 1024 characters.
    TempDir data;
    std::string tooLong = (data.path() / std::string(1020 - data.path().string().size(), 'd')).string();
    RegistryFile registry(tooLong);
    Csocketclient channel;
    EXPECT_EQ(ChannelProbe(channel).DataFolder(), current);
    EXPECT_TRUE(std::filesystem::is_empty(data.path()));
}

TEST(Channel, SettersConvertAndStoreTheirValues)
{
    RegistryFile registry;
    Csocketclient channel;
    ChannelProbe probe(channel);
    probe.SetCancel(1);
    EXPECT_EQ(channel.SetServer(u"h\u00f6st.example", 8443), 1);
    EXPECT_EQ(probe.ServerHost(), "h\xc3\xb6st.example");
    EXPECT_EQ(probe.ServerPort(), 8443u);
    EXPECT_EQ(probe.Cancel(), 0u);

    channel.SetMachineKey("key-1");
    EXPECT_EQ(probe.MachineKey(), "key-1");
    EXPECT_EQ(probe.MachineMode(), 1u);
    channel.SetMachineId(0x89abcdef, 0x01234567);
    EXPECT_EQ(probe.MachineId(), 0x0123456789abcdefull);

    channel.SetSessionFlag4(1);
    channel.SetSessionFlag8(9);
    channel.SetSessionFlag2(1);
    channel.SetSessionFlagX(1);
    channel.SetSessionFlag80(0);
    channel.SetSessionFlag100(0);
    EXPECT_EQ(channel.SetUserCredentials(u"us\u00e9r", u"p\u20acss"), 1);
    EXPECT_EQ(probe.UserName(), "us\xc3\xa9r");
    EXPECT_EQ(probe.Password(), "p\xe2\x82\xacss");
    EXPECT_EQ(channel.GetSessionFlag4(), 0u);
    EXPECT_EQ(channel.GetSessionFlag8(), 0u);
    EXPECT_EQ(channel.GetSessionFlag2(), 0u);
    EXPECT_EQ(probe.SessionFlagX(), 0u);
    EXPECT_EQ(channel.GetSessionFlag80(), 1u);
    EXPECT_EQ(channel.GetSessionFlag100(), 1u);

    // 1023 bytes of UTF-8 fit the field; 1024 do not and leave the previous name.
    std::u16string fits(1023, u'a');
    channel.SetUserCredentials(fits.c_str(), u"p");
    EXPECT_EQ(probe.UserName(), std::string(1023, 'a'));
    std::u16string tooLong = std::u16string(1022, u'b') + u"\u00e9";
    channel.SetUserCredentials(tooLong.c_str(), u"p");
    EXPECT_EQ(probe.UserName(), std::string(1023, 'a'));

    probe.SetCancel(1);
    channel.SetGetPacketSize(0x20000);
    EXPECT_EQ(probe.GetPacketSize(), 0x20000u);
    EXPECT_EQ(channel.ResetSession(), 1);
    EXPECT_EQ(probe.Cancel(), 0u);
}

TEST(Base64Encode, GivesTheStandardEncoding)
{
    const std::pair<const char*, const char*> vectors[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xff\xfe\x80", "//6A"},
        {"user:password", "dXNlcjpwYXNzd29yZA=="}};
    for (const auto& [text, encoded] : vectors) {
        char out[64];
        Base64Encode(out, text);
        EXPECT_STREQ(out, encoded) << text;
    }
}

TEST(Channel, ProxyCredentialsBecomeABasicAuthorization)
{
    RegistryFile registry;
    Csocketclient channel;
    ChannelProbe probe(channel);
    channel.SetProxy(u"proxy.example", 3128);
    EXPECT_EQ(probe.ProxyHost(), "proxy.example");
    EXPECT_EQ(probe.ProxyPort(), 3128u);

    channel.SetProxyCredentials(u"user", u"");
    EXPECT_EQ(probe.ProxyAuthorization(), "dXNlcjo=");
    // Bytes above 0x7F of the converted text are encoded like any other: "\u00fc:x" is
    // C3 BC 3A 78.
    channel.SetProxyCredentials(u"\u00fc", u"x");
    EXPECT_EQ(probe.ProxyAuthorization(), "w7w6eA==");
    // An empty user leaves the authorization as it was.
    channel.SetProxyCredentials(u"", u"secret");
    EXPECT_EQ(probe.ProxyAuthorization(), "w7w6eA==");
    EXPECT_EQ(probe.ProxyUser(), "");
    EXPECT_EQ(probe.ProxyPassword(), "secret");
}

TEST(Channel, RefusedProxyCredentialsLeaveUserPasswordAndAuthorizationAsTheyWere)
{
    RegistryFile registry;
    Csocketclient channel;
    ChannelProbe probe(channel);
    channel.SetProxyCredentials(u"user", u"password");
    // A user over the field's 1023 bytes; a pair whose Base64 would not fit the field.
    const std::u16string longUser(1024, u'u');
    const std::u16string longPassword(765, u'p');
    const std::pair<const char16_t*, const char16_t*> refused[] = {
        {longUser.c_str(), u"other"}, {u"u", longPassword.c_str()}};
    for (const auto& [user, password] : refused) {
        channel.SetProxyCredentials(user, password);
        EXPECT_EQ(probe.ProxyUser(), "user");
        EXPECT_EQ(probe.ProxyPassword(), "password");
        EXPECT_EQ(probe.ProxyAuthorization(), "dXNlcjpwYXNzd29yZA==");
    }
}

TEST(ChannelLog, EmitsOnlyUpToTheLevelAndNothingAtLevelZero)
{
    RegistryFile registry;
    Csocketclient channel;
    HostRecorder recorder;
    recorder.Install(channel);
    channel.LogA(3, 10, "a");
    channel.LogW(3, 10, u"b");
    EXPECT_TRUE(recorder.Events().empty());

    channel.SetLogLevel(30);
    channel.LogA(1, 40, "level 40");
    channel.LogA(1, 30, "level 30");
    channel.LogW(3, 10, u"level 10");
    channel.SetLogLevel(10);
    channel.LogA(1, 30, "level 30 again");
    channel.LogA(1, 10, "level 10 again");
    ASSERT_EQ(recorder.Events().size(), 3u);
    EXPECT_EQ(recorder.Events()[0].text, "level 30");
    EXPECT_EQ(recorder.Events()[0].value, 1u);
    EXPECT_EQ(recorder.Events()[1].text, "level 10");
    EXPECT_EQ(recorder.Events()[1].value, 3u);
    EXPECT_EQ(recorder.Events()[2].text, "level 10 again");
    EXPECT_EQ(recorder.Count(1), 3u);
}

TEST(ChannelLog, WritesLinesToStandardOutputWithoutACallback)
{
    RegistryFile registry;
    Csocketclient channel;
    HostRecorder recorder;
    channel.SetLogLevel(50);
    recorder.Install(channel);
    channel.SetCallback(0, nullptr);
    testing::internal::CaptureStdout();
    channel.LogW(1, 10, u"wide \u00e9\u20ac text");
    channel.LogA(3, 50, "narrow \xc3\xa9");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "wide \xc3\xa9\xe2\x82\xac text\nnarrow \xc3\xa9\n");
    EXPECT_TRUE(recorder.Events().empty());
}

TEST(ChannelLog, NarrowTextsTooLongForTheWideBufferAreDropped)
{
    RegistryFile registry;
    Csocketclient channel;
    HostRecorder recorder;
    recorder.Install(channel);
    channel.SetLogLevel(10);
    channel.LogA(1, 10, std::string(4095, 'x').c_str());
    channel.LogA(1, 10, std::string(4096, 'y').c_str());
    ASSERT_EQ(recorder.Events().size(), 1u);
    EXPECT_EQ(recorder.Events()[0].text, std::string(4095, 'x'));
}

TEST(ChannelLog, TheUtilityObjectSharesTheCallbackAndTheLevel)
{
    RegistryFile registry;
    Csocketclient channel;
    HostRecorder recorder;
    recorder.Install(channel);
    ChannelProbe probe(channel);
    probe.UtilityLog(1, 30, u"from the utility object");
    EXPECT_TRUE(recorder.Events().empty());
    channel.SetLogLevel(30);
    probe.UtilityLog(1, 30, u"from the utility object");
    ASSERT_EQ(recorder.Events().size(), 1u);
    EXPECT_EQ(recorder.Events()[0].code, 1u);
    EXPECT_EQ(recorder.Events()[0].text, "from the utility object");
}
