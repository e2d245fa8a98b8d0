// The abstract part of a channel: the message frame (payload length + 4, CRC-32 of the
// payload, payload), the channel's message log, the host callback, the time base, the
// request packet builder and the channel's utility object. The socket work behind the frame
// is left to the derived class through the transfer slots.
#pragma once

#include "connection/CCreatePacket.h"
#include "kelvane.h"
#include "platform/format.h"
#include "platform/types.h"
#include "util/Cutil.h"

class CTransport {
public:
    // Message types of the channel log: those of the utility object's log rule.
    static constexpr INT kTypeInformation = Cutil::kTypeInformation;
    static constexpr INT kTypeError = Cutil::kTypeError;

    // Event codes of TransportCallback raised by the transfers.
    static constexpr DWORD kCodeLog = Cutil::kCodeLog;
    static constexpr DWORD kCodeCancelPoll = 4;
    static constexpr DWORD kCodeMessageSent = 10;

    // Causes of the last failure, kept in the last-error field.
    static constexpr DWORD kErrorNone = 0;
    static constexpr DWORD kErrorNoSocket = 700;
    static constexpr DWORD kErrorTimeout = 800;
    static constexpr DWORD kErrorClosedByPeer = 900;
    static constexpr DWORD kErrorNoSession = 1000;
    static constexpr DWORD kErrorSendFailed = 1100;
    static constexpr DWORD kErrorNoReply = 1200;
    static constexpr DWORD kErrorNotBuilt = 1400;

    // Slack allocated beyond a sent frame and beyond a received payload.
    static constexpr DWORD kSendSlack = 24;
    static constexpr DWORD kReceiveSlack = 16;
    // A receive that sets no bound of its own on the payload length.
    static constexpr DWORD kAnyLength = 0xFFFFFFFFu;

    // Frames one payload and sends it; socketError (may be null) receives the socket error
    // of a failed quiet send.
    virtual BOOL SendMsg(const void* payload, DWORD length, DWORD* socketError);
    // Receives one frame; *payload gets a page allocation (release with Cutil::FreePacket)
    // holding the payload, or null. Gives the payload length, 0 on failure. A frame that
    // announces more than maximumLength bytes of payload is refused before it is read.
    virtual DWORD ReceiveMsg(void** payload, DWORD maximumLength = kAnyLength);
    virtual void LogW(INT type, INT level, const WCHAR* text);
    virtual void LogA(INT type, INT level, const char* text);
    virtual BOOL SendData(const void* buffer, DWORD length, DWORD payloadLength,
                          DWORD* socketError) = 0;
    // Receives exactly n bytes; gives n, or 0 on failure.
    virtual DWORD ReceiveData(void* buffer, DWORD n) = 0;
    virtual BOOL WaitToSendData(ULONGLONG timeoutSeconds, DWORD* selectFailed) = 0;
    virtual BOOL WaitToRecvData(DWORD count, ULONGLONG timeoutSeconds, DWORD* selectFailed) = 0;
    virtual BOOL CloseSocket(INT abortive) = 0;

    BOOL ReceiveDataUntil(void* buffer, DWORD n);

    void SetCallback(uintptr_t context, TransportCallback function);
    void SetLogLevel(INT level);
    INT GetLogLevel() const { return m_logLevel; }
    void SetGetPacketSize(DWORD bytes) { m_getPacketSize = bytes; }
    void SetAuthValueA(DWORD value) { m_authValueA = value; }
    void SetAuthValueB(DWORD value) { m_authValueB = value; }

    void InitTimer();
    BOOL GetTimestamp(ULONGLONG* timestamp) const;

protected:
    CTransport();
    ~CTransport() = default;
    CTransport(const CTransport&) = delete;
    CTransport& operator=(const CTransport&) = delete;

    // Whether the channel's log level lets a message of this level through.
    bool IsLogged(INT level) const;
    // Formats a message for slot 3 when its level is logged.
    template <typename... Args>
    void LogFormatA(INT type, INT level, const char* format, const Args&... args);
    // Folds a received piece into the CRC-32 of the frame payload being received, if any:
    // the payload is checked piece by piece while each is still in the cache and while the
    // peer goes on sending.
    void FoldPayloadPiece(const void* piece, DWORD length);
    // Calls the host with an event code and no text, and keeps its answer as the last error.
    DWORD PollCallback(DWORD code, ULONGLONG value);
    // The deadline of a wait of timeoutSeconds from start, in ticks of the time base.
    ULONGLONG DeadlineAfter(ULONGLONG start, ULONGLONG timeoutSeconds) const;
    ULONGLONG ElapsedMilliseconds(ULONGLONG start, ULONGLONG end) const;
    // Closes the connection when the reply to a request is still due that nobody is going to
    // take: the exchange was left between its request and the end of its reply (an unwind
    // out of a wait or a receive), and what is left of that reply would be read as the next
    // one's. Gives whether it closed the connection.
    bool DropConnectionOutOfStep();

    ULONGLONG m_timerFrequency;
    CCreatePacket m_createpacket;
    Cutil m_util;
    DWORD m_proxyActive;
    DWORD m_lastError;
    TransportCallback m_callback;
    uintptr_t m_callbackContext;
    INT m_sendSleep;
    DWORD m_sendChunkSize;
    DWORD m_getPacketSize;
    ULONGLONG m_waitTimeout;
    INT m_logLevel;
    DWORD m_authValueA;
    DWORD m_authValueB;
    // A request has gone out (or begun to) whose reply has not been taken whole; closing the
    // socket ends it.
    bool m_replyDue;

private:
    // Receives one of the two header words of a frame.
    BOOL ReceiveFrameWord(DWORD* word, const char* name);

    bool m_foldingPayload;
    // The CRC-32 of the payload's pieces received so far.
    DWORD m_payloadCrc;
};

template <typename... Args>
void CTransport::LogFormatA(INT type, INT level, const char* format, const Args&... args)
{
    if (!IsLogged(level))
        return;
    char text[4096];
    FormatA(text, sizeof text, format, args...);
    LogA(type, level, text);
}
