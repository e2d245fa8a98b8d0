// The Blowfish key of one connection's credential packet: the shared 56-character template
// with its positions 0 to 9 rewritten from the decimal digits of the command index.
#pragma once

#include "platform/types.h"

constexpr DWORD kCredentialKeyLength = 56;

// Writes the 56 key characters and a terminator into key.
void BuildCredentialKey(ULONGLONG commandIndex, char key[kCredentialKeyLength + 1]);
