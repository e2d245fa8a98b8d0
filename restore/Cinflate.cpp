#include "restore/Cinflate.h"

#include <cstring>

#include <zlib.h>

namespace {

bool IsFatal(int status)
{
    return status == Z_MEM_ERROR || status == Z_DATA_ERROR || status == Z_STREAM_ERROR ||
           status == Z_NEED_DICT;
}

}  // namespace

DWORD Cinflate::Inflate(void* out, DWORD* outLength, const void* in, DWORD inLength,
                        INT* zlibStatus)
{
    const DWORD capacity = *outLength;
    *outLength = 0;
    *zlibStatus = Z_STREAM_ERROR;
    if (capacity == 0)
        return 0;
    BYTE* work = static_cast<BYTE*>(m_util.AllocateMemory(kWorkSize));
    if (work == nullptr) {
        *zlibStatus = Z_MEM_ERROR;
        return 0;
    }
    z_stream stream{};
    stream.next_in = static_cast<Bytef*>(const_cast<void*>(in));
    stream.avail_in = inLength;
    int status = inflateInit_(&stream, kZlibVersion, static_cast<int>(sizeof stream));
    if (status != Z_OK) {
        *zlibStatus = status;
        Cutil::FreePacket(work);
        return 0;
    }
    BYTE* bytes = static_cast<BYTE*>(out);
    // Room for data: the zero byte after it always has its place.
    const DWORD room = capacity - 1;
    DWORD produced = 0;
    bool fits = true;
    do {
        stream.next_out = work;
        stream.avail_out = kWorkSize;
        status = inflate(&stream, Z_NO_FLUSH);
        if (IsFatal(status))
            break;
        const DWORD piece = kWorkSize - stream.avail_out;
        if (piece > room - produced) {
            fits = false;
            break;
        }
        std::memcpy(bytes + produced, work, piece);
        produced += piece;
    } while (stream.avail_out == 0 && status != Z_STREAM_END);
    inflateEnd(&stream);
    Cutil::FreePacket(work);
    *zlibStatus = fits ? status : Z_BUF_ERROR;
    // A stream that stops before its end (input cut short) would leave a truncated file that
    // looks complete; only the end of the stream, whose checksum zlib has verified, counts.
    if (!fits || status != Z_STREAM_END)
        return 0;
    bytes[produced] = 0;
    *outLength = produced;
    return 1;
}
