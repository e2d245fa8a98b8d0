#include <string>

#include <gtest/gtest.h>

#include "LogFixture.h"
#include "platform/text.h"
#include "qvlib/CQVIni.h"
#include "support/TempDir.h"

namespace {

std::string Utf16File(const std::u16string& text)
{
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes;
}

class IniFile : public ::testing::Test {
protected:
    // Loads the bytes as the file's content; 1 when loaded.
    uint32_t Load(const std::string& bytes)
    {
        WriteFileBytes(m_folder.path() / "settings.ini", bytes);
        return m_ini.Load(m_folder.file("settings.ini").c_str());
    }

    std::u16string Get(const char16_t* section, const char16_t* key)
    {
        std::u16string value = u"<missing>";
        m_ini.GetString(section, key, value);
        return value;
    }

    TempDir m_folder;
    CQVIni m_ini;
};

TEST_F(IniFile, ReadsUtf16WithMarkAndEightBitTextAlike)
{
    int32_t size = 0;
    ASSERT_EQ(Load(Utf16File(u"[log]\r\nMaxFileSize=20\r\n")), 1u);
    EXPECT_EQ(m_ini.GetInt(u"log", u"MaxFileSize", &size), 1u);
    EXPECT_EQ(size, 20);

    size = 0;
    ASSERT_EQ(Load("[log]\r\nMaxFileSize=20\r\n"), 1u);
    EXPECT_EQ(m_ini.GetInt(u"log", u"MaxFileSize", &size), 1u);
    EXPECT_EQ(size, 20);
}

TEST_F(IniFile, FoldsTheCaseOfSectionsAndKeys)
{
    ASSERT_EQ(Load("[LOG]\nMaxFileSize=20\n[Log]\nflush=1\n"), 1u);
    EXPECT_EQ(m_ini.size(), 1u);
    EXPECT_EQ(m_ini.SectionExists(u"log"), 1u);
    EXPECT_EQ(Get(u"log", u"maxfilesize"), u"20");
    EXPECT_EQ(Get(u"lOG", u"MAXFILESIZE"), u"20");
    EXPECT_EQ(Get(u"log", u"FLUSH"), u"1");
    EXPECT_EQ(m_ini.FindSection(u"log")->GetName(), u"LOG");
}

TEST_F(IniFile, KeepsKeysAndValuesAsWritten)
{
    ASSERT_EQ(Load("[s]\nkey = value\na=b=c\n=empty\nnoequals\n"), 1u);
    EXPECT_EQ(Get(u"s", u"key"), u"<missing>");
    EXPECT_EQ(Get(u"s", u"key "), u" value");
    EXPECT_EQ(Get(u"s", u"a"), u"b=c");
    EXPECT_EQ(Get(u"s", u""), u"empty");
    EXPECT_EQ(m_ini.FindSection(u"s")->size(), 3u);
}

TEST_F(IniFile, FirstKeyWinsAndRepeatedSectionsAreJoined)
{
    ASSERT_EQ(Load("[s]\nKey=first\n[t]\nx=1\n[S]\nKEY=second\nother=2\n"), 1u);
    EXPECT_EQ(Get(u"s", u"key"), u"first");
    EXPECT_EQ(Get(u"s", u"other"), u"2");
    EXPECT_EQ(m_ini.FindSection(u"s")->size(), 2u);
}

TEST_F(IniFile, StoresCommentsUnderTheirOwnKeyThatNoLookupFinds)
{
    ASSERT_EQ(Load("[s]\n; one\n# two\n;three=3\n"), 1u);
    const QVIniSection* section = m_ini.FindSection(u"s");
    ASSERT_NE(section, nullptr);
    ASSERT_EQ(section->size(), 3u);
    EXPECT_EQ((*section)[0].GetName(), u";");
    EXPECT_EQ((*section)[0].GetValue(), u" one");
    EXPECT_EQ((*section)[1].GetValue(), u" two");
    EXPECT_EQ(Get(u"s", u";"), u"<missing>");
    EXPECT_EQ(Get(u"s", u"three"), u"<missing>");
}

TEST_F(IniFile, DropsLinesBeforeTheFirstSectionUnlessAnEmptySectionCameFirst)
{
    ASSERT_EQ(Load("early=1\n[s]\nlate=2\n"), 1u);
    EXPECT_EQ(m_ini.SectionExists(u""), 0u);
    EXPECT_EQ(Get(u"s", u"early"), u"<missing>");

    ASSERT_EQ(Load("[]\nearly=1\n[s]\nlate=2\n"), 1u);
    EXPECT_EQ(Get(u"", u"early"), u"1");
    EXPECT_EQ(Get(u"s", u"late"), u"2");
}

TEST_F(IniFile, NumbersAndBooleansStoreOnlyWhatTheyCanRead)
{
    ASSERT_EQ(Load("[s]\nletters=abc\nmixed=12ab\nsigned= -5\nbig=99999999999\n"
                   "two=2\nzero=0\none=1\nword=true\n"),
              1u);
    int32_t number = 7;
    EXPECT_EQ(m_ini.GetInt(u"s", u"letters", &number), 1u);
    EXPECT_EQ(number, 7);
    EXPECT_EQ(m_ini.GetInt(u"s", u"mixed", &number), 1u);
    EXPECT_EQ(number, 12);
    EXPECT_EQ(m_ini.GetInt(u"s", u"signed", &number), 1u);
    EXPECT_EQ(number, -5);
    EXPECT_EQ(m_ini.GetInt(u"s", u"big", &number), 1u);
    EXPECT_EQ(number, 2147483647);
    EXPECT_EQ(m_ini.GetInt(u"s", u"absent", &number), 0u);
    EXPECT_EQ(m_ini.GetInt(u"s", u"mixed", nullptr), 0u);

    bool flag = true;
    EXPECT_EQ(m_ini.GetBool(u"s", u"two", &flag), 1u);
    EXPECT_TRUE(flag);
    EXPECT_EQ(m_ini.GetBool(u"s", u"zero", &flag), 1u);
    EXPECT_FALSE(flag);
    EXPECT_EQ(m_ini.GetBool(u"s", u"word", &flag), 1u);
    EXPECT_FALSE(flag);
    EXPECT_EQ(m_ini.GetBool(u"s", u"one", &flag), 1u);
    EXPECT_TRUE(flag);
}

TEST_F(IniFile, TakesAUtf8MarkAsTextOfTheFirstLine)
{
    ASSERT_EQ(Load("\xEF\xBB\xBF[log]\nlost=1\n[next]\nkept=2\n"), 1u);
    EXPECT_EQ(m_ini.SectionExists(u"log"), 0u);
    EXPECT_EQ(Get(u"next", u"kept"), u"2");
}

TEST_F(IniFile, TrimsWhiteSpaceAroundSectionLines)
{
    ASSERT_EQ(Load(" \t[log]  \t  \r\nflush=1\r\n"), 1u);
    EXPECT_EQ(Get(u"log", u"flush"), u"1");
}

TEST_F(IniFile, ReadsAFileOfCarriageReturnsAsOneLine)
{
    ASSERT_EQ(Load("[log]\rflush=1\r"), 1u);
    EXPECT_EQ(m_ini.SectionExists(u"log"), 0u);
    EXPECT_TRUE(m_ini.empty());
}

TEST_F(IniFile, MissingFileFailsAndEmptyFileLoadsNothing)
{
    EXPECT_EQ(m_ini.Load(m_folder.file("absent.ini").c_str()), 0u);
    ASSERT_EQ(Load(""), 1u);
    EXPECT_EQ(m_ini.SectionExists(u"log"), 0u);
    ASSERT_EQ(Load("["), 1u);
    EXPECT_TRUE(m_ini.empty());
}

TEST_F(IniFile, WidensEightBitBytesToTheSameCodeUnits)
{
    ASSERT_EQ(Load("[s]\nname=caf\xE9\n"), 1u);
    EXPECT_EQ(Get(u"s", u"name"), u"caf\u00E9");
}

TEST_F(IniFile, DecodesEachEightBitLineAsUtf8OnlyWhenThatLineIsValidUtf8)
{
    ASSERT_EQ(Load("[s]\nname=caf\xC3\xA9\nsign=\xE2\x82\xAC\n"), 1u);
    EXPECT_EQ(Get(u"s", u"name"), u"caf\u00E9");
    EXPECT_EQ(Get(u"s", u"sign"), u"\u20AC");

    // A byte that is no UTF-8 makes only its own line one character per byte.
    ASSERT_EQ(Load("[s]\n; caf\xE9 \xE0 la carte\r\n"
                   "name=caf\xC3\xA9\r\nother=\xE9\xC3\xA9\r\n"),
              1u);
    EXPECT_EQ(Get(u"s", u"name"), u"caf\u00E9");
    EXPECT_EQ(Get(u"s", u"other"), u"\u00E9\u00C3\u00A9");
}

TEST_F(IniFile, EndsTheTextAtTheFirstNul)
{
    ASSERT_EQ(Load(Utf16File(std::u16string(u"[s]\na=1\n\0b=2\n", 13))), 1u);
    EXPECT_EQ(Get(u"s", u"a"), u"1");
    EXPECT_EQ(Get(u"s", u"b"), u"<missing>");

    ASSERT_EQ(Load(std::string("[s]\na=1\n\0b=2\n", 13)), 1u);
    EXPECT_EQ(Get(u"s", u"a"), u"1");
    EXPECT_EQ(Get(u"s", u"b"), u"<missing>");
}

TEST_F(IniFile, LoadReplacesThePreviousContent)
{
    ASSERT_EQ(Load("[old]\na=1\n"), 1u);
    ASSERT_EQ(Load("[new]\nb=2\n"), 1u);
    EXPECT_EQ(m_ini.SectionExists(u"old"), 0u);
    EXPECT_EQ(Get(u"new", u"b"), u"2");
}

TEST(IniValue, RefusesNullTexts)
{
    QVIniValue value;
    EXPECT_EQ(value.SetName(nullptr), E_INVALIDARG);
    EXPECT_EQ(value.SetValue(nullptr), E_INVALIDARG);
    EXPECT_EQ(value.SetName(u"k"), 0);
    CQVIni ini;
    EXPECT_EQ(ini.AddSection(nullptr), 0u);
    EXPECT_EQ(ini.AddValue(u"none", u"k", u"v"), 0u);
}

}  // namespace
