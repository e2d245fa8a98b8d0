// System message texts and string resources.
#pragma once

#include "platform/types.h"

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u

#ifndef ERROR_MR_MID_NOT_FOUND
#define ERROR_MR_MID_NOT_FOUND 317
#endif
#ifndef ERROR_RESOURCE_NAME_NOT_FOUND
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814
#endif

// Only FORMAT_MESSAGE_FROM_SYSTEM is served: the English text Windows gives for the system and
// Winsock error codes that this platform produces, with its line end ("\r\n"). Any language
// id is answered in English. Gives the characters written without the terminator; 0 with
// ERROR_MR_MID_NOT_FOUND for an unknown code, ERROR_INSUFFICIENT_BUFFER when the text does
// not fit (the buffer then holds an empty text), ERROR_INVALID_PARAMETER for other sources.
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                     LPWSTR buffer, DWORD capacity, void* arguments);

// Modules on this platform carry no string tables: always 0 with
// ERROR_RESOURCE_NAME_NOT_FOUND, and an empty text in the buffer when it has room.
int LoadStringW(HMODULE module, UINT id, LPWSTR buffer, int capacity);
