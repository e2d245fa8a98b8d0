// The trace lines of the channel settings and browsing exports, written by the host program
// in a folder of its own against a stand-in server filled by the test.
#include "BrowseFixture.h"
#include "support/HostProgram.h"
#include "support/TempDir.h"

namespace {

class BrowseTraceTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Started()) << "port 443 of a loopback address could not be bound";
        server.Server().Model().Service().With([](ServiceState& state) {
            StoredVolume volume;
            volume.code = 0x100000002ull;
            volume.label = u"C:";
            volume.folders[1] = StoredFolder{u"\\", {StoredEntry{.name = u"a.txt", .fileCode = 5,
                                                                 .versions = {{70, 3, 9}}}}};
            StoredMachine machine;
            machine.id = 42;
            machine.name = u"Office";
            machine.volumes.push_back(volume);
            state.machines.push_back(machine);
            state.activeMachine = 42;
        });
    }

    std::string Open() const { return "open-user " + server.Address() + " alice secret "; }

    TempDir folder;
    HostProgram host{folder.path()};
    LoginServer server;
};

} // namespace

TEST_F(BrowseTraceTest, ListsWriteTheirFoundLinesCountsAndExitNumbers)
{
    host.Run(Open() + "machines machines-ex volumes root-folder 42 4294967298 " +
             "folder 42 4294967298 1 versions 42 4294967298 1 5 search 42 a.t close");
    std::vector<std::string> lines = host.TraceLines();
    EXPECT_TRUE(HasInOrder(lines, {
        "{ loadMachines():835",
        " Machines found.",
        " var: count = 1",
        "} loadMachines():904 -> ",
        "{ FreeBuffer():627",
        " var: freeMemoryRes = 1",
        "} FreeBuffer()",
        "{ loadMachinesEx():913",
        " Machines found.",
        "} loadMachinesEx():1029 -> ",
        "{ loadVolumes():1038",
        " Volumes found.",
        "} loadVolumes():1079 -> ",
        "{ loadRootFolder():1165",
        " var: machineCode = 42",
        " var: volumeCode = 4294967298",
        " Root folder found.",
        " var: count = 1",
        "} loadRootFolder():1226 -> ",
        "{ loadFolderByFolderCode():1093",
        " var: folderCode = 1",
        " folder found.",
        "} loadFolderByFolderCode():1154 -> ",
        "{ loadVersion():725",
        " var: fileCode = 5",
        " items versions found.",
        "} loadVersion():761 -> ",
        "{ Search():772",
        " var: machineid = 42",
        " var: searchstring = a.t",
        " search item found .",
        " var: numfiles = 1",
        "} Search():827 -> ",
    }));
}

TEST_F(BrowseTraceTest, EmptyAndMissingListsWriteTheirOwnExits)
{
    host.Run(Open() + "versions 42 1 1 99 folder 42 1 1 search 7 x search 42 zzz close");
    std::vector<std::string> lines = host.TraceLines();
    EXPECT_TRUE(HasInOrder(lines, {
        "{ loadVersion():725",
        " No items versions found.",
        "} loadVersion()",
        "{ loadFolderByFolderCode():1093",
        " folder found.",
        " var: count = 0",
        "} loadFolderByFolderCode():1154 -> ",
        "{ Search():772",
        "} Search():796 -> 0000000000000000",
        "{ Search():772",
        " search item found .",
        " var: numfiles = 0",
        "} Search():827 -> ",
    }));
    EXPECT_EQ(CountContaining(lines, "} loadVersion():"), 0u);
    // Giving back NULL is a release that fails.
    EXPECT_TRUE(HasInOrder(lines, {"{ FreeBuffer():627", " var: freeMemoryRes = 0"}));
}

TEST_F(BrowseTraceTest, ChannelExportsWithoutAChannel)
{
    host.Run("machines machines-ex volumes search 1 x packet-size 4096 callback reset-callback");
    std::vector<std::string> lines = host.TraceLines();
    EXPECT_TRUE(HasInOrder(lines, {
        "{ loadMachines():835",
        " !Warning: No channel has opened.",
        "} loadMachines()",
        "{ loadMachinesEx():913",
        " !Warning: No channel has opened.",
        "} loadMachinesEx():924 -> 0000000000000000",
        "{ loadVolumes():1038",
        " !Warning: No channel has opened.",
        "{ Search():772",
        " !Warning: No channel has opened.",
        "{ SetGetPacketSize():3081",
        " var: packetsize = 4096",
        "# #Error:   in File: Kelvane Function: SetGetPacketSize at line: 3093",
        "# No socket has opened.",
        "} SetGetPacketSize():3096 -> 0",
        "{ SetCallBack():3101",
        "} SetCallBack():3111 -> 0",
        "{ ResetCallBack():3116",
        "} ResetCallBack():3126 -> 0",
    }));
    EXPECT_EQ(CountContaining(lines, "} loadMachines():"), 0u);
    EXPECT_EQ(CountContaining(lines, "} Search():"), 0u);
}

TEST_F(BrowseTraceTest, ProxyCheckTracesItsInputsButNeverThePassword)
{
    host.Run("--proxy 127.0.0.1 1 --proxy-user keeper hidden-word check-proxy " +
             server.Address() + " 443");
    host.Run("--proxy ' ' 1 check-proxy " + server.Address() + " 443");
    std::vector<std::string> lines = host.TraceLines();
    EXPECT_TRUE(HasInOrder(lines, {
        "{ CheckProxySettings():1662",
        " var: ProxyHost = 127.0.0.1",
        " var: ProxyPort = 1",
        " var: RemoteServer = " + server.Address(),
        " var: username = keeper",
        " password has filled.",
        " var: Data.wVersion = 257",
        " var: (wchar_t)*&reason[0] = P",
        "# #Error:   in File: Kelvane Function: CheckProxySettings at line: 1718",
        "# Connect has failed.",
        "} CheckProxySettings():1731 -> 0",
        "{ CheckProxySettings():1662",
        "# #Error:   in File: Kelvane Function: CheckProxySettings at line: 1670",
        "# Mandatory field are null or empty",
        "} CheckProxySettings()",
    }));
    EXPECT_EQ(CountContaining(lines, "hidden-word"), 0u);
    EXPECT_EQ(CountContaining(lines, "} CheckProxySettings():"), 1u);
}
