// The whole content of a file in a test, written or read as bytes.
#pragma once

#include <filesystem>
#include <string>

void WriteText(const std::filesystem::path& path, const std::string& text);
// Empty for a file that cannot be read.
std::string ReadText(const std::filesystem::path& path);
