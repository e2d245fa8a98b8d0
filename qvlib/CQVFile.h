// A file handle on a wide path. Every operation stores its outcome in the object's error and
// as the thread's last error; a failure leaves the object usable.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"
#include "qvlib/CQVError.h"

#ifndef ERROR_BAD_FORMAT
#define ERROR_BAD_FORMAT 11
#endif
#ifndef ERROR_BUFFER_OVERFLOW
#define ERROR_BUFFER_OVERFLOW 111
#endif
#ifndef ERROR_INVALID_TARGET_HANDLE
#define ERROR_INVALID_TARGET_HANDLE 114
#endif
#ifndef ERROR_BAD_ARGUMENTS
#define ERROR_BAD_ARGUMENTS 160
#endif

class CQVFile {
public:
    static constexpr size_t kMaxPathLength = 65535;

    CQVFile();
    // Closes a handle that its owner left open.
    virtual ~CQVFile();
    CQVFile(const CQVFile&) = delete;
    CQVFile& operator=(const CQVFile&) = delete;

    uint32_t SetPath(const char16_t* path);
    void ClearPath();
    const std::u16string& GetPath() const { return m_path; }

    // Whether the path names an existing file or folder; sets no code.
    uint32_t Exists() const;
    uint32_t Open(uint32_t access, uint32_t disposition, uint32_t flagsAndAttributes);
    uint32_t Close();
    // Reads count bytes at the current position; how many arrived is not reported.
    uint32_t Read(void* buffer, uint32_t count);
    // Writes at the end of the file.
    uint32_t Append(const void* buffer, uint32_t count, uint32_t* written);
    // method: FILE_BEGIN, FILE_CURRENT or FILE_END; offset receives the new position.
    uint32_t Seek(int64_t* offset, uint32_t method);
    // The file's size, all ones when it cannot be read.
    uint64_t GetSize();

    bool IsOpen() const;
    const CQVError& GetError() const { return m_error; }
    CQVError& GetError() { return m_error; }

private:
    uint32_t Fail(uint32_t code);
    uint32_t FailWithLastError();
    uint32_t Succeed();

    CQVError m_error;
    HANDLE m_handle;
    std::u16string m_path;
};
