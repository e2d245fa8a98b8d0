#include "connection/CTransportSocket.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/module.h"
#include "platform/text.h"

namespace {

// The longest single wait in select; the waits loop until their deadline.
constexpr ULONGLONG kWaitSliceMilliseconds = 1000;
// A frame header: the words cbData and dwCrcPacket.
constexpr DWORD kFrameHeaderLength = 8;
// Largest "user:password" whose Base64 and terminator fit the authorization field.
constexpr size_t kMaximumCredentialPair = 765;
// The proxy status that opens the tunnel.
constexpr INT kTunnelOpened = 200;
// How long a read after the first of the set-up waits for more: a peer that has sent part of
// an answer and then nothing for this long has said what it had to say.
constexpr ULONGLONG kAnswerGraceSeconds = 2;
// The longest pause between the segments of an answer that may go on after it ended.
constexpr ULONGLONG kAnswerPauseMilliseconds = 250;
// The most of the server's answer to the hello that is read. A greeting that has not ended by
// then never will, and what is left of it must not be taken for frames.
constexpr DWORD kHelloAnswerLimit = 0x10000;

const char kProxyRequest[] =
    "CONNECT %s:%d HTTP/1.0\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0)\r\n"
    "Host: %s\r\nContent-Length: 0\r\nProxy-Connection: Keep-Alive\r\nPragma: no-cache\r\n\r\n";
const char kProxyRequestWithAuthorization[] =
    "CONNECT %s:%d HTTP/1.0\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.5; Windows NT 5.0)\r\n"
    "Host: %s\r\nContent-Length: 0\r\nProxy-Connection: Keep-Alive\r\nPragma: no-cache\r\n"
    "Proxy-Authorization: Basic %s\r\n\r\n";

// Sent through a proxy tunnel once it stands: a CLIENT-HELLO record of SSL 2.0 form that
// announces version 3.0, with 17 cipher codes and a fixed challenge, and one zero byte.
constexpr DWORD kHelloRecordLength = 79;
const BYTE kHelloRecord[kHelloRecordLength] = {
    0x80, 0x4C, 0x01, 0x03, 0x00, 0x00, 0x33, 0x00, 0x00, 0x00, 0x10,
    0x00, 0x00, 0x04, 0x00, 0x00, 0x05, 0x00, 0x00, 0x0A, 0x01, 0x00, 0x80,
    0x07, 0x00, 0xC0, 0x03, 0x00, 0x80, 0x00, 0x00, 0x09, 0x06, 0x00, 0x40,
    0x00, 0x00, 0x64, 0x00, 0x00, 0x62, 0x00, 0x00, 0x03, 0x00, 0x00, 0x06,
    0x02, 0x00, 0x80, 0x04, 0x00, 0x80, 0x00, 0x00, 0x13, 0x00, 0x00, 0x12,
    0x00, 0x00, 0x63,
    0xCC, 0xA6, 0xF8, 0x01, 0x0F, 0x43, 0x45, 0x01, 0x5B, 0x23, 0x9C, 0x58,
    0x64, 0xAD, 0x64, 0xDB,
    0x00};

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

template <typename... Args>
void PrintLine(const char* format, const Args&... args)
{
    char text[256];
    FormatA(text, sizeof text, format, args...);
    std::fputs(text, stdout);
}

// The status code of a proxy's status line, which ends at the answer's first CR, LF or NUL:
// the number after its first blank (or at its start when it has none), 0 when there is none.
INT ProxyStatus(const char* answer)
{
    const char* end = answer + std::strcspn(answer, "\r\n");
    const char* blank = static_cast<const char*>(std::memchr(answer, ' ', end - answer));
    const char* digits = blank != nullptr ? blank : answer;
    while (digits < end && *digits == ' ')
        ++digits;
    INT status = 0;
    for (; digits < end && *digits >= '0' && *digits <= '9' && status < 100000; ++digits)
        status = status * 10 + (*digits - '0');
    return status;
}

// Whether the status line has ended in the bytes received so far.
bool StatusLineEnded(std::string_view received)
{
    return received.find_first_of("\r\n") != std::string_view::npos;
}

// Where the blank line that ends a header lies in the bytes received so far: the offset just
// after it, or 0 while it has not come. Lines may end in CR LF or in a bare LF, and so may
// the blank line after either.
size_t HeaderEnd(std::string_view received)
{
    size_t end = 0;
    for (std::string_view blankLine : {std::string_view("\n\n"), std::string_view("\n\r\n")}) {
        size_t at = received.find(blankLine);
        if (at != std::string_view::npos && (end == 0 || at + blankLine.size() < end))
            end = at + blankLine.size();
    }
    return end;
}

}

CTransportSocket::CTransportSocket()
    : m_machineMode(0),
      m_autoSession(0),
      m_keepAliveMode(1),
      m_machineKey{},
      m_connected(0),
      m_socket(INVALID_SOCKET),
      m_commandIndex(0),
      m_cancel(0),
      m_proxyHost{},
      m_proxyPort(0),
      m_proxyUser{},
      m_proxyPassword{},
      m_proxyAuthorization{},
      m_serverPort(kDefaultServerPort),
      m_serverHost{},
      m_authenticated(0),
      m_loginStatus(0),
      m_sessionFlag2(0),
      m_sessionFlag4(0),
      m_sessionFlag8(0),
      m_sessionFlag80(1),
      m_sessionFlag100(1),
      m_sessionFlag400(0),
      m_sessionFlagX(0),
      m_machineId(0),
      m_recvSleep(10),
      m_waitBeforeChunk(0),
      m_proxyFallback(0),
      m_sessionValueA(0),
      m_sessionValueB(0),
      m_sessionValueC(0),
      m_ahead{},
      m_aheadOffset(0),
      m_aheadLength(0)
{
    std::strcpy(m_serverHost, kDefaultServerHost);
}

// ---- Sending ----

BOOL CTransportSocket::SendData(const void* buffer, DWORD length, DWORD payloadLength,
                                DWORD* socketError)
{
    const char* bytes = static_cast<const char*>(buffer);
    if (m_logLevel >= 30)
        return SendDataLogged(bytes, length);
    return SendDataWhole(bytes, length, socketError);
}

BOOL CTransportSocket::SendDataWhole(const char* buffer, DWORD length, DWORD* socketError)
{
    m_lastError = kErrorNone;
    if (m_socket == INVALID_SOCKET) {
        m_lastError = kErrorNoSocket;
        return FALSE;
    }
    DWORD sent = 0;
    while (sent < length) {
        int piece = static_cast<int>(std::min<DWORD>(length - sent, 0x7FFFFFFF));
        int result = send(m_socket, buffer + sent, piece, 0);
        if (result == SOCKET_ERROR || result == 0) {
            *socketError = static_cast<DWORD>(WSAGetLastError());
            CloseSocket(0);
            m_lastError = result == 0 ? kErrorClosedByPeer : kErrorTimeout;
            return FALSE;
        }
        sent += static_cast<DWORD>(result);
    }
    return TRUE;
}

BOOL CTransportSocket::SendDataLogged(const char* buffer, DWORD length)
{
    m_lastError = kErrorNone;
    if (m_socket == INVALID_SOCKET) {
        m_lastError = kErrorNoSocket;
        return FALSE;
    }
    LogFormatA(kTypeInformation, 40, "thread %ld: SendData [%lu]", GetCurrentThreadId(), length);
    ULONGLONG t0;
    GetTimestamp(&t0);
    DWORD sent = 0;
    while (sent < length) {
        DWORD pieceEnd = sent + std::min(m_sendChunkSize, length - sent);
        if (m_waitBeforeChunk) {
            DWORD selectFailed = 0;
            BOOL writable = m_logLevel >= 40 ? WaitToSendData(m_waitTimeout, &selectFailed)
                                             : WaitWritable(m_socket, m_waitTimeout, &selectFailed);
            if (!writable) {
                CloseSocket(0);
                m_lastError = kErrorTimeout;
                if (!selectFailed)
                    LogFormatA(kTypeError, 30, "timeout waiting to send (%ld,%ld,%ld,%ld)", sent,
                               length, pieceEnd, m_sendChunkSize);
                return FALSE;
            }
        }
        int piece = static_cast<int>(std::min<DWORD>(pieceEnd - sent, 0x7FFFFFFF));
        int result = send(m_socket, buffer + sent, piece, 0);
        if (result == SOCKET_ERROR) {
            int error = WSAGetLastError();
            CloseSocket(0);
            m_lastError = kErrorTimeout;
            LogFormatA(kTypeError, 30, "SendData: send error wsaerror %d (%ld,%ld,%ld)", error, sent,
                       length, pieceEnd);
            return FALSE;
        }
        if (result == 0) {
            CloseSocket(0);
            m_lastError = kErrorClosedByPeer;
            LogFormatA(kTypeError, 30, "SendData: connection closed");
            return FALSE;
        }
        sent += static_cast<DWORD>(result);
        LogFormatA(kTypeInformation, 40, "thread %ld: SendDataChunk [%lu]", GetCurrentThreadId(),
                   result);
    }
    ULONGLONG t1;
    GetTimestamp(&t1);
    if (m_logLevel == 50)
        LogFormatA(kTypeError, 50, "thread %ld: SendData", GetCurrentThreadId());
    LogFormatA(kTypeInformation, 40, "thread %ld: SendData ok [%lu][%I64u][%I64u][%I64u][%I64u]",
               GetCurrentThreadId(), sent, ElapsedMilliseconds(t0, t1), t0, t1, m_timerFrequency);
    return TRUE;
}

// ---- Receiving ----

DWORD CTransportSocket::ReceiveData(void* buffer, DWORD n)
{
    char* bytes = static_cast<char*>(buffer);
    if (m_logLevel < 30)
        return ReceiveDataFast(bytes, n);
    return ReceiveDataLogged(bytes, n);
}

DWORD CTransportSocket::ReceiveDataFast(char* buffer, DWORD n)
{
    if (m_socket == INVALID_SOCKET)
        return 0;
    // Nothing to wait for: an empty receive fails at once instead of after the wait.
    if (n == 0)
        return 0;
    DWORD selectFailed = 0;
    if (!WaitToRecvData(n, m_waitTimeout, &selectFailed)) {
        if (selectFailed) {
            CloseSocket(1);
            m_lastError = kErrorTimeout;
            return 0;
        }
        std::fputs("ReceiveDataFast: WaitTo RecvData failed\n", stdout);
        CloseSocket(0);
        return 0;
    }
    DWORD received = 0;
    while (received < n) {
        int result = ReceivePiece(buffer, received, n);
        if (result == SOCKET_ERROR || result == 0) {
            PrintLine(result == 0 ? "thread %ld: ReceiveDataFast: recv2 failed wsaerror (%ld)\n"
                                  : "thread %ld: ReceiveDataFast: recv1 failed wsaerror (%ld)\n",
                      GetCurrentThreadId(), WSAGetLastError());
            CloseSocket(0);
            return 0;
        }
        FoldPayloadPiece(buffer + received, static_cast<DWORD>(result));
        received += static_cast<DWORD>(result);
        if (!ContinueAfterPiece(false))
            return 0;
    }
    return n;
}

DWORD CTransportSocket::ReceiveDataLogged(char* buffer, DWORD n)
{
    if (m_socket == INVALID_SOCKET)
        return 0;
    LogFormatA(kTypeInformation, 40, "thread %ld: ReceiveData [%lu]", GetCurrentThreadId(), n);
    if (m_waitBeforeChunk && n != 0) {
        DWORD selectFailed = 0;
        if (!WaitToRecvData(std::min<DWORD>(n, 16), m_waitTimeout, &selectFailed)) {
            if (selectFailed) {
                CloseSocket(1);
                m_lastError = kErrorTimeout;
                return 0;
            }
            int error = WSAGetLastError();
            CloseSocket(0);
            LogFormatA(kTypeError, 30,
                       "CTransportSocket::ReceiveData WaitTo RecvData timeout wsaerror (%d) on (%ld)",
                       error, n);
            return 0;
        }
    }
    DWORD received = 0;
    while (received < n) {
        int result = ReceivePiece(buffer, received, n);
        if (result == SOCKET_ERROR) {
            int error = WSAGetLastError();
            CloseSocket(0);
            LogFormatA(kTypeError, 30, "CTransportSocket::ReceiveData recv error wsaerror %d", error);
            return 0;
        }
        if (result == 0) {
            LogFormatA(kTypeInformation, 30, "ReceiveData nRecv == 0");
            CloseSocket(0);
            return 0;
        }
        FoldPayloadPiece(buffer + received, static_cast<DWORD>(result));
        received += static_cast<DWORD>(result);
        if (m_logLevel == 50)
            LogFormatA(kTypeError, 50, "thread %ld: ReceiveData", GetCurrentThreadId());
        if (!ContinueAfterPiece(true))
            return 0;
    }
    LogFormatA(kTypeInformation, 40, "thread %ld: ReceiveData ok [%lu]", GetCurrentThreadId(),
               received);
    return received;
}

int CTransportSocket::ReceivePiece(char* buffer, DWORD received, DWORD n)
{
    const DWORD pieceSize = std::max<DWORD>(m_getPacketSize, 1);
    const int piece = static_cast<int>(std::min({pieceSize, n - received, DWORD{0x7FFFFFFF}}));
    if (m_aheadOffset < m_aheadLength)
        return static_cast<int>(TakeAhead(buffer + received, static_cast<DWORD>(piece)));
    if (piece >= static_cast<int>(kFrameHeaderLength))
        return recv(m_socket, buffer + received, piece, 0);
    const int result = recv(m_socket, m_ahead, static_cast<int>(kFrameHeaderLength), 0);
    if (result <= 0)
        return result;
    m_aheadOffset = 0;
    m_aheadLength = static_cast<DWORD>(result);
    return static_cast<int>(TakeAhead(buffer + received, static_cast<DWORD>(piece)));
}

bool CTransportSocket::ContinueAfterPiece(bool logged)
{
    if (m_recvSleep > 0)
        Sleep(static_cast<DWORD>(m_recvSleep));
    if (m_callback == nullptr)
        return true;
    DWORD answer = PollCallback(kCodeCancelPoll, 0);
    if (answer == 0)
        return true;
    if (logged)
        LogFormatA(kTypeInformation, 30, "ReceiveData m_callback [%lu]", answer);
    m_cancel = 1;
    CloseSocket(0);
    return false;
}

// ---- Waiting ----

BOOL CTransportSocket::WaitToRecvData(DWORD count, ULONGLONG timeoutSeconds, DWORD* selectFailed)
{
    return Wait(m_socket, WaitFor::Reading, timeoutSeconds, selectFailed);
}

BOOL CTransportSocket::WaitToSendData(ULONGLONG timeoutSeconds, DWORD* selectFailed)
{
    return Wait(m_socket, WaitFor::WritingLogged, timeoutSeconds, selectFailed);
}

BOOL CTransportSocket::WaitWritable(SOCKET socket, ULONGLONG timeoutSeconds, DWORD* selectFailed)
{
    return Wait(socket, WaitFor::Writing, timeoutSeconds, selectFailed);
}

BOOL CTransportSocket::Wait(SOCKET socket, WaitFor kind, ULONGLONG timeoutSeconds,
                            DWORD* selectFailed)
{
    *selectFailed = 0;
    ULONGLONG start;
    GetTimestamp(&start);
    ULONGLONG deadline = DeadlineAfter(start, timeoutSeconds);
    if (deadline <= start)
        return FALSE;
    return WaitUntil(socket, kind, timeoutSeconds, start, deadline, selectFailed);
}

ULONGLONG CTransportSocket::WaitDeadline() const
{
    ULONGLONG now;
    GetTimestamp(&now);
    return DeadlineAfter(now, m_waitTimeout);
}

BOOL CTransportSocket::WaitUntil(SOCKET socket, WaitFor kind, ULONGLONG timeoutSeconds,
                                 ULONGLONG start, ULONGLONG deadline, DWORD* selectFailed)
{
    *selectFailed = 0;
    // Bytes received ahead are there to be read without the socket.
    if (kind == WaitFor::Reading && socket == m_socket && m_aheadOffset < m_aheadLength)
        return TRUE;
    const bool logged = kind == WaitFor::WritingLogged;
    ULONGLONG now = start;
    for (;;) {
        // Sleep in select until the socket is ready or the deadline comes, in slices; a
        // deadline already past still gets one poll.
        ULONGLONG remaining = now < deadline ? (deadline - now) * 1000 : 0;
        ULONGLONG sliceMs = std::min(kWaitSliceMilliseconds,
                                     (remaining + m_timerFrequency - 1) / m_timerFrequency);
        TIMEVAL slice{static_cast<LONG>(sliceMs / 1000), static_cast<LONG>(sliceMs % 1000 * 1000)};
        FD_SET ready;
        FD_ZERO(&ready);
        FD_SET(socket, &ready);
        FD_SET emptyRead;
        FD_SET emptyExcept;
        FD_ZERO(&emptyRead);
        FD_ZERO(&emptyExcept);
        int result;
        if (kind == WaitFor::Reading)
            result = select(0, &ready, NULL, NULL, &slice);
        else if (kind == WaitFor::Writing)
            result = select(0, NULL, &ready, NULL, &slice);
        else
            result = select(0, &emptyRead, &ready, &emptyExcept, &slice);
        if (result == SOCKET_ERROR) {
            *selectFailed = 1;
            return FALSE;
        }
        GetTimestamp(&now);
        if (logged)
            LogFormatA(kTypeInformation, 40,
                       "WaitTo SendData WAIT rc=%ld t=%I64u s=%I64u e=%I64u c=%I64u f=%I64u", result,
                       timeoutSeconds, start, deadline, now, m_timerFrequency);
        if (FD_ISSET(socket, &ready)) {
            if (logged)
                LogFormatA(kTypeInformation, 40,
                           "WaitTo SendData OK t=%I64u s=%I64u e=%I64u c=%I64u f=%I64u",
                           timeoutSeconds, start, deadline, now, m_timerFrequency);
            return TRUE;
        }
        if (now >= deadline) {
            if (logged)
                LogFormatA(kTypeInformation, 40,
                           "WaitTo SendData timeout t=%I64u s=%I64u e=%I64u c=%I64u f=%I64u",
                           timeoutSeconds, start, deadline, now, m_timerFrequency);
            return FALSE;
        }
    }
}

// ---- Closing ----

BOOL CTransportSocket::CloseSocket(INT abortive)
{
    m_commandIndex = 0;
    m_connected = 0;
    m_authenticated = 0;
    m_loginStatus = 0;
    // Bytes received ahead belong to the socket they came from; every socket ends here.
    m_aheadOffset = 0;
    m_aheadLength = 0;
    // So does every reply still due on it.
    m_replyDue = false;
    if (m_socket == INVALID_SOCKET)
        return TRUE;
    shutdown(m_socket, SD_SEND);
    // Abortive: a linger time of 0 resets the connection; otherwise what is queued gets up to
    // four seconds to leave.
    LINGER linger{1, static_cast<u_short>(abortive == 1 ? 0 : 4)};
    setsockopt(m_socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&linger),
               sizeof linger);
    closesocket(m_socket);
    m_socket = INVALID_SOCKET;
    return TRUE;
}

// ---- Connecting ----

BOOL CTransportSocket::SocketConnect(WCHAR* errText)
{
    m_connected = 0;
    m_authenticated = 0;
    m_loginStatus = 0;
    m_cancel = 0;
    LogFormatA(kTypeInformation, 40, "CreateConnectedSocket to %s port %d", m_serverHost,
               m_serverPort);
    if (!CreateConnectedSocket(m_serverHost, m_serverPort, errText)) {
        LogFormatA(kTypeInformation, 30, "CreateConnectedSocket to %s port %d failed.", m_serverHost,
                   m_serverPort);
        return FALSE;
    }
    m_connected = 1;
    LogFormatA(kTypeInformation, 40, "connected to %s port %u ok ci (%I64u)", m_serverHost,
               m_serverPort, m_commandIndex);
    return TRUE;
}

BOOL CTransportSocket::CreateConnectedSocket(const char* host, DWORD port, WCHAR* errText)
{
    FormatW(errText, kErrorTextCapacity, u"undefined error");
    if (m_proxyActive == 1)
        LogFormatA(kTypeInformation, 30, "Create Connected Socket: proxy active (%d)", 1);
    if (m_socket != INVALID_SOCKET)
        CloseSocket(0);
    if (!OpenSocket(errText))
        return FALSE;
    if (m_proxyActive == 1) {
        if (TryProxyConnect(host, port, errText)) {
            LogFormatA(kTypeInformation, 30, "Create Connected Socket: TryProxyConnect OK");
            return TRUE;
        }
        CloseSocket(1);
        if (!m_proxyFallback || !OpenSocket(errText))
            return FALSE;
    }
    return ConnectDirect(host, port, errText);
}

BOOL CTransportSocket::OpenSocket(WCHAR* errText)
{
    m_socket = socket(AF_INET, SOCK_STREAM, 0);
    if (m_socket != INVALID_SOCKET) {
        LimitTransferTime();
        return TRUE;
    }
    FormatW(errText, kErrorTextCapacity, u"CreateConnectedSocket: socket error wsaerror %d",
            WSAGetLastError());
    if (IsLogged(10))
        LogW(kTypeError, 10, errText);
    return FALSE;
}

// The waits bound the time before the first bytes of a transfer; a peer that stops in the
// middle of one, or stops reading what is sent to it, would otherwise hold the calling
// thread in recv or send for good. The same wait time-out bounds every receive and every
// send on the socket.
void CTransportSocket::LimitTransferTime()
{
    const DWORD milliseconds = m_waitTimeout >= 0xFFFFFFFFu / 1000
                                   ? 0xFFFFFFFFu
                                   : static_cast<DWORD>(m_waitTimeout * 1000);
    for (int option : {SO_RCVTIMEO, SO_SNDTIMEO})
        setsockopt(m_socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&milliseconds),
                   sizeof milliseconds);
}

BOOL CTransportSocket::ConnectDirect(const char* host, DWORD port, WCHAR* errText)
{
    LogFormatA(kTypeInformation, 30, "Create Connected Socket: Trying direct connection ...");
    SOCKADDR_IN address;
    if (!ResolveAddress(host, port, &address)) {
        FormatW(errText, kErrorTextCapacity,
                u"gethostbyname failed for [%S] wsaerror %d. check internet connection or dns.", host,
                WSAGetLastError());
        if (IsLogged(10))
            LogW(kTypeError, 10, errText);
        CloseSocket(0);
        return FALSE;
    }
    char dotted[16];
    FormatDottedAddress(address, dotted, sizeof dotted);
    LogFormatA(kTypeInformation, 40, "CreateConnectedSocket: call connect to %s (%s)", host, dotted);
    if (connect(m_socket, reinterpret_cast<const SOCKADDR*>(&address), sizeof address) ==
        SOCKET_ERROR) {
        FormatW(errText, kErrorTextCapacity, u"CreateConnectedSocket: connect wsaerror %d %S (%S) (%d)",
                WSAGetLastError(), host, dotted, port);
        CloseSocket(0);
        LogFormatA(kTypeInformation, 30, "CreateConnectedSocket: connect wsaerror %d",
                   WSAGetLastError());
        return FALSE;
    }
    LogFormatA(kTypeInformation, 40, "CreateConnectedSocket: call connect to %s complete.", host);
    m_connected = 1;
    m_proxyActive = 0;
    return TRUE;
}

BOOL CTransportSocket::TryProxyConnect(const char* host, DWORD port, WCHAR* errText)
{
    errText[0] = 0;
    LogFormatA(kTypeInformation, 30, "TryProxyConnect: (%s) (%d)", m_proxyHost, m_proxyPort);
    SOCKADDR_IN proxy;
    if (!ResolveAddress(m_proxyHost, m_proxyPort, &proxy)) {
        LogFormatA(kTypeError, 30, "TryProxyConnect: gethostbyname wsaerror %d for %s",
                   WSAGetLastError(), m_proxyHost);
        return FALSE;
    }
    char dotted[16];
    FormatDottedAddress(proxy, dotted, sizeof dotted);
    LogFormatA(kTypeInformation, 30, "TryProxyConnect: found (%s) at (%s)", m_proxyHost, dotted);
    if (connect(m_socket, reinterpret_cast<const SOCKADDR*>(&proxy), sizeof proxy) == SOCKET_ERROR) {
        int error = WSAGetLastError();
        FormatW(errText, kErrorTextCapacity, u"Proxy Connection Failed with Error - %d", error);
        LogFormatA(kTypeError, 30, "TryProxyConnect: connect error wsaerror %d", error);
        return FALSE;
    }
    LogFormatA(kTypeInformation, 30, "TryProxyConnect: connect %d for %s OK", m_proxyPort,
               m_proxyHost);
    if (!SendProxyRequest(host, port)) {
        FormatW(errText, kErrorTextCapacity, u"Proxy Connection Failed");
        LogFormatA(kTypeError, 30, "TryProxyConnect: socketclient.sendmessage wsaerror %d",
                   WSAGetLastError());
        return FALSE;
    }
    LogFormatA(kTypeInformation, 30, "TryProxyConnect: SendData ok call recv");
    char answer[kProxyAnswerCapacity + 1];
    const ProxyHeader header = ReceiveProxyHeader(answer);
    if (header == ProxyHeader::None) {
        FormatW(errText, kErrorTextCapacity, u"Proxy Connection Failed");
        LogFormatA(kTypeError, 30, "TryProxyConnect: socketclient.recv message wsaerror %d",
                   WSAGetLastError());
        return FALSE;
    }
    const INT code = ProxyStatus(answer);
    answer[std::strcspn(answer, "\r\n")] = 0;
    LogFormatA(kTypeInformation, 30, "TryProxyConnect: recv message [%s]", answer);
    const char* blank = std::strchr(answer, ' ');
    const char* status = blank != nullptr ? blank : answer;
    // A header cut short gives no telling where the tunnel would start.
    if (code == kTunnelOpened && header != ProxyHeader::Cut) {
        DWORD socketError = 0;
        if (!SendData(kHelloRecord, kHelloRecordLength, kHelloRecordLength, &socketError)) {
            LogFormatA(kTypeError, 30, "TryProxyConnect: socketclient.SendData sslhello wsaerror %d",
                       WSAGetLastError());
            return FALSE;
        }
        if (!ReceiveHelloAnswer())
            LogFormatA(kTypeError, 30, "TryProxyConnect: socketclient.ReceiveMsg sslhello wsaerror %d",
                       WSAGetLastError());
        return TRUE;
    }
    if (code == 401 || code == 407) {
        FormatW(errText, kErrorTextCapacity, u"HTTP_STATUS_PROXY_AUTH_REQ");
        return FALSE;
    }
    FormatW(errText, kErrorTextCapacity, u"proxy resp: %d", code);
    LogFormatA(kTypeError, 30, "TryProxyConnect: Proxy Error [%s]", status);
    return FALSE;
}

BOOL CTransportSocket::SendProxyRequest(const char* host, DWORD port)
{
    // Two host names and the authorization, each under 1024 bytes, and the fixed text.
    char request[4096];
    int length;
    if (m_proxyAuthorization[0] != 0)
        length = FormatA(request, sizeof request, kProxyRequestWithAuthorization, host, port, host,
                         m_proxyAuthorization);
    else
        length = FormatA(request, sizeof request, kProxyRequest, host, port, host);
    if (length < 0)
        return FALSE;
    DWORD socketError = 0;
    return SendData(request, static_cast<DWORD>(length), static_cast<DWORD>(length), &socketError);
}

// The first read waits as long as the proxy may take to answer at all; once something came,
// the rest of the header must follow within the grace. A status other than the one that
// opens the tunnel is judged as soon as its line is there.
CTransportSocket::ProxyHeader CTransportSocket::ReceiveProxyHeader(char* answer)
{
    const ULONGLONG deadline = WaitDeadline();
    answer[0] = 0;
    INT piece = ReceivePendingData(answer, kProxyAnswerCapacity, deadline);
    if (piece <= 0)
        return ProxyHeader::None;
    DWORD received = 0;
    for (;;) {
        received += static_cast<DWORD>(piece);
        answer[received] = 0;
        const std::string_view text(answer, received);
        const size_t end = HeaderEnd(text);
        if (end != 0) {
            KeepAhead(answer + end, received - static_cast<DWORD>(end));
            answer[end] = 0;
            return ProxyHeader::Whole;
        }
        if (received == kProxyAnswerCapacity)
            return ProxyHeader::Cut;
        if (StatusLineEnded(text) && ProxyStatus(answer) != kTunnelOpened)
            return ProxyHeader::StatusLine;
        switch (ReceiveWithinGrace(answer + received, kProxyAnswerCapacity - received, deadline,
                                   &piece)) {
        case Arrival::Received:
            break;
        case Arrival::Overdue:
            return ProxyHeader::Cut;
        case Arrival::Quiet:
        case Arrival::Failed:
            return ProxyHeader::StatusLine;
        }
    }
}

// What came with the proxy's header is the start of the answer: a complete greeting there is
// taken exactly, the start of one is read on, anything else is dropped as a single read of
// the header would have dropped it. Otherwise the answer is what one receive brings, all of
// it, read on only while it is plainly an unfinished greeting.
bool CTransportSocket::ReceiveHelloAnswer()
{
    const ULONGLONG deadline = WaitDeadline();
    CHelloAnswer answer;
    if (m_aheadOffset < m_aheadLength) {
        m_aheadOffset += answer.Take(reinterpret_cast<const BYTE*>(m_ahead) + m_aheadOffset,
                                     m_aheadLength - m_aheadOffset);
        if (answer.GetState() == CHelloAnswer::State::NotGreeting) {
            m_aheadOffset = m_aheadLength;
            answer = CHelloAnswer();
        }
    }
    if (answer.Length() == 0) {
        char first[kHelloReceiveSize];
        const INT received = ReceivePendingData(first, sizeof first, deadline);
        if (received <= 0)
            return false;
        // No frame comes before the command-index request, which is only sent after this
        // read: whatever it brought past a greeting is more of the server's answer.
        answer.Take(reinterpret_cast<const BYTE*>(first), static_cast<DWORD>(received));
    }
    if (!ReceiveRestOfGreeting(answer, deadline))
        return false;
    return !answer.MayGoOn() || DiscardRestOfAnswer(answer.Length(), deadline);
}

// An answer that is no greeting, or that ended on another record than ServerHelloDone, may
// have more segments on their way (the rest of a later protocol's flight, the body of an HTTP
// answer): left in the socket, they would be taken for the first frame, whose wait would run
// to the time-out. They are discarded as long as they follow each other closely. An answer
// still coming at its bound or at the deadline closes the connection, as a greeting does,
// so that none of it is read as a frame. Bytes that came with the proxy's header stay as they
// are, and so does an end of the connection, which the frame reader then meets.
bool CTransportSocket::DiscardRestOfAnswer(DWORD taken, ULONGLONG deadline)
{
    if (m_aheadOffset < m_aheadLength)
        return true;
    char piece[kHelloReceiveSize];
    for (;;) {
        ULONGLONG now;
        GetTimestamp(&now);
        const ULONGLONG pauseEnd = now + kAnswerPauseMilliseconds * m_timerFrequency / 1000;
        DWORD selectFailed = 0;
        if (now >= deadline || !WaitUntil(m_socket, WaitFor::Reading, m_waitTimeout, now,
                                          std::min(deadline, pauseEnd), &selectFailed)) {
            // A pause that the deadline cut short shows nothing of a peer that is done.
            const bool overdue = now >= deadline || (deadline < pauseEnd && !selectFailed);
            if (overdue)
                FailSetUpRead(0);
            return !overdue;
        }
        if (taken >= kHelloAnswerLimit)
            return RefuseLongAnswer();
        const int received = recv(m_socket, piece, static_cast<int>(sizeof piece), 0);
        if (received <= 0)
            return true;
        taken += static_cast<DWORD>(received);
    }
}

bool CTransportSocket::RefuseLongAnswer()
{
    LogFormatA(kTypeError, 30, "TryProxyConnect: sslhello answer longer than %lu bytes",
               kHelloAnswerLimit);
    CloseSocket(0);
    return false;
}

bool CTransportSocket::ReceiveRestOfGreeting(CHelloAnswer& answer, ULONGLONG deadline)
{
    char piece[kHelloReceiveSize];
    while (answer.GetState() == CHelloAnswer::State::Unfinished) {
        if (answer.Length() >= kHelloAnswerLimit)
            return RefuseLongAnswer();
        const DWORD wanted = std::min({answer.Missing(), DWORD{sizeof piece},
                                       kHelloAnswerLimit - answer.Length()});
        INT received = 0;
        switch (ReceiveWithinGrace(piece, wanted, deadline, &received)) {
        case Arrival::Received:
            answer.Take(reinterpret_cast<const BYTE*>(piece), static_cast<DWORD>(received));
            break;
        case Arrival::Quiet:
            return true;
        case Arrival::Overdue:
            FailSetUpRead(0);
            return false;
        case Arrival::Failed:
            return false;
        }
    }
    return true;
}

// Reading ends at the deadline even when bytes keep coming: a peer that trickles them must not
// hold the caller past it. Only a whole grace without a byte shows the peer has gone quiet; a
// wait that the deadline ended sooner shows nothing of the kind.
CTransportSocket::Arrival CTransportSocket::ReceiveWithinGrace(char* buffer, DWORD size,
                                                               ULONGLONG deadline, INT* received)
{
    ULONGLONG now;
    GetTimestamp(&now);
    if (now >= deadline)
        return Arrival::Overdue;
    const ULONGLONG graceEnd = DeadlineAfter(now, kAnswerGraceSeconds);
    const bool cutByDeadline = deadline < graceEnd;
    DWORD selectFailed = 0;
    if (!WaitUntil(m_socket, WaitFor::Reading, m_waitTimeout, now,
                   cutByDeadline ? deadline : graceEnd, &selectFailed)) {
        if (!selectFailed)
            return cutByDeadline ? Arrival::Overdue : Arrival::Quiet;
        FailSetUpRead(selectFailed);
        return Arrival::Failed;
    }
    *received = ReceivePendingData(buffer, size, deadline);
    return *received > 0 ? Arrival::Received : Arrival::Failed;
}

void CTransportSocket::KeepAhead(const char* bytes, DWORD count)
{
    std::memcpy(m_ahead, bytes, count);
    m_aheadOffset = 0;
    m_aheadLength = count;
}

DWORD CTransportSocket::TakeAhead(char* buffer, DWORD size)
{
    const DWORD count = std::min(size, m_aheadLength - m_aheadOffset);
    std::memcpy(buffer, m_ahead + m_aheadOffset, count);
    m_aheadOffset += count;
    return count;
}

INT CTransportSocket::ReceivePendingData(char* buffer, DWORD size, ULONGLONG deadline)
{
    if (m_socket == INVALID_SOCKET)
        return 0;
    if (m_aheadOffset < m_aheadLength)
        return static_cast<INT>(TakeAhead(buffer, size));
    // Every read of the set-up keeps to its deadline, however the peer spreads its bytes.
    DWORD selectFailed = 0;
    ULONGLONG now;
    GetTimestamp(&now);
    if (!WaitUntil(m_socket, WaitFor::Reading, m_waitTimeout, now, deadline, &selectFailed)) {
        FailSetUpRead(selectFailed);
        return 0;
    }
    int received = recv(m_socket, buffer, static_cast<int>(size), 0);
    if (received == SOCKET_ERROR) {
        int error = WSAGetLastError();
        CloseSocket(0);
        LogFormatA(kTypeError, 30, "ReceivePendingData: recv wsaerror %d", error);
        return 0;
    }
    if (received == 0) {
        CloseSocket(0);
        return 0;
    }
    if (m_recvSleep > 0)
        Sleep(static_cast<DWORD>(m_recvSleep));
    LogFormatA(kTypeInformation, 40, "ReceivePendingData %ld bytes", received);
    return received;
}

void CTransportSocket::FailSetUpRead(DWORD selectFailed)
{
    CloseSocket(selectFailed ? 1 : 0);
    m_lastError = kErrorTimeout;
    if (!selectFailed)
        LogFormatA(kTypeInformation, 30, "timeout waiting to recv (%ld) win32error (%ld)", 4,
                   GetLastError());
}

bool CTransportSocket::ResolveAddress(const char* host, DWORD port, SOCKADDR_IN* address)
{
    std::memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<u_short>(port));
    ULONG dotted = inet_addr(host);
    if (dotted != INADDR_NONE) {
        address->sin_addr.S_un.S_addr = dotted;
        return true;
    }
    HOSTENT* entry = gethostbyname(host);
    if (entry == nullptr || entry->h_addr_list[0] == nullptr)
        return false;
    std::memcpy(&address->sin_addr, entry->h_addr_list[0], sizeof address->sin_addr);
    return true;
}

void CTransportSocket::FormatDottedAddress(const SOCKADDR_IN& address, char* text, size_t capacity)
{
    const auto& bytes = address.sin_addr.S_un.S_un_b;
    FormatA(text, capacity, "%u.%u.%u.%u", bytes.s_b1, bytes.s_b2, bytes.s_b3, bytes.s_b4);
}

// ---- Settings ----

bool CTransportSocket::ConvertAnsiText(const WCHAR* text, char* converted)
{
    return text != nullptr && WideCharToMultiByte(CP_ACP, 0, text, -1, converted,
                                                  kTextFieldSize, nullptr, nullptr) > 0;
}

void CTransportSocket::StoreAnsiText(const WCHAR* text, char* field)
{
    char converted[kTextFieldSize];
    if (ConvertAnsiText(text, converted))
        std::strcpy(field, converted);
}

void CTransportSocket::SetProxy(const WCHAR* host, DWORD port)
{
    StoreAnsiText(host, m_proxyHost);
    m_proxyPort = port;
}

// All or nothing: a refused user or pair leaves user, password and authorization as they
// were, so that the proxy never gets a pair of which one half is old or missing.
void CTransportSocket::SetProxyCredentials(const WCHAR* user, const WCHAR* password)
{
    char newUser[kTextFieldSize];
    char newPassword[kTextFieldSize];
    if (!ConvertAnsiText(user, newUser) || !ConvertAnsiText(password, newPassword))
        return;
    if (newUser[0] != 0) {
        char pair[kTextFieldSize];
        int length = FormatA(pair, sizeof pair, "%s:%s", newUser, newPassword);
        if (length < 0 || static_cast<size_t>(length) > kMaximumCredentialPair)
            return;
        Base64Encode(m_proxyAuthorization, pair);
    }
    std::strcpy(m_proxyUser, newUser);
    std::strcpy(m_proxyPassword, newPassword);
}

void CTransportSocket::SetMachineKey(const char* key)
{
    if (key != nullptr && std::strlen(key) < kTextFieldSize)
        std::strcpy(m_machineKey, key);
    m_machineMode = 1;
}

void Base64Encode(char* out, const char* text)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
    size_t length = std::strlen(text);
    size_t written = 0;
    for (size_t i = 0; i < length; i += 3) {
        size_t left = length - i;
        uint32_t group = uint32_t{bytes[i]} << 16;
        if (left > 1)
            group |= uint32_t{bytes[i + 1]} << 8;
        if (left > 2)
            group |= bytes[i + 2];
        out[written++] = kBase64Alphabet[(group >> 18) & 0x3F];
        out[written++] = kBase64Alphabet[(group >> 12) & 0x3F];
        out[written++] = left > 1 ? kBase64Alphabet[(group >> 6) & 0x3F] : '=';
        out[written++] = left > 2 ? kBase64Alphabet[group & 0x3F] : '=';
    }
    out[written] = 0;
}
