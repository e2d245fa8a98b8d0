#include "platform/sync.h"

#include <pthread.h>

// The recursive mutex inside the structure is the whole critical section: it is ready when
// constructed and released when destroyed, so initialising and deleting have nothing to do.
void InitializeCriticalSection(CRITICAL_SECTION*) {}

void DeleteCriticalSection(CRITICAL_SECTION*) {}

void EnterCriticalSection(CRITICAL_SECTION* section)
{
    section->mutex.lock();
}

void LeaveCriticalSection(CRITICAL_SECTION* section)
{
    section->mutex.unlock();
}

CancellationHold::CancellationHold()
{
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &m_previousState);
}

CancellationHold::~CancellationHold()
{
    pthread_setcancelstate(m_previousState, nullptr);
}
