#include "support/PendingCancellation.h"

#include <pthread.h>

namespace {

struct Run {
    const std::function<void()>* code;
    bool returned;
};

void* RunCode(void* argument)
{
    auto* run = static_cast<Run*>(argument);
    int state = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
    pthread_cancel(pthread_self());
    pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &state);
    (*run->code)();
    run->returned = true;
    pthread_testcancel();
    return nullptr;
}

} // namespace

PendingCancellationRun RunWithCancellationPending(const std::function<void()>& code)
{
    Run run{&code, false};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, RunCode, &run) != 0)
        return {};
    void* result = nullptr;
    pthread_join(thread, &result);
    return PendingCancellationRun{run.returned, result == PTHREAD_CANCELED};
}
