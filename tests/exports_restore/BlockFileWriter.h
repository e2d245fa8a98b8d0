// A block file put together byte by byte, little-endian, the way the rebuild reads it: a
// 44-byte header with the version's size and the record count, then 28-byte records, each
// followed by its data when its flag says so.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <zlib.h>

class BlockFileWriter {
public:
    BlockFileWriter(uint64_t versionSize, uint64_t recordCount)
    {
        Put(0x1111111111111111ull, 8);
        Put(0x22222222u, 4);
        Put(0x3333333333333333ull, 8);
        Put(versionSize, 8);
        Put(0x44444444u, 4);
        Put(0x55555555u, 4);
        Put(recordCount, 8);
    }

    // Data to write at offset, with its true CRC-32.
    BlockFileWriter& Write(uint64_t offset, const std::string& data)
    {
        return Record(1, offset, data, Crc(data));
    }
    // A record with data whose CRC-32 is the given one.
    BlockFileWriter& Record(uint32_t type, uint64_t offset, const std::string& data, uint32_t crc)
    {
        Put(type, 4);
        Put(offset, 8);
        Put(data.size(), 4);
        Put(0, 4);
        Put(crc, 4);
        Put(1, 4);
        m_bytes += data;
        return *this;
    }

    const std::string& Bytes() const { return m_bytes; }
    void Save(const std::filesystem::path& path) const
    {
        std::ofstream(path, std::ios::binary) << m_bytes;
    }

    static uint32_t Crc(const std::string& data)
    {
        return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                           static_cast<uInt>(data.size())));
    }

private:
    void Put(uint64_t value, int size)
    {
        for (int i = 0; i < size; ++i)
            m_bytes += static_cast<char>(value >> (8 * i));
    }

    std::string m_bytes;
};
