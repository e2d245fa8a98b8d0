#include "LogFixture.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "platform/clock.h"
#include "platform/text.h"
#include "qvlib/QVTime.h"

namespace {

std::atomic<int64_t> g_seconds{kStartTime};
std::atomic<uint64_t> g_ticks{1000000};

void TestLocalTime(SYSTEMTIME* time)
{
    const time_t seconds = static_cast<time_t>(g_seconds.load());
    struct tm local{};
    localtime_r(&seconds, &local);
    *time = SYSTEMTIME{static_cast<WORD>(local.tm_year + 1900), static_cast<WORD>(local.tm_mon + 1),
                       static_cast<WORD>(local.tm_wday), static_cast<WORD>(local.tm_mday),
                       static_cast<WORD>(local.tm_hour), static_cast<WORD>(local.tm_min),
                       static_cast<WORD>(local.tm_sec), 0};
}

int64_t TestCurrentTime()
{
    return g_seconds.load();
}

ULONGLONG TestTickCount()
{
    return g_ticks.load();
}

}  // namespace

void LogFixture::SetUp()
{
    setenv("TZ", "UTC", 1);
    tzset();
    SetTime(kStartTime);
    CQVLog::SetClock({TestLocalTime, TestCurrentTime, TestTickCount});
    m_previousDirectory = std::filesystem::current_path();
    std::filesystem::current_path(m_folder.path());
}

void LogFixture::TearDown()
{
    std::filesystem::current_path(m_previousDirectory);
    // Leave no settings behind for the next case of this process.
    CQVLog::RebuildInstance();
    CQVLog::SetClock({GetLocalTime, QVGetCurrentTime, GetTickCount64});
}

void LogFixture::WriteSettings(const std::string& text) const
{
    WriteFileBytes(m_folder.path() / "QV_LOG.INI", text);
}

CQVLog& LogFixture::BuildLog()
{
    return CQVLog::RebuildInstance();
}

void LogFixture::SetTime(int64_t seconds)
{
    g_seconds = seconds;
    g_ticks += 5000;
}

void LogFixture::AdvanceTime(int64_t seconds)
{
    SetTime(g_seconds.load() + seconds);
}

std::vector<std::filesystem::path> LogFixture::LogFiles(const std::filesystem::path& folder) const
{
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".log")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string ReadFileBytes(const std::filesystem::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes)
{
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream << bytes;
}

std::vector<std::string> ReadLogLines(const std::filesystem::path& file)
{
    const std::string bytes = ReadFileBytes(file);
    EXPECT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE")) << file;
    EXPECT_EQ(bytes.size() % 2, 0u) << file;
    std::u16string text;
    for (size_t index = 2; index + 1 < bytes.size(); index += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[index]) |
                                      (static_cast<unsigned char>(bytes[index + 1]) << 8));
    const std::string utf8 = Utf16ToUtf8(text);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = utf8.find("\r\n"); end != std::string::npos;
         start = end + 2, end = utf8.find("\r\n", start))
        lines.push_back(utf8.substr(start, end - start));
    if (start < utf8.size())
        lines.push_back(utf8.substr(start));
    return lines;
}

std::string WithoutPrefix(const std::string& line)
{
    static const std::regex prefix(R"(^\[\d\d:\d\d:\d\d\] )");
    return std::regex_replace(line, prefix, "", std::regex_constants::format_first_only);
}
