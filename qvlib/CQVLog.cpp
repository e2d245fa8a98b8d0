#include "qvlib/CQVLog.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/lexical_cast.hpp>

#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/text.h"
#include "platform/version.h"
#include "qvlib/CQVIni.h"
#include "qvlib/CQVLogCleaner.h"
#include "qvlib/CQVLogScope.h"
#include "qvlib/QVTime.h"

namespace {

constexpr char16_t kSection[] = u"log";
constexpr char16_t kLineEnd[] = u"\r\n";
constexpr char kIniName[] = "QV_LOG.INI";
constexpr char16_t kIniInCurrentDirectory[] = u".\\QV_LOG.INI";
constexpr uint32_t kLogFileCount = 3;
constexpr uint32_t kDefaultMaxFileSize = 10;
constexpr uint64_t kChecksPerRotation = 50;
constexpr ULONGLONG kPrefixPeriodMs = 1000;
constexpr size_t kRuleLength = 80;
constexpr int32_t kFail = static_cast<int32_t>(0x80004005);
constexpr uint32_t kReadWrite = GENERIC_READ | GENERIC_WRITE;

// The level of the process, outside the object: -1 until the log is first built.
std::atomic<int32_t> g_processLevel{-1};

// Each thread's open traced calls, innermost last.
thread_local std::vector<std::u16string> t_callStack;

CQVLog::Clock g_clock{GetLocalTime, QVGetCurrentTime, GetTickCount64};

alignas(CQVLog) unsigned char g_instanceStorage[sizeof(CQVLog)];
std::once_flag g_instanceBuilt;

CQVLog& Instance()
{
    return *std::launder(reinterpret_cast<CQVLog*>(g_instanceStorage));
}

void DestroyInstance()
{
    Instance().~CQVLog();
}

void BuildInstance()
{
    new (g_instanceStorage) CQVLog();
    std::atexit(DestroyInstance);
}

class WriteLock {
public:
    explicit WriteLock(CRITICAL_SECTION& section) : m_section(section)
    {
        EnterCriticalSection(&m_section);
    }
    ~WriteLock() { LeaveCriticalSection(&m_section); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    CRITICAL_SECTION& m_section;
};

const char16_t* TextOrEmpty(const char16_t* text)
{
    return text != nullptr ? text : u"";
}

std::u16string DecimalText(uint64_t value)
{
    return Utf8ToUtf16(boost::lexical_cast<std::string>(value));
}

std::u16string Blanks(size_t count)
{
    return std::u16string(count, u' ');
}

// Both separators divide a path here; the generic form uses "/" only.
std::u16string GenericForm(std::u16string path)
{
    for (char16_t& character : path) {
        if (character == u'\\')
            character = u'/';
    }
    return path;
}

boost::filesystem::path ToFsPath(const std::u16string& path)
{
    return boost::filesystem::path(Utf16ToUtf8(GenericForm(path)));
}

std::u16string FromFsPath(const boost::filesystem::path& path)
{
    return Utf8ToUtf16(path.generic_string());
}

// Whether something exists at the path; an error counts as missing.
bool PathFound(const std::u16string& path)
{
    std::string native;
    if (!NativePath(path.c_str(), &native))
        return false;
    boost::system::error_code error;
    const boost::filesystem::file_status status = boost::filesystem::status(native, error);
    return !error && status.type() != boost::filesystem::status_error &&
           status.type() != boost::filesystem::file_not_found;
}

std::u16string VersionText(DWORD mostSignificant, DWORD leastSignificant)
{
    return DecimalText(mostSignificant >> 16) + u"." + DecimalText(mostSignificant & 0xFFFF) +
           u"." + DecimalText(leastSignificant >> 16) + u"." +
           DecimalText(leastSignificant & 0xFFFF);
}

// A counter key: the number when one can be read, the previous value when the text holds
// none, 0 when the key is missing.
uint32_t ReadCounter(const CQVIni& ini, const char16_t* key, uint32_t previous)
{
    int32_t value = static_cast<int32_t>(previous);
    if (!ini.GetInt(kSection, key, &value))
        value = 0;
    return static_cast<uint32_t>(value);
}

}  // namespace

void CQVLog::SetClock(const Clock& clock)
{
    g_clock = clock;
}

CQVLog& CQVLog::GetInstance()
{
    std::call_once(g_instanceBuilt, BuildInstance);
    return Instance();
}

CQVLog& CQVLog::RebuildInstance()
{
    bool fresh = false;
    std::call_once(g_instanceBuilt, [&fresh] {
        BuildInstance();
        fresh = true;
    });
    if (!fresh) {
        Instance().~CQVLog();
        g_processLevel = -1;
        t_callStack.clear();
        new (g_instanceStorage) CQVLog();
    }
    return Instance();
}

CQVLog::CQVLog()
    : m_flush(0),
      m_savedFlush(0),
      m_opened(0),
      m_level(0),
      m_encrypt(0),
      m_compress(0),
      m_differ(0),
      m_openCounter(0),
      m_maxFileSize(kDefaultMaxFileSize),
      m_lastOpenTime{},
      m_notimestamp(false),
      m_initialized(false),
      m_settingsFound(false),
      m_rotateByDate(false),
      m_rotateBySize(false),
      m_logFileCount(kLogFileCount),
      m_checkCounter(0),
      m_prefixTick(0)
{
    InitializeCriticalSection(&m_writeLock);
    WriteLock lock(m_writeLock);
    std::u16string iniPath;
    m_settingsFound = FindIniFile(iniPath);
    int32_t unset = -1;
    g_processLevel.compare_exchange_strong(unset, static_cast<int32_t>(kLevelVariables));
    m_level = static_cast<uint32_t>(g_processLevel.load());
    m_basePath.clear();
    if (!m_opened)
        Open();
}

CQVLog::~CQVLog()
{
    {
        WriteLock lock(m_writeLock);
        Close();
    }
    DeleteCriticalSection(&m_writeLock);
}

void CQVLog::SetLevel(uint32_t level)
{
    g_processLevel = static_cast<int32_t>(level);
    m_level = level;
}

uint32_t CQVLog::GetErrorCode() const
{
    WriteLock lock(m_writeLock);
    return m_error.GetCode();
}

std::u16string CQVLog::GetFullName() const
{
    WriteLock lock(m_writeLock);
    return m_fullName;
}

// ---- settings and file name ----

bool CQVLog::FindIniFile(std::u16string& path)
{
    std::u16string candidate =
        FromFsPath(ToFsPath(HostExecutablePath()).parent_path() / kIniName);
    if (!PathFound(candidate)) {
        candidate = kIniInCurrentDirectory;
        if (!PathFound(candidate))
            return false;
    }
    path = candidate;
    return true;
}

uint32_t CQVLog::ReadIni()
{
    std::u16string iniPath;
    FindIniFile(iniPath);
    CQVIni ini;
    if (!ini.Load(iniPath.c_str()))
        return 0;
    if (!ini.SectionExists(kSection)) {
        m_error.SetCode(ERROR_NOT_FOUND);
        return 0;
    }
    std::u16string text;
    if (ini.GetString(kSection, u"outdir", text))
        m_outdir = text;
    m_filename.clear();
    ini.GetString(kSection, u"filename", m_filename);
    int32_t number = 0;
    if (ini.GetInt(kSection, u"notimestamp", &number))
        m_notimestamp = number == 1;
    if (ini.GetString(kSection, u"path", text))
        m_basePath = text;
    number = 0;
    if (ini.GetInt(kSection, u"MaxFileSize", &number))
        m_maxFileSize = static_cast<uint32_t>(number);
    bool flag = false;
    if (ini.GetBool(kSection, u"rotateByDate", &flag))
        m_rotateByDate = flag;
    flag = false;
    if (ini.GetBool(kSection, u"rotateBySize", &flag))
        m_rotateBySize = flag;
    // The key counts only while the process-wide level is unset; construction sets it first.
    if (g_processLevel == -1) {
        int32_t level = 1;
        ini.GetInt(kSection, u"loglevel", &level);
        m_level = static_cast<uint32_t>(level);
    } else {
        m_level = static_cast<uint32_t>(g_processLevel.load());
    }
    m_flush = ReadCounter(ini, u"flush", m_flush);
    m_savedFlush = m_flush;
    m_encrypt = ReadCounter(ini, u"encrypt", m_encrypt);
    m_compress = ReadCounter(ini, u"compress", m_compress);
    m_differ = ReadCounter(ini, u"differ", m_differ);
    if (ini.GetString(kSection, u"skip", text)) {
        std::vector<std::u16string> names;
        boost::split(names, text, boost::is_any_of(u","));
        m_skip.insert(names.begin(), names.end());
    }
    return 1;
}

int32_t CQVLog::GetDllPath(std::u16string& path)
{
    const std::u16string module = ModulePath();
    if (module.empty())
        return kFail;
    path = module;
    return 0;
}

bool CQVLog::BuildFileName()
{
    if (m_basePath.empty()) {
        GetDllPath(m_basePath);
        if (!m_outdir.empty()) {
            const boost::filesystem::path name =
                m_filename.empty() ? ToFsPath(m_basePath).filename() : ToFsPath(m_filename);
            m_basePath = FromFsPath(ToFsPath(m_outdir) / name);
        }
    }
    if (m_fullName.empty()) {
        m_fullName = m_basePath;
        if (!m_notimestamp)
            AppendTimestampSuffix(m_fullName);
        m_fullName += u".log";
    }
    return true;
}

bool CQVLog::AppendTimestampSuffix(std::u16string& name)
{
    name += QVFormatTime(u".%Y%m%d%H%M%S", g_clock.currentTime());
    name += u"_";
    name += DecimalText(m_openCounter);
    return true;
}

bool CQVLog::GetModuleVersions(std::u16string& fileVersion, std::u16string& productVersion)
{
    const std::u16string host = HostExecutablePath();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(host.c_str(), &handle);
    if (size == 0)
        return false;
    std::vector<unsigned char> block(size);
    if (!GetFileVersionInfoW(host.c_str(), handle, size, block.data()))
        return false;
    LPVOID record = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), u"\\", &record, &length) || record == nullptr ||
        length < sizeof(VS_FIXEDFILEINFO))
        return false;
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(record);
    fileVersion = VersionText(info->dwFileVersionMS, info->dwFileVersionLS);
    productVersion = VersionText(info->dwProductVersionMS, info->dwProductVersionLS);
    return true;
}

// ---- opening, closing, rotation ----

void CQVLog::SwitchOff()
{
    SetLevel(0);
    m_opened = 0;
}

uint32_t CQVLog::Open()
{
    ++m_openCounter;
    g_clock.localTime(&m_lastOpenTime);
    if (!m_settingsFound)
        return 0;
    if (!ReadIni()) {
        SwitchOff();
        return 1;
    }
    if (!m_initialized) {
        if (m_differ != 0) {
            SwitchOff();
            return 1;
        }
        BuildFileName();
        m_opened = 1;
        m_initialized = true;
    }
    CreateLogFolder();
    RemoveOldLogs();
    if (!OpenLogFile())
        return 0;
    if (m_flush != 0)
        m_textFile.Close();
    m_opened = 1;
    return 1;
}

void CQVLog::CreateLogFolder() const
{
    std::string native;
    if (!NativePath(GenericForm(m_basePath).c_str(), &native))
        return;
    const boost::filesystem::path folder = boost::filesystem::path(native).remove_filename();
    boost::system::error_code error;
    const boost::filesystem::file_status status = boost::filesystem::status(folder, error);
    if (error || status.type() == boost::filesystem::status_error ||
        status.type() == boost::filesystem::file_not_found)
        boost::filesystem::create_directories(folder, error);
}

void CQVLog::RemoveOldLogs() const
{
    CQVLogCleaner cleaner(m_logFileCount - 1);
    const boost::filesystem::path base = ToFsPath(m_basePath);
    cleaner.SetFolder(FromFsPath(boost::filesystem::path(base).remove_filename()));
    if (!m_basePath.empty())
        cleaner.AddPattern(FromFsPath(base.filename()) + u".*.log");
    cleaner.Run();
}

// An existing log is appended to; a new one starts with the mark and the header.
uint32_t CQVLog::OpenLogFile()
{
    m_textFile.SetPath(m_fullName.c_str());
    if (!m_textFile.Exists()) {
        if (!m_textFile.OpenForAppend())
            return FailWithFileError();
        WriteHeader();
    }
    if (!m_textFile.IsOpen()) {
        m_textFile.Open(kReadWrite, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
        m_textFile.ReadBom();
    }
    return 1;
}

uint32_t CQVLog::FailWithFileError()
{
    m_error.SetCode(m_textFile.GetError().GetCode());
    return 0;
}

uint32_t CQVLog::Close()
{
    m_opened = 0;
    m_initialized = false;
    m_basePath.clear();
    m_fullName.clear();
    m_outdir.clear();
    m_textFile.Close();
    return m_opened;
}

bool CQVLog::Reopen(bool settingsFound)
{
    m_settingsFound = settingsFound;
    g_clock.localTime(&m_lastOpenTime);
    if (!settingsFound)
        return false;
    if (ReadIni()) {
        if (!m_initialized)
            BuildFileName();
        m_initialized = true;
    } else {
        SwitchOff();
    }
    return true;
}

void CQVLog::CheckRotation()
{
    const uint64_t sinceDue = m_checkCounter % kChecksPerRotation;
    ++m_checkCounter;
    if (sinceDue != 0)
        return;
    SYSTEMTIME now{};
    g_clock.localTime(&now);
    const bool byDate = m_rotateByDate && now.wDay != m_lastOpenTime.wDay;
    const bool bySize = m_rotateBySize && ReachedMaxFileSize();
    if (byDate || bySize) {
        Close();
        Reopen(m_settingsFound);
    }
}

bool CQVLog::ReachedMaxFileSize()
{
    if (!m_textFile.Exists())
        return false;
    // In 64 bits, so that limits of 4 GiB and more and files beyond 4 GiB compare right.
    return m_textFile.GetSize() >= (uint64_t{m_maxFileSize} << 20);
}

// ---- header and writing ----

void CQVLog::WriteHeaderLine(const std::u16string& line)
{
    if (!m_textFile.IsUnicode()) {
        SetLastError(ERROR_BAD_FORMAT);
        return;
    }
    const std::u16string text = line + kLineEnd;
    m_textFile.Write(text.c_str(), static_cast<uint32_t>(text.size() * sizeof(char16_t)));
}

void CQVLog::WriteHeader()
{
    const std::u16string rule(kRuleLength, u'_');
    WriteHeaderLine(rule);
    WriteHeaderLine(u"Log started at " +
                    QVFormatTime(u"%A %Y-%m-%d  at %H:%M:%S", g_clock.currentTime()));
    WriteHeaderLine(std::u16string(u"\tUsing qv_log.ini: ") + (m_settingsFound ? u"1" : u"0"));
    WriteHeaderLine(u"\tLog level: " + DecimalText(m_level));
    WriteHeaderLine(u"\tForced flush: " + DecimalText(m_flush));
    WriteHeaderLine(u"\tCompressed: " + DecimalText(m_compress));
    WriteHeaderLine(u"\tEncrypted: " + DecimalText(m_encrypt));
    std::u16string iniPath;
    if (FindIniFile(iniPath) && !iniPath.empty())
        WriteHeaderLine(u"\tIniPath: " + iniPath);
    WriteHeaderLine(u"\tQVLib Build Date&Time: \"" + Utf8ToUtf16(__DATE__) + u"\" \"" +
                    Utf8ToUtf16(__TIME__) + u"\"");
    std::u16string fileVersion;
    std::u16string productVersion;
    if (GetModuleVersions(fileVersion, productVersion)) {
        WriteHeaderLine(u"\tFileVersion: " + fileVersion);
        WriteHeaderLine(u"\tProductVersion: " + productVersion);
    }
    WriteHeaderLine(u"\tModulePath: " + HostExecutablePath());
    WriteHeaderLine(rule);
}

uint32_t CQVLog::PrepareFile()
{
    if (m_flush == 0)
        return 1;
    if (m_textFile.Open(kReadWrite, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL)) {
        m_textFile.ReadBom();
    } else {
        if (!m_textFile.OpenForAppend())
            return FailWithFileError();
        WriteHeader();
    }
    int64_t end = 0;
    if (!m_textFile.Seek(&end, FILE_END))
        return FailWithFileError();
    return 1;
}

const std::u16string& CQVLog::FormatTimePrefix()
{
    const ULONGLONG now = g_clock.tickCount();
    if (now - m_prefixTick > kPrefixPeriodMs || m_timePrefix.empty()) {
        m_prefixTick = now;
        m_timePrefix = QVFormatTime(u"[%H:%M:%S] ", g_clock.currentTime());
    }
    return m_timePrefix;
}

std::u16string CQVLog::GetTimePrefix()
{
    WriteLock lock(m_writeLock);
    return FormatTimePrefix();
}

bool CQVLog::EnsureOpened()
{
    if (!m_opened)
        Open();
    return m_opened != 0;
}

uint32_t CQVLog::Write(const char16_t* text, uint32_t forceFlush, bool timed)
{
    WriteLock lock(m_writeLock);
    return WriteLocked(TextOrEmpty(text), forceFlush, timed);
}

uint32_t CQVLog::WriteRaw(const char16_t* text, uint32_t forceFlush)
{
    return Write(text, forceFlush, false);
}

uint32_t CQVLog::WriteLocked(const std::u16string& text, uint32_t forceFlush, bool timed)
{
    if (!EnsureOpened())
        return 0;
    CheckRotation();
    // A rotation has just closed the file: this line starts the new one.
    if (!EnsureOpened())
        return 0;
    if (forceFlush != 0) {
        m_savedFlush = m_flush;
        m_flush = 1;
    }
    const uint32_t result = WriteText(text, timed);
    if (forceFlush != 0)
        m_flush = m_savedFlush;
    return result;
}

uint32_t CQVLog::WriteText(const std::u16string& text, bool timed)
{
    if (!PrepareFile())
        return 0;
    const std::u16string line = timed ? FormatTimePrefix() + text : text;
    if (!m_textFile.IsUnicode()) {
        m_error.SetCode(ERROR_BAD_FORMAT);
        return 0;
    }
    if (!m_textFile.Write(line.c_str(), static_cast<uint32_t>(line.size() * sizeof(char16_t))))
        return FailWithFileError();
    if (m_flush != 0)
        m_textFile.Close();
    if (m_savedFlush == 0)
        PrepareFile();
    return 1;
}

// ---- line writers ----

uint32_t CQVLog::Log(QVWideStream& lineStream, const char16_t* prefix)
{
    WriteLock lock(m_writeLock);
    CheckRotation();
    std::u16string text = Blanks(t_callStack.size());
    text += TextOrEmpty(prefix);
    text += lineStream.Take();
    text += kLineEnd;
    return WriteLocked(text, m_flush, true);
}

uint32_t CQVLog::LogError(QVWideStream& lineStream, const char16_t* file,
                          const char16_t* function, uint32_t line, uint32_t code)
{
    WriteLock lock(m_writeLock);
    m_error.SetCode(code);
    CheckRotation();
    const std::u16string message = lineStream.Take();
    std::u16string head = u"#Error:   ";
    if (file != nullptr) {
        head += u"in File: ";
        head += file;
        head += u" Function: ";
        head += TextOrEmpty(function);
        head += u" at line: ";
        head += DecimalText(line);
    }
    if (code != 0) {
        head += u" - ErrCode: 0x";
        head += QVHexText(code, false, 0);
        head += u" - ErrMsg: ";
        head += m_error.GetErrorText();
    }
    const std::u16string marks = std::u16string(t_callStack.size(), u'#') + u" ";
    uint32_t result = WriteLocked(marks + head + kLineEnd, m_flush, true);
    if (result != 0) {
        // The marks and the message form one line, written in two parts.
        WriteLocked(marks, m_flush, true);
        result = WriteLocked(message + kLineEnd, m_flush, false);
        if (!t_callStack.empty())
            DumpCallStackLocked();
    }
    SetLastError(code);
    return result;
}

uint32_t CQVLog::DumpCallStack()
{
    WriteLock lock(m_writeLock);
    return DumpCallStackLocked();
}

uint32_t CQVLog::DumpCallStackLocked()
{
    if (!LevelIncludes(kLevelErrors))
        return 0;
    CheckRotation();
    const std::u16string indent = Blanks(t_callStack.size());
    std::u16string text = indent + u"Call Stack :" + kLineEnd;
    for (auto frame = t_callStack.rbegin(); frame != t_callStack.rend(); ++frame) {
        text += FormatTimePrefix();
        text += indent;
        text += *frame;
        text += kLineEnd;
    }
    return WriteLocked(text, 0, true);
}

bool CQVLog::IsSkipped(const char16_t* function) const
{
    if (m_skip.empty())
        return false;
    const std::u16string name = TextOrEmpty(function);
    const std::wstring wideName(name.begin(), name.end());
    for (const std::u16string& skipped : m_skip) {
        if (boost::iequals(wideName, std::wstring(skipped.begin(), skipped.end())))
            return true;
    }
    return false;
}

void CQVLog::Enter(CQVLogScope& scope)
{
    if (!LevelIncludes(kLevelCalls))
        return;
    WriteLock lock(m_writeLock);
    CheckRotation();
    if (IsSkipped(scope.m_functionName)) {
        scope.m_skip = true;
        SetLevel(kLevelErrors);
        return;
    }
    const std::u16string function = TextOrEmpty(scope.m_functionName);
    const std::u16string entryLine = TextOrEmpty(scope.m_entryLine);
    std::u16string text = Blanks(t_callStack.size());
    text += u"{ ";
    text += function;
    text += u"():";
    text += entryLine;
    text += kLineEnd;
    if (!WriteLocked(text, m_flush, true))
        return;
    t_callStack.push_back(TextOrEmpty(scope.m_sourceName) + (u"!" + function) + u"() Line " +
                          entryLine);
}

uint32_t CQVLog::Leave(CQVLogScope& scope)
{
    WriteLock lock(m_writeLock);
    CheckRotation();
    if (!scope.m_pendingText.empty())
        WriteLocked(scope.m_pendingText.Take(), m_flush, false);
    if (!LevelIncludes(kLevelCalls))
        return 0;
    if (!t_callStack.empty())
        t_callStack.pop_back();
    std::u16string text = Blanks(t_callStack.size());
    text += u"} ";
    text += TextOrEmpty(scope.m_functionName);
    text += u"()";
    if (scope.m_exitLine != nullptr) {
        text += u":";
        text += scope.m_exitLine;
    }
    if (scope.m_resultStream) {
        text += u" -> ";
        text += scope.m_resultStream->Take();
    }
    text += kLineEnd;
    return WriteLocked(text, m_flush, true);
}
