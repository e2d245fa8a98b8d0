// The file download of a channel: one file version from the server into a local file,
// either as one compressed reply inflated in memory, or as a cached transfer fetched chunk by
// chunk with retries, progress and cancellation through the host's callback.
//
// Every reply comes from the network: its fields are read only where the reply holds them,
// and a reply whose sizes do not add up is never written to disk.
#include "connection/Csocketclient.h"

#include <string_view>

#include "connection/ReplyReader.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "restore/CTransferFile.h"
#include "restore/Cunzip.h"

namespace {

// First word of the reply to a file request.
constexpr DWORD kRefused = 0;
constexpr DWORD kSingleReply = 2;
// First word of a cache packet reply.
constexpr DWORD kPacketError = 0;
constexpr DWORD kPacketPreparing = 2;
constexpr DWORD kPacketStop = 4;

// Why a cached transfer asked the server to remove its cache file.
constexpr DWORD kReasonRequestNotBuilt = 1;
constexpr DWORD kReasonSendFailed = 2;
constexpr DWORD kReasonReceiveFailed = 3;
constexpr DWORD kReasonServerError = 4;
constexpr DWORD kReasonCancelled = 5;
constexpr DWORD kReasonSizeRefused = 6;
constexpr DWORD kReasonWriteFailed = 7;
constexpr DWORD kReasonComplete = 8;
constexpr DWORD kReasonStopped = 49;
constexpr DWORD kReasonProgressRefused = 60;

// Event codes of the host callback.
constexpr DWORD kCodeState = 7;
constexpr DWORD kCodeReconnecting = 8;
constexpr DWORD kCodeServerText = 9;
constexpr DWORD kCodeDataSize = 24;
constexpr DWORD kCodeDataDone = 25;
// Values of the state event.
constexpr ULONGLONG kStateRequestSent = 4;
constexpr ULONGLONG kStateDataArriving = 5;

constexpr DWORD kMaximumAttempts = 10;
constexpr DWORD kRetrySleep = 10;
constexpr DWORD kWaitSleep = 10;
constexpr DWORD kPreparingSleep = 500;
constexpr INT kLogLevel = 30;

// The single compressed reply: rc, file time, two words, compressed size, then the stream.
constexpr DWORD kSingleHeaderLength = 20;
constexpr DWORD kSingleFileTimeOffset = 4;
constexpr DWORD kSingleSizeOffset = 16;
// A server text is raised only when it holds 1 to this many bytes.
constexpr DWORD kServerTextMaximum = 63;

template <typename... Args>
void LogDownload(Csocketclient& channel, INT type, const WCHAR* format, const Args&... args)
{
    channel.LogW(type, kLogLevel, FormatString(format, args...).c_str());
}

// Runs the caller's work, if there is any.
void Prepare(const Csocketclient::Preparation& preparation)
{
    if (preparation)
        preparation();
}

// A download that cannot write path, for the system error given; gives 0.
INT RefuseFile(Csocketclient& channel, const WCHAR* path, DWORD error)
{
    LogDownload(channel, Csocketclient::kTypeError,
                u"Csocketzip::GetFile CreateFile failed on (%s) win32error (%d)", path, error);
    return 0;
}

// Puts the complete file in destination's place, with the file time when it is not 0. On
// failure the file is removed and destination keeps its bytes, unless the copy into it in
// place failed part-way: the complete file then keeps the name that the log line gives. That
// name is logged before the copy's first byte too, so that a process killed during the copy
// leaves word of it. The system error goes to *systemError.
bool PutInPlace(Csocketclient& channel, CTransferFile& file, const WCHAR* destination,
                DWORD fileTime, DWORD* systemError)
{
    const WCHAR* failedStep = nullptr;
    const auto announceCopy = [&] {
        LogDownload(channel, Csocketclient::kTypeInformation,
                    u"GetFile the restored file is whole in (%s) while it is copied into (%s)",
                    file.KeptName().c_str(), destination);
    };
    if (file.PutInPlace(destination, static_cast<int32_t>(fileTime), &failedStep, announceCopy))
        return true;
    *systemError = GetLastError();
    LogDownload(channel, Csocketclient::kTypeError, u"GetFile %s failed win32error (%ld) on (%s)",
                failedStep, *systemError, destination);
    if (!file.KeptName().empty())
        LogDownload(channel, Csocketclient::kTypeError,
                    u"GetFile the restored file is whole in (%s); (%s) holds part of it",
                    file.KeptName().c_str(), destination);
    file.Discard();
    return false;
}

}  // namespace

// The paths of a running download, the file it writes until the data is complete, and the
// caller's out-values.
struct Csocketclient::Download {
    const WCHAR* path;
    const WCHAR* finalPath;
    DWORD* word;
    DWORD* done;
    DWORD* fileTime;
    CTransferFile file;
};

// One cache packet reply, its fields checked against its length.
struct Csocketclient::CachePacket {
    DWORD rc = 0;
    ULONGLONG total = 0;
    DWORD word = 0;
    ULONGLONG dataSize = 0;
    const BYTE* data = nullptr;
    ReplyReader::Text text;

    // Reads the reply's rc and, unless it is an error or a stop, the fields after it. False
    // when the reply is shorter than its fields claim, or its data runs past the end of the
    // file (whose size this very reply gives at offset 0, else knownTotal; 0 = not known).
    bool Read(const void* payload, DWORD length, ULONGLONG offset, ULONGLONG knownTotal)
    {
        ReplyReader reader(payload, length);
        if (!reader.U32(&rc))
            return false;
        if (rc == kPacketError || rc == kPacketStop)
            return true;
        if (!reader.U64(&total) || !reader.U32(&word) || !reader.U64(&dataSize))
            return false;
        data = static_cast<const BYTE*>(payload) + reader.Offset();
        if (dataSize > length || !reader.Skip(static_cast<DWORD>(dataSize)) ||
            !reader.Counted(&text.data, &text.count))
            return false;
        const ULONGLONG fileSize = offset == 0 ? total : knownTotal;
        return fileSize == 0 || dataSize <= fileSize - offset;
    }
};

INT Csocketclient::RequestFile(DWORD w1, DWORD w2, DWORD w3, DWORD w4, DWORD w5, DWORD w6,
                               DWORD w7, DWORD w8, DWORD w9, DWORD w10, const WCHAR* path,
                               const WCHAR* finalPath, DWORD w11, DWORD* word, DWORD* done,
                               DWORD* fileTime, const Preparation& preparation)
{
    void* request = nullptr;
    const DWORD length =
        m_createpacket.GetFile(&request, w1, w2, w3, w4, w5, w6, w7, w8, w9, w10, w11);
    if (length == 0) {
        Prepare(preparation);
        return 0;
    }
    return GetFile(length, request, path, finalPath, word, done, fileTime, preparation);
}

INT Csocketclient::GetFile(DWORD requestLength, void* request, const WCHAR* path,
                           const WCHAR* finalPath, DWORD* word, DWORD* done, DWORD* fileTime,
                           const Preparation& preparation)
{
    PacketBuffer ownedRequest(request);
    *fileTime = 0;
    *done = 0;
    // A cancellation left over from an earlier operation must not end this one.
    m_cancel = 0;
    LogDownload(*this, kTypeInformation, u"GetFile %s", finalPath);

    // The data goes to a file of the download's own; path itself gets it only once it is
    // complete. What an open of path for writing would refuse, or a folder in which no file
    // of the download's can be made, is refused here, before anything is sent: a refusal
    // neither asks the server nor waits for it.
    Download download{path, finalPath, word, done, fileTime, {}};
    if (!download.file.Check(path)) {
        const DWORD error = GetLastError();
        Prepare(preparation);
        return RefuseFile(*this, path, error);
    }
    // The echo that tests the connection travels while the caller's work is done and the
    // file is made, so that its round trip costs no time of its own.
    const ConnectionCheckAhead echo(*this);
    Prepare(preparation);
    if (!download.file.Create())
        return RefuseFile(*this, path, GetLastError());
    if (!EnsureSession(1, 0))
        return DiscardFile(download);
    if (!SendPacket(ownedRequest.release(), requestLength))
        return DiscardFile(download);
    download.file.Prepare();
    RaiseEvent(kCodeState, nullptr, kStateRequestSent);

    switch (WaitForFileReply()) {
    case ReplyWait::Ready:
        break;
    case ReplyWait::SelectFailed:
        DiscardFile(download);
        m_lastError = kErrorTimeout;
        return 0;
    case ReplyWait::Cancelled:
        return DiscardFile(download);
    }

    void* reply = nullptr;
    const DWORD length = ReceiveMsg(&reply);
    if (length == 0) {
        LogDownload(*this, kTypeError, u"GetFile: ReceiveMsg(inbuf) failed");
        return DiscardFile(download);
    }
    ReplyReader reader(reply, length);
    DWORD rc = kRefused;
    reader.U32(&rc);
    LogDownload(*this, kTypeInformation, u"GetFile: ReceiveMsg retcode %d", rc);
    if (rc == kRefused) {
        Cutil::FreePacket(reply);
        return DiscardFile(download);
    }
    if (rc == kSingleReply)
        return ReceiveSingleFile(download, reply, length);
    return ReceiveCachedFile(download, reply, length);
}

// Waits for the reply to the file request, polling the host for a cancellation between
// waits. A failed wait or a cancellation closes the socket.
Csocketclient::ReplyWait Csocketclient::WaitForFileReply()
{
    for (;;) {
        DWORD selectFailed = 0;
        if (WaitToRecvData(sizeof(DWORD), m_waitTimeout, &selectFailed))
            return ReplyWait::Ready;
        if (selectFailed) {
            CloseSocket(1);
            return ReplyWait::SelectFailed;
        }
        Sleep(kWaitSleep);
        if (HostCancels(kCodeCancelPoll, 0)) {
            CloseSocket(1);
            return ReplyWait::Cancelled;
        }
    }
}

INT Csocketclient::ReceiveSingleFile(Download& download, void* reply, DWORD length)
{
    PacketBuffer ownedReply(reply);
    LogDownload(*this, kTypeInformation, u"GetFile: Single packet reply");
    RaiseEvent(kCodeState, nullptr, kStateDataArriving);
    if (length < kSingleHeaderLength) {
        LogDownload(*this, kTypeError, u"GetFile: Single packet reply too short (%lu)", length);
        return DiscardFile(download);
    }
    DWORD compressedSize = 0;
    ReplyReader(reply, length, kSingleFileTimeOffset).U32(download.fileTime);
    ReplyReader(reply, length, kSingleSizeOffset).U32(&compressedSize);
    if (HostCancels(kCodeCancelPoll, 0) || HostCancels(kCodeDataSize, compressedSize))
        return DiscardFile(download);
    if (compressedSize == 0) {
        LogDownload(*this, kTypeError, u"GetFile: retcode == 2 failed compressedsize = (%ld)",
                    compressedSize);
        return DiscardFile(download);
    }
    if (compressedSize > length - kSingleHeaderLength) {
        LogDownload(*this, kTypeError,
                    u"GetFile: retcode == 2 reply of (%lu) bytes is short of "
                    u"compressedsize = (%ld)",
                    length, compressedSize);
        return DiscardFile(download);
    }
    Cunzip unzip;
    void* data = nullptr;
    DWORD dataLength = 0;
    const BYTE* stream = static_cast<const BYTE*>(reply) + kSingleHeaderLength;
    if (!unzip.Decompress(&data, &dataLength, stream, compressedSize)) {
        LogDownload(*this, kTypeError, u"GetFile: Decompress failed compressedsize = (%ld)",
                    compressedSize);
        return DiscardFile(download);
    }
    ownedReply.reset();
    return WriteSingleFile(download, data, dataLength, compressedSize);
}

// Writes the inflated file in one piece and puts it in place of the final path.
INT Csocketclient::WriteSingleFile(Download& download, void* data, DWORD length,
                                   DWORD compressedSize)
{
    PacketBuffer ownedData(data);
    // The folders of the download's own path were there when its file was made beside it.
    if (std::u16string_view(download.finalPath) != download.path &&
        !Cutil::CreateDirectoryTree(download.finalPath)) {
        m_systemError = GetLastError();
        if (m_systemError != ERROR_ALREADY_EXISTS) {
            LogDownload(*this, kTypeError,
                        u"GetFile:: CreateDirectoryTree failed win32error (%ld) on (%s)",
                        m_systemError, download.finalPath);
            return DiscardFile(download);
        }
    }
    // The transfer file is new and empty: one write fills it, and the flush comes with its
    // placing.
    DWORD written = 0;
    const bool wrote = WriteFile(download.file.Handle(), data, length, &written, nullptr) != FALSE;
    if (!wrote || written != length) {
        m_systemError = GetLastError();
        LogDownload(*this, kTypeError, u"GetFile:: writebin failed win32error (%ld) (%d) on (%s)",
                    m_systemError, wrote ? Cutil::kStepShortWrite : Cutil::kStepWrite,
                    download.finalPath);
        return DiscardFile(download);
    }
    RaiseEvent(kCodeDataDone, nullptr, compressedSize);
    ownedData.reset();
    if (!PutInPlace(*this, download.file, download.finalPath, *download.fileTime, &m_systemError))
        return 0;
    *download.done = 1;
    return 1;
}

INT Csocketclient::ReceiveCachedFile(Download& download, void* reply, DWORD length)
{
    if (!ReadCacheName(download, reply, length))
        return DiscardFile(download);

    ULONGLONG offset = 0;
    ULONGLONG total = 0;
    DWORD attempts = 0;
    bool announced = false;
    for (;;) {
        void* packetReply = nullptr;
        DWORD packetLength = 0;
        CacheExchange exchange =
            ExchangeCachePacket(download, offset, attempts, &packetReply, &packetLength);
        PacketBuffer ownedPacket(packetReply);
        CachePacket packet;
        if (exchange == CacheExchange::Received &&
            !packet.Read(packetReply, packetLength, offset, total)) {
            // Asked for again, like a reply that never came.
            LogDownload(*this, kTypeError,
                        u"GetFile: GetCachePacket reply malformed (%lu) at (%I64u)", packetLength,
                        offset);
            exchange = CacheExchange::ReceiveFailed;
        }
        switch (exchange) {
        case CacheExchange::Received:
            break;
        case CacheExchange::NotBuilt:
            return AbandonCachedFile(download, kReasonRequestNotBuilt);
        case CacheExchange::Cancelled:
            return AbandonCachedFile(download, kReasonCancelled);
        case CacheExchange::SendFailed:
            if (TryAgain(&attempts, u"GetFile: SendMsg failed retry (%d)"))
                continue;
            LogDownload(*this, kTypeError, u"GetFile: SendMsg failed");
            return AbandonCachedFile(download, kReasonSendFailed);
        case CacheExchange::ReceiveFailed:
            if (TryAgain(&attempts, u"GetFile: ReceiveMsg failed retry (%d)"))
                continue;
            LogDownload(*this, kTypeError, u"GetFile: ReceiveMsg failed");
            return AbandonCachedFile(download, kReasonReceiveFailed);
        }

        if (packet.rc == kPacketPreparing)
            LogDownload(*this, kTypeInformation,
                        u"GetFile: GetCachePacket wait ... preparing (%ld)", packet.rc);
        else
            LogDownload(*this, kTypeInformation, u"GetFile: GetCachePacket retcode (%ld)",
                        packet.rc);
        if (packet.rc == kPacketError &&
            TryAgain(&attempts, u"GetFile: ReceiveMsg retcode retry (%d)"))
            continue;
        attempts = 0;
        if (packet.rc == kPacketError)
            return AbandonCachedFile(download, kReasonServerError);
        if (packet.rc == kPacketStop)
            return AbandonCachedFile(download, kReasonStopped);

        if (offset == 0) {
            total = packet.total;
            *download.word = packet.word;
            RaiseServerText(packet.text);
        }
        if (HostCancels(kCodeCancelPoll, 0))
            return AbandonCachedFile(download, kReasonCancelled);
        if (packet.rc == kPacketPreparing) {
            ownedPacket.reset();
            Sleep(kPreparingSleep);
            continue;
        }
        if (packet.dataSize == 0) {
            LogDownload(*this, kTypeError, u"GetFile: datasize == 0");
            return FinishCachedFile(download, offset, total);
        }
        if (!announced && total > 0) {
            if (HostCancels(kCodeDataSize, total))
                return AbandonCachedFile(download, kReasonSizeRefused);
            RaiseEvent(kCodeState, nullptr, kStateDataArriving);
        }
        announced = true;

        const DWORD dataSize = static_cast<DWORD>(packet.dataSize);
        if (!AppendToFile(download, packet.data, dataSize))
            return AbandonCachedFile(download, kReasonWriteFailed);
        ownedPacket.reset();
        offset += dataSize;
        if (HostCancels(kCodeDataDone, dataSize))
            return AbandonCachedFile(download, kReasonProgressRefused);
        if (dataSize < m_getPacketSize)
            return FinishCachedFile(download, offset, total);
    }
}

// Takes the cache name and the file time from the announcement of a cached transfer, and
// releases it.
bool Csocketclient::ReadCacheName(Download& download, void* reply, DWORD length)
{
    PacketBuffer announcement(reply);
    ReplyReader reader(reply, length, sizeof(DWORD));
    ReplyReader::Text name;
    DWORD fileTime = 0;
    if (!reader.Narrow(&name, kDownloadNameSize) || !reader.U32(&fileTime)) {
        LogDownload(*this, kTypeError, u"GetFile: cache file reply malformed (%lu)", length);
        return false;
    }
    name.CopyTo(m_cacheName);
    *download.fileTime = fileTime;
    return true;
}

// Asks for the chunk at offset, first reconnecting when the connection was lost, and
// receives the reply into *reply (released by the caller).
Csocketclient::CacheExchange Csocketclient::ExchangeCachePacket(const Download& download,
                                                                ULONGLONG offset, DWORD attempts,
                                                                void** reply, DWORD* length)
{
    void* request = nullptr;
    const DWORD requestLength =
        m_createpacket.GetCachePacket(&request, m_cacheName, static_cast<DWORD>(offset),
                                      static_cast<DWORD>(offset >> 32), m_getPacketSize, 0);
    if (requestLength == 0)
        return CacheExchange::NotBuilt;
    if (!IsConnected()) {
        RaiseEvent(kCodeReconnecting,
                   FormatString(u"Connection failed while restoring %s. Retry %d of %d",
                                download.finalPath, attempts + 1, kMaximumAttempts)
                       .c_str(),
                   0);
        EnsureSession(1, 0);
    }
    if (!SendPacket(request, requestLength))
        return CacheExchange::SendFailed;
    *length = ReceiveMsg(reply);
    if (*length != 0)
        return CacheExchange::Received;
    // A receive that the host cancelled ends the transfer; it is no connection failure.
    return m_cancel ? CacheExchange::Cancelled : CacheExchange::ReceiveFailed;
}

// Counts a failed try; below the limit it logs the retry and pauses, and gives true.
bool Csocketclient::TryAgain(DWORD* attempts, const WCHAR* retryFormat)
{
    if (++*attempts >= kMaximumAttempts)
        return false;
    LogDownload(*this, kTypeError, retryFormat, *attempts);
    Sleep(kRetrySleep);
    return true;
}

bool Csocketclient::AppendToFile(Download& download, const BYTE* data, DWORD length)
{
    DWORD written = 0;
    if (WriteFile(download.file.Handle(), data, length, &written, nullptr) && written == length)
        return true;
    m_systemError = GetLastError();
    LogDownload(*this, kTypeError, u"GetFile WriteFile failed win32error (%ld)", m_systemError);
    return false;
}

// The server has sent its last chunk. A file that ends short of the size the server
// announced is incomplete and does not replace path.
INT Csocketclient::FinishCachedFile(Download& download, ULONGLONG received, ULONGLONG total)
{
    RemoveCacheFile(m_cacheName, kReasonComplete, 0, 1);
    if (total != 0 && received != total) {
        LogDownload(*this, kTypeError, u"GetFile: transfer ended at (%I64u) of (%I64u) bytes",
                    received, total);
        return DiscardFile(download);
    }
    // The cached transfer does not apply the file time.
    return PutInPlace(*this, download.file, download.path, 0, &m_systemError) ? 1 : 0;
}

INT Csocketclient::AbandonCachedFile(Download& download, DWORD reason)
{
    // The removal is an exchange of its own; what it leaves must not hide why the transfer
    // ended.
    const DWORD lastError = m_lastError;
    const DWORD cancel = m_cancel;
    RemoveCacheFile(m_cacheName, reason, 0, 1);
    m_lastError = lastError;
    m_cancel = cancel;
    return DiscardFile(download);
}

INT Csocketclient::DiscardFile(Download& download)
{
    download.file.Discard();
    return 0;
}

void Csocketclient::RaiseEvent(DWORD code, const WCHAR* text, ULONGLONG value)
{
    if (m_callback != nullptr)
        m_callback(m_callbackContext, code, text, value);
}

bool Csocketclient::HostCancels(DWORD code, ULONGLONG value)
{
    if (m_callback == nullptr || PollCallback(code, value) == 0)
        return false;
    m_cancel = 1;
    return true;
}

// The text that the server sends with its first reply, handed to the host when it is short.
void Csocketclient::RaiseServerText(const ReplyReader::Text& text)
{
    if (m_callback == nullptr || text.count == 0 || text.count > kServerTextMaximum)
        return;
    char narrow[kServerTextMaximum + 1];
    text.CopyTo(narrow);
    WCHAR wide[kServerTextMaximum + 1];
    if (Cutil::AnsiToWide(narrow, wide, kServerTextMaximum + 1) == 0)
        return;
    m_lastError = static_cast<DWORD>(m_callback(m_callbackContext, kCodeServerText, wide, 0));
}
