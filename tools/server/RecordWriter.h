// Writes the records of the lists that the stand-in server hands out, in the layouts that
// clients walk: a text is a u32 byte count and its bytes (UTF-16LE, or UTF-8 for products),
// and each record's fixed parts carry the codes, sizes and times of what it describes.
#pragma once

#include <string>

#include "tools/server/ReplyWriter.h"
#include "tools/server/ServiceStore.h"

class RecordWriter {
public:
    explicit RecordWriter(ReplyWriter& reply);

    // A u32 byte count, then the UTF-16LE bytes.
    void Text16(const std::u16string& text);
    // A u32 byte count, then the bytes.
    void Text8(const std::string& text);
    void Zeros(size_t count);

    // Name; id and active flag; system; used bytes and last backup; host name. The extended
    // form adds the plan; location; quota and creation time.
    void Machine(const StoredMachine& machine, bool extended);
    // Label; volume code and used bytes.
    void Volume(const StoredVolume& volume);
    // Name; folder code, file code, size, modification time, attributes, folder flag,
    // number of versions and the newest version's archive code (52 bytes).
    void Entry(const StoredEntry& entry);
    // Archive code, size, time (20 bytes).
    void Version(const StoredVersion& version);
    // Volume code and the entry's fixed part (60 bytes); name; the folder's path.
    void SearchHit(ULONGLONG volumeCode, const StoredFolder& folder, const StoredEntry& entry);
    // Text; id and 8 zero bytes; description; 32 zero bytes; follow-up text.
    void Reason(const StoredReason& reason);
    // Name; price and id; description; quota, months and 20 zero bytes; currency.
    void Product(const StoredProduct& product);
    // Day, bytes, files (24 bytes).
    void Stat(const StoredStat& stat);

private:
    // The fixed fields that an entry's folder record and its search record share.
    void EntryFields(const StoredEntry& entry);

    ReplyWriter& m_reply;
};
