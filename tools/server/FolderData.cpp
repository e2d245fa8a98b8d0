#include "tools/server/FolderData.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/text.h"
#include "tools/server/DemoData.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD kFileAttributes = 0x20;
constexpr DWORD kFolderAttributes = 0x10;

// The entries of a folder in name order, so that codes do not depend on the directory's order.
std::vector<fs::directory_entry> SortedEntries(const fs::path& folder)
{
    std::vector<fs::directory_entry> entries(fs::directory_iterator(folder), {});
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.path().filename() < b.path().filename(); });
    return entries;
}

std::u16string Name16(const fs::path& path)
{
    return Utf8ToUtf16(path.filename().string());
}

DWORD ModifiedSeconds(const fs::path& file)
{
    auto modified = std::chrono::file_clock::to_sys(fs::last_write_time(file));
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(modified.time_since_epoch());
    return static_cast<DWORD>(std::max<long long>(seconds.count(), 0));
}

}  // namespace

FolderData::FolderData(ServiceState& state, DownloadHandlers& files, ULONGLONG firstMachineId)
    : m_state(state), m_files(files), m_nextMachineId(firstMachineId)
{
}

bool FolderData::AddMachines(const fs::path& root, std::string* error)
{
    std::string failure;
    try {
        for (const fs::directory_entry& machineFolder : SortedEntries(root)) {
            if (!machineFolder.is_directory())
                continue;
            const std::u16string name = Name16(machineFolder.path());
            StoredMachine machine = SampleMachine(m_nextMachineId++, name, name);
            machine.used = 0;
            for (const fs::directory_entry& volumeFolder : SortedEntries(machineFolder.path())) {
                if (!volumeFolder.is_directory())
                    continue;
                machine.volumes.push_back(ScanVolume(volumeFolder.path(), machine.id));
                machine.used += machine.volumes.back().used;
            }
            m_state.machines.push_back(std::move(machine));
        }
    } catch (const fs::filesystem_error& caught) {
        failure = caught.what();
    }
    if (m_state.activeMachine == 0 && !m_state.machines.empty())
        m_state.activeMachine = m_state.machines.front().id;
    if (error != nullptr)
        *error = failure;
    return failure.empty();
}

StoredVolume FolderData::ScanVolume(const fs::path& folder, ULONGLONG machineId)
{
    StoredVolume volume;
    volume.code = m_nextVolumeCode++;
    volume.label = Name16(folder);
    ScanFolder(folder, u"\\", m_nextFolderCode++, machineId, volume);
    return volume;
}

void FolderData::ScanFolder(const fs::path& folder, const std::u16string& path,
                            ULONGLONG folderCode, ULONGLONG machineId, StoredVolume& volume)
{
    StoredFolder listed{path, {}};
    std::vector<std::pair<fs::path, StoredEntry>> subfolders;
    for (const fs::directory_entry& item : SortedEntries(folder)) {
        if (item.is_directory()) {
            StoredEntry entry{.name = Name16(item.path()), .isFolder = true,
                              .folderCode = m_nextFolderCode++, .attributes = kFolderAttributes};
            subfolders.emplace_back(item.path(), entry);
            listed.entries.push_back(entry);
        } else if (item.is_regular_file()) {
            listed.entries.push_back(FileEntry(item.path(), folderCode, machineId, volume.code));
            volume.used += listed.entries.back().size;
        }
    }
    volume.folders[folderCode] = std::move(listed);
    for (const auto& [subfolder, entry] : subfolders)
        ScanFolder(subfolder, path + entry.name + u"\\", entry.folderCode, machineId, volume);
}

StoredEntry FolderData::FileEntry(const fs::path& file, ULONGLONG folderCode,
                                  ULONGLONG machineId, ULONGLONG volumeCode)
{
    std::shared_ptr<const ServedFile> contents = ServedFile::FromDisk(file.string());
    if (contents == nullptr)
        throw fs::filesystem_error("cannot open", file,
                                   std::error_code(errno, std::generic_category()));
    const DWORD modified = ModifiedSeconds(file);
    StoredEntry entry{.name = Name16(file),
                      .folderCode = folderCode,
                      .fileCode = m_nextFileCode++,
                      .size = contents->Size(),
                      .modified = modified,
                      .attributes = kFileAttributes,
                      .versions = {{m_nextArchiveCode++, contents->Size(), modified}}};
    const DownloadHandlers::FileCodes codes{machineId, volumeCode, folderCode, entry.fileCode,
                                            entry.versions.back().archiveCode};
    m_files.AddFile(codes, std::move(contents), modified);
    return entry;
}
