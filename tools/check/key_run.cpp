#include "tools/check/key_run.h"

#include <atomic>

#include "keying/element_holds.h"
#include "platform/box_identity.h"
#include "platform/platform.h"
#include "settings/settings_file.h"
#include "shell/exports.h"
#include "shell/fsk_keyer.h"
#include "tools/check/check.h"
#include "tools/check/discovery.h"
#include "tools/check/settings_view.h"
#include "tools/check/text.h"
#include "tools/check/timeline.h"
#include "tools/check/timing.h"

namespace {

constexpr uint8_t kLtrs = 0x1F;
constexpr uint8_t kR = 0x0A;
constexpr uint8_t kY = 0x15;
// Mark before the first start bit, so that a receiver can frame it.
constexpr uint32_t kLeadMs = 110;

// What the reports of a run were; written by the report observer, on the
// timer thread, and read by the run.
class Recorder {
 public:
  Recorder(Console& console, size_t capacity) : console_(console) { samples_.reserve(capacity); }

  static void Observe(const uint8_t* report, uint32_t length, bool written, uint32_t error);

  // From now on every report is kept, up to the capacity: the timer thread
  // never allocates.
  void Start() { recording_ = true; }
  bool lost() const { return lost_; }
  uint32_t lostError() const { return lostError_; }
  uint32_t reports() const { return reports_; }
  // Whether the last report went out and released every line.
  bool released() const { return lastReleased_; }
  // Read once the clock has stopped.
  const std::vector<timeline::Sample>& samples() const { return samples_; }

 private:
  Console& console_;
  std::vector<timeline::Sample> samples_;
  std::atomic<bool> recording_{false};
  std::atomic<bool> lost_{false};
  std::atomic<uint32_t> lostError_{0};
  std::atomic<uint32_t> reports_{0};
  std::atomic<bool> lastReleased_{false};
};

Recorder* recorder = nullptr;

void Recorder::Observe(const uint8_t* report, uint32_t length, bool written, uint32_t error) {
  Recorder* r = recorder;
  if (r == nullptr) return;
  const double ms = r->console_.ReportTimeMs();
  const uint8_t line =
      length > tarvokey::kLineByteAt ? report[tarvokey::kLineByteAt] : tarvokey::kLinesReleased;
  if (!written && !r->lost_) {
    r->lostError_ = error;
    r->lost_ = true;
  }
  r->lastReleased_ = written && line == tarvokey::kLinesReleased;
  ++r->reports_;
  if (r->recording_ && r->samples_.size() < r->samples_.capacity()) {
    r->samples_.push_back(timeline::Sample{ms, line, written});
  }
  plat::SetLastError(error);  // as the write left it, for the plug-in's trace
}

// The observer's recorder for as long as this lives.
class Recording {
 public:
  explicit Recording(Recorder& r) { recorder = &r; }
  ~Recording() { recorder = nullptr; }
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;
};

enum class End { Done, Operator, Lost };

class Run {
 public:
  Run(Console& console, Recorder& r) : console_(console), recorder_(r) {}

  // PTT on, mark, LTRS and RYRY until `seconds` have passed, the last
  // character out whole, then PTT off: as MMTTY feeds the plug-in, one
  // character whenever extfskIsTxBusy says 0.
  End Key(int seconds) {
    extfskIsTxBusy();  // arms keying: the idle line is mark from the first PTT report
    recorder_.Start();
    started_ = console_.NowMs();
    extfskSetPTT(1);
    Pause(kLeadMs);
    uint8_t next = kLtrs;
    while (end_ == End::Done && console_.NowMs() - started_ < seconds * 1000.0) {
      if (extfskIsTxBusy() == 0) {
        extfskPutChar(next);
        ++characters_;
        next = next == kR ? kY : kR;
      }
      Pause(1);
    }
    // The last character is taken at its start bit and goes on for one
    // character time; PTT off then reaches the box with the next tick. A
    // clock that no longer takes characters is not waited for.
    for (uint32_t waited = 0; end_ == End::Done && extfskIsTxBusy() == 1 && waited < 1000;
         ++waited) {
      Pause(1);
    }
    Pause(kCharacterMs + kBitMs);
    keyedMs_ = console_.NowMs() - started_;
    extfskSetPTT(0);
    const uint32_t before = recorder_.reports();
    for (uint32_t waited = 0; end_ == End::Done && recorder_.reports() == before && waited < 100;
         ++waited) {
      Pause(1);
    }
    return end_;
  }

  Stop stopRequest() const { return stopRequest_; }
  double keyedMs() const { return end_ == End::Done ? keyedMs_ : stoppedMs_; }
  int characters() const { return characters_; }

 private:
  // Waits, unless the operator stops the run or the box is lost.
  void Pause(uint32_t ms) {
    for (uint32_t i = 0; i < ms && end_ == End::Done; ++i) {
      if ((stopRequest_ = console_.StopRequest()) != Stop::None) {
        end_ = End::Operator;
      } else if (recorder_.lost()) {
        end_ = End::Lost;
      } else {
        console_.Sleep(1);
        continue;
      }
      stoppedMs_ = console_.NowMs() - started_;
    }
  }

  Console& console_;
  Recorder& recorder_;
  End end_ = End::Done;
  Stop stopRequest_ = Stop::None;
  double started_ = 0;
  double keyedMs_ = 0;
  double stoppedMs_ = 0;
  int characters_ = 0;
};

// How the run ended.
void PrintRunEnd(Console& console, const Texts& t, const Run& run, End end, const Recorder& r) {
  const double seconds = run.keyedMs() / 1000;
  switch (end) {
    case End::Done:
      console.Print(Format(t.keyedDone, seconds, run.characters()));
      return;
    case End::Operator:
      console.Print(
          Format(t.keyedStopped, t.stops[static_cast<size_t>(run.stopRequest())], seconds));
      return;
    case End::Lost:
      console.Print(Format(t.keyedLost, seconds, ErrorText(r.lostError(), t.error).c_str()));
      return;
  }
}

// The result and what to do next; the exit status.
int PrintResult(Console& console, const Texts& t, End end, bool met, bool released) {
  switch (end) {
    case End::Done:
      console.Print(met ? t.resultOnTime : t.resultLate);
      if (!met) console.Print(t.nextLate);
      return kExitAccepted;
    case End::Operator:
      console.Print(released ? t.resultStoppedReleased : t.resultStopped);
      return kExitAccepted;
    case End::Lost:
      break;
  }
  console.Print(t.resultLost);
  console.Print(t.nextLost);
  return kExitNoBox;
}

}  // namespace

int RunKey(Console& console, const Texts& t, const KeyOptions& options) {
  // Every report of the run, with a little room for the lead and the tail.
  Recorder r(console, static_cast<size_t>(options.seconds + 2) * 1000 / kBitMs);
  Recording recording(r);

  // The box, as the plug-in's open finds it: nothing is keyed but an
  // accepted box this program holds.
  WatchedOpen open(console, &Recorder::Observe);
  PrintVerdict(console, t, open);
  if (!open.opened() || open.verdict() != Verdict::Accepted) {
    console.Print(VerdictLine(t, open) + t.nothingKeyed);
    console.Print(NextStep(t, open));
    return VerdictStatus(open);
  }

  // The settings in force, as the open read them; no question is asked.
  const SettingsValues& settings = open.settings();
  ApplySettings(*open.keyer(), settings);
  PrintSettings(console, t);
  PrintTimerRequest(console, t);

  // The operator's word before the transmitter is keyed.
  if (!options.confirmed && !AnswersYes(console.Ask(Format(t.keyQuestion, options.seconds)))) {
    open.Close();
    console.Print(t.notConfirmed);
    return kExitBadArgument;
  }
  // The run says nothing until it ends: what it does, and how to stop it, first.
  console.Print(Format(t.keyingNow, options.seconds));

  // The run, then the close, whose release report is the run's last.
  Run run(console, r);
  const End end = run.Key(options.seconds);
  const uint32_t beforeClose = r.reports();
  open.Close();
  const bool released = r.reports() > beforeClose && r.released();

  PrintRunEnd(console, t, run, end, r);
  console.Print(released ? t.released : t.notReleased);
  const bool met =
      PrintTiming(console, t,
                  timeline::Measure(timeline::Read(
                      r.samples(), timeline::Wiring{settings.pin3, settings.reverse})));
  return PrintResult(console, t, end, met, released);
}
