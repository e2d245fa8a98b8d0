// The POSIX side of the Winsock-shaped socket layer (platform/winsock.h): IPv4 stream sockets
// as file descriptors, with addresses and ports in network order. Every failure leaves the
// Winsock error code that stands for errno in the thread's last error. Only winsock.cpp
// calls these; the two sides live in separate files because the C library and Winsock give
// the same names (socket, select, inet_addr, ...) to different declarations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bsd {

int Socket();
bool Connect(int fd, uint32_t address, uint16_t port);
bool Bind(int fd, uint32_t address, uint16_t port);
bool Listen(int fd, int backlog);
int Accept(int fd, uint32_t* address, uint16_t* port);
bool LocalAddress(int fd, uint32_t* address, uint16_t* port);
// Both give the byte count, or -1 on failure; interrupted calls are resumed.
long Send(int fd, const void* buffer, size_t length);
long Receive(int fd, void* buffer, size_t length);
// One buffer of a gathered send.
struct SendPiece {
    const void* bytes;
    size_t length;
};
// Sends the pieces in order with one call, as far as the socket takes them; the byte count
// or -1, like Send.
long SendPieces(int fd, const SendPiece* pieces, size_t count);
// how: 0 receiving, 1 sending, 2 both.
bool Shutdown(int fd, int how);
bool SetLinger(int fd, bool on, int seconds);
bool SetReuseAddress(int fd, bool on);
// Bounds each receive (or, with sending, each send); 0 = no limit. A call that runs out of
// time fails with WSAETIMEDOUT.
bool SetTimeout(int fd, bool sending, uint32_t milliseconds);
bool Close(int fd);

struct PollEntry {
    int fd;
    bool wantRead;
    bool wantWrite;
    bool wantExcept;
    bool readable;
    bool writable;
    bool excepted;
};
// Waits until an entry is ready or timeoutMs passes (-1: no limit). Gives the number of
// ready entries, or -1 on failure (WSAENOTSOCK for an entry that is no socket).
int Poll(PollEntry* entries, size_t count, int timeoutMs);

// Reads a dotted address (also the shorter and hexadecimal forms inet_aton knows).
bool ParseIPv4(const char* text, uint32_t* address);
// The IPv4 addresses of a name, first as the resolver orders them; failures leave
// WSAHOST_NOT_FOUND, WSATRY_AGAIN, WSANO_RECOVERY or WSANO_DATA.
bool ResolveIPv4(const char* name, std::string* canonicalName, std::vector<uint32_t>* addresses);
bool HostName(char* name, size_t capacity);

}
