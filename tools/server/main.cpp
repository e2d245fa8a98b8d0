// kelvane-server: the stand-in server as a program. Its usage text says what it does.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "connection/CCreatePacket.h"
#include "platform/text.h"
#include "tools/server/DemoData.h"
#include "tools/server/DownloadHandlers.h"
#include "tools/server/FolderData.h"
#include "tools/server/LoginService.h"
#include "tools/server/StandinServer.h"

namespace {

constexpr const char* kUsage =
    "usage: %s [--address A.B.C.D] [--port N] [--demo] [--files FOLDER [--cached-only]]\n"
    "          [--user NAME PASSWORD]... [--machine-key KEY]... [--data-server NAME]\n"
    "          [--hello-answer SCRIPT] [--print-requests]\n"
    "Listens on 127.0.0.1, port 443, unless told otherwise.\n"
    "  --demo            a sample member (user demo, password demo) with two machines,\n"
    "                    folders and file versions, who can log in, as can the machines\n"
    "                    (keys demo-key-501, demo-key-502)\n"
    "  --files FOLDER    the sample member, whose machines are FOLDER's files instead:\n"
    "                    FOLDER/MACHINE/VOLUME/... (each subfolder of FOLDER is a machine,\n"
    "                    each subfolder of a machine a volume, the rest its folders and\n"
    "                    files); machine ids start at 501; every file can be restored,\n"
    "                    up to 1 MiB as one compressed reply, larger ones by a cached\n"
    "                    transfer read straight from the file\n"
    "  --cached-only     serve every file of --files by a cached transfer\n"
    "  --user, --machine-key   further logins\n"
    "  --data-server     the data server that the settings name (by default this address)\n"
    "  --hello-answer SCRIPT   answer the hello of a tunnel with these bytes: comma-\n"
    "                    separated hexadecimal segments, \"+N\" a pause of N ms before\n"
    "                    the next (\"1603,+200,0000040E000000\"); empty: no answer\n"
    "  --print-requests  print every request as it arrives\n";

// The machine id of the first machine that --files adds.
constexpr ULONGLONG kFirstFolderMachine = 501;

// Lets the demo member and the demo machines log in.
void AddDemoLogins(StandinServer& server, LoginService& logins)
{
    server.Model().Service().With([&](ServiceState& state) {
        logins.AddUser(Utf16ToUtf8(state.member.userName), Utf16ToUtf8(state.member.password));
        for (const StoredMachine& machine : state.machines)
            logins.AddMachineKey(machine.key);
    });
}

const char* CommandName(DWORD code)
{
    static const std::map<DWORD, const char*> names = {
        {CCreatePacket::kDisconnect, "farewell"},
        {CCreatePacket::kEchoTest, "echo"},
        {CCreatePacket::kGetCommandIndex, "command index"},
        {CCreatePacket::kGetSettings, "settings"},
        {CCreatePacket::kAuthenticateUser, "user login"},
        {CCreatePacket::kGetMachineAuth, "machine authentication text"},
        {CCreatePacket::kMachineAuthentication, "machine login"},
        {CCreatePacket::kSetActiveMachine, "set active machine"},
        {CCreatePacket::kIsWebPortalEnabledEx, "web portal"},
        {CCreatePacket::kCloseOpenHandle, "close open handle"},
        {CCreatePacket::kGetFile, "file"},
        {CCreatePacket::kGetCachePacket, "cache packet"},
        {CCreatePacket::kRemoveCacheFile, "remove cache file"},
    };
    auto name = names.find(code);
    return name != names.end() ? name->second : "command";
}

// Prints the requests as they arrive, until the program is stopped.
[[noreturn]] void PrintRequests(const StandinServer& server)
{
    size_t printed = 0;
    for (;;) {
        std::vector<RecordedRequest> requests = server.Log().Requests();
        for (; printed < requests.size(); ++printed) {
            const RecordedRequest& request = requests[printed];
            std::printf("kelvane-server %s: connection %zu: %s (%u)%s\n",
                        server.Address().c_str(), request.connection, CommandName(request.code),
                        static_cast<unsigned>(request.code),
                        request.tunnelled ? " through a proxy" : "");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The sample member with the folder's machines in place of the sample ones; false with a
// message when the folder cannot be read.
bool OfferFolder(StandinServer& server, DownloadHandlers& files, const std::string& folder,
                 bool cachedOnly)
{
    std::string error;
    bool read = server.Model().Service().With([&](ServiceState& state) {
        FillDemoData(state);
        state.machines.clear();
        state.activeMachine = 0;
        return FolderData(state, files, kFirstFolderMachine).AddMachines(folder, &error);
    });
    if (!read) {
        std::fprintf(stderr, "kelvane-server: cannot offer %s: %s\n", folder.c_str(),
                     error.c_str());
        return false;
    }
    DownloadHandlers::Behaviour behaviour;
    behaviour.form = cachedOnly ? DownloadHandlers::Form::Cached : DownloadHandlers::Form::BySize;
    files.SetBehaviour(behaviour);
    files.Register(server.Commands());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string address = "127.0.0.1";
    DWORD port = StandinServer::kDefaultPort;
    bool demo = false;
    bool printRequests = false;
    std::string folder;
    bool cachedOnly = false;
    LoginService logins;
    std::string dataServer;
    HelloAnswer helloAnswer;
    for (int i = 1; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--address") == 0 && hasValue) {
            address = argv[++i];
        } else if (std::strcmp(argv[i], "--port") == 0 && hasValue) {
            port = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        } else if (std::strcmp(argv[i], "--demo") == 0) {
            demo = true;
        } else if (std::strcmp(argv[i], "--files") == 0 && hasValue) {
            folder = argv[++i];
        } else if (std::strcmp(argv[i], "--cached-only") == 0) {
            cachedOnly = true;
        } else if (std::strcmp(argv[i], "--user") == 0 && i + 2 < argc) {
            logins.AddUser(argv[i + 1], argv[i + 2]);
            i += 2;
        } else if (std::strcmp(argv[i], "--machine-key") == 0 && hasValue) {
            logins.AddMachineKey(argv[++i]);
        } else if (std::strcmp(argv[i], "--data-server") == 0 && hasValue) {
            dataServer = argv[++i];
        } else if (std::strcmp(argv[i], "--hello-answer") == 0 && hasValue &&
                   HelloAnswer::Parse(argv[i + 1], &helloAnswer)) {
            ++i;
        } else if (std::strcmp(argv[i], "--print-requests") == 0) {
            printRequests = true;
        } else {
            std::fprintf(stderr, kUsage, argv[0]);
            return 2;
        }
    }
    // Outlives the server's connections.
    DownloadHandlers files;
    StandinServer server(address, port);
    server.SetHelloAnswer(helloAnswer);
    logins.Register(server.Commands());
    SettingsReplyFields settings;
    settings.dataServer = dataServer.empty() ? address : dataServer;
    logins.SetSettingsReply(settings);
    if (!folder.empty()) {
        if (!OfferFolder(server, files, folder, cachedOnly))
            return 1;
    } else if (demo) {
        server.Model().Service().With(FillDemoData);
    }
    if (demo || !folder.empty())
        AddDemoLogins(server, logins);
    if (!server.Start()) {
        std::fprintf(stderr, "kelvane-server: cannot listen on %s:%u (wsaerror %d)\n",
                     address.c_str(), static_cast<unsigned>(port), WSAGetLastError());
        return 1;
    }
    std::printf("kelvane-server: listening on %s:%u\n", address.c_str(),
                static_cast<unsigned>(server.Port()));
    std::fflush(stdout);
    if (printRequests)
        PrintRequests(server);
    server.Wait();
    return 0;
}
