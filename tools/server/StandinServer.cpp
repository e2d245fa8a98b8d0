#include "tools/server/StandinServer.h"

#include "platform/clock.h"

StandinServer::StandinServer(std::string address, DWORD port)
    : m_address(std::move(address)), m_port(port), m_listener(INVALID_SOCKET), m_stopping(false)
{
}

StandinServer::~StandinServer()
{
    Stop();
}

bool StandinServer::Start()
{
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
    SOCKADDR_IN local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<u_short>(m_port));
    local.sin_addr.S_un.S_addr = inet_addr(m_address.c_str());
    if (local.sin_addr.S_un.S_addr == INADDR_NONE) {
        WSASetLastError(WSAEADDRNOTAVAIL);
        return false;
    }
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    if (m_listener == INVALID_SOCKET)
        return false;
    BOOL reuse = TRUE;
    setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
               sizeof reuse);
    int length = sizeof local;
    if (bind(m_listener, reinterpret_cast<const SOCKADDR*>(&local), sizeof local) != 0 ||
        listen(m_listener, 64) != 0 ||
        getsockname(m_listener, reinterpret_cast<SOCKADDR*>(&local), &length) != 0) {
        int error = WSAGetLastError();
        closesocket(m_listener);
        m_listener = INVALID_SOCKET;
        WSASetLastError(error);
        return false;
    }
    m_port = ntohs(local.sin_port);
    m_stopping = false;
    m_acceptThread = std::thread(&StandinServer::AcceptLoop, this);
    return true;
}

void StandinServer::AcceptLoop()
{
    for (;;) {
        SOCKET client = accept(m_listener, nullptr, nullptr);
        if (m_stopping) {
            if (client != INVALID_SOCKET)
                closesocket(client);
            return;
        }
        if (client == INVALID_SOCKET) {
            Sleep(10);
            continue;
        }
        m_log.AddConnection();
        std::lock_guard<std::mutex> lock(m_clientsMutex);
        ReapClosedClients();
        Client entry;
        entry.connection = std::make_unique<ServerConnection>(
            client, m_acceptedClients++, m_commands, m_model, m_log, m_faults,
            CurrentHelloAnswer());
        entry.thread = std::thread(&ServerConnection::Run, entry.connection.get());
        m_clients.push_back(std::move(entry));
    }
}

// A server left running serves clients without end: an ended thread holds its stack until
// it is joined.
void StandinServer::ReapClosedClients()
{
    std::erase_if(m_clients, [](Client& client) {
        if (!client.connection->Closed())
            return false;
        client.thread.join();
        return true;
    });
}

void StandinServer::Stop()
{
    if (m_listener == INVALID_SOCKET)
        return;
    m_stopping = true;
    // Shutting the listener down wakes the accept that waits on it.
    shutdown(m_listener, SD_BOTH);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    closesocket(m_listener);
    m_listener = INVALID_SOCKET;
    std::lock_guard<std::mutex> lock(m_clientsMutex);
    for (Client& client : m_clients)
        client.connection->Stop();
    for (Client& client : m_clients)
        client.thread.join();
    m_clients.clear();
}

void StandinServer::Wait()
{
    if (m_acceptThread.joinable())
        m_acceptThread.join();
}

const std::string& StandinServer::Address() const
{
    return m_address;
}

DWORD StandinServer::Port() const
{
    return m_port;
}

CommandTable& StandinServer::Commands()
{
    return m_commands;
}

ServerModel& StandinServer::Model()
{
    return m_model;
}

const RequestLog& StandinServer::Log() const
{
    return m_log;
}

void StandinServer::SetFault(const ServerFault& fault)
{
    m_faults.Set(fault);
}

void StandinServer::SetHelloAnswer(const HelloAnswer& answer)
{
    std::lock_guard<std::mutex> lock(m_helloMutex);
    m_helloAnswer = answer;
}

HelloAnswer StandinServer::CurrentHelloAnswer()
{
    std::lock_guard<std::mutex> lock(m_helloMutex);
    return m_helloAnswer;
}
