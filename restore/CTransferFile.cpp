#include "restore/CTransferFile.h"

#include <atomic>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/module.h"
#include "platform/path.h"
#include "platform/placement.h"
#include "restore/LeftoverSweep.h"
#include "util/Cutil.h"

namespace {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kTransferFlags = FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_ARCHIVE;
// Names tried before giving up; each costs one try only when a file already has it.
constexpr DWORD kNameAttempts = 100;
// The copy in place goes through a buffer of this many bytes.
constexpr DWORD kCopyBlock = 1 << 20;

// Numbers the transfer files of this process, so that no two of its downloads share a name;
// the process id keeps them apart from those of other processes.
std::atomic<DWORD> g_transferCount{0};

// The folder part of a path, its last separator included; empty for a bare name.
std::u16string FolderOf(const std::u16string& path)
{
    const size_t separator = path.find_last_of(u"/\\");
    return separator == std::u16string::npos ? std::u16string() : path.substr(0, separator + 1);
}

// Runs claim(name) on transfer file names for stem until it takes one: named after the file
// they are for, so that one a crash leaves tells what it was for, or, where that name would
// be too long for the file system, the short hidden name in the stem's folder. A name that
// is taken is never opened; the next number is tried. False, with the last error, when
// claim failed otherwise or every name was taken.
template <typename Claim>
bool ClaimName(const std::u16string& stem, Claim claim, std::u16string* name)
{
    std::u16string prefix = stem;
    for (DWORD attempt = 0; attempt < kNameAttempts; ++attempt) {
        *name = FormatString(u"%s%s%lu-%lu%s", prefix.c_str(), kTransferNameMark, GetCurrentProcessId(),
                             ++g_transferCount, kTransferNameEnd);
        if (claim(*name))
            return true;
        const DWORD error = GetLastError();
        if (error == ERROR_FILENAME_EXCED_RANGE && prefix != FolderOf(stem)) {
            prefix = FolderOf(stem);
            continue;
        }
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            break;
    }
    name->clear();
    return false;
}

}  // namespace

bool CTransferFile::Create(const WCHAR* destination)
{
    Discard();
    m_destination = destination;
    if (!ResolveLinksW(destination, &m_target))
        return false;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool exists = CheckFileAccessW(m_target.c_str(), kReadWrite, &information) != FALSE;
    if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    // A device or a pipe is not a file that a restore can cut or replace.
    if (exists && information.dwFileAttributes == FILE_ATTRIBUTE_DEVICE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    m_beside = CreateIn(FolderOf(m_target), m_target);
    // A folder that takes no new file: the existing file can still be written in place.
    if (!m_beside &&
        (!exists || GetLastError() != ERROR_ACCESS_DENIED || !CreateInTemporaryFolder()))
        return false;
    // While the data arrives it is no more readable than the file it will be.
    if (exists)
        CopyFileSecurityW(m_target.c_str(), m_file);
    return true;
}

// Creates the file in folder, without a name where the file system allows, else under a name
// of its own made from stem.
bool CTransferFile::CreateIn(const std::u16string& folder, const std::u16string& stem)
{
    RemoveLeftovers(folder);
    // Shared with every open: once renamed, the file is the destination, which another
    // restore of the same path may check while this handle is still being closed.
    m_file = CreateUnnamedFileW(folder.c_str(), kShareAll, kTransferFlags);
    if (m_file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_NOT_SUPPORTED)
        return m_file != INVALID_HANDLE_VALUE;
    return ClaimName(
        stem,
        [this](const std::u16string& name) {
            m_file = CreateFileW(name.c_str(), kReadWrite, kShareAll, nullptr, CREATE_NEW,
                                 kTransferFlags, nullptr);
            return m_file != INVALID_HANDLE_VALUE;
        },
        &m_name);
}

bool CTransferFile::CreateInTemporaryFolder()
{
    WCHAR folder[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, folder);
    if (length == 0 || length >= MAX_PATH) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return CreateIn(folder, folder);
}

bool CTransferFile::PutInPlace(const WCHAR* destination, int32_t fileTime,
                               const WCHAR** failedStep)
{
    // A single reply may go elsewhere than where the download was checked: to a path whose
    // folders it has just created.
    std::u16string target = m_target;
    if (m_destination != destination && !ResolveLinksW(destination, &target)) {
        *failedStep = u"ResolveLinks";
        return false;
    }
    if (fileTime > 0)
        Cutil::SetFileTime(m_file, fileTime);
    if (!FlushFileBuffers(m_file)) {
        *failedStep = u"FlushFileBuffers";
        return false;
    }
    if (CanRename(target)) {
        if (Rename(target, failedStep))
            return true;
        // A mount point, or another file system: no rename can get there.
        const DWORD error = GetLastError();
        if (error != ERROR_UNABLE_TO_REMOVE_REPLACED && error != ERROR_NOT_SAME_DEVICE)
            return false;
    }
    if (CopyInPlace(target, fileTime))
        return true;
    *failedStep = u"copy in place";
    return false;
}

// Whether a rename can put the file in target's place and keep what target is: the file is
// beside it, and target is missing, or has one name only and an owner and group that the
// process can give the file. The file takes target's mode, owner and group again for that,
// now that the data is in: writing may have cleared its set-user-id and set-group-id bits.
bool CTransferFile::CanRename(const std::u16string& target)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!m_beside)
        return false;
    if (!CheckFileAccessW(target.c_str(), 0, &information))
        return true;
    return information.nNumberOfLinks == 1 && CopyFileSecurityW(target.c_str(), m_file);
}

// Names the file beside target, when it has no name yet, and renames it over target: an
// existing target is replaced keeping what it was, a missing one is created by the rename.
bool CTransferFile::Rename(const std::u16string& target, const WCHAR** failedStep)
{
    *failedStep = u"LinkFile";
    if (m_name.empty() &&
        !ClaimName(
            target, [this](const std::u16string& name) { return LinkFileW(m_file, name.c_str()); },
            &m_name))
        return false;
    const bool exists = GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES;
    *failedStep = exists ? u"ReplaceFile" : u"MoveFileEx";
    if (exists ? !ReplaceFileW(target.c_str(), m_name.c_str(), nullptr, 0, nullptr, nullptr)
               : !MoveFileExW(m_name.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return false;
    m_name.clear();
    Close();
    return true;
}

// Writes the whole file into target from its start, cuts target there and flushes it.
bool CTransferFile::CopyInPlace(const std::u16string& target, int32_t fileTime)
{
    const OwnedHandle out(CreateFileW(target.c_str(), kReadWrite, kShareAll, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (out.get() == INVALID_HANDLE_VALUE || !SetFilePointerEx(m_file, start, nullptr, FILE_BEGIN))
        return false;
    std::vector<BYTE> block(kCopyBlock);
    for (;;) {
        DWORD read = 0;
        DWORD written = 0;
        if (!ReadFile(m_file, block.data(), kCopyBlock, &read, nullptr))
            return false;
        if (read == 0)
            break;
        if (!WriteFile(out.get(), block.data(), read, &written, nullptr))
            return false;
    }
    if (!SetEndOfFile(out.get()))
        return false;
    if (fileTime > 0)
        Cutil::SetFileTime(out.get(), fileTime);
    if (!FlushFileBuffers(out.get()))
        return false;
    Discard();
    return true;
}

void CTransferFile::Discard()
{
    const DWORD error = GetLastError();
    Close();
    if (!m_name.empty()) {
        DeleteFileW(m_name.c_str());
        m_name.clear();
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
