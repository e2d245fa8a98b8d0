#include "tools/server/ReplyWriter.h"

#include "util/LittleEndian.h"

namespace {

// The memory of this thread's last finished reply, empty but with its capacity. Kept only up
// to this size, so that one large reply does not pin its memory for the thread's life.
constexpr size_t kLargestKept = 8u << 20;
thread_local std::vector<BYTE> t_spare;

}  // namespace

ReplyWriter::ReplyWriter() : m_payload(std::move(t_spare)), m_reply(true), m_close(false)
{
    t_spare = {};
    m_payload.clear();
}

ReplyWriter::~ReplyWriter()
{
    if (m_payload.capacity() > t_spare.capacity() && m_payload.capacity() <= kLargestKept)
        t_spare = std::move(m_payload);
}

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

BYTE* ReplyWriter::Extend(size_t count)
{
    const size_t start = m_payload.size();
    m_payload.resize(start + count);
    return m_payload.data() + start;
}

void ReplyWriter::Reserve(size_t count)
{
    m_payload.reserve(m_payload.size() + count);
}

void ReplyWriter::Clear()
{
    m_payload.clear();
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
