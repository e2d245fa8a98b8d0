#include "platform/folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "platform/KernelObject.h"
#include "platform/error.h"
#include "platform/nativefile.h"
#include "platform/text.h"

namespace {

class FindObject : public KernelObject {
public:
    explicit FindObject(std::vector<WIN32_FIND_DATAW> entries) : m_entries(std::move(entries)) {}

    bool Next(WIN32_FIND_DATAW* data)
    {
        if (m_next >= m_entries.size())
            return false;
        *data = m_entries[m_next++];
        return true;
    }

private:
    std::vector<WIN32_FIND_DATAW> m_entries;
    size_t m_next = 0;
};

WCHAR FoldAscii(WCHAR c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<WCHAR>(c + (u'a' - u'A')) : c;
}

// Matches a name against a pattern of * (any run) and ? (one character), ignoring the case
// of ASCII letters as the Windows file system does; "*.*" matches every name.
bool MatchesPattern(const std::u16string& name, const std::u16string& pattern)
{
    if (pattern == u"*.*")
        return true;
    size_t n = 0;
    size_t p = 0;
    size_t starPattern = std::u16string::npos;
    size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == u'?' || FoldAscii(pattern[p]) == FoldAscii(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starPattern = p++;
            starName = n;
        } else if (starPattern != std::u16string::npos) {
            p = starPattern + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

bool FillFindData(int folder, const std::u16string& name, const char* native,
                  WIN32_FIND_DATAW* data)
{
    if (name.size() >= MAX_PATH)
        return false;  // cannot be named in the record; leave it out rather than cut it
    struct stat status;
    if (fstatat(folder, native, &status, 0) != 0 &&
        fstatat(folder, native, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    *data = WIN32_FIND_DATAW{};
    data->dwFileAttributes = AttributesFromStatus(status);
    data->ftCreationTime = FileTimeFromTimespec(status.st_mtim);
    data->ftLastAccessTime = FileTimeFromTimespec(status.st_atim);
    data->ftLastWriteTime = FileTimeFromTimespec(status.st_mtim);
    if (!S_ISDIR(status.st_mode)) {
        auto size = static_cast<uint64_t>(status.st_size);
        data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(size);
    }
    std::copy(name.begin(), name.end(), data->cFileName);
    data->cFileName[name.size()] = 0;
    return true;
}


}  // namespace

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data)
{
    std::string native;
    if (!ToNative(pattern, &native))
        return INVALID_HANDLE_VALUE;
    if (data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    size_t slash = native.rfind('/');
    std::string folder = slash == std::string::npos ? "." : native.substr(0, slash);
    if (slash == 0)
        folder = "/";
    std::u16string namePattern =
        Utf8ToUtf16(slash == std::string::npos ? native : native.substr(slash + 1));
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                          : Win32ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    std::vector<WIN32_FIND_DATAW> entries;
    if (!namePattern.empty()) {
        while (const dirent* entry = readdir(listing)) {
            std::u16string name = Utf8ToUtf16(entry->d_name);
            WIN32_FIND_DATAW found;
            if (MatchesPattern(name, namePattern) && FillFindData(dirfd(listing), name, entry->d_name, &found))
                entries.push_back(found);
        }
    }
    closedir(listing);
    if (entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::sort(entries.begin(), entries.end(),
              [](const WIN32_FIND_DATAW& a, const WIN32_FIND_DATAW& b) {
                  return std::u16string_view(a.cFileName) < std::u16string_view(b.cFileName);
              });
    auto search = std::make_shared<FindObject>(std::move(entries));
    search->Next(data);
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(std::move(search));
}

BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data)
{
    std::shared_ptr<FindObject> search = ReferenceHandle<FindObject>(find);
    if (search == nullptr)
        return FALSE;
    if (data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!search->Next(data)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

BOOL FindClose(HANDLE find)
{
    if (ReferenceHandle<FindObject>(find) == nullptr)
        return FALSE;
    return UnregisterHandle(find) ? TRUE : FALSE;
}
