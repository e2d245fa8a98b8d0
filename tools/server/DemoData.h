// A small member with two machines, folders, file versions, products, cancellation reasons
// and statistics, so that a host program run against kelvane-server has something to show.
#pragma once

#include "tools/server/ServiceStore.h"

void FillDemoData(ServiceState& state);
// A machine of the sample member with its login key "demo-key-<id>" and no volumes.
StoredMachine SampleMachine(ULONGLONG id, const std::u16string& name, const std::u16string& host);
