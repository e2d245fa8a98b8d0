#include "restore/LeftoverSweep.h"

#include <mutex>
#include <set>
#include <string_view>

#include "platform/abandonedfiles.h"
#include "platform/module.h"

namespace {

// The decimal number that text holds in full (at most ten digits), or none.
bool ReadNumber(std::u16string_view text, uint64_t* number)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of(u"0123456789") != text.npos)
        return false;
    *number = 0;
    for (char16_t digit : text)
        *number = *number * 10 + static_cast<uint64_t>(digit - u'0');
    return true;
}

// The process id in a transfer file's name, or 0 when the name is not one.
DWORD ProcessOfTransferName(std::u16string_view name)
{
    const size_t mark = name.rfind(kTransferNameMark);
    if (mark == name.npos || !name.ends_with(kTransferNameEnd))
        return 0;
    name.remove_suffix(std::char_traits<char16_t>::length(kTransferNameEnd));
    name.remove_prefix(mark + std::char_traits<char16_t>::length(kTransferNameMark));
    const size_t dash = name.find(u'-');
    uint64_t process = 0;
    uint64_t number = 0;
    if (dash == name.npos || !ReadNumber(name.substr(0, dash), &process) ||
        !ReadNumber(name.substr(dash + 1), &number) || process > 0xFFFFFFFFu)
        return 0;
    return static_cast<DWORD>(process);
}

// Whether name is that of a transfer file whose process no longer runs here. A process of
// another PID namespace or machine may still be writing it: its lock tells (RemoveLeftovers).
bool IsTransferNameOfEndedProcess(const std::u16string& name)
{
    const DWORD process = ProcessOfTransferName(name);
    return process != 0 && process != GetCurrentProcessId() && !ProcessIsRunning(process);
}

// The folders this process has already cleared of leftovers.
std::mutex g_clearedLock;
std::set<std::u16string> g_clearedFolders;

}  // namespace

// Removes the named transfer files that processes which no longer run left in folder: a
// crash between naming a file and its rename, on a file system without unnamed files, or of
// an older version of the system. Only what is provably such a file goes: the entry itself,
// a regular file of this user that no writer holds locked, as every transfer file is while
// it is written. The test of the name's process keeps an older version's running transfer,
// which was not locked, on this machine. A user's file may have such a name too: the one a
// restore is for is kept. Once per folder and process: the folder is read whole, and a host
// may restore many files into one folder.
void RemoveLeftovers(const std::u16string& folder, const std::u16string& kept)
{
    {
        std::lock_guard<std::mutex> lock(g_clearedLock);
        if (!g_clearedFolders.insert(folder).second)
            return;
    }
    DeleteAbandonedFilesW(folder.c_str(), [&kept](const std::u16string& name) {
        return name != kept && IsTransferNameOfEndedProcess(name);
    });
}
