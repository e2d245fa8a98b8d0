// The file a download writes until it is complete, and how it then takes the place of the file
// it restores (the destination), keeping that file as the user had it.
//
// Before the server is asked anything, the destination is checked as an open of it for
// reading and writing would check it, after its links are resolved: a link stays a link, and
// the file it points to is restored. What the destination is besides its bytes (mode, owner,
// extended attributes) is read then, and read again before the new file takes its place
// where it changed meanwhile. The transfer file is made beside that file, without
// a name where the file system allows, so that nothing the user has is opened, cut or removed
// while the data arrives, and a crash leaves nothing behind; one that must have a name is no
// one else's to open from the moment it exists.
//
// The destination's security is given to a transfer file without a name while the request
// travels, to a named one once its data is complete (a new file gets the mode of any new file
// there); either way what a write takes away (set-id bits, capabilities) is given again after
// the last write. The complete file is given the destination's time, written through to the
// disk, and takes the destination's place by one rename; until then the destination keeps its
// bytes. Where a rename would not keep the file as it was (more than one name, an owner or
// attribute the process cannot give, a folder that takes no new file, a mount point, a rename
// the folder refuses), the data is copied into the destination in place instead, once room for
// all of it is reserved; the complete new file then has a name of its own, logged before the
// first byte is copied, until the copy is on the disk, so that a copy that fails or dies
// part-way loses neither version. A cancellation of the thread waits for the copy's end.
#pragma once

#include <functional>
#include <string>

#include "platform/file.h"
#include "platform/placement.h"
#include "platform/types.h"

class CTransferFile {
public:
    CTransferFile() = default;
    CTransferFile(const CTransferFile&) = delete;
    CTransferFile& operator=(const CTransferFile&) = delete;
    // Removes the file unless it took its destination's place.
    ~CTransferFile() { Discard(); }

    // Checks destination. False, with the last error of the check, when it cannot be written,
    // or is missing in a folder that takes no new file.
    bool Check(const WCHAR* destination);
    // Creates the transfer file for the destination that Check accepted. False, with the last
    // error, when no file can be made; nothing has been changed then.
    bool Create();

    HANDLE Handle() const { return m_file; }
    // Readies the new file for taking the destination's place while the request travels: it
    // is locked as every transfer file is, and, while it has no name, given the destination's
    // security, so that PutInPlace gives back only what the writes clear.
    void Prepare();

    // Gives the complete file the time (seconds since 1970-01-01 UTC; 0 leaves it), writes it
    // through to the disk and puts it in destination's place. False, with the last error and
    // *failedStep naming the step, when it did not get there: the destination then keeps its
    // bytes, unless a copy in place failed part-way, which KeptName tells. A copy in place
    // calls beforeCopy once KeptName holds the whole file, right before its first byte is
    // written into the destination.
    bool PutInPlace(const WCHAR* destination, int32_t fileTime, const WCHAR** failedStep,
                    const std::function<void()>& beforeCopy);
    // The name under which the complete new file was left when a copy into the destination
    // failed part-way (the destination then holds part of it); empty otherwise.
    const std::u16string& KeptName() const { return m_kept; }
    // Closes and removes the file, if it is still there (a kept name stays).
    void Discard();

private:
    bool Examine();
    bool ExamineAgain();
    bool CreateIn(const std::u16string& folder, const std::u16string& stem);
    bool CreateInTemporaryFolder();
    void GiveSecurity();
    bool CanRename();
    bool Rename(const WCHAR** failedStep);
    bool CopyInPlace(int32_t fileTime, const WCHAR** failedStep,
                     const std::function<void()>& beforeCopy);
    bool CopyIntoReserved(HANDLE out, int32_t fileTime, const WCHAR** failedStep,
                          const std::function<void()>& beforeCopy);
    static void GiveSetIdBitsBack(HANDLE out, const FileSecurity& before,
                                  const FileSecurity& changed);
    HANDLE OpenExaminedTarget();
    bool KeepPrivate();
    bool ReserveRoom(HANDLE out);
    bool CopyData(HANDLE out, const std::function<void()>& afterFirstWrite);
    void Close();

    HANDLE m_file = INVALID_HANDLE_VALUE;
    // The folder the file is in, and its name there (empty while it has none).
    std::u16string m_folder;
    std::u16string m_name;
    std::u16string m_kept;
    // The destination as given to Check, and the file it names once its links are resolved.
    std::u16string m_destination;
    std::u16string m_target;
    // What Check found at the target, and what tells whether it changed since.
    FileStamp m_stamp;
    bool m_exists = false;
    BY_HANDLE_FILE_INFORMATION m_found{};
    bool m_securityKnown = false;
    FileSecurity m_security;
    // Whether the file was given that security.
    enum class Giving { NotTried, Given, Refused };
    Giving m_securityGiven = Giving::NotTried;
    // The file holds the lock that keeps removals of leftovers off it.
    bool m_locked = false;
    // The file is in the target's folder, not in the temporary folder.
    bool m_beside = false;
};
