// The steps of kelvane-host that call the local service, account and member, and machine
// enrolment exports. Each step is one function that calls one export and prints what it
// returned.
#pragma once

#include <string>

#include "kelvane.h"

class AccountSteps {
public:
    // The usage lines of these steps.
    static const char* Usage();

    // Looks the exports up in the loaded library; false, with a message, when one is missing.
    bool Bind(void* library);

    // Runs the named step on the channel when it is one of these and its values are there,
    // from argv[*i] on, and moves *i past them. False when it is not one of these steps (or
    // lacks values); otherwise *succeeded says whether the call succeeded.
    bool Run(const std::string& step, Csocketclient* channel, int argc, char** argv, int* i,
             bool* succeeded) const;

    decltype(&::FreeBuffer) freeBuffer = nullptr;
    decltype(&::BackupNow) backupNow = nullptr;
    decltype(&::CancelBackup) cancelBackup = nullptr;
    decltype(&::StopService) stopService = nullptr;
    decltype(&::SettingsUpdate) settingsUpdate = nullptr;
    decltype(&::GenerateCipher) generateCipher = nullptr;
    decltype(&::GetProgressStatus) getProgressStatus = nullptr;
    decltype(&::GetCurrentStep) getCurrentStep = nullptr;
    decltype(&::IsBackinUpNow) isBackinUpNow = nullptr;
    decltype(&::IsAnimate) isAnimate = nullptr;
    decltype(&::GetUserStatus) getUserStatus = nullptr;
    decltype(&::CheckUsername) checkUsername = nullptr;
    decltype(&::UpdateUsernamePassword) updateUsernamePassword = nullptr;
    decltype(&::GetMemberExtendedInformation) getMemberExtendedInformation = nullptr;
    decltype(&::UpdateMemberExtendedInfo) updateMemberExtendedInfo = nullptr;
    decltype(&::GetAccountInformation) getAccountInformation = nullptr;
    decltype(&::UpdateAccountInformation) updateAccountInformation = nullptr;
    decltype(&::UpdateUserInformation) updateUserInformation = nullptr;
    decltype(&::GetMemberStats) getMemberStats = nullptr;
    decltype(&::DeleteMember) deleteMember = nullptr;
    decltype(&::CancelAccount) cancelAccount = nullptr;
    decltype(&::CancellationReasons) cancellationReasons = nullptr;
    decltype(&::ProductList) productList = nullptr;
    decltype(&::SetMachinePlanEx) setMachinePlanEx = nullptr;
    decltype(&::CreateAccount) createAccount = nullptr;
    decltype(&::GetMemberAuth) getMemberAuth = nullptr;
    decltype(&::CreateMachineAuth) createMachineAuth = nullptr;
    decltype(&::CreateMachineAuthEx) createMachineAuthEx = nullptr;
    decltype(&::GetMachineBucketDetails) getMachineBucketDetails = nullptr;
    decltype(&::DeleteServerFileEx) deleteServerFileEx = nullptr;
    decltype(&::DeleteServerFolderEx) deleteServerFolderEx = nullptr;
};
