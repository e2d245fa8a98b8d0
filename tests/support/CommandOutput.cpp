#include "support/CommandOutput.h"

#include <cstdio>
#include <memory>

std::string CommandOutput(const std::string& command)
{
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string output;
    char buffer[4096];
    size_t count = 0;
    while (pipe != nullptr && (count = std::fread(buffer, 1, sizeof(buffer), pipe.get())) > 0)
        output.append(buffer, count);
    return output;
}
