#include "platform/bsdsocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/error.h"
#include "platform/wsaerror.h"

namespace bsd {
namespace {

int WsaErrorFromErrno(int error)
{
    switch (error) {
    case EINTR:
        return WSAEINTR;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
    case EAGAIN:
        return WSAEWOULDBLOCK;
    case EINPROGRESS:
        return WSAEINPROGRESS;
    case EALREADY:
        return WSAEALREADY;
    case EBADF:
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EDESTADDRREQ:
        return WSAEDESTADDRREQ;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case EPROTOTYPE:
        return WSAEPROTOTYPE;
    case ENOPROTOOPT:
        return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
        return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
        return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
        return WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
        return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
        return WSAEAFNOSUPPORT;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ENETRESET:
        return WSAENETRESET;
    case ECONNABORTED:
        return WSAECONNABORTED;
    // A send after the peer has gone fails with EPIPE here and with a reset on Windows.
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case ESHUTDOWN:
        return WSAESHUTDOWN;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case ELOOP:
        return WSAELOOP;
    case ENAMETOOLONG:
        return WSAENAMETOOLONG;
    case EHOSTDOWN:
        return WSAEHOSTDOWN;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    default:
        return WSAEINVAL;
    }
}

bool Fail()
{
    SetLastError(static_cast<DWORD>(WsaErrorFromErrno(errno)));
    return false;
}

// Sockets here block, so "would block" from a send or receive means its time-out ran out.
void FailTransfer()
{
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        errno = ETIMEDOUT;
    Fail();
}

sockaddr_in MakeAddress(uint32_t address, uint16_t port)
{
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = port;
    result.sin_addr.s_addr = address;
    return result;
}

int WsaErrorFromResolver(int error)
{
    switch (error) {
    case EAI_NONAME:
        return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
        return WSATRY_AGAIN;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return WSANO_DATA;
    case EAI_SYSTEM:
        return WsaErrorFromErrno(errno);
    default:
        return WSANO_RECOVERY;
    }
}

}

int Socket()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        Fail();
    return fd;
}

bool Connect(int fd, uint32_t address, uint16_t port)
{
    sockaddr_in target = MakeAddress(address, port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
        return true;
    if (errno != EINTR)
        return Fail();
    // An interrupted connect goes on in the background: wait for its outcome.
    pollfd entry{fd, POLLOUT, 0};
    while (::poll(&entry, 1, -1) < 0) {
        if (errno != EINTR)
            return Fail();
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return Fail();
    if (error != 0) {
        errno = error;
        return Fail();
    }
    return true;
}

bool Bind(int fd, uint32_t address, uint16_t port)
{
    sockaddr_in local = MakeAddress(address, port);
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 || Fail();
}

bool Listen(int fd, int backlog)
{
    return ::listen(fd, backlog) == 0 || Fail();
}

int Accept(int fd, uint32_t* address, uint16_t* port)
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int accepted;
    do {
        accepted = ::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    } while (accepted < 0 && errno == EINTR);
    if (accepted < 0) {
        Fail();
        return -1;
    }
    *address = peer.sin_addr.s_addr;
    *port = peer.sin_port;
    return accepted;
}

bool LocalAddress(int fd, uint32_t* address, uint16_t* port)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return Fail();
    *address = local.sin_addr.s_addr;
    *port = local.sin_port;
    return true;
}

long Send(int fd, const void* buffer, size_t length)
{
    ssize_t sent;
    do {
        sent = ::send(fd, buffer, length, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        FailTransfer();
    return sent;
}

long SendPieces(int fd, const SendPiece* pieces, size_t count)
{
    std::vector<iovec> vector(count);
    for (size_t i = 0; i < count; ++i)
        vector[i] = iovec{const_cast<void*>(pieces[i].bytes), pieces[i].length};
    msghdr message{};
    message.msg_iov = vector.data();
    message.msg_iovlen = vector.size();
    ssize_t sent;
    do {
        sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        FailTransfer();
    return sent;
}

long Receive(int fd, void* buffer, size_t length)
{
    ssize_t received;
    do {
        received = ::recv(fd, buffer, length, 0);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        FailTransfer();
    return received;
}

bool Shutdown(int fd, int how)
{
    static const int directions[] = {SHUT_RD, SHUT_WR, SHUT_RDWR};
    if (how < 0 || how > 2) {
        errno = EINVAL;
        return Fail();
    }
    return ::shutdown(fd, directions[how]) == 0 || Fail();
}

bool SetLinger(int fd, bool on, int seconds)
{
    linger value{on ? 1 : 0, seconds};
    return ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &value, sizeof value) == 0 || Fail();
}

bool SetReuseAddress(int fd, bool on)
{
    int value = on ? 1 : 0;
    return ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &value, sizeof value) == 0 || Fail();
}

bool SetTimeout(int fd, bool sending, uint32_t milliseconds)
{
    timeval value{static_cast<time_t>(milliseconds / 1000),
                  static_cast<suseconds_t>(milliseconds % 1000) * 1000};
    return ::setsockopt(fd, SOL_SOCKET, sending ? SO_SNDTIMEO : SO_RCVTIMEO, &value,
                        sizeof value) == 0 ||
           Fail();
}

bool Close(int fd)
{
    // The descriptor is gone even when close reports EINTR: never close it twice.
    if (::close(fd) == 0 || errno == EINTR)
        return true;
    return Fail();
}

int Poll(PollEntry* entries, size_t count, int timeoutMs)
{
    std::vector<pollfd> fds(count);
    for (size_t i = 0; i < count; ++i) {
        short events = 0;
        if (entries[i].wantRead)
            events |= POLLIN;
        if (entries[i].wantWrite)
            events |= POLLOUT;
        if (entries[i].wantExcept)
            events |= POLLPRI;
        fds[i] = pollfd{entries[i].fd, events, 0};
    }
    int result;
    do {
        result = ::poll(fds.data(), fds.size(), timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        Fail();
        return -1;
    }
    int ready = 0;
    for (size_t i = 0; i < count; ++i) {
        short events = fds[i].revents;
        if (events & POLLNVAL) {
            SetLastError(WSAENOTSOCK);
            return -1;
        }
        // A closed or failed connection counts as readable and writable, as on Windows: the
        // next recv or send reports what happened.
        bool broken = (events & (POLLERR | POLLHUP)) != 0;
        entries[i].readable = entries[i].wantRead && ((events & POLLIN) || broken);
        entries[i].writable = entries[i].wantWrite && ((events & POLLOUT) || broken);
        entries[i].excepted = entries[i].wantExcept && (events & (POLLPRI | POLLERR));
        ready += entries[i].readable + entries[i].writable + entries[i].excepted;
    }
    return ready;
}

bool ParseIPv4(const char* text, uint32_t* address)
{
    in_addr parsed{};
    if (::inet_aton(text, &parsed) == 0)
        return false;
    *address = parsed.s_addr;
    return true;
}

bool ResolveIPv4(const char* name, std::string* canonicalName, std::vector<uint32_t>* addresses)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    int rc = ::getaddrinfo(name, nullptr, &hints, &list);
    if (rc != 0) {
        SetLastError(static_cast<DWORD>(WsaErrorFromResolver(rc)));
        return false;
    }
    *canonicalName = list->ai_canonname != nullptr ? list->ai_canonname : name;
    addresses->clear();
    for (addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        uint32_t address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
        bool seen = false;
        for (uint32_t known : *addresses)
            seen = seen || known == address;
        if (!seen)
            addresses->push_back(address);
    }
    ::freeaddrinfo(list);
    if (addresses->empty()) {
        SetLastError(WSANO_DATA);
        return false;
    }
    return true;
}

bool HostName(char* name, size_t capacity)
{
    if (::gethostname(name, capacity) != 0) {
        if (errno == ENAMETOOLONG)
            errno = EFAULT;
        return Fail();
    }
    // POSIX may leave a cut name unterminated.
    if (std::memchr(name, '\0', capacity) == nullptr) {
        errno = EFAULT;
        return Fail();
    }
    return true;
}

}
