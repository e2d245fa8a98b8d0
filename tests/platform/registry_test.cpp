#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

constexpr const WCHAR* kKey = u"Software\\Brightfen\\Halcyra";

class Registry : public ::testing::Test {
protected:
    void Write(const std::string& content)
    {
        std::ofstream(dir.path() / "registry.ini", std::ios::binary) << content;
    }

    TempDir dir;
    ScopedEnv file{"KELVANE_REGISTRY", (dir.path() / "registry.ini").string()};
};

TEST_F(Registry, AMissingFileSectionOrValueIsNotFound)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    Write("[HKEY_LOCAL_MACHINE\\Software\\Other]\nDataPath=/x\n");
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    Write("[HKEY_LOCAL_MACHINE\\Software\\Brightfen\\Halcyra]\nOther=1\n");
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"DataPath", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, ValuesComeBackAsUtf16WithTheirTerminator)
{
    Write("\xEF\xBB\xBF; settings\r\n"
          "[hkey_local_machine\\SOFTWARE\\brightfen\\halcyra]\r\n"
          "  DataPath = /var/lib/k\xC3\xA9lvane \r\n"
          "Empty=\r\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExW(key, u"datapath", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    std::u16string expected = u"/var/lib/k\u00e9lvane";
    EXPECT_EQ(size, (expected.size() + 1) * 2);

    WCHAR buffer[64];
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExW(key, u"DATAPATH", nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, (expected.size() + 1) * 2);
    EXPECT_EQ(std::u16string(buffer), expected);

    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExW(key, u"Empty", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(buffer[0], 0);
    RegCloseKey(key);
}

TEST_F(Registry, ATooSmallBufferGetsMoreDataAndTheSizeNeeded)
{
    Write("[HKEY_LOCAL_MACHINE\\Software\\Brightfen\\Halcyra]\nDataPath=abcdef\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    WCHAR buffer[8] = {u'x'};
    DWORD size = 13;  // one byte short of six characters and the terminator
    EXPECT_EQ(RegQueryValueExW(key, u"DataPath", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 14u);
    EXPECT_EQ(buffer[0], u'x');
    size = 14;
    EXPECT_EQ(RegQueryValueExW(key, u"DataPath", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(buffer), u"abcdef");
    RegCloseKey(key);
}

TEST_F(Registry, TheFileIsReadWhenTheKeyOpens)
{
    Write("[HKEY_LOCAL_MACHINE\\Software\\Brightfen\\Halcyra]\nDataPath=first\n");
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    Write("[HKEY_LOCAL_MACHINE\\Software\\Brightfen\\Halcyra]\nDataPath=second\n");
    WCHAR buffer[16];
    DWORD size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExW(key, u"DataPath", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(buffer), u"first");
    RegCloseKey(key);
}

TEST_F(Registry, SubkeysOfAnOpenKeyAndStaleHandles)
{
    Write("[HKEY_LOCAL_MACHINE\\Software]\n[HKEY_LOCAL_MACHINE\\Software\\Brightfen\\Halcyra]\n"
          "A=1\n");
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, KEY_READ, &software),
              ERROR_SUCCESS);
    HKEY product = nullptr;
    ASSERT_EQ(RegOpenKeyExW(software, u"Brightfen\\Halcyra", 0, KEY_READ, &product),
              ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(product, u"A", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(RegCloseKey(product), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(product), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(product, u"A", nullptr, nullptr, nullptr, &size),
              ERROR_INVALID_HANDLE);
    RegCloseKey(software);
}

}  // namespace
