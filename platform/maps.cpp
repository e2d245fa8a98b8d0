#include "platform/maps.h"

#include <cstdlib>

#include "platform/file.h"

namespace {

// One line: "begin-end perms offset dev inode   path".
bool ParseLine(const char* line, const char* lineEnd, MappedRange* range)
{
    char* cursor = nullptr;
    range->begin = std::strtoull(line, &cursor, 16);
    if (cursor >= lineEnd || *cursor != '-')
        return false;
    range->end = std::strtoull(cursor + 1, &cursor, 16);
    if (cursor + 5 > lineEnd || *cursor != ' ')
        return false;
    range->readable = cursor[1] == 'r';
    range->writable = cursor[2] == 'w';
    const char* field = cursor + 5;
    for (int skip = 0; skip < 3 && field < lineEnd; ++skip) {
        while (field < lineEnd && *field == ' ')
            ++field;
        while (field < lineEnd && *field != ' ')
            ++field;
    }
    while (field < lineEnd && *field == ' ')
        ++field;
    range->path.assign(field, lineEnd);
    return true;
}

}  // namespace

std::vector<MappedRange> ReadProcessMaps()
{
    std::string content;
    ReadWholeFile("/proc/self/maps", &content);
    std::vector<MappedRange> ranges;
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        MappedRange range;
        if (ParseLine(content.data() + start, content.data() + end, &range))
            ranges.push_back(std::move(range));
        start = end + 1;
    }
    return ranges;
}
