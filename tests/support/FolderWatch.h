// Watches a folder with inotify from its construction on, and tells what befell one name in it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

class FolderWatch {
public:
    // mask: the inotify events to watch for (IN_CREATE, IN_MOVED_TO, IN_CLOSE_WRITE, ...).
    FolderWatch(const std::filesystem::path& folder, uint32_t mask);
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    bool Started() const { return m_watch >= 0; }
    // The events that befell name, in order, among those that arrived since the last call;
    // the others are dropped.
    std::vector<uint32_t> EventsOn(const std::string& name);

private:
    int m_watch = -1;
};
