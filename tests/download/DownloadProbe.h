// Reads and sets what a channel keeps inside for its downloads, for tests only.
#pragma once

#include <string>

#include "connection/Csocketclient.h"

class DownloadProbe {
public:
    explicit DownloadProbe(Csocketclient& channel) : m_channel(channel) {}

    DWORD LastError() const { return m_channel.m_lastError; }
    DWORD Cancelled() const { return m_channel.m_cancel; }
    DWORD SystemError() const { return m_channel.m_systemError; }
    std::string CacheName() const { return m_channel.m_cacheName; }
    void SetWaitTimeout(ULONGLONG seconds) { m_channel.m_waitTimeout = seconds; }

private:
    Csocketclient& m_channel;
};
