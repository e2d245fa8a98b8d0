// Lays out one request payload: the command code, then the fields back to back, all integers
// little-endian, every string as a u32 byte count followed by its bytes (never a terminator).
// Fields are gathered first so that the page buffer is sized and filled in one pass.
#pragma once

#include <string>

#include "platform/types.h"

class PacketWriter {
public:
    explicit PacketWriter(DWORD command);
    PacketWriter(const PacketWriter&) = delete;
    PacketWriter& operator=(const PacketWriter&) = delete;

    void U32(DWORD value);
    // A 64-bit code as its two 32-bit words, low word first.
    void U64(DWORD low, DWORD high);
    // count zero bytes (the buffer is zero-filled, so they only take room).
    void Zeros(DWORD count);
    // UTF-16LE text, 2 bytes per code unit.
    void S16(LPCWSTR text);
    // UTF-8 form of a wide text, converted into a work buffer of workCapacity bytes (its
    // terminator included); a text whose form does not fit is refused.
    void S8(LPCWSTR text, DWORD workCapacity);
    // A narrow text exactly as the caller holds it.
    void Sn(LPCSTR text);
    // Bytes without a count in front.
    void Raw(const void* data, DWORD length);

    // Allocates the payload plus slack bytes of zeroed room, writes the payload and hands the
    // buffer over. Gives the payload length, or 0 with *packet NULL when a field was refused
    // or the allocation failed.
    DWORD Finish(void** packet, DWORD slack = 1024);
    // The same into a buffer of exactly capacity bytes; a payload that does not fit is
    // refused.
    DWORD FinishFixed(void** packet, DWORD capacity);

private:
    enum class Kind { Word, Zeros, Counted, Utf16, Raw };
    struct Field {
        Kind kind = Kind::Word;
        DWORD value = 0;
        const void* data = nullptr;
        DWORD length = 0;
        std::string converted;
    };
    static constexpr size_t kMaxFields = 16;

    Field* Add(Kind kind, DWORD length);
    void AddBytes(Kind kind, const void* data, size_t length);
    void Refuse() { m_refused = true; }
    DWORD Write(void** packet, ULONGLONG size);

    Field m_fields[kMaxFields];
    size_t m_count = 0;
    ULONGLONG m_length = 0;
    bool m_refused = false;
};
