// The TCP part of a channel: sending and receiving over the socket, the waits for
// readability and writability, closing, and connecting directly or through an HTTP proxy
// tunnel; with the server, proxy and login-state fields that belong to the connection.
#pragma once

#include <algorithm>

#include "connection/CHelloAnswer.h"
#include "connection/CTransport.h"
#include "platform/winsock.h"

class CTransportSocket : public CTransport {
public:
    // Capacity, in characters with the terminator, of the error-text buffer that a connect
    // takes; longer texts are cut to fit.
    static constexpr size_t kErrorTextCapacity = 1024;
    static constexpr DWORD kDefaultServerPort = 443;
    // Never resolves: a channel must be told its server before it connects.
    static constexpr const char* kDefaultServerHost = "server.kelvane.invalid";

    BOOL SendData(const void* buffer, DWORD length, DWORD payloadLength,
                  DWORD* socketError) override;
    DWORD ReceiveData(void* buffer, DWORD n) override;
    BOOL WaitToSendData(ULONGLONG timeoutSeconds, DWORD* selectFailed) override;
    BOOL WaitToRecvData(DWORD count, ULONGLONG timeoutSeconds, DWORD* selectFailed) override;
    BOOL CloseSocket(INT abortive) override;
    virtual BOOL SocketConnect(WCHAR* errText);

    BOOL WaitWritable(SOCKET socket, ULONGLONG timeoutSeconds, DWORD* selectFailed);

    DWORD IsConnected() const { return m_connected; }
    // Host name or dotted address of the server this channel connects to.
    const char* GetServerHost() const { return m_serverHost; }
    DWORD IsAuthenticated() const { return m_authenticated; }

    // Connection settings.
    void SetUseProxy(DWORD on) { m_proxyActive = on; }
    void SetProxy(const WCHAR* host, DWORD port);
    void SetProxyCredentials(const WCHAR* user, const WCHAR* password);
    void SetProxyFallback(DWORD on) { m_proxyFallback = on; }
    void SetWaitBeforeChunk(DWORD on) { m_waitBeforeChunk = on; }
    void SetSendSleep(INT milliseconds) { m_sendSleep = milliseconds; }
    void SetRecvSleep(INT milliseconds) { m_recvSleep = milliseconds; }
    void SetAutoSession(DWORD on) { m_autoSession = on; }
    void SetMachineKey(const char* key);
    void SetMachineId(DWORD low, DWORD high) { m_machineId = (ULONGLONG{high} << 32) | low; }

    // Session flags and values of the last login.
    DWORD GetSessionFlag40() const { return m_loginStatus; }
    DWORD GetSessionFlag80() const { return m_sessionFlag80; }
    void SetSessionFlag80(DWORD value) { m_sessionFlag80 = value; }
    DWORD GetSessionFlag100() const { return m_sessionFlag100; }
    void SetSessionFlag100(DWORD value) { m_sessionFlag100 = value; }
    DWORD GetSessionFlag2() const { return m_sessionFlag2; }
    void SetSessionFlag2(DWORD value) { m_sessionFlag2 = value; }
    DWORD GetSessionFlag4() const { return m_sessionFlag4; }
    void SetSessionFlag4(DWORD value) { m_sessionFlag4 = value; }
    DWORD GetSessionFlag8() const { return m_sessionFlag8; }
    void SetSessionFlag8(DWORD value) { m_sessionFlag8 = value; }
    DWORD GetSessionFlag400() const { return m_sessionFlag400; }
    void SetSessionFlagX(DWORD value) { m_sessionFlagX = value; }
    void SetSessionValueA(DWORD value) { m_sessionValueA = value; }
    void SetSessionValueB(DWORD value) { m_sessionValueB = value; }
    void SetSessionValueC(DWORD value) { m_sessionValueC = value; }

protected:
    static constexpr size_t kTextFieldSize = 1024;

    CTransportSocket();
    ~CTransportSocket() = default;

    // Converts a UTF-16 text with the ANSI code page into a narrow field of
    // kTextFieldSize bytes; a null text or one that does not fit leaves the field as it was.
    static void StoreAnsiText(const WCHAR* text, char* field);
    // The same conversion into a buffer of kTextFieldSize bytes; false for a null text or one
    // that does not fit.
    static bool ConvertAnsiText(const WCHAR* text, char* converted);

    DWORD m_machineMode;
    DWORD m_autoSession;
    DWORD m_keepAliveMode;
    char m_machineKey[kTextFieldSize];
    DWORD m_connected;
    SOCKET m_socket;
    ULONGLONG m_commandIndex;
    DWORD m_cancel;
    char m_proxyHost[kTextFieldSize];
    DWORD m_proxyPort;
    char m_proxyUser[kTextFieldSize];
    char m_proxyPassword[kTextFieldSize];
    char m_proxyAuthorization[kTextFieldSize];
    DWORD m_serverPort;
    char m_serverHost[kTextFieldSize];
    DWORD m_authenticated;
    DWORD m_loginStatus;
    DWORD m_sessionFlag2;
    DWORD m_sessionFlag4;
    DWORD m_sessionFlag8;
    DWORD m_sessionFlag80;
    DWORD m_sessionFlag100;
    DWORD m_sessionFlag400;
    DWORD m_sessionFlagX;
    ULONGLONG m_machineId;
    INT m_recvSleep;
    DWORD m_waitBeforeChunk;
    DWORD m_proxyFallback;
    DWORD m_sessionValueA;
    DWORD m_sessionValueB;
    DWORD m_sessionValueC;

private:
    enum class WaitFor { Reading, Writing, WritingLogged };

    // The proxy's answer header must fit this many bytes.
    static constexpr DWORD kProxyAnswerCapacity = 4095;
    // The server's answer to the hello is read with a first receive of this many bytes.
    static constexpr DWORD kHelloReceiveSize = 4096;

    BOOL SendDataWhole(const char* buffer, DWORD length, DWORD* socketError);
    BOOL SendDataLogged(const char* buffer, DWORD length);
    DWORD ReceiveDataFast(char* buffer, DWORD n);
    DWORD ReceiveDataLogged(char* buffer, DWORD n);
    // One receive into buffer + received of at most the get-packet size of the n - received
    // bytes still missing: from the bytes received ahead, else one recv. A short piece
    // (a frame's header word) takes a whole frame header from the socket and keeps the rest
    // ahead, so that the next word needs neither a wait nor a system call.
    int ReceivePiece(char* buffer, DWORD received, DWORD n);
    // Sleeps the receive sleep and polls the host for a cancellation after a received
    // piece; false when the host cancelled (the socket is closed then).
    bool ContinueAfterPiece(bool logged);
    BOOL Wait(SOCKET socket, WaitFor kind, ULONGLONG timeoutSeconds, DWORD* selectFailed);
    // Waits until the deadline, in ticks of the time base; timeoutSeconds is only logged.
    BOOL WaitUntil(SOCKET socket, WaitFor kind, ULONGLONG timeoutSeconds, ULONGLONG start,
                   ULONGLONG deadline, DWORD* selectFailed);
    ULONGLONG WaitDeadline() const;

    BOOL CreateConnectedSocket(const char* host, DWORD port, WCHAR* errText);
    BOOL TryProxyConnect(const char* host, DWORD port, WCHAR* errText);
    BOOL OpenSocket(WCHAR* errText);
    void LimitTransferTime();
    BOOL ConnectDirect(const char* host, DWORD port, WCHAR* errText);
    // Reads a host name or dotted address into an IPv4 address; false when it has none.
    static bool ResolveAddress(const char* host, DWORD port, SOCKADDR_IN* address);
    static void FormatDottedAddress(const SOCKADDR_IN& address, char* text, size_t capacity);
    BOOL SendProxyRequest(const char* host, DWORD port);
    // How much of the proxy's answer header came.
    enum class ProxyHeader {
        None,        // nothing: the read failed
        Whole,       // up to its blank line; the bytes after it start the tunnel's stream
        StatusLine,  // its status line, and no more within the grace: judged by that line
        Cut,         // it filled the answer buffer, or still came at the deadline
    };
    // Reads the proxy's answer into answer (kProxyAnswerCapacity bytes and a terminator).
    ProxyHeader ReceiveProxyHeader(char* answer);
    // Reads the server's answer to the hello and discards it; only bytes that came with the
    // proxy's header after a complete SSL 3 greeting are left to the frame reader. False when
    // the connection failed or was closed on the way.
    bool ReceiveHelloAnswer();
    // Reads on while the answer is an unfinished greeting, each read asking only for the
    // bytes its record lacks and waiting at most the grace.
    bool ReceiveRestOfGreeting(CHelloAnswer& answer, ULONGLONG deadline);
    // Discards what more of an answer that may go on is coming; false when it was still
    // coming at the answer's bound or the deadline, which closes the connection.
    bool DiscardRestOfAnswer(DWORD taken, ULONGLONG deadline);
    // Closes the connection of an answer that has reached its bound; gives false.
    bool RefuseLongAnswer();
    // What a read after the first of the set-up found.
    enum class Arrival {
        Received,  // bytes
        Quiet,     // nothing within a whole grace: the peer has said what it had to say
        Overdue,   // the deadline has come before the peer had been quiet for a grace
        Failed,    // the connection failed or was closed (the socket is closed)
    };
    Arrival ReceiveWithinGrace(char* buffer, DWORD size, ULONGLONG deadline, INT* received);
    // One receive of what the peer has sent, by the deadline: first what is left of the
    // bytes received ahead, else one recv. The byte count, or 0 on failure.
    INT ReceivePendingData(char* buffer, DWORD size, ULONGLONG deadline);
    // Ends a set-up read that timed out or whose wait failed.
    void FailSetUpRead(DWORD selectFailed);
    // Keeps bytes read past what the set-up needed, for the frame reader.
    void KeepAhead(const char* bytes, DWORD count);
    // Hands over up to size bytes of those received ahead; the count.
    DWORD TakeAhead(char* buffer, DWORD size);

    // Bytes of the stream read from the socket before anyone asked for them (the start of
    // the tunnel's stream that came with the proxy's answer, the rest of a frame header):
    // every receive takes them before it reads the socket, and a wait to read finds them
    // ready.
    char m_ahead[std::max(kProxyAnswerCapacity, kHelloReceiveSize)];
    DWORD m_aheadOffset;
    DWORD m_aheadLength;
};

// Writes the standard Base64 of a NUL-terminated text and a terminator; out must hold
// 4 * ceil(length / 3) + 1 bytes.
void Base64Encode(char* out, const char* text);
