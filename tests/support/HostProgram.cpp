#include "support/HostProgram.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/text.h"
#include "support/CommandOutput.h"
#include "support/KelvaneLibrary.h"

HostProgram::HostProgram(std::filesystem::path folder) : m_folder(std::move(folder))
{
    std::ofstream settings(m_folder / "QV_LOG.INI");
    settings << "[log]\npath=" << (m_folder / "trace").string() << "\nnotimestamp=1\n";
}

std::string HostProgram::ProgramPath()
{
    const char* binaries = std::getenv("KELVANE_TEST_BINARY_DIR");
    return std::string(binaries != nullptr ? binaries : ".") + "/tools/kelvane-host";
}

std::string HostProgram::Run(const std::string& steps) const
{
    return CommandOutput("cd '" + m_folder.string() + "' && '" + ProgramPath() + "' --library '" +
                         KelvaneLibrary::Path() + "' " + steps + " 2>&1");
}

std::vector<std::string> HostProgram::TraceLines() const
{
    std::ifstream file(m_folder / "trace.log", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // UTF-16LE after its byte-order mark.
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    std::string utf8 = Utf16ToUtf8(text);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = utf8.find("\r\n"); end != std::string::npos;
         start = end + 2, end = utf8.find("\r\n", start)) {
        std::string line = utf8.substr(start, end - start);
        lines.push_back(line.size() >= 11 && line[0] == '[' ? line.substr(11) : line);
    }
    return lines;
}

testing::AssertionResult HasInOrder(const std::vector<std::string>& lines,
                                    const std::vector<std::string>& expected)
{
    size_t found = 0;
    for (const std::string& line : lines) {
        if (found < expected.size() && line.rfind(expected[found], 0) == 0)
            ++found;
    }
    if (found == expected.size())
        return testing::AssertionSuccess();
    std::string all;
    for (const std::string& line : lines)
        all += line + "\n";
    return testing::AssertionFailure() << "missing \"" << expected[found] << "\" in:\n" << all;
}

size_t CountContaining(const std::vector<std::string>& lines, const std::string& text)
{
    size_t count = 0;
    for (const std::string& line : lines)
        count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
}

std::string ErrorAt(const std::string& function, int line)
{
    return "# #Error:   in File: Kelvane Function: " + function + " at line: " +
           std::to_string(line);
}
