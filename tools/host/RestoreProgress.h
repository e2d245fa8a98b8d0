// Shows the progress of a restore from the host callback's events: the size to come (24) and
// the bytes handled (25) give the bytes so far, the rate and the time left. On a terminal the
// figures stay on one line that is redrawn in place; otherwise they go out as plain lines, at
// most one a second, and one at the end.
//
// The restore exports install their callback with context 0, so the restore being shown is
// the one that Begin started on this program's one calling thread.
#pragma once

#include <chrono>
#include <cstdint>

class RestoreProgress {
public:
    // Shows the events of the next restore from now on.
    static void Begin();
    // Finishes the line of the restore.
    static void End();
    // The callback for the restore exports; never cancels.
    static int32_t Event(uintptr_t context, uint32_t code, const char16_t* text, uint64_t value);

private:
    using Clock = std::chrono::steady_clock;

    void Show(bool last);

    bool m_terminal = false;
    bool m_drawn = false;
    uint64_t m_total = 0;
    uint64_t m_done = 0;
    Clock::time_point m_start{};
    Clock::time_point m_shown{};
};
