#include "tools/server/RecordWriter.h"

#include <vector>

RecordWriter::RecordWriter(ReplyWriter& reply) : m_reply(reply) {}

void RecordWriter::Text16(const std::u16string& text)
{
    m_reply.PutU32(static_cast<DWORD>(text.size() * sizeof(char16_t)));
    for (char16_t unit : text)
        m_reply.PutU16(unit);
}

void RecordWriter::Text8(const std::string& text)
{
    m_reply.PutCountedBytes(text);
}

void RecordWriter::Zeros(size_t count)
{
    const std::vector<BYTE> zeros(count, 0);
    m_reply.PutBytes(zeros.data(), zeros.size());
}

void RecordWriter::Machine(const StoredMachine& machine, bool extended)
{
    Text16(machine.name);
    m_reply.PutU64(machine.id);
    m_reply.PutU32(machine.active);
    Text16(machine.system);
    m_reply.PutU64(machine.used);
    m_reply.PutU64(machine.lastBackup);
    Text16(machine.hostName);
    if (!extended)
        return;
    m_reply.PutU32(machine.plan);
    Text16(machine.location);
    m_reply.PutU64(machine.quota);
    m_reply.PutU64(machine.created);
}

void RecordWriter::Volume(const StoredVolume& volume)
{
    Text16(volume.label);
    m_reply.PutU64(volume.code);
    m_reply.PutU64(volume.used);
}

void RecordWriter::EntryFields(const StoredEntry& entry)
{
    m_reply.PutU64(entry.folderCode);
    m_reply.PutU64(entry.fileCode);
    m_reply.PutU64(entry.size);
    m_reply.PutU64(entry.modified);
    m_reply.PutU32(entry.attributes);
    m_reply.PutU32(entry.isFolder ? 1 : 0);
    m_reply.PutU32(static_cast<DWORD>(entry.versions.size()));
    m_reply.PutU64(entry.versions.empty() ? 0 : entry.versions.back().archiveCode);
}

void RecordWriter::Entry(const StoredEntry& entry)
{
    Text16(entry.name);
    EntryFields(entry);
}

void RecordWriter::Version(const StoredVersion& version)
{
    m_reply.PutU64(version.archiveCode);
    m_reply.PutU64(version.size);
    m_reply.PutU32(version.time);
}

void RecordWriter::SearchHit(ULONGLONG volumeCode, const StoredFolder& folder,
                             const StoredEntry& entry)
{
    m_reply.PutU64(volumeCode);
    EntryFields(entry);
    Text16(entry.name);
    Text16(folder.path);
}

void RecordWriter::Reason(const StoredReason& reason)
{
    Text16(reason.text);
    m_reply.PutU32(reason.id);
    Zeros(8);
    Text16(reason.description);
    Zeros(32);
    Text16(reason.followUp);
}

void RecordWriter::Product(const StoredProduct& product)
{
    Text8(product.name);
    m_reply.PutU64(static_cast<ULONGLONG>(product.price));
    m_reply.PutU32(product.id);
    Text8(product.description);
    m_reply.PutU64(product.quota);
    m_reply.PutU32(product.months);
    Zeros(20);
    Text8(product.currency);
}

void RecordWriter::Stat(const StoredStat& stat)
{
    m_reply.PutU64(stat.day);
    m_reply.PutU64(stat.bytes);
    m_reply.PutU64(stat.files);
}
