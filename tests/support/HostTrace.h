// The host program kelvane-host, run in a folder of its own whose "QV_LOG.INI" asks for a
// trace, and the trace it left there. The trace log is process-wide and reads its settings
// once, so a test that looks at trace lines runs the exports in a host process of their own.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/TempDir.h"

class HostTrace {
public:
    HostTrace();

    // Runs kelvane-host with these steps (and options) in the folder; gives what it printed.
    std::string Run(const std::string& steps);
    // The trace's lines as UTF-8, without their time prefix "[hh:mm:ss] ".
    std::vector<std::string> Lines() const;

private:
    TempDir m_folder;
};

// Whether lines starting with the expected texts come in this order (others may come between).
testing::AssertionResult HasInOrder(const std::vector<std::string>& lines,
                                    const std::vector<std::string>& expected);
size_t CountContaining(const std::vector<std::string>& lines, const std::string& text);
