// The stand-in server's side of file downloads: a store of file contents by their five codes,
// answered to a file request (129) either with one compressed reply (a real zlib stream, made
// once per file) or with a cache file that the client then fetches packet by packet (106),
// each chunk read straight from the stored contents. A cache file holds nothing but a
// reference to its contents and is forgotten when the client removes it (35), which the
// server's common handlers then answer as before. For clients' failure paths it
// can misbehave on purpose: damaged or cut zlib streams, sizes that the reply does not hold, a
// cache name too long, and scripted answers to the next packet requests (errors, stops,
// waits, dropped connections, data past the end of the file).
//
// Register it on a server's command table; it must outlive the server's connections.
#pragma once

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/server/CommandTable.h"
#include "tools/server/ServedFile.h"

class DownloadHandlers {
public:
    // The five 64-bit codes that name a file version.
    using FileCodes = std::array<ULONGLONG, 5>;

    // Files up to this size go as one compressed reply unless a form is forced.
    static constexpr size_t kSingleReplyLimit = 0x100000;

    enum class Form { BySize, Single, Cached };

    enum class SingleReplyFault {
        None,
        // One byte in the middle of the stream is changed.
        CorruptStream,
        // Only the first half of the stream is sent, with its size.
        CutStream,
        // The compressed size claims 100 bytes more than the reply holds.
        SizePastReply,
        // The reply ends inside its header.
        ShortHeader,
        // The compressed size is 0 and no stream follows.
        ZeroSize,
    };

    enum class AnnouncementFault {
        None,
        // A cache name of 2048 bytes.
        LongCacheName,
        // The name's count runs past the end of the reply.
        NameBeyondReply,
    };

    // How the server answers one packet request.
    enum class PacketAction {
        // The chunk asked for.
        Data,
        // No answer: the connection is closed.
        Drop,
        // Result 0.
        Error,
        // Result 4: the server stops the transfer.
        Stop,
        // Result 2: the cache file is still being prepared.
        Preparing,
        // The data size claims more bytes than the reply holds.
        SizePastReply,
        // The rest of the file and one byte more, past the size announced.
        PastEndOfFile,
    };

    struct Behaviour {
        Form form = Form::BySize;
        SingleReplyFault singleFault = SingleReplyFault::None;
        AnnouncementFault announcementFault = AnnouncementFault::None;
        // Sent with every packet reply (count, then the bytes).
        std::string serverText;
        // The word at offset 12 of every packet reply.
        DWORD packetWord = 0;
        // Announced in place of the file's real size.
        std::optional<ULONGLONG> announcedTotal;
    };

    struct PacketRequest {
        std::string cacheName;
        ULONGLONG offset = 0;
        DWORD chunkSize = 0;
        DWORD lastWord = 0;
    };

    void AddFile(const FileCodes& codes, const std::string& contents, DWORD fileTime);
    void AddFile(const FileCodes& codes, std::shared_ptr<const ServedFile> contents,
                 DWORD fileTime);
    void SetBehaviour(const Behaviour& behaviour);
    // The answers to the next packet requests, in order, in place of those still queued (a
    // transfer that was cut off leaves some); after them, data.
    void QueuePacketActions(const std::vector<PacketAction>& actions);

    std::vector<PacketRequest> PacketRequests() const;
    // Cache files announced and not yet removed.
    size_t OpenCacheFiles() const;

    void Register(CommandTable& commands);

private:
    struct StoredFile {
        std::shared_ptr<const ServedFile> contents;
        DWORD fileTime = 0;
    };

    void GetFile(RequestReader& request, ReplyWriter& reply);
    void GetCachePacket(RequestReader& request, ReplyWriter& reply);
    void ForgetCacheFile(const RequestReader& request);
    static void AnswerSingleReply(const StoredFile& file, SingleReplyFault fault,
                                  ReplyWriter& reply);
    // A fresh cache name for the contents; called with the lock held.
    std::string OpenCacheFile(const StoredFile& file);
    static void AnswerPacket(PacketAction action, const ServedFile& contents, ULONGLONG offset,
                             DWORD chunkSize, const Behaviour& behaviour, ReplyWriter& reply);

    mutable std::mutex m_mutex;
    std::map<FileCodes, StoredFile> m_files;
    Behaviour m_behaviour;
    std::deque<PacketAction> m_actions;
    // Cache files by name: the contents they serve.
    std::map<std::string, std::shared_ptr<const ServedFile>> m_cacheFiles;
    DWORD m_cacheCounter = 0;
    std::vector<PacketRequest> m_packetRequests;
};
