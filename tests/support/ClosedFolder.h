// While it lives, a folder in which this process can make no new file: its mode closes it to
// the process's user, or, for root, whom no mode stops, it is immutable.
#pragma once

#include <filesystem>

class ClosedFolder {
public:
    explicit ClosedFolder(const std::filesystem::path& folder);
    // Opens the folder again.
    ~ClosedFolder();
    ClosedFolder(const ClosedFolder&) = delete;
    ClosedFolder& operator=(const ClosedFolder&) = delete;

    // False where the folder could not be closed (a file system without the immutable flag).
    bool Closed() const { return m_closed; }

private:
    std::filesystem::path m_folder;
    bool m_root;
    bool m_closed;
};
