// What the stand-in server stores for the member behind its channels: the member's account
// and extended information, the machines with their volumes, folders and file versions, the
// lists it hands out (cancellation reasons, products, statistics) and the traces of the
// commands that change something. Tests and the demo fill it; the command handlers read and
// change it. Shared by every connection of one server, so every use goes through With().
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/types.h"

struct StoredVersion {
    ULONGLONG archiveCode = 0;
    ULONGLONG size = 0;
    // Seconds since 1970-01-01 UTC.
    DWORD time = 0;
};

// One entry of a folder: a file with its versions, or a subfolder (folderCode names it).
struct StoredEntry {
    std::u16string name{};
    bool isFolder = false;
    ULONGLONG folderCode = 0;
    ULONGLONG fileCode = 0;
    ULONGLONG size = 0;
    ULONGLONG modified = 0;
    DWORD attributes = 0;
    std::vector<StoredVersion> versions{};
};

struct StoredFolder {
    // The folder's path on its volume, with a backslash at both ends ("\" for the root).
    std::u16string path{};
    std::vector<StoredEntry> entries{};
};

struct StoredVolume {
    ULONGLONG code = 0;
    std::u16string label{};
    ULONGLONG used = 0;
    // Folders by folder code.
    std::map<ULONGLONG, StoredFolder> folders{};
};

struct StoredMachine {
    ULONGLONG id = 0;
    std::u16string name{};
    DWORD active = 0;
    std::u16string system{};
    ULONGLONG used = 0;
    ULONGLONG lastBackup = 0;
    std::u16string hostName{};
    DWORD plan = 0;
    std::u16string location{};
    ULONGLONG quota = 0;
    ULONGLONG created = 0;
    // The machine's authentication key and the client code it was created with.
    std::string key{};
    DWORD sourceId = 0;
    std::vector<StoredVolume> volumes{};
};

struct StoredReason {
    DWORD id = 0;
    std::u16string text{};
    std::u16string description{};
    std::u16string followUp{};
};

struct StoredProduct {
    DWORD id = 0;
    // UTF-8 texts.
    std::string name{};
    LONGLONG price = 0;
    std::string description{};
    ULONGLONG quota = 0;
    DWORD months = 0;
    std::string currency{};
};

struct StoredStat {
    ULONGLONG day = 0;
    ULONGLONG bytes = 0;
    ULONGLONG files = 0;
};

struct StoredMember {
    std::u16string userName{};
    std::u16string password{};
    std::u16string email{};
    std::u16string language{};
    std::u16string firstName{};
    std::u16string lastName{};
    std::u16string phone{};
    // The 8-bit text that lets a client create machines for this member.
    std::string memberAuth{};
    // GetMemberInfo: six texts, two 64-bit values, six words.
    std::u16string extendedTexts[6]{};
    ULONGLONG extendedA = 0;
    ULONGLONG extendedB = 0;
    DWORD extendedValues[6] = {};
    // GetAccountInfo / UpdateAccountInfo: name, address lines 1 and 2, city, province,
    // postal code, country, phone.
    std::u16string accountTexts[8]{};
    ULONGLONG statBytes = 0;
    DWORD statFiles = 0;
    std::vector<StoredStat> stats{};
    bool cancelled = false;
    DWORD cancelReason = 0;
    std::u16string cancelServiceTag{};
};

struct StoredBucket {
    ULONGLONG quota = 0;
    ULONGLONG used = 0;
    ULONGLONG expiry = 0;
    DWORD values[6] = {};
    // 8-bit texts: purchase and subscription ids.
    std::string purchaseId{};
    std::string subscriptionId{};
    DWORD migrated = 0;
};

struct StoredPlan {
    std::string texts[4]{};
    DWORD value1 = 0;
    DWORD value2 = 0;
};

struct ServiceState {
    StoredMember member{};
    // User names taken on the server, the member's own among them.
    std::vector<std::u16string> userNames{};
    std::vector<StoredMachine> machines{};
    ULONGLONG activeMachine = 0;
    ULONGLONG nextMachineId = 1000;
    std::vector<StoredReason> reasons{};
    std::vector<StoredProduct> products{};
    StoredBucket bucket{};
    ULONGLONG lastRestore[3] = {};
    DWORD webPortalEnabled = 0;
    DWORD cancelConfirmation = 0;

    // Traces of the commands that change nothing the lists show.
    StoredPlan lastPlan{};
    std::vector<std::string> removedCacheFiles{};
    DWORD closedHandles = 0;

    StoredMachine* FindMachine(ULONGLONG id);
    StoredMachine* FindMachineByName(const std::u16string& name);
    StoredVolume* FindVolume(ULONGLONG machineId, ULONGLONG volumeCode);
    bool IsUserNameTaken(const std::u16string& name) const;
};

class ServiceStore {
public:
    // Runs work with the state while no other connection touches it; gives work's result.
    template <typename Work>
    auto With(Work work)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return work(m_state);
    }

private:
    std::mutex m_mutex;
    ServiceState m_state;
};
