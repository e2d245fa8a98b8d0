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

// The folder part of a path, its last separator included; empty for a bare name.
std::u16string FolderOf(const WCHAR* path)
{
    const std::u16string text(path);
    const size_t separator = text.find_last_of(u"/\\");
    return separator == std::u16string::npos ? std::u16string() : text.substr(0, separator + 1);
}

} // namespace

bool CTransferFile::Create(const WCHAR* destination)
{
    Discard();
    // Named after the destination, so that a file a crash leaves behind tells what it was
    // for; beside a name too near the file system's limit for that, a short hidden name.
    std::u16string stem = destination;
    const std::u16string folder = FolderOf(destination);
    for (DWORD attempt = 0; attempt < kNameAttempts; ++attempt) {
        m_path = FormatString(u"%s.kelvane-%lu-%lu.tmp", stem.c_str(), GetCurrentProcessId(),
                              ++g_transferCount);
        m_file = CreateFileW(m_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE, nullptr);
        if (m_file != INVALID_HANDLE_VALUE)
            return true;
        const DWORD error = GetLastError();
        if (error == ERROR_FILENAME_EXCED_RANGE && stem != folder) {
            stem = folder;
            continue;
        }
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
