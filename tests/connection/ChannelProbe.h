// Reads (and, for the waits, sets) what a channel keeps inside, for tests only.
#pragma once

#include <string>

#include "connection/Csocketclient.h"
#include "platform/text.h"

class ChannelProbe {
public:
    explicit ChannelProbe(Csocketclient& channel) : m_channel(channel) {}

    ULONGLONG TimerFrequency() const { return m_channel.m_timerFrequency; }
    DWORD ProxyActive() const { return m_channel.m_proxyActive; }
    DWORD LastError() const { return m_channel.m_lastError; }
    bool HasCallback() const { return m_channel.m_callback != nullptr; }
    INT SendSleep() const { return m_channel.m_sendSleep; }
    DWORD SendChunkSize() const { return m_channel.m_sendChunkSize; }
    DWORD GetPacketSize() const { return m_channel.m_getPacketSize; }
    ULONGLONG WaitTimeout() const { return m_channel.m_waitTimeout; }
    void SetWaitTimeout(ULONGLONG seconds) { m_channel.m_waitTimeout = seconds; }

    DWORD MachineMode() const { return m_channel.m_machineMode; }
    DWORD AutoSession() const { return m_channel.m_autoSession; }
    DWORD KeepAliveMode() const { return m_channel.m_keepAliveMode; }
    std::string MachineKey() const { return m_channel.m_machineKey; }
    bool HasSocket() const { return m_channel.m_socket != INVALID_SOCKET; }
    ULONGLONG CommandIndex() const { return m_channel.m_commandIndex; }
    DWORD CommandIndexWord() const { return m_channel.m_commandIndexWord; }
    DWORD Cancel() const { return m_channel.m_cancel; }
    std::string ProxyHost() const { return m_channel.m_proxyHost; }
    DWORD ProxyPort() const { return m_channel.m_proxyPort; }
    std::string ProxyUser() const { return m_channel.m_proxyUser; }
    std::string ProxyPassword() const { return m_channel.m_proxyPassword; }
    std::string ProxyAuthorization() const { return m_channel.m_proxyAuthorization; }
    DWORD ServerPort() const { return m_channel.m_serverPort; }
    std::string ServerHost() const { return m_channel.m_serverHost; }
    DWORD SessionFlagX() const { return m_channel.m_sessionFlagX; }
    ULONGLONG MachineId() const { return m_channel.m_machineId; }
    INT RecvSleep() const { return m_channel.m_recvSleep; }
    DWORD WaitBeforeChunk() const { return m_channel.m_waitBeforeChunk; }
    DWORD ProxyFallback() const { return m_channel.m_proxyFallback; }

    std::string HostName() const { return m_channel.m_hostName; }
    std::string UserName() const { return m_channel.m_userName; }
    std::string Password() const { return m_channel.m_password; }
    DWORD LoginSequence() const { return m_channel.m_loginSequence; }
    std::u16string DataFolder() const { return m_channel.m_dataFolder; }
    ULONGLONG VolumeCode(size_t drive) const { return m_channel.m_volumeCodes[drive]; }

    void SetLoginState(ULONGLONG commandIndex, DWORD authenticated, DWORD status)
    {
        m_channel.m_commandIndex = commandIndex;
        m_channel.m_authenticated = authenticated;
        m_channel.m_loginStatus = status;
    }
    void SetCancel(DWORD cancel) { m_channel.m_cancel = cancel; }
    void UtilityLog(INT type, INT level, const char16_t* text) { m_channel.m_util.Log(type, level, text); }

private:
    Csocketclient& m_channel;
};
