// Offers the files of a folder on disk as the stored files of the sample member, so that a host
// can browse them and restore them byte for byte:
//
//     FOLDER/<machine>/<volume>/<folders and files of the volume>
//
// each subfolder of FOLDER is a machine of that name, each subfolder of a machine is a volume
// labelled with its name, and everything below a volume is its folder tree. Files directly in
// FOLDER or in a machine's folder are not offered. Every file has one stored version, named by
// the five codes (machine id, volume code, folder code, file code, archive code) that a
// restore asks for; the files stay on disk and are read as clients fetch them.
#pragma once

#include <filesystem>
#include <string>

#include "tools/server/DownloadHandlers.h"
#include "tools/server/ServiceStore.h"

class FolderData {
public:
    // Machines get ids from firstMachineId on, with the sample member's login keys.
    FolderData(ServiceState& state, DownloadHandlers& files, ULONGLONG firstMachineId);

    // Adds a machine per subfolder of root; false, with the reason in *error, when the folder
    // or one of its files cannot be read.
    bool AddMachines(const std::filesystem::path& root, std::string* error);

private:
    StoredVolume ScanVolume(const std::filesystem::path& folder, ULONGLONG machineId);
    // Lists one folder of a volume into volume.folders under folderCode, and its subfolders
    // under fresh codes.
    void ScanFolder(const std::filesystem::path& folder, const std::u16string& path,
                    ULONGLONG folderCode, ULONGLONG machineId, StoredVolume& volume);
    StoredEntry FileEntry(const std::filesystem::path& file, ULONGLONG folderCode,
                          ULONGLONG machineId, ULONGLONG volumeCode);

    ServiceState& m_state;
    DownloadHandlers& m_files;
    ULONGLONG m_nextMachineId;
    ULONGLONG m_nextVolumeCode = 100;
    ULONGLONG m_nextFolderCode = 1;
    ULONGLONG m_nextFileCode = 1000;
    ULONGLONG m_nextArchiveCode = 50000;
};
