#include "bench/support/FrameClient.h"

#include <algorithm>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include "util/Cutil.h"
#include "util/LittleEndian.h"

namespace {

constexpr uint32_t kGetFile = 129;
constexpr uint32_t kGetCachePacket = 106;
constexpr uint32_t kRemoveCacheFile = 35;
constexpr uint32_t kSingleReply = 2;
constexpr uint32_t kTransferComplete = 8;
// rc, total, word, data size: the fields before a chunk's data.
constexpr size_t kPacketHead = 24;
constexpr size_t kSingleHead = 20;
// Room for a whole chunk frame, so that one receive can take it.
constexpr size_t kInboxSize = FrameClient::kChunk + 0x10000;
constexpr uint32_t kLargestFrame = 256u << 20;
// Receives tried without sleeping before a spinning reader sleeps: a few milliseconds.
constexpr int kSpinTries = 20000;

void Put64(std::vector<uint8_t>& out, uint64_t value)
{
    AppendLittleEndian32(&out, static_cast<uint32_t>(value));
    AppendLittleEndian32(&out, static_cast<uint32_t>(value >> 32));
}

void PutName(std::vector<uint8_t>& out, const std::string& name)
{
    AppendLittleEndian32(&out, static_cast<uint32_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
}

uint32_t Crc32(const uint8_t* bytes, size_t length)
{
    uint32_t crc = 0;
    Cutil::Crc32(bytes, static_cast<uint32_t>(length), &crc, 1);
    return crc;
}

}  // namespace

FrameClient::~FrameClient()
{
    if (m_socket >= 0)
        close(m_socket);
}

bool FrameClient::Connect(const std::string& address, uint16_t port)
{
    m_socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &peer.sin_addr);
    return m_socket >= 0 &&
           connect(m_socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0;
}

bool FrameClient::SendAll(const void* bytes, size_t length)
{
    const auto* next = static_cast<const uint8_t*>(bytes);
    while (length > 0) {
        ssize_t sent = send(m_socket, next, length, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        next += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

bool FrameClient::SendFrame(const std::vector<uint8_t>& payload)
{
    std::vector<uint8_t> frame;
    frame.reserve(8 + payload.size());
    AppendLittleEndian32(&frame, static_cast<uint32_t>(payload.size() + 4));
    AppendLittleEndian32(&frame, Crc32(payload.data(), payload.size()));
    frame.insert(frame.end(), payload.begin(), payload.end());
    return SendAll(frame.data(), frame.size());
}

bool FrameClient::ReceiveFrame()
{
    if (m_frameLength > 0) {
        std::memmove(m_inbox.data(), m_inbox.data() + m_frameLength, m_filled - m_frameLength);
        m_filled -= m_frameLength;
        m_frameLength = 0;
    }
    if (!Fill(8))
        return false;
    const uint32_t cbData = LoadLittleEndian32(m_inbox.data());
    if (cbData < 8 || cbData > kLargestFrame || !Fill(size_t{cbData} + 4))
        return false;
    m_frameLength = size_t{cbData} + 4;
    m_payload = m_inbox.data() + 8;
    m_payloadLength = cbData - 4;
    return Crc32(m_payload, m_payloadLength) == LoadLittleEndian32(m_inbox.data() + 4);
}

bool FrameClient::Fill(size_t length)
{
    if (m_inbox.size() < length)
        m_inbox.resize(std::max(length, kInboxSize));
    while (m_filled < length) {
        uint8_t* next = m_inbox.data() + m_filled;
        const size_t room = m_inbox.size() - m_filled;
        ssize_t received = -1;
        // Yielding between tries lets a server thread on the same processor go on.
        for (int tries = m_waiting == Waiting::Spin ? kSpinTries : 0; tries > 0; --tries) {
            received = recv(m_socket, next, room, MSG_DONTWAIT);
            if (received >= 0)
                break;
            sched_yield();
        }
        if (received < 0)
            received = recv(m_socket, next, room, 0);
        if (received <= 0)
            return false;
        m_filled += static_cast<size_t>(received);
    }
    return true;
}

bool FrameClient::Ask(const std::vector<uint8_t>& request, std::span<const uint8_t>* reply)
{
    if (!SendFrame(request) || !ReceiveFrame())
        return false;
    *reply = std::span<const uint8_t>(m_payload, m_payloadLength);
    return true;
}

uint32_t FrameClient::Exchange(const std::vector<uint8_t>& request)
{
    std::span<const uint8_t> reply;
    return Ask(request, &reply) ? LoadLittleEndian32(reply.data()) : 0;
}

bool FrameClient::AnnounceFile(const Codes& codes)
{
    std::vector<uint8_t> request;
    AppendLittleEndian32(&request, kGetFile);
    for (uint64_t code : codes)
        Put64(request, code);
    AppendLittleEndian32(&request, 0);
    return Exchange(request) != 0;
}

int64_t FrameClient::FetchCached(const Codes& codes, const char* path)
{
    if (!AnnounceFile(codes) || m_payloadLength < 8)
        return -1;
    const uint32_t nameLength = LoadLittleEndian32(m_payload + 4);
    if (LoadLittleEndian32(m_payload) == kSingleReply || nameLength > m_payloadLength - 8)
        return -1;
    const std::string name(reinterpret_cast<const char*>(m_payload + 8), nameLength);
    const int file = path != nullptr ? open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
                                     : -1;
    if (path != nullptr && file < 0)
        return -1;
    int64_t received = 0;
    std::vector<uint8_t> request;
    for (;;) {
        request.clear();
        AppendLittleEndian32(&request, kGetCachePacket);
        PutName(request, name);
        Put64(request, static_cast<uint64_t>(received));
        AppendLittleEndian32(&request, kChunk);
        AppendLittleEndian32(&request, 0);
        if (Exchange(request) == 0 || m_payloadLength < kPacketHead) {
            received = -1;
            break;
        }
        const uint64_t size = LoadLittleEndian64(m_payload + 16);
        if (size > m_payloadLength - kPacketHead ||
            (file >= 0 && write(file, m_payload + kPacketHead, size) !=
                              static_cast<ssize_t>(size))) {
            received = -1;
            break;
        }
        received += static_cast<int64_t>(size);
        if (size < kChunk)
            break;
    }
    if (file >= 0) {
        if (fsync(file) != 0)
            received = -1;
        close(file);
    }
    request.clear();
    AppendLittleEndian32(&request, kRemoveCacheFile);
    PutName(request, name);
    AppendLittleEndian32(&request, kTransferComplete);
    AppendLittleEndian32(&request, 0);
    Exchange(request);
    return received;
}

std::string FrameClient::FetchCompressed(const Codes& codes)
{
    if (!AnnounceFile(codes) || m_payloadLength < kSingleHead ||
        LoadLittleEndian32(m_payload) != kSingleReply)
        return {};
    const uint32_t size = LoadLittleEndian32(m_payload + 16);
    if (size > m_payloadLength - kSingleHead)
        return {};
    return std::string(reinterpret_cast<const char*>(m_payload + kSingleHead), size);
}
