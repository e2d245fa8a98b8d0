// The exports that let the host browse what the server stores for the member: machines,
// volumes, folders, file versions and a search. Each hands the server's reply to the host
// whole, as a reply buffer with its item count and byte size; the host gives it back through
// FreeBuffer. Beside them, two plain queries about stored files.
#include "kelvane.h"

#include "api/ExportFrame.h"
#include "api/ExportSupport.h"
#include "api/ReplyBuffer.h"
#include "connection/Csocketclient.h"
#include "util/Cutil.h"

namespace {

constexpr const char16_t* kNoChannelWarning = u"No channel has opened.";

// The records of each list: texts are counted, fixed parts are passed through unread.
constexpr RecordPart kVersionRecord[] = {FixedPart(20)};
constexpr RecordPart kSearchRecord[] = {FixedPart(60), kTextPart, kTextPart};
constexpr RecordPart kMachineRecord[] = {kTextPart, FixedPart(12), kTextPart, FixedPart(16),
                                         kTextPart};
constexpr RecordPart kMachineExRecord[] = {kTextPart, FixedPart(12), kTextPart, FixedPart(16),
                                           kTextPart, FixedPart(4),  kTextPart, FixedPart(16)};
constexpr RecordPart kVolumeRecord[] = {kTextPart, FixedPart(16)};
constexpr RecordPart kFolderRecord[] = {kTextPart, FixedPart(52)};

// A Search reply: result word, count word, then the records.
constexpr DWORD kSearchCountOffset = 4;
constexpr DWORD kSearchRecordsOffset = 8;

// The backslash that names a volume's root folder.
constexpr const char16_t* kRootFolder = u"\\";

// What sets one list export apart from the others.
struct ListExport {
    RecordLayout layout;
    // The host's size is cleared before anything else.
    bool clearsSize;
    // Warning of a failed command; null when none is written.
    const char16_t* failedWarning;
    // Information line of an empty list, which gives NULL; null when an empty list is handed
    // over like any other.
    const char16_t* emptyInfo;
    const char16_t* foundInfo;
    // Exit line numbers; null where a way out has neither number nor result.
    const char16_t* noChannelExit;
    const char16_t* emptyExit;
    const char16_t* foundExit;
};

constexpr ListExport kVersionList{kVersionRecord, false, nullptr, u"No items versions found.",
                                  u"items versions found.", nullptr, nullptr, u"761"};
constexpr ListExport kMachineList{kMachineRecord, true, u"Unable to get machine list.",
                                  u"No machines found.", u"Machines found.", nullptr, u"851",
                                  u"904"};
constexpr ListExport kMachineExList{kMachineExRecord, true, u"Unable to get machines list.",
                                    u"No machines found.", u"Machines found.", u"924", u"939",
                                    u"1029"};
constexpr ListExport kVolumeList{kVolumeRecord, true, u"Unable to get volumes.",
                                 u"No volumes found.", u"Volumes found.", nullptr, u"1049",
                                 u"1079"};
constexpr ListExport kFolderList{kFolderRecord, true, u"Unable to get folder.", nullptr,
                                 u"folder found.", nullptr, nullptr, u"1154"};
constexpr ListExport kRootFolderList{kFolderRecord, false, u"Unable to get root directory.",
                                     nullptr, u"Root folder found.", nullptr, nullptr, u"1226"};

// Ends the call with its exit line and result, or with neither where the way out has none.
void* Leave(ExportFrame& frame, const char16_t* exitLine, void* buffer)
{
    return exitLine != nullptr ? frame.Return(exitLine, buffer) : buffer;
}

// Runs one list command and hands its reply to the host. command(channel, reply, &items)
// calls the channel's method, which stores the payload, its length and its item count.
template <typename Command>
void* HandListToHost(ExportFrame& frame, const ListExport& list, Csocketclient* channel,
                     uint32_t* count, uint32_t* size, Command command)
{
    uint32_t countScratch = 0;
    uint32_t sizeScratch = 0;
    count = OutOrScratch(count, countScratch);
    size = OutOrScratch(size, sizeScratch);
    if (list.clearsSize)
        *size = 0;
    if (channel == nullptr) {
        frame.Warning(kNoChannelWarning);
        return Leave(frame, list.noChannelExit, nullptr);
    }
    ReplyBuffer reply;
    DWORD items = 0;
    DWORD total = 0;
    bool received = command(*channel, reply, &items) != 0;
    if (received && !reply.MeasureRecords(kReplyWordSize, items, list.layout, &total)) {
        frame.Warning(kReplyRecordsOverrun);
        reply.Release();
        received = false;
    }
    if (!received) {
        if (list.failedWarning != nullptr)
            frame.Warning(list.failedWarning);
        *count = 0;
        if (list.emptyInfo == nullptr) {
            *size = 0;
            return Leave(frame, list.foundExit, nullptr);
        }
        frame.Info(list.emptyInfo);
        return Leave(frame, list.emptyExit, nullptr);
    }
    *count = items;
    if (items == 0 && list.emptyInfo != nullptr) {
        frame.Info(list.emptyInfo);
        reply.Release();
        return Leave(frame, list.emptyExit, nullptr);
    }
    frame.Info(list.foundInfo);
    frame.Var(u"count", items);
    *size = total;
    return Leave(frame, list.foundExit, reply.HandOver());
}

// What a Search reply holds: nothing usable, a result word of 0, or hits.
enum class SearchOutcome { Failed, NoResult, Found };

// Reads the result and the count of a Search reply and, when there are hits, the buffer's
// size walked from its records.
SearchOutcome ReadSearchReply(ExportFrame& frame, const ReplyBuffer& reply, DWORD* items,
                              DWORD* size)
{
    DWORD result = 0;
    if (!reply.ReadWord(0, &result) || !reply.ReadWord(kSearchCountOffset, items))
        return SearchOutcome::Failed;
    if (result == 0)
        return SearchOutcome::NoResult;
    if (!reply.MeasureRecords(kSearchRecordsOffset, *items, kSearchRecord, size)) {
        frame.Warning(kReplyRecordsOverrun);
        return SearchOutcome::Failed;
    }
    return SearchOutcome::Found;
}

} // namespace

extern "C" {

void* loadVersion(Csocketclient* channel, uint32_t* count, uint32_t* size,
                  uint32_t machineCodeLow, uint32_t machineCodeHigh, uint32_t volumeCodeLow,
                  uint32_t volumeCodeHigh, uint32_t folderCodeLow, uint32_t folderCodeHigh,
                  uint32_t fileCodeLow, uint32_t fileCodeHigh)
{
    return ExportFrame::Run(u"loadVersion", u"725", static_cast<void*>(nullptr),
                            [&](ExportFrame& frame) {
        frame.Var(u"machineCode", JoinCode(machineCodeLow, machineCodeHigh));
        frame.Var(u"volumeCode", JoinCode(volumeCodeLow, volumeCodeHigh));
        frame.Var(u"folderCode", JoinCode(folderCodeLow, folderCodeHigh));
        frame.Var(u"fileCode", JoinCode(fileCodeLow, fileCodeHigh));
        return HandListToHost(frame, kVersionList, channel, count, size,
                              [&](Csocketclient& open, ReplyBuffer& reply, DWORD* items) {
            return open.GetVersions(reply.Out(), machineCodeLow, machineCodeHigh, volumeCodeLow,
                                    volumeCodeHigh, folderCodeLow, folderCodeHigh, fileCodeLow,
                                    fileCodeHigh, items, reply.LengthOut());
        });
    });
}

void* Search(Csocketclient* channel, uint32_t machineidLow, uint32_t machineidHigh,
             const char16_t* searchstring, uint32_t* size)
{
    return ExportFrame::Run(u"Search", u"772", static_cast<void*>(nullptr),
                            [&](ExportFrame& frame) -> void* {
        frame.Var(u"machineid", static_cast<int64_t>(JoinCode(machineidLow, machineidHigh)));
        frame.Var(u"searchstring", searchstring);
        uint32_t sizeScratch = 0;
        size = OutOrScratch(size, sizeScratch);
        *size = 0;
        if (channel == nullptr) {
            frame.Warning(kNoChannelWarning);
            return nullptr;
        }
        ReplyBuffer reply;
        DWORD items = 0;
        DWORD total = 0;
        SearchOutcome outcome = SearchOutcome::Failed;
        if (channel->Search(reply.Out(), machineidLow, machineidHigh, searchstring,
                            reply.LengthOut()))
            outcome = ReadSearchReply(frame, reply, &items, &total);
        if (outcome == SearchOutcome::Failed) {
            frame.Info(u"No search item found.");
            return frame.Return(u"787", static_cast<void*>(nullptr));
        }
        if (outcome == SearchOutcome::NoResult)
            return frame.Return(u"796", static_cast<void*>(nullptr));
        frame.Info(u"search item found .");
        frame.Var(u"numfiles", items);
        *size = total;
        return frame.Return(u"827", reply.HandOver());
    });
}

void* loadMachines(Csocketclient* channel, uint32_t* count, uint32_t* size)
{
    return ExportFrame::Run(u"loadMachines", u"835", static_cast<void*>(nullptr),
                            [&](ExportFrame& frame) {
        return HandListToHost(frame, kMachineList, channel, count, size,
                              [](Csocketclient& open, ReplyBuffer& reply, DWORD* items) {
            return open.MachineList(0, reply.Out(), items, reply.LengthOut());
        });
    });
}

void* loadMachinesEx(Csocketclient* channel, uint32_t* count, uint32_t* size)
{
    return ExportFrame::Run(u"loadMachinesEx", u"913", static_cast<void*>(nullptr),
                            [&](ExportFrame& frame) {
        return HandListToHost(frame, kMachineExList, channel, count, size,
                              [](Csocketclient& open, ReplyBuffer& reply, DWORD* items) {
            return open.MachineListEx(0, reply.Out(), items, reply.LengthOut());
        });
    });
}

void* loadVolumes(Csocketclient* channel, uint32_t* count, uint32_t* size)
{
    return ExportFrame::Run(u"loadVolumes", u"1038", static_cast<void*>(nullptr),
                            [&](ExportFrame& frame) {
        return HandListToHost(frame, kVolumeList, channel, count, size,
                              [](Csocketclient& open, ReplyBuffer& reply, DWORD* items) {
            return open.GetVolumeList(reply.Out(), items, reply.LengthOut());
        });
    });
}

void* loadFolderByFolderCode(Csocketclient* channel, uint32_t* count, uint32_t* size,
                             uint32_t machineCodeLow, uint32_t machineCodeHigh,
                             uint32_t volumeCodeLow, uint32_t volumeCodeHigh,
                             uint32_t folderCodeLow, uint32_t folderCodeHigh)
{
    return ExportFrame::Run(u"loadFolderByFolderCode", u"1093", static_cast<void*>(nullptr),
                            [&](ExportFrame& frame) {
        frame.Var(u"machineCode", JoinCode(machineCodeLow, machineCodeHigh));
        frame.Var(u"volumeCode", JoinCode(volumeCodeLow, volumeCodeHigh));
        frame.Var(u"folderCode", JoinCode(folderCodeLow, folderCodeHigh));
        return HandListToHost(frame, kFolderList, channel, count, size,
                              [&](Csocketclient& open, ReplyBuffer& reply, DWORD* items) {
            return open.GetDirectory(2, reply.Out(), machineCodeLow, machineCodeHigh,
                                     volumeCodeLow, volumeCodeHigh, folderCodeLow,
                                     folderCodeHigh, items, reply.LengthOut());
        });
    });
}

void* loadRootFolder(Csocketclient* channel, uint32_t* count, uint32_t* size,
                     uint32_t machineCodeLow, uint32_t machineCodeHigh, uint32_t volumeCodeLow,
                     uint32_t volumeCodeHigh)
{
    return ExportFrame::Run(u"loadRootFolder", u"1165", static_cast<void*>(nullptr),
                            [&](ExportFrame& frame) {
        frame.Var(u"machineCode", JoinCode(machineCodeLow, machineCodeHigh));
        frame.Var(u"volumeCode", JoinCode(volumeCodeLow, volumeCodeHigh));
        return HandListToHost(frame, kRootFolderList, channel, count, size,
                              [&](Csocketclient& open, ReplyBuffer& reply, DWORD* items) {
            return open.GetRootDirectory(2, reply.Out(), machineCodeLow, machineCodeHigh,
                                         volumeCodeLow, volumeCodeHigh, kRootFolder, items,
                                         reply.LengthOut());
        });
    });
}

void FreeBuffer(void* buffer)
{
    ExportFrame::Run(u"FreeBuffer", u"627", [&](ExportFrame& frame) {
        BOOL freeMemoryRes = g_util.FreePacket(buffer);
        frame.Var(u"freeMemoryRes", freeMemoryRes);
    });
}

int32_t CheckFile(Csocketclient* channel, const char16_t* path, uint32_t a, uint32_t b,
                  uint32_t c, uint32_t d, uint64_t* value1, uint64_t* value2, uint64_t* value3,
                  uint32_t* result, uint32_t* status)
{
    return RunUntraced(0, [&]() -> int32_t {
        if (channel == nullptr || path == nullptr)
            return 0;
        uint64_t valueScratch[3] = {};
        uint32_t resultScratch = 0;
        uint32_t statusScratch = 0;
        return channel->MyCheckFile(0, 0, path, a, b, c, d, 0,
                                    OutOrScratch(value1, valueScratch[0]),
                                    OutOrScratch(value2, valueScratch[1]),
                                    OutOrScratch(value3, valueScratch[2]),
                                    OutOrScratch(result, resultScratch),
                                    OutOrScratch(status, statusScratch));
    });
}

int32_t LastRestoreInfo(Csocketclient* channel, uint64_t* value1, uint64_t* value2,
                        uint64_t* value3, uint32_t* status)
{
    return RunUntraced(0, [&]() -> int32_t {
        if (channel == nullptr || !channel->IsAuthenticated())
            return 0;
        uint64_t valueScratch[3] = {};
        uint32_t statusScratch = 0;
        return channel->LastRestoreInfo(OutOrScratch(value1, valueScratch[0]),
                                        OutOrScratch(value2, valueScratch[1]),
                                        OutOrScratch(value3, valueScratch[2]),
                                        OutOrScratch(status, statusScratch));
    });
}

} // extern "C"
