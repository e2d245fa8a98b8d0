#include "qvlib/CQVIni.h"

#include <algorithm>
#include <cwctype>
#include <limits>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/text.h"
#include "util/LittleEndian.h"

namespace {

constexpr size_t kInitialBuckets = 8;
constexpr char16_t kCommentKey[] = u";";

std::u16string FoldSectionName(const char16_t* name)
{
    std::u16string folded(name);
    for (char16_t& character : folded)
        character = static_cast<char16_t>(std::towupper(character));
    return folded;
}

bool IsSpace(char16_t character)
{
    return std::iswspace(character) != 0;
}

void TrimSpace(std::u16string& line)
{
    size_t end = line.size();
    while (end > 0 && IsSpace(line[end - 1]))
        --end;
    size_t start = 0;
    while (start < end && IsSpace(line[start]))
        ++start;
    line = line.substr(start, end - start);
}

// Reads a decimal integer as a stream does: leading white space, an optional sign, digits up
// to the first other character; out of range saturates. None when no digit comes.
std::optional<int32_t> ParseInteger(const std::u16string& text)
{
    size_t index = 0;
    while (index < text.size() && IsSpace(text[index]))
        ++index;
    bool negative = false;
    if (index < text.size() && (text[index] == u'+' || text[index] == u'-')) {
        negative = text[index] == u'-';
        ++index;
    }
    const size_t firstDigit = index;
    int64_t magnitude = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; index < text.size() && text[index] >= u'0' && text[index] <= u'9'; ++index) {
        magnitude = magnitude * 10 + (text[index] - u'0');
        if (magnitude > kLimit)
            magnitude = kLimit;
    }
    if (index == firstDigit)
        return std::nullopt;
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

// The 8-bit text of a settings file, up to its first NUL byte.
std::string_view EightBitText(const std::vector<unsigned char>& bytes)
{
    const auto end = std::find(bytes.begin(), bytes.end(), 0);
    return {reinterpret_cast<const char*>(bytes.data()),
            static_cast<size_t>(end - bytes.begin())};
}

// Each byte becomes the code unit of the same value, as the C runtime's default locale
// converts 8-bit text on the system this file format comes from.
std::u16string WidenBytes(std::string_view text)
{
    std::u16string wide;
    wide.reserve(text.size());
    for (char byte : text)
        wide += static_cast<char16_t>(static_cast<unsigned char>(byte));
    return wide;
}

// The text in the ANSI code page (UTF-8 here), when it is valid in it.
std::optional<std::u16string> DecodeAnsi(std::string_view text)
{
    if (text.empty() || text.size() > static_cast<size_t>(std::numeric_limits<int>::max()))
        return std::nullopt;
    const int length = static_cast<int>(text.size());
    const int needed =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return std::nullopt;
    std::u16string wide(static_cast<size_t>(needed), u'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(), needed);
    return wide;
}

// 8-bit settings text, line by line: a line that is valid UTF-8 (as the names of this system
// are) reads as UTF-8, any other line one code unit per byte, so that a line in another 8-bit
// encoding, a comment say, changes how no other line reads.
std::u16string DecodeEightBit(const std::vector<unsigned char>& bytes)
{
    const std::string_view text = EightBitText(bytes);
    std::u16string decoded;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string_view::npos ? text.size() : end + 1;
        const std::string_view line = text.substr(start, end - start);
        if (auto utf8 = DecodeAnsi(line))
            decoded += *utf8;
        else
            decoded += WidenBytes(line);
        start = end;
    }
    return decoded;
}

std::u16string Utf16FromBytes(const std::vector<unsigned char>& bytes, size_t start)
{
    std::u16string text;
    for (size_t index = start; index + 1 < bytes.size(); index += 2) {
        const char16_t unit = LoadLittleEndian16(&bytes[index]);
        if (unit == u'\0')
            break;
        text += unit;
    }
    return text;
}

bool ReadOpenFile(HANDLE file, std::vector<unsigned char>& bytes)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 ||
        static_cast<uint64_t>(size.QuadPart) > std::numeric_limits<DWORD>::max())
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t filled = 0;
    while (filled < bytes.size()) {
        DWORD read = 0;
        if (!::ReadFile(file, bytes.data() + filled, static_cast<DWORD>(bytes.size() - filled),
                        &read, nullptr) ||
            read == 0)
            break;
        filled += read;
    }
    bytes.resize(filled);
    return true;
}

}  // namespace

CQVIni::CQVIni() : std::unordered_map<std::u16string, QVIniSection*>(kInitialBuckets) {}

CQVIni::~CQVIni()
{
    Clear();
}

void CQVIni::Clear()
{
    for (auto& entry : *this)
        delete entry.second;
    clear();
    rehash(kInitialBuckets);
}

int32_t CQVIni::ReadFile(const char16_t* path, std::u16string& text)
{
    text.clear();
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return E_INVALIDARG;
    std::vector<unsigned char> bytes;
    if (ReadOpenFile(file, bytes) && bytes.size() >= 2) {
        if (bytes[0] == 0xFF && bytes[1] == 0xFE)
            text = Utf16FromBytes(bytes, 2);
        else
            text = DecodeEightBit(bytes);
    }
    CloseHandle(file);
    return 0;
}

uint32_t CQVIni::Load(const char16_t* path)
{
    Clear();
    std::u16string text;
    if (ReadFile(path, text) != 0)
        return 0;
    std::u16string currentSection;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string::npos)
            end = text.size();
        ParseLine(text.substr(start, end - start), currentSection);
        start = end + 1;
    }
    return 1;
}

void CQVIni::ParseLine(std::u16string line, std::u16string& currentSection)
{
    TrimSpace(line);
    if (line.empty())
        return;
    if (line.size() >= 2 && line.front() == u'[' && line.back() == u']') {
        currentSection = line.substr(1, line.size() - 2);
        AddSection(currentSection.c_str());
        return;
    }
    if (line.front() == u';' || line.front() == u'#') {
        AddValue(currentSection.c_str(), kCommentKey, line.c_str() + 1);
        return;
    }
    const size_t equals = line.find(u'=');
    if (equals == std::u16string::npos)
        return;
    const std::u16string key = line.substr(0, equals);
    AddValue(currentSection.c_str(), key.c_str(), line.c_str() + equals + 1);
}

QVIniSection* CQVIni::FindSection(const char16_t* name) const
{
    if (name == nullptr)
        return nullptr;
    const auto found = find(FoldSectionName(name));
    return found == end() ? nullptr : found->second;
}

void CQVIni::InsertSection(const char16_t* name, QVIniSection* section)
{
    emplace(FoldSectionName(name), section);
}

uint32_t CQVIni::AddSection(const char16_t* name)
{
    if (name == nullptr || FindSection(name) != nullptr)
        return 0;
    QVIniSection* section = nullptr;
    try {
        section = new QVIniSection();
        section->SetName(name);
        InsertSection(name, section);
    } catch (const std::bad_alloc&) {
        delete section;
        return 0;
    }
    return 1;
}

uint32_t CQVIni::AddValue(const char16_t* section, const char16_t* key, const char16_t* value)
{
    if (section == nullptr || key == nullptr || value == nullptr)
        return 0;
    QVIniSection* target = FindSection(section);
    if (target == nullptr)
        return 0;
    if (std::u16string_view(key) != kCommentKey && target->FindValue(key) >= 0)
        return 0;
    QVIniValue line;
    line.SetName(key);
    line.SetValue(value);
    target->push_back(line);
    return 1;
}

uint32_t CQVIni::SectionExists(const char16_t* section) const
{
    return FindSection(section) != nullptr ? 1 : 0;
}

uint32_t CQVIni::GetString(const char16_t* section, const char16_t* key,
                           std::u16string& out) const
{
    const QVIniSection* found = FindSection(section);
    if (found == nullptr || key == nullptr || std::u16string_view(key) == kCommentKey)
        return 0;
    const int32_t index = found->FindValue(key);
    if (index < 0)
        return 0;
    out = (*found)[static_cast<size_t>(index)].GetValue();
    return 1;
}

uint32_t CQVIni::GetInt(const char16_t* section, const char16_t* key, int32_t* out) const
{
    std::u16string value;
    if (out == nullptr || !GetString(section, key, value))
        return 0;
    if (const auto number = ParseInteger(value))
        *out = *number;
    return 1;
}

uint32_t CQVIni::GetBool(const char16_t* section, const char16_t* key, bool* out) const
{
    std::u16string value;
    if (out == nullptr || !GetString(section, key, value))
        return 0;
    const auto number = ParseInteger(value);
    if (number == 0 || number == 1)
        *out = *number == 1;
    return 1;
}
