// The steps of kelvane-host that open and close channels, browse what the server stores,
// restore files and seal parameters.
#pragma once

#include <span>

#include "host/Step.h"

std::span<const StepGroup> ChannelStepGroups();
