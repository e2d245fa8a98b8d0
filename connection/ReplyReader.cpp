#include "connection/ReplyReader.h"

#include <cstring>

#include "util/LittleEndian.h"

ReplyReader::ReplyReader(const void* payload, DWORD length, DWORD offset)
    : m_payload(static_cast<const BYTE*>(payload)),
      m_length(payload ? length : 0),
      m_offset(offset)
{
}

bool ReplyReader::U32(DWORD* value)
{
    if (!Has(4))
        return false;
    *value = LoadLittleEndian32(m_payload + m_offset);
    m_offset += 4;
    return true;
}

bool ReplyReader::U64(ULONGLONG* value)
{
    if (!Has(8))
        return false;
    *value = LoadLittleEndian64(m_payload + m_offset);
    m_offset += 8;
    return true;
}

bool ReplyReader::Counted(const BYTE** data, DWORD* count)
{
    const DWORD start = m_offset;
    DWORD length = 0;
    if (!U32(&length) || !Has(length)) {
        m_offset = start;
        return false;
    }
    *data = m_payload + m_offset;
    *count = length;
    m_offset += length;
    return true;
}

bool ReplyReader::Narrow(Text* text, DWORD capacity)
{
    const DWORD start = m_offset;
    Text read;
    if (!Counted(&read.data, &read.count) || read.count >= capacity) {
        m_offset = start;
        return false;
    }
    *text = read;
    return true;
}

bool ReplyReader::Utf16(WCHAR* out, DWORD capacity)
{
    const DWORD start = m_offset;
    const BYTE* bytes = nullptr;
    DWORD count = 0;
    if (!Counted(&bytes, &count) || count % 2 != 0 || count / 2 >= capacity) {
        m_offset = start;
        return false;
    }
    for (DWORD i = 0; i < count / 2; ++i)
        out[i] = LoadLittleEndian16(bytes + 2 * i);
    out[count / 2] = 0;
    return true;
}

void ReplyReader::Text::CopyTo(char* out) const
{
    if (count != 0)
        std::memcpy(out, data, count);
    out[count] = 0;
}

bool ReplyReader::Skip(DWORD count)
{
    if (!Has(count))
        return false;
    m_offset += count;
    return true;
}
