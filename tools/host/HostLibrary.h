// libkelvane.so, loaded at run time with every exported function looked up by name, as a host
// of the library does it.
#pragma once

#include <string>

#include "kelvane.h"

class HostLibrary {
public:
    // The library beside this program, or one folder up (the build tree), else the name for
    // the loader's own search.
    static std::string DefaultPath();

    // Loads the library and looks every export up; false, with a message on standard error,
    // when it cannot be loaded or lacks an export.
    bool Load(const std::string& path);

    decltype(&::OpenChannel) OpenChannel = nullptr;
    decltype(&::OpenChannelEx) OpenChannelEx = nullptr;
    decltype(&::OpenChannelNoUser) OpenChannelNoUser = nullptr;
    decltype(&::CloseChannel) CloseChannel = nullptr;
    decltype(&::AuthenticateMachine) AuthenticateMachine = nullptr;
    decltype(&::VerifyServer) VerifyServer = nullptr;
    decltype(&::WebPortalIsEnabled) WebPortalIsEnabled = nullptr;
    decltype(&::SetActiveMachine) SetActiveMachine = nullptr;
    decltype(&::GetMachineInformation) GetMachineInformation = nullptr;
    decltype(&::SetCallBack) SetCallBack = nullptr;
    decltype(&::ResetCallBack) ResetCallBack = nullptr;
    decltype(&::SetGetPacketSize) SetGetPacketSize = nullptr;
    decltype(&::CheckProxySettings) CheckProxySettings = nullptr;
    decltype(&::loadVersion) loadVersion = nullptr;
    decltype(&::Search) Search = nullptr;
    decltype(&::loadMachines) loadMachines = nullptr;
    decltype(&::loadMachinesEx) loadMachinesEx = nullptr;
    decltype(&::loadVolumes) loadVolumes = nullptr;
    decltype(&::loadFolderByFolderCode) loadFolderByFolderCode = nullptr;
    decltype(&::loadRootFolder) loadRootFolder = nullptr;
    decltype(&::FreeBuffer) FreeBuffer = nullptr;
    decltype(&::CheckFile) CheckFile = nullptr;
    decltype(&::LastRestoreInfo) LastRestoreInfo = nullptr;
    decltype(&::RestoreFile) RestoreFile = nullptr;
    decltype(&::RestoreHybridFile) RestoreHybridFile = nullptr;
    decltype(&::SetParameters) SetParameters = nullptr;
    decltype(&::GetParameters) GetParameters = nullptr;
    decltype(&::BackupNow) BackupNow = nullptr;
    decltype(&::CancelBackup) CancelBackup = nullptr;
    decltype(&::StopService) StopService = nullptr;
    decltype(&::SettingsUpdate) SettingsUpdate = nullptr;
    decltype(&::GenerateCipher) GenerateCipher = nullptr;
    decltype(&::GetProgressStatus) GetProgressStatus = nullptr;
    decltype(&::GetCurrentStep) GetCurrentStep = nullptr;
    decltype(&::IsBackinUpNow) IsBackinUpNow = nullptr;
    decltype(&::IsAnimate) IsAnimate = nullptr;
    decltype(&::GetUserStatus) GetUserStatus = nullptr;
    decltype(&::CheckUsername) CheckUsername = nullptr;
    decltype(&::UpdateUsernamePassword) UpdateUsernamePassword = nullptr;
    decltype(&::GetMemberExtendedInformation) GetMemberExtendedInformation = nullptr;
    decltype(&::UpdateMemberExtendedInfo) UpdateMemberExtendedInfo = nullptr;
    decltype(&::GetAccountInformation) GetAccountInformation = nullptr;
    decltype(&::UpdateAccountInformation) UpdateAccountInformation = nullptr;
    decltype(&::UpdateUserInformation) UpdateUserInformation = nullptr;
    decltype(&::GetMemberStats) GetMemberStats = nullptr;
    decltype(&::DeleteMember) DeleteMember = nullptr;
    decltype(&::CancelAccount) CancelAccount = nullptr;
    decltype(&::CancellationReasons) CancellationReasons = nullptr;
    decltype(&::ProductList) ProductList = nullptr;
    decltype(&::SetMachinePlanEx) SetMachinePlanEx = nullptr;
    decltype(&::CreateAccount) CreateAccount = nullptr;
    decltype(&::GetMemberAuth) GetMemberAuth = nullptr;
    decltype(&::CreateMachineAuth) CreateMachineAuth = nullptr;
    decltype(&::CreateMachineAuthEx) CreateMachineAuthEx = nullptr;
    decltype(&::GetMachineBucketDetails) GetMachineBucketDetails = nullptr;
    decltype(&::DeleteServerFileEx) DeleteServerFileEx = nullptr;
    decltype(&::DeleteServerFolderEx) DeleteServerFolderEx = nullptr;

private:
    template <typename Function>
    bool Bind(const char* name, Function& function) const;

    void* m_handle = nullptr;
};
