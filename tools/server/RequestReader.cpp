#include "tools/server/RequestReader.h"

#include "util/LittleEndian.h"

RequestReader::RequestReader(const std::vector<BYTE>& payload, ConnectionState& connection)
    : m_payload(payload),
      m_connection(&connection),
      m_offset(sizeof(DWORD)),
      m_failed(payload.size() < sizeof(DWORD))
{
}

RequestReader::RequestReader(const std::vector<BYTE>& payload)
    : m_payload(payload),
      m_connection(nullptr),
      m_offset(sizeof(DWORD)),
      m_failed(payload.size() < sizeof(DWORD))
{
}

ConnectionState& RequestReader::Connection() const
{
    return *m_connection;
}

DWORD RequestReader::Code() const
{
    if (m_payload.size() < sizeof(DWORD))
        return kNoCode;
    return LoadLittleEndian32(m_payload.data());
}

bool RequestReader::ReadBytes(size_t count, std::string* bytes)
{
    if (m_failed || count > Remaining()) {
        m_failed = true;
        return false;
    }
    bytes->assign(reinterpret_cast<const char*>(m_payload.data() + m_offset), count);
    m_offset += count;
    return true;
}

bool RequestReader::ReadU32(DWORD* value)
{
    std::string bytes;
    if (!ReadBytes(sizeof *value, &bytes))
        return false;
    *value = LoadLittleEndian32(reinterpret_cast<const BYTE*>(bytes.data()));
    return true;
}

bool RequestReader::ReadU64(ULONGLONG* value)
{
    DWORD low = 0;
    DWORD high = 0;
    if (!ReadU32(&low) || !ReadU32(&high))
        return false;
    *value = ULONGLONG{high} << 32 | low;
    return true;
}

bool RequestReader::ReadCountedBytes(std::string* bytes)
{
    DWORD count;
    return ReadU32(&count) && ReadBytes(count, bytes);
}

size_t RequestReader::Remaining() const
{
    return m_offset <= m_payload.size() ? m_payload.size() - m_offset : 0;
}

bool RequestReader::Failed() const
{
    return m_failed;
}
