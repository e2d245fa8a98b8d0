// The stand-in server's answers to the browsing, account, member, machine and server-file
// commands, each computed from the service store of the server's model.
#pragma once

#include "platform/types.h"

class CommandTable;

namespace ServerCommand {
constexpr DWORD kRemoveCacheFile = 35;
constexpr DWORD kGetVersions = 125;
constexpr DWORD kGetVolumeList = 209;
constexpr DWORD kGetMachineAuth = 216;
constexpr DWORD kGetDirectory = 249;
constexpr DWORD kSearch = 259;
constexpr DWORD kCheckUsername = 260;
constexpr DWORD kMachineList = 266;
constexpr DWORD kCheckFile = 267;
constexpr DWORD kSetActiveMachine = 271;
constexpr DWORD kGetMemberAuth = 272;
constexpr DWORD kDeleteMember = 273;
constexpr DWORD kGetMemberStats = 274;
constexpr DWORD kGetMachineBucketDetailsEx = 287;
constexpr DWORD kCloseOpenHandle = 290;
constexpr DWORD kSetMachinePlan = 292;
constexpr DWORD kIsWebPortalEnabledEx = 296;
constexpr DWORD kCancelAccount = 300;
constexpr DWORD kDeleteServerFile = 308;
constexpr DWORD kMachineListEx = 309;
constexpr DWORD kProductList = 310;
constexpr DWORD kCreateAccount = 312;
constexpr DWORD kCancellationReasons = 313;
constexpr DWORD kLastRestoreInfo = 316;
constexpr DWORD kUpdateUsernamePassword = 324;
constexpr DWORD kDeleteServerFolder = 325;
constexpr DWORD kGetMemberInfo = 328;
constexpr DWORD kUpdateMemberExtendedInfo = 329;
constexpr DWORD kGetAccountInfo = 330;
constexpr DWORD kUpdateAccountInfo = 331;
constexpr DWORD kGetRootDirectory = 338;
constexpr DWORD kCreateMachineByAuth = 344;
}  // namespace ServerCommand

// Status words the handlers answer refusals with.
namespace ServerStatus {
// A user name that is taken already.
constexpr DWORD kNameTaken = 1;
// CheckFile of a file the server does not hold.
constexpr DWORD kFileUnknown = 2;
// A member authentication text that is not the member's.
constexpr DWORD kNotAuthorized = 5;
// A deletion of something the server does not hold.
constexpr DWORD kNothingToDelete = 7;
}  // namespace ServerStatus

// Puts the handlers of the commands above into the table.
void RegisterCommandHandlers(CommandTable& table);
