#include "util/Cutil.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/memory.h"
#include "platform/module.h"
#include "platform/path.h"
#include "platform/text.h"
#include "util/Crc32Kernel.h"

Cutil g_util;

namespace {

constexpr DWORD kCrcBlockSize = 0x100000;
constexpr int32_t kLogLineCapacity = 4096;
constexpr int32_t kAppendCapacity = 8192;
constexpr size_t kDirectoryPathCapacity = 4096;
constexpr size_t kSplitCapacity = 1024;
constexpr size_t kSplitPartCapacity = 256;
constexpr size_t kDriveCapacity = 3;
constexpr int32_t kFileLogLevel = 30;
constexpr int32_t kAllocationLogLevel = 10;
constexpr int64_t kEarliestUtcTime = -43200;
constexpr int64_t kLatestUtcTime = 32535291599;

void CopyPart(WCHAR* out, size_t capacity, const WCHAR* begin, const WCHAR* end)
{
    if (out == nullptr)
        return;
    size_t count = static_cast<size_t>(end - begin);
    if (count > capacity - 1)
        count = capacity - 1;
    std::memcpy(out, begin, count * sizeof(WCHAR));
    out[count] = 0;
}

template <typename Character>
int32_t WriteEmptyText(Character* out)
{
    out[0] = 0;
    return 1;
}

// The rule of every text conversion: measure the converted form, refuse it when it does not
// fit with its terminator (out untouched), else write it. convert(length, out, room) is the
// system conversion of the text's first length units.
template <typename Character, typename Convert>
int32_t ConvertIfItFits(Character* out, int32_t capacity, size_t textLength, Convert convert)
{
    if (textLength == 0 || textLength > INT32_MAX)
        return 0;
    const int length = convert(static_cast<int>(textLength), nullptr, 0);
    if (length <= 0 || length > capacity - 1)
        return 0;
    out[length] = 0;
    return convert(static_cast<int>(textLength), out, length);
}

// a below b (a zero divisor included) is its own remainder.
template <typename Integer>
Integer Remainder(Integer a, Integer b)
{
    if (a == 0)
        return 0;
    if (a < b || b == 0)
        return a;
    return a % b;
}

}  // namespace

Cutil::Cutil()
    : m_cancelCode(0),
      m_logPath{},
      m_logLevel(0),
      m_logAllErrors(0),
      m_callback(nullptr),
      m_callbackContext(0),
      m_lastCallbackResult(0)
{
    WCHAR folder[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length >= 1 && length <= MAX_PATH)
        FormatW(m_logPath, kLogPathCapacity, u"%s\\cutil.txt", folder);
    else
        FormatW(m_logPath, kLogPathCapacity, u"c:\\cutil.txt");
}

Cutil::~Cutil() = default;

bool Cutil::IsLogged(int32_t type, int32_t level, int32_t threshold, uint32_t errorsAlways)
{
    if (type == kTypeError && errorsAlways != 0)
        return true;
    return threshold != 0 && threshold >= level;
}

void Cutil::Log(int32_t type, int32_t level, const WCHAR* text)
{
    if (!IsLogged(type, level, m_logLevel, m_logAllErrors))
        return;
    if (m_callback != nullptr) {
        m_callback(m_callbackContext, kCodeLog, text,
                   static_cast<uint64_t>(static_cast<int64_t>(type)));
        return;
    }
    if (m_logPath[0] == 0)
        return;
    WCHAR now[20];
    GetNowString(now);
    WCHAR line[kLogLineCapacity];
    FormatW(line, kLogLineCapacity - 1, u"%s: %s", now, text);
    AppendLogLine(m_logPath, line);
}

int32_t Cutil::AnsiToWide(const char* text, WCHAR* out, int32_t capacity)
{
    if (text == nullptr || out == nullptr || capacity < 1)
        return 0;
    if (text[0] == 0)
        return WriteEmptyText(out);
    return ConvertIfItFits(out, capacity, std::strlen(text),
                           [text](int length, WCHAR* to, int room) {
                               return MultiByteToWideChar(CP_ACP, 0, text, length, to, room);
                           });
}

int32_t Cutil::WideToUtf8(const WCHAR* text, char* out, int32_t capacity)
{
    if (text == nullptr || out == nullptr || capacity < 1)
        return 0;
    if (text[0] == 0)
        return WriteEmptyText(out);
    return ConvertIfItFits(out, capacity, lstrlenW(text), [text](int length, char* to, int room) {
        return WideCharToMultiByte(CP_UTF8, 0, text, length, to, room, nullptr, nullptr);
    });
}

int32_t Cutil::Utf8ToWide(char* text, WCHAR* out, int32_t capacity)
{
    if (text == nullptr || out == nullptr || capacity < 1)
        return 0;
    if (text[0] == 0)
        return WriteEmptyText(out);
    // U+FFFF never belongs to a text from the server: everything from it on is dropped, and a
    // text that starts with it converts to nothing.
    if (char* noncharacter = std::strstr(text, "\xEF\xBF\xBF"))
        *noncharacter = 0;
    return ConvertIfItFits(out, capacity, std::strlen(text),
                           [text](int length, WCHAR* to, int room) {
                               return MultiByteToWideChar(CP_UTF8, 0, text, length, to, room);
                           });
}

uint32_t Cutil::Crc32(const void* data, uint32_t length, uint32_t* crc, uint32_t init)
{
    if (init != 0)
        *crc = 0xFFFFFFFFu;
    *crc = ~Crc32Kernel::Update(*crc, static_cast<const uint8_t*>(data), length);
    return 0;
}

void Cutil::TrimChar(char* text, uint8_t character, int32_t mode)
{
    if (text == nullptr || character == 0)
        return;
    const char c = static_cast<char>(character);
    if (mode == 0 || mode == 2) {
        size_t leading = 0;
        while (text[leading] == c)
            ++leading;
        if (leading > 0)
            std::memmove(text, text + leading, std::strlen(text + leading) + 1);
    }
    if (mode == 1 || mode == 2) {
        size_t length = std::strlen(text);
        while (length > 0 && text[length - 1] == c)
            text[--length] = 0;
    }
}

int32_t Cutil::Mod(int32_t a, int32_t b)
{
    return Remainder(a, b);
}

int64_t Cutil::Mod64(int64_t a, int64_t b)
{
    return Remainder(a, b);
}

void Cutil::GetNowString(WCHAR* out)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    FormatW(out, 20, u"%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
            now.wMinute, now.wSecond);
}

void Cutil::FormatUtcTime(int64_t time, WCHAR* out)
{
    std::tm calendar{};
    const std::time_t value = static_cast<std::time_t>(time);
    if (time < kEarliestUtcTime || time > kLatestUtcTime ||
        gmtime_r(&value, &calendar) == nullptr) {
        FormatW(out, 20, u"1970-01-01 00:00:00");
        return;
    }
    FormatW(out, 20, u"%d-%02d-%02d %02d:%02d:%02d", calendar.tm_year + 1900, calendar.tm_mon + 1,
            calendar.tm_mday, calendar.tm_hour, calendar.tm_min, calendar.tm_sec);
}

void Cutil::TimeToSystemTime(int32_t time, SYSTEMTIME* out)
{
    std::tm calendar{};
    std::time_t value = time;
    if (localtime_r(&value, &calendar) == nullptr) {
        value = 0;
        localtime_r(&value, &calendar);
    }
    CalendarToSystemTime(calendar, 0, out);
}

void Cutil::SplitPath(const WCHAR* path, WCHAR* drive, WCHAR* directory, WCHAR* name,
                      WCHAR* extension)
{
    // Paths longer than the working buffer, and parts longer than their out buffers, are cut.
    WCHAR work[kSplitCapacity] = {};
    if (path != nullptr)
        CopyPart(work, kSplitCapacity, path, path + lstrlenW(path));
    WCHAR* text = work;
    size_t length = lstrlenW(text);

    // An administrative share \\server\C$\dir\file is read as C:\dir\file.
    if (length > 2 && text[0] == u'\\' && text[1] == u'\\') {
        text += 2;
        WCHAR* slash = text;
        while (*slash != 0 && *slash != u'\\')
            ++slash;
        if (*slash == u'\\')
            text = slash + 1;
        if (lstrlenW(text) > 2)
            text[1] = u':';
    }

    const WCHAR* end = text + lstrlenW(text);
    const WCHAR* rest = text;
    if (text[0] != 0 && text[1] == u':') {
        CopyPart(drive, kDriveCapacity, text, text + 2);
        rest = text + 2;
    } else {
        CopyPart(drive, kDriveCapacity, text, text);
    }
    if (drive != nullptr && drive[0] >= u'a' && drive[0] <= u'z')
        drive[0] = static_cast<WCHAR>(drive[0] - u'a' + u'A');

    const WCHAR* fileName = rest;
    for (const WCHAR* c = rest; c < end; ++c) {
        if (IsPathSeparator(*c))
            fileName = c + 1;
    }
    const WCHAR* dot = end;
    for (const WCHAR* c = fileName; c < end; ++c) {
        if (*c == u'.')
            dot = c;
    }
    CopyPart(directory, kSplitPartCapacity, rest, fileName);
    CopyPart(name, kSplitPartCapacity, fileName, dot);
    CopyPart(extension, kSplitPartCapacity, dot, end);
}

int32_t Cutil::GetProcessSessionId(uint32_t processId, uint32_t* sessionId)
{
    HMODULE kernel = LoadLibraryW(u"kernel32.dll");
    if (kernel == nullptr)
        return 0;
    auto lookup = ProcedureCast<ProcessIdToSessionIdFunction>(
        GetProcAddress(kernel, "ProcessIdToSessionId"));
    int32_t result = lookup != nullptr ? lookup(processId, sessionId) : 0;
    FreeLibrary(kernel);
    return result;
}

uint32_t Cutil::writebin(HANDLE file, uint64_t offset, const void* buffer, uint32_t length,
                         uint32_t* systemError, uint32_t* step)
{
    *step = kStepNone;
    if (static_cast<int64_t>(offset) > 0 && !SetHugeFilePointer(file, offset)) {
        *systemError = GetLastError();
        LogFormat(kTypeError, kFileLogLevel,
                  u"Cutil::writebin SetHugeFilePointer failed win32error (%ld)", *systemError);
        *step = kStepSeek;
        return 0;
    }
    DWORD written = 0;
    if (!WriteFile(file, buffer, length, &written, nullptr)) {
        *systemError = GetLastError();
        LogFormat(kTypeError, kFileLogLevel, u"Cutil::writebin WriteFile failed win32error (%ld)",
                  *systemError);
        *step = kStepWrite;
        return 0;
    }
    if (written != length) {
        *systemError = GetLastError();
        LogFormat(kTypeError, kFileLogLevel,
                  u"Cutil::writebin nNumberOfBytesToWrite (%lu) nNumberOfBytesWritten (%lu) failed "
                  u"win32error (%ld)",
                  length, written, *systemError);
        *step = kStepShortWrite;
        return 0;
    }
    if (!SetEndOfFile(file)) {
        *systemError = GetLastError();
        LogFormat(kTypeError, kFileLogLevel,
                  u"Cutil::writebin SetEndOfFile failed win32error (%ld)", *systemError);
        *step = kStepSetEnd;
        return 0;
    }
    if (!FlushFileBuffers(file)) {
        *systemError = GetLastError();
        LogFormat(kTypeError, kFileLogLevel, u"Cutil::writebin FlushFileBuffers failed (%ld)",
                  *systemError);
        *step = kStepFlush;
        return 0;
    }
    *systemError = 0;
    return 1;
}

uint32_t Cutil::writebin2(const WCHAR* path, uint64_t offset, const void* buffer, uint32_t length,
                          uint32_t* systemError, uint32_t* step)
{
    *step = kStepNone;
    HANDLE file =
        CreateFileW(path, GENERIC_WRITE, 0, nullptr, offset != 0 ? OPEN_EXISTING : CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *systemError = GetLastError();
        if (*systemError != ERROR_PATH_NOT_FOUND)
            LogFormat(kTypeError, kFileLogLevel,
                      u"Cutil::writebin2 Create File failed win32error (%ld) on (%s)", *systemError,
                      path);
        *step = kStepOpen;
        return 0;
    }
    uint32_t result = writebin(file, offset, buffer, length, systemError, step);
    CloseHandle(file);
    return result;
}

uint32_t Cutil::SetHugeEOF(HANDLE file, uint64_t size)
{
    if (!SetHugeFilePointer(file, size)) {
        LogFormat(kTypeError, kFileLogLevel,
                  u"Cutil::SetHugeEOF SetHugeFilePointer failed win32error (%d)", GetLastError());
        return 0;
    }
    if (!SetEndOfFile(file)) {
        LogFormat(kTypeError, kFileLogLevel,
                  u"Cutil::SetHugeEOF SetEndOfFile failed win32error (%d)", GetLastError());
        return 0;
    }
    return 1;
}

uint32_t Cutil::SetHugeEOF(const WCHAR* path, uint64_t size)
{
    const OwnedHandle file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        LogFormat(kTypeError, kFileLogLevel,
                  u"Cutil::SetHugeEOF Create File failed on (%s) win32error (%d)", path, error);
        SetLastError(error);
        return 0;
    }
    return SetHugeEOF(file.get(), size);
}

uint32_t Cutil::SetHugeFilePointer(HANDLE file, uint64_t offset)
{
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) ? 1 : 0;
}

uint32_t Cutil::GetHugeFileSizeHandle(uint64_t* size, HANDLE file, WCHAR* errorText,
                                      uint32_t* systemError)
{
    LARGE_INTEGER fileSize;
    if (!GetFileSizeEx(file, &fileSize)) {
        *systemError = GetLastError();
        FormatW(errorText, kErrorTextCapacity, u"GetHugeFileSizeHandle error win32error %d",
                *systemError);
        Log(kTypeError, kFileLogLevel, errorText);
        return 0;
    }
    *size = static_cast<uint64_t>(fileSize.QuadPart);
    return 1;
}

uint32_t Cutil::RaiseProgress(uint32_t code, uint64_t value)
{
    m_lastCallbackResult =
        static_cast<uint32_t>(m_callback(m_callbackContext, code, nullptr, value));
    return m_lastCallbackResult;
}

void Cutil::ReportCancelled(uint32_t* systemError, int32_t logErrors, const WCHAR* format)
{
    *systemError = ERROR_REQUEST_ABORTED;
    m_cancelCode = ERROR_REQUEST_ABORTED;
    if (logErrors != 0)
        LogFormat(kTypeInformation, kFileLogLevel, format,
                  static_cast<int32_t>(m_lastCallbackResult));
}

uint32_t Cutil::GetCrc32Disk(const WCHAR* path, uint32_t* crc, uint32_t unused,
                             uint32_t* systemError, uint32_t* step, int32_t report,
                             int32_t logErrors)
{
    m_lastCallbackResult = 0;
    *step = kStepNone;
    *systemError = 0;
    *crc = 0;

    void* buffer = AllocateMemory(kCrcBlockSize);
    if (buffer == nullptr) {
        *systemError = GetLastError();
        if (logErrors != 0)
            LogFormat(kTypeError, kFileLogLevel,
                      u"Cutil::GetCrc32Disk AllocateMemory failed on (%s) win32error (%d)", path,
                      *systemError);
        return 0;
    }
    const PacketBuffer ownedBuffer(buffer);
    const OwnedHandle file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        *systemError = GetLastError();
        *step = kStepOpen;
        if (logErrors != 0)
            LogFormat(kTypeError, kFileLogLevel,
                      u"Cutil::GetCrc32Disk Create File failed on (%s) win32error (%d)", path,
                      *systemError);
        return 0;
    }

    uint32_t result = 0;
    WCHAR errorText[kErrorTextCapacity] = {};
    uint64_t size = 0;
    const bool progress = report == 1 && m_callback != nullptr;
    if (!GetHugeFileSizeHandle(&size, file.get(), errorText, systemError)) {
        if (logErrors != 0)
            LogFormat(kTypeError, kFileLogLevel, u"Cutil::GetCrc32Disk (%s)", errorText);
    } else if (progress && RaiseProgress(kCodeSetDataSize, size) != 0) {
        ReportCancelled(systemError, logErrors,
                        u"Cutil::GetCrc32Disk callback CONTROL_PROCESS_SETDATASIZE returned (%d)");
    } else {
        for (;;) {
            DWORD read = 0;
            if (!ReadFile(file.get(), buffer, kCrcBlockSize, &read, nullptr)) {
                *step = kStepOpen;
                *systemError = GetLastError();
                if (logErrors != 0)
                    LogFormat(kTypeError, kFileLogLevel, u"Cutil::GetCrc32Disk (%s) win32error %ld",
                              u"ReadFile failed", *systemError);
                break;
            }
            if (read == 0) {
                result = 1;
                break;
            }
            // The same CRC as zlib's crc32 continued over the blocks, with the folding kernel
            // that keeps up with reads from the page cache.
            *crc = ~Crc32Kernel::Update(~*crc, static_cast<const uint8_t*>(buffer), read);
            if (progress && RaiseProgress(kCodeData, read) != 0) {
                ReportCancelled(systemError, logErrors,
                                u"Cutil::GetCrc32Disk callback CONTROL_PROCESS_DATA returned (%d)");
                break;
            }
        }
    }
    return result;
}

// A path with no folder part (a short or relative file name, a root) has nothing to create
// and gives 1.
uint32_t Cutil::CreateDirectoryTree(const WCHAR* path)
{
    size_t length = lstrlenW(path);
    if (length > kDirectoryPathCapacity - 1) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    WCHAR folder[kDirectoryPathCapacity];
    // The root of a drive (C:\) and of the file system (a leading separator) always exist.
    const size_t driveRoot = length > 1 && path[1] == u':' ? 2 : 0;
    for (size_t i = 1; i < length; ++i) {
        if (!IsPathSeparator(path[i]) || i == driveRoot)
            continue;
        std::memcpy(folder, path, i * sizeof(WCHAR));
        folder[i] = u'\\';
        folder[i + 1] = 0;
        if (!CreateDirectoryW(folder, nullptr)) {
            DWORD error = GetLastError();
            if (error == ERROR_ALREADY_EXISTS)
                continue;
            std::fputs(
                FormatString("CreateDirectory error win32error %ld on %s\n", error, folder).c_str(),
                stdout);
            SetLastError(error);
            return 0;
        }
    }
    return 1;
}

uint32_t Cutil::SetFileTime(const WCHAR* path, int32_t time)
{
    const OwnedHandle file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return 0;
    return SetFileTime(file.get(), time);
}

uint32_t Cutil::SetFileTime(HANDLE file, int32_t time)
{
    if (time <= 0)
        return 1;
    const FILETIME instant = UnixTimeToFileTime(time);
    return ::SetFileTime(file, &instant, &instant, &instant) ? 1 : 0;
}

void* Cutil::AllocateMemory(uint32_t size)
{
    void* pages = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (pages == nullptr) {
        LogFormat(kTypeAllocation, kAllocationLogLevel, u"VirtualAlloc NULL %ld win32error %ld",
                  size, GetLastError());
        return nullptr;
    }
    const char16_t* failedCheck = nullptr;
    if (IsBadWritePtr(pages, size))
        failedCheck = u"IsBadWritePtr %ld win32error %ld";
    else if (IsBadReadPtr(pages, size))
        failedCheck = u"IsBadReadPtr %ld win32error %ld";
    if (failedCheck != nullptr) {
        LogFormat(kTypeAllocation, kAllocationLogLevel, failedCheck, size, GetLastError());
        FreePacket(pages);
        return nullptr;
    }
    return pages;
}

int32_t Cutil::AppendUtf8ToFile(const WCHAR* path, const WCHAR* text)
{
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    char utf8[kAppendCapacity];
    BOOL written = FALSE;
    if (SetFilePointerEx(file, zero, nullptr, FILE_END) &&
        WideToUtf8(text, utf8, kAppendCapacity) != 0) {
        DWORD count = 0;
        written = WriteFile(file, utf8, static_cast<DWORD>(std::strlen(utf8)), &count, nullptr);
    }
    CloseHandle(file);
    return written ? 1 : 0;
}

int32_t Cutil::AppendLogLine(const WCHAR* path, const WCHAR* text)
{
    // The line feed goes on a copy: the caller's text may fill its buffer.
    WCHAR line[kLogLineCapacity];
    int length = FormatW(line, kLogLineCapacity - 1, u"%s", text);
    if (length < 0)
        length = static_cast<int>(lstrlenW(line));
    line[length] = u'\n';
    line[length + 1] = 0;
    return AppendUtf8ToFile(path, line);
}

void* Cutil::AllocatePacket(DWORD size)
{
    return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

BOOL Cutil::FreePacket(void* packet)
{
    return packet != nullptr && VirtualFree(packet, 0, MEM_RELEASE);
}
