// Expected request payloads, written field by field, and the capture of a built packet.
#pragma once

#include <vector>

#include "platform/types.h"
#include "support/WireBytes.h"

using Bytes = std::vector<BYTE>;

// An expected request: the command word, then the fields a test adds.
WireBytes ExpectedPacket(DWORD command);

// The payload of a built packet (length bytes), with the buffer released. A refused build
// (length 0) must leave the packet pointer null; that is checked here too.
Bytes TakePacket(DWORD length, void* packet);
