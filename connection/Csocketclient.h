// The channel: the object behind the handle that the host passes to every server operation.
// It connects and fetches the connection's command index, keeps the credentials, the
// computer's name, the data folder and the volume codes, and says farewell to the server
// when it is destroyed. It is always destroyed as a Csocketclient (the bases have no virtual
// destructor), so no class derives from it.
#pragma once

#include "connection/CTransportSocket.h"

class Csocketclient final : public CTransportSocket {
public:
    static constexpr size_t kHostNameSize = 256;
    // Computer names longer than this are cut to kHostNameCut characters.
    static constexpr size_t kHostNameLimit = 32;
    static constexpr size_t kHostNameCut = 31;
    static constexpr size_t kCredentialSize = 1024;
    static constexpr size_t kDataFolderSize = 1024;
    static constexpr size_t kVolumeCodeCount = 32;

    Csocketclient();
    ~Csocketclient();
    Csocketclient(const Csocketclient&) = delete;
    Csocketclient& operator=(const Csocketclient&) = delete;

    // Settings (Csocketclient.cpp)
    BOOL ResetSession();
    BOOL SetServer(const WCHAR* host, DWORD port);
    BOOL SetUserCredentials(const WCHAR* user, const WCHAR* password);

    // Connection (Csocketclient.cpp)
    virtual BOOL Connect(WCHAR* errText);
    BOOL Disconnect(INT abortive);
    DWORD GetCommandIndex(WCHAR* errText);

private:
    friend class ChannelProbe;

    void ReadDataFolder();
    void ReadHostName();
    // Writes a narrow failure text into the caller's error text and the channel log.
    void ReportCommandIndexFailure(WCHAR* errText, const char* errorFormat, const char* logFormat);

    char m_hostName[kHostNameSize];
    char m_userName[kCredentialSize];
    char m_password[kCredentialSize];
    DWORD m_loginSequence;
    WCHAR m_dataFolder[kDataFolderSize];
    ULONGLONG m_volumeCodes[kVolumeCodeCount];
    // The last word of the command-index reply.
    DWORD m_commandIndexWord;
};
