// Block files and the rebuild of a file version from them. A block file starts with a
// header that gives the version's size and its number of records; each record carries bytes
// to write at an offset of the file, or bytes that are only verified. CBlocks applies the
// records of a block file onto an existing file, then compares the CRC-32 of the result with
// the expected one. Block files come from outside: every count, size and offset in them is
// checked before it is used.
#pragma once

#include <cstdint>

#include "kelvane.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/types.h"
#include "util/Cutil.h"

class CBlocks {
public:
    static constexpr uint32_t kHeaderSize = 44;
    static constexpr uint32_t kRecordSize = 28;
    // A record of this type is read and verified; its data is never written.
    static constexpr uint32_t kTypeVerifyOnly = 3;
    // Value of the has-data flag of a record followed by its data.
    static constexpr uint32_t kHasData = 1;
    // ReadBlockData offset that means "where the file stands now".
    static constexpr uint64_t kCurrentPosition = 0xFFFFFFFF;
    // Event code of TransportCallback raised while a version is being built.
    static constexpr uint32_t kCodeBuildProgress = 14;
    static constexpr uint64_t kProgressInterval = 10000;
    // Wide characters of the caller's message buffer, terminator included.
    static constexpr int32_t kMessageCapacity = 1024;
    static constexpr int32_t kLogPathCapacity = 1024;

    // The fields of the 44-byte header, in file order.
    struct Header {
        uint64_t unused0;
        uint32_t unused8;
        uint64_t unused12;
        uint64_t versionSize;
        uint32_t unused28;
        uint32_t unused32;
        uint64_t recordCount;
    };

    // One record: the six fields of its 28 bytes, then its data (page memory owned by the
    // reader of the record; null when the record has none).
    struct BlockRecord {
        uint32_t type;
        uint64_t offset;
        uint32_t dataSize;
        uint32_t unused16;
        uint32_t crc;
        uint32_t hasData;
        void* data;
    };

    CBlocks();
    ~CBlocks();
    CBlocks(const CBlocks&) = delete;
    CBlocks& operator=(const CBlocks&) = delete;

    // Where the object's messages and build progress go; nothing is set by default, so the
    // messages reach only the caller's message buffer.
    void SetLogLevel(int32_t level) { m_logLevel = level; }
    void SetCallback(uintptr_t context, TransportCallback function)
    {
        m_callbackContext = context;
        m_callback = function;
    }
    // 0 when the path does not fit (the old one is kept).
    uint32_t SetLogPath(const WCHAR* path);
    uint32_t GetLastSystemError() const { return m_lastSystemError; }

    uint32_t ReadHeader(const WCHAR* path, Header* out);
    uint32_t ReadHeaderHandle(HANDLE file, Header* out);
    uint32_t ReadBlock(HANDLE file, BlockRecord* record);
    uint32_t ReadBlockData(HANDLE file, uint64_t offset, uint32_t size, void** data);
    uint32_t WriteBlockData(HANDLE file, const BlockRecord& record);
    void DumpBlock(uint64_t number, const BlockRecord& record);
    // Sets the target to the version's size, applies every record of the block file onto it
    // and checks the CRC-32 of the result. 1 when the version is on disk. messages (at least
    // kMessageCapacity characters, may be null) holds the last message afterwards.
    uint32_t CreateVersionOnDisk(int32_t progress, const WCHAR* target, const WCHAR* blockFile,
                                 uint64_t expectedSize, uint32_t expectedCrc,
                                 uint32_t acceptMismatch, uint64_t fileCode, WCHAR* messages);
    void Log(int32_t type, int32_t level, const WCHAR* text);

private:
    // What one rebuild works on.
    struct Rebuild {
        int32_t progress;
        const WCHAR* targetPath;
        const WCHAR* blockPath;
        OwnedHandle target;
        OwnedHandle blocks;
        uint64_t expectedSize;
        uint32_t expectedCrc;
        uint32_t acceptMismatch;
        uint64_t fileCode;
        WCHAR* messages;
        Header header;
        uint64_t size;
        bool headerSizeTaken;
    };

    // Formats a message into messages (or a buffer of its own when null) and hands it to
    // the log rule, which may drop it.
    template <typename... Args>
    void Report(WCHAR* messages, int32_t type, int32_t level, const WCHAR* format,
                const Args&... args)
    {
        WCHAR own[kMessageCapacity];
        WCHAR* text = messages != nullptr ? messages : own;
        FormatW(text, kMessageCapacity, format, args...);
        Log(type, level, text);
    }
    // Reports a failed step with the last error after the other arguments, and keeps that
    // error as the last error; gives 0.
    template <typename... Args>
    uint32_t FailWithLastError(const WCHAR* format, const Args&... args);
    // Records the error of a failed header read or build, for the object and the thread.
    uint32_t Failed(DWORD error);

    uint32_t ApplyBlockFile(Rebuild& build);
    uint32_t ChooseSize(Rebuild& build);
    uint32_t ReportProgress(Rebuild& build, uint64_t number);
    uint32_t ApplyRecord(Rebuild& build, uint64_t number);
    uint32_t WriteRecord(Rebuild& build, uint64_t number, const BlockRecord& record);
    // The whole target's CRC-32; the pass's error lands in the last system error.
    uint32_t TargetCrc(const Rebuild& build, uint32_t* crc);
    uint32_t CheckVersion(Rebuild& build);
    uint32_t RetryAtSmallerSize(Rebuild& build);

    WCHAR m_logPath[kLogPathCapacity];
    int32_t m_logLevel;
    uint32_t m_logAllErrors;
    TransportCallback m_callback;
    uintptr_t m_callbackContext;
    uint32_t m_lastCallbackResult;
    uint32_t m_lastSystemError;
    Cutil m_util;
};
