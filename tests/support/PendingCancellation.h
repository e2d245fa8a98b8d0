// Runs code on a thread of its own whose cancellation (pthread_cancel) has already been asked
// for, as when a host cancels a thread at the moment its call returns: the first cancellation
// point that the code reaches acts on it.
#pragma once

#include <functional>

struct PendingCancellationRun {
    // The code returned, rather than the thread being cancelled inside it.
    bool returned = false;
    // The thread ended cancelled (at the latest at a cancellation point after the code).
    bool cancelled = false;
};

PendingCancellationRun RunWithCancellationPending(const std::function<void()>& code);
