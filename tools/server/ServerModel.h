// What the stand-in server knows and hands out: for now the command indexes of its
// connections. Shared by every connection of one server; safe to use from several threads.
#pragma once

#include <mutex>

#include "platform/types.h"
#include "tools/server/ServiceStore.h"

class ServerModel {
public:
    ServerModel();

    // The index for a new command-index request: the first one, then one more each time.
    ULONGLONG NextCommandIndex();
    void SetFirstCommandIndex(ULONGLONG index);
    // The index handed out last, 0 before the first.
    ULONGLONG LastCommandIndex() const;

    // The member's data that the browsing, account and machine commands serve.
    ServiceStore& Service();

private:
    mutable std::mutex m_mutex;
    ULONGLONG m_nextCommandIndex;
    ULONGLONG m_lastCommandIndex;
    ServiceStore m_service;
};
