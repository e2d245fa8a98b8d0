#include "support/ScriptedProxy.h"

#include <utility>

#include "platform/clock.h"

namespace {

bool SendAll(SOCKET socket, const char* bytes, size_t length)
{
    size_t done = 0;
    while (done < length) {
        int sent = send(socket, bytes + done, static_cast<int>(length - done), 0);
        if (sent <= 0)
            return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

// Passes what one side sent to the other; false when the side has gone.
bool Forward(SOCKET from, SOCKET to)
{
    char buffer[16384];
    int received = recv(from, buffer, sizeof buffer, 0);
    return received > 0 && SendAll(to, buffer, static_cast<size_t>(received));
}

} // namespace

ScriptedProxy::ScriptedProxy(std::string answer)
    : ScriptedProxy(std::vector<std::string>{std::move(answer)})
{
}

ScriptedProxy::ScriptedProxy(std::vector<std::string> answerPieces)
    : m_answerPieces(std::move(answerPieces)),
      m_listener([this](SOCKET client) { ServeClient(client); })
{
}

void ScriptedProxy::TunnelTo(const std::string& address, DWORD port)
{
    m_tunnelAddress = address;
    m_tunnelPort = port;
}

std::vector<std::string> ScriptedProxy::Requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void ScriptedProxy::ServeClient(SOCKET client)
{
    if (!ReceiveRequest(client) || !SendAnswer(client))
        return;
    if (!m_tunnelAddress.empty()) {
        Tunnel(client);
        return;
    }
    if (!m_holdOpen)
        shutdown(client, SD_SEND);
    char buffer[4096];
    while (recv(client, buffer, sizeof buffer, 0) > 0) {
    }
}

bool ScriptedProxy::ReceiveRequest(SOCKET client)
{
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        int received = recv(client, buffer, sizeof buffer, 0);
        if (received <= 0)
            return false;
        request.append(buffer, static_cast<size_t>(received));
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(request);
    return true;
}

bool ScriptedProxy::SendAnswer(SOCKET client) const
{
    for (size_t i = 0; i < m_answerPieces.size(); ++i) {
        if (i > 0)
            Sleep(m_pauseMs);
        if (!SendAll(client, m_answerPieces[i].data(), m_answerPieces[i].size()))
            return false;
    }
    return true;
}

void ScriptedProxy::Tunnel(SOCKET client) const
{
    SOCKET server = socket(AF_INET, SOCK_STREAM, 0);
    SOCKADDR_IN address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(m_tunnelPort));
    address.sin_addr.S_un.S_addr = inet_addr(m_tunnelAddress.c_str());
    if (connect(server, reinterpret_cast<const SOCKADDR*>(&address), sizeof address) == 0) {
        for (;;) {
            FD_SET readable;
            FD_ZERO(&readable);
            FD_SET(client, &readable);
            FD_SET(server, &readable);
            if (select(0, &readable, NULL, NULL, NULL) == SOCKET_ERROR)
                break;
            if (FD_ISSET(client, &readable) && !Forward(client, server))
                break;
            if (FD_ISSET(server, &readable) && !Forward(server, client))
                break;
        }
    }
    closesocket(server);
}
