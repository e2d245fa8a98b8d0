#include "platform/KernelObject.h"

#include <unistd.h>

#include <mutex>
#include <unordered_map>

#include "platform/error.h"

namespace {

std::mutex g_tableLock;
std::unordered_map<HANDLE, std::shared_ptr<KernelObject>>& Table()
{
    static auto* table = new std::unordered_map<HANDLE, std::shared_ptr<KernelObject>>();
    return *table;
}

}  // namespace

HANDLE FailOpen(int fd, DWORD code)
{
    if (fd >= 0)
        close(fd);
    SetLastError(code);
    return INVALID_HANDLE_VALUE;
}

BOOL KernelObject::Read(void*, DWORD, DWORD* read)
{
    if (read != nullptr)
        *read = 0;
    SetInvalidHandleError();
    return FALSE;
}

BOOL KernelObject::Write(const void*, DWORD, DWORD* written)
{
    if (written != nullptr)
        *written = 0;
    SetInvalidHandleError();
    return FALSE;
}

BOOL KernelObject::Flush()
{
    SetInvalidHandleError();
    return FALSE;
}

HANDLE RegisterHandle(std::shared_ptr<KernelObject> object)
{
    HANDLE handle = object.get();
    std::lock_guard<std::mutex> lock(g_tableLock);
    Table()[handle] = std::move(object);
    return handle;
}

std::shared_ptr<KernelObject> ReferenceKernelObject(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(g_tableLock);
    auto found = Table().find(handle);
    return found == Table().end() ? nullptr : found->second;
}

bool UnregisterHandle(HANDLE handle)
{
    std::shared_ptr<KernelObject> object;
    {
        std::lock_guard<std::mutex> lock(g_tableLock);
        auto found = Table().find(handle);
        if (found == Table().end()) {
            SetInvalidHandleError();
            return false;
        }
        object = std::move(found->second);
        Table().erase(found);
    }
    // The object's release (closing a descriptor, deleting a file) runs outside the lock.
    return true;
}

void SetInvalidHandleError()
{
    SetLastError(ERROR_INVALID_HANDLE);
}
