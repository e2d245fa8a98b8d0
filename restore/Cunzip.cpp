#include "restore/Cunzip.h"

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
    *out = buffer;
    *outLength = length;
    return 1;
}
