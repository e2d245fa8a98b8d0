// Named pipes of the local machine, client end. The pipe "\\.\Pipe\NAME" is the Unix domain
// socket of type SOCK_SEQPACKET at <pipe folder>/NAME, and one pipe message is one packet, so
// message boundaries survive the trip as they do on a Windows message pipe.
#pragma once

#include <string>

#include "platform/types.h"

// Read modes and wait modes of SetNamedPipeHandleState.
#define PIPE_READMODE_BYTE 0x00000000u
#define PIPE_READMODE_MESSAGE 0x00000002u
#define PIPE_WAIT 0x00000000u
#define PIPE_NOWAIT 0x00000001u

// The folder that holds the pipes' sockets: $KELVANE_PIPE_DIR, else $XDG_RUNTIME_DIR, else
// /tmp (an empty variable counts as unset).
std::string PipeFolder();

// The socket path of the pipe NAME (the part after "\\.\Pipe\"). Empty, with the last error
// set, for a name that cannot name a socket of the pipe folder: empty, holding a separator or
// a NUL (ERROR_INVALID_NAME), or too long for a socket address (ERROR_FILENAME_EXCED_RANGE).
std::string PipeSocketPath(const std::u16string& name);

// CreateFileW's road for pipe names: connects to the pipe NAME. A pipe that no server offers
// fails with ERROR_FILE_NOT_FOUND, a server whose queue of waiting clients is full with
// ERROR_PIPE_BUSY. The handle starts in byte read mode, as on Windows; GENERIC_READ allows
// ReadFile and GENERIC_WRITE WriteFile.
HANDLE OpenPipeClient(const std::u16string& name, DWORD access);

// Sets the read mode of a client handle. Only PIPE_WAIT is supported (PIPE_NOWAIT fails with
// ERROR_INVALID_PARAMETER), and the collection count and time-out, meaningless for a pipe on
// the same machine, must be null (else ERROR_INVALID_PARAMETER). A null mode changes nothing.
//
// In message read mode a ReadFile too small for the next message gives what fits with
// ERROR_MORE_DATA and the rest on the following reads. In byte read mode it gives what fits
// and succeeds; a read never runs on into the following message.
BOOL SetNamedPipeHandleState(HANDLE pipe, DWORD* mode, DWORD* maxCollectionCount,
                             DWORD* collectDataTimeout);
