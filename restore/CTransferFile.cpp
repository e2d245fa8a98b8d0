#include "restore/CTransferFile.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/format.h"
#include "platform/module.h"
#include "platform/path.h"
#include "platform/placement.h"
#include "platform/sync.h"
#include "restore/LeftoverSweep.h"
#include "util/Cutil.h"

namespace {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kTransferFlags = FILE_ATTRIBUTE_ARCHIVE;
// What a copy in place sets again once it has written: the kernel clears these bits on a write.
constexpr DWORD kSetIdBits = 06000;
// The end of the name a complete new file keeps while it is copied in place: not that of a
// transfer file, so that no removal of leftovers takes it.
constexpr char16_t kKeptNameEnd[] = u".restored";
// Names tried before giving up; each costs one try only when a file already has it.
constexpr DWORD kNameAttempts = 100;
// The extended attribute that holds a file's capabilities.
constexpr char kCapabilities[] = "security.capability";
// A lock's length (both words) that takes the whole file, however it grows.
constexpr DWORD kWholeFile = 0xFFFFFFFF;
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

// The last component of a path.
std::u16string NameOf(const std::u16string& path)
{
    return path.substr(FolderOf(path).size());
}

// Runs claim(name) on names "<stem>.kelvane-<process>-<number><end>" until it takes one:
// named after the file they are for, so that one a crash leaves tells what it was for, or,
// where that name would be too long for the file system, the short hidden name in the stem's
// folder. A name that is taken is never opened; the next number is tried. False, with the
// last error, when claim failed otherwise or every name was taken.
template <typename Claim>
bool ClaimName(const std::u16string& stem, const char16_t* end, Claim claim, std::u16string* name)
{
    const DWORD process = GetCurrentProcessId();
    std::u16string prefix = stem;
    for (DWORD attempt = 0; attempt < kNameAttempts; ++attempt) {
        *name = FormatString(u"%s%s%lu-%lu%s", prefix.c_str(), kTransferNameMark, process,
                             ++g_transferCount, end);
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

// Locks the file as every transfer file is locked while it has a name, so that no removal of
// leftovers, in this process or another, takes it for abandoned. True also where the file
// system keeps no locks: no removal can lock it there either.
bool LockAgainstRemoval(HANDLE file)
{
    OVERLAPPED start{};
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, kWholeFile,
                      kWholeFile, &start) ||
           GetLastError() == ERROR_NOT_SUPPORTED;
}

// Whether a write takes some of security from the file it is given to: the kernel clears the
// set-id bits of the mode and removes the file's capabilities on a write.
bool WritesClear(const FileSecurity& security)
{
    return (security.mode & kSetIdBits) != 0 ||
           std::any_of(security.attributes.begin(), security.attributes.end(),
                       [](const auto& attribute) { return attribute.first == kCapabilities; });
}

// Whether name still names the open file.
bool NamesFile(const std::u16string& name, HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION named{};
    BY_HANDLE_FILE_INFORMATION open{};
    return CheckFileAccessW(name.c_str(), 0, &named) && GetFileInformationByHandle(file, &open) &&
           IsSameFile(named, open);
}

}  // namespace

bool CTransferFile::Check(const WCHAR* destination)
{
    Discard();
    m_kept.clear();
    m_destination = destination;
    // A missing file is made in its folder, which must take one; an existing one can still
    // be written in place.
    return ResolveLinksW(destination, &m_target) && Examine() &&
           (m_exists || CheckFolderAccessW(FolderOf(m_target).c_str()));
}

bool CTransferFile::Create()
{
    m_beside = CreateIn(FolderOf(m_target), m_target);
    // A folder that takes no new file: the existing file can still be written in place.
    return m_beside ||
           (m_exists && GetLastError() == ERROR_ACCESS_DENIED && CreateInTemporaryFolder());
}

// Finds what the target is: missing, or a file this process may read and write, with its
// number of names and its security. False, with the error of the check, for a target that an
// open for reading and writing would refuse, and for a device or a pipe, which a restore
// cannot cut or replace.
bool CTransferFile::Examine()
{
    m_securityGiven = Giving::NotTried;
    m_stamp = {};
    m_exists = CheckFileAccessW(m_target.c_str(), kReadWrite, &m_found) != FALSE;
    if (!m_exists)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    if (m_found.dwFileAttributes == FILE_ATTRIBUTE_DEVICE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // Security that cannot be read cannot be given: such a file is written in place. The
    // stamp comes from the same status read, so that any change after it shows.
    m_securityKnown = GetFileSecurityW(m_target.c_str(), &m_security, &m_stamp) != FALSE;
    SetLastError(ERROR_SUCCESS);
    return true;
}

// Takes in what became of the examined file while the data travelled (another name, another
// mode, owner or attribute), as long as the target still names it: a name that now holds
// another file, or a link to one, is replaced as it was examined, and nothing is examined
// through it. One status read tells that nothing changed, as is usual.
bool CTransferFile::ExamineAgain()
{
    FileStamp now;
    if (!m_exists || !GetFileStampW(m_target.c_str(), &now) || now == m_stamp ||
        !now.IsSameFile(m_stamp))
        return true;
    return Examine();
}

// Creates the file in folder, without a name where the file system allows, else under a name
// of its own made from stem.
bool CTransferFile::CreateIn(const std::u16string& folder, const std::u16string& stem)
{
    RemoveLeftovers(folder, folder == FolderOf(m_target) ? NameOf(m_target) : std::u16string());
    m_folder = folder;
    m_locked = false;
    // Shared with every open: once renamed, the file is the destination, which another
    // restore of the same path may check while this handle is still being closed.
    m_file = CreateUnnamedFileW(folder.c_str(), kShareAll, kTransferFlags);
    if (m_file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_NOT_SUPPORTED)
        return m_file != INVALID_HANDLE_VALUE;
    return ClaimName(
        stem, kTransferNameEnd,
        [this](const std::u16string& name) {
            // Reachable by its name while the data arrives, it is no one else's to open from
            // the moment it exists.
            m_file = CreatePrivateFileW(name.c_str(), kShareAll, kTransferFlags);
            if (m_file == INVALID_HANDLE_VALUE)
                return false;
            m_locked = LockAgainstRemoval(m_file);
            if (m_locked && NamesFile(name, m_file))
                return true;
            // A removal of leftovers took the new file for abandoned before it was locked.
            Close();
            SetLastError(ERROR_ALREADY_EXISTS);
            return false;
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
                               const WCHAR** failedStep, const std::function<void()>& beforeCopy)
{
    // A single reply may go elsewhere than where the download was checked: to a path whose
    // folders it has just created. What was checked may no longer hold once the data is
    // there: the user may have given the file another name or another mode meanwhile.
    if (m_destination != destination) {
        *failedStep = u"ResolveLinks";
        if (!ResolveLinksW(destination, &m_target) || !Examine())
            return false;
        m_destination = destination;
    } else {
        *failedStep = u"CheckFileAccess";
        if (!ExamineAgain())
            return false;
    }
    if (fileTime > 0)
        Cutil::SetFileTime(m_file, fileTime);
    // Given before the flush, so that one flush makes the data, the time and the security
    // durable.
    const bool renames = CanRename();
    *failedStep = u"FlushFileBuffers";
    if (!FlushFileBuffers(m_file))
        return false;
    // A refused rename (a mount point, a folder that lets only the file's owner replace it,
    // another file system) leaves a copy in place to try; a file that was not there has
    // nothing to keep in place.
    if (renames && Rename(failedStep))
        return true;
    return m_exists && CopyInPlace(fileTime, failedStep, beforeCopy);
}

void CTransferFile::Prepare()
{
    m_locked = m_locked || LockAgainstRemoval(m_file);
    // A file with a name gets the target's mode only once its data is complete.
    if (m_securityGiven == Giving::NotTried && m_beside && m_exists && m_name.empty())
        GiveSecurity();
}

void CTransferFile::GiveSecurity()
{
    m_securityGiven = m_found.nNumberOfLinks == 1 && m_securityKnown &&
                         SetFileSecurityByHandle(m_file, m_security,
                                                 kSecurityOwner | kSecurityMode |
                                                     kSecurityAttributes)
                     ? Giving::Given
                     : Giving::Refused;
}

// Whether a rename can put the file in the target's place and keep what the target is: the
// file is beside it, and the target is missing, or has one name only and a security that the
// file was given. A file that was private under a name of its own while its data arrived, and
// takes a free name, is given the mode of any new file there (where that cannot be told, it
// stays private).
bool CTransferFile::CanRename()
{
    if (!m_beside)
        return false;
    if (!m_exists) {
        FileSecurity created;
        if (!m_name.empty() && GetNewFileModeW(m_folder.c_str(), &created.mode))
            SetFileSecurityByHandle(m_file, created, kSecurityMode);
        return true;
    }
    if (m_securityGiven == Giving::NotTried)
        GiveSecurity();
    if (m_securityGiven != Giving::Given)
        return false;
    return !WritesClear(m_security) ||
           SetFileSecurityByHandle(m_file, m_security, kSecurityMode | kSecurityAttributes);
}

// Puts the file at the target: a free name it takes directly; an existing target it replaces
// by one rename of a name of its own beside the target.
bool CTransferFile::Rename(const WCHAR** failedStep)
{
    *failedStep = u"LinkFile";
    if (!m_exists && m_name.empty()) {
        if (LinkFileW(m_file, m_target.c_str())) {
            Close();
            return true;
        }
        // A file took the name meanwhile: it is replaced as the rename below replaces.
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    // Locked before it has a name, which it keeps only until the rename.
    if (m_name.empty() &&
        (!(m_locked = m_locked || LockAgainstRemoval(m_file)) ||
         !ClaimName(
             m_target, kTransferNameEnd,
             [this](const std::u16string& name) { return LinkFileW(m_file, name.c_str()); },
             &m_name)))
        return false;
    *failedStep = m_exists ? u"ReplaceFile" : u"MoveFileEx";
    if (m_exists
            ? !ReplaceFileW(m_target.c_str(), m_name.c_str(), nullptr, 0, nullptr, nullptr)
            : !MoveFileExW(m_name.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING))
        return false;
    m_name.clear();
    Close();
    return true;
}

// Writes the whole file into the target from its start, cuts the target there and flushes it.
// Nothing is written before the room for it is reserved and the complete file has a name of
// its own (KeptName), which goes only once the copy is on the disk. Once begun, the copy is
// not cancelled part-way: a cancellation of the thread acts when it is done.
bool CTransferFile::CopyInPlace(int32_t fileTime, const WCHAR** failedStep,
                                const std::function<void()>& beforeCopy)
{
    const CancellationHold hold;
    *failedStep = u"copy in place";
    const OwnedHandle out(OpenExaminedTarget());
    if (out.get() == INVALID_HANDLE_VALUE)
        return false;
    *failedStep = u"reserve room";
    if (!ReserveRoom(out.get()))
        return false;
    if (CopyIntoReserved(out.get(), fileTime, failedStep, beforeCopy))
        return true;
    // What the reservation took past the target's end is not left to fill the disk.
    const DWORD error = GetLastError();
    FreeReservedRoom(out.get());
    SetLastError(error);
    return false;
}

// The copy in place once the target has room for the new file.
bool CTransferFile::CopyIntoReserved(HANDLE out, int32_t fileTime, const WCHAR** failedStep,
                                     const std::function<void()>& beforeCopy)
{
    *failedStep = u"LinkFile";
    std::u16string kept;
    // A file with a transfer name (a rename refused, or a file system without unnamed files)
    // trades it for the kept name: a copy killed part-way leaves one name, which tells what it
    // holds, rather than a transfer name that no removal of leftovers takes from a file of two.
    if (!KeepPrivate() ||
        !ClaimName(
            m_folder + NameOf(m_target), kKeptNameEnd,
            [this](const std::u16string& name) {
                return m_name.empty() ? LinkFileW(m_file, name.c_str())
                                      : MoveFileW(m_name.c_str(), name.c_str());
            },
            &kept))
        return false;
    m_name.clear();
    m_kept = kept;
    *failedStep = u"copy in place";
    beforeCopy();
    // What the target is right before its first change and right after it: the set-id bits
    // the kernel took then, from a writer that may not keep them, are those given back.
    FileSecurity before;
    FileSecurity changed;
    bool changeRead = false;
    const auto readChange = [&] { changeRead = changeRead || GetFileModeByHandle(out, &changed); };
    GetFileModeByHandle(out, &before);
    // An empty new file changes the target first by the cut.
    if (!CopyData(out, readChange) || !SetEndOfFile(out))
        return false;
    readChange();
    if (fileTime > 0)
        Cutil::SetFileTime(out, fileTime);
    if (changeRead)
        GiveSetIdBitsBack(out, before, changed);
    if (!FlushFileBuffers(out))
        return false;
    RemoveFileNameW(m_file, m_kept.c_str());
    m_kept.clear();
    Discard();
    return true;
}

// Gives the target back the set-id bits that its first change cleared (before it, and right
// after it, changed), where the process may set them, as long as nothing else changed its
// owner, group or mode since: a bit that someone took away during the copy stays away. A
// writer who keeps the bits (root) has nothing to give back.
void CTransferFile::GiveSetIdBitsBack(HANDLE out, const FileSecurity& before,
                                      const FileSecurity& changed)
{
    const DWORD cleared = before.mode & ~changed.mode & kSetIdBits;
    FileSecurity now;
    if (cleared == 0 || before.owner != changed.owner || before.group != changed.group ||
        !GetFileModeByHandle(out, &now) || now.mode != changed.mode ||
        now.owner != changed.owner || now.group != changed.group)
        return;
    now.mode |= cleared;
    SetFileSecurityByHandle(out, now, kSecurityMode);
}

// Opens the target for the copy in place, but only while it is still the file that Check
// examined: the download takes time, and a name in a folder others may write could meanwhile
// have become a link to, or another, file that the copy must not write into. ERROR_FILE_NOT_FOUND
// when the file there is another.
HANDLE CTransferFile::OpenExaminedTarget()
{
    HANDLE out = CreateFileW(m_target.c_str(), kReadWrite, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION opened{};
    if (out == INVALID_HANDLE_VALUE ||
        (GetFileInformationByHandle(out, &opened) && IsSameFile(opened, m_found)))
        return out;
    CloseHandle(out);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

// Makes the complete file, about to get a name that may outlive the copy, readable by the
// target's owner alone: it must not show the new version to anyone the target hides it from.
// As root the file is given to that owner, who may then read it; elsewhere it stays the
// restoring user's.
bool CTransferFile::KeepPrivate()
{
    const DWORD ownerOnly = m_securityKnown ? (m_security.mode & 0700) : 0600;
    FileSecurity kept{ownerOnly, m_security.owner, m_security.group, {}};
    if (!SetFileSecurityByHandle(m_file, kept, kSecurityMode))
        return false;
    if (m_securityKnown)
        SetFileSecurityByHandle(m_file, kept, kSecurityOwner);
    return true;
}

// Reserves the room the target needs to hold the file's bytes, so that the copy cannot run
// out of it after overwriting old bytes: past the target's end, and in its holes when it is
// sparse, whether the new file is larger than the target or not.
bool CTransferFile::ReserveRoom(HANDLE out)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_file, &size))
        return false;
    FILE_ALLOCATION_INFO room{size};
    return SetFileInformationByHandle(out, FileAllocationInfo, &room, sizeof room) != FALSE;
}

// Writes the file's bytes into out from out's position, calling afterFirstWrite once the
// first of them are written.
bool CTransferFile::CopyData(HANDLE out, const std::function<void()>& afterFirstWrite)
{
    LARGE_INTEGER start;
    start.QuadPart = 0;
    if (!SetFilePointerEx(m_file, start, nullptr, FILE_BEGIN))
        return false;
    std::vector<BYTE> block(kCopyBlock);
    for (bool first = true;; first = false) {
        DWORD read = 0;
        DWORD written = 0;
        if (!ReadFile(m_file, block.data(), kCopyBlock, &read, nullptr))
            return false;
        if (read == 0)
            return true;
        if (!WriteFile(out, block.data(), read, &written, nullptr))
            return false;
        if (first)
            afterFirstWrite();
    }
}

void CTransferFile::Discard()
{
    const DWORD error = GetLastError();
    if (!m_name.empty() && m_file != INVALID_HANDLE_VALUE)
        RemoveFileNameW(m_file, m_name.c_str());
    m_name.clear();
    Close();
    SetLastError(error);
}

void CTransferFile::Close()
{
    if (m_file != INVALID_HANDLE_VALUE) {
        CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
}
