#include "audit/RawPeer.h"

void RawPeer::Script(std::vector<BYTE> answer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answer = std::move(answer);
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
