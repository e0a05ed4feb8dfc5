// What the status record costs a tick: the clock's tick on the simulated
// platform, keying characters back to back, with the record published to a
// section and with no section (the host refused one: the counts are kept in
// the instance and go nowhere). Both include the simulated timer and box,
// which cost the same in both; scripts/bench prints the two and their ratio.
#include <benchmark/benchmark.h>

#include "keying/bit_clock.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_hid.h"
#include "shell/exports.h"
#include "shell/lifecycle.h"

namespace {

void Tick(benchmark::State& state) {
  const bool published = state.range(0) != 0;
  sim::Reset();
  ResetClockState();
  BeginModuleLife();
  sim::SetTraceEnabled(false);  // as in the module, where nobody listens
  if (!published) sim::RefuseStatusSections();
  sim::AttachBox(9);
  extfskOpen(0);
  extfskSetPTT(1);
  for (auto _ : state) {
    if (extfskIsTxBusy() == 0) extfskPutChar(0x13);
    sim::FireNextTimer();
  }
  extfskClose();
  state.SetLabel(published ? "status published" : "no status section");
}

}  // namespace

BENCHMARK(Tick)->Arg(1)->Arg(0)->MinTime(1.0);
BENCHMARK_MAIN();
