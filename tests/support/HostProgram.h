// The host program kelvane-host, run in a folder of its own that holds "QV_LOG.INI", so that
// the library writes its trace log there (the log reads its settings once per process); and
// the lines of that log.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

class HostProgram {
public:
    // Writes the settings into folder, which must exist.
    explicit HostProgram(std::filesystem::path folder);

    // Where the build put the program.
    static std::string ProgramPath();
    // Runs the program with these steps (shell words) in the folder; gives what it printed.
    std::string Run(const std::string& steps) const;
    // The trace log's lines as UTF-8, without their time prefix "[hh:mm:ss] ".
    std::vector<std::string> TraceLines() const;

private:
    std::filesystem::path m_folder;
};

// Whether lines starting with the expected texts come in this order (others may come between).
testing::AssertionResult HasInOrder(const std::vector<std::string>& lines,
                                    const std::vector<std::string>& expected);
size_t CountContaining(const std::vector<std::string>& lines, const std::string& text);
// The error line that an export called by the host writes at line of function.
std::string ErrorAt(const std::string& function, int line);
