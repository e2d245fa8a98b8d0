// The names of transfer files, and the removal of those that ended processes left behind.
#pragma once

#include <string>

// Names of transfer files: "<stem>.kelvane-<process id>-<number>.tmp".
constexpr char16_t kTransferNameMark[] = u".kelvane-";
constexpr char16_t kTransferNameEnd[] = u".tmp";

// Removes from folder (given with its trailing separator) the named transfer files that
// processes which no longer run left there, once per folder and process: only regular files
// of this user that no running transfer holds locked (DeleteAbandonedFilesW), and never the
// one named kept (a file a restore is about to write, whatever its name).
void RemoveLeftovers(const std::u16string& folder, const std::u16string& kept);
