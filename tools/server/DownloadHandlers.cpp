#include "tools/server/DownloadHandlers.h"

#include <algorithm>

#include "connection/CCreatePacket.h"
#include "tools/server/ServerConnection.h"

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
// The fields of a packet reply around its data: rc, total, word, data size, text count.
constexpr size_t kPacketFields = 4 + 8 + 4 + 8 + 4;

void Refuse(ReplyWriter& reply)
{
    reply.PutU32(kRefused);
    reply.PutU32(0);
}

}  // namespace

void DownloadHandlers::AddFile(const FileCodes& codes, const std::string& contents,
                               DWORD fileTime)
{
    AddFile(codes, ServedFile::FromContents(contents), fileTime);
}

void DownloadHandlers::AddFile(const FileCodes& codes, std::shared_ptr<const ServedFile> contents,
                               DWORD fileTime)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_files[codes] = StoredFile{std::move(contents), fileTime};
}

void DownloadHandlers::SetBehaviour(const Behaviour& behaviour)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_behaviour = behaviour;
}

void DownloadHandlers::QueuePacketActions(const std::vector<PacketAction>& actions)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_actions.assign(actions.begin(), actions.end());
}

std::vector<DownloadHandlers::PacketRequest> DownloadHandlers::PacketRequests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_packetRequests;
}

size_t DownloadHandlers::OpenCacheFiles() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cacheFiles.size();
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
    CommandHandler removal = commands.Find(CCreatePacket::kRemoveCacheFile);
    commands.Set(CCreatePacket::kRemoveCacheFile,
                 [this, removal](RequestReader& request, ReplyWriter& reply, ServerModel& model) {
                     ForgetCacheFile(request);
                     if (removal)
                         removal(request, reply, model);
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
    std::unique_lock<std::mutex> lock(m_mutex);
    auto found = m_files.find(codes);
    if (request.Failed() || found == m_files.end())
        return Refuse(reply);
    const StoredFile file = found->second;
    const Behaviour behaviour = m_behaviour;
    bool single = behaviour.form == Form::Single ||
                  (behaviour.form == Form::BySize && file.contents->Size() <= kSingleReplyLimit);
    if (single) {
        lock.unlock();
        return AnswerSingleReply(file, behaviour.singleFault, reply);
    }
    std::string name = OpenCacheFile(file);
    lock.unlock();
    reply.PutU32(kCachedTransfer);
    if (behaviour.announcementFault == AnnouncementFault::NameBeyondReply) {
        reply.PutU32(static_cast<DWORD>(name.size() + 64));
        reply.PutBytes(name.data(), name.size());
        return;
    }
    reply.PutCountedBytes(name);
    reply.PutU32(file.fileTime);
}

// rc 2, file time, the file's size as two words, the compressed size, the zlib stream.
void DownloadHandlers::AnswerSingleReply(const StoredFile& file, SingleReplyFault fault,
                                         ReplyWriter& reply)
{
    const std::string& compressed = file.contents->Compressed();
    if (compressed.empty())
        return Refuse(reply);
    if (fault == SingleReplyFault::ShortHeader) {
        reply.PutU32(kSingleReply);
        reply.PutU32(file.fileTime);
        reply.PutU32(0);
        return;
    }
    size_t sent = compressed.size();
    DWORD announcedSize = static_cast<DWORD>(sent);
    if (fault == SingleReplyFault::CutStream)
        announcedSize = static_cast<DWORD>(sent /= 2);
    else if (fault == SingleReplyFault::SizePastReply)
        announcedSize += kSizeOverclaim;
    else if (fault == SingleReplyFault::ZeroSize)
        announcedSize = static_cast<DWORD>(sent = 0);
    reply.PutU32(kSingleReply);
    reply.PutU32(file.fileTime);
    reply.PutU64(file.contents->Size());
    reply.PutU32(announcedSize);
    BYTE* stream = reply.Extend(sent);
    std::copy_n(compressed.data(), sent, stream);
    if (fault == SingleReplyFault::CorruptStream)
        stream[sent / 2] ^= 0x55;
}

std::string DownloadHandlers::OpenCacheFile(const StoredFile& file)
{
    std::string name = "cache" + std::to_string(++m_cacheCounter) + ".tmp";
    if (m_behaviour.announcementFault == AnnouncementFault::LongCacheName)
        name.resize(kLongCacheName, 'n');
    m_cacheFiles[name] = ServedFile::Opened(file.contents);
    return name;
}

// Request: the cache name, then the removal's reason and flag, which the common handler reads.
void DownloadHandlers::ForgetCacheFile(const RequestReader& request)
{
    RequestReader fields = request;
    std::string name;
    if (!fields.ReadCountedBytes(&name))
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cacheFiles.erase(name);
}

// Request: the cache name, the offset, the chunk size, a last word.
void DownloadHandlers::GetCachePacket(RequestReader& request, ReplyWriter& reply)
{
    PacketRequest asked;
    request.ReadCountedBytes(&asked.cacheName);
    request.ReadU64(&asked.offset);
    request.ReadU32(&asked.chunkSize);
    request.ReadU32(&asked.lastWord);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_packetRequests.push_back(asked);
    PacketAction action = PacketAction::Data;
    if (!m_actions.empty()) {
        action = m_actions.front();
        m_actions.pop_front();
    }
    auto found = m_cacheFiles.find(asked.cacheName);
    std::shared_ptr<const ServedFile> contents;
    if (!request.Failed() && found != m_cacheFiles.end())
        contents = found->second;
    const Behaviour behaviour = m_behaviour;
    lock.unlock();
    if (contents == nullptr)
        action = PacketAction::Error;
    static const std::shared_ptr<const ServedFile> kNoContents = ServedFile::FromContents({});
    AnswerPacket(action, contents ? *contents : *kNoContents, asked.offset, asked.chunkSize,
                 behaviour, reply);
}

// rc, the file's total size, a word, the data size and the data, the server text.
void DownloadHandlers::AnswerPacket(PacketAction action, const ServedFile& contents,
                                    ULONGLONG offset, DWORD chunkSize,
                                    const Behaviour& behaviour, ReplyWriter& reply)
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
    const ULONGLONG start = std::min(offset, contents.Size());
    const ULONGLONG rest = contents.Size() - start;
    // Whatever chunk the client asks for, a reply stays within the largest frame the server
    // takes itself.
    const ULONGLONG largest =
        ServerConnection::kMaximumPayload - kPacketFields - 1 - behaviour.serverText.size();
    size_t count = static_cast<size_t>(std::min<ULONGLONG>({rest, chunkSize, largest}));
    if (action == PacketAction::Preparing)
        count = 0;
    else if (action == PacketAction::PastEndOfFile)
        count = static_cast<size_t>(std::min(rest, largest));
    const bool pastEnd = action == PacketAction::PastEndOfFile;
    ULONGLONG dataSize = count + (pastEnd ? 1 : 0);
    if (action == PacketAction::SizePastReply)
        dataSize += kSizeOverclaim;
    reply.Reserve(kPacketFields + count + 1 + behaviour.serverText.size());
    reply.PutU32(action == PacketAction::Preparing ? kPacketPreparing : kPacketData);
    reply.PutU64(behaviour.announcedTotal.value_or(contents.Size()));
    reply.PutU32(behaviour.packetWord);
    reply.PutU64(dataSize);
    if (!contents.Read(start, count, reply.Extend(count))) {
        reply.Clear();
        reply.PutU32(kPacketError);
        reply.PutU32(0);
        return;
    }
    if (pastEnd)
        reply.PutBytes("!", 1);
    reply.PutCountedBytes(behaviour.serverText);
}
