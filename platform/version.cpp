#include "platform/version.h"

#include "platform/error.h"

DWORD GetFileVersionInfoSizeW(LPCWSTR path, DWORD* handle)
{
    if (handle != nullptr)
        *handle = 0;
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
}

BOOL GetFileVersionInfoW(LPCWSTR path, DWORD handle, DWORD size, LPVOID data)
{
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
}

BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length)
{
    if (buffer != nullptr)
        *buffer = nullptr;
    if (length != nullptr)
        *length = 0;
    return FALSE;
}
