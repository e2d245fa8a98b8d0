#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "connection/UnresolvableName.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/winsock.h"

namespace {

// A connected pair of sockets on 127.0.0.1.
struct SocketPair {
    SocketPair()
    {
        SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
        SOCKADDR_IN address{};
        address.sin_family = AF_INET;
        address.sin_addr.S_un.S_addr = inet_addr("127.0.0.1");
        int length = sizeof address;
        EXPECT_EQ(bind(listener, reinterpret_cast<SOCKADDR*>(&address), sizeof address), 0);
        EXPECT_EQ(listen(listener, 1), 0);
        EXPECT_EQ(getsockname(listener, reinterpret_cast<SOCKADDR*>(&address), &length), 0);
        client = socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(connect(client, reinterpret_cast<SOCKADDR*>(&address), sizeof address), 0);
        server = accept(listener, nullptr, nullptr);
        EXPECT_NE(server, INVALID_SOCKET);
        closesocket(listener);
    }
    ~SocketPair()
    {
        closesocket(client);
        if (server != INVALID_SOCKET)
            closesocket(server);
    }

    SOCKET client;
    SOCKET server;
};

int SelectReadable(SOCKET socket, FD_SET* set, LONG milliseconds)
{
    FD_ZERO(set);
    FD_SET(socket, set);
    TIMEVAL timeout{0, milliseconds * 1000};
    return select(0, set, NULL, NULL, &timeout);
}

}

TEST(Winsock, StartupAcceptsVersionOneOne)
{
    WSADATA data;
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(1, 1));
    EXPECT_EQ(WSAStartup(MAKEWORD(0, 1), &data), WSAVERNOTSUPPORTED);
}

TEST(Winsock, FailuresCarryWinsockCodesSharedWithTheLastError)
{
    SOCKET lone = socket(AF_INET, SOCK_STREAM, 0);
    SOCKADDR_IN nowhere{};
    nowhere.sin_family = AF_INET;
    nowhere.sin_port = htons(1);
    nowhere.sin_addr.S_un.S_addr = inet_addr("127.0.0.1");
    EXPECT_EQ(connect(lone, reinterpret_cast<SOCKADDR*>(&nowhere), sizeof nowhere), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(WSAECONNREFUSED));
    closesocket(lone);

    char byte;
    EXPECT_EQ(recv(INVALID_SOCKET, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    FD_SET empty;
    FD_ZERO(&empty);
    TIMEVAL now{0, 0};
    EXPECT_EQ(select(0, &empty, NULL, NULL, &now), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(gethostbyname(kUnresolvableName), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
}

TEST(Winsock, SelectKeepsOnlyTheReadySockets)
{
    SocketPair pair;
    FD_SET set;
    EXPECT_EQ(SelectReadable(pair.client, &set, 0), 0);
    EXPECT_EQ(set.fd_count, 0u);
    EXPECT_EQ(SelectReadable(pair.client, &set, 20), 0);
    EXPECT_EQ(send(pair.server, "x", 1, 0), 1);
    EXPECT_EQ(SelectReadable(pair.client, &set, 5000), 1);
    EXPECT_TRUE(FD_ISSET(pair.client, &set));

    FD_ZERO(&set);
    FD_SET(pair.client, &set);
    FD_SET(pair.client, &set);
    EXPECT_EQ(set.fd_count, 1u);
    for (SOCKET other = 1000; other < 1000 + FD_SETSIZE; ++other)
        FD_SET(other, &set);
    EXPECT_EQ(set.fd_count, static_cast<u_int>(FD_SETSIZE));
}

TEST(Winsock, SendingToAPeerThatHasGoneFailsWithoutASignal)
{
    SocketPair pair;
    closesocket(pair.server);
    pair.server = INVALID_SOCKET;
    char byte;
    EXPECT_EQ(recv(pair.client, &byte, 1, 0), 0);
    int result = 0;
    for (int attempt = 0; attempt < 1000 && result != SOCKET_ERROR; ++attempt) {
        result = send(pair.client, "data", 4, 0);
        Sleep(1);
    }
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST(Winsock, LingerAndShutdownAreAccepted)
{
    SocketPair pair;
    LINGER linger{1, 0};
    EXPECT_EQ(setsockopt(pair.client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&linger),
                         sizeof linger),
              0);
    EXPECT_EQ(setsockopt(pair.client, SOL_SOCKET, 0x1234, reinterpret_cast<const char*>(&linger),
                         sizeof linger),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
    EXPECT_EQ(shutdown(pair.client, SD_SEND), 0);
    char byte;
    EXPECT_EQ(recv(pair.server, &byte, 1, 0), 0);
}

TEST(Winsock, NamesAndAddresses)
{
    HOSTENT* local = gethostbyname("localhost");
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(local->h_addrtype, AF_INET);
    EXPECT_EQ(local->h_length, 4);
    ASSERT_NE(local->h_addr_list[0], nullptr);
    EXPECT_EQ(std::memcmp(local->h_addr_list[0], "\x7f\x00\x00\x01", 4), 0);
    // Each thread has an answer of its own.
    std::thread([] {
        HOSTENT* other = gethostbyname("127.0.0.9");
        ASSERT_NE(other, nullptr);
        EXPECT_EQ(std::memcmp(other->h_addr_list[0], "\x7f\x00\x00\x09", 4), 0);
    }).join();
    EXPECT_EQ(std::memcmp(local->h_addr_list[0], "\x7f\x00\x00\x01", 4), 0);

    IN_ADDR address;
    address.S_un.S_addr = inet_addr("10.20.30.40");
    EXPECT_EQ(address.S_un.S_un_b.s_b1, 10);
    EXPECT_EQ(address.S_un.S_un_b.s_b4, 40);
    EXPECT_EQ(inet_addr("localhost"), INADDR_NONE);
    u_short port = htons(0x1BB);
    EXPECT_EQ(std::memcmp(&port, "\x01\xBB", 2), 0);
    EXPECT_EQ(ntohs(port), 0x1BB);

    char name[256];
    EXPECT_EQ(gethostname(name, static_cast<int>(sizeof name)), 0);
    EXPECT_GT(std::strlen(name), 0u);
    EXPECT_EQ(gethostname(name, 1), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}
