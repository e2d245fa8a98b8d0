// kelvane-server: the stand-in server as a program.
//   kelvane-server [--address A.B.C.D] [--port N] [--demo]   (default 127.0.0.1, port 443)
// --demo fills the store with a sample member, machines and files.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/server/DemoData.h"
#include "tools/server/StandinServer.h"

int main(int argc, char** argv)
{
    std::string address = "127.0.0.1";
    DWORD port = StandinServer::kDefaultPort;
    bool demo = false;
    for (int i = 1; i < argc; ++i) {
        bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--address") == 0 && hasValue) {
            address = argv[++i];
        } else if (std::strcmp(argv[i], "--port") == 0 && hasValue) {
            port = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        } else if (std::strcmp(argv[i], "--demo") == 0) {
            demo = true;
        } else {
            std::fprintf(stderr, "usage: %s [--address A.B.C.D] [--port N] [--demo]\n", argv[0]);
            return 2;
        }
    }
    StandinServer server(address, port);
    if (demo)
        server.Model().Service().With(FillDemoData);
    if (!server.Start()) {
        std::fprintf(stderr, "kelvane-server: cannot listen on %s:%u (wsaerror %d)\n",
                     address.c_str(), static_cast<unsigned>(port), WSAGetLastError());
        return 1;
    }
    std::printf("kelvane-server: listening on %s:%u\n", address.c_str(),
                static_cast<unsigned>(server.Port()));
    std::fflush(stdout);
    server.Wait();
    return 0;
}
