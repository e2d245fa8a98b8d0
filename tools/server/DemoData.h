// A small member with two machines, folders, file versions, products, cancellation reasons
// and statistics, so that a host program run against kelvane-server has something to show.
#pragma once

#include "tools/server/ServiceStore.h"

void FillDemoData(ServiceState& state);
