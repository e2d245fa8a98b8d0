#include "host/HostLibrary.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>

std::string HostLibrary::DefaultPath()
{
    char self[4096] = {};
    ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length > 0) {
        std::string folder(self, static_cast<size_t>(length));
        folder.erase(folder.find_last_of('/'));
        for (const std::string& candidate :
             {folder + "/libkelvane.so", folder + "/../libkelvane.so"}) {
            if (access(candidate.c_str(), R_OK) == 0)
                return candidate;
        }
    }
    return "libkelvane.so";
}

template <typename Function>
bool HostLibrary::Bind(const char* name, Function& function) const
{
    function = reinterpret_cast<Function>(dlsym(m_handle, name));
    if (function == nullptr)
        std::fprintf(stderr, "kelvane-host: %s is not exported\n", name);
    return function != nullptr;
}

bool HostLibrary::Load(const std::string& path)
{
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        std::fprintf(stderr, "kelvane-host: cannot load %s: %s\n", path.c_str(), dlerror());
        return false;
    }
    return Bind("OpenChannel", OpenChannel) &&
           Bind("OpenChannelEx", OpenChannelEx) &&
           Bind("OpenChannelNoUser", OpenChannelNoUser) &&
           Bind("CloseChannel", CloseChannel) &&
           Bind("AuthenticateMachine", AuthenticateMachine) &&
           Bind("VerifyServer", VerifyServer) &&
           Bind("WebPortalIsEnabled", WebPortalIsEnabled) &&
           Bind("SetActiveMachine", SetActiveMachine) &&
           Bind("GetMachineInformation", GetMachineInformation) &&
           Bind("SetCallBack", SetCallBack) &&
           Bind("ResetCallBack", ResetCallBack) &&
           Bind("SetGetPacketSize", SetGetPacketSize) &&
           Bind("CheckProxySettings", CheckProxySettings) &&
           Bind("loadVersion", loadVersion) &&
           Bind("Search", Search) &&
           Bind("loadMachines", loadMachines) &&
           Bind("loadMachinesEx", loadMachinesEx) &&
           Bind("loadVolumes", loadVolumes) &&
           Bind("loadFolderByFolderCode", loadFolderByFolderCode) &&
           Bind("loadRootFolder", loadRootFolder) &&
           Bind("FreeBuffer", FreeBuffer) &&
           Bind("CheckFile", CheckFile) &&
           Bind("LastRestoreInfo", LastRestoreInfo) &&
           Bind("RestoreFile", RestoreFile) &&
           Bind("RestoreHybridFile", RestoreHybridFile) &&
           Bind("SetParameters", SetParameters) &&
           Bind("GetParameters", GetParameters) &&
           Bind("BackupNow", BackupNow) &&
           Bind("CancelBackup", CancelBackup) &&
           Bind("StopService", StopService) &&
           Bind("SettingsUpdate", SettingsUpdate) &&
           Bind("GenerateCipher", GenerateCipher) &&
           Bind("GetProgressStatus", GetProgressStatus) &&
           Bind("GetCurrentStep", GetCurrentStep) &&
           Bind("IsBackinUpNow", IsBackinUpNow) &&
           Bind("IsAnimate", IsAnimate) &&
           Bind("GetUserStatus", GetUserStatus) &&
           Bind("CheckUsername", CheckUsername) &&
           Bind("UpdateUsernamePassword", UpdateUsernamePassword) &&
           Bind("GetMemberExtendedInformation", GetMemberExtendedInformation) &&
           Bind("UpdateMemberExtendedInfo", UpdateMemberExtendedInfo) &&
           Bind("GetAccountInformation", GetAccountInformation) &&
           Bind("UpdateAccountInformation", UpdateAccountInformation) &&
           Bind("UpdateUserInformation", UpdateUserInformation) &&
           Bind("GetMemberStats", GetMemberStats) &&
           Bind("DeleteMember", DeleteMember) &&
           Bind("CancelAccount", CancelAccount) &&
           Bind("CancellationReasons", CancellationReasons) &&
           Bind("ProductList", ProductList) &&
           Bind("SetMachinePlanEx", SetMachinePlanEx) &&
           Bind("CreateAccount", CreateAccount) &&
           Bind("GetMemberAuth", GetMemberAuth) &&
           Bind("CreateMachineAuth", CreateMachineAuth) &&
           Bind("CreateMachineAuthEx", CreateMachineAuthEx) &&
           Bind("GetMachineBucketDetails", GetMachineBucketDetails) &&
           Bind("DeleteServerFileEx", DeleteServerFileEx) &&
           Bind("DeleteServerFolderEx", DeleteServerFolderEx);
}
