#include "tools/server/ReplyWriter.h"

#include "util/LittleEndian.h"

ReplyWriter::ReplyWriter() : m_reply(true), m_close(false) {}

void ReplyWriter::PutU16(WORD value)
{
    AppendLittleEndian16(&m_payload, value);
}

void ReplyWriter::PutU32(DWORD value)
{
    AppendLittleEndian32(&m_payload, value);
}

void ReplyWriter::PutU64(ULONGLONG value)
{
    PutU32(static_cast<DWORD>(value));
    PutU32(static_cast<DWORD>(value >> 32));
}

void ReplyWriter::PutBytes(const void* bytes, size_t count)
{
    const BYTE* begin = static_cast<const BYTE*>(bytes);
    m_payload.insert(m_payload.end(), begin, begin + count);
}

void ReplyWriter::PutCountedBytes(const std::string& bytes)
{
    PutU32(static_cast<DWORD>(bytes.size()));
    PutBytes(bytes.data(), bytes.size());
}

void ReplyWriter::NoReply()
{
    m_reply = false;
}

void ReplyWriter::CloseConnection()
{
    m_close = true;
}

const std::vector<BYTE>& ReplyWriter::Payload() const
{
    return m_payload;
}

bool ReplyWriter::HasReply() const
{
    return m_reply;
}

bool ReplyWriter::ClosesConnection() const
{
    return m_close;
}
