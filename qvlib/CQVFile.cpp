#include "qvlib/CQVFile.h"

#include "platform/error.h"
#include "platform/file.h"
#include "platform/memory.h"

namespace {
constexpr uint64_t kInvalidSize = ~uint64_t{0};

uint64_t SizeOfHandle(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information))
        return kInvalidSize;
    return (uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
}
}  // namespace

CQVFile::CQVFile() : m_handle(INVALID_HANDLE_VALUE) {}

CQVFile::~CQVFile()
{
    if (IsOpen())
        CloseHandle(m_handle);
    ClearPath();
}

bool CQVFile::IsOpen() const
{
    return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr;
}

uint32_t CQVFile::Fail(uint32_t code)
{
    m_error.SetCode(code);
    return 0;
}

uint32_t CQVFile::FailWithLastError()
{
    return Fail(GetLastError());
}

uint32_t CQVFile::Succeed()
{
    m_error.SetCode(ERROR_SUCCESS);
    return 1;
}

uint32_t CQVFile::SetPath(const char16_t* path)
{
    if (path == nullptr)
        return Fail(ERROR_BAD_ARGUMENTS);
    const size_t length = std::char_traits<char16_t>::length(path);
    if (length == 0 || length > kMaxPathLength)
        return Fail(ERROR_INVALID_NAME);
    ClearPath();
    m_path.assign(path, length);
    return Succeed();
}

void CQVFile::ClearPath()
{
    m_path.clear();
}

uint32_t CQVFile::Exists() const
{
    HANDLE probe = CreateFileW(m_path.c_str(), 0, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(probe);
    return 1;
}

uint32_t CQVFile::Open(uint32_t access, uint32_t disposition, uint32_t flagsAndAttributes)
{
    if (IsOpen())
        Close();
    m_handle = CreateFileW(m_path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           disposition, flagsAndAttributes, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE)
        return FailWithLastError();
    return Succeed();
}

uint32_t CQVFile::Close()
{
    if (!IsOpen())
        return Fail(ERROR_INVALID_HANDLE);
    if (!CloseHandle(m_handle))
        return 0;
    m_handle = INVALID_HANDLE_VALUE;
    return Succeed();
}

uint32_t CQVFile::Read(void* buffer, uint32_t count)
{
    if (!IsOpen())
        return Fail(ERROR_INVALID_TARGET_HANDLE);
    if (IsBadWritePtr(buffer, count))
        return Fail(ERROR_BUFFER_OVERFLOW);
    DWORD read = 0;
    if (!ReadFile(m_handle, buffer, count, &read, nullptr))
        return FailWithLastError();
    return Succeed();
}

uint32_t CQVFile::Append(const void* buffer, uint32_t count, uint32_t* written)
{
    if (!IsOpen())
        return Fail(ERROR_INVALID_TARGET_HANDLE);
    LARGE_INTEGER distance{};
    if (!SetFilePointerEx(m_handle, distance, nullptr, FILE_END))
        return FailWithLastError();
    DWORD done = 0;
    const BOOL ok = WriteFile(m_handle, buffer, count, &done, nullptr);
    if (written != nullptr)
        *written = done;
    if (!ok)
        return FailWithLastError();
    return Succeed();
}

uint32_t CQVFile::Seek(int64_t* offset, uint32_t method)
{
    if (!IsOpen())
        return Fail(ERROR_INVALID_TARGET_HANDLE);
    LARGE_INTEGER distance{};
    distance.QuadPart = *offset;
    LARGE_INTEGER position{};
    if (!SetFilePointerEx(m_handle, distance, &position, method))
        return FailWithLastError();
    *offset = position.QuadPart;
    return Succeed();
}

uint64_t CQVFile::GetSize()
{
    const bool temporary = !IsOpen();
    HANDLE handle = m_handle;
    if (temporary) {
        handle = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (handle == INVALID_HANDLE_VALUE)
            return kInvalidSize;
    }
    const uint64_t size = SizeOfHandle(handle);
    const DWORD code = size == kInvalidSize ? GetLastError() : ERROR_SUCCESS;
    if (temporary)
        CloseHandle(handle);
    m_error.SetCode(code);
    return size;
}
