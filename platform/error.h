// The thread's last system error, as GetLastError/SetLastError keep it on Windows.
#pragma once

#include "platform/types.h"

DWORD GetLastError();
void SetLastError(DWORD code);

// The Win32 error code that stands for a POSIX errno value; the one place they are mapped.
DWORD Win32ErrorFromErrno(int error);

// Sets the thread's last error from errno and gives that code.
DWORD SetLastErrorFromErrno();
