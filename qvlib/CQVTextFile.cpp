#include "qvlib/CQVTextFile.h"

#include <limits>
#include <string>

#include "platform/file.h"

namespace {
constexpr unsigned char kMark[2] = {0xFF, 0xFE};
}

CQVTextFile::CQVTextFile() : m_unicode(0) {}

CQVTextFile::~CQVTextFile() = default;

uint32_t CQVTextFile::ReadBom()
{
    unsigned char head[2] = {};
    Read(head, sizeof head);
    if (head[0] == kMark[0] && head[1] == kMark[1]) {
        m_unicode = 1;
    } else {
        m_unicode = 0;
        int64_t start = 0;
        Seek(&start, FILE_BEGIN);
    }
    return 1;
}

uint32_t CQVTextFile::OpenForAppend()
{
    if (!Open(GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL))
        return 0;
    ReadBom();
    uint32_t written = 0;
    Append(kMark, sizeof kMark, &written);
    m_unicode = 1;
    return written == sizeof kMark ? 1 : 0;
}

uint32_t CQVTextFile::Write(const char16_t* text, uint32_t byteCount)
{
    if (text == nullptr)
        return 0;
    if (byteCount == 0)
        return 1;
    const size_t length = std::char_traits<char16_t>::length(text);
    if (length > std::numeric_limits<uint32_t>::max() / sizeof(char16_t)) {
        GetError().SetCode(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return Append(text, static_cast<uint32_t>(length * sizeof(char16_t)), nullptr);
}
