// A block file put together byte by byte, little-endian, independently of the reader: a
// 44-byte header with the version's size and the record count, then 28-byte records, each
// followed by its data when its flag is 1. The fields that the rebuild does not use hold
// filler bytes that a test can recognise.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

class BlockFileWriter {
public:
    BlockFileWriter(uint64_t versionSize, uint64_t recordCount);

    // A record of data to write at offset, with its true CRC-32.
    BlockFileWriter& Write(uint64_t offset, const std::string& data, uint32_t type = 1);
    // A record with data whose CRC-32 is the given one.
    BlockFileWriter& Record(uint32_t type, uint64_t offset, const std::string& data, uint32_t crc);
    // A record with every field given, followed by data as it is, whatever size and flag say.
    BlockFileWriter& Raw(uint32_t type, uint64_t offset, uint32_t size, uint32_t crc,
                         uint32_t flag, const std::string& data = "");

    const std::string& Bytes() const { return m_bytes; }
    void Save(const std::filesystem::path& path) const;

    // The CRC-32 of data, as zlib computes it.
    static uint32_t Crc(const std::string& data);

private:
    void Put(uint64_t value, int size);

    std::string m_bytes;
};
