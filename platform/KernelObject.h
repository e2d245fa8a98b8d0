// What a HANDLE stands for. Each kind of object (file, file search, pipe, ...) derives from
// KernelObject; the handle value is the object's address, registered in a process-wide
// table so that a stale or foreign value is refused with ERROR_INVALID_HANDLE instead of
// being followed.
#pragma once

#include <memory>

#include "platform/types.h"

class KernelObject {
public:
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    // Releases what the object holds; runs when the last user lets go after CloseHandle.
    virtual ~KernelObject() = default;

    // ReadFile, WriteFile and FlushFileBuffers on this object. Objects that do not support
    // an operation fail it with ERROR_INVALID_HANDLE.
    virtual BOOL Read(void* buffer, DWORD toRead, DWORD* read);
    virtual BOOL Write(const void* buffer, DWORD toWrite, DWORD* written);
    virtual BOOL Flush();
};

// Sets the thread's last error to ERROR_INVALID_HANDLE.
void SetInvalidHandleError();

// Ends an open that failed: closes the descriptor (when there is one), sets the thread's
// last error to code and gives INVALID_HANDLE_VALUE.
HANDLE FailOpen(int fd, DWORD code);

// Takes ownership of the object and gives the handle that names it.
HANDLE RegisterHandle(std::shared_ptr<KernelObject> object);

// The object a handle names, kept alive while the caller holds it; null with last error
// ERROR_INVALID_HANDLE when the handle names no object of type T.
template <typename T>
std::shared_ptr<T> ReferenceHandle(HANDLE handle);
std::shared_ptr<KernelObject> ReferenceKernelObject(HANDLE handle);

template <typename T>
std::shared_ptr<T> ReferenceHandle(HANDLE handle)
{
    std::shared_ptr<T> object = std::dynamic_pointer_cast<T>(ReferenceKernelObject(handle));
    if (object == nullptr)
        SetInvalidHandleError();
    return object;
}

// Removes the handle from the table; the object goes when its last user lets go. Gives
// false (last error ERROR_INVALID_HANDLE) for a handle that names nothing.
bool UnregisterHandle(HANDLE handle);
