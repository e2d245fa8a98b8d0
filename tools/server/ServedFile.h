// The contents of one file that the stand-in server serves: held in memory, or read from a file
// on disk piece by piece as clients ask for it, so that a large file is never copied whole. The
// zlib stream of a single reply is made once, on first use, and kept.
//
// Safe to share between connections: reads never move a shared file position. A file on disk
// is held open only while a transfer reads it (Opened), so that a folder of any number of files
// is served without holding a descriptor per file.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/types.h"

class ServedFile {
public:
    static std::shared_ptr<const ServedFile> FromContents(std::string contents);
    // Null when path names no regular file that can be opened.
    static std::shared_ptr<const ServedFile> FromDisk(const std::string& path);
    // The same contents, with a file on disk held open for the reads of one transfer; file
    // itself when it is held in memory or cannot be opened now (each read then opens it).
    static std::shared_ptr<const ServedFile> Opened(std::shared_ptr<const ServedFile> file);

    ~ServedFile();
    ServedFile(const ServedFile&) = delete;
    ServedFile& operator=(const ServedFile&) = delete;

    ULONGLONG Size() const;
    // Copies count bytes from offset on into out; false when they cannot all be read.
    bool Read(ULONGLONG offset, size_t count, BYTE* out) const;
    // The whole contents as one zlib stream; empty when the file cannot be read.
    const std::string& Compressed() const;

private:
    ServedFile(std::string contents, std::string path, ULONGLONG size, int descriptor);
    bool ReadFromDisk(ULONGLONG offset, size_t count, BYTE* out) const;

    std::string m_contents;
    // Empty for contents held in memory.
    std::string m_path;
    ULONGLONG m_size;
    // -1 unless the file is held open.
    int m_descriptor;
    mutable std::once_flag m_compressOnce;
    mutable std::string m_compressed;
};
