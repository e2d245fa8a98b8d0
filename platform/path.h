// Windows-style paths on POSIX. Both separators split components; "X:\..." names drive X,
// whose root is the folder in $KELVANE_DRIVE_X; a path that starts with a separator is an
// absolute POSIX path.
#pragma once

#include <string>

#include "platform/types.h"

// Whether c separates path components: the backslash and the slash both do.
inline bool IsPathSeparator(WCHAR c)
{
    return c == u'\\' || c == u'/';
}

// The POSIX form of a path. Fails (false, last error ERROR_PATH_NOT_FOUND) for a drive that
// is not mapped.
bool NativePath(LPCWSTR path, std::string* native);

// The absolute path of the file that path names, every symbolic link resolved, the last
// component's included (GetFinalPathNameByHandleW for a file that need not exist): the
// folders must exist, the file itself not; a link to a missing file gives the name the link
// points to. FALSE with 3 when a folder is missing (or no folder), 206 for a name over the
// file system's limit, 5 for a folder that may not be searched, 1921 after more than 40
// links.
BOOL ResolveLinksW(LPCWSTR path, std::u16string* resolved);

// The executable of this process (/proc/self/exe) and the file (shared object or executable)
// holding this code.
std::u16string HostExecutablePath();
std::u16string ModulePath();
