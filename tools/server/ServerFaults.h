// The fault a running stand-in server applies, changeable while connections are served.
#pragma once

#include <mutex>

#include "tools/server/ServerFault.h"

class ServerFaults {
public:
    void Set(const ServerFault& fault);
    ServerFault Current() const;

private:
    mutable std::mutex m_mutex;
    ServerFault m_fault;
};
