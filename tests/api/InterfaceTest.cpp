// The library's dynamic symbol table and its use from a C host.
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "HostInC.h"
#include "support/CommandOutput.h"
#include "support/KelvaneLibrary.h"

namespace {

// Names of the symbols that the library defines for others: "address type name" lines.
std::set<std::string> DefinedDynamicSymbols(const std::string& library)
{
    std::istringstream lines(CommandOutput("nm -D --defined-only '" + library + "'"));
    std::set<std::string> names;
    std::string address;
    std::string type;
    std::string name;
    while (lines >> address >> type >> name)
        names.insert(name);
    return names;
}

} // namespace

TEST(ExportedInterface, ExportsExactlyTheInterfaceFunctionsUnmangled)
{
    const std::set<std::string> expected = {
        "OpenChannel",         "OpenChannelEx",  "OpenChannelNoUser",
        "CloseChannel",        "AuthenticateMachine", "VerifyServer",
        "WebPortalIsEnabled",  "SetActiveMachine",    "GetMachineInformation",
        // Channel settings and proxy check; browsing.
        "SetCallBack", "ResetCallBack", "SetGetPacketSize", "CheckProxySettings",
        "loadVersion", "Search", "loadMachines", "loadMachinesEx", "loadVolumes",
        "loadFolderByFolderCode", "loadRootFolder", "FreeBuffer", "CheckFile",
        "LastRestoreInfo",
        "RestoreFile",         "RestoreHybridFile",   "SetParameters",
        "GetParameters",
        // Local service, account and member, machine enrolment and server files.
        "BackupNow", "CancelBackup", "StopService", "SettingsUpdate", "GenerateCipher",
        "GetProgressStatus", "GetCurrentStep", "IsBackinUpNow", "IsAnimate", "GetUserStatus",
        "CheckUsername", "UpdateUsernamePassword", "GetMemberExtendedInformation",
        "UpdateMemberExtendedInfo", "GetAccountInformation", "UpdateAccountInformation",
        "UpdateUserInformation", "GetMemberStats", "DeleteMember", "CancelAccount",
        "CancellationReasons", "ProductList", "SetMachinePlanEx", "CreateAccount",
        "GetMemberAuth", "CreateMachineAuth", "CreateMachineAuthEx", "GetMachineBucketDetails",
        "DeleteServerFileEx", "DeleteServerFolderEx",
    };
    EXPECT_EQ(DefinedDynamicSymbols(KelvaneLibrary::Path()), expected);
}

TEST(ExportedInterface, CarriesItsMajorVersionAsSoname)
{
    std::string dynamic = CommandOutput("readelf -d '" + KelvaneLibrary::Path() + "'");
    EXPECT_NE(dynamic.find("(SONAME)"), std::string::npos);
    EXPECT_NE(dynamic.find("[libkelvane.so.1]"), std::string::npos) << dynamic;
}

TEST(ExportedInterface, CHostCallsThroughTheHeaderTypes)
{
    KelvaneLibrary& library = KelvaneLibrary::Get();
    EXPECT_EQ(OpenBlankChannelFromC(library.Symbol("OpenChannelNoUser"),
                                    library.Symbol("CloseChannel")),
              1);
}
