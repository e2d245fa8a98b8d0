#include "tools/server/ServerFaults.h"

void ServerFaults::Set(const ServerFault& fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fault = fault;
}

ServerFault ServerFaults::Current() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fault;
}
