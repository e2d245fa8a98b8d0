#include "host/AccountSteps.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/text.h"

namespace {

// Units of the text buffers that the exports fill without a capacity.
constexpr size_t kTextUnits = 1024;
// Units of the expiry text buffer, whose capacity the host passes.
constexpr int32_t kExpiryUnits = 32;

using Step = bool (*)(const AccountSteps& exports, Csocketclient* channel, char** values);

struct StepEntry {
    const char* name;
    int values;
    Step run;
};

std::u16string Wide(const char* text)
{
    return Utf8ToUtf16(text);
}

std::string Narrow(const char16_t* text)
{
    return Utf16ToUtf8(text);
}

uint32_t Number(const char* text)
{
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 0));
}

uint64_t Code(const char* text)
{
    return std::strtoull(text, nullptr, 0);
}

uint32_t Low(uint64_t code)
{
    return static_cast<uint32_t>(code);
}

uint32_t High(uint64_t code)
{
    return static_cast<uint32_t>(code >> 32);
}

bool PrintControl(const char* name, uint32_t result)
{
    std::printf("%s -> %u\n", name, result);
    return true;
}

bool BackupNowStep(const AccountSteps& exports, Csocketclient*, char**)
{
    return PrintControl("BackupNow", exports.backupNow());
}

bool CancelBackupStep(const AccountSteps& exports, Csocketclient*, char**)
{
    return PrintControl("CancelBackup", exports.cancelBackup());
}

bool StopServiceStep(const AccountSteps& exports, Csocketclient*, char**)
{
    return PrintControl("StopService", exports.stopService());
}

bool SettingsUpdateStep(const AccountSteps& exports, Csocketclient*, char**)
{
    return PrintControl("SettingsUpdate", exports.settingsUpdate());
}

bool GenerateCipherStep(const AccountSteps& exports, Csocketclient*, char**)
{
    return PrintControl("GenerateCipher", exports.generateCipher());
}

int32_t PrintProgress(int32_t total, uint32_t estimated, uint32_t backedUp, const char16_t* file)
{
    std::printf("  progress %d  files %u of %u  \"%s\"\n", total, backedUp, estimated,
                Narrow(file).c_str());
    return 0;
}

bool ProgressStatusStep(const AccountSteps& exports, Csocketclient*, char**)
{
    std::printf("GetProgressStatus\n");
    exports.getProgressStatus(PrintProgress);
    return true;
}

int32_t PrintStep(const char16_t* file, uint32_t code)
{
    std::printf("  step %u  \"%s\"\n", code, Narrow(file).c_str());
    return 0;
}

bool CurrentStepStep(const AccountSteps& exports, Csocketclient*, char**)
{
    std::printf("GetCurrentStep\n");
    exports.getCurrentStep(PrintStep);
    return true;
}

bool BackingUpStep(const AccountSteps& exports, Csocketclient*, char**)
{
    std::printf("IsBackinUpNow -> %d\n", exports.isBackinUpNow() ? 1 : 0);
    return true;
}

bool AnimateStep(const AccountSteps& exports, Csocketclient*, char**)
{
    std::printf("IsAnimate -> %d\n", exports.isAnimate() ? 1 : 0);
    return true;
}

bool UserStatusStep(const AccountSteps& exports, Csocketclient*, char**)
{
    uint32_t flags = 0;
    int32_t result = exports.getUserStatus(&flags);
    std::printf("GetUserStatus -> %d  flags %u\n", result, flags);
    return result != 0;
}

bool CheckUsernameStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    uint32_t reason = 0;
    int32_t result = exports.checkUsername(channel, Wide(values[0]).c_str(), &reason);
    std::printf("CheckUsername -> %d  reason %u\n", result, reason);
    return result != 0;
}

bool UpdateUsernamePasswordStep(const AccountSteps& exports, Csocketclient* channel,
                                char** values)
{
    uint32_t reason = 0;
    int32_t result = exports.updateUsernamePassword(channel, Wide(values[0]).c_str(),
                                                    Wide(values[1]).c_str(),
                                                    Wide(values[2]).c_str(), &reason);
    std::printf("UpdateUsernamePassword -> %d  reason %u\n", result, reason);
    return result != 0;
}

bool MemberInfoStep(const AccountSteps& exports, Csocketclient* channel, char**)
{
    char16_t texts[6][kTextUnits] = {};
    uint64_t value1 = 0, value2 = 0;
    uint32_t suspended = 0, cancelled = 0, deleted = 0, activated = 0, value3 = 0;
    int32_t result = exports.getMemberExtendedInformation(
        channel, texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], &value1, &value2,
        &suspended, &cancelled, &deleted, &activated, &value3);
    std::printf("GetMemberExtendedInformation -> %d\n", result);
    for (const char16_t* text : texts)
        std::printf("  \"%s\"\n", Narrow(text).c_str());
    std::printf("  values %llu %llu  suspended %u  cancelled %u  deleted %u  activated %u  %u\n",
                static_cast<unsigned long long>(value1), static_cast<unsigned long long>(value2),
                suspended, cancelled, deleted, activated, value3);
    return result != 0;
}

bool UpdateMemberInfoStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    int32_t result = exports.updateMemberExtendedInfo(
        channel, Wide(values[0]).c_str(), Wide(values[1]).c_str(), Wide(values[2]).c_str(),
        Wide(values[3]).c_str(), Wide(values[4]).c_str(), Wide(values[5]).c_str(),
        Wide(values[6]).c_str());
    std::printf("UpdateMemberExtendedInfo -> %d\n", result);
    return result != 0;
}

bool AccountInfoStep(const AccountSteps& exports, Csocketclient* channel, char**)
{
    char16_t texts[8][kTextUnits] = {};
    int32_t result = exports.getAccountInformation(channel, texts[0], texts[1], texts[2],
                                                   texts[3], texts[4], texts[5], texts[6],
                                                   texts[7]);
    std::printf("GetAccountInformation -> %d\n", result);
    for (const char16_t* text : texts)
        std::printf("  \"%s\"\n", Narrow(text).c_str());
    return result != 0;
}

bool UpdateAccountInfoStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    int32_t result = exports.updateAccountInformation(
        channel, Wide(values[0]).c_str(), Wide(values[1]).c_str(), Wide(values[2]).c_str(),
        Wide(values[3]).c_str(), Wide(values[4]).c_str(), Wide(values[5]).c_str(),
        Wide(values[6]).c_str(), Wide(values[7]).c_str());
    std::printf("UpdateAccountInformation -> %d\n", result);
    return result != 0;
}

bool UpdateUserInfoStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    uint32_t reason = 0;
    int32_t result = exports.updateUserInformation(
        channel, Wide(values[0]).c_str(), Wide(values[1]).c_str(), Wide(values[2]).c_str(),
        Wide(values[3]).c_str(), Wide(values[4]).c_str(), Wide(values[5]).c_str(),
        Wide(values[6]).c_str(), &reason);
    std::printf("UpdateUserInformation -> %d  reason %u\n", result, reason);
    return result != 0;
}

bool MemberStatsStep(const AccountSteps& exports, Csocketclient* channel, char**)
{
    uint32_t count = 0;
    uint32_t size = 0;
    void* buffer = exports.getMemberStats(channel, &count, &size);
    std::printf("GetMemberStats -> %s  count %u  size %u\n", buffer != nullptr ? "buffer" : "none",
                count, size);
    exports.freeBuffer(buffer);
    return buffer != nullptr;
}

bool DeleteMemberStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    int32_t result = exports.deleteMember(channel, Wide(values[0]).c_str());
    std::printf("DeleteMember -> %d\n", result);
    return result != 0;
}

bool CancelAccountStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    uint32_t confirm = 0;
    int32_t result =
        exports.cancelAccount(channel, Wide(values[0]).c_str(), Number(values[1]), &confirm);
    std::printf("CancelAccount -> %d  confirmation %u\n", result, confirm);
    return result != 0;
}

bool CancellationReasonsStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    uint32_t count = 0;
    uint32_t size = 0;
    uint32_t status = 0;
    void* buffer = exports.cancellationReasons(channel, Wide(values[0]).c_str(),
                                               Number(values[1]), &count, &size, &status);
    std::printf("CancellationReasons -> %s  count %u  size %u  status %u\n",
                buffer != nullptr ? "buffer" : "none", count, size, status);
    exports.freeBuffer(buffer);
    return buffer != nullptr;
}

bool ProductListStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    int32_t result = exports.productList(channel, Wide(values[0]).c_str(), Number(values[1]),
                                         Number(values[2]));
    std::printf("ProductList -> %d\n", result);
    return result != 0;
}

bool MachinePlanStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    bool result = exports.setMachinePlanEx(channel, Wide(values[0]).c_str(),
                                           Wide(values[1]).c_str(), Wide(values[2]).c_str(),
                                           Wide(values[3]).c_str(), Number(values[4]),
                                           Number(values[5]));
    std::printf("SetMachinePlanEx -> %d\n", result ? 1 : 0);
    return result;
}

bool CreateAccountStep(const AccountSteps& exports, Csocketclient*, char**)
{
    int32_t result = exports.createAccount();
    std::printf("CreateAccount -> %d\n", result);
    return result != 0;
}

bool MemberAuthStep(const AccountSteps& exports, Csocketclient* channel, char**)
{
    char text[kTextUnits] = {};
    int32_t result = exports.getMemberAuth(channel, text);
    std::printf("GetMemberAuth -> %d  text \"%s\"\n", result, text);
    return result != 0;
}

bool PrintEnrolment(const char* name, int32_t result, const char* memberAuth, const char* key)
{
    std::printf("%s -> %d  member \"%s\"  key \"%s\"\n", name, result, memberAuth, key);
    return result != 0;
}

bool CreateMachineAuthStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    char memberAuth[kTextUnits] = {};
    char key[kTextUnits] = {};
    int32_t result = exports.createMachineAuth(channel, memberAuth, values[0], key);
    return PrintEnrolment("CreateMachineAuth", result, memberAuth, key);
}

bool CreateMachineAuthExStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    char memberAuth[kTextUnits] = {};
    char key[kTextUnits] = {};
    int32_t result = exports.createMachineAuthEx(channel, memberAuth, values[0], key);
    return PrintEnrolment("CreateMachineAuthEx", result, memberAuth, key);
}

bool BucketDetailsStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    uint64_t quota = 0, used = 0, expirygmt = 0;
    uint32_t value = 0, posapos = 0, suspendbackup = 0, suspendmember = 0, suspendaccount = 0;
    uint32_t migrated = 0;
    char16_t expiry[kExpiryUnits] = {};
    char16_t purchase[kTextUnits] = {};
    char16_t subscription[kTextUnits] = {};
    int32_t result = exports.getMachineBucketDetails(
        channel, Wide(values[0]).c_str(), &quota, &used, &expirygmt, &value, &posapos,
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

bool DeleteFileStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    uint64_t machine = Code(values[0]), volume = Code(values[1]), folder = Code(values[2]);
    uint64_t file = Code(values[3]), archive = Code(values[4]);
    uint32_t reason = 0;
    int32_t result = exports.deleteServerFileEx(channel, Low(machine), High(machine), Low(volume),
                                                High(volume), Low(folder), High(folder),
                                                Low(file), High(file), Low(archive),
                                                High(archive), &reason);
    std::printf("DeleteServerFileEx -> %d  reason %u\n", result, reason);
    return result != 0;
}

bool DeleteFolderStep(const AccountSteps& exports, Csocketclient* channel, char** values)
{
    uint64_t machine = Code(values[0]), volume = Code(values[1]), folder = Code(values[2]);
    uint32_t reason = 0;
    int32_t result = exports.deleteServerFolderEx(channel, Low(machine), High(machine),
                                                  Low(volume), High(volume), Low(folder),
                                                  High(folder), &reason);
    std::printf("DeleteServerFolderEx -> %d  reason %u\n", result, reason);
    return result != 0;
}

const StepEntry kSteps[] = {
    {"backup-now", 0, BackupNowStep},
    {"cancel-backup", 0, CancelBackupStep},
    {"stop-service", 0, StopServiceStep},
    {"settings-update", 0, SettingsUpdateStep},
    {"generate-cipher", 0, GenerateCipherStep},
    {"progress-status", 0, ProgressStatusStep},
    {"current-step", 0, CurrentStepStep},
    {"is-backing-up", 0, BackingUpStep},
    {"is-animate", 0, AnimateStep},
    {"user-status", 0, UserStatusStep},
    {"check-username", 1, CheckUsernameStep},
    {"update-username-password", 3, UpdateUsernamePasswordStep},
    {"member-info", 0, MemberInfoStep},
    {"update-member-info", 7, UpdateMemberInfoStep},
    {"account-info", 0, AccountInfoStep},
    {"update-account-info", 8, UpdateAccountInfoStep},
    {"update-user-info", 7, UpdateUserInfoStep},
    {"member-stats", 0, MemberStatsStep},
    {"delete-member", 1, DeleteMemberStep},
    {"cancel-account", 2, CancelAccountStep},
    {"cancellation-reasons", 2, CancellationReasonsStep},
    {"product-list", 3, ProductListStep},
    {"set-machine-plan", 6, MachinePlanStep},
    {"create-account", 0, CreateAccountStep},
    {"member-auth", 0, MemberAuthStep},
    {"create-machine-auth", 1, CreateMachineAuthStep},
    {"create-machine-auth-ex", 1, CreateMachineAuthExStep},
    {"bucket-details", 1, BucketDetailsStep},
    {"delete-file", 5, DeleteFileStep},
    {"delete-folder", 3, DeleteFolderStep},
};

template <typename Function>
bool BindExport(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (function == nullptr)
        std::fprintf(stderr, "kelvane-host: %s is not exported\n", name);
    return function != nullptr;
}

} // namespace

const char* AccountSteps::Usage()
{
    return "local service steps (no channel needed):\n"
           "  backup-now | cancel-backup | stop-service | settings-update | generate-cipher\n"
           "  progress-status | current-step | is-backing-up | is-animate | user-status\n"
           "account and member steps:\n"
           "  check-username NAME               update-username-password AUTH NAME PASSWORD\n"
           "  member-info                       update-member-info USER PASSWORD EMAIL LANGUAGE\n"
           "                                      FIRST LAST PHONE\n"
           "  account-info                      update-account-info NAME ADDRESS1 ADDRESS2 CITY\n"
           "                                      PROVINCE POSTAL COUNTRY PHONE\n"
           "  update-user-info USER PASSWORD EMAIL LANGUAGE FIRST LAST PHONE\n"
           "  member-stats                      delete-member NAME\n"
           "  cancel-account TAG REASON         cancellation-reasons TEXT VALUE\n"
           "  product-list TEXT VALUE NEEDAUTH  set-machine-plan T1 T2 T3 T4 V1 V2\n"
           "  create-account\n"
           "machine enrolment and server file steps:\n"
           "  member-auth                       create-machine-auth NAME\n"
           "  create-machine-auth-ex NAME       bucket-details MACHINEKEY\n"
           "  delete-file MACHINE VOLUME FOLDER FILE ARCHIVE\n"
           "  delete-folder MACHINE VOLUME FOLDER\n";
}

bool AccountSteps::Bind(void* library)
{
    return BindExport(library, "FreeBuffer", freeBuffer) &&
           BindExport(library, "BackupNow", backupNow) &&
           BindExport(library, "CancelBackup", cancelBackup) &&
           BindExport(library, "StopService", stopService) &&
           BindExport(library, "SettingsUpdate", settingsUpdate) &&
           BindExport(library, "GenerateCipher", generateCipher) &&
           BindExport(library, "GetProgressStatus", getProgressStatus) &&
           BindExport(library, "GetCurrentStep", getCurrentStep) &&
           BindExport(library, "IsBackinUpNow", isBackinUpNow) &&
           BindExport(library, "IsAnimate", isAnimate) &&
           BindExport(library, "GetUserStatus", getUserStatus) &&
           BindExport(library, "CheckUsername", checkUsername) &&
           BindExport(library, "UpdateUsernamePassword", updateUsernamePassword) &&
           BindExport(library, "GetMemberExtendedInformation", getMemberExtendedInformation) &&
           BindExport(library, "UpdateMemberExtendedInfo", updateMemberExtendedInfo) &&
           BindExport(library, "GetAccountInformation", getAccountInformation) &&
           BindExport(library, "UpdateAccountInformation", updateAccountInformation) &&
           BindExport(library, "UpdateUserInformation", updateUserInformation) &&
           BindExport(library, "GetMemberStats", getMemberStats) &&
           BindExport(library, "DeleteMember", deleteMember) &&
           BindExport(library, "CancelAccount", cancelAccount) &&
           BindExport(library, "CancellationReasons", cancellationReasons) &&
           BindExport(library, "ProductList", productList) &&
           BindExport(library, "SetMachinePlanEx", setMachinePlanEx) &&
           BindExport(library, "CreateAccount", createAccount) &&
           BindExport(library, "GetMemberAuth", getMemberAuth) &&
           BindExport(library, "CreateMachineAuth", createMachineAuth) &&
           BindExport(library, "CreateMachineAuthEx", createMachineAuthEx) &&
           BindExport(library, "GetMachineBucketDetails", getMachineBucketDetails) &&
           BindExport(library, "DeleteServerFileEx", deleteServerFileEx) &&
           BindExport(library, "DeleteServerFolderEx", deleteServerFolderEx);
}

bool AccountSteps::Run(const std::string& step, Csocketclient* channel, int argc, char** argv,
                       int* i, bool* succeeded) const
{
    for (const StepEntry& entry : kSteps) {
        if (step != entry.name || *i + entry.values > argc)
            continue;
        *succeeded = entry.run(*this, channel, argv + *i);
        *i += entry.values;
        return true;
    }
    return false;
}
