// Simulated message boxes.
#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace sim::detail {
void ResetPrompts() {}
}  // namespace sim::detail

namespace plat {

int MessageBox(const char*, const char*, uint32_t) { return kIdCancel; }

}  // namespace plat
