// Control side of the simulated version query.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace sim {

// The system the module is loaded on; after a reset, Windows 10 (NT 10.0.19045).
// extendedRecord false: a system from before the extended record (Windows 95,
// NT 4 before SP6), which refuses a query of size 156 as it does any size it
// does not know.
void SetVersion(const plat::OsVersion& version, bool extendedRecord = true);
// Every query fails, whatever its size.
void FailVersionQueries();
// The record sizes that queries asked for since the last reset, in order.
std::vector<uint32_t> VersionQuerySizes();

}  // namespace sim
