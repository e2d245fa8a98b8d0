#include "platform/registry.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/text.h"

namespace {

constexpr const char* kDefaultRegistryFile = "/etc/kelvane/registry.ini";
constexpr const char* kRootName = "HKEY_LOCAL_MACHINE";

// An open key: its path and its values, read from the file when it was opened.
struct RegistryKey {
    std::string path;
    std::map<std::string, std::u16string> values;  // by value name folded to lower case
};

std::mutex g_lock;
std::unordered_map<HKEY, std::unique_ptr<RegistryKey>>& OpenKeys()
{
    static auto* keys = new std::unordered_map<HKEY, std::unique_ptr<RegistryKey>>();
    return *keys;
}

std::string FoldAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    }
    return text;
}

std::string Trim(const std::string& text)
{
    size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// Reads the whole registry file; the error is a Win32 code, 0 on success.
LSTATUS ReadRegistryFile(std::string* content)
{
    const char* name = std::getenv("KELVANE_REGISTRY");
    if (name == nullptr || *name == 0)
        name = kDefaultRegistryFile;
    if (ReadWholeFile(name, content))
        return ERROR_SUCCESS;
    return errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND
                                               : static_cast<LSTATUS>(Win32ErrorFromErrno(errno));
}

// Fills the key with the values of its section; ERROR_FILE_NOT_FOUND when the file or the
// section is missing. Sections of the same name are merged; the first value of a name wins.
LSTATUS LoadKey(RegistryKey* key)
{
    std::string content;
    LSTATUS status = ReadRegistryFile(&content);
    if (status != ERROR_SUCCESS)
        return status;
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0)
        content.erase(0, 3);
    std::string wanted = FoldAscii(key->path);
    bool found = false;
    bool inSection = false;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        std::string line = Trim(content.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            inSection = close != std::string::npos &&
                        FoldAscii(Trim(line.substr(1, close - 1))) == wanted;
            found = found || inSection;
            continue;
        }
        size_t equals = line.find('=');
        if (!inSection || equals == std::string::npos)
            continue;
        key->values.emplace(FoldAscii(Trim(line.substr(0, equals))),
                            Utf8ToUtf16(Trim(line.substr(equals + 1))));
    }
    return found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

// The path of a root or open key; false when the handle names neither. Holds g_lock.
bool KeyPath(HKEY key, std::string* path)
{
    if (key == HKEY_LOCAL_MACHINE) {
        *path = kRootName;
        return true;
    }
    auto found = OpenKeys().find(key);
    if (found == OpenKeys().end())
        return false;
    *path = found->second->path;
    return true;
}

}  // namespace

LSTATUS RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, DWORD access, HKEY* result)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    auto key = std::make_unique<RegistryKey>();
    {
        std::lock_guard<std::mutex> lock(g_lock);
        if (!KeyPath(root, &key->path))
            return ERROR_INVALID_HANDLE;
    }
    if (subKey != nullptr && *subKey != 0)
        key->path += "\\" + Utf16ToUtf8(subKey);
    LSTATUS status = LoadKey(key.get());
    if (status != ERROR_SUCCESS)
        return status;
    std::lock_guard<std::mutex> lock(g_lock);
    HKEY handle = key.get();
    OpenKeys()[handle] = std::move(key);
    *result = handle;
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* size)
{
    if (reserved != nullptr || (data != nullptr && size == nullptr))
        return ERROR_INVALID_PARAMETER;
    std::u16string value;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        auto open = OpenKeys().find(key);
        if (open == OpenKeys().end())
            return ERROR_INVALID_HANDLE;
        std::string name = valueName == nullptr ? std::string() : Utf16ToUtf8(valueName);
        auto found = open->second->values.find(FoldAscii(name));
        if (found == open->second->values.end())
            return ERROR_FILE_NOT_FOUND;
        value = found->second;
    }
    if (type != nullptr)
        *type = REG_SZ;
    auto needed = static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR));
    if (data == nullptr) {
        if (size != nullptr)
            *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, value.c_str(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE)
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(g_lock);
    return OpenKeys().erase(key) == 1 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
