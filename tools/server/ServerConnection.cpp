#include "tools/server/ServerConnection.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "util/Cutil.h"
#include "util/LittleEndian.h"

namespace {

constexpr size_t kHelloLength = 79;
const BYTE kHelloStart[4] = {0x80, 0x4C, 0x01, 0x03};
constexpr DWORD kOversizedCbData = 0xFFFFFFF0;

DWORD Crc32Of(const std::vector<BYTE>& bytes)
{
    DWORD crc = 0;
    Cutil::Crc32(bytes.data(), static_cast<DWORD>(bytes.size()), &crc, 1);
    return crc;
}

}

ServerConnection::ServerConnection(SOCKET socket, size_t id, const CommandTable& commands,
                                   ServerModel& model, RequestLog& log, const ServerFaults& faults,
                                   HelloAnswer helloAnswer)
    : m_socket(socket), m_id(id), m_tunnelled(false), m_commands(commands), m_model(model),
      m_log(log), m_faults(faults), m_helloAnswer(std::move(helloAnswer))
{
}

ServerConnection::~ServerConnection()
{
    Close();
}

void ServerConnection::Run()
{
    BYTE first[4];
    if (!ReadExact(first, sizeof first))
        return Close();
    DWORD cbData;
    if (std::memcmp(first, kHelloStart, sizeof first) == 0) {
        if (!AnswerHello(first) || !ReadWord(&cbData))
            return Close();
    } else {
        cbData = LoadLittleEndian32(first);
    }
    while (ServeFrame(cbData)) {
        if (!ReadWord(&cbData))
            break;
    }
    Close();
}

bool ServerConnection::AnswerHello(const BYTE* firstBytes)
{
    m_tunnelled = true;
    RecordedHello hello{m_id, std::vector<BYTE>(firstBytes, firstBytes + 4)};
    hello.bytes.resize(kHelloLength);
    if (!ReadExact(hello.bytes.data() + 4, kHelloLength - 4))
        return false;
    m_log.AddHello(hello);
    if (m_faults.Current().kind == FaultKind::NoHelloAnswer)
        return false;
    for (const HelloAnswer::Segment& segment : m_helloAnswer.Segments()) {
        if (segment.pause > 0 && !Pause(segment.pause))
            return false;
        if (!segment.bytes.empty() && !SendAll(segment.bytes.data(), segment.bytes.size()))
            return false;
    }
    return true;
}

bool ServerConnection::ServeFrame(DWORD cbData)
{
    RecordedRequest request{m_id, m_tunnelled, cbData, 0, false, RequestReader::kNoCode, {}};
    bool sizeValid = cbData >= 4 && cbData - 4 <= kMaximumPayload;
    if (!ReadWord(&request.crcPacket))
        return false;
    if (!sizeValid) {
        m_log.AddRequest(request);
        return false;
    }
    request.payload.resize(cbData - 4);
    if (!ReadExact(request.payload.data(), request.payload.size()))
        return false;
    request.crcValid = Crc32Of(request.payload) == request.crcPacket;
    RequestReader reader(request.payload, m_state);
    request.code = reader.Code();
    m_log.AddRequest(request);
    if (!request.crcValid)
        return false;
    ReplyWriter reply;
    m_commands.Dispatch(reader, reply, m_model);
    if (reply.HasReply() && !SendReply(request.code, reply.Payload()))
        return false;
    return !reply.ClosesConnection();
}

bool ServerConnection::SendReply(DWORD code, const std::vector<BYTE>& payload)
{
    ServerFault fault = m_faults.Current();
    if (!fault.AppliesTo(code))
        fault.kind = FaultKind::None;
    if (fault.kind == FaultKind::NoAnswer)
        return true;
    BYTE head[8];
    if (fault.kind == FaultKind::EmptyPayload) {
        StoreLittleEndian32(head, 4);
        StoreLittleEndian32(head + 4, 0);
        return SendAll(head, sizeof head);
    }
    DWORD cbData = static_cast<DWORD>(payload.size() + 4);
    if (fault.kind == FaultKind::OversizedFrame)
        cbData = kOversizedCbData;
    else if (fault.kind == FaultKind::GivenCbData)
        cbData = fault.cbData;
    const DWORD crc = Crc32Of(payload);
    StoreLittleEndian32(head, cbData);
    StoreLittleEndian32(head + 4, fault.kind == FaultKind::WrongCrc ? crc ^ 0x5A5A5A5A : crc);
    switch (fault.kind) {
    case FaultKind::TruncatedFrame:
        return SendAll(head, sizeof head);
    case FaultKind::CloseMidMessage:
        SendAll(head, sizeof head, payload.data(), payload.size() / 2);
        return false;
    case FaultKind::StallMidMessage:
        return SendAll(head, sizeof head, payload.data(), payload.size() / 2);
    default:
        return SendAll(head, sizeof head, payload.data(), payload.size());
    }
}

bool ServerConnection::ReadExact(void* buffer, size_t length)
{
    char* bytes = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < length) {
        int piece = static_cast<int>(std::min<size_t>(length - done, 1 << 20));
        int received = recv(m_socket, bytes + done, piece, 0);
        if (received <= 0)
            return false;
        done += static_cast<size_t>(received);
    }
    return true;
}

bool ServerConnection::ReadWord(DWORD* word)
{
    BYTE bytes[sizeof *word];
    if (!ReadExact(bytes, sizeof bytes))
        return false;
    *word = LoadLittleEndian32(bytes);
    return true;
}

bool ServerConnection::SendAll(const void* buffer, size_t length, const void* body,
                               size_t bodyLength)
{
    WSABUF pieces[2] = {
        {static_cast<ULONG>(length), static_cast<CHAR*>(const_cast<void*>(buffer))},
        {static_cast<ULONG>(bodyLength), static_cast<CHAR*>(const_cast<void*>(body))}};
    WSABUF* next = pieces;
    DWORD left = bodyLength > 0 ? 2 : 1;
    while (left > 0) {
        DWORD sent = 0;
        if (WSASend(m_socket, next, left, &sent, 0, nullptr, nullptr) == SOCKET_ERROR ||
            sent == 0)
            return false;
        for (; left > 0 && sent >= next->len; --left, ++next)
            sent -= next->len;
        if (left > 0) {
            next->buf += sent;
            next->len -= sent;
        }
    }
    return true;
}

void ServerConnection::Stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
    m_stopped.notify_all();
    if (m_socket != INVALID_SOCKET)
        shutdown(m_socket, SD_BOTH);
}

bool ServerConnection::Pause(DWORD milliseconds)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_stopped.wait_for(lock, std::chrono::milliseconds(milliseconds),
                               [this] { return m_stopping; });
}

bool ServerConnection::Closed()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_socket == INVALID_SOCKET;
}

void ServerConnection::Close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_socket == INVALID_SOCKET)
        return;
    closesocket(m_socket);
    m_socket = INVALID_SOCKET;
}
