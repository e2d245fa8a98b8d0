#include "host/RestoreProgress.h"

#include <cstdio>

#include <unistd.h>

namespace {

constexpr uint32_t kEventDataSize = 24;
constexpr uint32_t kEventDataDone = 25;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr auto kTerminalInterval = std::chrono::milliseconds(100);
constexpr auto kLineInterval = std::chrono::seconds(1);

RestoreProgress s_progress;

}  // namespace

void RestoreProgress::Begin()
{
    s_progress = RestoreProgress();
    s_progress.m_terminal = isatty(STDOUT_FILENO) != 0;
    s_progress.m_start = Clock::now();
}

void RestoreProgress::End()
{
    if (s_progress.m_drawn && s_progress.m_terminal)
        std::printf("\n");
    s_progress.m_drawn = false;
}

int32_t RestoreProgress::Event(uintptr_t, uint32_t code, const char16_t*, uint64_t value)
{
    if (code == kEventDataSize) {
        s_progress.m_total = value;
    } else if (code == kEventDataDone) {
        s_progress.m_done += value;
        s_progress.Show(s_progress.m_done >= s_progress.m_total);
    }
    return 0;
}

void RestoreProgress::Show(bool last)
{
    const Clock::time_point now = Clock::now();
    if (!last && now - m_shown < (m_terminal ? kTerminalInterval : kLineInterval))
        return;
    m_shown = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double rate = seconds > 0 ? m_done / kMiB / seconds : 0;
    const double left = rate > 0 && m_total > m_done ? (m_total - m_done) / kMiB / rate : 0;
    const unsigned percent = m_total > 0 ? static_cast<unsigned>(m_done * 100 / m_total) : 100;
    // Each size in the unit that keeps its figures from reading 0.0.
    const double unit = m_total < 1024 ? 1.0 : m_total < kMiB ? 1024.0 : kMiB;
    const char* name = m_total < 1024 ? "bytes" : m_total < kMiB ? "KiB" : "MiB";
    std::printf("%s  %.1f of %.1f %s (%u%%)  %.1f MiB/s  %.1f s left%s", m_terminal ? "\r" : "",
                m_done / unit, m_total / unit, name, percent, rate, left,
                m_terminal ? "   " : "\n");
    std::fflush(stdout);
    m_drawn = true;
}
