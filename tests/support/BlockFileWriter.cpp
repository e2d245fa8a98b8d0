#include "support/BlockFileWriter.h"

#include <fstream>

#include <zlib.h>

BlockFileWriter::BlockFileWriter(uint64_t versionSize, uint64_t recordCount)
{
    Put(0xA1A2A3A4A5A6A7A8, 8);
    Put(0xB1B2B3B4, 4);
    Put(0xC1C2C3C4C5C6C7C8, 8);
    Put(versionSize, 8);
    Put(0xD1D2D3D4, 4);
    Put(0xE1E2E3E4, 4);
    Put(recordCount, 8);
}

BlockFileWriter& BlockFileWriter::Write(uint64_t offset, const std::string& data, uint32_t type)
{
    return Record(type, offset, data, Crc(data));
}

BlockFileWriter& BlockFileWriter::Record(uint32_t type, uint64_t offset, const std::string& data,
                                         uint32_t crc)
{
    return Raw(type, offset, static_cast<uint32_t>(data.size()), crc, 1, data);
}

BlockFileWriter& BlockFileWriter::Raw(uint32_t type, uint64_t offset, uint32_t size,
                                      uint32_t crc, uint32_t flag, const std::string& data)
{
    Put(type, 4);
    Put(offset, 8);
    Put(size, 4);
    Put(0xF1F2F3F4, 4);
    Put(crc, 4);
    Put(flag, 4);
    m_bytes += data;
    return *this;
}

void BlockFileWriter::Save(const std::filesystem::path& path) const
{
    std::ofstream(path, std::ios::binary) << m_bytes;
}

uint32_t BlockFileWriter::Crc(const std::string& data)
{
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

void BlockFileWriter::Put(uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        m_bytes += static_cast<char>(value >> (8 * i));
}
