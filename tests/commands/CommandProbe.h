// Reaches into a channel for what the command tests set up or check: the volume code
// table, the pending cache file, the cancel flag, the last error and the wait time-out.
#pragma once

#include <cstring>
#include <string>

#include "connection/Csocketclient.h"

class CommandProbe {
public:
    explicit CommandProbe(Csocketclient& channel) : m_channel(channel) {}

    void SetVolumeCode(char16_t drive, ULONGLONG code) { m_channel.m_volumeCodes[drive - u'A'] = code; }
    void SetPendingCacheName(const std::string& name)
    {
        std::memcpy(m_channel.m_pendingCacheName, name.c_str(), name.size() + 1);
    }
    std::string PendingCacheName() const { return m_channel.m_pendingCacheName; }
    DWORD LastError() const { return m_channel.m_lastError; }
    void SetLastError(DWORD error) { m_channel.m_lastError = error; }
    DWORD Cancel() const { return m_channel.m_cancel; }
    void SetCancel(DWORD cancel) { m_channel.m_cancel = cancel; }
    void SetWaitTimeout(ULONGLONG seconds) { m_channel.m_waitTimeout = seconds; }

private:
    Csocketclient& m_channel;
};
