#include "restore/CTransferFile.h"

#include <atomic>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/module.h"

namespace {

// Names tried before giving up; each costs one try only when a file already has it.
constexpr DWORD kNameAttempts = 100;

// Numbers the transfer files of this process, so that no two of its downloads share a name;
// the process id keeps them apart from those of other processes.
std::atomic<DWORD> g_transferCount{0};

} // namespace

bool CTransferFile::Create(const WCHAR* destination)
{
    Discard();
    for (DWORD attempt = 0; attempt < kNameAttempts; ++attempt) {
        m_path = FormatString(u"%s.kelvane-%lu-%lu.tmp", destination, GetCurrentProcessId(),
                              ++g_transferCount);
        m_file = CreateFileW(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE, nullptr);
        if (m_file != INVALID_HANDLE_VALUE)
            return true;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    m_path.clear();
    return false;
}

bool CTransferFile::FlushAndClose()
{
    const bool flushed = FlushFileBuffers(m_file) != FALSE;
    const DWORD error = GetLastError();
    Close();
    SetLastError(error);
    return flushed;
}

bool CTransferFile::Replace(const WCHAR* destination)
{
    Close();
    if (!MoveFileExW(m_path.c_str(), destination, MOVEFILE_REPLACE_EXISTING))
        return false;
    m_path.clear();
    return true;
}

void CTransferFile::Discard()
{
    const DWORD error = GetLastError();
    Close();
    if (!m_path.empty()) {
        DeleteFileW(m_path.c_str());
        m_path.clear();
    }
    SetLastError(error);
}

void CTransferFile::Close()
{
    if (m_file != INVALID_HANDLE_VALUE) {
        CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
}
