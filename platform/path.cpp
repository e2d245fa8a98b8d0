#include "platform/path.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/error.h"
#include "platform/maps.h"
#include "platform/text.h"

namespace {

bool IsDriveLetter(WCHAR c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// The root folder of a drive letter, without a trailing separator (except for "/").
bool DriveRoot(WCHAR letter, std::string* root)
{
    char upper = static_cast<char>(letter >= u'a' ? letter - (u'a' - u'A') : letter);
    std::string variable = std::string("KELVANE_DRIVE_") + upper;
    const char* value = std::getenv(variable.c_str());
    if (value == nullptr || *value == 0)
        return false;
    *root = value;
    while (root->size() > 1 && root->back() == '/')
        root->pop_back();
    return true;
}

std::string ReadLink(const char* link)
{
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        ssize_t length = readlink(link, buffer.data(), buffer.size());
        if (length < 0)
            return std::string();
        if (static_cast<size_t>(length) < buffer.size())
            return std::string(buffer.data(), static_cast<size_t>(length));
        buffer.resize(buffer.size() * 2);
    }
}

// Sets the last error for a failed step of resolving a path: a missing folder, or a file
// where a folder should be, is a missing path.
BOOL FailResolving()
{
    SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                     : Win32ErrorFromErrno(errno));
    return FALSE;
}

// The folder of a POSIX path and its last component ("" after a trailing separator).
void SplitLast(const std::string& native, std::string* folder, std::string* name)
{
    const size_t slash = native.rfind('/');
    *folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : native.substr(0, slash));
    *name = slash == std::string::npos ? native : native.substr(slash + 1);
}

}  // namespace

bool NativePath(LPCWSTR path, std::string* native)
{
    std::u16string text = path == nullptr ? std::u16string() : std::u16string(path);
    std::string prefix;
    size_t start = 0;
    if (text.size() >= 2 && text[1] == u':' && IsDriveLetter(text[0])) {
        if (!DriveRoot(text[0], &prefix)) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return false;
        }
        start = 2;
        // "X:" and "X:name" are taken from the drive's root, there being no per-drive
        // current folder here.
        if (start == text.size() || !IsPathSeparator(text[start]))
            prefix += '/';
        else if (prefix == "/")
            prefix.clear();
    }
    std::u16string rest = text.substr(start);
    for (WCHAR& c : rest) {
        if (c == u'\\')
            c = u'/';
    }
    *native = prefix + Utf16ToUtf8(rest);
    return true;
}

std::u16string HostExecutablePath()
{
    return Utf8ToUtf16(ReadLink("/proc/self/exe"));
}

// The file that holds this function: dladdr names it; when that name is not absolute (the
// executable itself, or a library loaded by a relative path) the mapping list gives the
// full path of the same file.
std::u16string ModulePath()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ModulePath), &info) != 0 && info.dli_fname != nullptr &&
        info.dli_fname[0] == '/')
        return Utf8ToUtf16(info.dli_fname);
    auto self = reinterpret_cast<uintptr_t>(&ModulePath);
    for (const MappedRange& range : ReadProcessMaps()) {
        if (self >= range.begin && self < range.end && !range.path.empty() &&
            range.path[0] == '/')
            return Utf8ToUtf16(range.path);
    }
    return std::u16string();
}

BOOL ResolveLinksW(LPCWSTR path, std::u16string* resolved)
{
    constexpr int kMaximumLinks = 40;
    std::string native;
    if (!NativePath(path, &native))
        return FALSE;
    if (native.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    for (int links = 0;; ++links) {
        std::string folder;
        std::string name;
        SplitLast(native, &folder, &name);
        if (name.empty() || name == "." || name == "..") {
            folder = native;
            name.clear();
        }
        char* real = realpath(folder.c_str(), nullptr);
        if (real == nullptr)
            return FailResolving();
        const std::string realFolder = real;
        free(real);
        const std::string candidate =
            name.empty() ? realFolder : (realFolder == "/" ? "" : realFolder) + "/" + name;
        struct stat status;
        bool isLink = false;
        if (!name.empty()) {
            if (lstat(candidate.c_str(), &status) == 0)
                isLink = S_ISLNK(status.st_mode);
            else if (errno != ENOENT)
                return FailResolving();
        }
        if (!isLink) {
            *resolved = Utf8ToUtf16(candidate);
            return TRUE;
        }
        if (links == kMaximumLinks) {
            SetLastError(ERROR_CANT_RESOLVE_FILENAME);
            return FALSE;
        }
        // A link removed meanwhile reads as nothing: its name is looked at again.
        const std::string target = ReadLink(candidate.c_str());
        if (target.empty())
            native = candidate;
        else if (target[0] == '/')
            native = target;
        else
            native = realFolder + "/" + target;
    }
}
