#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include "ScopedTimeZone.h"
#include "platform/error.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"
#include "util/Cutil.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kFourGiB = 0x100000000ULL;

std::string ReadAt(const fs::path& path, uint64_t offset = 0, size_t length = 1 << 20)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string data(length, '\0');
    in.read(data.data(), static_cast<std::streamsize>(length));
    data.resize(static_cast<size_t>(in.gcount()));
    return data;
}

void WriteAll(const fs::path& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary) << content;
}

// Records what a Cutil tells the host and answers the progress codes as told.
struct Host {
    struct Event {
        uint32_t code;
        std::u16string text;
        uint64_t value;
    };
    std::vector<Event> events;
    int32_t answerToSize = 0;
    int32_t answerToData = 0;

    explicit Host(Cutil& util) { util.SetCallback(reinterpret_cast<uintptr_t>(this), &Callback); }
    static int32_t Callback(uintptr_t context, uint32_t code, const char16_t* text, uint64_t value)
    {
        Host* host = reinterpret_cast<Host*>(context);
        host->events.push_back({code, text != nullptr ? text : u"", value});
        return code == Cutil::kCodeSetDataSize ? host->answerToSize
               : code == Cutil::kCodeData      ? host->answerToData
                                               : 0;
    }
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

}  // namespace

TEST(CutilLog, WritesTheDiagnosticFileOnlyWithinTheThreshold)
{
    TempDir temp;
    ScopedEnv tmpdir("TMPDIR", temp.path().string());
    Cutil util;
    util.Log(Cutil::kTypeError, 0, u"never");
    EXPECT_FALSE(fs::exists(temp.path() / "cutil.txt"));

    util.SetLogLevel(30);
    util.Log(Cutil::kTypeError, 31, u"too detailed");
    util.Log(Cutil::kTypeInformation, 30, u"first \u00e9");
    util.Log(Cutil::kTypeError, 10, std::u16string(5000, u'x').c_str());
    const std::string content = ReadAt(temp.path() / "cutil.txt");
    ASSERT_EQ(content.size(), 30u + 4095u);
    EXPECT_EQ(content.substr(19, 11), ": first \xC3\xA9\n");
    EXPECT_EQ(content.substr(30 + 19, 3), ": x");
    EXPECT_EQ(content.back(), '\n');

    EXPECT_TRUE(Cutil::IsLogged(Cutil::kTypeError, 99, 0, 1));
    EXPECT_FALSE(Cutil::IsLogged(Cutil::kTypeInformation, 99, 0, 1));
}

TEST(CutilLog, ACallbackTakesTheMessagesAndTheFileStaysUntouched)
{
    TempDir temp;
    ScopedEnv tmpdir("TMPDIR", temp.path().string());
    Cutil util;
    Host host(util);
    util.SetLogLevel(30);
    util.Log(Cutil::kTypeError, 30, u"broken");
    util.Log(Cutil::kTypeInformation, 40, u"dropped");
    ASSERT_EQ(host.events.size(), 1u);
    EXPECT_EQ(host.events[0].code, 1u);
    EXPECT_EQ(host.events[0].text, u"broken");
    EXPECT_EQ(host.events[0].value, 3u);
    EXPECT_FALSE(fs::exists(temp.path() / "cutil.txt"));
}

TEST(CutilWrite, Writebin2ReplacesExtendsAndCutsFiles)
{
    TempDir temp;
    const fs::path file = temp.path() / "f";
    WriteAll(file, "a much longer old content");
    Cutil util;
    uint32_t error = 99, step = 99;
    EXPECT_EQ(util.writebin2(temp.file("f").c_str(), 0, "0123456789", 10, &error, &step), 1u);
    EXPECT_EQ(ReadAt(file), "0123456789");
    EXPECT_EQ(error + step, 0u);
    EXPECT_EQ(util.writebin2(temp.file("f").c_str(), 4, "ab", 2, &error, &step), 1u);
    EXPECT_EQ(ReadAt(file), "0123ab");
    EXPECT_EQ(util.writebin2(temp.file("f").c_str(), 8, "cd", 2, &error, &step), 1u);
    EXPECT_EQ(ReadAt(file), std::string("0123ab\0\0cd", 10));

    EXPECT_EQ(util.writebin2(temp.file("missing").c_str(), 10, "x", 1, &error, &step), 0u);
    EXPECT_EQ(error, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(step, Cutil::kStepOpen);
}

TEST(CutilWrite, WritesAndCutsPastFourGiBInASparseFile)
{
    TempDir temp;
    const fs::path file = temp.path() / "sparse";
    const std::u16string path = temp.file("sparse");
    Cutil util;
    uint32_t error = 0, step = 0;
    ASSERT_EQ(util.writebin2(path.c_str(), 0, "head", 4, &error, &step), 1u);
    const uint64_t far = 5 * kFourGiB / 4 + 3;
    ASSERT_EQ(util.writebin2(path.c_str(), far, "tail", 4, &error, &step), 1u);
    EXPECT_EQ(fs::file_size(file), far + 4);
    EXPECT_EQ(ReadAt(file, far - 1), std::string("\0tail", 5));
    // A position whose low word is all ones is an ordinary position.
    ASSERT_EQ(util.writebin2(path.c_str(), kFourGiB - 1, "mid", 3, &error, &step), 1u);
    EXPECT_EQ(fs::file_size(file), kFourGiB + 2);
    EXPECT_EQ(ReadAt(file, kFourGiB - 2), std::string("\0mid", 4));
    EXPECT_EQ(ReadAt(file, 0, 4), "head");

    EXPECT_EQ(util.SetHugeEOF(path.c_str(), 2 * kFourGiB + 5), 1u);
    EXPECT_EQ(fs::file_size(file), 2 * kFourGiB + 5);
    EXPECT_EQ(util.SetHugeEOF(path.c_str(), 3), 1u);
    EXPECT_EQ(ReadAt(file), "hea");
}

TEST(CutilFileCrc, ReportsTheSizeAndEveryBlockAndMatchesZlib)
{
    TempDir temp;
    std::string data(5 * 0x100000 / 2, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 2654435761u >> 13);
    WriteAll(temp.path() / "f", data);
    WriteAll(temp.path() / "empty", "");
    Cutil util;
    Host host(util);
    uint32_t crc = 0, error = 99, step = 99;
    EXPECT_EQ(util.GetCrc32Disk(temp.file("f").c_str(), &crc, 0, &error, &step, 1, 1), 1u);
    EXPECT_EQ(crc, crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
    EXPECT_EQ(error + step, 0u);
    EXPECT_EQ(host.Values(Cutil::kCodeSetDataSize), std::vector<uint64_t>{data.size()});
    EXPECT_EQ(host.Values(Cutil::kCodeData), (std::vector<uint64_t>{0x100000, 0x100000, 0x80000}));

    host.events.clear();
    EXPECT_EQ(util.GetCrc32Disk(temp.file("empty").c_str(), &crc, 0, &error, &step, 1, 1), 1u);
    EXPECT_EQ(crc, 0u);
    EXPECT_EQ(host.Values(Cutil::kCodeSetDataSize), std::vector<uint64_t>{0});
    EXPECT_EQ(host.events.size(), 1u);
}

TEST(CutilFileCrc, TheHostCancelsAfterTheFirstBlock)
{
    TempDir temp;
    WriteAll(temp.path() / "f", std::string(3 * 0x100000, 'z'));
    Cutil util;
    Host host(util);
    host.answerToData = 1;
    util.SetLogLevel(30);
    uint32_t crc = 0, error = 0, step = 0;
    EXPECT_EQ(util.GetCrc32Disk(temp.file("f").c_str(), &crc, 0, &error, &step, 1, 1), 0u);
    EXPECT_EQ(error, 1235u);
    EXPECT_EQ(host.Values(Cutil::kCodeData).size(), 1u);
    ASSERT_EQ(host.events.back().code, Cutil::kCodeLog);
    EXPECT_EQ(host.events.back().text,
              u"Cutil::GetCrc32Disk callback CONTROL_PROCESS_DATA returned (1)");
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
    Host host(util);
    uint32_t crc = 0, error = 0, step = 0;
    EXPECT_EQ(util.GetCrc32Disk(temp.file("big").c_str(), &crc, 0, &error, &step, 1, 1), 1u);
    EXPECT_EQ(crc, expected);
    EXPECT_EQ(host.Values(Cutil::kCodeSetDataSize), std::vector<uint64_t>{kFourGiB - 1});
    EXPECT_EQ(host.Values(Cutil::kCodeData).size(), 4096u);
}

TEST(CutilDirectories, CreatesTheFoldersThatHoldAFile)
{
    TempDir temp;
    ScopedEnv drive("KELVANE_DRIVE_C", temp.path().string());
    EXPECT_EQ(Cutil::CreateDirectoryTree(u"C:\\a\\b\\f.txt"), 1u);
    EXPECT_TRUE(fs::is_directory(temp.path() / "a" / "b"));
    EXPECT_FALSE(fs::exists(temp.path() / "a" / "b" / "f.txt"));
    EXPECT_EQ(Cutil::CreateDirectoryTree(u"C:\\a\\c\\"), 1u);
    EXPECT_TRUE(fs::is_directory(temp.path() / "a" / "c"));
    // Nothing to create is no failure, however short the path.
    EXPECT_EQ(Cutil::CreateDirectoryTree(u"C:\\"), 1u);
    EXPECT_EQ(Cutil::CreateDirectoryTree(u"abc"), 1u);
    EXPECT_EQ(Cutil::CreateDirectoryTree(u"/ab"), 1u);
    EXPECT_EQ(Cutil::CreateDirectoryTree(u"kelvane-no-separator"), 1u);
    EXPECT_FALSE(fs::exists("kelvane-no-separator"));
    // Hosts on this system pass POSIX paths.
    EXPECT_EQ(Cutil::CreateDirectoryTree(temp.file("p/q/r").c_str()), 1u);
    EXPECT_TRUE(fs::is_directory(temp.path() / "p" / "q"));

    WriteAll(temp.path() / "file", "");
    testing::internal::CaptureStdout();
    EXPECT_EQ(Cutil::CreateDirectoryTree(u"C:\\file\\sub\\x"), 0u);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "CreateDirectory error win32error 3 on C:\\file\\sub\\\n");
}

TEST(CutilFileTime, SetsTheInstantWhateverTheTimeZone)
{
    TempDir temp;
    ScopedTimeZone zone("America/New_York");
    WriteAll(temp.path() / "f", "x");
    EXPECT_EQ(Cutil::SetFileTime(temp.file("f").c_str(), 1234567890), 1u);
    EXPECT_EQ(Cutil::SetFileTime(temp.file("f").c_str(), 0), 1u);
    struct stat status {};
    ASSERT_EQ(stat((temp.path() / "f").c_str(), &status), 0);
    EXPECT_EQ(status.st_mtime, 1234567890);
    EXPECT_EQ(status.st_atime, 1234567890);
}

TEST(CutilMemory, PagesComeZeroedAndZeroBytesFail)
{
    Cutil util;
    EXPECT_EQ(util.AllocateMemory(0), nullptr);
    auto* pages = static_cast<uint8_t*>(util.AllocateMemory(10000));
    ASSERT_NE(pages, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(pages, pages + 10000), std::vector<uint8_t>(10000, 0));
    Cutil::FreePacket(pages);
    Cutil::FreePacket(nullptr);
}

TEST(CutilDirectories, EmptyPathIsReadNoFurtherThanItsEnd)
{
    // A path held in a buffer of just its terminator: nothing past it may be read.
    auto empty = std::make_unique<WCHAR[]>(1);
    EXPECT_EQ(Cutil::CreateDirectoryTree(empty.get()), 1u);
}
