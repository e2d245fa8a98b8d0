#include <cstdlib>
#include <regex>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "LogFixture.h"
#include "platform/error.h"
#include "platform/path.h"
#include "platform/text.h"
#include "qvlib/CQVLogScope.h"

namespace {

namespace fs = std::filesystem;

const std::string kRule(80, '_');

std::u16string U16(const std::string& text)
{
    return Utf8ToUtf16(text);
}

size_t CountLines(const std::vector<std::string>& lines, const std::string& wanted)
{
    size_t count = 0;
    for (const std::string& line : lines)
        count += WithoutPrefix(line) == wanted ? 1 : 0;
    return count;
}

// Writes count plain lines.
void WriteLines(int count, const std::string& text)
{
    QVWideStream line;
    for (int index = 0; index < count; ++index) {
        line << U16(text);
        CQVLog::GetInstance().Log(line, u"");
    }
}

using LogSettings = LogFixture;

TEST_F(LogSettings, StaysSilentWithoutTheSettingsFile)
{
    CQVLog& log = BuildLog();
    EXPECT_EQ(log.Write(u"text", 0, true), 0u);
    EXPECT_EQ(log.GetLevel(), 63u);
    EXPECT_FALSE(log.IsInitialized());
    {
        CQVLogScope scope(u"Traced", u"Test", u"10");
        log.Enter(scope);
        scope.LogVar(u"value", 5);
        scope.SetExitLine(u"20");
        EXPECT_EQ(scope.LogResult(int32_t{1}), 1);
    }
    EXPECT_TRUE(fs::is_empty(Folder()));
}

TEST_F(LogSettings, SwitchesTracingOffWithoutSectionLog)
{
    WriteSettings("[other]\npath=trace\n");
    SetLastError(0);
    CQVLog& log = BuildLog();
    EXPECT_EQ(log.GetErrorCode(), static_cast<uint32_t>(ERROR_NOT_FOUND));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
    EXPECT_EQ(log.GetLevel(), 0u);
    EXPECT_EQ(log.Write(u"text", 0, true), 0u);
    // A later settings file does not bring the level back.
    WriteSettings("[log]\npath=trace\nnotimestamp=1\n");
    EXPECT_EQ(log.Write(u"text", 0, true), 1u);
    EXPECT_EQ(log.GetLevel(), 0u);
}

TEST_F(LogSettings, DifferSwitchesTracingOff)
{
    WriteSettings("[log]\npath=trace\ndiffer=1\n");
    CQVLog& log = BuildLog();
    EXPECT_EQ(log.GetLevel(), 0u);
    EXPECT_EQ(log.Write(u"text", 0, true), 0u);
    EXPECT_TRUE(LogFiles(Folder()).empty());
}

TEST_F(LogSettings, WritesTheHeaderIntoANewUtf16File)
{
    WriteSettings("[log]\npath=logs\\trace\nloglevel=1\nencrypt=4\ncompress=5\n");
    CQVLog& log = BuildLog();
    EXPECT_EQ(log.GetLevel(), 63u);
    EXPECT_EQ(log.GetFullName(), u"logs\\trace.20130523161232_1.log");
    const std::vector<std::string> lines = ReadLogLines(Folder() / "logs/trace.20130523161232_1.log");
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], kRule);
    EXPECT_EQ(lines[1], "Log started at Thursday 2013-05-23  at 16:12:32");
    EXPECT_EQ(lines[2], "\tUsing qv_log.ini: 1");
    EXPECT_EQ(lines[3], "\tLog level: 63");
    EXPECT_EQ(lines[4], "\tForced flush: 0");
    EXPECT_EQ(lines[5], "\tCompressed: 5");
    EXPECT_EQ(lines[6], "\tEncrypted: 4");
    EXPECT_EQ(lines[7], "\tIniPath: .\\QV_LOG.INI");
    EXPECT_TRUE(std::regex_match(
        lines[8], std::regex(R"(\tQVLib Build Date&Time: "\w{3} [ \d]\d \d{4}" "\d\d:\d\d:\d\d")")))
        << lines[8];
    EXPECT_EQ(lines[9], "\tModulePath: " + Utf16ToUtf8(HostExecutablePath()));
    EXPECT_EQ(lines[10], kRule);
}

TEST_F(LogSettings, AppendsToAFileWithoutTimestampOnEveryOpen)
{
    const fs::path drive = Folder() / "drive";
    fs::create_directory(drive);
    setenv("KELVANE_DRIVE_C", drive.c_str(), 1);
    WriteSettings("[log]\nnotimestamp=1\npath=C:\\x\\trace\n");
    BuildLog();
    WriteLines(1, "first");
    BuildLog();
    WriteLines(1, "second");
    unsetenv("KELVANE_DRIVE_C");

    const std::vector<std::string> lines = ReadLogLines(drive / "x/trace.log");
    EXPECT_EQ(CountLines(lines, kRule), 2u);
    EXPECT_EQ(CountLines(lines, "first"), 1u);
    EXPECT_EQ(CountLines(lines, "second"), 1u);
}

TEST_F(LogSettings, NamesTheLogAfterTheModuleInsideOutdir)
{
    WriteSettings("[log]\noutdir=deep\\er\\logs\n");
    CQVLog& log = BuildLog();
    const std::string module = fs::path(Utf16ToUtf8(ModulePath())).filename().string();
    EXPECT_EQ(log.GetFullName(), U16("deep/er/logs/" + module + ".20130523161232_1.log"));
    EXPECT_TRUE(fs::exists(Folder() / "deep/er/logs" / (module + ".20130523161232_1.log")));
}

TEST_F(LogSettings, JoinsOutdirAndFilename)
{
    WriteSettings("[log]\noutdir=" + (Folder() / "out").string() + "\nfilename=trace\n");
    CQVLog& log = BuildLog();
    EXPECT_EQ(log.GetFullName(), U16((Folder() / "out/trace.20130523161232_1.log").string()));
    EXPECT_EQ(LogFiles(Folder() / "out").size(), 1u);
}

TEST_F(LogSettings, IgnoresFilenameWithoutOutdir)
{
    WriteSettings("[log]\nfilename=trace\nnotimestamp=1\n");
    CQVLog& log = BuildLog();
    const fs::path expected = Utf16ToUtf8(ModulePath()) + ".log";
    EXPECT_EQ(log.GetFullName(), expected.u16string());
    EXPECT_TRUE(fs::exists(expected));
    CQVLog::RebuildInstance();
    fs::remove(expected);
}

TEST_F(LogSettings, KeepsTwoOlderLogsBesideTheNewOne)
{
    fs::create_directory(Folder() / "logs");
    for (const char* name : {"trace.A.log", "trace.B.log", "trace.C.log", "trace.D.log",
                             "other.A.log"})
        WriteFileBytes(Folder() / "logs" / name, "x");
    WriteSettings("[log]\npath=logs/trace\n");
    BuildLog();
    std::vector<std::string> names;
    for (const fs::path& file : LogFiles(Folder() / "logs"))
        names.push_back(file.filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"other.A.log", "trace.20130523161232_1.log",
                                               "trace.C.log", "trace.D.log"}));
}

TEST_F(LogSettings, RotatesBySizeIntoANewFile)
{
    WriteSettings("[log]\npath=trace\nrotateBySize=1\nMaxFileSize=1\n");
    BuildLog();
    // Lines of 1626 bytes: 1 MiB is passed at about the 645th line.
    const std::string text(800, 'x');
    WriteLines(600, text);
    AdvanceTime(1);
    WriteLines(100, text);
    const std::vector<fs::path> files = LogFiles(Folder());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].filename(), "trace.20130523161232_1.log");
    EXPECT_EQ(files[1].filename(), "trace.20130523161233_1.log");
    EXPECT_GE(fs::file_size(files[0]), 1u << 20);
    const std::vector<std::string> lines = ReadLogLines(files[1]);
    ASSERT_GE(lines.size(), 11u);
    EXPECT_EQ(lines[0], kRule);
    EXPECT_EQ(lines[1], "Log started at Thursday 2013-05-23  at 16:12:33");
    EXPECT_EQ(CountLines(ReadLogLines(files[0]), text) + CountLines(lines, text), 700u);
}

TEST_F(LogSettings, RotatesWhenTheDayChanges)
{
    WriteSettings("[log]\npath=trace\nrotateByDate=1\n");
    BuildLog();
    WriteLines(60, "today");
    SetTime(kStartTime + 8 * 3600);  // 00:12:32 the next day
    WriteLines(60, "tomorrow");
    const std::vector<fs::path> files = LogFiles(Folder());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].filename(), "trace.20130524001232_1.log");
    EXPECT_EQ(CountLines(ReadLogLines(files[0]), "today"), 60u);
    const std::vector<std::string> lines = ReadLogLines(files[1]);
    EXPECT_EQ(lines[1], "Log started at Friday 2013-05-24  at 00:12:32");
    EXPECT_EQ(CountLines(ReadLogLines(files[0]), "tomorrow") + CountLines(lines, "tomorrow"),
              60u);
}

TEST_F(LogSettings, RotatesAtTheFirstDueCheckWhenTheSizeLimitIsNoNumber)
{
    WriteSettings("[log]\npath=trace\nrotateBySize=1\nMaxFileSize=many\n");
    BuildLog();
    AdvanceTime(2);
    WriteLines(1, "rotated");
    const std::vector<fs::path> files = LogFiles(Folder());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].filename(), "trace.20130523161234_1.log");
    const std::vector<std::string> lines = ReadLogLines(files[1]);
    EXPECT_EQ(lines[0], kRule);
    EXPECT_EQ(CountLines(lines, "rotated"), 1u);
}

TEST_F(LogSettings, FlushModeLeavesACompleteFileAfterEveryLine)
{
    WriteSettings("[log]\npath=trace\nnotimestamp=1\nflush=1\n");
    BuildLog();
    CQVLogScope scope(u"Writer", u"Test", u"1");
    scope.LineStream() << u"one";
    scope.LogInfo();
    std::vector<std::string> lines = ReadLogLines(Folder() / "trace.log");
    EXPECT_EQ(lines[4], "\tForced flush: 1");
    EXPECT_EQ(WithoutPrefix(lines.back()), "one");
    // The file is closed between lines: another writer may replace it.
    fs::remove(Folder() / "trace.log");
    scope.LineStream() << u"two";
    scope.LogInfo();
    lines = ReadLogLines(Folder() / "trace.log");
    EXPECT_EQ(lines[0], kRule);
    EXPECT_EQ(WithoutPrefix(lines.back()), "two");
}

TEST_F(LogSettings, RefusesToWriteIntoAFileWithoutTheMark)
{
    WriteFileBytes(Folder() / "trace.log", "plain");
    WriteSettings("[log]\npath=trace\nnotimestamp=1\n");
    CQVLog& log = BuildLog();
    EXPECT_EQ(log.Write(u"text\r\n", 0, true), 0u);
    EXPECT_EQ(log.GetErrorCode(), static_cast<uint32_t>(ERROR_BAD_FORMAT));
    EXPECT_EQ(ReadFileBytes(Folder() / "trace.log"), "plain");
}

TEST_F(LogSettings, MakesTheLogInTheFolderThatAnEightBitPathNames)
{
    // "lög" in UTF-8, as names are written here, then in Latin-1, as files were read before.
    const std::string name = "l\xC3\xB6g";
    const std::pair<std::string, std::string> settings[] = {{name, "from UTF-8"},
                                                            {"l\xF6g", "from Latin-1"}};
    for (const auto& [written, line] : settings) {
        // A Latin-1 comment elsewhere in the file changes nothing.
        WriteSettings("[log]\n; r\xE9sum\xE9 of the settings\nnotimestamp=1\npath=" +
                      (Folder() / written).string() + "/trace\n");
        BuildLog();
        WriteLines(1, line);
    }
    const std::vector<std::string> lines = ReadLogLines(Folder() / name / "trace.log");
    EXPECT_EQ(CountLines(lines, "from UTF-8"), 1u);
    EXPECT_EQ(CountLines(lines, "from Latin-1"), 1u);
}

TEST_F(LogSettings, ReadsSettingsWrittenAsUtf16)
{
    std::string bytes = "\xFF\xFE";
    for (char character : std::string("[log]\r\npath=trace\r\nnotimestamp=1\r\n")) {
        bytes += character;
        bytes += '\0';
    }
    WriteSettings(bytes);
    BuildLog();
    EXPECT_TRUE(fs::exists(Folder() / "trace.log"));
}

}  // namespace
