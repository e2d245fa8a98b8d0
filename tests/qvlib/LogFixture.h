// A trace log built afresh for one test: its own folder as the current directory (so that
// "QV_LOG.INI" is found there), UTC as local time, and a clock the test moves by hand.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qvlib/CQVLog.h"
#include "support/TempDir.h"

// 2013-05-23 16:12:32 UTC, a Thursday.
constexpr int64_t kStartTime = 1369325552;

class LogFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes QV_LOG.INI into the test folder as 8-bit text.
    void WriteSettings(const std::string& text) const;
    // Rebuilds the log from the settings in the test folder.
    CQVLog& BuildLog();
    void SetTime(int64_t seconds);
    void AdvanceTime(int64_t seconds);

    std::filesystem::path Folder() const { return m_folder.path(); }
    // The log files of a folder, sorted by name.
    std::vector<std::filesystem::path> LogFiles(const std::filesystem::path& folder) const;

    TempDir m_folder;

private:
    std::filesystem::path m_previousDirectory;
};

// The lines of a UTF-16LE log file (after its mark) as UTF-8, split at "\r\n". Fails the test
// when the mark is missing.
std::vector<std::string> ReadLogLines(const std::filesystem::path& file);
std::string ReadFileBytes(const std::filesystem::path& file);
void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes);
// The line without its leading time prefix "[hh:mm:ss] "; unchanged when it has none.
std::string WithoutPrefix(const std::string& line);
