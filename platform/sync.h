// Critical sections: recursive locks, as on Windows; and a hold on thread cancellation.
#pragma once

#include <mutex>

struct CRITICAL_SECTION {
    std::recursive_mutex mutex;
};

void InitializeCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);

// Holds off the cancellation of the calling thread (pthread_cancel) while it lives. Clean-up
// that runs in destructors takes one around calls that are cancellation points (close, write):
// the unwind that a cancellation starts there could not leave the destructor and would end
// the process. A cancellation asked for meanwhile acts at the thread's next cancellation
// point after the hold.
class CancellationHold {
public:
    CancellationHold();
    ~CancellationHold();
    CancellationHold(const CancellationHold&) = delete;
    CancellationHold& operator=(const CancellationHold&) = delete;

private:
    int m_previousState;
};
