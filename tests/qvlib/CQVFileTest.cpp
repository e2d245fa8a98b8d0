#include <string>

#include <gtest/gtest.h>

#include "LogFixture.h"
#include "platform/error.h"
#include "platform/file.h"
#include "qvlib/CQVTextFile.h"
#include "support/TempDir.h"

namespace {

void ExpectCode(const CQVFile& file, uint32_t code)
{
    EXPECT_EQ(file.GetError().GetCode(), code);
    EXPECT_EQ(GetLastError(), code);
}

TEST(QVFile, SetPathChecksPresenceAndLength)
{
    CQVFile file;
    EXPECT_EQ(file.SetPath(nullptr), 0u);
    ExpectCode(file, ERROR_BAD_ARGUMENTS);
    EXPECT_EQ(file.SetPath(u""), 0u);
    ExpectCode(file, ERROR_INVALID_NAME);
    const std::u16string longest(CQVFile::kMaxPathLength, u'a');
    EXPECT_EQ(file.SetPath((longest + u"a").c_str()), 0u);
    ExpectCode(file, ERROR_INVALID_NAME);
    EXPECT_EQ(file.SetPath(longest.c_str()), 1u);
    ExpectCode(file, ERROR_SUCCESS);
    EXPECT_EQ(file.GetPath(), longest);
}

TEST(QVFile, RefusesEveryOperationBeforeItIsOpened)
{
    CQVTextFile file;
    char buffer[4] = {};
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    ExpectCode(file, ERROR_INVALID_TARGET_HANDLE);
    SetLastError(0);
    EXPECT_EQ(file.Append(buffer, sizeof buffer, nullptr), 0u);
    ExpectCode(file, ERROR_INVALID_TARGET_HANDLE);
    int64_t offset = 0;
    EXPECT_EQ(file.Seek(&offset, FILE_BEGIN), 0u);
    ExpectCode(file, ERROR_INVALID_TARGET_HANDLE);
    EXPECT_EQ(file.Close(), 0u);
    ExpectCode(file, ERROR_INVALID_HANDLE);
    EXPECT_EQ(file.Write(u"abc", 6), 0u);
    ExpectCode(file, ERROR_INVALID_TARGET_HANDLE);
}

TEST(QVFile, OpenForAppendStartsANewFileWithTheMark)
{
    TempDir folder;
    CQVTextFile file;
    ASSERT_EQ(file.SetPath(folder.file("new.txt").c_str()), 1u);
    EXPECT_EQ(file.Exists(), 0u);
    ASSERT_EQ(file.OpenForAppend(), 1u);
    EXPECT_TRUE(file.IsUnicode());
    EXPECT_EQ(ReadFileBytes(folder.path() / "new.txt"), std::string("\xFF\xFE"));
    EXPECT_EQ(file.Write(u"", 0), 1u);
    EXPECT_EQ(file.Write(u"abc", 6), 1u);
    ExpectCode(file, ERROR_SUCCESS);
    EXPECT_EQ(file.GetSize(), 8u);
    EXPECT_EQ(file.Close(), 1u);
    ExpectCode(file, ERROR_SUCCESS);
    EXPECT_EQ(file.Exists(), 1u);
    EXPECT_EQ(ReadFileBytes(folder.path() / "new.txt"),
              std::string("\xFF\xFE" "a\0b\0c\0", 8));
}

TEST(QVFile, ReadBomKeepsTheMarkReadOrGoesBackToTheStart)
{
    TempDir folder;
    WriteFileBytes(folder.path() / "marked.txt", std::string("\xFF\xFE" "x\0", 4));
    WriteFileBytes(folder.path() / "plain.txt", "xy");
    WriteFileBytes(folder.path() / "empty.txt", "");

    CQVTextFile file;
    file.SetPath(folder.file("marked.txt").c_str());
    ASSERT_EQ(file.Open(GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL), 1u);
    EXPECT_EQ(file.ReadBom(), 1u);
    EXPECT_TRUE(file.IsUnicode());
    int64_t position = 0;
    ASSERT_EQ(file.Seek(&position, FILE_CURRENT), 1u);
    EXPECT_EQ(position, 2);

    for (const char* name : {"plain.txt", "empty.txt"}) {
        file.SetPath(folder.file(name).c_str());
        ASSERT_EQ(file.Open(GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL), 1u) << name;
        EXPECT_EQ(file.ReadBom(), 1u);
        EXPECT_FALSE(file.IsUnicode()) << name;
        position = 0;
        ASSERT_EQ(file.Seek(&position, FILE_CURRENT), 1u);
        EXPECT_EQ(position, 0) << name;
    }
    file.Close();
}

TEST(QVFile, ReportsTheFailuresOfThePlatform)
{
    TempDir folder;
    CQVFile file;
    file.SetPath(folder.file("absent/file.txt").c_str());
    EXPECT_EQ(file.Open(GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL), 0u);
    ExpectCode(file, ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(file.GetSize(), ~uint64_t{0});

    WriteFileBytes(folder.path() / "data.bin", "12345");
    file.SetPath(folder.file("data.bin").c_str());
    EXPECT_EQ(file.GetSize(), 5u);
    ExpectCode(file, ERROR_SUCCESS);
    ASSERT_EQ(file.Open(GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL), 1u);
    EXPECT_EQ(file.Read(nullptr, 2), 0u);
    ExpectCode(file, ERROR_BUFFER_OVERFLOW);
    char buffer[2] = {};
    EXPECT_EQ(file.Read(buffer, 2), 1u);
    EXPECT_EQ(std::string(buffer, 2), "12");
    EXPECT_EQ(file.Append("6", 1, nullptr), 0u);
    EXPECT_EQ(file.GetError().GetCode(), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    file.Close();
}

}  // namespace
