// The user that tests need besides the test's own: the owner of what another user planted,
// or the user a host restores as. "nobody".
#pragma once

#include <sys/types.h>
#include <unistd.h>

constexpr uid_t kOtherUser = 65534;

// Whether the test may act as that user, or give files to it: only root may.
inline bool CanRunAsOtherUser()
{
    return geteuid() == 0;
}
