#include "support/ScriptedProxy.h"

ScriptedProxy::ScriptedProxy(std::string answer) : m_answer(std::move(answer)) {}

ScriptedProxy::~ScriptedProxy()
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

bool ScriptedProxy::Start()
{
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    SOCKADDR_IN local{};
    local.sin_family = AF_INET;
    local.sin_addr.S_un.S_addr = inet_addr("127.0.0.1");
    int length = sizeof local;
    if (m_listener == INVALID_SOCKET ||
        bind(m_listener, reinterpret_cast<const SOCKADDR*>(&local), sizeof local) != 0 ||
        listen(m_listener, 8) != 0 ||
        getsockname(m_listener, reinterpret_cast<SOCKADDR*>(&local), &length) != 0)
        return false;
    m_port = ntohs(local.sin_port);
    m_thread = std::thread(&ScriptedProxy::Serve, this);
    return true;
}

void ScriptedProxy::Serve()
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
        ServeClient();
        std::lock_guard<std::mutex> lock(m_mutex);
        closesocket(m_client);
        m_client = INVALID_SOCKET;
    }
}

void ScriptedProxy::ServeClient()
{
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        int received = recv(m_client, buffer, sizeof buffer, 0);
        if (received <= 0)
            return;
        request.append(buffer, static_cast<size_t>(received));
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(request);
    }
    send(m_client, m_answer.data(), static_cast<int>(m_answer.size()), 0);
    while (recv(m_client, buffer, sizeof buffer, 0) > 0) {
    }
}

std::vector<std::string> ScriptedProxy::Requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}
