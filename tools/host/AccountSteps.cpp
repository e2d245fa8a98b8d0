#include "host/AccountSteps.h"

#include <cstdio>

#include "host/StepValues.h"

namespace {

// Units of the expiry text buffer, whose capacity the host passes.
constexpr int32_t kExpiryUnits = 32;

bool PrintControl(const char* name, uint32_t result)
{
    std::printf("%s -> %u\n", name, result);
    return true;
}

bool BackupNowStep(HostSession& session, char**)
{
    return PrintControl("BackupNow", session.exports.BackupNow());
}

bool CancelBackupStep(HostSession& session, char**)
{
    return PrintControl("CancelBackup", session.exports.CancelBackup());
}

bool StopServiceStep(HostSession& session, char**)
{
    return PrintControl("StopService", session.exports.StopService());
}

bool SettingsUpdateStep(HostSession& session, char**)
{
    return PrintControl("SettingsUpdate", session.exports.SettingsUpdate());
}

bool GenerateCipherStep(HostSession& session, char**)
{
    return PrintControl("GenerateCipher", session.exports.GenerateCipher());
}

int32_t PrintProgress(int32_t total, uint32_t estimated, uint32_t backedUp, const char16_t* file)
{
    std::printf("  progress %d  files %u of %u  \"%s\"\n", total, backedUp, estimated,
                Narrow(file).c_str());
    return 0;
}

bool ProgressStatusStep(HostSession& session, char**)
{
    std::printf("GetProgressStatus\n");
    session.exports.GetProgressStatus(PrintProgress);
    return true;
}

int32_t PrintStep(const char16_t* file, uint32_t code)
{
    std::printf("  step %u  \"%s\"\n", code, Narrow(file).c_str());
    return 0;
}

bool CurrentStepStep(HostSession& session, char**)
{
    std::printf("GetCurrentStep\n");
    session.exports.GetCurrentStep(PrintStep);
    return true;
}

bool BackingUpStep(HostSession& session, char**)
{
    std::printf("IsBackinUpNow -> %d\n", session.exports.IsBackinUpNow() ? 1 : 0);
    return true;
}

bool AnimateStep(HostSession& session, char**)
{
    std::printf("IsAnimate -> %d\n", session.exports.IsAnimate() ? 1 : 0);
    return true;
}

bool UserStatusStep(HostSession& session, char**)
{
    uint32_t flags = 0;
    int32_t result = session.exports.GetUserStatus(&flags);
    std::printf("GetUserStatus -> %d  flags %u\n", result, flags);
    return result != 0;
}

bool CheckUsernameStep(HostSession& session, char** values)
{
    uint32_t reason = 0;
    int32_t result =
        session.exports.CheckUsername(session.channel, Wide(values[0]).c_str(), &reason);
    std::printf("CheckUsername -> %d  reason %u\n", result, reason);
    return result != 0;
}

bool UpdateUsernamePasswordStep(HostSession& session, char** values)
{
    uint32_t reason = 0;
    int32_t result = session.exports.UpdateUsernamePassword(
        session.channel, Wide(values[0]).c_str(), Wide(values[1]).c_str(),
        Wide(values[2]).c_str(), &reason);
    std::printf("UpdateUsernamePassword -> %d  reason %u\n", result, reason);
    return result != 0;
}

bool MemberInfoStep(HostSession& session, char**)
{
    char16_t texts[6][kHostTextUnits] = {};
    uint64_t value1 = 0, value2 = 0;
    uint32_t suspended = 0, cancelled = 0, deleted = 0, activated = 0, value3 = 0;
    int32_t result = session.exports.GetMemberExtendedInformation(
        session.channel, texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], &value1,
        &value2, &suspended, &cancelled, &deleted, &activated, &value3);
    std::printf("GetMemberExtendedInformation -> %d\n", result);
    for (const char16_t* text : texts)
        std::printf("  \"%s\"\n", Narrow(text).c_str());
    std::printf("  values %llu %llu  suspended %u  cancelled %u  deleted %u  activated %u  %u\n",
                static_cast<unsigned long long>(value1), static_cast<unsigned long long>(value2),
                suspended, cancelled, deleted, activated, value3);
    return result != 0;
}

bool UpdateMemberInfoStep(HostSession& session, char** values)
{
    int32_t result = session.exports.UpdateMemberExtendedInfo(
        session.channel, Wide(values[0]).c_str(), Wide(values[1]).c_str(),
        Wide(values[2]).c_str(), Wide(values[3]).c_str(), Wide(values[4]).c_str(),
        Wide(values[5]).c_str(), Wide(values[6]).c_str());
    std::printf("UpdateMemberExtendedInfo -> %d\n", result);
    return result != 0;
}

bool AccountInfoStep(HostSession& session, char**)
{
    char16_t texts[8][kHostTextUnits] = {};
    int32_t result = session.exports.GetAccountInformation(session.channel, texts[0], texts[1],
                                                           texts[2], texts[3], texts[4],
                                                           texts[5], texts[6], texts[7]);
    std::printf("GetAccountInformation -> %d\n", result);
    for (const char16_t* text : texts)
        std::printf("  \"%s\"\n", Narrow(text).c_str());
    return result != 0;
}

bool UpdateAccountInfoStep(HostSession& session, char** values)
{
    int32_t result = session.exports.UpdateAccountInformation(
        session.channel, Wide(values[0]).c_str(), Wide(values[1]).c_str(),
        Wide(values[2]).c_str(), Wide(values[3]).c_str(), Wide(values[4]).c_str(),
        Wide(values[5]).c_str(), Wide(values[6]).c_str(), Wide(values[7]).c_str());
    std::printf("UpdateAccountInformation -> %d\n", result);
    return result != 0;
}

bool UpdateUserInfoStep(HostSession& session, char** values)
{
    uint32_t reason = 0;
    int32_t result = session.exports.UpdateUserInformation(
        session.channel, Wide(values[0]).c_str(), Wide(values[1]).c_str(),
        Wide(values[2]).c_str(), Wide(values[3]).c_str(), Wide(values[4]).c_str(),
        Wide(values[5]).c_str(), Wide(values[6]).c_str(), &reason);
    std::printf("UpdateUserInformation -> %d  reason %u\n", result, reason);
    return result != 0;
}

bool MemberStatsStep(HostSession& session, char**)
{
    uint32_t count = 0;
    uint32_t size = 0;
    void* buffer = session.exports.GetMemberStats(session.channel, &count, &size);
    std::printf("GetMemberStats -> %s  count %u  size %u\n", buffer != nullptr ? "buffer" : "none",
                count, size);
    session.exports.FreeBuffer(buffer);
    return buffer != nullptr;
}

bool DeleteMemberStep(HostSession& session, char** values)
{
    int32_t result = session.exports.DeleteMember(session.channel, Wide(values[0]).c_str());
    std::printf("DeleteMember -> %d\n", result);
    return result != 0;
}

bool CancelAccountStep(HostSession& session, char** values)
{
    uint32_t confirm = 0;
    int32_t result = session.exports.CancelAccount(
        session.channel, Wide(values[0]).c_str(), static_cast<uint32_t>(ParseNumber(values[1])),
        &confirm);
    std::printf("CancelAccount -> %d  confirmation %u\n", result, confirm);
    return result != 0;
}

bool CancellationReasonsStep(HostSession& session, char** values)
{
    uint32_t count = 0;
    uint32_t size = 0;
    uint32_t status = 0;
    void* buffer = session.exports.CancellationReasons(
        session.channel, Wide(values[0]).c_str(), static_cast<uint32_t>(ParseNumber(values[1])),
        &count, &size, &status);
    std::printf("CancellationReasons -> %s  count %u  size %u  status %u\n",
                buffer != nullptr ? "buffer" : "none", count, size, status);
    session.exports.FreeBuffer(buffer);
    return buffer != nullptr;
}

bool ProductListStep(HostSession& session, char** values)
{
    int32_t result = session.exports.ProductList(
        session.channel, Wide(values[0]).c_str(), static_cast<uint32_t>(ParseNumber(values[1])),
        static_cast<uint32_t>(ParseNumber(values[2])));
    std::printf("ProductList -> %d\n", result);
    return result != 0;
}

bool MachinePlanStep(HostSession& session, char** values)
{
    bool result = session.exports.SetMachinePlanEx(
        session.channel, Wide(values[0]).c_str(), Wide(values[1]).c_str(),
        Wide(values[2]).c_str(), Wide(values[3]).c_str(),
        static_cast<uint32_t>(ParseNumber(values[4])),
        static_cast<uint32_t>(ParseNumber(values[5])));
    std::printf("SetMachinePlanEx -> %d\n", result ? 1 : 0);
    return result;
}

bool CreateAccountStep(HostSession& session, char**)
{
    int32_t result = session.exports.CreateAccount();
    std::printf("CreateAccount -> %d\n", result);
    return result != 0;
}

bool MemberAuthStep(HostSession& session, char**)
{
    char text[kHostTextUnits] = {};
    int32_t result = session.exports.GetMemberAuth(session.channel, text);
    std::printf("GetMemberAuth -> %d  text \"%s\"\n", result, text);
    return result != 0;
}

bool PrintEnrolment(const char* name, int32_t result, const char* memberAuth, const char* key)
{
    std::printf("%s -> %d  member \"%s\"  key \"%s\"\n", name, result, memberAuth, key);
    return result != 0;
}

bool CreateMachineAuthStep(HostSession& session, char** values)
{
    char memberAuth[kHostTextUnits] = {};
    char key[kHostTextUnits] = {};
    int32_t result = session.exports.CreateMachineAuth(session.channel, memberAuth, values[0], key);
    return PrintEnrolment("CreateMachineAuth", result, memberAuth, key);
}

bool CreateMachineAuthExStep(HostSession& session, char** values)
{
    char memberAuth[kHostTextUnits] = {};
    char key[kHostTextUnits] = {};
    int32_t result =
        session.exports.CreateMachineAuthEx(session.channel, memberAuth, values[0], key);
    return PrintEnrolment("CreateMachineAuthEx", result, memberAuth, key);
}

bool BucketDetailsStep(HostSession& session, char** values)
{
    uint64_t quota = 0, used = 0, expirygmt = 0;
    uint32_t value = 0, posapos = 0, suspendbackup = 0, suspendmember = 0, suspendaccount = 0;
    uint32_t migrated = 0;
    char16_t expiry[kExpiryUnits] = {};
    char16_t purchase[kHostTextUnits] = {};
    char16_t subscription[kHostTextUnits] = {};
    int32_t result = session.exports.GetMachineBucketDetails(
        session.channel, Wide(values[0]).c_str(), &quota, &used, &expirygmt, &value, &posapos,
        &suspendbackup, &suspendmember, &suspendaccount, expiry, kExpiryUnits, purchase,
        subscription, &migrated);
    std::printf("GetMachineBucketDetails -> %d  quota %llu  used %llu  expiry \"%s\"\n", result,
                static_cast<unsigned long long>(quota), static_cast<unsigned long long>(used),
                Narrow(expiry).c_str());
    std::printf("  value %u  posapos %u  suspended backup %u member %u account %u  migrated %u\n",
                value, posapos, suspendbackup, suspendmember, suspendaccount, migrated);
    std::printf("  purchase \"%s\"  subscription \"%s\"\n", Narrow(purchase).c_str(),
                Narrow(subscription).c_str());
    return result != 0;
}

bool DeleteFileStep(HostSession& session, char** values)
{
    uint64_t machine = ParseNumber(values[0]), volume = ParseNumber(values[1]);
    uint64_t folder = ParseNumber(values[2]), file = ParseNumber(values[3]);
    uint64_t archive = ParseNumber(values[4]);
    uint32_t reason = 0;
    int32_t result = session.exports.DeleteServerFileEx(
        session.channel, Low(machine), High(machine), Low(volume), High(volume), Low(folder),
        High(folder), Low(file), High(file), Low(archive), High(archive), &reason);
    std::printf("DeleteServerFileEx -> %d  reason %u\n", result, reason);
    return result != 0;
}

bool DeleteFolderStep(HostSession& session, char** values)
{
    uint64_t machine = ParseNumber(values[0]), volume = ParseNumber(values[1]);
    uint64_t folder = ParseNumber(values[2]);
    uint32_t reason = 0;
    int32_t result = session.exports.DeleteServerFolderEx(session.channel, Low(machine),
                                                          High(machine), Low(volume),
                                                          High(volume), Low(folder),
                                                          High(folder), &reason);
    std::printf("DeleteServerFolderEx -> %d  reason %u\n", result, reason);
    return result != 0;
}

const Step kServiceSteps[] = {
    {"backup-now", "", "back up the scheduled selections now", BackupNowStep},
    {"cancel-backup", "", "cancel the running backup", CancelBackupStep},
    {"stop-service", "", "stop the service", StopServiceStep},
    {"settings-update", "", "have the service read its settings again", SettingsUpdateStep},
    {"generate-cipher", "", "have the service generate a cipher", GenerateCipherStep},
    {"progress-status", "", "print the progress of the backup", ProgressStatusStep},
    {"current-step", "", "print the service's current step", CurrentStepStep},
    {"is-backing-up", "", "ask whether a backup runs", BackingUpStep},
    {"is-animate", "", "ask whether the service shows activity", AnimateStep},
    {"user-status", "", "read the user status flags", UserStatusStep},
};

const Step kAccountSteps[] = {
    {"check-username", "NAME", "ask whether a user name is free", CheckUsernameStep},
    {"update-username-password", "AUTH NAME PASSWORD", "change the user name and password",
     UpdateUsernamePasswordStep},
    {"member-info", "", "read the member's extended information", MemberInfoStep},
    {"update-member-info", "USER PASSWORD EMAIL LANGUAGE FIRST LAST PHONE",
     "change the member's extended information", UpdateMemberInfoStep},
    {"account-info", "", "read the account's address", AccountInfoStep},
    {"update-account-info", "NAME ADDRESS1 ADDRESS2 CITY PROVINCE POSTAL COUNTRY PHONE",
     "change the account's address", UpdateAccountInfoStep},
    {"update-user-info", "USER PASSWORD EMAIL LANGUAGE FIRST LAST PHONE",
     "change the user's information", UpdateUserInfoStep},
    {"member-stats", "", "read the member's statistics", MemberStatsStep},
    {"delete-member", "NAME", "delete a member", DeleteMemberStep},
    {"cancel-account", "TAG REASON", "cancel the account", CancelAccountStep},
    {"cancellation-reasons", "TEXT VALUE", "list the reasons for a cancellation",
     CancellationReasonsStep},
    {"product-list", "TEXT VALUE NEEDAUTH", "print the products", ProductListStep},
    {"set-machine-plan", "T1 T2 T3 T4 V1 V2", "set a machine's plan", MachinePlanStep},
    {"create-account", "", "call the obsolete account creation", CreateAccountStep},
};

const Step kEnrolmentSteps[] = {
    {"member-auth", "", "read the member's authentication text", MemberAuthStep},
    {"create-machine-auth", "NAME", "enrol this computer as a machine", CreateMachineAuthStep},
    {"create-machine-auth-ex", "NAME", "log the user in again and enrol this computer",
     CreateMachineAuthExStep},
    {"bucket-details", "MACHINEKEY", "read a machine's storage details", BucketDetailsStep},
    {"delete-file", "MACHINE VOLUME FOLDER FILE ARCHIVE", "delete a stored file version",
     DeleteFileStep},
    {"delete-folder", "MACHINE VOLUME FOLDER", "delete a stored folder", DeleteFolderStep},
};

const StepGroup kGroups[] = {
    {"local service steps (no channel needed)", kServiceSteps},
    {"account and member steps", kAccountSteps},
    {"machine enrolment and server file steps", kEnrolmentSteps},
};

} // namespace

std::span<const StepGroup> AccountStepGroups()
{
    return kGroups;
}
