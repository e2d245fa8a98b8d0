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

    // Session and authentication (CsocketclientSession.cpp)
    // The login reply's fields after its text, but for the sequence word, which goes to the
    // caller's sequence word.
    struct LoginReply {
        DWORD sessionValue = 0;
        DWORD refusalFlag = 0;
        DWORD refusalCode = 0;
        DWORD authValueA = 0;
        DWORD logLevel = 0;
        DWORD authValueB = 0;
        DWORD lockedOut = 0;
        DWORD flagX = 0;
        DWORD flag80 = 0;
        DWORD flag100 = 0;
        DWORD sessionValueA = 0;
        DWORD sessionValueB = 0;
        ULONGLONG machineId = 0;
        ULONGLONG reserved = 0;
        DWORD maintenance = 0;
        DWORD sessionValueC = 0;
    };
    static constexpr size_t kLoginTextSize = 256;

    // Connects, fetches a command index and logs in as far as the channel's automatic session
    // (or force) asks; false when the command must not be sent.
    virtual BOOL EnsureSession(DWORD needAuth, DWORD force);
    DWORD AuthenticateUser(DWORD* sequence, char* userName, char* password, char* loginText,
                           DWORD* status, LoginReply* fields);
    DWORD MachineAuthentication(const char* machineKey, DWORD* sequence, char* loginText,
                                DWORD* status, LoginReply* fields);
    DWORD LoginUser(DWORD* maintenance, DWORD* lockedout);
    DWORD LoginMachine(DWORD* maintenance, DWORD* lockedout);
    DWORD EchoTest(DWORD size);
    // dataServer holds 65 bytes, text 4096.
    DWORD GetSettings(char* dataServer, DWORD* first, DWORD* maintenance, char* text,
                      DWORD needAuth);
    // Reads one reply string (u32 byte count, UTF-16LE bytes) at *offset of a reply of length
    // bytes into out, which holds capacity code units, and moves *offset behind it. A count
    // that runs past the reply, is odd, or leaves no room for the terminator is refused:
    // FALSE, with out and *offset untouched.
    static BOOL ReadReplyString(const void* payload, DWORD length, DWORD* offset, WCHAR* out,
                                DWORD capacity);

private:
    friend class ChannelProbe;
    friend class SessionProbe;

    // Session and authentication (CsocketclientSession.cpp)
    BOOL SendPacket(void* packet, DWORD length);
    static void PresetLogin(char* loginText, DWORD* status, LoginReply* fields);
    static BOOL ParseAuthReply(const void* payload, DWORD length, char* loginText, DWORD* status,
                               DWORD* sequence, LoginReply* fields);
    DWORD Login(DWORD machineMode, DWORD* maintenance, DWORD* lockedout);
    void ApplyLoginReply(DWORD machineMode, const LoginReply& fields, DWORD* maintenance,
                         DWORD* lockedout);
    // Tests a live connection and closes it when it no longer answers.
    void CheckConnection();

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
    // The text of the last login reply; nothing reads it.
    char m_loginText[kLoginTextSize] = {};
    // The session value of the last accepted login; nothing reads it.
    DWORD m_sessionValue = 1;
    // The maintenance word of the session check's logins; nothing reads it.
    DWORD m_sessionMaintenance = 0;
};
