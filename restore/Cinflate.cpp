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
    z_stream stream{};
    stream.next_in = static_cast<Bytef*>(const_cast<void*>(in));
    stream.avail_in = inLength;
    int status = inflateInit_(&stream, kZlibVersion, static_cast<int>(sizeof stream));
    if (status != Z_OK) {
        *zlibStatus = status;
        return 0;
    }
    BYTE* bytes = static_cast<BYTE*>(out);
    // Room for data: the zero byte after it always has its place.
    const DWORD room = capacity - 1;
    DWORD produced = 0;
    bool fits = true;
    // Needed only near the end of the buffer, where a whole work area no longer fits.
    BYTE* work = nullptr;
    do {
        // While whole work areas fit, zlib writes straight into the buffer, as many of them
        // as fit at once: the same bytes as work area after work area, without their copies.
        const DWORD wholeAreas = (room - produced) / kWorkSize * kWorkSize;
        const bool direct = wholeAreas > 0;
        const DWORD area = direct ? wholeAreas : kWorkSize;
        if (!direct && work == nullptr &&
            (work = static_cast<BYTE*>(m_util.AllocateMemory(kWorkSize))) == nullptr) {
            status = Z_MEM_ERROR;
            break;
        }
        stream.next_out = direct ? bytes + produced : work;
        stream.avail_out = area;
        status = inflate(&stream, Z_NO_FLUSH);
        if (IsFatal(status))
            break;
        const DWORD piece = area - stream.avail_out;
        if (!direct) {
            if (piece > room - produced) {
                fits = false;
                break;
            }
            std::memcpy(bytes + produced, work, piece);
        }
        produced += piece;
    } while (stream.avail_out == 0 && status != Z_STREAM_END);
    inflateEnd(&stream);
    if (work != nullptr)
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
