#include "connection/CCreatePacket.h"

#include <cstring>

#include "util/Cutil.h"

DWORD CCreatePacket::Disconnect(void** packet)
{
    return BuildCodeOnly(packet, kDisconnect);
}

DWORD CCreatePacket::GetCommandIndex(void** packet)
{
    return BuildCodeOnly(packet, kGetCommandIndex);
}

DWORD CCreatePacket::BuildCodeOnly(void** packet, DWORD code)
{
    const DWORD length = sizeof code;
    *packet = Cutil::AllocatePacket(length + kSlack);
    if (*packet == nullptr)
        return 0;
    std::memcpy(*packet, &code, sizeof code);
    return length;
}
