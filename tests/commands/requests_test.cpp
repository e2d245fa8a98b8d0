// What the command methods send, when they send nothing, and what a failed exchange leaves.
#include "commands/CommandFixture.h"

using namespace ServerCommand;

namespace {

constexpr DWORD kUntouched = 99;

}  // namespace

TEST_F(CommandFixture, RequestsCarryTheCallersValuesInTheWireOrder)
{
    Connect();
    DWORD status = kUntouched;
    channel.DeleteServerFile(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, &status);
    EXPECT_EQ(Sent(kDeleteServerFile).at(0),
              WireBytes().U32(308).U32(1).U32(2).U32(3).U32(4).U32(5).U32(6).U32(7).U32(8).U32(9).U32(10).Get());

    void* reply = nullptr;
    DWORD count = 0;
    channel.ProductList(u"ab", 7, 9, &reply, &count, &status);
    Cutil::FreePacket(reply);
    EXPECT_EQ(Sent(kProductList).at(0), WireBytes().U32(310).U32(7).U32(9).Text16(u"ab").Get());

    ULONGLONG machineId = 0;
    char key[Csocketclient::kReplyTextCapacity] = {};
    channel.CreateMachineByAuth("auth", "box", "host", 53, &machineId, key, &status);
    EXPECT_EQ(Sent(kCreateMachineByAuth).at(0),
              WireBytes().U32(344).Text8("auth").Text8("host").U32(53).Text8("box").Get());

    channel.SetMachineId(0x11, 0x22);
    channel.GetMachineInformation(5, 6, key);
    EXPECT_EQ(Sent(kGetMachineAuth).at(0), WireBytes().U32(216).U32(0x11).U32(0x22).U32(5).U32(6).Get());

    reply = nullptr;
    channel.GetRootDirectory(2, &reply, 1, 0, 2, 0, u"\\", &count);
    Cutil::FreePacket(reply);
    EXPECT_EQ(Sent(kGetRootDirectory).at(0), WireBytes().U32(338).U64(1).U64(2).Text8("\\").Get());
}

TEST_F(CommandFixture, MyCheckFileSendsTheFolderAndNameOfThePathWithTheDrivesVolumeCode)
{
    FillOffice();
    Connect();
    probe.SetVolumeCode(u'C', kVolume);
    ULONGLONG values[3] = {};
    DWORD result = 0;
    DWORD status = kUntouched;
    EXPECT_EQ(channel.MyCheckFile(0, 0, u"c:\\docs\\report.txt", 1, 2, 3, 4, 5, &values[0],
                                  &values[1], &values[2], &result, &status),
              1);
    EXPECT_EQ(Sent(kCheckFile).at(0), WireBytes()
                                          .U32(267)
                                          .U64(kVolume)
                                          .Text8("\\docs\\")
                                          .Text8("report.txt")
                                          .U32(1)
                                          .U32(2)
                                          .U32(5)
                                          .U32(3)
                                          .U32(4)
                                          .Get());
    EXPECT_EQ(result, 1u);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(values[0], 1300u);
    EXPECT_EQ(values[1], 1600003600u);
    EXPECT_EQ(values[2], kReport);

    // A given volume code wins over the table; a name without extension goes alone.
    channel.MyCheckFile(0x42, 0, u"C:\\docs\\README", 0, 0, 0, 0, 0, &values[0], &values[1],
                        &values[2], &result, &status);
    EXPECT_EQ(Sent(kCheckFile).at(1), WireBytes()
                                          .U32(267)
                                          .U64(0x42)
                                          .Text8("\\docs\\")
                                          .Text8("README")
                                          .U32(0)
                                          .U32(0)
                                          .U32(0)
                                          .U32(0)
                                          .U32(0)
                                          .Get());
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(status, ServerStatus::kFileUnknown);
}

TEST_F(CommandFixture, MyCheckFileWithoutAVolumeCodeLogsAndSendsNothing)
{
    Connect();
    host.Install(channel);
    channel.SetLogLevel(10);
    probe.SetVolumeCode(u'C', kVolume);
    ULONGLONG values[3] = {7, 7, 7};
    DWORD result = kUntouched;
    DWORD status = kUntouched;
    EXPECT_EQ(channel.MyCheckFile(0, 0, u"D:\\x\\y.z", 1, 2, 3, 4, 5, &values[0], &values[1],
                                  &values[2], &result, &status),
              0);
    EXPECT_TRUE(host.Logged("MyCheckFile: volumecode zero for D:\\x\\y.z"));
    EXPECT_EQ(channel.MyCheckFile(0, 0, u"/srv/files/a.txt", 1, 2, 3, 4, 5, &values[0],
                                  &values[1], &values[2], &result, &status),
              0);
    EXPECT_TRUE(host.Logged("MyCheckFile: volumecode zero for /srv/files/a.txt"));
    EXPECT_TRUE(Sent(kCheckFile).empty());
    EXPECT_EQ(result, kUntouched);
    EXPECT_EQ(status, kUntouched);
    EXPECT_EQ(values[0], 7u);
}

// A folder longer than the path splitter keeps would be sent cut, naming another folder.
TEST_F(CommandFixture, MyCheckFileRefusesAPathWhosePartsTheSplitterWouldCut)
{
    Connect();
    host.Install(channel);
    channel.SetLogLevel(10);
    probe.SetVolumeCode(u'C', kVolume);
    std::u16string path = u"C:\\" + std::u16string(300, u'f') + u"\\a.txt";
    ULONGLONG values[3] = {};
    DWORD result = 0;
    DWORD status = 0;
    EXPECT_EQ(channel.MyCheckFile(0, 0, path.c_str(), 0, 0, 0, 0, 0, &values[0], &values[1],
                                  &values[2], &result, &status),
              0);
    EXPECT_TRUE(host.Logged("MyCheckFile: path too long for " + Utf16ToUtf8(path)));
    EXPECT_TRUE(Sent(kCheckFile).empty());
}

TEST_F(CommandFixture, GetVolumeCodeReadsTheEntryOfThePathsDriveLetter)
{
    probe.SetVolumeCode(u'A', 1);
    probe.SetVolumeCode(u'E', 5);
    ULONGLONG code = kUntouched;
    channel.GetVolumeCode(u"e:\\data\\x.bin", &code);
    EXPECT_EQ(code, 5u);
    channel.GetVolumeCode(u"\\\\server\\a$\\dir\\file", &code);
    EXPECT_EQ(code, 1u);
    channel.GetVolumeCode(u"F:\\x", &code);
    EXPECT_EQ(code, 0u);
    code = kUntouched;
    channel.GetVolumeCode(u"relative\\x", &code);
    EXPECT_EQ(code, 0u);
}

// Each of these would try to log in if it ran the session check; none does, and each is sent.
TEST_F(CommandFixture, CommandsWithoutSessionCheckSendOnAChannelThatIsNotLoggedIn)
{
    Connect();
    channel.SetUserCredentials(u"alice", u"wrong");
    channel.SetAutoSession(1);
    DWORD status = 0;
    channel.CheckUsername(u"bob", &status);
    channel.CreateAccount(u"bob", u"pw", u"bob@example.org", u"en", u"Bob", u"Stone", u"555",
                          &status);
    void* reply = nullptr;
    EXPECT_EQ(channel.GetMemberStats(&reply), 1);
    Cutil::FreePacket(reply);
    reply = nullptr;
    EXPECT_EQ(channel.Search(&reply, 5, 0, u"abc"), 1);
    Cutil::FreePacket(reply);
    ULONGLONG machineId = 0;
    char key[Csocketclient::kReplyTextCapacity] = {};
    channel.CreateMachineByAuth("auth", "box", "host", 56, &machineId, key, &status);
    for (DWORD code : {kCheckUsername, kCreateAccount, kGetMemberStats, kSearch, kCreateMachineByAuth})
        EXPECT_EQ(Sent(code).size(), 1u) << code;
    EXPECT_TRUE(logins.Logins().empty());

    // A checked command on the same channel tries the login, which is refused.
    EXPECT_EQ(channel.DeleteMember(u"bob"), 0u);
    EXPECT_TRUE(Sent(kDeleteMember).empty());
    EXPECT_EQ(logins.Logins().size(), 1u);
}

TEST_F(CommandFixture, AFailedSessionCheckRecordsNoSessionAndSendsNothing)
{
    Connect();
    channel.SetUserCredentials(u"alice", u"wrong");
    channel.SetAutoSession(1);
    DWORD status = kUntouched;
    EXPECT_EQ(channel.DeleteServerFolder(1, 0, 2, 0, 3, 0, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(probe.LastError(), CTransport::kErrorNoSession);
    ULONGLONG values[3] = {7, 7, 7};
    DWORD result = kUntouched;
    status = kUntouched;
    EXPECT_EQ(channel.CheckFile(1, 0, u"\\", u"a", 0, 0, 0, 0, 0, &values[0], &values[1],
                                &values[2], &result, &status),
              0);
    EXPECT_EQ(probe.LastError(), CTransport::kErrorNoSession);
    EXPECT_EQ(result, 0u);
    EXPECT_EQ(values[0], 0u);
    EXPECT_TRUE(Sent(kDeleteServerFolder).empty());
    EXPECT_TRUE(Sent(kCheckFile).empty());
}

TEST_F(CommandFixture, ALostConnectionLeavesStatusZeroAndRecordsTheFailedStep)
{
    Connect();
    host.Install(channel);
    channel.SetLogLevel(30);
    server->SetFault({FaultKind::CloseMidMessage, kDeleteServerFile});
    DWORD status = kUntouched;
    EXPECT_EQ(channel.DeleteServerFile(1, 0, 2, 0, 3, 0, 4, 0, 5, 0, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(probe.LastError(), CTransport::kErrorNoReply);
    EXPECT_TRUE(host.Logged("DeleteServerFile: ReceiveMsg failed"));
    EXPECT_EQ(channel.IsConnected(), 0u);

    // The socket is gone now, so the next request cannot be sent.
    status = kUntouched;
    EXPECT_EQ(channel.DeleteServerFile(1, 0, 2, 0, 3, 0, 4, 0, 5, 0, &status), 0);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(probe.LastError(), CTransport::kErrorSendFailed);
    ULONGLONG machineId = 3;
    char key[Csocketclient::kReplyTextCapacity] = "old";
    EXPECT_EQ(channel.CreateMachineByAuth("auth", "box", "host", 53, &machineId, key, &status), 0);
    EXPECT_EQ(probe.LastError(), CTransport::kErrorSendFailed);
    EXPECT_EQ(machineId, 3u);
    EXPECT_STREQ(key, "old");
}

TEST_F(CommandFixture, AFailedReceiveIsLoggedUnderTheCommandsLogName)
{
    Connect();
    host.Install(channel);
    channel.SetLogLevel(30);
    server->SetFault({FaultKind::WrongCrc, kCheckUsername});
    DWORD status = 0;
    EXPECT_EQ(channel.CheckUsername(u"bob", &status), 0u);
    EXPECT_TRUE(host.Logged("Search: ReceiveMsg failed"));
    server->SetFault({FaultKind::WrongCrc, kGetRootDirectory});
    Connect();
    void* reply = nullptr;
    DWORD count = kUntouched;
    EXPECT_EQ(channel.GetRootDirectory(2, &reply, 1, 0, 2, 0, u"\\", &count), 0);
    EXPECT_TRUE(host.Logged("GetDirectory: ReceiveMsg failed"));
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(count, kUntouched);
}

TEST_F(CommandFixture, IsWebPortalEnabledExAsksOnlyOnceLoggedIn)
{
    Store([](ServiceState& state) { state.webPortalEnabled = 1; });
    Connect();
    DWORD enabled = kUntouched;
    EXPECT_EQ(channel.IsWebPortalEnabledEx(&enabled), 0);
    EXPECT_EQ(enabled, 0u);
    EXPECT_TRUE(Sent(kIsWebPortalEnabledEx).empty());
    LogIn();
    EXPECT_EQ(channel.IsWebPortalEnabledEx(&enabled), 1);
    EXPECT_EQ(enabled, 1u);
}

TEST_F(CommandFixture, CloseOpenHandleRemovesThePendingCacheFileBeforeClosing)
{
    Connect();
    probe.SetPendingCacheName("cache-17.tmp");
    EXPECT_EQ(channel.CloseOpenHandle(), 1u);
    EXPECT_EQ(Sent(kRemoveCacheFile).at(0), WireBytes().U32(35).Text8("cache-17.tmp").U32(0).U32(1).Get());
    std::vector<RecordedRequest> requests = server->Log().Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[requests.size() - 2].code, kRemoveCacheFile);
    EXPECT_EQ(requests.back().code, kCloseOpenHandle);
    EXPECT_EQ(probe.PendingCacheName(), "");

    EXPECT_EQ(channel.CloseOpenHandle(), 1u);
    EXPECT_EQ(Sent(kRemoveCacheFile).size(), 1u);
    EXPECT_EQ(Sent(kCloseOpenHandle).size(), 2u);
}

TEST_F(CommandFixture, DestroyingAChannelClosesItsOpenHandleOnTheServer)
{
    {
        Csocketclient other;
        other.SetServer(Utf8ToUtf16(server->Address()).c_str(), 443);
        other.SetSendSleep(0);
        other.SetRecvSleep(0);
        WCHAR errText[CTransportSocket::kErrorTextCapacity] = {};
        ASSERT_EQ(other.Connect(errText), 1);
    }
    EXPECT_EQ(Sent(kCloseOpenHandle).size(), 1u);
    EXPECT_EQ(Store([](ServiceState& state) { return state.closedHandles; }), 1u);
}

TEST_F(CommandFixture, MachineListIsCancelledByTheHostWhileTheServerDoesNotAnswer)
{
    Connect();
    server->SetFault({FaultKind::NoAnswer, kMachineList});
    probe.SetWaitTimeout(0);
    host.Install(channel);
    host.AnswerPolls({0, 0, 9});
    int sentinel = 0;
    void* reply = &sentinel;
    DWORD count = kUntouched;
    EXPECT_EQ(channel.MachineList(0, &reply, &count), 0);
    EXPECT_EQ(host.Count(4), 3u);
    EXPECT_EQ(probe.Cancel(), 1u);
    EXPECT_EQ(probe.LastError(), 9u);
    EXPECT_EQ(channel.IsConnected(), 0u);
    EXPECT_EQ(reply, &sentinel);
    EXPECT_EQ(count, kUntouched);
}
