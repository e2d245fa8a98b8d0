// Running out of memory on purpose: a test program that calls these gets the global operator
// new of the support library, which makes one allocation of the calling thread fail, so that a
// test can run out of memory at every step of a call in turn.
#pragma once

// The calling thread's allocation after `successes` more that succeed throws std::bad_alloc,
// once; a negative count makes none fail.
void FailAllocationAfter(int successes);
// Whether the allocation made to fail last has failed.
bool AllocationFailed();
