#include "service/StandinService.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/module.h"
#include "service/Cserviceclient.h"
#include "util/Cutil.h"
#include "util/LittleEndian.h"

namespace {

constexpr int kQueueLength = 16;
constexpr uint8_t kPadding = 0xEE;

std::vector<uint8_t> Word(uint32_t value)
{
    std::vector<uint8_t> bytes;
    AppendLittleEndian32(&bytes, value);
    return bytes;
}

uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t offset)
{
    return LoadLittleEndian32(bytes.data() + offset);
}

StandinService::Request ParseRequest(std::vector<uint8_t> bytes)
{
    StandinService::Request request;
    request.bytes = std::move(bytes);
    if (request.bytes.size() != Cserviceclient::kHeaderLength)
        return request;
    request.command = WordAt(request.bytes, 20);
    uint32_t crc = 0;
    Cutil::Crc32(request.bytes.data() + 20, 4, &crc, 1);
    request.wellFormed = WordAt(request.bytes, 0) == 1 && WordAt(request.bytes, 4) == 0 &&
                         WordAt(request.bytes, 8) == 0 &&
                         WordAt(request.bytes, 12) == Cserviceclient::kHeaderLength &&
                         WordAt(request.bytes, 16) == crc;
    return request;
}

bool HungUp(int fd)
{
    pollfd entry{fd, POLLRDHUP, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLRDHUP | POLLHUP)) != 0;
}

template <typename Call>
auto RetryInterrupted(Call call)
{
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

}  // namespace

StandinService::StandinService(std::string folder, Names names, Listening listening)
    : m_folder(std::move(folder)), m_names(names), m_listening(listening)
{
    for (uint32_t command :
         {Cserviceclient::COMMAND_REGISTRY_UPDATE, Cserviceclient::COMMAND_SHUTDOWN,
          Cserviceclient::COMMAND_BACKUP_NOW, Cserviceclient::COMMAND_NEED_USER_CANCEL,
          Cserviceclient::COMMAND_CIPHER, Cserviceclient::COMMAND_SCHEDULED_SELECTIONS})
        m_replies[command] = Word(1);
    SetStatus(StatusReply());
}

StandinService::~StandinService()
{
    Stop();
}

std::string StandinService::SessionName()
{
    uint32_t session = 0;
    if (!Cutil::GetProcessSessionId(GetCurrentProcessId(), &session))
        session = 0;
    return kBaseName + std::to_string(static_cast<int32_t>(session));
}

bool StandinService::Start()
{
    bool listening = (m_names == Names::PlainOnly || Listen(SessionName())) &&
                     (m_names == Names::SessionOnly || Listen(kBaseName));
    if (listening)
        m_wake = eventfd(0, EFD_CLOEXEC);
    if (!listening || m_wake < 0) {
        int error = errno;
        Stop();
        errno = error;
        return false;
    }
    m_thread = std::thread(&StandinService::Run, this);
    return true;
}

bool StandinService::Listen(const std::string& name)
{
    std::string path = m_folder + "/" + name;
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path)) {
        errno = ENAMETOOLONG;
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    unlink(path.c_str());
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    m_listeners.push_back(fd);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        return false;
    m_paths.push_back(path);
    if (m_listening == Listening::BoundOnly)
        return true;
    return listen(fd, m_listening == Listening::Stalled ? 0 : kQueueLength) == 0;
}

void StandinService::Stop()
{
    if (m_thread.joinable()) {
        uint64_t one = 1;
        RetryInterrupted([&] { return write(m_wake, &one, sizeof(one)); });
        m_thread.join();
    }
    for (int fd : m_listeners)
        close(fd);
    for (const std::string& path : m_paths)
        unlink(path.c_str());
    if (m_wake >= 0)
        close(m_wake);
    m_listeners.clear();
    m_paths.clear();
    m_wake = -1;
}

void StandinService::SetStatus(const StatusReply& status)
{
    std::vector<uint8_t> reply = status.Encode();
    std::lock_guard<std::mutex> lock(m_lock);
    m_replies[Cserviceclient::COMMAND_STATUS] = reply;
    m_replies[Cserviceclient::COMMAND_STATUS_FIRSTCALL] = reply;
}

void StandinService::SetReply(uint32_t command, std::vector<uint8_t> reply)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_replies[command] = std::move(reply);
}

void StandinService::Misbehave(uint32_t command, Misbehaviour misbehaviour, uint32_t size)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_faults[command] = Fault{misbehaviour, size};
}

std::vector<StandinService::Request> StandinService::Requests() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_requests;
}

uint32_t StandinService::Connections() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_connections;
}

void StandinService::Run()
{
    std::vector<int> clients;
    const bool accepting = m_listening == Listening::Serve;
    for (;;) {
        std::vector<pollfd> watched{{m_wake, POLLIN, 0}};
        for (int listener : m_listeners)
            watched.push_back({listener, static_cast<short>(accepting ? POLLIN : 0), 0});
        for (int client : clients)
            watched.push_back({client, POLLIN, 0});
        if (RetryInterrupted([&] { return poll(watched.data(), watched.size(), -1); }) < 0 ||
            watched[0].revents != 0)
            break;
        std::vector<int> remaining;
        for (size_t index = 1 + m_listeners.size(); index < watched.size(); ++index) {
            int client = watched[index].fd;
            if (watched[index].revents == 0 || Serve(client))
                remaining.push_back(client);
            else
                close(client);
        }
        for (size_t index = 1; index <= m_listeners.size(); ++index) {
            if ((watched[index].revents & POLLIN) == 0)
                continue;
            int client = accept4(watched[index].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            remaining.push_back(client);
            std::lock_guard<std::mutex> lock(m_lock);
            ++m_connections;
        }
        clients = std::move(remaining);
    }
    for (int client : clients)
        close(client);
}

bool StandinService::Serve(int client)
{
    ssize_t size = RetryInterrupted([&] { return recv(client, nullptr, 0, MSG_PEEK | MSG_TRUNC); });
    if (size < 0 || (size == 0 && HungUp(client)))
        return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (RetryInterrupted([&] { return recv(client, bytes.data(), bytes.size(), 0); }) != size)
        return false;
    Fault fault;
    std::vector<uint8_t> reply = ReplyTo(ParseRequest(std::move(bytes)), &fault);
    switch (fault.kind) {
    case Misbehaviour::CloseWithoutAnswer:
        return false;
    case Misbehaviour::Truncate:
        reply.resize(std::min<size_t>(reply.size(), fault.size));
        break;
    case Misbehaviour::Oversize:
        reply.resize(std::max<size_t>(reply.size(), fault.size), kPadding);
        break;
    case Misbehaviour::None:
        break;
    }
    return RetryInterrupted([&] {
               return send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
           }) == static_cast<ssize_t>(reply.size());
}

std::vector<uint8_t> StandinService::ReplyTo(const Request& request, Fault* fault)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_requests.push_back(request);
    if (!request.wellFormed)
        return Word(0);
    auto found = m_faults.find(request.command);
    if (found != m_faults.end())
        *fault = found->second;
    auto reply = m_replies.find(request.command);
    return reply != m_replies.end() ? reply->second : Word(0);
}
