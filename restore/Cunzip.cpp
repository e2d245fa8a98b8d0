#include "restore/Cunzip.h"

#include "platform/memory.h"
#include "restore/Cinflate.h"

DWORD Cunzip::Decompress(void** out, DWORD* outLength, const void* in, DWORD inLength)
{
    *out = nullptr;
    *outLength = 0;
    void* buffer = m_util.AllocateMemory(kOutputSize);
    if (buffer == nullptr)
        return 0;
    Cinflate inflater;
    DWORD length = kOutputSize;
    INT status = 0;
    if (!inflater.Inflate(buffer, &length, in, inLength, &status)) {
        Cutil::FreePacket(buffer);
        return 0;
    }
    // A small file leaves most of the 5 MiB untouched; the release then clears the pages
    // written here, and gives back those that an earlier, larger file left in memory.
    SetWrittenLength(buffer, length + 1);
    *out = buffer;
    *outLength = length;
    return 1;
}
