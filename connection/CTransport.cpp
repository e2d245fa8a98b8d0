#include "connection/CTransport.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/module.h"
#include "platform/text.h"
#include "util/LittleEndian.h"

namespace {

constexpr DWORD kFrameHeaderLength = 8;
constexpr DWORD kSmallFrameSize = 4096;
constexpr DWORD kMinimumTimerFrequency = 1000;
constexpr INT kWideLogCapacity = 4096;

void WriteLine(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

}

CTransport::CTransport()
    : m_timerFrequency(kMinimumTimerFrequency),
      m_proxyActive(0),
      m_lastError(kErrorNone),
      m_callback(nullptr),
      m_callbackContext(0),
      m_sendSleep(10),
      m_sendChunkSize(0x400000),
      m_getPacketSize(0x100000),
      m_waitTimeout(3600),
      m_logLevel(0),
      m_authValueA(0),
      m_authValueB(0),
      m_replyDue(false),
      m_foldingPayload(false),
      m_payloadCrc(0)
{
    InitTimer();
}

BOOL CTransport::SendMsg(const void* payload, DWORD length, DWORD* socketError)
{
    DWORD localError = 0;
    if (socketError == nullptr)
        socketError = &localError;
    // A frame whose size cannot be expressed in 32 bits cannot be allocated either.
    if (length > 0xFFFFFFFFu - kSendSlack)
        return FALSE;
    // Small frames are built on the stack: mapping and unmapping pages for them would cost
    // more than the exchange itself.
    BYTE smallFrame[kSmallFrameSize];
    BYTE* frame = length <= kSmallFrameSize - kSendSlack
                      ? smallFrame
                      : static_cast<BYTE*>(Cutil::AllocatePacket(length + kSendSlack));
    if (frame == nullptr)
        return FALSE;
    DWORD crc = 0;
    Cutil::Crc32(payload, length, &crc, 1);
    StoreLittleEndian32(frame, length + 4);
    StoreLittleEndian32(frame + 4, crc);
    if (length != 0)
        std::memcpy(frame + kFrameHeaderLength, payload, length);
    // Due from before the sending: an unwind out of it may leave part of the request out.
    m_replyDue = true;
    BOOL sent = SendData(frame, length + kFrameHeaderLength, length, socketError);
    if (frame != smallFrame)
        Cutil::FreePacket(frame);
    if (!sent) {
        // The connection is closed or was never there: no reply can come.
        m_replyDue = false;
        return FALSE;
    }
    if (m_callback != nullptr)
        PollCallback(kCodeMessageSent, length);
    else if (m_sendSleep > 0)
        Sleep(static_cast<DWORD>(m_sendSleep));
    LogFormatA(kTypeInformation, 40, "thread %ld: SendMsg [%lu]", GetCurrentThreadId(), length);
    return TRUE;
}

DWORD CTransport::ReceiveMsg(void** payload, DWORD maximumLength)
{
    *payload = nullptr;
    DWORD cbData;
    if (!ReceiveFrameWord(&cbData, "cbData"))
        return 0;
    // The length comes from the peer: refuse what cannot be a frame, cannot be allocated with
    // its slack, or is longer than the caller's reply can be, before anything more is read.
    if (cbData < 4 || cbData > 0xFFFFFFFFu - kReceiveSlack || cbData - 4 > maximumLength) {
        CloseSocket(0);
        LogFormatA(kTypeError, 30, "ReceiveMsg: invalid cbData %lu", cbData);
        return 0;
    }
    DWORD crcPacket;
    if (!ReceiveFrameWord(&crcPacket, "dwCrcPacket"))
        return 0;
    char* buffer = static_cast<char*>(Cutil::AllocatePacket(cbData + kReceiveSlack));
    if (buffer == nullptr) {
        CloseSocket(0);
        return 0;
    }
    *payload = buffer;
    DWORD length = cbData - 4;
    m_foldingPayload = true;
    m_payloadCrc = 0;
    BOOL received = ReceiveDataUntil(buffer, length);
    m_foldingPayload = false;
    if (!received) {
        Cutil::FreePacket(buffer);
        *payload = nullptr;
        CloseSocket(0);
        LogFormatA(kTypeInformation, 30, "ReceiveMsg: ReceiveDataUntil failed on cbData2 %ld bytes",
                   length);
        return 0;
    }
    DWORD crc = m_payloadCrc;
    LogFormatA(kTypeInformation, 40, "thread %ld: ReceiveMsg cbData [%lu] crc[%ld] crc[%ld]",
               GetCurrentThreadId(), length, static_cast<INT>(crcPacket), static_cast<INT>(crc));
    if (crc != crcPacket) {
        Cutil::FreePacket(buffer);
        *payload = nullptr;
        CloseSocket(0);
        return 0;
    }
    m_replyDue = false;
    LogFormatA(kTypeInformation, 40, "thread %ld: ReceiveMsg [%lu]", GetCurrentThreadId(), length);
    return length;
}

BOOL CTransport::ReceiveFrameWord(DWORD* word, const char* name)
{
    BYTE bytes[sizeof *word];
    if (ReceiveDataUntil(bytes, sizeof bytes)) {
        *word = LoadLittleEndian32(bytes);
        return TRUE;
    }
    CloseSocket(0);
    LogFormatA(kTypeInformation, 30, "ReceiveMsg: ReceiveDataUntil failed on %s %ld bytes", name,
               static_cast<INT>(sizeof bytes));
    return FALSE;
}

BOOL CTransport::ReceiveDataUntil(void* buffer, DWORD n)
{
    if (ReceiveData(buffer, n) != 0)
        return TRUE;
    LogFormatA(kTypeInformation, 30, "ReceiveDataUntil: ReceiveData failed on %ld bytes", n);
    return FALSE;
}

void CTransport::LogW(INT type, INT level, const WCHAR* text)
{
    if (!IsLogged(level))
        return;
    if (m_callback != nullptr) {
        m_callback(m_callbackContext, kCodeLog, text, static_cast<uint64_t>(int64_t{type}));
        return;
    }
    WriteLine(Utf16ToUtf8(text));
}

void CTransport::LogA(INT type, INT level, const char* text)
{
    if (!IsLogged(level))
        return;
    if (m_callback == nullptr) {
        WriteLine(text);
        return;
    }
    WCHAR wide[kWideLogCapacity];
    if (Cutil::AnsiToWide(text, wide, kWideLogCapacity) == 0)
        return;
    m_callback(m_callbackContext, kCodeLog, wide, static_cast<uint64_t>(int64_t{type}));
}

void CTransport::SetCallback(uintptr_t context, TransportCallback function)
{
    m_callback = function;
    m_callbackContext = context;
    m_util.SetCallback(context, function);
}

void CTransport::SetLogLevel(INT level)
{
    m_logLevel = level;
    m_util.SetLogLevel(level);
}

void CTransport::InitTimer()
{
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart < kMinimumTimerFrequency)
        m_timerFrequency = kMinimumTimerFrequency;
    else
        m_timerFrequency = static_cast<ULONGLONG>(frequency.QuadPart);
}

BOOL CTransport::GetTimestamp(ULONGLONG* timestamp) const
{
    LARGE_INTEGER counter;
    if (QueryPerformanceCounter(&counter) && counter.QuadPart > 0)
        *timestamp = static_cast<ULONGLONG>(counter.QuadPart);
    else
        *timestamp = GetTickCount();
    return TRUE;
}

bool CTransport::IsLogged(INT level) const
{
    // The channel logs no type of message regardless of its level.
    return Cutil::IsLogged(kTypeInformation, level, m_logLevel, 0);
}

void CTransport::FoldPayloadPiece(const void* piece, DWORD length)
{
    if (!m_foldingPayload)
        return;
    // Continuing a CRC-32 starts from the register, the complement of the CRC so far.
    DWORD crc = ~m_payloadCrc;
    Cutil::Crc32(piece, length, &crc, 0);
    m_payloadCrc = crc;
}

DWORD CTransport::PollCallback(DWORD code, ULONGLONG value)
{
    m_lastError = static_cast<DWORD>(m_callback(m_callbackContext, code, nullptr, value));
    return m_lastError;
}

ULONGLONG CTransport::DeadlineAfter(ULONGLONG start, ULONGLONG timeoutSeconds) const
{
    ULONGLONG frequency = m_timerFrequency != 0 ? m_timerFrequency : kMinimumTimerFrequency;
    return start + timeoutSeconds * frequency;
}

bool CTransport::DropConnectionOutOfStep()
{
    if (!m_replyDue)
        return false;
    LogFormatA(kTypeError, 30, "reply to an earlier request still due: connection closed");
    CloseSocket(1);
    return true;
}

ULONGLONG CTransport::ElapsedMilliseconds(ULONGLONG start, ULONGLONG end) const
{
    ULONGLONG frequency = m_timerFrequency != 0 ? m_timerFrequency : kMinimumTimerFrequency;
    return (end - start) * 1000 / frequency;
}
