#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "EnvironmentVariable.h"
#include "platform/error.h"
#include "platform/file.h"
#include "support/TempDir.h"
#include "util/Cutil.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kFourGiB = 0x100000000ULL;

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

std::string ReadAt(const fs::path& path, uint64_t offset, size_t length)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string data(length, '\0');
    in.read(data.data(), static_cast<std::streamsize>(length));
    data.resize(static_cast<size_t>(in.gcount()));
    return data;
}

struct Event {
    uint32_t code;
    std::u16string text;
    uint64_t value;
};

// Records what a Cutil tells the host and answers the progress codes as told.
struct Host {
    std::vector<Event> events;
    int32_t answerToSize = 0;
    int32_t answerToData = 0;

    static int32_t Callback(uintptr_t context, uint32_t code, const char16_t* text, uint64_t value)
    {
        Host* host = reinterpret_cast<Host*>(context);
        host->events.push_back({code, text != nullptr ? text : u"", value});
        if (code == Cutil::kCodeSetDataSize)
            return host->answerToSize;
        if (code == Cutil::kCodeData)
            return host->answerToData;
        return 0;
    }
    void Install(Cutil& util) { util.SetCallback(reinterpret_cast<uintptr_t>(this), &Callback); }
    std::vector<uint64_t> Values(uint32_t code) const
    {
        std::vector<uint64_t> values;
        for (const Event& event : events) {
            if (event.code == code)
                values.push_back(event.value);
        }
        return values;
    }
};

std::string RandomBytes(size_t length, unsigned seed)
{
    std::mt19937 random(seed);
    std::string data(length, '\0');
    for (char& c : data)
        c = static_cast<char>(random());
    return data;
}

}  // namespace

TEST(CutilLog, StaysSilentAtLevelZeroAndHonoursTheThreshold)
{
    TempDir temp;
    EnvironmentVariable tmpdir("TMPDIR", temp.path().string());
    Cutil util;
    const fs::path file = temp.path() / "cutil.txt";

    util.Log(Cutil::kTypeError, 0, u"never");
    util.Log(Cutil::kTypeError, 10, u"never either");
    EXPECT_FALSE(fs::exists(file));

    util.SetLogLevel(30);
    util.Log(Cutil::kTypeInformation, 31, u"too detailed");
    util.Log(Cutil::kTypeError, 31, u"too detailed error");
    util.Log(Cutil::kTypeInformation, 30, u"first \u00e9");
    util.Log(Cutil::kTypeError, 10, u"second");

    std::string content = ReadAll(file);
    ASSERT_EQ(content.size(), 2 * 21 + std::string("first \xC3\xA9\n").size() +
                                  std::string("second\n").size())
        << content;
    EXPECT_EQ(content.substr(19, 2), ": ");
    EXPECT_EQ(content.substr(21, 9), "first \xC3\xA9\n");
    EXPECT_EQ(content.substr(30 + 21), "second\n");
    EXPECT_EQ(content.find("detailed"), std::string::npos);
}

TEST(CutilLog, KeepsTheLineFeedOfAnOverlongMessage)
{
    TempDir temp;
    EnvironmentVariable tmpdir("TMPDIR", temp.path().string());
    Cutil util;
    util.SetLogLevel(10);
    util.Log(Cutil::kTypeInformation, 10, std::u16string(5000, u'x').c_str());
    std::string content = ReadAll(temp.path() / "cutil.txt");
    EXPECT_EQ(content.size(), 4095u);
    EXPECT_EQ(content.back(), '\n');
}

TEST(CutilLog, ACallbackTakesTheMessagesAndTheFileStaysUntouched)
{
    TempDir temp;
    EnvironmentVariable tmpdir("TMPDIR", temp.path().string());
    Cutil util;
    Host host;
    host.Install(util);
    util.SetLogLevel(30);
    util.Log(Cutil::kTypeError, 30, u"broken");
    util.Log(Cutil::kTypeInformation, 20, u"note");
    util.Log(Cutil::kTypeInformation, 40, u"dropped");

    ASSERT_EQ(host.events.size(), 2u);
    EXPECT_EQ(host.events[0].code, 1u);
    EXPECT_EQ(host.events[0].text, u"broken");
    EXPECT_EQ(host.events[0].value, 3u);
    EXPECT_EQ(host.events[1].text, u"note");
    EXPECT_EQ(host.events[1].value, 1u);
    EXPECT_FALSE(fs::exists(temp.path() / "cutil.txt"));

    util.SetCallback(0, nullptr);
    util.Log(Cutil::kTypeInformation, 30, u"to the file");
    EXPECT_EQ(host.events.size(), 2u);
    EXPECT_NE(ReadAll(temp.path() / "cutil.txt").find("to the file\n"), std::string::npos);
}

TEST(CutilWrite, Writebin2AtOffsetZeroReplacesTheFile)
{
    TempDir temp;
    WriteAll(temp.path() / "f", "a much longer old content");
    Cutil util;
    uint32_t error = 99, step = 99;
    EXPECT_EQ(util.writebin2(temp.file("f").c_str(), 0, "new", 3, &error, &step), 1u);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(step, 0u);
    EXPECT_EQ(ReadAll(temp.path() / "f"), "new");
}

TEST(CutilWrite, Writebin2NeedsAnExistingFileForANonZeroOffset)
{
    TempDir temp;
    Cutil util;
    uint32_t error = 0, step = 0;
    EXPECT_EQ(util.writebin2(temp.file("missing").c_str(), 10, "x", 1, &error, &step), 0u);
    EXPECT_EQ(error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(step, Cutil::kStepOpen);
    EXPECT_FALSE(fs::exists(temp.path() / "missing"));

    EXPECT_EQ(util.writebin2(temp.file("no/such/folder").c_str(), 0, "x", 1, &error, &step), 0u);
    EXPECT_EQ(error, static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(step, Cutil::kStepOpen);
}

TEST(CutilWrite, WritebinExtendsOrCutsTheFileRightAfterTheData)
{
    TempDir temp;
    WriteAll(temp.path() / "f", "0123456789");
    Cutil util;
    uint32_t error = 0, step = 0;
    ASSERT_EQ(util.writebin2(temp.file("f").c_str(), 4, "ab", 2, &error, &step), 1u);
    EXPECT_EQ(ReadAll(temp.path() / "f"), "0123ab");
    ASSERT_EQ(util.writebin2(temp.file("f").c_str(), 8, "cd", 2, &error, &step), 1u);
    EXPECT_EQ(ReadAll(temp.path() / "f"), std::string("0123ab\0\0cd", 10));
}

TEST(CutilWrite, WritebinLeavesItsHandleOpenAndWritesAtTheCurrentPositionForOffsetZero)
{
    TempDir temp;
    HANDLE file = CreateFileW(temp.file("f").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    Cutil util;
    uint32_t error = 0, step = 0;
    EXPECT_EQ(util.writebin(file, 0, "abc", 3, &error, &step), 1u);
    EXPECT_EQ(util.writebin(file, 0, "def", 3, &error, &step), 1u);
    EXPECT_EQ(util.writebin(file, 1, "X", 1, &error, &step), 1u);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(ReadAll(temp.path() / "f"), "aX");
}

TEST(CutilWrite, WritesAndCutsPastFourGiBInASparseFile)
{
    TempDir temp;
    Cutil util;
    uint32_t error = 0, step = 0;
    const std::u16string path = temp.file("sparse");
    ASSERT_EQ(util.writebin2(path.c_str(), 0, "head", 4, &error, &step), 1u);
    const uint64_t far = 5 * kFourGiB / 4 + 3;
    ASSERT_EQ(util.writebin2(path.c_str(), far, "tail", 4, &error, &step), 1u) << error << " " << step;
    EXPECT_EQ(fs::file_size(temp.path() / "sparse"), far + 4);
    EXPECT_EQ(ReadAt(temp.path() / "sparse", far - 1, 10), std::string("\0tail", 5));
    EXPECT_EQ(ReadAt(temp.path() / "sparse", 0, 4), "head");

    // A position whose low word is all ones is an ordinary position.
    ASSERT_EQ(util.writebin2(path.c_str(), kFourGiB - 1, "mid", 3, &error, &step), 1u);
    EXPECT_EQ(fs::file_size(temp.path() / "sparse"), kFourGiB + 2);
    EXPECT_EQ(ReadAt(temp.path() / "sparse", kFourGiB - 1, 8), "mid");
}

TEST(CutilWrite, SetHugeEOFSetsExactSizesBeyondFourGiB)
{
    TempDir temp;
    WriteAll(temp.path() / "f", "content");
    Cutil util;
    const uint64_t size = kFourGiB + 12345;
    EXPECT_EQ(util.SetHugeEOF(temp.file("f").c_str(), size), 1u);
    EXPECT_EQ(fs::file_size(temp.path() / "f"), size);
    EXPECT_EQ(util.SetHugeEOF(temp.file("f").c_str(), 3), 1u);
    EXPECT_EQ(ReadAll(temp.path() / "f"), "con");

    EXPECT_EQ(util.SetHugeEOF(temp.file("missing").c_str(), 3), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(CutilWrite, SizeQueryAcceptsSizesWithAllOnesInTheLowWord)
{
    TempDir temp;
    WriteAll(temp.path() / "f", "");
    fs::resize_file(temp.path() / "f", kFourGiB - 1);
    HANDLE file = CreateFileW(temp.file("f").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    Cutil util;
    uint64_t size = 0;
    uint32_t error = 77;
    WCHAR text[Cutil::kErrorTextCapacity] = {};
    EXPECT_EQ(util.GetHugeFileSizeHandle(&size, file, text, &error), 1u);
    EXPECT_EQ(size, kFourGiB - 1);
    EXPECT_EQ(Cutil::SetHugeFilePointer(file, kFourGiB - 1), 1u);
    CloseHandle(file);
}

TEST(CutilFileCrc, ReportsTheSizeAndEveryBlockAndMatchesZlib)
{
    TempDir temp;
    const std::string data = RandomBytes(5 * 0x100000 / 2, 3);
    WriteAll(temp.path() / "f", data);
    Cutil util;
    Host host;
    host.Install(util);
    uint32_t crc = 0, error = 99, step = 99;
    EXPECT_EQ(util.GetCrc32Disk(temp.file("f").c_str(), &crc, 0, &error, &step, 1, 1), 1u);
    EXPECT_EQ(crc, crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(step, 0u);
    EXPECT_EQ(host.Values(Cutil::kCodeSetDataSize), std::vector<uint64_t>{data.size()});
    EXPECT_EQ(host.Values(Cutil::kCodeData),
              (std::vector<uint64_t>{0x100000, 0x100000, 0x80000}));

    host.events.clear();
    EXPECT_EQ(util.GetCrc32Disk(temp.file("f").c_str(), &crc, 0, &error, &step, 0, 1), 1u);
    EXPECT_TRUE(host.events.empty());
}

TEST(CutilFileCrc, AnEmptyFileGivesZeroAfterReportingItsSize)
{
    TempDir temp;
    WriteAll(temp.path() / "empty", "");
    Cutil util;
    Host host;
    host.Install(util);
    uint32_t crc = 1, error = 1, step = 1;
    EXPECT_EQ(util.GetCrc32Disk(temp.file("empty").c_str(), &crc, 0, &error, &step, 1, 1), 1u);
    EXPECT_EQ(crc, 0u);
    EXPECT_EQ(host.Values(Cutil::kCodeSetDataSize), std::vector<uint64_t>{0});
    EXPECT_TRUE(host.Values(Cutil::kCodeData).empty());
}

TEST(CutilFileCrc, TheHostCancelsAfterTheFirstBlock)
{
    TempDir temp;
    WriteAll(temp.path() / "f", RandomBytes(3 * 0x100000, 4));
    Cutil util;
    Host host;
    host.answerToData = 1;
    host.Install(util);
    util.SetLogLevel(30);
    uint32_t crc = 0, error = 0, step = 0;
    EXPECT_EQ(util.GetCrc32Disk(temp.file("f").c_str(), &crc, 0, &error, &step, 1, 1), 0u);
    EXPECT_EQ(error, 1235u);
    EXPECT_EQ(host.Values(Cutil::kCodeData).size(), 1u);
    ASSERT_EQ(host.events.back().code, Cutil::kCodeLog);
    EXPECT_EQ(host.events.back().text, u"Cutil::GetCrc32Disk callback CONTROL_PROCESS_DATA returned (1)");
    EXPECT_EQ(host.events.back().value, 1u);
}

TEST(CutilFileCrc, TheHostCancelsBeforeTheFirstBlock)
{
    TempDir temp;
    WriteAll(temp.path() / "f", "data");
    Cutil util;
    Host host;
    host.answerToSize = 7;
    host.Install(util);
    util.SetLogLevel(30);
    uint32_t crc = 0, error = 0, step = 0;
    EXPECT_EQ(util.GetCrc32Disk(temp.file("f").c_str(), &crc, 0, &error, &step, 1, 1), 0u);
    EXPECT_EQ(error, 1235u);
    EXPECT_TRUE(host.Values(Cutil::kCodeData).empty());
    ASSERT_EQ(host.events.back().code, Cutil::kCodeLog);
    EXPECT_EQ(host.events.back().text,
              u"Cutil::GetCrc32Disk callback CONTROL_PROCESS_SETDATASIZE returned (7)");
}

TEST(CutilFileCrc, AMissingFileFailsAtTheOpenStep)
{
    TempDir temp;
    Cutil util;
    Host host;
    host.Install(util);
    util.SetLogLevel(30);
    uint32_t crc = 0, error = 0, step = 0;
    EXPECT_EQ(util.GetCrc32Disk(temp.file("none").c_str(), &crc, 0, &error, &step, 1, 0), 0u);
    EXPECT_EQ(error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(step, Cutil::kStepOpen);
    EXPECT_TRUE(host.events.empty());
}

TEST(CutilFileCrc, AFileOfFourGiBLessOneByte)
{
    TempDir temp;
    WriteAll(temp.path() / "big", "");
    fs::resize_file(temp.path() / "big", kFourGiB - 1);
    std::vector<Bytef> zeros(0x100000, 0);
    uLong expected = crc32(0, nullptr, 0);
    for (int block = 0; block < 4095; ++block)
        expected = crc32(expected, zeros.data(), 0x100000);
    expected = crc32(expected, zeros.data(), 0xFFFFF);

    Cutil util;
    Host host;
    host.Install(util);
    uint32_t crc = 0, error = 0, step = 0;
    EXPECT_EQ(util.GetCrc32Disk(temp.file("big").c_str(), &crc, 0, &error, &step, 1, 1), 1u);
    EXPECT_EQ(crc, expected);
    EXPECT_EQ(host.Values(Cutil::kCodeSetDataSize), std::vector<uint64_t>{kFourGiB - 1});
    std::vector<uint64_t> blocks = host.Values(Cutil::kCodeData);
    ASSERT_EQ(blocks.size(), 4096u);
    EXPECT_EQ(blocks.back(), 0xFFFFFu);
}

TEST(CutilDirectories, CreatesTheFoldersThatHoldAFile)
{
    TempDir temp;
    EnvironmentVariable drive("KELVANE_DRIVE_C", temp.path().string());
    EXPECT_EQ(Cutil::CreateDirectoryTree(u"C:\\a\\b\\f.txt"), 1u);
    EXPECT_TRUE(fs::is_directory(temp.path() / "a" / "b"));
    EXPECT_FALSE(fs::exists(temp.path() / "a" / "b" / "f.txt"));
    EXPECT_EQ(Cutil::CreateDirectoryTree(u"C:\\a\\b\\f.txt"), 1u);
    EXPECT_EQ(Cutil::CreateDirectoryTree(u"C:\\a\\c\\d\\"), 1u);
    EXPECT_TRUE(fs::is_directory(temp.path() / "a" / "c" / "d"));

    const std::u16string posix = temp.file("p/q/r");
    EXPECT_EQ(Cutil::CreateDirectoryTree(posix.c_str()), 1u);
    EXPECT_TRUE(fs::is_directory(temp.path() / "p" / "q"));
}

TEST(CutilDirectories, ShortAndSeparatorlessPaths)
{
    EXPECT_EQ(Cutil::CreateDirectoryTree(u"C:\\"), 0u);
    EXPECT_EQ(Cutil::CreateDirectoryTree(u"kelvane-no-separator"), 1u);
    EXPECT_FALSE(fs::exists("kelvane-no-separator"));
}

TEST(CutilDirectories, AFileInTheWayFailsWithAMessage)
{
    TempDir temp;
    WriteAll(temp.path() / "f", "");
    const std::u16string path = temp.file("f/sub/x.txt");
    testing::internal::CaptureStdout();
    EXPECT_EQ(Cutil::CreateDirectoryTree(path.c_str()), 0u);
    std::fflush(stdout);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, "CreateDirectory error win32error 3 on " + (temp.path() / "f/sub").string() +
                           "\\\n");
}

TEST(CutilFileTime, SetsTheInstantWhateverTheTimeZone)
{
    TempDir temp;
    EnvironmentVariable zone("TZ", "America/New_York");
    WriteAll(temp.path() / "f", "x");
    EXPECT_EQ(Cutil::SetFileTime(temp.file("f").c_str(), 1234567890), 1u);
    struct stat status {};
    ASSERT_EQ(stat((temp.path() / "f").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtime, 1234567890);
    EXPECT_EQ(status.st_atime, 1234567890);

    EXPECT_EQ(Cutil::SetFileTime(temp.file("f").c_str(), 0), 1u);
    EXPECT_EQ(Cutil::SetFileTime(temp.file("f").c_str(), -5), 1u);
    ASSERT_EQ(stat((temp.path() / "f").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtime, 1234567890);

    EXPECT_EQ(Cutil::SetFileTime(temp.file("missing").c_str(), 1234567890), 0u);
}

TEST(CutilMemory, PagesComeZeroedAndZeroBytesFail)
{
    Cutil util;
    EXPECT_EQ(util.AllocateMemory(0), nullptr);
    auto* pages = static_cast<uint8_t*>(util.AllocateMemory(10000));
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(pages, pages + 10000), std::vector<uint8_t>(10000, 0));
    pages[9999] = 1;
    Cutil::FreePacket(pages);

    auto* packet = static_cast<uint8_t*>(Cutil::AllocatePacket(5000));
    ASSERT_NE(packet, nullptr);
    EXPECT_EQ(packet[4999], 0);
    Cutil::FreePacket(packet);
    Cutil::FreePacket(nullptr);
}

TEST(CutilAppend, AppendsUtf8LinesWithoutAMark)
{
    TempDir temp;
    EXPECT_EQ(Cutil::AppendUtf8ToFile(temp.file("log").c_str(), u"\u00e9t\u00e9\n"), 1);
    EXPECT_EQ(Cutil::AppendUtf8ToFile(temp.file("log").c_str(), u"two\n"), 1);
    EXPECT_EQ(ReadAll(temp.path() / "log"), "\xC3\xA9t\xC3\xA9\ntwo\n");

    EXPECT_EQ(Cutil::AppendUtf8ToFile(temp.file("log").c_str(), std::u16string(8192, u'x').c_str()), 0);
    EXPECT_EQ(Cutil::AppendUtf8ToFile(temp.file("none/log").c_str(), u"x"), 0);
}
