// The contents of one file that the stand-in server serves: held in memory, or read from a file
// on disk piece by piece as clients ask for it, so that a large file is never copied whole. The
// zlib stream of a single reply is made once, on first use, and kept.
//
// Safe to share between connections: reads never move a shared file position.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/types.h"

class ServedFile {
public:
    static std::shared_ptr<const ServedFile> FromContents(std::string contents);
    // The file stays open while the object lives. Null when it cannot be opened.
    static std::shared_ptr<const ServedFile> FromDisk(const std::string& path);

    ~ServedFile();
    ServedFile(const ServedFile&) = delete;
    ServedFile& operator=(const ServedFile&) = delete;

    ULONGLONG Size() const;
    // Copies count bytes from offset on into out; false when they cannot all be read.
    bool Read(ULONGLONG offset, size_t count, BYTE* out) const;
    // The whole contents as one zlib stream; empty when the file cannot be read.
    const std::string& Compressed() const;

private:
    ServedFile(std::string contents, int descriptor, ULONGLONG size);

    std::string m_contents;
    // -1 for contents held in memory.
    int m_descriptor;
    ULONGLONG m_size;
    mutable std::once_flag m_compressOnce;
    mutable std::string m_compressed;
};
