#include "tools/server/ServerModel.h"

ServerModel::ServerModel() : m_nextCommandIndex(7340031001ull), m_lastCommandIndex(0) {}

ULONGLONG ServerModel::NextCommandIndex()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lastCommandIndex = m_nextCommandIndex++;
    return m_lastCommandIndex;
}

void ServerModel::SetFirstCommandIndex(ULONGLONG index)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nextCommandIndex = index;
}

ULONGLONG ServerModel::LastCommandIndex() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lastCommandIndex;
}

ServiceStore& ServerModel::Service()
{
    return m_service;
}
