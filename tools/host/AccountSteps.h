// The steps of kelvane-host that drive the local backup service, manage the member's account
// and enrol machines.
#pragma once

#include <span>

#include "host/Step.h"

std::span<const StepGroup> AccountStepGroups();
