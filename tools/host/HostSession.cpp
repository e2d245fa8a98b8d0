#include "host/HostSession.h"

void HostSession::CloseChannel()
{
    if (channel == nullptr)
        return;
    exports.CloseChannel(channel);
    channel = nullptr;
}
