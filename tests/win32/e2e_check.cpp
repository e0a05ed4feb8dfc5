// The check program's core, linked into this program with the simulated box
// behind its own import table: its verdicts, and --key against the box's
// timestamps, stopped by the operator or by an unplugged box.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "host/scenario.h"
#include "host/timeline.h"
#include "keying/bit_clock.h"
#include "tools/check/check.h"
#include "tools/check/win32/win32_console.h"

namespace {

// The program's Windows console, with what it prints kept (and shown), and
// each report timed by the box: the program's figures and the box's are then
// reckoned from the same timestamps.
class BoxConsole : public Win32Console {
 public:
  std::string out;
  void Print(const std::string& text) override {
    out += text;
    std::fputs(text.c_str(), stdout);
  }
  double ReportTimeMs() override { return box::LastWriteMs(); }
  bool Says(const std::string& text) const {
    if (out.find(text) != std::string::npos) return true;
    check::Fail(__FILE__, __LINE__, "the program did not say: " + text);
    return false;
  }
};

int Check(BoxConsole& console, const std::vector<std::string>& args) {
  static bool installed = false;
  if (!installed) {
    CHECK_EQ(box::Install(GetModuleHandleA(nullptr)).size(), 0u);
    installed = true;
  }
  // Each run as in a process of its own: no character left over from the last.
  framing = Framing{};
  return RunCheck(args, console);
}

// The benchmark's figures, from the box's own record of the reports.
struct Figures {
  size_t elements = 0;
  double median = 0, p99 = 0, max = 0, meanPeriodMs = 0;
};

Figures FromBox(const std::vector<box::Event>& reports) {
  const timeline::Keying keying = timeline::Decode(reports, timeline::Wiring{});
  std::vector<double> errors;
  for (size_t i = 0; i + 1 < keying.elements.size(); ++i) {
    const timeline::Element& e = keying.elements[i];
    CHECK(e.kind != timeline::Kind::Error);
    if (e.kind == timeline::Kind::Start || e.kind == timeline::Kind::Data) {
      errors.push_back(std::fabs(e.holdMs - 22));
    } else if (e.kind == timeline::Kind::Stop) {
      errors.push_back(std::fabs(e.holdMs - 33));
    }
  }
  Figures f;
  REQUIRE(errors.size() > 10);
  std::sort(errors.begin(), errors.end());
  const size_t n = f.elements = errors.size();
  f.median = n % 2 ? errors[n / 2] : (errors[n / 2 - 1] + errors[n / 2]) / 2;
  const double rank = 0.99 * static_cast<double>(n - 1);
  const size_t low = static_cast<size_t>(rank);
  f.p99 = errors[low] + (errors[std::min(low + 1, n - 1)] - errors[low]) * (rank - low);
  f.max = errors.back();
  double sum = 0;
  size_t pairs = 0;
  for (size_t c = 0; c + 1 < keying.characters.size(); ++c) {
    const size_t a = keying.characters[c].startElement, b = keying.characters[c + 1].startElement;
    if (b - a != 7) continue;
    sum += keying.elements[b].ms - keying.elements[a].ms;
    ++pairs;
  }
  f.meanPeriodMs = pairs ? sum / pairs : 0;
  return f;
}

// Box time at which PTT first came on in the reports from `from` on, or -1.
double PttOnMs(size_t from) {
  for (const box::Event& r : ReportsFrom(from)) {
    if (r.ok && (r.line() & 0x02) == 0) return r.ms;
  }
  return -1;
}

// What a thread of the test does to the run once it has keyed for a while.
struct Intervention {
  double afterMs;
  DWORD consoleEvent;  // the console control event to send, or:
  int unplugSlot;      // the box to unplug, when no event (-1)
  size_t from = 0;     // the run's first report
  double atMs = -1;
  uint8_t lineAtHandlerReturn = 0;
};

DWORD WINAPI Intervene(void* context) {
  auto* what = static_cast<Intervention*>(context);
  const double deadline = box::NowMs() + 20000;
  for (;;) {
    const double on = PttOnMs(what->from);
    // A stop comes as a start or data bit (space, 0D) is on the line.
    if (on >= 0 && box::NowMs() - on >= what->afterMs &&
        (what->unplugSlot >= 0 || box::Reports().back().line() == 0x0D)) {
      break;
    }
    if (box::NowMs() > deadline) return 1;
    Sleep(1);
  }
  what->atMs = box::NowMs();
  if (what->unplugSlot >= 0) {
    box::Unplug(what->unplugSlot);
  } else {
    OnConsoleControl(what->consoleEvent);  // as the system calls it: on a thread of its own
    what->lineAtHandlerReturn = box::Reports().back().line();
  }
  return 0;
}

int KeyWith(BoxConsole& console, Intervention& what) {
  what.from = box::ReportCount();
  HANDLE thread = CreateThread(nullptr, 0, &Intervene, &what, 0, nullptr);
  REQUIRE(thread != nullptr);
  const int status = Check(console, {"--key", "10", "--yes"});
  console.Done();  // as the program's main does
  CHECK_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  CloseHandle(thread);
  CHECK(what.atMs > 0);
  return status;
}

double NumberAfter(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  return at == std::string::npos ? NAN : std::strtod(text.c_str() + at + label.size(), nullptr);
}

}  // namespace

// No box, a refused box, an accepted box: the exit status and the words of
// each; the settings file is only read, unless --setup is given.
SCENARIO(check_found_refused_none) {
  RemoveFile("tarvokey.ini");
  {
    BoxConsole console;
    CHECK_EQ(Check(console, {}), kExitNoBox);
    console.Says("No box found: is it plugged in?\n");
  }
  box::Device refused;
  refused.product = L"TARVOKEY HID 9.9";
  const int slot = box::Plug(refused);
  {
    BoxConsole console;
    CHECK_EQ(Check(console, {}), kExitRefused);
    console.Says("Box refused: generation 99 is not one tarvokey.fsk takes (1 to 98).\n");
    console.Says("  generation     99 (digits '9' and '9' at positions 13 and 15 of the product)");
  }
  box::Unplug(slot);
  box::Plug(box::Device{});
  {
    BoxConsole console;
    CHECK_EQ(Check(console, {}), kExitAccepted);
    console.Says("  CreateFile: ");
    console.Says("  Bytes Written: 9\n");
    console.Says("  generation     31 (digits '3' and '1' at positions 13 and 15 of the product)");
    console.Says("Box accepted: tarvokey.fsk can key it.\n");
  }
  CHECK(ReadFileBytes("tarvokey.ini").empty());
  CHECK(box::Prompts().empty());

  // --setup: the plug-in's two questions, and the file an open writes.
  box::AnswerPrompts({IDNO, IDYES});
  BoxConsole console;
  CHECK_EQ(Check(console, {"--setup"}), kExitAccepted);
  CHECK_EQ(box::Prompts().size(), 2u);
  CHECK_EQ(ReadFileBytes("tarvokey.ini").substr(0, 10), std::string("FskRev=0 /"));
  console.Says("  FSK pin   pin 3, as for the TARVOKEY Gen.3 (FskPin=3)\n");
}

// Three seconds of RYRY: the figures the program prints are the box's.
SCENARIO(check_key_figures_agree_with_the_box) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  BoxConsole console;
  CHECK_EQ(Check(console, {"--key", "3", "--yes"}), kExitAccepted);
  const std::vector<box::Event> reports = box::Reports();
  CHECK_EQ(Hex(reports.back().bytes), Hex(ReportBytes(0x0F)));

  const Figures f = FromBox(reports);
  const size_t all = console.out.find("\n  all ");
  REQUIRE(all != std::string::npos);
  int count = 0;
  double median = 0, p99 = 0, max = 0;
  REQUIRE(std::sscanf(console.out.c_str() + all, "\n  all %d %lf %lf %lf", &count, &median, &p99,
                      &max) == 4);
  CHECK_EQ(static_cast<size_t>(count), f.elements);
  CHECK_NEAR(median, f.median, 0.1);
  CHECK_NEAR(p99, f.p99, 0.1);
  CHECK_NEAR(max, f.max, 0.1);
  CHECK_NEAR(NumberAfter(console.out, "character period: mean "), f.meanPeriodMs, 0.1);
  CHECK_NEAR(NumberAfter(console.out, "baud rate: "), 7500 / f.meanPeriodMs, 0.1);
  // At least the seconds asked for; how much more is the machine's.
  console.Says("Keyed for ");
  CHECK(NumberAfter(console.out, "Keyed for ") >= 3);
}

// Ctrl-C, and closing the console window, as a character is going out: the
// lines are released before the run ends, and before a close lets the
// process go.
SCENARIO(check_key_stopped_mid_character) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  for (DWORD event : {CTRL_C_EVENT, CTRL_CLOSE_EVENT}) {
    BoxConsole console;
    Intervention stop{500, event, -1};
    CHECK_EQ(KeyWith(console, stop), kExitAccepted);
    CHECK_EQ(Hex(box::Reports().back().bytes), Hex(ReportBytes(0x0F)));
    const std::string stopped = event == CTRL_C_EVENT
                                    ? "Stopped by Ctrl-C after "
                                    : "Stopped by closing the console window after ";
    console.Says(stopped);
    CHECK(NumberAfter(console.out, stopped) >= 0.5);
    console.Says("PTT and FSK released: the last report to the box was 00 01 0F.\n");
    if (event == CTRL_CLOSE_EVENT) CHECK_EQ(stop.lineAtHandlerReturn, 0x0F);
  }
}

// The box unplugged a second into the run: the run ends at once, and says so.
SCENARIO(check_key_box_unplugged) {
  WriteDefaultSettings();
  Intervention unplug{1000, 0, box::Plug(box::Device{})};
  BoxConsole console;
  CHECK_EQ(KeyWith(console, unplug), kExitNoBox);
  CHECK(!box::Reports().back().ok);
  // A second, and well short of the ten asked for, however busy the machine.
  const std::string lost = "The box stopped taking reports after ";
  console.Says(lost);
  CHECK(NumberAfter(console.out, lost) >= 1 && NumberAfter(console.out, lost) < 5);
  console.Says(
      "No release report (00 01 0F) could be written: the box is gone or refuses writes.\n");
  console.Says("Result: the box was lost while keying.\n");
}
