// Functions of the C host (HostInC.c), called from the C++ tests.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Opens a channel to a server text of blanks through the given OpenChannelNoUser and closes
// what it got with the given CloseChannel; 1 when no channel was opened.
int OpenBlankChannelFromC(void* openChannelNoUser, void* closeChannel);

#ifdef __cplusplus
}
#endif
