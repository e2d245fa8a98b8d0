// The channel: the object behind the handle that the host passes to every server operation.
// It connects and fetches the connection's command index, keeps the credentials, the
// computer's name, the data folder and the volume codes, and says farewell to the server
// when it is destroyed. It is always destroyed as a Csocketclient (the bases have no virtual
// destructor), so no class derives from it.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "connection/CTransportSocket.h"
#include "connection/ReplyReader.h"
#include "util/Cutil.h"

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
    // This computer's name as the channel sends it to the server.
    const char* GetHostName() const { return m_hostName; }

    // Connection (Csocketclient.cpp)
    virtual BOOL Connect(WCHAR* errText);
    BOOL Disconnect(INT abortive);
    BOOL CloseSocket(INT abortive) override;
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
    // The echo that tests a live connection, sent ahead when EnsureSession would send it, so
    // that a command can be prepared while it travels: the next EnsureSession takes its
    // answer as its test, and any other request takes it before it is sent. An answer still
    // due when the scope that sent the echo ends (a failure before the session check, an
    // exception) is never waited for: the connection goes with it, abortively, and the next
    // session check connects anew. So an answer never stands for the test of a later call.
    class ConnectionCheckAhead {
    public:
        explicit ConnectionCheckAhead(Csocketclient& channel);
        ~ConnectionCheckAhead();
        ConnectionCheckAhead(const ConnectionCheckAhead&) = delete;
        ConnectionCheckAhead& operator=(const ConnectionCheckAhead&) = delete;

    private:
        Csocketclient& m_channel;
        // This scope sent the echo (none was due yet).
        bool m_sent;
    };
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

    // Server commands (CsocketclientCommands.cpp). Each runs the session check, sends its
    // request and reads the reply's words and fields into the caller's out-parameters (all
    // of them valid pointers). 64-bit codes travel as two 32-bit words, low word first.
    // Replies are checked before anything is written: a reply too short for the fields it
    // claims, or a text too long for the caller's buffer, fails the call ("<name>: reply
    // malformed" in the channel log) and leaves every out-parameter but the presets alone.
    // Text buffers that come without a capacity hold kReplyTextCapacity units, the
    // terminator included (bytes for 8-bit texts, UTF-16 units for wide ones).
    // The list methods hand the received payload to the caller, who releases it with
    // Cutil::FreePacket; *replyLength (when not null) receives its length in bytes, the
    // bound for walking its records.
    static constexpr DWORD kReplyTextCapacity = 1024;
    // The channel's cache file that CloseOpenHandle removes on the server.
    static constexpr size_t kCacheNameSize = 1024;

    BOOL DeleteServerFolder(DWORD machineIdLow, DWORD machineIdHigh, DWORD volumeIdLow,
                            DWORD volumeIdHigh, DWORD folderLow, DWORD folderHigh, DWORD* status);
    BOOL DeleteServerFile(DWORD machineIdLow, DWORD machineIdHigh, DWORD volumeIdLow,
                          DWORD volumeIdHigh, DWORD folderLow, DWORD folderHigh, DWORD fileLow,
                          DWORD fileHigh, DWORD archiveLow, DWORD archiveHigh, DWORD* status);
    BOOL UpdateUsernamePassword(LPCWSTR memberAuth, LPCWSTR userName, LPCWSTR password,
                                DWORD* status);
    BOOL LastRestoreInfo(ULONGLONG* value1, ULONGLONG* value2, ULONGLONG* value3, DWORD* status);
    BOOL CancellationReasons(LPCWSTR text, DWORD value, void** reply, DWORD* count, DWORD* status,
                             DWORD* replyLength = nullptr);
    BOOL CreateAccount(LPCWSTR userName, LPCWSTR password, LPCWSTR email, LPCWSTR language,
                       LPCWSTR firstName, LPCWSTR lastName, LPCWSTR phone, DWORD* status);
    BOOL ProductList(LPCWSTR text, DWORD value1, DWORD value2, void** reply, DWORD* count,
                     DWORD* status, DWORD* replyLength = nullptr);
    BOOL MachineListEx(DWORD value, void** reply, DWORD* count, DWORD* replyLength = nullptr);
    BOOL CancelAccount(LPCWSTR serviceTag, DWORD reason, DWORD* status);
    BOOL SetMachinePlan(LPCWSTR text1, LPCWSTR text2, LPCWSTR text3, LPCWSTR text4, DWORD value1,
                        DWORD value2);
    BOOL IsWebPortalEnabledEx(DWORD* enabled);
    BOOL GetMemberStats(void** reply, DWORD* replyLength = nullptr);
    DWORD DeleteMember(LPCWSTR userName);
    DWORD GetMemberAuth(char* key);
    DWORD SetActiveMachine(LPCWSTR machine);
    BOOL CheckFile(DWORD volumeLow, DWORD volumeHigh, LPCWSTR folderPath, LPCWSTR fileName,
                   DWORD a, DWORD b, DWORD c, DWORD d, DWORD e, ULONGLONG* value1,
                   ULONGLONG* value2, ULONGLONG* value3, DWORD* result, DWORD* status);
    DWORD CheckUsername(LPCWSTR userName, DWORD* status);
    BOOL Search(void** reply, DWORD machineIdLow, DWORD machineIdHigh, LPCWSTR text,
                DWORD* replyLength = nullptr);
    DWORD GetMachineAuth(DWORD machineIdLow, DWORD machineIdHigh, DWORD machineCodeLow,
                         DWORD machineCodeHigh, char* key);
    // GetMachineAuth for the machine that logged in on this channel.
    DWORD GetMachineInformation(DWORD machineCodeLow, DWORD machineCodeHigh, char* key);
    // mode does not reach the request.
    BOOL GetDirectory(DWORD mode, void** reply, DWORD machineLow, DWORD machineHigh,
                      DWORD volumeLow, DWORD volumeHigh, DWORD folderLow, DWORD folderHigh,
                      DWORD* count, DWORD* replyLength = nullptr);
    BOOL GetRootDirectory(DWORD mode, void** reply, DWORD machineLow, DWORD machineHigh,
                          DWORD volumeLow, DWORD volumeHigh, LPCWSTR folderPath, DWORD* count,
                          DWORD* replyLength = nullptr);
    // Waits for its reply in rounds, polling the host callback between them for a cancel.
    BOOL MachineList(DWORD value, void** reply, DWORD* count, DWORD* replyLength = nullptr);
    BOOL GetVersions(void** reply, DWORD machineLow, DWORD machineHigh, DWORD volumeLow,
                     DWORD volumeHigh, DWORD folderLow, DWORD folderHigh, DWORD fileLow,
                     DWORD fileHigh, DWORD* count, DWORD* replyLength = nullptr);
    BOOL GetVolumeList(void** reply, DWORD* count, DWORD* replyLength = nullptr);
    BOOL UpdateAccountInfo(LPCWSTR name, LPCWSTR address1, LPCWSTR address2, LPCWSTR city,
                           LPCWSTR province, LPCWSTR postalCode, LPCWSTR country, LPCWSTR phone);
    BOOL GetAccountInfo(WCHAR* name, WCHAR* address1, WCHAR* address2, WCHAR* city,
                        WCHAR* province, WCHAR* postalCode, WCHAR* country, WCHAR* phone);
    BOOL UpdateMemberExtendedInfo(LPCWSTR userName, LPCWSTR secondText, LPCWSTR email,
                                  LPCWSTR language, LPCWSTR firstName, LPCWSTR lastName,
                                  LPCWSTR phone);
    BOOL GetMemberInfo(WCHAR* text1, WCHAR* text2, WCHAR* text3, WCHAR* text4, WCHAR* text5,
                       WCHAR* text6, ULONGLONG* a, ULONGLONG* b, DWORD* value1, DWORD* value2,
                       DWORD* value3, DWORD* value4, DWORD* value5, DWORD* value6);
    DWORD RemoveCacheFile(LPCSTR cacheName, DWORD reason, DWORD flag, DWORD needAuth);
    // Also run by the destructor.
    DWORD CloseOpenHandle();
    BOOL CreateMachineByAuth(LPCSTR memberAuth, LPCSTR machineName, LPCSTR hostName,
                             DWORD sourceId, ULONGLONG* machineId, char* key, DWORD* status);
    BOOL GetMachineBucketDetailsEx(ULONGLONG* quota, ULONGLONG* used, ULONGLONG* expiry,
                                   DWORD* value1, DWORD* value2, DWORD* value3, DWORD* value4,
                                   DWORD* value5, DWORD* value6, WCHAR* text1, WCHAR* text2,
                                   DWORD* last);
    // GetMachineBucketDetailsEx without the sixth word.
    BOOL GetMachineBucketDetails(ULONGLONG* quota, ULONGLONG* used, ULONGLONG* expiry,
                                 DWORD* value1, DWORD* value2, DWORD* value3, DWORD* value4,
                                 DWORD* value5, WCHAR* text1, WCHAR* text2, DWORD* last);
    // Checks a file named by its full path; volume code 0 takes the code of the path's drive.
    BOOL MyCheckFile(DWORD volumeLow, DWORD volumeHigh, LPCWSTR path, DWORD a, DWORD b, DWORD c,
                     DWORD d, DWORD e, ULONGLONG* value1, ULONGLONG* value2, ULONGLONG* value3,
                     DWORD* result, DWORD* status);
    // The volume code of the path's drive letter, 0 when there is none.
    void GetVolumeCode(LPCWSTR path, ULONGLONG* code);
    // Seal and open parameter texts (out holds 4096 characters).
    DWORD SetParameters(LPCWSTR text, WCHAR* out);
    DWORD GetParameters(LPCWSTR sealed, WCHAR* out);

    // File download (restore/CsocketclientDownload.cpp)
    // The cache name of a cached transfer, its terminator included.
    static constexpr size_t kDownloadNameSize = 2048;
    // Work of the caller's that a download runs once, whatever becomes of it: after path is
    // checked and before anything but the echo that tests the connection is sent, so that it
    // takes none of the time of the echo's round trip.
    using Preparation = std::function<void()>;
    // Builds the file request from its eleven words and runs GetFile with it; 0 when the
    // request cannot be built (the out-values are then untouched).
    INT RequestFile(DWORD w1, DWORD w2, DWORD w3, DWORD w4, DWORD w5, DWORD w6, DWORD w7,
                    DWORD w8, DWORD w9, DWORD w10, const WCHAR* path, const WCHAR* finalPath,
                    DWORD w11, DWORD* word, DWORD* done, DWORD* fileTime,
                    const Preparation& preparation = {});
    // Sends a file request (and releases it in every case), then receives the file as one
    // compressed reply written to finalPath or as a cached transfer written to path. Gives 1
    // when the file is there; on 0 the file it was writing is deleted. A path that the
    // download refuses is refused before anything is sent.
    INT GetFile(DWORD requestLength, void* request, const WCHAR* path, const WCHAR* finalPath,
                DWORD* word, DWORD* done, DWORD* fileTime, const Preparation& preparation = {});

private:
    friend class ChannelProbe;
    friend class SessionProbe;
    friend class CommandProbe;
    friend class DownloadProbe;

    // Session and authentication (CsocketclientSession.cpp)
    // Sends a request and releases it, sent or not; the answer to an echo still due is taken
    // first.
    BOOL SendPacket(void* packet, DWORD length);
    // Sends a request once no reply is due before it; a reply still due is that of an
    // exchange left halfway, and the connection is closed instead.
    BOOL SendRequest(const void* packet, DWORD length);
    static void PresetLogin(char* loginText, DWORD* status, LoginReply* fields);
    static BOOL ParseAuthReply(const void* payload, DWORD length, char* loginText, DWORD* status,
                               DWORD* sequence, LoginReply* fields);
    DWORD Login(DWORD machineMode, DWORD* maintenance, DWORD* lockedout);
    // The session flags as they stand before a login.
    void ResetSessionFlags();
    void ApplyLoginReply(DWORD machineMode, const LoginReply& fields, DWORD* maintenance,
                         DWORD* lockedout);
    // Tests a live connection and closes it when it no longer answers.
    void CheckConnection();
    // Sends the echo of ConnectionCheckAhead when the session check would test the connection
    // with one and none is due yet; true when it did. A failed send closes the connection.
    bool StartConnectionCheck();
    // Takes the answer to that echo now, if it is still due, and closes the connection when
    // it is wrong or missing. The echo stays due until its answer has been taken whole.
    void FinishConnectionCheck();
    bool SendEcho(DWORD size);
    bool ReceiveEcho();

    // How one command travels (CsocketclientCommands.cpp).
    struct CommandRun {
        // The name in front of the command's log lines.
        const char* logName = nullptr;
        bool checkSession = true;
        DWORD needAuth = 1;
        // The command leaves 1000, 1100, 1200 or 1400 as the last error when it fails.
        bool keepsErrors = false;
        bool clearsCancel = false;
        // The reply is awaited with cancel polls before it is received.
        bool pollsWhileWaiting = false;
    };
    // A received reply, released with the object unless it is handed over.
    struct CommandReply {
        const char* logName = nullptr;
        PacketBuffer payload{};
        DWORD length = 0;
        explicit operator bool() const { return payload != nullptr; }
        ReplyReader Reader(DWORD offset = 0) const
        {
            return ReplyReader(payload.get(), length, offset);
        }
        // The first word, or 0 when the reply is too short to hold one.
        DWORD FirstWord() const
        {
            DWORD word = 0;
            Reader().U32(&word);
            return word;
        }
    };

    // Session check, request built by build(&packet), sent, released and answered.
    template <typename Build>
    CommandReply RunCommand(const CommandRun& run, Build build);
    CommandReply ExchangePacket(const CommandRun& run, void* packet, DWORD length);
    // Receives the reply of the command named logName; its length is 0 (and the failure
    // logged) when none came.
    CommandReply ReceiveReply(const char* logName);
    CommandReply FailCommand(const CommandRun& run, DWORD error);
    BOOL WaitForReply();
    // Logs the reply as malformed; gives 0.
    BOOL RefuseReply(const CommandReply& reply);
    // The readers give the result word, 0 when there is no reply or it is malformed.
    DWORD ReadResultWord(const CommandReply& reply);
    DWORD ReadStatusReply(const CommandReply& reply, DWORD* status);
    DWORD ReadValueReply(const CommandReply& reply, DWORD* status, ULONGLONG* value1,
                         ULONGLONG* value2, ULONGLONG* value3);
    // For replies whose fields follow w0 and w1 only when w0 is not 0: a reader at the
    // fields, or none when there is no reply, w0 is 0, or w0 or w1 is missing (the reply is
    // then logged as malformed).
    std::optional<ReplyReader> SuccessFields(const CommandReply& reply);
    // Hand the payload over when it holds at least its leading words.
    BOOL HandOverReply(CommandReply& reply, DWORD minimum, void** out, DWORD* replyLength);
    BOOL HandOverList(CommandReply& reply, void** out, DWORD* count, DWORD* replyLength);
    BOOL HandOverCountedReply(CommandReply& reply, void** out, DWORD* count, DWORD* status,
                              DWORD* replyLength);
    // An error line of MyCheckFile naming the path (level 10).
    void LogCheckFilePath(const WCHAR* format, LPCWSTR path);

    // File download (restore/CsocketclientDownload.cpp)
    struct Download;
    struct CachePacket;
    enum class ReplyWait { Ready, SelectFailed, Cancelled };
    ReplyWait WaitForFileReply();
    INT ReceiveSingleFile(Download& download, void* reply, DWORD length);
    INT WriteSingleFile(Download& download, void* data, DWORD length, DWORD compressedSize);
    INT ReceiveCachedFile(Download& download, void* reply, DWORD length);
    bool ReadCacheName(Download& download, void* reply, DWORD length);
    enum class CacheExchange { Received, NotBuilt, SendFailed, ReceiveFailed, Cancelled };
    CacheExchange ExchangeCachePacket(const Download& download, ULONGLONG offset, DWORD attempts,
                                      void** reply, DWORD* length);
    bool TryAgain(DWORD* attempts, const WCHAR* retryFormat);
    bool AppendToFile(Download& download, const BYTE* data, DWORD length);
    INT FinishCachedFile(Download& download, ULONGLONG received, ULONGLONG total);
    // Ends a cached transfer early: asks the server to remove its cache file for reason,
    // deletes the local file and gives 0.
    INT AbandonCachedFile(Download& download, DWORD reason);
    // Closes and deletes the local file of a failed download; gives 0.
    INT DiscardFile(Download& download);
    // Raises an event whose answer is ignored; nothing without a callback.
    void RaiseEvent(DWORD code, const WCHAR* text, ULONGLONG value);
    // Raises an event whose answer is kept as the last error; a non-zero answer sets the
    // cancel flag and gives true. Never cancels without a callback.
    bool HostCancels(DWORD code, ULONGLONG value);
    void RaiseServerText(const ReplyReader::Text& text);

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
    char m_pendingCacheName[kCacheNameSize] = {};

    // The cache file of the running (or last) cached transfer.
    char m_cacheName[kDownloadNameSize] = {};
    // The system error of the download's last failed folder creation or file write.
    DWORD m_systemError = 0;
    // An echo sent ahead whose answer is still to be taken; set before the echo is sent, so
    // that nothing on the way out of its sending leaves it unsettled.
    bool m_echoPending = false;
};
