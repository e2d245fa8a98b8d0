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

}  // namespace

ServedFile::ServedFile(std::string contents, std::string path, ULONGLONG size)
    : m_contents(std::move(contents)), m_path(std::move(path)), m_size(size)
{
}

std::shared_ptr<const ServedFile> ServedFile::FromContents(std::string contents)
{
    const ULONGLONG size = contents.size();
    return std::shared_ptr<const ServedFile>(new ServedFile(std::move(contents), {}, size));
}

std::shared_ptr<const ServedFile> ServedFile::FromDisk(const std::string& path)
{
    int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(descriptor);
        return nullptr;
    }
    close(descriptor);
    return std::shared_ptr<const ServedFile>(
        new ServedFile({}, path, static_cast<ULONGLONG>(status.st_size)));
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
    const int descriptor = open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    size_t done = 0;
    while (done < count) {
        const ssize_t piece =
            pread(descriptor, out + done, count - done, static_cast<off_t>(offset + done));
        if (piece <= 0)
            break;
        done += static_cast<size_t>(piece);
    }
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
