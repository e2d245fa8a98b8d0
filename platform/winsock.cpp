#include "platform/winsock.h"

#include <bit>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/bsdsocket.h"
#include "platform/error.h"
#include "platform/sync.h"

namespace {

// A SOCKET is the descriptor itself; anything beyond the descriptor range is no socket.
bool ToDescriptor(SOCKET socket, int* fd)
{
    if (socket > static_cast<SOCKET>(INT_MAX)) {
        WSASetLastError(WSAENOTSOCK);
        return false;
    }
    *fd = static_cast<int>(socket);
    return true;
}

// The descriptor of a send or receive of length bytes; no flags are supported.
bool ToTransfer(SOCKET socket, int length, int flags, int* fd)
{
    if (!ToDescriptor(socket, fd))
        return false;
    if (length < 0 || flags != 0) {
        WSASetLastError(length < 0 ? WSAEFAULT : WSAEOPNOTSUPP);
        return false;
    }
    return true;
}

bool ReadIPv4Name(const SOCKADDR* name, int nameLength, uint32_t* address, uint16_t* port)
{
    if (name == nullptr || nameLength < static_cast<int>(sizeof(SOCKADDR_IN))) {
        WSASetLastError(WSAEFAULT);
        return false;
    }
    SOCKADDR_IN ipv4;
    std::memcpy(&ipv4, name, sizeof ipv4);
    if (ipv4.sin_family != AF_INET) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return false;
    }
    *address = ipv4.sin_addr.S_un.S_addr;
    *port = ipv4.sin_port;
    return true;
}

// Fills an optional address out-parameter as accept and getsockname do.
bool WriteIPv4Name(uint32_t address, uint16_t port, SOCKADDR* name, int* nameLength)
{
    if (name == nullptr)
        return true;
    if (nameLength == nullptr || *nameLength < static_cast<int>(sizeof(SOCKADDR_IN))) {
        WSASetLastError(WSAEFAULT);
        return false;
    }
    SOCKADDR_IN ipv4{};
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = port;
    ipv4.sin_addr.S_un.S_addr = address;
    std::memcpy(name, &ipv4, sizeof ipv4);
    *nameLength = sizeof ipv4;
    return true;
}

int PollTimeout(const TIMEVAL* timeout)
{
    if (timeout == nullptr)
        return -1;
    if (timeout->tv_sec < 0 || timeout->tv_usec < 0)
        return 0;
    int64_t milliseconds = int64_t{timeout->tv_sec} * 1000 + (int64_t{timeout->tv_usec} + 999) / 1000;
    return milliseconds > INT_MAX ? INT_MAX : static_cast<int>(milliseconds);
}

bool AddPollEntries(FD_SET* set, int kind, std::vector<bsd::PollEntry>* entries)
{
    if (set == nullptr)
        return true;
    if (set->fd_count > FD_SETSIZE) {
        WSASetLastError(WSAEINVAL);
        return false;
    }
    for (u_int i = 0; i < set->fd_count; ++i) {
        int fd;
        if (!ToDescriptor(set->fd_array[i], &fd))
            return false;
        entries->push_back(bsd::PollEntry{fd, kind == 0, kind == 1, kind == 2, false, false, false});
    }
    return true;
}

// Keeps the ready members of a set, consuming its entries from the front of the poll list.
void KeepReady(FD_SET* set, const bsd::PollEntry*& entry)
{
    if (set == nullptr)
        return;
    u_int kept = 0;
    for (u_int i = 0; i < set->fd_count; ++i, ++entry) {
        if (entry->readable || entry->writable || entry->excepted)
            set->fd_array[kept++] = set->fd_array[i];
    }
    set->fd_count = kept;
}

struct ThreadHostEntry {
    std::string name;
    std::vector<uint32_t> addresses;
    std::vector<char*> addressPointers;
    char* noAliases[1] = {nullptr};
    HOSTENT entry{};
};

// Network order is big-endian; the same swap converts to it and back.
u_short ReorderShort(u_short value)
{
    if constexpr (std::endian::native == std::endian::big)
        return value;
    else
        return __builtin_bswap16(value);
}

}

int __WSAFDIsSet(SOCKET socket, FD_SET* set)
{
    for (u_int i = 0; i < set->fd_count && i < FD_SETSIZE; ++i) {
        if (set->fd_array[i] == socket)
            return 1;
    }
    return 0;
}

void WSAFDSetAdd(SOCKET socket, FD_SET* set)
{
    if (__WSAFDIsSet(socket, set) || set->fd_count >= FD_SETSIZE)
        return;
    set->fd_array[set->fd_count++] = socket;
}

int WSAStartup(WORD versionRequested, WSADATA* data)
{
    BYTE major = versionRequested & 0xFF;
    BYTE minor = versionRequested >> 8;
    if (major == 0) {
        WSASetLastError(WSAVERNOTSUPPORTED);
        return WSAVERNOTSUPPORTED;
    }
    if (data == nullptr)
        return WSAEFAULT;
    std::memset(data, 0, sizeof *data);
    bool aboveHighest = major > 2 || (major == 2 && minor > 2);
    data->wVersion = aboveHighest ? MAKEWORD(2, 2) : versionRequested;
    data->wHighVersion = MAKEWORD(2, 2);
    std::strcpy(data->szDescription, "Kelvane sockets");
    std::strcpy(data->szSystemStatus, "Running");
    return 0;
}

int WSAGetLastError()
{
    return static_cast<int>(GetLastError());
}

void WSASetLastError(int error)
{
    SetLastError(static_cast<DWORD>(error));
}

SOCKET socket(int af, int type, int protocol)
{
    if (af != AF_INET) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return INVALID_SOCKET;
    }
    if (type != SOCK_STREAM) {
        WSASetLastError(WSAESOCKTNOSUPPORT);
        return INVALID_SOCKET;
    }
    if (protocol != 0 && protocol != 6) {
        WSASetLastError(WSAEPROTONOSUPPORT);
        return INVALID_SOCKET;
    }
    int fd = bsd::Socket();
    return fd < 0 ? INVALID_SOCKET : static_cast<SOCKET>(fd);
}

int connect(SOCKET socket, const SOCKADDR* name, int nameLength)
{
    int fd;
    uint32_t address;
    uint16_t port;
    if (!ToDescriptor(socket, &fd) || !ReadIPv4Name(name, nameLength, &address, &port))
        return SOCKET_ERROR;
    return bsd::Connect(fd, address, port) ? 0 : SOCKET_ERROR;
}

int bind(SOCKET socket, const SOCKADDR* name, int nameLength)
{
    int fd;
    uint32_t address;
    uint16_t port;
    if (!ToDescriptor(socket, &fd) || !ReadIPv4Name(name, nameLength, &address, &port))
        return SOCKET_ERROR;
    return bsd::Bind(fd, address, port) ? 0 : SOCKET_ERROR;
}

int listen(SOCKET socket, int backlog)
{
    int fd;
    if (!ToDescriptor(socket, &fd))
        return SOCKET_ERROR;
    return bsd::Listen(fd, backlog) ? 0 : SOCKET_ERROR;
}

SOCKET accept(SOCKET socket, SOCKADDR* address, int* addressLength)
{
    int fd;
    if (!ToDescriptor(socket, &fd))
        return INVALID_SOCKET;
    if (address != nullptr &&
        (addressLength == nullptr || *addressLength < static_cast<int>(sizeof(SOCKADDR_IN)))) {
        WSASetLastError(WSAEFAULT);
        return INVALID_SOCKET;
    }
    uint32_t peerAddress;
    uint16_t peerPort;
    int accepted = bsd::Accept(fd, &peerAddress, &peerPort);
    if (accepted < 0)
        return INVALID_SOCKET;
    WriteIPv4Name(peerAddress, peerPort, address, addressLength);
    return static_cast<SOCKET>(accepted);
}

int getsockname(SOCKET socket, SOCKADDR* name, int* nameLength)
{
    int fd;
    uint32_t address;
    uint16_t port;
    if (!ToDescriptor(socket, &fd))
        return SOCKET_ERROR;
    if (name == nullptr) {
        WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    if (!bsd::LocalAddress(fd, &address, &port))
        return SOCKET_ERROR;
    return WriteIPv4Name(address, port, name, nameLength) ? 0 : SOCKET_ERROR;
}

int send(SOCKET socket, const char* buffer, int length, int flags)
{
    int fd;
    if (!ToTransfer(socket, length, flags, &fd))
        return SOCKET_ERROR;
    long sent = bsd::Send(fd, buffer, static_cast<size_t>(length));
    return sent < 0 ? SOCKET_ERROR : static_cast<int>(sent);
}

int WSASend(SOCKET socket, WSABUF* buffers, DWORD bufferCount, DWORD* bytesSent, DWORD flags,
            void* overlapped, void* completionRoutine)
{
    int fd;
    if (!ToDescriptor(socket, &fd))
        return SOCKET_ERROR;
    if (flags != 0 || overlapped != nullptr || completionRoutine != nullptr ||
        (buffers == nullptr && bufferCount != 0) || bytesSent == nullptr) {
        WSASetLastError(flags != 0 || overlapped != nullptr || completionRoutine != nullptr
                            ? WSAEOPNOTSUPP
                            : WSAEFAULT);
        return SOCKET_ERROR;
    }
    std::vector<bsd::SendPiece> pieces(bufferCount);
    for (DWORD i = 0; i < bufferCount; ++i)
        pieces[i] = bsd::SendPiece{buffers[i].buf, buffers[i].len};
    long sent = bsd::SendPieces(fd, pieces.data(), pieces.size());
    if (sent < 0)
        return SOCKET_ERROR;
    *bytesSent = static_cast<DWORD>(sent);
    return 0;
}

int recv(SOCKET socket, char* buffer, int length, int flags)
{
    int fd;
    if (!ToTransfer(socket, length, flags, &fd))
        return SOCKET_ERROR;
    long received = bsd::Receive(fd, buffer, static_cast<size_t>(length));
    return received < 0 ? SOCKET_ERROR : static_cast<int>(received);
}

int select(int, FD_SET* readSet, FD_SET* writeSet, FD_SET* exceptSet, const TIMEVAL* timeout)
{
    std::vector<bsd::PollEntry> entries;
    if (!AddPollEntries(readSet, 0, &entries) || !AddPollEntries(writeSet, 1, &entries) ||
        !AddPollEntries(exceptSet, 2, &entries))
        return SOCKET_ERROR;
    if (entries.empty()) {
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    int ready = bsd::Poll(entries.data(), entries.size(), PollTimeout(timeout));
    if (ready < 0)
        return SOCKET_ERROR;
    const bsd::PollEntry* entry = entries.data();
    KeepReady(readSet, entry);
    KeepReady(writeSet, entry);
    KeepReady(exceptSet, entry);
    return ready;
}

int shutdown(SOCKET socket, int how)
{
    int fd;
    if (!ToDescriptor(socket, &fd))
        return SOCKET_ERROR;
    if (how != SD_RECEIVE && how != SD_SEND && how != SD_BOTH) {
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    return bsd::Shutdown(fd, how) ? 0 : SOCKET_ERROR;
}

int setsockopt(SOCKET socket, int level, int optionName, const char* optionValue, int optionLength)
{
    int fd;
    if (!ToDescriptor(socket, &fd))
        return SOCKET_ERROR;
    if (level != SOL_SOCKET ||
        (optionName != SO_LINGER && optionName != SO_REUSEADDR && optionName != SO_RCVTIMEO &&
         optionName != SO_SNDTIMEO)) {
        WSASetLastError(WSAENOPROTOOPT);
        return SOCKET_ERROR;
    }
    if (optionName == SO_LINGER) {
        LINGER value;
        if (optionValue == nullptr || optionLength < static_cast<int>(sizeof value)) {
            WSASetLastError(WSAEFAULT);
            return SOCKET_ERROR;
        }
        std::memcpy(&value, optionValue, sizeof value);
        return bsd::SetLinger(fd, value.l_onoff != 0, value.l_linger) ? 0 : SOCKET_ERROR;
    }
    if (optionName == SO_RCVTIMEO || optionName == SO_SNDTIMEO) {
        DWORD milliseconds;
        if (optionValue == nullptr || optionLength < static_cast<int>(sizeof milliseconds)) {
            WSASetLastError(WSAEFAULT);
            return SOCKET_ERROR;
        }
        std::memcpy(&milliseconds, optionValue, sizeof milliseconds);
        return bsd::SetTimeout(fd, optionName == SO_SNDTIMEO, milliseconds) ? 0 : SOCKET_ERROR;
    }
    BOOL on;
    if (optionValue == nullptr || optionLength < static_cast<int>(sizeof on)) {
        WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    std::memcpy(&on, optionValue, sizeof on);
    return bsd::SetReuseAddress(fd, on != 0) ? 0 : SOCKET_ERROR;
}

int closesocket(SOCKET socket)
{
    int fd;
    if (!ToDescriptor(socket, &fd))
        return SOCKET_ERROR;
    // As CloseHandle: a close runs in destructors and must not start a cancellation there.
    CancellationHold hold;
    return bsd::Close(fd) ? 0 : SOCKET_ERROR;
}

HOSTENT* gethostbyname(const char* name)
{
    if (name == nullptr) {
        WSASetLastError(WSAEFAULT);
        return nullptr;
    }
    thread_local ThreadHostEntry host;
    if (!bsd::ResolveIPv4(name, &host.name, &host.addresses))
        return nullptr;
    host.addressPointers.clear();
    for (uint32_t& address : host.addresses)
        host.addressPointers.push_back(reinterpret_cast<char*>(&address));
    host.addressPointers.push_back(nullptr);
    host.entry.h_name = host.name.data();
    host.entry.h_aliases = host.noAliases;
    host.entry.h_addrtype = AF_INET;
    host.entry.h_length = sizeof(uint32_t);
    host.entry.h_addr_list = host.addressPointers.data();
    return &host.entry;
}

int gethostname(char* name, int nameLength)
{
    if (name == nullptr || nameLength <= 0) {
        WSASetLastError(WSAEFAULT);
        return SOCKET_ERROR;
    }
    return bsd::HostName(name, static_cast<size_t>(nameLength)) ? 0 : SOCKET_ERROR;
}

ULONG inet_addr(const char* text)
{
    uint32_t address;
    if (text == nullptr || !bsd::ParseIPv4(text, &address))
        return INADDR_NONE;
    return address;
}

u_short htons(u_short value)
{
    return ReorderShort(value);
}

u_short ntohs(u_short value)
{
    return ReorderShort(value);
}
