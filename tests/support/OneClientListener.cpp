#include "support/OneClientListener.h"

#include "support/LoopbackServer.h"

namespace {

// Tries for a fresh address a few times: another test process may hold the one handed out.
constexpr int kFreshAddressAttempts = 32;

} // namespace

OneClientListener::~OneClientListener()
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

bool OneClientListener::Start(const std::string& address)
{
    if (!address.empty()) {
        Listen(address);
    } else {
        for (int attempt = 0; attempt < kFreshAddressAttempts && m_listener == INVALID_SOCKET;
             ++attempt)
            Listen(NextLoopbackAddress());
    }
    if (m_listener == INVALID_SOCKET)
        return false;
    m_thread = std::thread(&OneClientListener::Serve, this);
    return true;
}

bool OneClientListener::Listen(const std::string& address)
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    if (listener == INVALID_SOCKET)
        return false;
    SOCKADDR_IN local{};
    local.sin_family = AF_INET;
    local.sin_addr.S_un.S_addr = inet_addr(address.c_str());
    int length = sizeof local;
    if (bind(listener, reinterpret_cast<const SOCKADDR*>(&local), sizeof local) != 0 ||
        listen(listener, 8) != 0 ||
        getsockname(listener, reinterpret_cast<SOCKADDR*>(&local), &length) != 0) {
        closesocket(listener);
        return false;
    }
    m_address = address;
    m_port = ntohs(local.sin_port);
    m_listener = listener;
    return true;
}

void OneClientListener::Serve()
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
        m_serve(client);
        std::lock_guard<std::mutex> lock(m_mutex);
        closesocket(m_client);
        m_client = INVALID_SOCKET;
    }
}
