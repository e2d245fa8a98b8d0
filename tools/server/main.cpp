// kelvane-server: the stand-in server as a program.
//   kelvane-server [--address A.B.C.D] [--port N] [--demo] [--user NAME PASSWORD]...
//                  [--machine-key KEY]... [--data-server NAME] [--print-requests]
//   (default 127.0.0.1, port 443)
// --demo fills the store with a sample member, machines and files, and lets the member and
// the machines log in. --user and --machine-key add logins. --data-server names the data
// server in the settings it hands out (by default its own address). --print-requests prints
// every request as it arrives.
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
#include "tools/server/LoginService.h"
#include "tools/server/StandinServer.h"

namespace {

constexpr const char* kUsage =
    "usage: %s [--address A.B.C.D] [--port N] [--demo] [--user NAME PASSWORD]...\n"
    "          [--machine-key KEY]... [--data-server NAME] [--print-requests]\n";

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

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string address = "127.0.0.1";
    DWORD port = StandinServer::kDefaultPort;
    bool demo = false;
    bool printRequests = false;
    LoginService logins;
    std::string dataServer;
    for (int i = 1; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--address") == 0 && hasValue) {
            address = argv[++i];
        } else if (std::strcmp(argv[i], "--port") == 0 && hasValue) {
            port = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        } else if (std::strcmp(argv[i], "--demo") == 0) {
            demo = true;
        } else if (std::strcmp(argv[i], "--user") == 0 && i + 2 < argc) {
            logins.AddUser(argv[i + 1], argv[i + 2]);
            i += 2;
        } else if (std::strcmp(argv[i], "--machine-key") == 0 && hasValue) {
            logins.AddMachineKey(argv[++i]);
        } else if (std::strcmp(argv[i], "--data-server") == 0 && hasValue) {
            dataServer = argv[++i];
        } else if (std::strcmp(argv[i], "--print-requests") == 0) {
            printRequests = true;
        } else {
            std::fprintf(stderr, kUsage, argv[0]);
            return 2;
        }
    }
    StandinServer server(address, port);
    logins.Register(server.Commands());
    SettingsReplyFields settings;
    settings.dataServer = dataServer.empty() ? address : dataServer;
    logins.SetSettingsReply(settings);
    if (demo) {
        server.Model().Service().With(FillDemoData);
        AddDemoLogins(server, logins);
    }
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
