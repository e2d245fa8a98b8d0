#include "tools/server/ServedFile.h"

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

std::string Compress(const std::string& contents)
{
    uLongf length = compressBound(static_cast<uLong>(contents.size()));
    std::string stream(length, '\0');
    if (compress2(reinterpret_cast<Bytef*>(stream.data()), &length,
                  reinterpret_cast<const Bytef*>(contents.data()),
                  static_cast<uLong>(contents.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        return {};
    stream.resize(length);
    return stream;
}

// Opens the file for reading straight through; -1 on failure.
int OpenForReading(const std::string& path)
{
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor >= 0)
        posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    return descriptor;
}

}  // namespace

ServedFile::ServedFile(std::string contents, std::string path, ULONGLONG size, int descriptor)
    : m_contents(std::move(contents)), m_path(std::move(path)), m_size(size),
      m_descriptor(descriptor)
{
}

ServedFile::~ServedFile()
{
    if (m_descriptor >= 0)
        close(m_descriptor);
}

std::shared_ptr<const ServedFile> ServedFile::FromContents(std::string contents)
{
    const ULONGLONG size = contents.size();
    return std::shared_ptr<const ServedFile>(new ServedFile(std::move(contents), {}, size, -1));
}

std::shared_ptr<const ServedFile> ServedFile::FromDisk(const std::string& path)
{
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    struct stat status {};
    const bool regular = fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    close(descriptor);
    if (!regular)
        return nullptr;
    return std::shared_ptr<const ServedFile>(
        new ServedFile({}, path, static_cast<ULONGLONG>(status.st_size), -1));
}

std::shared_ptr<const ServedFile> ServedFile::Opened(std::shared_ptr<const ServedFile> file)
{
    if (file->m_path.empty())
        return file;
    const int descriptor = OpenForReading(file->m_path);
    if (descriptor < 0)
        return file;
    return std::shared_ptr<const ServedFile>(
        new ServedFile({}, file->m_path, file->m_size, descriptor));
}

ULONGLONG ServedFile::Size() const
{
    return m_size;
}

bool ServedFile::Read(ULONGLONG offset, size_t count, BYTE* out) const
{
    if (offset > m_size || count > m_size - offset)
        return false;
    if (count == 0)
        return true;
    if (m_path.empty()) {
        std::memcpy(out, m_contents.data() + offset, count);
        return true;
    }
    return ReadFromDisk(offset, count, out);
}

bool ServedFile::ReadFromDisk(ULONGLONG offset, size_t count, BYTE* out) const
{
    const int descriptor = m_descriptor >= 0 ? m_descriptor : OpenForReading(m_path);
    if (descriptor < 0)
        return false;
    size_t done = 0;
    while (done < count) {
        const ssize_t piece =
            pread(descriptor, out + done, count - done, static_cast<off_t>(offset + done));
        if (piece <= 0)
            break;
        done += static_cast<size_t>(piece);
    }
    if (descriptor != m_descriptor)
        close(descriptor);
    return done == count;
}

const std::string& ServedFile::Compressed() const
{
    std::call_once(m_compressOnce, [this] {
        if (m_path.empty()) {
            m_compressed = Compress(m_contents);
            return;
        }
        std::string contents(m_size, '\0');
        if (Read(0, contents.size(), reinterpret_cast<BYTE*>(contents.data())))
            m_compressed = Compress(contents);
    });
    return m_compressed;
}
