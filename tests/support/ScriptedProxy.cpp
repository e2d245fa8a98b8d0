#include "support/ScriptedProxy.h"

ScriptedProxy::ScriptedProxy(std::string answer)
    : m_answer(std::move(answer)), m_listener([this](SOCKET client) { ServeClient(client); })
{
}

void ScriptedProxy::ServeClient(SOCKET client)
{
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        int received = recv(client, buffer, sizeof buffer, 0);
        if (received <= 0)
            return;
        request.append(buffer, static_cast<size_t>(received));
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(request);
    }
    send(client, m_answer.data(), static_cast<int>(m_answer.size()), 0);
    while (recv(client, buffer, sizeof buffer, 0) > 0) {
    }
}

std::vector<std::string> ScriptedProxy::Requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}
