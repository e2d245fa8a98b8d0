#include "platform/pipe.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/KernelObject.h"
#include "platform/error.h"
#include "platform/text.h"

namespace {

// The Win32 code of a failed connect: every way of finding no server there is "not found",
// as Windows has no pipe name without a server instance.
DWORD ConnectError(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ECONNREFUSED:
    case EPROTOTYPE:
    case ENOTSOCK:
        return ERROR_FILE_NOT_FOUND;
    case EAGAIN:
        return ERROR_PIPE_BUSY;
    default:
        return Win32ErrorFromErrno(error);
    }
}

// The Win32 code of a failed send or receive: a vanished peer is a broken pipe when reading
// and a closing pipe when writing, as Windows reports them.
DWORD TransferError(int error, DWORD peerGone)
{
    switch (error) {
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
        return peerGone;
    case EMSGSIZE:
    case ENOBUFS:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return Win32ErrorFromErrno(error);
    }
}

class PipeObject : public KernelObject {
public:
    PipeObject(int fd, DWORD access)
        : m_fd(fd),
          m_canRead((access & (GENERIC_READ | GENERIC_ALL)) != 0),
          m_canWrite((access & (GENERIC_WRITE | GENERIC_ALL)) != 0)
    {
    }

    ~PipeObject() override { close(m_fd); }

    void SetMessageMode(bool message)
    {
        std::lock_guard<std::mutex> lock(m_readLock);
        m_messageMode = message;
    }

    BOOL Read(void* buffer, DWORD toRead, DWORD* read) override
    {
        if (read != nullptr)
            *read = 0;
        if (!m_canRead) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        std::lock_guard<std::mutex> lock(m_readLock);
        if (!m_holding && !ReceiveMessage())
            return FALSE;
        size_t left = m_message.size() - m_handedOut;
        auto count = static_cast<DWORD>(std::min<size_t>(left, toRead));
        if (count > 0)
            std::memcpy(buffer, m_message.data() + m_handedOut, count);
        m_handedOut += count;
        if (read != nullptr)
            *read = count;
        if (m_handedOut == m_message.size()) {
            m_holding = false;
            m_message.clear();
        } else if (m_messageMode) {
            SetLastError(ERROR_MORE_DATA);
            return FALSE;
        }
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

    BOOL Write(const void* buffer, DWORD toWrite, DWORD* written) override
    {
        if (written != nullptr)
            *written = 0;
        if (!m_canWrite) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        ssize_t sent;
        do {
            sent = send(m_fd, buffer, toWrite, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        if (sent < 0) {
            SetLastError(TransferError(errno, ERROR_NO_DATA));
            return FALSE;
        }
        if (written != nullptr)
            *written = static_cast<DWORD>(sent);
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }

    // A message is in the server's queue as soon as it is written: nothing waits here.
    BOOL Flush() override
    {
        if (!m_canWrite) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return TRUE;
    }

private:
    // Takes the next message off the socket whole, so that it can be handed out in parts.
    bool ReceiveMessage()
    {
        ssize_t size;
        do {
            size = recv(m_fd, nullptr, 0, MSG_PEEK | MSG_TRUNC);
        } while (size < 0 && errno == EINTR);
        if (size < 0) {
            SetLastError(TransferError(errno, ERROR_BROKEN_PIPE));
            return false;
        }
        // A socket gives 0 both for an empty message and for a peer that has gone.
        if (size == 0 && PeerHasClosed()) {
            SetLastError(ERROR_BROKEN_PIPE);
            return false;
        }
        m_message.resize(static_cast<size_t>(size));
        ssize_t received;
        do {
            received = recv(m_fd, m_message.data(), m_message.size(), 0);
        } while (received < 0 && errno == EINTR);
        if (received != size) {
            m_message.clear();
            SetLastError(received < 0 ? TransferError(errno, ERROR_BROKEN_PIPE) : ERROR_BROKEN_PIPE);
            return false;
        }
        m_handedOut = 0;
        m_holding = true;
        return true;
    }

    bool PeerHasClosed() const
    {
        pollfd entry{m_fd, POLLRDHUP, 0};
        return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP)) != 0;
    }

    const int m_fd;
    const bool m_canRead;
    const bool m_canWrite;
    std::mutex m_readLock;
    bool m_messageMode = false;
    // The message being handed out, and how much of it the reader already has.
    bool m_holding = false;
    std::vector<uint8_t> m_message;
    size_t m_handedOut = 0;
};

}  // namespace

std::string PipeFolder()
{
    for (const char* variable : {"KELVANE_PIPE_DIR", "XDG_RUNTIME_DIR"}) {
        const char* folder = std::getenv(variable);
        if (folder != nullptr && *folder != 0)
            return folder;
    }
    return "/tmp";
}

std::string PipeSocketPath(const std::u16string& name)
{
    if (name.empty() || name.find_first_of(u"/\\", 0, 2) != std::u16string::npos ||
        name.find(u'\0') != std::u16string::npos) {
        SetLastError(ERROR_INVALID_NAME);
        return {};
    }
    std::string path = PipeFolder();
    if (path.back() != '/')
        path += '/';
    path += Utf16ToUtf8(name);
    if (path.size() >= sizeof(sockaddr_un::sun_path)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return {};
    }
    return path;
}

HANDLE OpenPipeClient(const std::u16string& name, DWORD access)
{
    std::string path = PipeSocketPath(name);
    if (path.empty())
        return INVALID_HANDLE_VALUE;
    // Connecting without blocking turns a server with a full queue into ERROR_PIPE_BUSY
    // instead of a wait; a local socket connects at once or not at all.
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return FailOpen(fd, Win32ErrorFromErrno(errno));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int result;
    do {
        result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    } while (result < 0 && errno == EINTR);
    if (result < 0)
        return FailOpen(fd, ConnectError(errno));
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0)
        return FailOpen(fd, Win32ErrorFromErrno(errno));
    HANDLE handle = RegisterHandle(std::make_shared<PipeObject>(fd, access));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL SetNamedPipeHandleState(HANDLE pipe, DWORD* mode, DWORD* maxCollectionCount,
                             DWORD* collectDataTimeout)
{
    std::shared_ptr<PipeObject> object = ReferenceHandle<PipeObject>(pipe);
    if (object == nullptr)
        return FALSE;
    if (maxCollectionCount != nullptr || collectDataTimeout != nullptr ||
        (mode != nullptr && (*mode & ~PIPE_READMODE_MESSAGE) != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (mode != nullptr)
        object->SetMessageMode((*mode & PIPE_READMODE_MESSAGE) != 0);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
