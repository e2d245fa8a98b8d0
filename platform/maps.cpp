#include "platform/maps.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

std::string ReadWholeFile(const char* path)
{
    std::string content;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return content;
    char buffer[16384];
    for (;;) {
        ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        content.append(buffer, static_cast<size_t>(count));
    }
    close(fd);
    return content;
}

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
    std::string content = ReadWholeFile("/proc/self/maps");
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
