#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/text.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

std::string Native(const std::u16string& path)
{
    std::string native;
    EXPECT_TRUE(NativePath(path.c_str(), &native)) << Utf16ToUtf8(path);
    return native;
}

TEST(Paths, DriveLettersMapToTheirFolderWithEitherSeparator)
{
    ScopedEnv drive("KELVANE_DRIVE_Q", "/srv/q/");
    EXPECT_EQ(Native(u"Q:\\a\\b.txt"), "/srv/q/a/b.txt");
    EXPECT_EQ(Native(u"q:/a\\b.txt"), "/srv/q/a/b.txt");
    EXPECT_EQ(Native(u"Q:\\"), "/srv/q/");
    EXPECT_EQ(Native(u"Q:"), "/srv/q/");
    EXPECT_EQ(Native(u"\\var\\log\\x"), "/var/log/x");
    EXPECT_EQ(Native(u"relative\\name"), "relative/name");
    EXPECT_EQ(Native(u"/tmp//cutil.txt"), "/tmp//cutil.txt");
}

TEST(Paths, ARootDriveKeepsASingleSlash)
{
    ScopedEnv drive("KELVANE_DRIVE_R", "/");
    EXPECT_EQ(Native(u"R:\\etc\\x"), "/etc/x");
}

TEST(Paths, TextIsConvertedToUtf8)
{
    EXPECT_EQ(Native(u"/tmp/\u00e9t\u00e9\U0001F600"), "/tmp/\xC3\xA9t\xC3\xA9\xF0\x9F\x98\x80");
}

TEST(Paths, AnUnmappedDriveIsAMissingPath)
{
    unsetenv("KELVANE_DRIVE_Z");
    std::string native = "unchanged";
    EXPECT_FALSE(NativePath(u"Z:\\a\\b.txt", &native));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(CreateFileW(u"Z:\\a.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    ScopedEnv empty("KELVANE_DRIVE_Z", "");
    EXPECT_FALSE(NativePath(u"z:\\a", &native));
}

TEST(Paths, FileCallsWorkThroughAMappedDrive)
{
    TempDir dir;
    ScopedEnv drive("KELVANE_DRIVE_Q", dir.path().string());
    ASSERT_TRUE(CreateDirectoryW(u"Q:\\a", nullptr));
    HANDLE h = CreateFileW(u"q:/a\\b.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written;
    ASSERT_TRUE(WriteFile(h, "hi", 2, &written, nullptr));
    CloseHandle(h);
    std::ifstream in(dir.path() / "a" / "b.txt");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "hi");
    EXPECT_EQ(GetFileAttributesW(u"Q:\\a"), FILE_ATTRIBUTE_DIRECTORY);
}

TEST(Paths, ExecutableAndModuleAreAbsoluteFiles)
{
    std::u16string host = HostExecutablePath();
    ASSERT_FALSE(host.empty());
    EXPECT_EQ(host[0], u'/');
    EXPECT_NE(host.find(u"test_platform"), std::u16string::npos);
    // This code is linked into the test program, so the module is that program.
    EXPECT_EQ(ModulePath(), host);
}

}  // namespace
