// The file a download writes until it is complete: created under a name of its own beside
// the file it will become, so that nothing the user has is opened, cut or removed while the
// data arrives; made durable, then put in that file's place by one rename. Until then the
// destination keeps whatever it held, and a transfer that fails removes only its own file.
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

    // Creates a new empty file in the folder of destination, under a name that no other
    // file has (one that exists is never opened). False, with the last error of the
    // creation, when it cannot be created.
    bool Create(const WCHAR* destination);

    HANDLE Handle() const { return m_file; }
    const WCHAR* Path() const { return m_path.c_str(); }

    // Writes the file's data through to the disk and closes it. False, with the last error,
    // when the flush failed.
    bool FlushAndClose();
    // Renames the closed file over destination in one step. False, with the last error,
    // when the rename failed; the file is then still there to be discarded.
    bool Replace(const WCHAR* destination);
    // Closes and removes the file, if it is still there.
    void Discard();

private:
    void Close();

    HANDLE m_file = INVALID_HANDLE_VALUE;
    std::u16string m_path;
};
