// Simulated version query.
#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace sim::detail {
void ResetVersion() {}
}  // namespace sim::detail

namespace plat {

bool GetVersionEx(uint32_t, OsVersion* version) {
  *version = OsVersion{10, 0, 19045, kPlatformWin32Nt};
  return true;
}

}  // namespace plat
