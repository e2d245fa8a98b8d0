// kelvane-host: a host program for libkelvane.so. Like the managed host it stands in for, it
// loads the library at run time and calls its exported functions by name. It runs the steps
// given on its command line in order, on one channel, and prints what each call returned.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/AccountSteps.h"
#include "kelvane.h"
#include "platform/text.h"

namespace {

constexpr const char* kUsage =
    "usage: kelvane-host [--library PATH] [--proxy HOST PORT [--proxy-user USER PASSWORD]]\n"
    "                    STEP...\n"
    "steps, run in order on one channel:\n"
    "  open-user SERVER USER PASSWORD   open a channel and log a user in\n"
    "  open-machine SERVER KEY          open a channel and log a machine in\n"
    "  open-nouser SERVER               open a channel without a login\n"
    "  authenticate-machine             log the channel's machine in again\n"
    "  verify-server                    ask for the data server and the maintenance word\n"
    "  web-portal                       ask whether the web portal is on\n"
    "  set-active-machine NAME          select the machine that later calls work on\n"
    "  machine-info CODE                read the authentication text of a machine\n"
    "  callback                         print the channel's events from now on\n"
    "  reset-callback                   stop printing the channel's events\n"
    "  packet-size BYTES                read from the socket in pieces of BYTES\n"
    "  check-proxy SERVER PORT          test the --proxy on a channel of its own\n"
    "  machines                         list the member's machines\n"
    "  machines-ex                      list the member's machines, extended form\n"
    "  volumes                          list the volumes of the active machine\n"
    "  root-folder MACHINE VOLUME       list the root folder of a volume\n"
    "  folder MACHINE VOLUME FOLDER     list a folder by its code\n"
    "  versions MACHINE VOLUME FOLDER FILE  list the stored versions of a file\n"
    "  search MACHINE TEXT              search the stored files of a machine\n"
    "  check-file PATH                  ask about the stored copy of a local file\n"
    "  last-restore                     read the values of the last restore\n"
    "  restore-file C1 C2 C3 C4 C5 PATH TEXT\n"
    "                                   download the file version named by five codes\n"
    "  restore-hybrid C1 C2 C3 C4 C5 FOLDER BLOCKFILE DESTINATION\n"
    "                                   rebuild a version from a block file in FOLDER\n"
    "  set-parameters A B C D           seal four texts into one\n"
    "  get-parameters S1 S2 S3          open three sealed pieces\n"
    "  close                            close the channel\n";

// Size of the 8-bit out-buffers that the library fills without a capacity.
constexpr size_t kTextBufferSize = 1024;
// Units of the error text that the proxy check may fill.
constexpr int32_t kProxyErrorTextSize = 1024;
// Characters of the texts that the parameter calls fill.
constexpr int32_t kParameterTextSize = 4096;
// Callback events of a download that the host shows: the size to come and the bytes handled.
constexpr uint32_t kEventDataSize = 24;
constexpr uint32_t kEventDataDone = 25;

// The exported functions, looked up by name.
struct Library {
    void* handle = nullptr;
    decltype(&OpenChannel) openChannel = nullptr;
    decltype(&OpenChannelEx) openChannelEx = nullptr;
    decltype(&OpenChannelNoUser) openChannelNoUser = nullptr;
    decltype(&CloseChannel) closeChannel = nullptr;
    decltype(&AuthenticateMachine) authenticateMachine = nullptr;
    decltype(&VerifyServer) verifyServer = nullptr;
    decltype(&WebPortalIsEnabled) webPortalIsEnabled = nullptr;
    decltype(&SetActiveMachine) setActiveMachine = nullptr;
    decltype(&GetMachineInformation) getMachineInformation = nullptr;
    decltype(&SetCallBack) setCallBack = nullptr;
    decltype(&ResetCallBack) resetCallBack = nullptr;
    decltype(&SetGetPacketSize) setGetPacketSize = nullptr;
    decltype(&CheckProxySettings) checkProxySettings = nullptr;
    decltype(&::loadMachines) loadMachineList = nullptr;
    decltype(&::loadMachinesEx) loadMachineListEx = nullptr;
    decltype(&::loadVolumes) loadVolumeList = nullptr;
    decltype(&::loadRootFolder) loadRoot = nullptr;
    decltype(&::loadFolderByFolderCode) loadFolder = nullptr;
    decltype(&::loadVersion) loadVersions = nullptr;
    decltype(&::Search) search = nullptr;
    decltype(&FreeBuffer) freeBuffer = nullptr;
    decltype(&CheckFile) checkFile = nullptr;
    decltype(&LastRestoreInfo) lastRestoreInfo = nullptr;
    decltype(&RestoreFile) restoreFile = nullptr;
    decltype(&RestoreHybridFile) restoreHybridFile = nullptr;
    decltype(&SetParameters) setParameters = nullptr;
    decltype(&GetParameters) getParameters = nullptr;
};

struct Proxy {
    int32_t use = 0;
    std::u16string host;
    int32_t port = 0;
    std::u16string user;
    std::u16string password;
};

struct Session {
    Library library;
    AccountSteps account;
    Proxy proxy;
    Csocketclient* channel = nullptr;
    // Whether a call failed; the program's exit status says so.
    bool failed = false;
};

template <typename Function>
bool Bind(void* handle, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(dlsym(handle, name));
    if (function == nullptr)
        std::fprintf(stderr, "kelvane-host: %s is not exported\n", name);
    return function != nullptr;
}

// The library beside this program, or one folder up (the build tree), else the loader's
// own search.
std::string DefaultLibraryPath()
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

bool LoadLibrary(const std::string& path, Library& library)
{
    library.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library.handle == nullptr) {
        std::fprintf(stderr, "kelvane-host: cannot load %s: %s\n", path.c_str(), dlerror());
        return false;
    }
    void* h = library.handle;
    return Bind(h, "OpenChannel", library.openChannel) &&
           Bind(h, "OpenChannelEx", library.openChannelEx) &&
           Bind(h, "OpenChannelNoUser", library.openChannelNoUser) &&
           Bind(h, "CloseChannel", library.closeChannel) &&
           Bind(h, "AuthenticateMachine", library.authenticateMachine) &&
           Bind(h, "VerifyServer", library.verifyServer) &&
           Bind(h, "WebPortalIsEnabled", library.webPortalIsEnabled) &&
           Bind(h, "SetActiveMachine", library.setActiveMachine) &&
           Bind(h, "GetMachineInformation", library.getMachineInformation) &&
           Bind(h, "SetCallBack", library.setCallBack) &&
           Bind(h, "ResetCallBack", library.resetCallBack) &&
           Bind(h, "SetGetPacketSize", library.setGetPacketSize) &&
           Bind(h, "CheckProxySettings", library.checkProxySettings) &&
           Bind(h, "loadMachines", library.loadMachineList) &&
           Bind(h, "loadMachinesEx", library.loadMachineListEx) &&
           Bind(h, "loadVolumes", library.loadVolumeList) &&
           Bind(h, "loadRootFolder", library.loadRoot) &&
           Bind(h, "loadFolderByFolderCode", library.loadFolder) &&
           Bind(h, "loadVersion", library.loadVersions) &&
           Bind(h, "Search", library.search) &&
           Bind(h, "FreeBuffer", library.freeBuffer) &&
           Bind(h, "CheckFile", library.checkFile) &&
           Bind(h, "LastRestoreInfo", library.lastRestoreInfo) &&
           Bind(h, "RestoreFile", library.restoreFile) &&
           Bind(h, "RestoreHybridFile", library.restoreHybridFile) &&
           Bind(h, "SetParameters", library.setParameters) &&
           Bind(h, "GetParameters", library.getParameters);
}

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

// Opening a second channel would lose the first: close it first.
void CloseOpenChannel(Session& session)
{
    if (session.channel != nullptr) {
        session.library.closeChannel(session.channel);
        session.channel = nullptr;
    }
}

bool OpenUser(Session& session, const char* server, const char* user, const char* password)
{
    CloseOpenChannel(session);
    uint32_t flags = 0;
    const Proxy& proxy = session.proxy;
    session.channel = session.library.openChannel(
        Utf8ToUtf16(server).c_str(), Utf8ToUtf16(user).c_str(), Utf8ToUtf16(password).c_str(),
        &flags, proxy.use, proxy.host.c_str(), proxy.port, proxy.user.c_str(),
        proxy.password.c_str());
    bool opened = ReportChannel("OpenChannel", session.channel);
    PrintFlags(flags);
    return opened;
}

bool OpenMachine(Session& session, const char* server, const char* key)
{
    CloseOpenChannel(session);
    uint32_t flags = 0;
    const Proxy& proxy = session.proxy;
    session.channel = session.library.openChannelEx(
        Utf8ToUtf16(server).c_str(), key, &flags, proxy.use, proxy.host.c_str(), proxy.port,
        proxy.user.c_str(), proxy.password.c_str());
    bool opened = ReportChannel("OpenChannelEx", session.channel);
    PrintFlags(flags);
    return opened;
}

bool OpenNoUser(Session& session, const char* server)
{
    CloseOpenChannel(session);
    const Proxy& proxy = session.proxy;
    session.channel = session.library.openChannelNoUser(
        Utf8ToUtf16(server).c_str(), proxy.use, proxy.host.c_str(), proxy.port,
        proxy.user.c_str(), proxy.password.c_str());
    return ReportChannel("OpenChannelNoUser", session.channel);
}

bool AuthenticateMachineAgain(Session& session)
{
    uint32_t maintenance = 0;
    uint32_t lockedout = 0;
    bool result = session.library.authenticateMachine(session.channel, &maintenance, &lockedout);
    std::printf("AuthenticateMachine -> %d  maintenance %u  lockedout %u\n", result ? 1 : 0,
                maintenance, lockedout);
    return result;
}

bool Verify(Session& session)
{
    char dataServer[KELVANE_DATA_SERVER_SIZE] = {};
    uint32_t maintenance = 0;
    bool result = session.library.verifyServer(session.channel, dataServer, &maintenance);
    std::printf("VerifyServer -> %d  data server \"%s\"  maintenance %u\n", result ? 1 : 0,
                dataServer, maintenance);
    return result;
}

bool WebPortal(Session& session)
{
    uint32_t enabled = 0;
    int32_t result = session.library.webPortalIsEnabled(session.channel, &enabled);
    std::printf("WebPortalIsEnabled -> %d  enabled %u\n", result, enabled);
    return result != 0;
}

bool SelectMachine(Session& session, const char* name)
{
    int32_t result = session.library.setActiveMachine(session.channel, Utf8ToUtf16(name).c_str());
    std::printf("SetActiveMachine -> %d\n", result);
    return result != 0;
}

bool MachineInformation(Session& session, const char* code)
{
    uint64_t machineCode = std::strtoull(code, nullptr, 10);
    char text[kTextBufferSize] = {};
    int32_t result = session.library.getMachineInformation(
        session.channel, static_cast<uint32_t>(machineCode),
        static_cast<uint32_t>(machineCode >> 32), text);
    std::printf("GetMachineInformation -> %d  text \"%s\"\n", result, text);
    return result != 0;
}

// Prints what the channel reports to the host; never asks a transfer to stop.
int32_t PrintEvent(uintptr_t, uint32_t code, const char16_t* text, uint64_t value)
{
    if (text != nullptr)
        std::printf("  event %u: %s\n", code, Utf16ToUtf8(text).c_str());
    else
        std::printf("  event %u: %llu\n", code, static_cast<unsigned long long>(value));
    return 0;
}

bool InstallCallback(Session& session)
{
    int32_t result = session.library.setCallBack(session.channel, nullptr, PrintEvent);
    std::printf("SetCallBack -> %d\n", result);
    return result != 0;
}

bool RemoveCallback(Session& session)
{
    int32_t result = session.library.resetCallBack(session.channel);
    std::printf("ResetCallBack -> %d\n", result);
    return result != 0;
}

bool PacketSize(Session& session, const char* bytes)
{
    uint32_t size = static_cast<uint32_t>(std::strtoul(bytes, nullptr, 10));
    int32_t result = session.library.setGetPacketSize(session.channel, size);
    std::printf("SetGetPacketSize -> %d\n", result);
    return result != 0;
}

bool CheckProxy(Session& session, const char* server, const char* port)
{
    const Proxy& proxy = session.proxy;
    char16_t errText[kProxyErrorTextSize] = {};
    int32_t result = session.library.checkProxySettings(
        proxy.host.c_str(), proxy.port, proxy.user.c_str(), proxy.password.c_str(),
        Utf8ToUtf16(server).c_str(), std::atoi(port), errText, kProxyErrorTextSize);
    std::printf("CheckProxySettings -> %d  \"%s\"\n", result, Utf16ToUtf8(errText).c_str());
    return result != 0;
}

// Reports a list that the library handed over and gives its buffer back.
bool ReportList(Session& session, const char* call, void* buffer, uint32_t count,
                uint32_t size)
{
    std::printf("%s -> %s  count %u  size %u\n", call, buffer != nullptr ? "buffer" : "NULL",
                count, size);
    session.library.freeBuffer(buffer);
    return buffer != nullptr;
}

uint64_t ParseCode(const char* text)
{
    return std::strtoull(text, nullptr, 10);
}

uint32_t Low(uint64_t code)
{
    return static_cast<uint32_t>(code);
}

uint32_t High(uint64_t code)
{
    return static_cast<uint32_t>(code >> 32);
}

bool Machines(Session& session)
{
    uint32_t count = 0;
    uint32_t size = 0;
    void* buffer = session.library.loadMachineList(session.channel, &count, &size);
    return ReportList(session, "loadMachines", buffer, count, size);
}

bool MachinesEx(Session& session)
{
    uint32_t count = 0;
    uint32_t size = 0;
    void* buffer = session.library.loadMachineListEx(session.channel, &count, &size);
    return ReportList(session, "loadMachinesEx", buffer, count, size);
}

bool Volumes(Session& session)
{
    uint32_t count = 0;
    uint32_t size = 0;
    void* buffer = session.library.loadVolumeList(session.channel, &count, &size);
    return ReportList(session, "loadVolumes", buffer, count, size);
}

bool RootFolder(Session& session, const char* machine, const char* volume)
{
    uint32_t count = 0;
    uint32_t size = 0;
    uint64_t machineCode = ParseCode(machine);
    uint64_t volumeCode = ParseCode(volume);
    void* buffer = session.library.loadRoot(session.channel, &count, &size,
                                                  Low(machineCode), High(machineCode),
                                                  Low(volumeCode), High(volumeCode));
    return ReportList(session, "loadRootFolder", buffer, count, size);
}

bool Folder(Session& session, const char* machine, const char* volume, const char* folder)
{
    uint32_t count = 0;
    uint32_t size = 0;
    uint64_t machineCode = ParseCode(machine);
    uint64_t volumeCode = ParseCode(volume);
    uint64_t folderCode = ParseCode(folder);
    void* buffer = session.library.loadFolder(
        session.channel, &count, &size, Low(machineCode), High(machineCode), Low(volumeCode),
        High(volumeCode), Low(folderCode), High(folderCode));
    return ReportList(session, "loadFolderByFolderCode", buffer, count, size);
}

bool Versions(Session& session, const char* machine, const char* volume, const char* folder,
              const char* file)
{
    uint32_t count = 0;
    uint32_t size = 0;
    uint64_t machineCode = ParseCode(machine);
    uint64_t volumeCode = ParseCode(volume);
    uint64_t folderCode = ParseCode(folder);
    uint64_t fileCode = ParseCode(file);
    void* buffer = session.library.loadVersions(
        session.channel, &count, &size, Low(machineCode), High(machineCode), Low(volumeCode),
        High(volumeCode), Low(folderCode), High(folderCode), Low(fileCode), High(fileCode));
    return ReportList(session, "loadVersion", buffer, count, size);
}

bool SearchFiles(Session& session, const char* machine, const char* text)
{
    uint32_t size = 0;
    uint64_t machineId = ParseCode(machine);
    void* buffer = session.library.search(session.channel, Low(machineId), High(machineId),
                                          Utf8ToUtf16(text).c_str(), &size);
    uint32_t count = 0;
    if (buffer != nullptr && size >= 8)
        std::memcpy(&count, static_cast<const char*>(buffer) + 4, sizeof count);
    return ReportList(session, "Search", buffer, count, size);
}

bool CheckStoredFile(Session& session, const char* path)
{
    uint64_t values[3] = {};
    uint32_t word = 0;
    uint32_t status = 0;
    int32_t result = session.library.checkFile(session.channel, Utf8ToUtf16(path).c_str(), 0, 0,
                                               0, 0, &values[0], &values[1], &values[2], &word,
                                               &status);
    std::printf("CheckFile -> %d  result %u  status %u  values %llu %llu %llu\n", result, word,
                status, static_cast<unsigned long long>(values[0]),
                static_cast<unsigned long long>(values[1]),
                static_cast<unsigned long long>(values[2]));
    return result != 0;
}

bool LastRestore(Session& session)
{
    uint64_t values[3] = {};
    uint32_t status = 0;
    int32_t result = session.library.lastRestoreInfo(session.channel, &values[0], &values[1],
                                                     &values[2], &status);
    std::printf("LastRestoreInfo -> %d  status %u  values %llu %llu %llu\n", result, status,
                static_cast<unsigned long long>(values[0]),
                static_cast<unsigned long long>(values[1]),
                static_cast<unsigned long long>(values[2]));
    return result != 0;
}

// Shows the progress of a restore; never cancels it.
int32_t ShowRestoreProgress(uintptr_t, uint32_t code, const char16_t*, uint64_t value)
{
    if (code == kEventDataSize)
        std::printf("  size %llu\n", static_cast<unsigned long long>(value));
    else if (code == kEventDataDone)
        std::printf("  done %llu\n", static_cast<unsigned long long>(value));
    return 0;
}

// The ten words of five decimal codes, each low word first.
std::vector<uint32_t> CodeWords(char** codes)
{
    std::vector<uint32_t> words;
    for (int i = 0; i < 5; ++i) {
        uint64_t code = std::strtoull(codes[i], nullptr, 10);
        words.push_back(static_cast<uint32_t>(code));
        words.push_back(static_cast<uint32_t>(code >> 32));
    }
    return words;
}

bool Restore(Session& session, char** codes, const char* path, const char* text)
{
    std::vector<uint32_t> w = CodeWords(codes);
    int32_t result = session.library.restoreFile(
        session.channel, w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9],
        Utf8ToUtf16(path).c_str(), 0, 0, Utf8ToUtf16(text).c_str(), ShowRestoreProgress);
    std::printf("RestoreFile -> %d\n", result);
    return result != 0;
}

bool RestoreHybrid(Session& session, char** codes, const char* folder, const char* blockFile,
                   const char* destination)
{
    std::vector<uint32_t> w = CodeWords(codes);
    int32_t result = session.library.restoreHybridFile(
        session.channel, w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], w[8], w[9],
        Utf8ToUtf16(folder).c_str(), Utf8ToUtf16(blockFile).c_str(),
        Utf8ToUtf16(destination).c_str(), ShowRestoreProgress);
    std::printf("RestoreHybridFile -> %d\n", result);
    return result != 0;
}

bool Seal(Session& session, char** texts)
{
    std::vector<char16_t> out(kParameterTextSize);
    int32_t result = session.library.setParameters(
        session.channel, Utf8ToUtf16(texts[0]).c_str(), Utf8ToUtf16(texts[1]).c_str(),
        Utf8ToUtf16(texts[2]).c_str(), Utf8ToUtf16(texts[3]).c_str(), out.data(),
        kParameterTextSize);
    std::printf("SetParameters -> %d  \"%s\"\n", result, Utf16ToUtf8(out.data()).c_str());
    return result != 0;
}

bool Unseal(Session& session, char** pieces)
{
    std::vector<char16_t> out1(kParameterTextSize);
    std::vector<char16_t> out2(kParameterTextSize);
    int32_t result = session.library.getParameters(
        session.channel, Utf8ToUtf16(pieces[0]).c_str(), Utf8ToUtf16(pieces[1]).c_str(),
        Utf8ToUtf16(pieces[2]).c_str(), out1.data(), kParameterTextSize, out2.data(),
        kParameterTextSize);
    std::printf("GetParameters -> %d  \"%s\"  \"%s\"\n", result,
                Utf16ToUtf8(out1.data()).c_str(), Utf16ToUtf8(out2.data()).c_str());
    return result != 0;
}

bool Close(Session& session)
{
    session.library.closeChannel(session.channel);
    session.channel = nullptr;
    std::printf("CloseChannel\n");
    return true;
}

// Runs the step at argv[i] and moves i past it; false for an unknown step or missing values.
// A call that fails is reported and does not stop the steps that follow.
bool RunStep(Session& session, int argc, char** argv, int& i)
{
    std::string step = argv[i++];
    auto values = [&](int count) { return i + count <= argc; };
    bool succeeded = true;
    if (step == "open-user" && values(3)) {
        succeeded = OpenUser(session, argv[i], argv[i + 1], argv[i + 2]);
        i += 3;
    } else if (step == "open-machine" && values(2)) {
        succeeded = OpenMachine(session, argv[i], argv[i + 1]);
        i += 2;
    } else if (step == "open-nouser" && values(1)) {
        succeeded = OpenNoUser(session, argv[i++]);
    } else if (step == "authenticate-machine") {
        succeeded = AuthenticateMachineAgain(session);
    } else if (step == "verify-server") {
        succeeded = Verify(session);
    } else if (step == "web-portal") {
        succeeded = WebPortal(session);
    } else if (step == "set-active-machine" && values(1)) {
        succeeded = SelectMachine(session, argv[i++]);
    } else if (step == "machine-info" && values(1)) {
        succeeded = MachineInformation(session, argv[i++]);
    } else if (step == "callback") {
        succeeded = InstallCallback(session);
    } else if (step == "reset-callback") {
        succeeded = RemoveCallback(session);
    } else if (step == "packet-size" && values(1)) {
        succeeded = PacketSize(session, argv[i++]);
    } else if (step == "check-proxy" && values(2)) {
        succeeded = CheckProxy(session, argv[i], argv[i + 1]);
        i += 2;
    } else if (step == "machines") {
        succeeded = Machines(session);
    } else if (step == "machines-ex") {
        succeeded = MachinesEx(session);
    } else if (step == "volumes") {
        succeeded = Volumes(session);
    } else if (step == "root-folder" && values(2)) {
        succeeded = RootFolder(session, argv[i], argv[i + 1]);
        i += 2;
    } else if (step == "folder" && values(3)) {
        succeeded = Folder(session, argv[i], argv[i + 1], argv[i + 2]);
        i += 3;
    } else if (step == "versions" && values(4)) {
        succeeded = Versions(session, argv[i], argv[i + 1], argv[i + 2], argv[i + 3]);
        i += 4;
    } else if (step == "search" && values(2)) {
        succeeded = SearchFiles(session, argv[i], argv[i + 1]);
        i += 2;
    } else if (step == "check-file" && values(1)) {
        succeeded = CheckStoredFile(session, argv[i++]);
    } else if (step == "last-restore") {
        succeeded = LastRestore(session);
    } else if (step == "restore-file" && values(7)) {
        succeeded = Restore(session, argv + i, argv[i + 5], argv[i + 6]);
        i += 7;
    } else if (step == "restore-hybrid" && values(8)) {
        succeeded = RestoreHybrid(session, argv + i, argv[i + 5], argv[i + 6], argv[i + 7]);
        i += 8;
    } else if (step == "set-parameters" && values(4)) {
        succeeded = Seal(session, argv + i);
        i += 4;
    } else if (step == "get-parameters" && values(3)) {
        succeeded = Unseal(session, argv + i);
        i += 3;
    } else if (step == "close") {
        succeeded = Close(session);
    } else if (!session.account.Run(step, session.channel, argc, argv, &i, &succeeded)) {
        return false;
    }
    session.failed = session.failed || !succeeded;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Session session;
    std::string libraryPath = DefaultLibraryPath();
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        std::string option = argv[i];
        if (option == "--library" && i + 1 < argc) {
            libraryPath = argv[++i];
        } else if (option == "--proxy" && i + 2 < argc) {
            session.proxy.use = 1;
            session.proxy.host = Utf8ToUtf16(argv[++i]);
            session.proxy.port = std::atoi(argv[++i]);
        } else if (option == "--proxy-user" && i + 2 < argc) {
            session.proxy.user = Utf8ToUtf16(argv[++i]);
            session.proxy.password = Utf8ToUtf16(argv[++i]);
        } else {
            std::fputs(kUsage, stderr);
            std::fputs(AccountSteps::Usage(), stderr);
            return 2;
        }
    }
    if (i == argc) {
        std::fputs(kUsage, stderr);
        std::fputs(AccountSteps::Usage(), stderr);
        return 2;
    }
    if (!LoadLibrary(libraryPath, session.library) ||
        !session.account.Bind(session.library.handle))
        return 1;
    while (i < argc) {
        if (!RunStep(session, argc, argv, i)) {
            std::fprintf(stderr, "kelvane-host: unknown step or missing values: %s\n",
                         argv[i - 1]);
            std::fputs(kUsage, stderr);
            std::fputs(AccountSteps::Usage(), stderr);
            CloseOpenChannel(session);
            return 2;
        }
    }
    CloseOpenChannel(session);
    return session.failed ? 1 : 0;
}
