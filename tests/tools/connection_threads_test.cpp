// The stand-in server runs for as long as kelvane-server is left running: the threads of
// connections that clients have closed must not pile up until the server stops.
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "support/LoopbackServer.h"

namespace {

// Each thread that has ended but is still held keeps its stack mapped.
size_t MappedRegions()
{
    std::ifstream maps("/proc/self/maps");
    size_t regions = 0;
    for (std::string line; std::getline(maps, line);)
        ++regions;
    return regions;
}

// Greets the server as a tunnelled client does, waits for its answer, and hangs up.
void GreetAndHangUp(const StandinServer& server)
{
    char hello[79] = {'\x80', '\x4C', '\x01', '\x03'};
    char answer[9] = {};
    SOCKADDR_IN address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(server.Port()));
    address.sin_addr.S_un.S_addr = inet_addr(server.Address().c_str());
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(client, INVALID_SOCKET);
    EXPECT_EQ(connect(client, reinterpret_cast<const SOCKADDR*>(&address), sizeof address), 0);
    EXPECT_EQ(send(client, hello, sizeof hello, 0), static_cast<int>(sizeof hello));
    int received = 0;
    for (int piece = 1; received < static_cast<int>(sizeof answer) && piece > 0; received += piece)
        piece = recv(client, answer + received, static_cast<int>(sizeof answer) - received, 0);
    EXPECT_EQ(received, static_cast<int>(sizeof answer));
    closesocket(client);
}

}  // namespace

TEST(StandinServerThreads, ClosedConnectionsDoNotHoldTheirThreads)
{
    std::unique_ptr<StandinServer> server = StartLoopbackServer();
    ASSERT_TRUE(server) << "no loopback address could be bound on port 443";
    constexpr size_t kWarmUp = 20;
    constexpr size_t kClients = 300;
    for (size_t i = 0; i < kWarmUp; ++i)
        GreetAndHangUp(*server);
    const size_t before = MappedRegions();
    for (size_t i = 0; i < kClients; ++i)
        GreetAndHangUp(*server);
    // A few connections may still be ending; hundreds of held stacks would show.
    EXPECT_LT(MappedRegions(), before + kClients / 4);
    server->Stop();
    EXPECT_EQ(server->Log().ConnectionCount(), kWarmUp + kClients);
}
