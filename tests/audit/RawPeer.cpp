#include "audit/RawPeer.h"

#include "support/LoopbackServer.h"

RawPeer::~RawPeer()
{
    if (m_listener == INVALID_SOCKET)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        if (m_client != INVALID_SOCKET)
            shutdown(m_client, SD_BOTH);
    }
    shutdown(m_listener, SD_BOTH);
    if (m_thread.joinable())
        m_thread.join();
    closesocket(m_listener);
}

bool RawPeer::Start()
{
    for (int attempt = 0; attempt < 32 && m_listener == INVALID_SOCKET; ++attempt) {
        m_address = NextLoopbackAddress();
        SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
        SOCKADDR_IN local{};
        local.sin_family = AF_INET;
        local.sin_addr.S_un.S_addr = inet_addr(m_address.c_str());
        int length = sizeof local;
        if (listener == INVALID_SOCKET)
            return false;
        if (bind(listener, reinterpret_cast<const SOCKADDR*>(&local), sizeof local) != 0 ||
            listen(listener, 8) != 0 ||
            getsockname(listener, reinterpret_cast<SOCKADDR*>(&local), &length) != 0) {
            closesocket(listener);
            continue;
        }
        m_port = ntohs(local.sin_port);
        m_listener = listener;
    }
    if (m_listener == INVALID_SOCKET)
        return false;
    m_thread = std::thread(&RawPeer::Serve, this);
    return true;
}

void RawPeer::Script(std::vector<BYTE> answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answer = std::move(answer);
}

void RawPeer::Serve()
{
    for (;;) {
        SOCKET client = accept(m_listener, nullptr, nullptr);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping || client == INVALID_SOCKET) {
                if (client != INVALID_SOCKET)
                    closesocket(client);
                return;
            }
            m_client = client;
        }
        ServeClient(client);
        std::lock_guard<std::mutex> lock(m_mutex);
        closesocket(m_client);
        m_client = INVALID_SOCKET;
    }
}

void RawPeer::ServeClient(SOCKET client)
{
    char buffer[4096];
    if (recv(client, buffer, sizeof buffer, 0) <= 0)
        return;
    std::vector<BYTE> answer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        answer = m_answer;
    }
    size_t sent = 0;
    while (sent < answer.size()) {
        int piece = send(client, reinterpret_cast<const char*>(answer.data()) + sent,
                         static_cast<int>(answer.size() - sent), 0);
        if (piece <= 0)
            return;
        sent += static_cast<size_t>(piece);
    }
    shutdown(client, SD_SEND);
    while (recv(client, buffer, sizeof buffer, 0) > 0) {
    }
}
