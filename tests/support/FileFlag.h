// The flags that a file system keeps for a file or a folder beside its mode (chattr).
#pragma once

#include <filesystem>

// Sets (on) or clears one of the file's flags (FS_APPEND_FL, FS_IMMUTABLE_FL, ...); false where
// the file system keeps none, or the process may not change them.
bool SetFileFlag(const std::filesystem::path& path, int flag, bool on);
