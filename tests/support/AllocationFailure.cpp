#include "support/AllocationFailure.h"

#include <cstdlib>
#include <new>

namespace {

thread_local int t_allocationsBeforeFailure = -1;
thread_local bool t_failed = false;

}  // namespace

void FailAllocationAfter(int successes)
{
    t_allocationsBeforeFailure = successes;
    t_failed = false;
}

bool AllocationFailed()
{
    return t_failed;
}

void* operator new(std::size_t size)
{
    if (t_allocationsBeforeFailure == 0) {
        t_allocationsBeforeFailure = -1;
        t_failed = true;
        throw std::bad_alloc();
    }
    if (t_allocationsBeforeFailure > 0)
        --t_allocationsBeforeFailure;
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
