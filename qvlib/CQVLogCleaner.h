// Removes the oldest log files of a folder so that a given number of each pattern remain.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CQVLogCleaner {
public:
    explicit CQVLogCleaner(uint32_t keepCount);
    ~CQVLogCleaner();

    // The folder of the files; a separator is added at its end.
    void SetFolder(const std::u16string& folder);
    // A wildcard pattern of file names inside the folder.
    void AddPattern(const std::u16string& pattern);
    // For each pattern, deletes the names that sort first (ordinal order) until the keep count
    // remain; failed deletions are ignored.
    void Run();

private:
    uint32_t m_keepCount;
    std::vector<std::u16string> m_patterns;
    std::u16string m_folder;
};
