#include "tools/server/DownloadHandlers.h"

#include <algorithm>

#include <zlib.h>

#include "connection/CCreatePacket.h"

namespace {

constexpr DWORD kRefused = 0;
constexpr DWORD kSingleReply = 2;
// Any first word but 0 and 2 announces a cache file; any packet result but 0, 2 and 4 is data.
constexpr DWORD kCachedTransfer = 1;
constexpr DWORD kPacketData = 1;
constexpr DWORD kPacketError = 0;
constexpr DWORD kPacketPreparing = 2;
constexpr DWORD kPacketStop = 4;
constexpr size_t kLongCacheName = 2048;
constexpr DWORD kSizeOverclaim = 100;

std::string Compress(const std::string& contents)
{
    uLongf length = compressBound(static_cast<uLong>(contents.size()));
    std::string stream(length, '\0');
    compress2(reinterpret_cast<Bytef*>(stream.data()), &length,
              reinterpret_cast<const Bytef*>(contents.data()), static_cast<uLong>(contents.size()),
              Z_DEFAULT_COMPRESSION);
    stream.resize(length);
    return stream;
}

}  // namespace

void DownloadHandlers::AddFile(const FileCodes& codes, const std::string& contents,
                               DWORD fileTime)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files[codes] = StoredFile{contents, fileTime};
}

void DownloadHandlers::SetBehaviour(const Behaviour& behaviour)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_behaviour = behaviour;
}

void DownloadHandlers::QueuePacketActions(const std::vector<PacketAction>& actions)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_actions.insert(m_actions.end(), actions.begin(), actions.end());
}

std::vector<DownloadHandlers::PacketRequest> DownloadHandlers::PacketRequests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_packetRequests;
}

void DownloadHandlers::Register(CommandTable& commands)
{
    commands.Set(CCreatePacket::kGetFile,
                 [this](RequestReader& request, ReplyWriter& reply, ServerModel&) {
                     GetFile(request, reply);
                 });
    commands.Set(CCreatePacket::kGetCachePacket,
                 [this](RequestReader& request, ReplyWriter& reply, ServerModel&) {
                     GetCachePacket(request, reply);
                 });
}

// Request: ten words that make the five codes (low word first), then one more word.
void DownloadHandlers::GetFile(RequestReader& request, ReplyWriter& reply)
{
    FileCodes codes{};
    for (ULONGLONG& code : codes)
        request.ReadU64(&code);
    DWORD lastWord = 0;
    request.ReadU32(&lastWord);
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_files.find(codes);
    if (request.Failed() || found == m_files.end()) {
        reply.PutU32(kRefused);
        reply.PutU32(0);
        return;
    }
    const StoredFile& file = found->second;
    bool single = m_behaviour.form == Form::Single ||
                  (m_behaviour.form == Form::BySize && file.contents.size() <= kSingleReplyLimit);
    if (single)
        AnswerSingleReply(file, reply);
    else
        AnnounceCacheFile(file, reply);
}

// rc 2, file time, the file's size as two words, the compressed size, the zlib stream.
void DownloadHandlers::AnswerSingleReply(const StoredFile& file, ReplyWriter& reply) const
{
    std::string stream = Compress(file.contents);
    DWORD announcedSize = static_cast<DWORD>(stream.size());
    switch (m_behaviour.singleFault) {
    case SingleReplyFault::None:
        break;
    case SingleReplyFault::CorruptStream:
        stream[stream.size() / 2] = static_cast<char>(stream[stream.size() / 2] ^ 0x55);
        break;
    case SingleReplyFault::CutStream:
        stream.resize(stream.size() / 2);
        announcedSize = static_cast<DWORD>(stream.size());
        break;
    case SingleReplyFault::SizePastReply:
        announcedSize += kSizeOverclaim;
        break;
    case SingleReplyFault::ShortHeader:
        reply.PutU32(kSingleReply);
        reply.PutU32(file.fileTime);
        reply.PutU32(0);
        return;
    case SingleReplyFault::ZeroSize:
        stream.clear();
        announcedSize = 0;
        break;
    }
    const ULONGLONG size = file.contents.size();
    reply.PutU32(kSingleReply);
    reply.PutU32(file.fileTime);
    reply.PutU64(size);
    reply.PutU32(announcedSize);
    reply.PutBytes(stream.data(), stream.size());
}

// A fresh cache file for the contents: rc, the name (count and bytes), the file time.
void DownloadHandlers::AnnounceCacheFile(const StoredFile& file, ReplyWriter& reply)
{
    std::string name = "cache" + std::to_string(++m_cacheCounter) + ".tmp";
    if (m_behaviour.announcementFault == AnnouncementFault::LongCacheName)
        name.resize(kLongCacheName, 'n');
    m_cacheFiles[name] = file.contents;
    reply.PutU32(kCachedTransfer);
    if (m_behaviour.announcementFault == AnnouncementFault::NameBeyondReply) {
        reply.PutU32(static_cast<DWORD>(name.size() + 64));
        reply.PutBytes(name.data(), name.size());
        return;
    }
    reply.PutCountedBytes(name);
    reply.PutU32(file.fileTime);
}

// Request: the cache name, the offset, the chunk size, a last word.
void DownloadHandlers::GetCachePacket(RequestReader& request, ReplyWriter& reply)
{
    PacketRequest asked;
    request.ReadCountedBytes(&asked.cacheName);
    request.ReadU64(&asked.offset);
    request.ReadU32(&asked.chunkSize);
    request.ReadU32(&asked.lastWord);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_packetRequests.push_back(asked);
    PacketAction action = PacketAction::Data;
    if (!m_actions.empty()) {
        action = m_actions.front();
        m_actions.pop_front();
    }
    auto found = m_cacheFiles.find(asked.cacheName);
    if (request.Failed() || found == m_cacheFiles.end())
        action = PacketAction::Error;
    static const std::string kNoContents;
    const std::string& contents = found != m_cacheFiles.end() ? found->second : kNoContents;
    AnswerPacket(action, contents, asked.offset, asked.chunkSize, reply);
}

// rc, the file's total size, a word, the data size and the data, the server text.
void DownloadHandlers::AnswerPacket(PacketAction action, const std::string& contents,
                                    ULONGLONG offset, DWORD chunkSize, ReplyWriter& reply) const
{
    if (action == PacketAction::Drop) {
        reply.NoReply();
        reply.CloseConnection();
        return;
    }
    if (action == PacketAction::Error || action == PacketAction::Stop) {
        reply.PutU32(action == PacketAction::Error ? kPacketError : kPacketStop);
        reply.PutU32(0);
        return;
    }
    const size_t start = static_cast<size_t>(std::min<ULONGLONG>(offset, contents.size()));
    std::string data = contents.substr(start, chunkSize);
    ULONGLONG dataSize = data.size();
    if (action == PacketAction::Preparing) {
        data.clear();
        dataSize = 0;
    } else if (action == PacketAction::PastEndOfFile) {
        data = contents.substr(start) + "!";
        dataSize = data.size();
    } else if (action == PacketAction::SizePastReply) {
        dataSize += kSizeOverclaim;
    }
    reply.PutU32(action == PacketAction::Preparing ? kPacketPreparing : kPacketData);
    reply.PutU64(AnnouncedTotal(contents));
    reply.PutU32(m_behaviour.packetWord);
    reply.PutU64(dataSize);
    reply.PutBytes(data.data(), data.size());
    reply.PutCountedBytes(m_behaviour.serverText);
}

ULONGLONG DownloadHandlers::AnnouncedTotal(const std::string& contents) const
{
    return m_behaviour.announcedTotal.value_or(contents.size());
}
