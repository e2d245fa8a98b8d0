#include "host/ListPrinter.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "host/StepValues.h"

namespace {

// Reads fields in order within the reported size; once a field runs past it, every read fails.
class RecordReader {
public:
    RecordReader(const void* buffer, uint32_t size)
        : m_bytes(static_cast<const unsigned char*>(buffer)), m_size(buffer ? size : 0)
    {
    }

    bool U32(uint32_t* value) { return Bytes(value, sizeof *value); }
    bool U64(uint64_t* value) { return Bytes(value, sizeof *value); }
    bool Skip(size_t count) { return Bytes(nullptr, count); }

    // A u32 byte count and that many bytes of UTF-16LE text, as UTF-8.
    bool Text(std::string* text)
    {
        uint32_t length = 0;
        if (!U32(&length) || length > m_size - m_offset || length % 2 != 0)
            return m_ok = false;
        std::u16string units(length / 2, u'\0');
        Bytes(units.data(), length);
        *text = Narrow(units.c_str());
        return m_ok;
    }

private:
    bool Bytes(void* out, size_t count)
    {
        if (!m_ok || count > m_size - m_offset)
            return m_ok = false;
        if (out != nullptr)
            std::memcpy(out, m_bytes + m_offset, count);
        m_offset += count;
        return true;
    }

    const unsigned char* m_bytes;
    size_t m_size;
    size_t m_offset = 0;
    bool m_ok = true;
};

}  // namespace

void ListPrinter::Machines(const void* buffer, uint32_t size)
{
    RecordReader records(buffer, size);
    uint32_t count = 0;
    std::string name, system, host;
    uint64_t id = 0;
    for (records.U32(&count); count > 0; --count) {
        if (!records.Text(&name) || !records.U64(&id) || !records.Skip(4) ||
            !records.Text(&system) || !records.Skip(16) || !records.Text(&host))
            return;
        std::printf("  machine %-20s id %llu\n", name.c_str(), static_cast<unsigned long long>(id));
    }
}

void ListPrinter::Volumes(const void* buffer, uint32_t size)
{
    RecordReader records(buffer, size);
    uint32_t count = 0;
    std::string label;
    uint64_t code = 0;
    for (records.U32(&count); count > 0; --count) {
        if (!records.Text(&label) || !records.U64(&code) || !records.Skip(8))
            return;
        std::printf("  volume  %-20s code %llu\n", label.c_str(),
                    static_cast<unsigned long long>(code));
    }
}

void ListPrinter::FolderEntries(const void* buffer, uint32_t size)
{
    RecordReader records(buffer, size);
    uint32_t count = 0;
    std::string name;
    uint64_t folder = 0, file = 0, bytes = 0, archive = 0;
    uint32_t isFolder = 0;
    for (records.U32(&count); count > 0; --count) {
        if (!records.Text(&name) || !records.U64(&folder) || !records.U64(&file) ||
            !records.U64(&bytes) || !records.Skip(12) || !records.U32(&isFolder) ||
            !records.Skip(4) || !records.U64(&archive))
            return;
        if (isFolder != 0)
            std::printf("  folder  %-20s folder code %llu\n", name.c_str(),
                        static_cast<unsigned long long>(folder));
        else
            std::printf("  file    %-20s %llu bytes, codes: folder %llu file %llu version %llu\n",
                        name.c_str(), static_cast<unsigned long long>(bytes),
                        static_cast<unsigned long long>(folder),
                        static_cast<unsigned long long>(file),
                        static_cast<unsigned long long>(archive));
    }
}
