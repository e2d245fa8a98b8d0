#include "support/FolderWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

FolderWatch::FolderWatch(const std::filesystem::path& folder, uint32_t mask)
    : m_watch(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (m_watch >= 0 && inotify_add_watch(m_watch, folder.c_str(), mask) < 0) {
        close(m_watch);
        m_watch = -1;
    }
}

FolderWatch::~FolderWatch()
{
    if (m_watch >= 0)
        close(m_watch);
}

std::vector<uint32_t> FolderWatch::EventsOn(const std::string& name)
{
    std::vector<uint32_t> events;
    alignas(inotify_event) char buffer[64 * 1024];
    for (ssize_t length; (length = read(m_watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->len > 0 && name == event->name)
                events.push_back(event->mask);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return events;
}
