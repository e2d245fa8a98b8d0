#include "api/ReplyBuffer.h"

#include <cstring>

#include "util/Cutil.h"

ReplyBuffer::~ReplyBuffer()
{
    Release();
}

bool ReplyBuffer::ReadWord(DWORD offset, DWORD* value) const
{
    if (m_payload == nullptr || offset > m_length || m_length - offset < kReplyWordSize)
        return false;
    std::memcpy(value, static_cast<const BYTE*>(m_payload) + offset, kReplyWordSize);
    return true;
}

bool ReplyBuffer::MeasureRecords(DWORD offset, DWORD count, RecordLayout layout,
                                 DWORD* size) const
{
    if (m_payload == nullptr || offset > m_length)
        return false;
    // Every part moves the position forward by at least its fixed size or its count word, so
    // a run of records past the end is caught after at most m_length bytes' worth of parts;
    // 64 bits keep a byte count near 4 GiB from wrapping the position back into the reply.
    ULONGLONG position = offset;
    for (DWORD record = 0; record < count; ++record) {
        for (const RecordPart& part : layout) {
            ULONGLONG partSize = part.fixedSize;
            if (part.isText) {
                DWORD textSize = 0;
                if (!ReadWord(static_cast<DWORD>(position), &textSize))
                    return false;
                partSize = ULONGLONG{kReplyWordSize} + textSize;
            }
            position += partSize;
            if (position > m_length)
                return false;
        }
    }
    *size = static_cast<DWORD>(position);
    return true;
}

void* ReplyBuffer::HandOver()
{
    void* payload = m_payload;
    m_payload = nullptr;
    m_length = 0;
    return payload;
}

void ReplyBuffer::Release()
{
    g_util.FreePacket(HandOver());
}
