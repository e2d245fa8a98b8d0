#include "tools/server/CommandHandlers.h"

#include <algorithm>
#include <functional>

#include "platform/format.h"
#include "platform/text.h"
#include "tools/server/CommandTable.h"
#include "tools/server/RecordWriter.h"
#include "util/LittleEndian.h"

namespace {

// A handler reads the whole request before it writes anything, and gives false when the
// request does not hold its fields; the reply is then result 0, status 0.
using Handler = bool (*)(RequestReader& request, ReplyWriter& reply, ServiceState& state);

constexpr DWORD kDone = 1;
constexpr DWORD kFailed = 0;

bool ReadText16(RequestReader& request, std::u16string* text)
{
    std::string bytes;
    if (!request.ReadCountedBytes(&bytes) || bytes.size() % 2 != 0)
        return false;
    text->clear();
    for (size_t i = 0; i < bytes.size(); i += 2)
        text->push_back(LoadLittleEndian16(reinterpret_cast<const BYTE*>(bytes.data() + i)));
    return true;
}

bool ReadText8(RequestReader& request, std::string* text)
{
    return request.ReadCountedBytes(text);
}

bool ReadWide8(RequestReader& request, std::u16string* text)
{
    std::string bytes;
    if (!ReadText8(request, &bytes))
        return false;
    *text = Utf8ToUtf16(bytes);
    return true;
}

// User name, password, e-mail, language, first and last name, phone.
bool ReadMemberTexts(RequestReader& request, StoredMember* member)
{
    std::u16string* fields[] = {&member->userName, &member->password,  &member->email,
                                &member->language, &member->firstName, &member->lastName,
                                &member->phone};
    for (std::u16string* field : fields) {
        if (!ReadText16(request, field))
            return false;
    }
    return true;
}

void PutWords(ReplyWriter& reply, DWORD result, DWORD status)
{
    reply.PutU32(result);
    reply.PutU32(status);
}

StoredFolder* FindFolderByPath(StoredVolume& volume, const std::u16string& path)
{
    for (auto& [code, folder] : volume.folders) {
        if (folder.path == path)
            return &folder;
    }
    return nullptr;
}

StoredEntry* FindFile(StoredFolder& folder, ULONGLONG fileCode)
{
    auto found = std::find_if(folder.entries.begin(), folder.entries.end(),
                              [&](const StoredEntry& entry) {
                                  return !entry.isFolder && entry.fileCode == fileCode;
                              });
    return found != folder.entries.end() ? &*found : nullptr;
}

StoredFolder* FindFolder(ServiceState& state, ULONGLONG machine, ULONGLONG volume,
                         ULONGLONG folderCode)
{
    StoredVolume* stored = state.FindVolume(machine, volume);
    if (stored == nullptr)
        return nullptr;
    auto found = stored->folders.find(folderCode);
    return found != stored->folders.end() ? &found->second : nullptr;
}

// A list: its item count, then one record per item written by write(records, item).
template <typename Items, typename Write>
void PutRecords(ReplyWriter& reply, const Items& items, Write write)
{
    reply.PutU32(static_cast<DWORD>(items.size()));
    RecordWriter records(reply);
    for (const auto& item : items)
        std::invoke(write, records, item);
}

void PutEntries(ReplyWriter& reply, const StoredFolder* folder)
{
    if (folder == nullptr) {
        reply.PutU32(0);
        return;
    }
    PutRecords(reply, folder->entries, &RecordWriter::Entry);
}

// ---------------------------------------------------------------------------------------
// Browsing

bool MachineListCommand(RequestReader& request, ReplyWriter& reply, ServiceState& state,
                        bool extended)
{
    DWORD value;
    if (!request.ReadU32(&value))
        return false;
    PutRecords(reply, state.machines,
               [extended](RecordWriter& records, const StoredMachine& machine) {
                   records.Machine(machine, extended);
               });
    return true;
}

bool MachineList(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    return MachineListCommand(request, reply, state, false);
}

bool MachineListEx(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    return MachineListCommand(request, reply, state, true);
}

// The volumes of the active machine.
bool GetVolumeList(RequestReader&, ReplyWriter& reply, ServiceState& state)
{
    const StoredMachine* machine = state.FindMachine(state.activeMachine);
    if (machine == nullptr) {
        reply.PutU32(0);
        return true;
    }
    PutRecords(reply, machine->volumes, &RecordWriter::Volume);
    return true;
}

bool GetDirectory(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    ULONGLONG machine, volume, folder;
    if (!request.ReadU64(&machine) || !request.ReadU64(&volume) || !request.ReadU64(&folder))
        return false;
    PutEntries(reply, FindFolder(state, machine, volume, folder));
    return true;
}

bool GetRootDirectory(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    ULONGLONG machine, volume;
    std::u16string path;
    if (!request.ReadU64(&machine) || !request.ReadU64(&volume) || !ReadWide8(request, &path))
        return false;
    StoredVolume* stored = state.FindVolume(machine, volume);
    PutEntries(reply, stored != nullptr ? FindFolderByPath(*stored, path) : nullptr);
    return true;
}

bool GetVersions(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    ULONGLONG machine, volume, folder, file;
    if (!request.ReadU64(&machine) || !request.ReadU64(&volume) || !request.ReadU64(&folder) ||
        !request.ReadU64(&file))
        return false;
    StoredFolder* stored = FindFolder(state, machine, volume, folder);
    const StoredEntry* entry = stored != nullptr ? FindFile(*stored, file) : nullptr;
    if (entry == nullptr) {
        reply.PutU32(0);
        return true;
    }
    PutRecords(reply, entry->versions, &RecordWriter::Version);
    return true;
}

// Every entry of the machine whose name holds the search text; result 0 for an unknown
// machine.
bool Search(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    ULONGLONG machineId;
    std::u16string text;
    DWORD end;
    if (!request.ReadU64(&machineId) || !ReadWide8(request, &text) || !request.ReadU32(&end))
        return false;
    const StoredMachine* machine = state.FindMachine(machineId);
    if (machine == nullptr) {
        PutWords(reply, kFailed, 0);
        return true;
    }
    ReplyWriter hits;
    RecordWriter records(hits);
    DWORD count = 0;
    for (const StoredVolume& volume : machine->volumes) {
        for (const auto& [code, folder] : volume.folders) {
            for (const StoredEntry& entry : folder.entries) {
                if (entry.name.find(text) == std::u16string::npos)
                    continue;
                records.SearchHit(volume.code, folder, entry);
                ++count;
            }
        }
    }
    PutWords(reply, kDone, count);
    reply.PutBytes(hits.Payload().data(), hits.Payload().size());
    return true;
}

bool CheckFile(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    ULONGLONG volumeCode;
    std::u16string folderPath, name;
    DWORD values[5];
    if (!request.ReadU64(&volumeCode) || !ReadWide8(request, &folderPath) ||
        !ReadWide8(request, &name))
        return false;
    for (DWORD& value : values) {
        if (!request.ReadU32(&value))
            return false;
    }
    for (StoredMachine& machine : state.machines) {
        for (StoredVolume& volume : machine.volumes) {
            StoredFolder* folder =
                volume.code == volumeCode ? FindFolderByPath(volume, folderPath) : nullptr;
            if (folder == nullptr)
                continue;
            for (const StoredEntry& entry : folder->entries) {
                if (entry.isFolder || entry.name != name)
                    continue;
                PutWords(reply, kDone, 0);
                reply.PutU64(entry.size);
                reply.PutU64(entry.modified);
                reply.PutU64(entry.fileCode);
                return true;
            }
        }
    }
    PutWords(reply, kFailed, ServerStatus::kFileUnknown);
    return true;
}

// ---------------------------------------------------------------------------------------
// Server files

bool DeleteServerFile(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    ULONGLONG machine, volume, folderCode, fileCode, archive;
    if (!request.ReadU64(&machine) || !request.ReadU64(&volume) ||
        !request.ReadU64(&folderCode) || !request.ReadU64(&fileCode) ||
        !request.ReadU64(&archive))
        return false;
    StoredFolder* folder = FindFolder(state, machine, volume, folderCode);
    StoredEntry* entry = folder != nullptr ? FindFile(*folder, fileCode) : nullptr;
    auto version = entry != nullptr
                       ? std::find_if(entry->versions.begin(), entry->versions.end(),
                                      [&](const StoredVersion& stored) {
                                          return stored.archiveCode == archive;
                                      })
                       : std::vector<StoredVersion>::iterator();
    if (entry == nullptr || version == entry->versions.end()) {
        PutWords(reply, kFailed, ServerStatus::kNothingToDelete);
        return true;
    }
    entry->versions.erase(version);
    if (entry->versions.empty())
        folder->entries.erase(folder->entries.begin() + (entry - folder->entries.data()));
    PutWords(reply, kDone, 0);
    return true;
}

// Removes the folder and the entries that name it.
bool DeleteServerFolder(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    ULONGLONG machine, volume, folderCode;
    if (!request.ReadU64(&machine) || !request.ReadU64(&volume) || !request.ReadU64(&folderCode))
        return false;
    StoredVolume* stored = state.FindVolume(machine, volume);
    if (stored == nullptr || stored->folders.erase(folderCode) == 0) {
        PutWords(reply, kFailed, ServerStatus::kNothingToDelete);
        return true;
    }
    for (auto& [code, folder] : stored->folders) {
        std::erase_if(folder.entries, [&](const StoredEntry& entry) {
            return entry.isFolder && entry.folderCode == folderCode;
        });
    }
    PutWords(reply, kDone, 0);
    return true;
}

bool RemoveCacheFile(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    std::string name;
    DWORD reason, flag;
    if (!ReadText8(request, &name) || !request.ReadU32(&reason) || !request.ReadU32(&flag))
        return false;
    state.removedCacheFiles.push_back(name);
    PutWords(reply, kDone, 0);
    return true;
}

bool CloseOpenHandle(RequestReader&, ReplyWriter& reply, ServiceState& state)
{
    ++state.closedHandles;
    PutWords(reply, kDone, 0);
    return true;
}

bool LastRestoreInfo(RequestReader&, ReplyWriter& reply, ServiceState& state)
{
    PutWords(reply, kDone, 0);
    for (ULONGLONG value : state.lastRestore)
        reply.PutU64(value);
    return true;
}

// ---------------------------------------------------------------------------------------
// Machines

bool SetActiveMachine(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    std::u16string name;
    if (!ReadWide8(request, &name))
        return false;
    const StoredMachine* machine = state.FindMachineByName(name);
    if (machine != nullptr)
        state.activeMachine = machine->id;
    PutWords(reply, machine != nullptr ? kDone : kFailed, 0);
    return true;
}

bool SetMachinePlan(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    StoredPlan plan;
    for (std::string& text : plan.texts) {
        if (!ReadText8(request, &text))
            return false;
    }
    if (!request.ReadU32(&plan.value1) || !request.ReadU32(&plan.value2))
        return false;
    state.lastPlan = plan;
    PutWords(reply, kDone, 0);
    return true;
}

// Result, then the key's count at 4 and the key at 8 (no status word).
bool GetMachineAuth(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    ULONGLONG ownId, machineCode;
    if (!request.ReadU64(&ownId) || !request.ReadU64(&machineCode))
        return false;
    const StoredMachine* machine = state.FindMachine(machineCode);
    reply.PutU32(machine != nullptr ? kDone : kFailed);
    reply.PutCountedBytes(machine != nullptr ? machine->key : std::string());
    return true;
}

// Success: result, machine id at 4, key; refusal: result 0, status.
bool CreateMachineByAuth(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    std::string memberAuth, hostName, machineName;
    DWORD sourceId;
    if (!ReadText8(request, &memberAuth) || !ReadText8(request, &hostName) ||
        !request.ReadU32(&sourceId) || !ReadText8(request, &machineName))
        return false;
    if (memberAuth.empty() || memberAuth != state.member.memberAuth) {
        PutWords(reply, kFailed, ServerStatus::kNotAuthorized);
        return true;
    }
    StoredMachine machine;
    machine.id = state.nextMachineId++;
    machine.name = Utf8ToUtf16(machineName);
    machine.hostName = Utf8ToUtf16(hostName);
    machine.sourceId = sourceId;
    machine.key = FormatString("MK%I64u-%lu-%s", machine.id, sourceId, hostName);
    reply.PutU32(kDone);
    reply.PutU64(machine.id);
    reply.PutCountedBytes(machine.key);
    state.machines.push_back(machine);
    return true;
}

bool GetMachineBucketDetailsEx(RequestReader&, ReplyWriter& reply, ServiceState& state)
{
    const StoredBucket& bucket = state.bucket;
    PutWords(reply, kDone, 0);
    reply.PutU64(bucket.quota);
    reply.PutU64(bucket.used);
    reply.PutU64(bucket.expiry);
    for (DWORD value : bucket.values)
        reply.PutU32(value);
    reply.PutCountedBytes(bucket.purchaseId);
    reply.PutCountedBytes(bucket.subscriptionId);
    reply.PutU32(bucket.migrated);
    return true;
}

bool IsWebPortalEnabledEx(RequestReader&, ReplyWriter& reply, ServiceState& state)
{
    PutWords(reply, kDone, 0);
    reply.PutU32(state.webPortalEnabled);
    return true;
}

// ---------------------------------------------------------------------------------------
// Member and account

bool CheckUsername(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    std::u16string name;
    if (!ReadWide8(request, &name))
        return false;
    bool taken = state.IsUserNameTaken(name);
    PutWords(reply, taken ? kFailed : kDone, taken ? ServerStatus::kNameTaken : 0);
    return true;
}

bool CreateAccount(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    StoredMember member = state.member;
    if (!ReadMemberTexts(request, &member))
        return false;
    if (state.IsUserNameTaken(member.userName)) {
        PutWords(reply, kFailed, ServerStatus::kNameTaken);
        return true;
    }
    state.userNames.push_back(member.userName);
    state.member = member;
    PutWords(reply, kDone, 0);
    return true;
}

bool UpdateUsernamePassword(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    std::u16string memberAuth, userName, password;
    if (!ReadText16(request, &memberAuth) || !ReadText16(request, &userName) ||
        !ReadText16(request, &password))
        return false;
    if (state.member.memberAuth.empty() || Utf16ToUtf8(memberAuth) != state.member.memberAuth) {
        PutWords(reply, kFailed, ServerStatus::kNotAuthorized);
        return true;
    }
    std::replace(state.userNames.begin(), state.userNames.end(), state.member.userName, userName);
    state.member.userName = userName;
    state.member.password = password;
    PutWords(reply, kDone, 0);
    return true;
}

bool DeleteMember(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    std::u16string name;
    if (!ReadText16(request, &name))
        return false;
    bool removed = std::erase(state.userNames, name) != 0;
    PutWords(reply, removed ? kDone : kFailed, 0);
    return true;
}

bool GetMemberAuth(RequestReader&, ReplyWriter& reply, ServiceState& state)
{
    PutWords(reply, state.member.memberAuth.empty() ? kFailed : kDone, 0);
    reply.PutCountedBytes(state.member.memberAuth);
    return true;
}

bool GetMemberInfo(RequestReader&, ReplyWriter& reply, ServiceState& state)
{
    const StoredMember& member = state.member;
    PutWords(reply, kDone, 0);
    RecordWriter records(reply);
    for (const std::u16string& text : member.extendedTexts)
        records.Text16(text);
    reply.PutU64(member.extendedA);
    reply.PutU64(member.extendedB);
    for (DWORD value : member.extendedValues)
        reply.PutU32(value);
    return true;
}

bool UpdateMemberExtendedInfo(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    StoredMember member = state.member;
    if (!ReadMemberTexts(request, &member))
        return false;
    state.member = member;
    PutWords(reply, kDone, 0);
    return true;
}

bool GetAccountInfo(RequestReader&, ReplyWriter& reply, ServiceState& state)
{
    PutWords(reply, kDone, 0);
    RecordWriter records(reply);
    for (const std::u16string& text : state.member.accountTexts)
        records.Text16(text);
    return true;
}

bool UpdateAccountInfo(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    std::u16string texts[8];
    for (std::u16string& text : texts) {
        if (!ReadText16(request, &text))
            return false;
    }
    std::copy(std::begin(texts), std::end(texts), state.member.accountTexts);
    PutWords(reply, kDone, 0);
    return true;
}

// Result, a 16-byte header (status, total bytes, total files), the count at 20, the records.
bool GetMemberStats(RequestReader&, ReplyWriter& reply, ServiceState& state)
{
    const StoredMember& member = state.member;
    PutWords(reply, kDone, 0);
    reply.PutU64(member.statBytes);
    reply.PutU32(member.statFiles);
    PutRecords(reply, member.stats, &RecordWriter::Stat);
    return true;
}

bool CancelAccount(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    std::u16string serviceTag;
    DWORD reason;
    if (!ReadWide8(request, &serviceTag) || !request.ReadU32(&reason))
        return false;
    state.member.cancelled = true;
    state.member.cancelReason = reason;
    state.member.cancelServiceTag = serviceTag;
    PutWords(reply, kDone, state.cancelConfirmation);
    return true;
}

bool CancellationReasons(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    std::u16string text;
    DWORD value;
    if (!ReadText16(request, &text) || !request.ReadU32(&value))
        return false;
    PutWords(reply, kDone, 0);
    PutRecords(reply, state.reasons, &RecordWriter::Reason);
    return true;
}

bool ProductList(RequestReader& request, ReplyWriter& reply, ServiceState& state)
{
    DWORD value1, value2;
    std::u16string text;
    if (!request.ReadU32(&value1) || !request.ReadU32(&value2) || !ReadText16(request, &text))
        return false;
    PutWords(reply, kDone, 0);
    PutRecords(reply, state.products, &RecordWriter::Product);
    return true;
}

struct HandlerEntry {
    DWORD code;
    Handler handler;
};

const HandlerEntry kHandlers[] = {
    {ServerCommand::kRemoveCacheFile, RemoveCacheFile},
    {ServerCommand::kGetVersions, GetVersions},
    {ServerCommand::kGetVolumeList, GetVolumeList},
    {ServerCommand::kGetMachineAuth, GetMachineAuth},
    {ServerCommand::kGetDirectory, GetDirectory},
    {ServerCommand::kSearch, Search},
    {ServerCommand::kCheckUsername, CheckUsername},
    {ServerCommand::kMachineList, MachineList},
    {ServerCommand::kCheckFile, CheckFile},
    {ServerCommand::kSetActiveMachine, SetActiveMachine},
    {ServerCommand::kGetMemberAuth, GetMemberAuth},
    {ServerCommand::kDeleteMember, DeleteMember},
    {ServerCommand::kGetMemberStats, GetMemberStats},
    {ServerCommand::kGetMachineBucketDetailsEx, GetMachineBucketDetailsEx},
    {ServerCommand::kCloseOpenHandle, CloseOpenHandle},
    {ServerCommand::kSetMachinePlan, SetMachinePlan},
    {ServerCommand::kIsWebPortalEnabledEx, IsWebPortalEnabledEx},
    {ServerCommand::kCancelAccount, CancelAccount},
    {ServerCommand::kDeleteServerFile, DeleteServerFile},
    {ServerCommand::kMachineListEx, MachineListEx},
    {ServerCommand::kProductList, ProductList},
    {ServerCommand::kCreateAccount, CreateAccount},
    {ServerCommand::kCancellationReasons, CancellationReasons},
    {ServerCommand::kLastRestoreInfo, LastRestoreInfo},
    {ServerCommand::kUpdateUsernamePassword, UpdateUsernamePassword},
    {ServerCommand::kDeleteServerFolder, DeleteServerFolder},
    {ServerCommand::kGetMemberInfo, GetMemberInfo},
    {ServerCommand::kUpdateMemberExtendedInfo, UpdateMemberExtendedInfo},
    {ServerCommand::kGetAccountInfo, GetAccountInfo},
    {ServerCommand::kUpdateAccountInfo, UpdateAccountInfo},
    {ServerCommand::kGetRootDirectory, GetRootDirectory},
    {ServerCommand::kCreateMachineByAuth, CreateMachineByAuth},
};

}  // namespace

void RegisterCommandHandlers(CommandTable& table)
{
    for (const HandlerEntry& entry : kHandlers) {
        Handler handler = entry.handler;
        table.Set(entry.code, [handler](RequestReader& request, ReplyWriter& reply,
                                        ServerModel& model) {
            bool readable = model.Service().With(
                [&](ServiceState& state) { return handler(request, reply, state); });
            if (!readable)
                PutWords(reply, kFailed, 0);
        });
    }
}
