// The file a download writes until it is complete, and how it then takes the place of the file
// it restores (the destination), keeping that file as the user had it.
//
// Before the server is asked anything, the destination is checked as an open of it for
// reading and writing would check it, after its links are resolved: a link stays a link, and
// the file it points to is restored. The transfer file is made beside that file, without a
// name where the file system allows, so that nothing the user has is opened, cut or removed
// while the data arrives, and a crash leaves nothing behind.
//
// Once the data is complete and on the disk it takes the destination's place by one rename,
// having first been given the destination's mode, owner and group; until then the destination
// keeps its bytes. Where a rename would not keep the file as it was (more than one name, an
// owner the process cannot give, a folder that takes no new file, a mount point), the data is
// copied into the destination in place instead: the old bytes are then at risk only during
// that local copy, with the whole new file still in the transfer file.
#pragma once

#include <string>

#include "platform/types.h"

class CTransferFile {
public:
    CTransferFile() = default;
    CTransferFile(const CTransferFile&) = delete;
    CTransferFile& operator=(const CTransferFile&) = delete;
    // Removes the file unless it took its destination's place.
    ~CTransferFile() { Discard(); }

    // Checks destination and creates the transfer file for it. False, with the last error of
    // the check or of the creation, when the destination cannot be written; nothing has been
    // changed then.
    bool Create(const WCHAR* destination);

    HANDLE Handle() const { return m_file; }

    // Gives the complete file the time (seconds since 1970-01-01 UTC; 0 leaves it), writes it
    // through to the disk and puts it in destination's place. False, with the last error and
    // *failedStep naming the step, when it did not get there; the destination then keeps its
    // bytes, unless the copy in place itself failed part-way.
    bool PutInPlace(const WCHAR* destination, int32_t fileTime, const WCHAR** failedStep);
    // Closes and removes the file, if it is still there.
    void Discard();

private:
    bool CreateIn(const std::u16string& folder, const std::u16string& stem);
    bool CreateInTemporaryFolder();
    bool CanRename(const std::u16string& target);
    bool Rename(const std::u16string& target, const WCHAR** failedStep);
    bool CopyInPlace(const std::u16string& target, int32_t fileTime);
    void Close();

    HANDLE m_file = INVALID_HANDLE_VALUE;
    // Empty while the file has no name.
    std::u16string m_name;
    // The destination as given to Create, and the file it names once its links are resolved.
    std::u16string m_destination;
    std::u16string m_target;
    // The file is in the target's folder, not in the temporary folder.
    bool m_beside = false;
};
