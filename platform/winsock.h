// Winsock 1.1-shaped sockets over BSD sockets: the calls, structures, constants and error
// codes (WSAGetLastError, shared with GetLastError as on Windows) that connection code is
// written against. IPv4 stream sockets only.
//
// The C library already declares fd_set, struct timeval and the FD_* macros (through
// <sys/select.h>), so the Winsock structures here carry the names Winsock gives their
// typedefs (FD_SET, TIMEVAL, SOCKADDR_IN, HOSTENT, LINGER, ...), and the FD_* macros are the
// Winsock ones, working on FD_SET. Code using this header must not include the POSIX socket
// headers.
#pragma once

#include <sys/select.h>
#include <sys/types.h>

#include "platform/types.h"
#include "platform/wsaerror.h"

// u_char, u_short and u_int come from <sys/types.h> with Winsock's widths; its u_long is 64
// bits wide, so 32-bit address values are ULONG here.

typedef uintptr_t SOCKET;
#define INVALID_SOCKET (static_cast<SOCKET>(~static_cast<uintptr_t>(0)))
#define SOCKET_ERROR (-1)

#define MAKEWORD(low, high) \
    (static_cast<WORD>((static_cast<BYTE>(low)) | (static_cast<WORD>(static_cast<BYTE>(high)) << 8)))

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    u_short iMaxSockets;
    u_short iMaxUdpDg;
    char* lpVendorInfo;
};

#define AF_INET 2
#define SOCK_STREAM 1

#define INADDR_NONE (static_cast<ULONG>(0xFFFFFFFF))

// An IPv4 address in network order; S_un_b gives its four bytes in dotted order.
struct IN_ADDR {
    union {
        struct {
            u_char s_b1, s_b2, s_b3, s_b4;
        } S_un_b;
        ULONG S_addr;
    } S_un;
};

struct SOCKADDR {
    u_short sa_family;
    char sa_data[14];
};

struct SOCKADDR_IN {
    short sin_family;
    u_short sin_port;
    IN_ADDR sin_addr;
    char sin_zero[8];
};

// The answer of gethostbyname; each thread has its own copy, valid until its next call.
struct HOSTENT {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};

struct TIMEVAL {
    LONG tv_sec;
    LONG tv_usec;
};

struct LINGER {
    u_short l_onoff;
    u_short l_linger;
};

// One buffer of a gathered send (WSASend).
struct WSABUF {
    ULONG len;
    CHAR* buf;
};

#define SOL_SOCKET 0xFFFF
#define SO_REUSEADDR 0x0004
#define SO_LINGER 0x0080
#define SO_SNDTIMEO 0x1005
#define SO_RCVTIMEO 0x1006

#define SD_RECEIVE 0x00
#define SD_SEND 0x01
#define SD_BOTH 0x02

#undef FD_SETSIZE
#undef FD_SET
#undef FD_CLR
#undef FD_ISSET
#undef FD_ZERO

#define FD_SETSIZE 64

struct FD_SET {
    u_int fd_count;
    SOCKET fd_array[FD_SETSIZE];
};

int __WSAFDIsSet(SOCKET socket, FD_SET* set);
// Adds the socket once; a full set stays as it is.
void WSAFDSetAdd(SOCKET socket, FD_SET* set);

#define FD_ZERO(set) (((FD_SET*)(set))->fd_count = 0)
#define FD_SET(socket, set) WSAFDSetAdd(static_cast<SOCKET>(socket), (FD_SET*)(set))
#define FD_ISSET(socket, set) __WSAFDIsSet(static_cast<SOCKET>(socket), (FD_SET*)(set))

// Accepts versions 1.0 to 2.2; never fails otherwise.
int WSAStartup(WORD versionRequested, WSADATA* data);
int WSAGetLastError();
void WSASetLastError(int error);

SOCKET socket(int af, int type, int protocol);
int connect(SOCKET socket, const SOCKADDR* name, int nameLength);
int bind(SOCKET socket, const SOCKADDR* name, int nameLength);
int listen(SOCKET socket, int backlog);
SOCKET accept(SOCKET socket, SOCKADDR* address, int* addressLength);
int getsockname(SOCKET socket, SOCKADDR* name, int* nameLength);
// Never raises SIGPIPE: a send on a connection the peer has closed fails with WSAECONNRESET.
int send(SOCKET socket, const char* buffer, int length, int flags);
int recv(SOCKET socket, char* buffer, int length, int flags);
// Sends the buffers in order with one call (no copy into one frame), as far as the socket
// takes them; *bytesSent receives the count. Blocking only: overlapped and completion
// routine must be null, and flags 0. Gives 0, or SOCKET_ERROR.
int WSASend(SOCKET socket, WSABUF* buffers, DWORD bufferCount, DWORD* bytesSent, DWORD flags,
            void* overlapped, void* completionRoutine);
// nfds is ignored, as on Windows. Sets hold the ready sockets afterwards; the result counts
// them. A null timeout waits without limit.
int select(int nfds, FD_SET* readSet, FD_SET* writeSet, FD_SET* exceptSet, const TIMEVAL* timeout);
int shutdown(SOCKET socket, int how);
// Options: SOL_SOCKET with SO_LINGER (a LINGER), SO_REUSEADDR (a BOOL), SO_RCVTIMEO or
// SO_SNDTIMEO (a DWORD of milliseconds, 0 = no limit; a receive or send that runs out of time
// fails with WSAETIMEDOUT).
int setsockopt(SOCKET socket, int level, int optionName, const char* optionValue,
               int optionLength);
int closesocket(SOCKET socket);

HOSTENT* gethostbyname(const char* name);
int gethostname(char* name, int nameLength);
ULONG inet_addr(const char* text);
u_short htons(u_short value);
u_short ntohs(u_short value);
