// The process-wide trace log. It is configured by "QV_LOG.INI" (beside the host executable,
// else in the current directory) and writes UTF-16LE lines into a log file that it names,
// creates with a header, cleans up and rotates by date or size. Without the settings file
// nothing is written.
//
// Several host threads may trace at once: every operation on the shared state (file, names,
// rotation, time prefix, skip set) runs under the write lock, which is held across a whole
// line, so lines never mix; the level is atomic; each thread keeps its own call stack, so the
// indentation and the call stack of an error are those of the thread that writes them.
#pragma once

#include <atomic>
#include <cstdint>
#include <set>
#include <string>

#include "platform/sync.h"
#include "platform/types.h"
#include "qvlib/CQVError.h"
#include "qvlib/CQVTextFile.h"
#include "qvlib/QVWideStream.h"

class CQVLogScope;

class CQVLog {
public:
    // Level bits tested by the line writers.
    static constexpr uint32_t kLevelErrors = 1;
    static constexpr uint32_t kLevelWarnings = 3;
    static constexpr uint32_t kLevelInformation = 7;
    static constexpr uint32_t kLevelCalls = 15;
    static constexpr uint32_t kLevelVariables = 63;

    // Where the log reads the time. The host always runs on the system clock; tests drive
    // dates and seconds through their own.
    struct Clock {
        void (*localTime)(SYSTEMTIME* time);
        int64_t (*currentTime)();
        ULONGLONG (*tickCount)();
    };
    static void SetClock(const Clock& clock);

    // The single log, built on first use.
    static CQVLog& GetInstance();
    // Builds the single log again from the settings found now, as if the process had just
    // started; tests use it to begin each case afresh.
    static CQVLog& RebuildInstance();

    CQVLog();
    virtual ~CQVLog();
    CQVLog(const CQVLog&) = delete;
    CQVLog& operator=(const CQVLog&) = delete;

    // Writes one text (with the time prefix in front when timed); 1 when written.
    uint32_t Write(const char16_t* text, uint32_t forceFlush, bool timed);
    uint32_t WriteRaw(const char16_t* text, uint32_t forceFlush);
    std::u16string GetTimePrefix();

    // One line: indentation, prefix, the stream's text; the stream is emptied.
    uint32_t Log(QVWideStream& lineStream, const char16_t* prefix);
    // The error line, the message line (the stream's text) and the call stack; the code
    // stays the thread's last error.
    uint32_t LogError(QVWideStream& lineStream, const char16_t* file, const char16_t* function,
                      uint32_t line, uint32_t code);
    // Entry line and call-stack frame, or the skip of a function named in the settings.
    void Enter(CQVLogScope& scope);
    // Pending text, exit line with the recorded results, frame pop.
    uint32_t Leave(CQVLogScope& scope);
    uint32_t DumpCallStack();

    uint32_t GetLevel() const { return m_level.load(std::memory_order_relaxed); }
    // Whether the level has every bit of one of the kLevel masks.
    bool LevelIncludes(uint32_t bits) const { return (GetLevel() & bits) == bits; }
    // Sets the level of the log and of the process.
    void SetLevel(uint32_t level);
    bool IsInitialized() const { return m_initialized.load(std::memory_order_relaxed); }
    uint32_t GetErrorCode() const;
    std::u16string GetFullName() const;

private:
    uint32_t Open();
    uint32_t Close();
    bool Reopen(bool settingsFound);
    uint32_t ReadIni();
    static bool FindIniFile(std::u16string& path);
    bool BuildFileName();
    bool AppendTimestampSuffix(std::u16string& name);
    static int32_t GetDllPath(std::u16string& path);
    static bool GetModuleVersions(std::u16string& fileVersion, std::u16string& productVersion);
    void WriteHeader();
    void WriteHeaderLine(const std::u16string& line);
    void CheckRotation();
    bool ReachedMaxFileSize();
    uint32_t PrepareFile();
    const std::u16string& FormatTimePrefix();

    // The steps below run with the write lock held.
    void SwitchOff();
    void CreateLogFolder() const;
    void RemoveOldLogs() const;
    uint32_t OpenLogFile();
    bool EnsureOpened();
    uint32_t WriteLocked(const std::u16string& text, uint32_t forceFlush, bool timed);
    uint32_t WriteText(const std::u16string& text, bool timed);
    uint32_t DumpCallStackLocked();
    bool IsSkipped(const char16_t* function) const;
    uint32_t FailWithFileError();

    CQVError m_error;
    std::u16string m_outdir;
    std::u16string m_filename;
    std::u16string m_basePath;
    std::u16string m_fullName;
    uint32_t m_flush;
    uint32_t m_savedFlush;
    uint32_t m_opened;
    std::atomic<uint32_t> m_level;
    uint32_t m_encrypt;
    uint32_t m_compress;
    uint32_t m_differ;
    mutable CRITICAL_SECTION m_writeLock;
    CQVTextFile m_textFile;
    uint32_t m_openCounter;
    uint32_t m_maxFileSize;
    SYSTEMTIME m_lastOpenTime;
    bool m_notimestamp;
    std::atomic<bool> m_initialized;
    bool m_settingsFound;
    bool m_rotateByDate;
    bool m_rotateBySize;
    uint32_t m_logFileCount;
    uint64_t m_checkCounter;
    ULONGLONG m_prefixTick;
    std::u16string m_timePrefix;
    std::set<std::u16string> m_skip;
};
