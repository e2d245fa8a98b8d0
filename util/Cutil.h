// The utility object: text conversion, CRC-32, date and time texts, large-file writing and
// truncation, directory trees, page memory, and a small diagnostic log of its own whose
// emission rule the connection and block objects share.
#pragma once

#include <cstdint>
#include <memory>

#include "kelvane.h"
#include "platform/format.h"
#include "platform/types.h"

class Cutil {
public:
    // Message types of the log rule.
    static constexpr int32_t kTypeInformation = 1;
    static constexpr int32_t kTypeAllocation = 2;
    static constexpr int32_t kTypeError = 3;

    // Event codes of TransportCallback raised by this object.
    static constexpr uint32_t kCodeLog = 1;
    static constexpr uint32_t kCodeSetDataSize = 18;  // CONTROL_PROCESS_SETDATASIZE
    static constexpr uint32_t kCodeData = 19;         // CONTROL_PROCESS_DATA

    // Failing-step codes of the write operations and of the file CRC.
    static constexpr uint32_t kStepNone = 0;
    static constexpr uint32_t kStepOpen = 1;
    static constexpr uint32_t kStepSeek = 2;
    static constexpr uint32_t kStepWrite = 4;
    static constexpr uint32_t kStepShortWrite = 5;
    static constexpr uint32_t kStepSetEnd = 6;
    static constexpr uint32_t kStepFlush = 7;

    // Room that GetHugeFileSizeHandle needs in its error-text buffer.
    static constexpr int32_t kErrorTextCapacity = 64;
    static constexpr int32_t kLogPathCapacity = 1024;

    Cutil();
    ~Cutil();

    void SetLogLevel(int32_t level) { m_logLevel = level; }
    void SetCallback(uintptr_t context, TransportCallback function)
    {
        m_callbackContext = context;
        m_callback = function;
    }
    void Log(int32_t type, int32_t level, const WCHAR* text);
    // The emission rule shared by every object that logs this way.
    static bool IsLogged(int32_t type, int32_t level, int32_t threshold, uint32_t errorsAlways);

    static int32_t AnsiToWide(const char* text, WCHAR* out, int32_t capacity);
    static int32_t WideToUtf8(const WCHAR* text, char* out, int32_t capacity);
    static int32_t Utf8ToWide(char* text, WCHAR* out, int32_t capacity);
    static uint32_t Crc32(const void* data, uint32_t length, uint32_t* crc, uint32_t init);
    static void TrimChar(char* text, uint8_t character, int32_t mode);
    static int32_t Mod(int32_t a, int32_t b);
    static int64_t Mod64(int64_t a, int64_t b);
    static void GetNowString(WCHAR* out);
    static void FormatUtcTime(int64_t time, WCHAR* out);
    static void TimeToSystemTime(int32_t time, SYSTEMTIME* out);
    static void SplitPath(const WCHAR* path, WCHAR* drive, WCHAR* directory, WCHAR* name,
                          WCHAR* extension);
    static int32_t GetProcessSessionId(uint32_t processId, uint32_t* sessionId);

    uint32_t writebin(HANDLE file, uint64_t offset, const void* buffer, uint32_t length,
                      uint32_t* systemError, uint32_t* step);
    uint32_t writebin2(const WCHAR* path, uint64_t offset, const void* buffer, uint32_t length,
                       uint32_t* systemError, uint32_t* step);
    uint32_t SetHugeEOF(HANDLE file, uint64_t size);
    uint32_t SetHugeEOF(const WCHAR* path, uint64_t size);
    static uint32_t SetHugeFilePointer(HANDLE file, uint64_t offset);
    // errorText must hold kErrorTextCapacity characters.
    uint32_t GetHugeFileSizeHandle(uint64_t* size, HANDLE file, WCHAR* errorText,
                                   uint32_t* systemError);
    uint32_t GetCrc32Disk(const WCHAR* path, uint32_t* crc, uint32_t unused, uint32_t* systemError,
                          uint32_t* step, int32_t report, int32_t logErrors);
    static uint32_t CreateDirectoryTree(const WCHAR* path);
    // Sets the creation, access and write times to the instant given in seconds since
    // 1970-01-01 UTC; a time of 0 or less leaves them alone.
    static uint32_t SetFileTime(const WCHAR* path, int32_t time);
    // The same on a file open for writing.
    static uint32_t SetFileTime(HANDLE file, int32_t time);
    void* AllocateMemory(uint32_t size);
    static int32_t AppendUtf8ToFile(const WCHAR* path, const WCHAR* text);
    // Appends text and a line feed to the log file at path; an over-long text is cut so that
    // the line still ends with its line feed.
    static int32_t AppendLogLine(const WCHAR* path, const WCHAR* text);

    // Whole committed read-write pages, zero-filled; null on failure. Every request packet,
    // received payload and reply buffer of the system is one of these.
    static void* AllocatePacket(DWORD size);
    // Releases a whole allocation of AllocatePacket or AllocateMemory. Gives FALSE for null or
    // a pointer that starts no such allocation, which is then left alone.
    static BOOL FreePacket(void* packet);

private:
    static constexpr int32_t kMessageCapacity = 4096;

    // Formats a message and hands it to the log rule, which may drop it.
    template <typename... Args>
    void LogFormat(int32_t type, int32_t level, const WCHAR* format, const Args&... args)
    {
        WCHAR message[kMessageCapacity];
        FormatW(message, kMessageCapacity, format, args...);
        Log(type, level, message);
    }
    // Calls the host with a progress code and keeps its answer.
    uint32_t RaiseProgress(uint32_t code, uint64_t value);
    // Records a checksum cancelled by the host and reports it with the host's answer.
    void ReportCancelled(uint32_t* systemError, int32_t logErrors, const WCHAR* format);

    uint32_t m_cancelCode;
    WCHAR m_logPath[kLogPathCapacity];
    int32_t m_logLevel;
    uint32_t m_logAllErrors;
    TransportCallback m_callback;
    uintptr_t m_callbackContext;
    uint32_t m_lastCallbackResult;
};

// Owns a page allocation of Cutil::AllocatePacket and releases it with Cutil::FreePacket.
struct PacketRelease {
    void operator()(void* packet) const { Cutil::FreePacket(packet); }
};
using PacketBuffer = std::unique_ptr<void, PacketRelease>;

extern Cutil g_util;
