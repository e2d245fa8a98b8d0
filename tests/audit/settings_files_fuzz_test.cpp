// Settings files from disk (the trace log's INI file and the registry file) with garbage
// between their real lines: random bytes, lines of 100 KB, a UTF-16 file
// of odd length. Garbage never becomes a section or a value and never disturbs the real ones,
// and a value is handed out only into a buffer that holds it.
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "audit/Hostile.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "qvlib/CQVIni.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

namespace {

// A line that is neither a section, a comment nor a key: bytes without a line feed, an equals
// sign or a NUL, not starting with '[', ';' or '#'.
std::string GarbageLine(Mutator& random)
{
    const uint32_t length = random.Below(10) == 0 ? 100000 : random.Below(60);
    std::string line;
    for (uint32_t i = 0; i < length; ++i) {
        char byte = static_cast<char>(1 + random.Below(255));
        if (byte == '\n' || byte == '=' || byte == '\r')
            byte = '~';
        line += byte;
    }
    if (!line.empty() && (line[0] == ';' || line[0] == '#' || line[0] == '['))
        line[0] = '~';
    return line;
}

void Write(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), static_cast<long>(bytes.size()));
}

using Settings = std::map<std::string, std::map<std::string, std::string>>;

// The settings as INI lines, with garbage lines around every real one.
std::string WithGarbage(Mutator& random, const Settings& settings)
{
    std::string text;
    for (const auto& [section, values] : settings) {
        text += GarbageLine(random) + "\n[" + section + "]\n";
        for (const auto& [key, value] : values)
            text += GarbageLine(random) + "\n" + key + "=" + value + "\r\n";
    }
    return text + GarbageLine(random);
}

Settings RandomSettings(Mutator& random)
{
    Settings settings;
    for (uint32_t section = 0; section < 1 + random.Below(3); ++section) {
        auto& values = settings["Section" + std::to_string(section)];
        for (uint32_t key = 0; key < 1 + random.Below(4); ++key)
            values["key" + std::to_string(key)] = std::to_string(random.Word());
    }
    return settings;
}

}  // namespace

TEST(SettingsFilesFuzz, GarbageLinesInAnIniFileNeverBecomeSettingsNorHideTheRealOnes)
{
    TempDir dir;
    const std::filesystem::path path = dir.path() / "QV_LOG.INI";
    Mutator random(701);
    for (uint32_t round = 0; round < 40; ++round) {
        const Settings settings = RandomSettings(random);
        Write(path, WithGarbage(random, settings));
        SCOPED_TRACE(round);
        CQVIni ini;
        ASSERT_EQ(ini.Load(Utf8ToUtf16(path.string()).c_str()), 1u);
        EXPECT_EQ(ini.size(), settings.size());
        for (const auto& [section, values] : settings) {
            const std::u16string name = Utf8ToUtf16(section);
            for (const auto& [key, value] : values) {
                std::u16string found;
                ASSERT_EQ(ini.GetString(name.c_str(), Utf8ToUtf16(key).c_str(), found), 1u);
                EXPECT_EQ(found, Utf8ToUtf16(value));
            }
            EXPECT_EQ(ini.FindSection(name.c_str())->size(), values.size());
        }
    }
}

TEST(SettingsFilesFuzz, AUtf16IniFileOfOddLengthDropsOnlyItsLastByte)
{
    TempDir dir;
    const std::filesystem::path path = dir.path() / "QV_LOG.INI";
    const std::u16string text = u"[log]\r\nloglevel=63\r\npath=x";
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    Write(path, bytes + "y");
    CQVIni ini;
    ASSERT_EQ(ini.Load(Utf8ToUtf16(path.string()).c_str()), 1u);
    int32_t level = 0;
    EXPECT_EQ(ini.GetInt(u"log", u"loglevel", &level), 1u);
    EXPECT_EQ(level, 63);
    std::u16string value;
    EXPECT_EQ(ini.GetString(u"log", u"path", value), 1u);
    EXPECT_EQ(value, u"x");
}

TEST(SettingsFilesFuzz, GarbageInTheRegistryFileLeavesTheRealValueAndBuffersHoldOnlyWhatFits)
{
    TempDir dir;
    const std::filesystem::path path = dir.path() / "registry.ini";
    ScopedEnv registry("KELVANE_REGISTRY", path.string());
    Mutator random(702);
    for (uint32_t round = 0; round < 40; ++round) {
        const std::string value(random.Below(1500), static_cast<char>('a' + random.Below(26)));
        Settings settings = RandomSettings(random);
        settings["HKEY_LOCAL_MACHINE\\Software\\Brightfen\\Halcyra"]["DataPath"] = value;
        Write(path, WithGarbage(random, settings));
        SCOPED_TRACE(round);
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Brightfen\\Halcyra", 0, KEY_READ,
                                &key),
                  ERROR_SUCCESS);
        const DWORD needed = static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR));
        // One byte short, then exactly the size: the buffers are heap blocks of that size.
        DWORD size = needed - 1;
        auto small = std::make_unique<BYTE[]>(size);
        std::fill(small.get(), small.get() + size, BYTE{0x23});
        EXPECT_EQ(RegQueryValueExW(key, u"DataPath", nullptr, nullptr, small.get(), &size),
                  ERROR_MORE_DATA);
        EXPECT_EQ(size, needed);
        EXPECT_TRUE(std::all_of(small.get(), small.get() + needed - 1,
                                [](BYTE byte) { return byte == 0x23; }));
        auto exact = std::make_unique<WCHAR[]>(value.size() + 1);
        size = needed;
        ASSERT_EQ(RegQueryValueExW(key, u"DataPath", nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(exact.get()), &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(std::u16string(exact.get()), Utf8ToUtf16(value));
        RegCloseKey(key);
    }
}
