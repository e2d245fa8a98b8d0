#include "restore/CBlocks.h"

#include <cstdio>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/text.h"
#include "util/LittleEndian.h"

namespace {

constexpr int32_t kLevel = 10;
constexpr int32_t kProgressLevel = 30;
// Passes any threshold that is set at all.
constexpr int32_t kFinalLevel = 0;
// Records larger than this are described in the log before they are applied.
constexpr uint32_t kDumpThreshold = 0x10000;
// The host's answer that stops a build as a plain request rather than an error.
constexpr uint32_t kQuietStopAnswer = 100;
// Not among the platform's named codes: "data error (cyclic redundancy check)".
constexpr DWORD kErrorCrc = 23;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kBuildFlags = FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE;

// Reads exactly size bytes; a short read fails with ERROR_HANDLE_EOF.
bool ReadExactly(HANDLE file, void* buffer, DWORD size)
{
    DWORD read = 0;
    if (!ReadFile(file, buffer, size, &read, nullptr))
        return false;
    if (read != size) {
        SetLastError(ERROR_HANDLE_EOF);
        return false;
    }
    return true;
}

// Whether size bytes remain in the file from where it stands; fails with ERROR_HANDLE_EOF.
bool RemainsInFile(HANDLE file, uint64_t size)
{
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    LARGE_INTEGER length{};
    if (!SetFilePointerEx(file, zero, &position, FILE_CURRENT) || !GetFileSizeEx(file, &length))
        return false;
    const uint64_t end = static_cast<uint64_t>(length.QuadPart);
    const uint64_t here = static_cast<uint64_t>(position.QuadPart);
    if (here > end || size > end - here) {
        SetLastError(ERROR_HANDLE_EOF);
        return false;
    }
    return true;
}

// A header cannot announce more records than the rest of the file can hold at their
// smallest (no data); fails with ERROR_INVALID_DATA.
bool RecordsFitInFile(HANDLE file, uint64_t count)
{
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file, &length))
        return false;
    const uint64_t end = static_cast<uint64_t>(length.QuadPart);
    const uint64_t room = end > CBlocks::kHeaderSize ? end - CBlocks::kHeaderSize : 0;
    if (count > room / CBlocks::kRecordSize) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    return true;
}

bool FitsInVersion(const CBlocks::BlockRecord& record, uint64_t size)
{
    return record.offset <= size && record.dataSize <= size - record.offset;
}

}  // namespace

CBlocks::CBlocks()
    : m_logPath{},
      m_logLevel(0),
      m_logAllErrors(0),
      m_callback(nullptr),
      m_callbackContext(0),
      m_lastCallbackResult(0),
      m_lastSystemError(0)
{
}

CBlocks::~CBlocks() = default;

uint32_t CBlocks::SetLogPath(const WCHAR* path)
{
    if (path == nullptr || lstrlenW(path) > kLogPathCapacity - 1)
        return 0;
    lstrcpynW(m_logPath, path, kLogPathCapacity);
    return 1;
}

void CBlocks::Log(int32_t type, int32_t level, const WCHAR* text)
{
    if (!Cutil::IsLogged(type, level, m_logLevel, m_logAllErrors))
        return;
    if (m_callback != nullptr) {
        m_callback(m_callbackContext, Cutil::kCodeLog, text,
                   static_cast<uint64_t>(static_cast<int64_t>(type)));
        return;
    }
    if (m_logPath[0] == 0)
        return;
    Cutil::AppendLogLine(m_logPath, text);
}

template <typename... Args>
uint32_t CBlocks::FailWithLastError(const WCHAR* format, const Args&... args)
{
    const DWORD error = GetLastError();
    Report(nullptr, Cutil::kTypeError, kLevel, format, args..., error);
    SetLastError(error);
    return 0;
}

uint32_t CBlocks::Failed(DWORD error)
{
    m_lastSystemError = error;
    SetLastError(error);
    return 0;
}

uint32_t CBlocks::ReadHeader(const WCHAR* path, Header* out)
{
    const OwnedHandle file(CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        Report(nullptr, Cutil::kTypeError, kLevel,
               u"CBlocks::ReadHeader CreateFile failed on (%s) (%d)", path, error);
        return Failed(error);
    }
    const uint32_t read = ReadHeaderHandle(file.get(), out);
    m_lastSystemError = read ? ERROR_SUCCESS : GetLastError();
    SetLastError(m_lastSystemError);
    return read;
}

uint32_t CBlocks::ReadHeaderHandle(HANDLE file, Header* out)
{
    uint8_t bytes[kHeaderSize];
    if (!ReadExactly(file, bytes, kHeaderSize))
        return 0;
    out->unused0 = LoadLittleEndian64(bytes);
    out->unused8 = LoadLittleEndian32(bytes + 8);
    out->unused12 = LoadLittleEndian64(bytes + 12);
    out->versionSize = LoadLittleEndian64(bytes + 20);
    out->unused28 = LoadLittleEndian32(bytes + 28);
    out->unused32 = LoadLittleEndian32(bytes + 32);
    out->recordCount = LoadLittleEndian64(bytes + 36);
    return 1;
}

uint32_t CBlocks::ReadBlock(HANDLE file, BlockRecord* record)
{
    record->data = nullptr;
    uint8_t bytes[kRecordSize];
    if (!ReadExactly(file, bytes, kRecordSize))
        return 0;
    record->type = LoadLittleEndian32(bytes);
    record->offset = LoadLittleEndian64(bytes + 4);
    record->dataSize = LoadLittleEndian32(bytes + 12);
    record->unused16 = LoadLittleEndian32(bytes + 16);
    record->crc = LoadLittleEndian32(bytes + 20);
    record->hasData = LoadLittleEndian32(bytes + 24);
    if (record->hasData != kHasData)
        return 1;

    if (!ReadBlockData(file, kCurrentPosition, record->dataSize, &record->data))
        return FailWithLastError(u"CBlocks::ReadBlock ReadBlockData failed win32error (%d)");
    uint32_t crc = 0;
    Cutil::Crc32(record->data, record->dataSize, &crc, 1);
    if (crc == record->crc)
        return 1;
    Report(nullptr, Cutil::kTypeError, kLevel,
           u"CBlocks::ReadBlock crc error (%lu) crc (%ld) (%ld)", record->dataSize, record->crc,
           crc);
    // Data that failed its check never leaves the reader.
    Cutil::FreePacket(record->data);
    record->data = nullptr;
    SetLastError(kErrorCrc);
    return 0;
}

uint32_t CBlocks::ReadBlockData(HANDLE file, uint64_t offset, uint32_t size, void** data)
{
    *data = nullptr;
    if (offset != kCurrentPosition && !Cutil::SetHugeFilePointer(file, offset))
        return FailWithLastError(
            u"CBlocks::ReadBlockData SetHugeFilePointer (%I64u) failed win32error (%d)", offset);
    // A size from the file is believed only as far as the file reaches, so no allocation
    // is made for data that is not there.
    if (!RemainsInFile(file, size))
        return FailWithLastError(u"CBlocks::ReadBlockData ReadFile failed win32error (%d)");
    *data = m_util.AllocateMemory(size);
    if (*data == nullptr)
        return FailWithLastError(u"CBlocks::ReadBlockData AllocateMemory failed win32error (%d)");
    if (!ReadExactly(file, *data, size)) {
        const DWORD error = GetLastError();
        Report(nullptr, Cutil::kTypeError, kLevel,
               u"CBlocks::ReadBlockData ReadFile failed win32error (%d)", error);
        Cutil::FreePacket(*data);
        *data = nullptr;
        SetLastError(error);
        return 0;
    }
    return 1;
}

uint32_t CBlocks::WriteBlockData(HANDLE file, const BlockRecord& record)
{
    // A record to be written must have brought its data along.
    if (record.data == nullptr) {
        Report(nullptr, Cutil::kTypeError, kLevel,
               u"CBlocks::WriteBlockData no data for offset (%I64u) size (%lu)", record.offset,
               record.dataSize);
        SetLastError(ERROR_INVALID_DATA);
        return 0;
    }
    if (!Cutil::SetHugeFilePointer(file, record.offset))
        return FailWithLastError(
            u"CBlocks::WriteBlock SetHugeFilePointer (%I64u) failed win32error (%d)",
            record.offset);
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, record.data, record.dataSize, &written, nullptr);
    if (wrote && written == record.dataSize)
        return 1;
    const DWORD error = wrote ? ERROR_WRITE_FAULT : GetLastError();
    Report(nullptr, Cutil::kTypeError, kLevel,
           u"CBlocks::WriteBlockData WriteFile failed win32error (%d) (%lu)", error,
           record.dataSize);
    Report(nullptr, Cutil::kTypeError, kLevel,
           u"CBlocks::WriteBlockData WriteFile failed offset (%I64u)", record.offset);
    Report(nullptr, Cutil::kTypeError, kLevel, u"CBlocks::WriteBlockData WriteFile failed crc (%X)",
           record.crc);
    SetLastError(error);
    return 0;
}

void CBlocks::DumpBlock(uint64_t number, const BlockRecord& record)
{
    Report(nullptr, Cutil::kTypeError, kLevel,
           u"block (%I64u) type (%lu) offset (%I64u) size (%lu) crc (%X) data (%p)", number,
           record.type, record.offset, record.dataSize, record.crc, record.data);
}

uint32_t CBlocks::CreateVersionOnDisk(int32_t progress, const WCHAR* target, const WCHAR* blockFile,
                                      uint64_t expectedSize, uint32_t expectedCrc,
                                      uint32_t acceptMismatch, uint64_t fileCode, WCHAR* messages)
{
    std::fputs("CreateVersionOnDisk\n", stdout);
    Rebuild build{};
    build.progress = progress;
    build.targetPath = target;
    build.blockPath = blockFile;
    build.expectedSize = expectedSize;
    build.expectedCrc = expectedCrc;
    build.acceptMismatch = acceptMismatch;
    build.fileCode = fileCode;
    build.messages = messages;

    build.blocks.reset(CreateFileW(blockFile, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                   kBuildFlags, nullptr));
    if (build.blocks.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        Report(messages, Cutil::kTypeError, kLevel,
               u"CBlocks::CreateVersionOnDisk CreateFile failed on (%s) win32error (%d)", blockFile,
               error);
        return Failed(error);
    }
    build.target.reset(CreateFileW(target, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, kBuildFlags, nullptr));
    if (build.target.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        Report(messages, Cutil::kTypeError, kLevel,
               u"CBlocks::CreateVersionOnDisk CreateFile for (%s) failed win32error (%d)", target,
               error);
        return Failed(error);
    }

    const uint32_t applied = ApplyBlockFile(build);
    // Both files are closed before the checksum pass, whatever happened.
    build.target.reset();
    build.blocks.reset();
    if (!applied)
        return Failed(m_lastSystemError);
    return CheckVersion(build);
}

uint32_t CBlocks::ApplyBlockFile(Rebuild& build)
{
    if (!ReadHeaderHandle(build.blocks.get(), &build.header)) {
        const DWORD error = GetLastError();
        Report(build.messages, Cutil::kTypeError, kLevel,
               u"CBlocks::CreateVersionOnDisk ReadHeader failed on (%s) win32error (%d)",
               build.blockPath, error);
        return Failed(error);
    }
    // A count the file cannot hold is refused before the target is touched.
    if (!RecordsFitInFile(build.blocks.get(), build.header.recordCount)) {
        const DWORD error = GetLastError();
        Report(build.messages, Cutil::kTypeError, kLevel,
               u"CBlocks::CreateVersionOnDisk record count (%I64u) does not fit in (%s) "
               u"win32error (%d)",
               build.header.recordCount, build.blockPath, error);
        return Failed(error);
    }
    if (!ChooseSize(build))
        return 0;
    for (uint64_t number = 0; number < build.header.recordCount; ++number) {
        if (!ReportProgress(build, number) || !ApplyRecord(build, number))
            return 0;
    }
    return 1;
}

uint32_t CBlocks::ChooseSize(Rebuild& build)
{
    const uint64_t headerSize = build.header.versionSize;
    if (headerSize != build.expectedSize)
        Report(build.messages, Cutil::kTypeError, kLevel,
               u"CBlocks::CreateVersionOnDisk size diff (%I64u) (%I64u) filecode (%I64u)",
               headerSize, build.expectedSize, build.fileCode);
    build.headerSizeTaken =
        static_cast<int64_t>(headerSize) > static_cast<int64_t>(build.expectedSize);
    build.size = build.headerSizeTaken ? headerSize : build.expectedSize;

    if (Cutil::IsLogged(Cutil::kTypeInformation, kLevel, m_logLevel, m_logAllErrors))
        Report(build.messages, Cutil::kTypeInformation, kLevel,
               u"CBlocks::CreateVersionOnDisk SetHugeEOF for (%s) (%I64u) (%ld)", build.targetPath,
               build.size, build.acceptMismatch);
    if (!m_util.SetHugeEOF(build.target.get(), build.size)) {
        const DWORD error = GetLastError();
        Report(build.messages, Cutil::kTypeError, kLevel,
               u"CBlocks::CreateVersionOnDisk SetHugeEOF for (%s) failed win32error (%d) (%I64u)",
               build.targetPath, error, build.size);
        return Failed(error);
    }
    return 1;
}

uint32_t CBlocks::ReportProgress(Rebuild& build, uint64_t number)
{
    if (build.progress == 0 || Cutil::Mod64(static_cast<int64_t>(number), kProgressInterval) != 0)
        return 1;
    Report(build.messages, Cutil::kTypeInformation, kProgressLevel,
           u"CBlocks::CreateVersionOnDisk ReadBlock OK (%I64u) of (%I64u)", number,
           build.header.recordCount);
    if (m_callback == nullptr)
        return 1;
    m_lastCallbackResult =
        static_cast<uint32_t>(m_callback(m_callbackContext, kCodeBuildProgress, nullptr, 1));
    if (m_lastCallbackResult == 0)
        return 1;
    Report(build.messages,
           m_lastCallbackResult == kQuietStopAnswer ? Cutil::kTypeInformation : Cutil::kTypeError,
           kLevel, u"CBlocks::CreateVersionOnDisk m_callback returned (%d)",
           static_cast<int32_t>(m_lastCallbackResult));
    return Failed(ERROR_REQUEST_ABORTED);
}

uint32_t CBlocks::ApplyRecord(Rebuild& build, uint64_t number)
{
    BlockRecord record{};
    if (!ReadBlock(build.blocks.get(), &record)) {
        const DWORD error = GetLastError();
        Report(build.messages, Cutil::kTypeError, kLevel,
               u"CBlocks::CreateVersionOnDisk ReadBlock failed on (%s) win32error (%d)",
               build.blockPath, error);
        return Failed(error);
    }
    if (record.dataSize > kDumpThreshold)
        DumpBlock(number, record);
    const uint32_t result = record.type == kTypeVerifyOnly ? 1 : WriteRecord(build, number, record);
    Cutil::FreePacket(record.data);
    return result;
}

uint32_t CBlocks::WriteRecord(Rebuild& build, uint64_t number, const BlockRecord& record)
{
    // Writing past the version's end would grow the target beyond the version.
    if (!FitsInVersion(record, build.size)) {
        DumpBlock(number, record);
        Report(build.messages, Cutil::kTypeError, kLevel,
               u"CBlocks::CreateVersionOnDisk block (%I64u) offset (%I64u) size (%lu) outside "
               u"the version size (%I64u)",
               number, record.offset, record.dataSize, build.size);
        return Failed(ERROR_INVALID_DATA);
    }
    if (!WriteBlockData(build.target.get(), record)) {
        const DWORD error = GetLastError();
        DumpBlock(number, record);
        Report(
            build.messages, Cutil::kTypeError, kLevel,
            u"CBlocks::CreateVersionOnDisk WriteBlockData failed on (%I64u) (%s) win32error (%d)",
            number, build.targetPath, error);
        return Failed(error);
    }
    return 1;
}

uint32_t CBlocks::TargetCrc(const Rebuild& build, uint32_t* crc)
{
    // Checksum progress is asked for only when the build itself reported none.
    uint32_t step = 0;
    return m_util.GetCrc32Disk(build.targetPath, crc, 0, &m_lastSystemError, &step,
                               build.progress == 0 ? 1 : 0, 1);
}

uint32_t CBlocks::CheckVersion(Rebuild& build)
{
    uint32_t crc = 0;
    if (!TargetCrc(build, &crc)) {
        if (m_lastSystemError != ERROR_REQUEST_ABORTED &&
            m_lastSystemError != ERROR_OPERATION_ABORTED)
            Report(build.messages, Cutil::kTypeError, kLevel,
                   u"CreateVersionOnDisk: GetCrc32Disk failed (%s) (%d)", build.targetPath,
                   m_lastSystemError);
        return Failed(m_lastSystemError);
    }
    if (crc == build.expectedCrc) {
        Report(build.messages, Cutil::kTypeInformation, kLevel,
               u"CBlocks::CreateVersionOnDisk newcrc (%ld) == filecrc (%ld) for (%s)", crc,
               build.expectedCrc, build.targetPath);
        return 1;
    }
    Report(build.messages, Cutil::kTypeInformation, kLevel,
           u"CBlocks::CreateVersionOnDisk NOT newcrc (%ld) == filecrc (%ld)", crc,
           build.expectedCrc);
    if (build.acceptMismatch == 1)
        return 1;
    Report(build.messages, Cutil::kTypeError, kLevel, u"CreateVersionOnDisk: newcrc != crc");
    if (build.header.versionSize == build.expectedSize) {
        Report(build.messages, Cutil::kTypeError, kLevel,
               u"CreateVersionOnDisk: sizes equal (%I64u)", build.expectedSize);
        return Failed(kErrorCrc);
    }
    return RetryAtSmallerSize(build);
}

uint32_t CBlocks::RetryAtSmallerSize(Rebuild& build)
{
    const uint64_t size = build.headerSizeTaken ? build.expectedSize : build.header.versionSize;
    if (!m_util.SetHugeEOF(build.targetPath, size)) {
        const DWORD error = GetLastError();
        Report(build.messages, Cutil::kTypeError, kLevel,
               u"CreateVersionOnDisk: SetHugeEOF 2 failed (%s) win32error (%d) (%I64u)",
               build.targetPath, error, size);
        return Failed(error);
    }
    uint32_t crc = 0;
    if (!TargetCrc(build, &crc)) {
        Report(build.messages, Cutil::kTypeError, kLevel,
               u"CreateVersionOnDisk: GetCrc32Disk 2 failed (%s) (%d)", build.targetPath,
               m_lastSystemError);
        return Failed(m_lastSystemError);
    }
    if (crc == build.expectedCrc)
        return 1;
    Report(build.messages, Cutil::kTypeError, kFinalLevel, u"CreateVersionOnDisk: FINAL FALSE");
    return Failed(kErrorCrc);
}
