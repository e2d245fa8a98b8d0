// Reads the login state that a channel keeps inside, for tests only.
#pragma once

#include <string>

#include "connection/Csocketclient.h"

class SessionProbe {
public:
    explicit SessionProbe(Csocketclient& channel) : m_channel(channel) {}

    std::string UserName() const { return m_channel.m_userName; }
    std::string Password() const { return m_channel.m_password; }
    std::string HostName() const { return m_channel.m_hostName; }
    DWORD LoginSequence() const { return m_channel.m_loginSequence; }
    DWORD SessionValue() const { return m_channel.m_sessionValue; }
    DWORD SessionFlagX() const { return m_channel.m_sessionFlagX; }
    ULONGLONG MachineId() const { return m_channel.m_machineId; }
    ULONGLONG CommandIndex() const { return m_channel.m_commandIndex; }
    DWORD MachineMode() const { return m_channel.m_machineMode; }
    DWORD LastError() const { return m_channel.m_lastError; }
    std::string LoginText() const { return m_channel.m_loginText; }
    void SetWaitTimeout(ULONGLONG seconds) { m_channel.m_waitTimeout = seconds; }

private:
    Csocketclient& m_channel;
};
