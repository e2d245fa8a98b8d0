#include "qvlib/CQVLogCleaner.h"

#include <algorithm>
#include <set>

#include "platform/file.h"
#include "platform/folder.h"

namespace {
std::u16string FoundName(const WIN32_FIND_DATAW& data)
{
    const WCHAR* end = std::find(std::begin(data.cFileName), std::end(data.cFileName), u'\0');
    return std::u16string(data.cFileName, end);
}

std::set<std::u16string> ListNames(const std::u16string& pattern)
{
    std::set<std::u16string> names;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do
        names.insert(FoundName(data));
    while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}
}  // namespace

CQVLogCleaner::CQVLogCleaner(uint32_t keepCount) : m_keepCount(keepCount) {}

CQVLogCleaner::~CQVLogCleaner() = default;

void CQVLogCleaner::SetFolder(const std::u16string& folder)
{
    m_folder = folder;
    // An empty folder stays empty (the current directory) rather than becoming the root.
    if (!m_folder.empty() && m_folder.back() != u'\\')
        m_folder += u'\\';
}

void CQVLogCleaner::AddPattern(const std::u16string& pattern)
{
    m_patterns.push_back(pattern);
}

void CQVLogCleaner::Run()
{
    for (const std::u16string& pattern : m_patterns) {
        const std::set<std::u16string> names = ListNames(m_folder + pattern);
        if (names.size() <= m_keepCount)
            continue;
        size_t surplus = names.size() - m_keepCount;
        for (auto name = names.begin(); surplus > 0; ++name, --surplus)
            DeleteFileW((m_folder + *name).c_str());
    }
}
