#include "host/ChannelSteps.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "host/ListPrinter.h"
#include "host/RestoreProgress.h"
#include "host/StepValues.h"

namespace {

// Units of the error text that the proxy check may fill.
constexpr int32_t kProxyErrorTextSize = 1024;
// Characters of the texts that the parameter calls fill.
constexpr int32_t kParameterTextSize = 4096;

void PrintFlags(uint32_t flags)
{
    std::printf("  flags 0x%x", flags);
    if (flags & KELVANE_FLAG_AUTHENTICATED)
        std::printf(" authenticated");
    if (flags & KELVANE_FLAG_REFUSAL_FLAG)
        std::printf(" refused");
    if (flags & KELVANE_FLAG_REFUSAL_CODE)
        std::printf(" refused-with-code");
    if (flags & KELVANE_FLAG_MACHINE_LOGIN_FAILED)
        std::printf(" machine-login-failed");
    std::printf("\n");
}

bool ReportChannel(const char* call, Csocketclient* channel)
{
    if (channel == nullptr)
        std::printf("%s -> no channel\n", call);
    else
        std::printf("%s -> channel %p\n", call, static_cast<void*>(channel));
    return channel != nullptr;
}

// Reports a list that the library handed over, with its records when print is given, and
// gives its buffer back.
bool ReportList(HostSession& session, const char* call, void* buffer, uint32_t count,
                uint32_t size, ListPrinter::Print print = nullptr)
{
    std::printf("%s -> %s  count %u  size %u\n", call, buffer != nullptr ? "buffer" : "NULL",
                count, size);
    if (print != nullptr)
        print(buffer, size);
    session.exports.FreeBuffer(buffer);
    return buffer != nullptr;
}

// Prints what the channel reports to the host; never asks a transfer to stop.
int32_t PrintEvent(uintptr_t, uint32_t code, const char16_t* text, uint64_t value)
{
    if (text != nullptr)
        std::printf("  event %u: %s\n", code, Narrow(text).c_str());
    else
        std::printf("  event %u: %llu\n", code, static_cast<unsigned long long>(value));
    return 0;
}

// The ten words of five codes, each low word first.
std::vector<uint32_t> CodeWords(char** codes)
{
    std::vector<uint32_t> words;
    for (int i = 0; i < 5; ++i) {
        uint64_t code = ParseNumber(codes[i]);
        words.push_back(Low(code));
        words.push_back(High(code));
    }
    return words;
}

// Opening a second channel would lose the first: each opening step closes it first.
bool OpenUser(HostSession& session, char** values)
{
    session.CloseChannel();
    uint32_t flags = 0;
    const HostProxy& proxy = session.proxy;
    session.channel = session.exports.OpenChannel(
        Wide(values[0]).c_str(), Wide(values[1]).c_str(), Wide(values[2]).c_str(), &flags,
        proxy.use, proxy.host.c_str(), proxy.port, proxy.user.c_str(), proxy.password.c_str());
    bool opened = ReportChannel("OpenChannel", session.channel);
    PrintFlags(flags);
    return opened;
}

bool OpenMachine(HostSession& session, char** values)
{
    session.CloseChannel();
    uint32_t flags = 0;
    const HostProxy& proxy = session.proxy;
    session.channel = session.exports.OpenChannelEx(
        Wide(values[0]).c_str(), values[1], &flags, proxy.use, proxy.host.c_str(), proxy.port,
        proxy.user.c_str(), proxy.password.c_str());
    bool opened = ReportChannel("OpenChannelEx", session.channel);
    PrintFlags(flags);
    return opened;
}

bool OpenNoUser(HostSession& session, char** values)
{
    session.CloseChannel();
    const HostProxy& proxy = session.proxy;
    session.channel = session.exports.OpenChannelNoUser(
        Wide(values[0]).c_str(), proxy.use, proxy.host.c_str(), proxy.port, proxy.user.c_str(),
        proxy.password.c_str());
    return ReportChannel("OpenChannelNoUser", session.channel);
}

bool AuthenticateMachineAgain(HostSession& session, char**)
{
    uint32_t maintenance = 0;
    uint32_t lockedout = 0;
    bool result = session.exports.AuthenticateMachine(session.channel, &maintenance, &lockedout);
    std::printf("AuthenticateMachine -> %d  maintenance %u  lockedout %u\n", result ? 1 : 0,
                maintenance, lockedout);
    return result;
}

bool Verify(HostSession& session, char**)
{
    char dataServer[KELVANE_DATA_SERVER_SIZE] = {};
    uint32_t maintenance = 0;
    bool result = session.exports.VerifyServer(session.channel, dataServer, &maintenance);
    std::printf("VerifyServer -> %d  data server \"%s\"  maintenance %u\n", result ? 1 : 0,
                dataServer, maintenance);
    return result;
}

bool WebPortal(HostSession& session, char**)
{
    uint32_t enabled = 0;
    int32_t result = session.exports.WebPortalIsEnabled(session.channel, &enabled);
    std::printf("WebPortalIsEnabled -> %d  enabled %u\n", result, enabled);
    return result != 0;
}

bool SelectMachine(HostSession& session, char** values)
{
    int32_t result = session.exports.SetActiveMachine(session.channel, Wide(values[0]).c_str());
    std::printf("SetActiveMachine -> %d\n", result);
    return result != 0;
}

bool MachineInformation(HostSession& session, char** values)
{
    uint64_t machineCode = ParseNumber(values[0]);
    char text[kHostTextUnits] = {};
    int32_t result = session.exports.GetMachineInformation(session.channel, Low(machineCode),
                                                           High(machineCode), text);
    std::printf("GetMachineInformation -> %d  text \"%s\"\n", result, text);
    return result != 0;
}

bool InstallCallback(HostSession& session, char**)
{
    int32_t result = session.exports.SetCallBack(session.channel, nullptr, PrintEvent);
    std::printf("SetCallBack -> %d\n", result);
    return result != 0;
}

bool RemoveCallback(HostSession& session, char**)
{
    int32_t result = session.exports.ResetCallBack(session.channel);
    std::printf("ResetCallBack -> %d\n", result);
    return result != 0;
}

bool PacketSize(HostSession& session, char** values)
{
    auto size = static_cast<uint32_t>(ParseNumber(values[0]));
    int32_t result = session.exports.SetGetPacketSize(session.channel, size);
    std::printf("SetGetPacketSize -> %d\n", result);
    return result != 0;
}

bool CheckProxy(HostSession& session, char** values)
{
    const HostProxy& proxy = session.proxy;
    char16_t errText[kProxyErrorTextSize] = {};
    int32_t result = session.exports.CheckProxySettings(
        proxy.host.c_str(), proxy.port, proxy.user.c_str(), proxy.password.c_str(),
        Wide(values[0]).c_str(), static_cast<int32_t>(ParseNumber(values[1])), errText,
        kProxyErrorTextSize);
    std::printf("CheckProxySettings -> %d  \"%s\"\n", result, Narrow(errText).c_str());
    return result != 0;
}

// Calls a list export that takes nothing but the channel and reports the list.
bool LoadList(HostSession& session, const char* call, decltype(&::loadMachines) load,
              ListPrinter::Print print)
{
    uint32_t count = 0;
    uint32_t size = 0;
    void* buffer = load(session.channel, &count, &size);
    return ReportList(session, call, buffer, count, size, print);
}

bool Machines(HostSession& session, char**)
{
    return LoadList(session, "loadMachines", session.exports.loadMachines,
                    ListPrinter::Machines);
}

bool MachinesEx(HostSession& session, char**)
{
    return LoadList(session, "loadMachinesEx", session.exports.loadMachinesEx, nullptr);
}

bool Volumes(HostSession& session, char**)
{
    return LoadList(session, "loadVolumes", session.exports.loadVolumes, ListPrinter::Volumes);
}

bool RootFolder(HostSession& session, char** values)
{
    uint32_t count = 0;
    uint32_t size = 0;
    uint64_t machine = ParseNumber(values[0]);
    uint64_t volume = ParseNumber(values[1]);
    void* buffer = session.exports.loadRootFolder(session.channel, &count, &size, Low(machine),
                                                  High(machine), Low(volume), High(volume));
    return ReportList(session, "loadRootFolder", buffer, count, size,
                      ListPrinter::FolderEntries);
}

bool Folder(HostSession& session, char** values)
{
    uint32_t count = 0;
    uint32_t size = 0;
    uint64_t machine = ParseNumber(values[0]);
    uint64_t volume = ParseNumber(values[1]);
    uint64_t folder = ParseNumber(values[2]);
    void* buffer = session.exports.loadFolderByFolderCode(
        session.channel, &count, &size, Low(machine), High(machine), Low(volume), High(volume),
        Low(folder), High(folder));
    return ReportList(session, "loadFolderByFolderCode", buffer, count, size,
                      ListPrinter::FolderEntries);
}

bool Versions(HostSession& session, char** values)
{
    uint32_t count = 0;
    uint32_t size = 0;
    uint64_t machine = ParseNumber(values[0]);
    uint64_t volume = ParseNumber(values[1]);
    uint64_t folder = ParseNumber(values[2]);
    uint64_t file = ParseNumber(values[3]);
    void* buffer = session.exports.loadVersion(session.channel, &count, &size, Low(machine),
                                               High(machine), Low(volume), High(volume),
                                               Low(folder), High(folder), Low(file), High(file));
    return ReportList(session, "loadVersion", buffer, count, size);
}

// The count of a Search reply is its second word.
bool SearchFiles(HostSession& session, char** values)
{
    uint32_t size = 0;
    uint64_t machine = ParseNumber(values[0]);
    void* buffer = session.exports.Search(session.channel, Low(machine), High(machine),
                                          Wide(values[1]).c_str(), &size);
    uint32_t count = 0;
    if (buffer != nullptr && size >= 8)
        std::memcpy(&count, static_cast<const char*>(buffer) + 4, sizeof count);
    return ReportList(session, "Search", buffer, count, size);
}

bool CheckStoredFile(HostSession& session, char** values)
{
    uint64_t stored[3] = {};
    uint32_t word = 0;
    uint32_t status = 0;
    int32_t result =
        session.exports.CheckFile(session.channel, Wide(values[0]).c_str(), 0, 0, 0, 0,
                                  &stored[0], &stored[1], &stored[2], &word, &status);
    std::printf("CheckFile -> %d  result %u  status %u  values %llu %llu %llu\n", result, word,
                status, static_cast<unsigned long long>(stored[0]),
                static_cast<unsigned long long>(stored[1]),
                static_cast<unsigned long long>(stored[2]));
    return result != 0;
}

bool LastRestore(HostSession& session, char**)
{
    uint64_t restored[3] = {};
    uint32_t status = 0;
    int32_t result = session.exports.LastRestoreInfo(session.channel, &restored[0], &restored[1],
                                                     &restored[2], &status);
    std::printf("LastRestoreInfo -> %d  status %u  values %llu %llu %llu\n", result, status,
                static_cast<unsigned long long>(restored[0]),
                static_cast<unsigned long long>(restored[1]),
                static_cast<unsigned long long>(restored[2]));
    return result != 0;
}

bool Restore(HostSession& session, char** values)
{
    std::vector<uint32_t> w = CodeWords(values);
    RestoreProgress::Begin();
    int32_t result = session.exports.RestoreFile(
        session.channel, w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9],
        Wide(values[5]).c_str(), 0, 0, Wide(values[6]).c_str(), RestoreProgress::Event);
    RestoreProgress::End();
    std::printf("RestoreFile -> %d\n", result);
    return result != 0;
}

bool RestoreHybrid(HostSession& session, char** values)
{
    std::vector<uint32_t> w = CodeWords(values);
    RestoreProgress::Begin();
    int32_t result = session.exports.RestoreHybridFile(
        session.channel, w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9],
        Wide(values[5]).c_str(), Wide(values[6]).c_str(), Wide(values[7]).c_str(),
        RestoreProgress::Event);
    RestoreProgress::End();
    std::printf("RestoreHybridFile -> %d\n", result);
    return result != 0;
}

bool Seal(HostSession& session, char** values)
{
    std::vector<char16_t> out(kParameterTextSize);
    int32_t result = session.exports.SetParameters(
        session.channel, Wide(values[0]).c_str(), Wide(values[1]).c_str(),
        Wide(values[2]).c_str(), Wide(values[3]).c_str(), out.data(), kParameterTextSize);
    std::printf("SetParameters -> %d  \"%s\"\n", result, Narrow(out.data()).c_str());
    return result != 0;
}

bool Unseal(HostSession& session, char** values)
{
    std::vector<char16_t> out1(kParameterTextSize);
    std::vector<char16_t> out2(kParameterTextSize);
    int32_t result = session.exports.GetParameters(
        session.channel, Wide(values[0]).c_str(), Wide(values[1]).c_str(),
        Wide(values[2]).c_str(), out1.data(), kParameterTextSize, out2.data(),
        kParameterTextSize);
    std::printf("GetParameters -> %d  \"%s\"  \"%s\"\n", result, Narrow(out1.data()).c_str(),
                Narrow(out2.data()).c_str());
    return result != 0;
}

bool Close(HostSession& session, char**)
{
    session.exports.CloseChannel(session.channel);
    session.channel = nullptr;
    std::printf("CloseChannel\n");
    return true;
}

const Step kOpeningSteps[] = {
    {"open-user", "SERVER USER PASSWORD", "open a channel and log a user in", OpenUser},
    {"open-machine", "SERVER KEY", "open a channel and log a machine in", OpenMachine},
    {"open-nouser", "SERVER", "open a channel without a login", OpenNoUser},
    {"authenticate-machine", "", "log the channel's machine in again", AuthenticateMachineAgain},
    {"verify-server", "", "ask for the data server and the maintenance word", Verify},
    {"web-portal", "", "ask whether the web portal is on", WebPortal},
    {"set-active-machine", "NAME", "select the machine that later calls work on", SelectMachine},
    {"machine-info", "CODE", "read the authentication text of a machine", MachineInformation},
    {"close", "", "close the channel", Close},
};

const Step kSettingSteps[] = {
    {"callback", "", "print the channel's events from now on", InstallCallback},
    {"reset-callback", "", "stop printing the channel's events", RemoveCallback},
    {"packet-size", "BYTES", "read from the socket in pieces of BYTES", PacketSize},
    {"check-proxy", "SERVER PORT", "test the --proxy on a channel of its own", CheckProxy},
};

const Step kBrowsingSteps[] = {
    {"machines", "", "list the member's machines", Machines},
    {"machines-ex", "", "list the member's machines, extended form", MachinesEx},
    {"volumes", "", "list the volumes of the active machine", Volumes},
    {"root-folder", "MACHINE VOLUME", "list the root folder of a volume", RootFolder},
    {"folder", "MACHINE VOLUME FOLDER", "list a folder by its code", Folder},
    {"versions", "MACHINE VOLUME FOLDER FILE", "list the stored versions of a file", Versions},
    {"search", "MACHINE TEXT", "search the stored files of a machine", SearchFiles},
    {"check-file", "PATH", "ask about the stored copy of a local file", CheckStoredFile},
    {"last-restore", "", "read the values of the last restore", LastRestore},
};

const Step kRestoreSteps[] = {
    {"restore-file", "C1 C2 C3 C4 C5 PATH TEXT", "download the file version named by five codes",
     Restore},
    {"restore-hybrid", "C1 C2 C3 C4 C5 FOLDER BLOCKFILE DESTINATION",
     "rebuild a version from a block file in FOLDER", RestoreHybrid},
    {"set-parameters", "A B C D", "seal four texts into one", Seal},
    {"get-parameters", "S1 S2 S3", "open three sealed pieces", Unseal},
};

const StepGroup kGroups[] = {
    {"channel steps", kOpeningSteps},
    {"channel setting steps", kSettingSteps},
    {"browsing steps", kBrowsingSteps},
    {"restore and parameter steps", kRestoreSteps},
};

} // namespace

std::span<const StepGroup> ChannelStepGroups()
{
    return kGroups;
}
