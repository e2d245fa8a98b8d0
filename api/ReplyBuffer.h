// A reply that an export hands to the host whole: the payload of one received message, in
// page allocations, owned by the export until it is handed over (the host then gives it back
// through FreeBuffer) and released otherwise.
//
// The export learns the buffer's byte size by walking its records. The records come from the
// server, so every byte count in them is untrusted: the walk stays within the received
// length, and a record that runs past it makes the whole reply unusable.
//
//     ReplyBuffer reply;
//     channel->GetVolumeList(reply.Out(), &count, reply.LengthOut());
//     DWORD size = 0;
//     if (!reply.MeasureRecords(kCountWordSize, count, kVolumeRecord, &size))
//         ...refuse: the reply is released with the object...
//     return reply.HandOver();
#pragma once

#include <span>

#include "platform/types.h"

// One part of a record: a fixed run of bytes, or a text (a u32 byte count and that many
// bytes).
struct RecordPart {
    bool isText;
    DWORD fixedSize;
};

constexpr RecordPart FixedPart(DWORD size)
{
    return RecordPart{false, size};
}
constexpr RecordPart kTextPart{true, 0};

// The parts of one record, in order; layouts are constant arrays of parts.
using RecordLayout = std::span<const RecordPart>;

// Bytes of the count word (or result word) that leads a reply.
constexpr DWORD kReplyWordSize = 4;

// The warning written when a reply's records run past its end.
constexpr const char16_t* kReplyRecordsOverrun = u"Reply records run past the end of the reply.";

class ReplyBuffer {
public:
    ReplyBuffer() = default;
    ~ReplyBuffer();
    ReplyBuffer(const ReplyBuffer&) = delete;
    ReplyBuffer& operator=(const ReplyBuffer&) = delete;

    // Where a command method stores the payload it hands over, and its length.
    void** Out() { return &m_payload; }
    DWORD* LengthOut() { return &m_length; }

    const void* Payload() const { return m_payload; }

    // Reads the u32 at offset; false when the reply does not hold it.
    bool ReadWord(DWORD offset, DWORD* value) const;
    // Walks count records of the layout from offset on. *size receives the offset of the end
    // of the last record, which is the byte size of the buffer as the host sees it. False,
    // with *size untouched, when a record runs past the reply.
    bool MeasureRecords(DWORD offset, DWORD count, RecordLayout layout, DWORD* size) const;

    // Gives the payload to the caller, who owns it from now on.
    void* HandOver();
    // Gives the payload back now, as FreeBuffer does.
    void Release();

private:
    void* m_payload = nullptr;
    DWORD m_length = 0;
};
