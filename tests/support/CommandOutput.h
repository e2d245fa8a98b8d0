// What a shell command writes on its standard output.
#pragma once

#include <string>

// Runs the command through the shell and reads its output to the end; empty when the command
// could not be started.
std::string CommandOutput(const std::string& command);
