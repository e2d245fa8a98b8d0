#include "connection/PacketWriter.h"

#include <cstring>

#include "platform/text.h"
#include "util/Cutil.h"
#include "util/LittleEndian.h"

namespace {

void PutUtf16(BYTE* at, LPCWSTR text, DWORD bytes)
{
    for (DWORD i = 0; i < bytes / 2; ++i)
        StoreLittleEndian16(at + 2 * i, text[i]);
}

}  // namespace

PacketWriter::PacketWriter(DWORD command)
{
    U32(command);
}

PacketWriter::Field* PacketWriter::Add(Kind kind, DWORD length)
{
    if (m_count == kMaxFields) {
        Refuse();
        return nullptr;
    }
    Field& field = m_fields[m_count++];
    field.kind = kind;
    field.length = length;
    m_length += length + (kind == Kind::Counted || kind == Kind::Utf16 ? 4 : 0);
    return &field;
}

void PacketWriter::AddBytes(Kind kind, const void* data, size_t length)
{
    if (data == nullptr || length > 0xFFFFFFFFu) {
        Refuse();
        return;
    }
    if (Field* field = Add(kind, static_cast<DWORD>(length)))
        field->data = data;
}

void PacketWriter::U32(DWORD value)
{
    if (Field* field = Add(Kind::Word, 4))
        field->value = value;
}

void PacketWriter::U64(DWORD low, DWORD high)
{
    U32(low);
    U32(high);
}

void PacketWriter::Zeros(DWORD count)
{
    Add(Kind::Zeros, count);
}

void PacketWriter::S16(LPCWSTR text)
{
    if (text == nullptr) {
        Refuse();
        return;
    }
    const size_t units = lstrlenW(text);
    if (units > 0x7FFFFFFFu) {
        Refuse();
        return;
    }
    if (Field* field = Add(Kind::Utf16, static_cast<DWORD>(units * 2)))
        field->data = text;
}

void PacketWriter::S8(LPCWSTR text, DWORD workCapacity)
{
    std::string work(workCapacity, '\0');
    if (text == nullptr ||
        Cutil::WideToUtf8(text, work.data(), static_cast<int32_t>(workCapacity)) == 0) {
        Refuse();
        return;
    }
    work.resize(std::strlen(work.c_str()));
    if (Field* field = Add(Kind::Counted, static_cast<DWORD>(work.size()))) {
        field->converted = std::move(work);
        field->data = field->converted.data();
    }
}

void PacketWriter::Sn(LPCSTR text)
{
    AddBytes(Kind::Counted, text, text ? std::strlen(text) : 0);
}

void PacketWriter::Raw(const void* data, DWORD length)
{
    AddBytes(Kind::Raw, data, length);
}

DWORD PacketWriter::Finish(void** packet, DWORD slack)
{
    return Write(packet, m_length + slack);
}

DWORD PacketWriter::FinishFixed(void** packet, DWORD capacity)
{
    if (m_length > capacity)
        Refuse();
    return Write(packet, capacity);
}

DWORD PacketWriter::Write(void** packet, ULONGLONG size)
{
    *packet = nullptr;
    if (m_refused || size > 0xFFFFFFFFu)
        return 0;
    BYTE* buffer = static_cast<BYTE*>(Cutil::AllocatePacket(static_cast<DWORD>(size)));
    if (buffer == nullptr)
        return 0;
    std::memset(buffer, 0, static_cast<size_t>(size));
    BYTE* at = buffer;
    for (size_t i = 0; i < m_count; ++i) {
        const Field& field = m_fields[i];
        switch (field.kind) {
        case Kind::Word:
            StoreLittleEndian32(at, field.value);
            break;
        case Kind::Zeros:
            break;
        case Kind::Counted:
            StoreLittleEndian32(at, field.length);
            at += 4;
            if (field.length != 0)
                std::memcpy(at, field.data, field.length);
            break;
        case Kind::Utf16:
            StoreLittleEndian32(at, field.length);
            at += 4;
            PutUtf16(at, static_cast<LPCWSTR>(field.data), field.length);
            break;
        case Kind::Raw:
            if (field.length != 0)
                std::memcpy(at, field.data, field.length);
            break;
        }
        at += field.length;
    }
    *packet = buffer;
    return static_cast<DWORD>(m_length);
}
