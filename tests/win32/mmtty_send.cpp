// Sends a text through tarvokey.fsk as MMTTY does with its Tx port on COM-TxD
// (the transmit thread, LTRS diddle, Invert Logic off), to a simulated box,
// and writes down what the box received: one line per report, with its time
// and the element it carried, read by the check program's reader; and above
// them what was read and the timing, in the check program's figures. Used by
// scripts/demo and scripts/bench (scripts/keying.py reads the file).
//
//   mmtty_send <tarvokey.fsk> <text file> <timeline.csv> [boxes]
//
// The keyer is wired as tarvokey.ini in the current folder says; the timeline
// is read with normal polarity on pin 1. `boxes` (1 if not given) are plugged,
// and the slots the reports went to are written down: the box the folder's
// FskBox chooses among them.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/check.h"
#include "host/iat_patch.h"
#include "host/ita2.h"
#include "host/mmtty.h"
#include "host/scenario.h"
#include "host/sim_box.h"
#include "keying/element_holds.h"
#include "tools/check/texts.h"

namespace {

// The module's calls into the heap, counted while it keys: neither its ticks
// nor the calls MMTTY makes then may allocate. Every allocation of the module
// goes through these imports (operator new through msvcrt's malloc).
volatile LONG allocations = 0;
using Malloc = void*(__cdecl*)(size_t);
using Calloc = void*(__cdecl*)(size_t, size_t);
using Realloc = void*(__cdecl*)(void*, size_t);
using HeapAllocFn = LPVOID(WINAPI*)(HANDLE, DWORD, SIZE_T);
using HeapReAllocFn = LPVOID(WINAPI*)(HANDLE, DWORD, LPVOID, SIZE_T);
Malloc realMalloc = nullptr;
Calloc realCalloc = nullptr;
Realloc realRealloc = nullptr;
HeapAllocFn realHeapAlloc = nullptr;
HeapReAllocFn realHeapReAlloc = nullptr;

void* __cdecl CountedMalloc(size_t n) {
  InterlockedIncrement(&allocations);
  return realMalloc(n);
}
void* __cdecl CountedCalloc(size_t n, size_t size) {
  InterlockedIncrement(&allocations);
  return realCalloc(n, size);
}
void* __cdecl CountedRealloc(void* p, size_t n) {
  InterlockedIncrement(&allocations);
  return realRealloc(p, n);
}
LPVOID WINAPI CountedHeapAlloc(HANDLE heap, DWORD flags, SIZE_T n) {
  InterlockedIncrement(&allocations);
  return realHeapAlloc(heap, flags, n);
}
LPVOID WINAPI CountedHeapReAlloc(HANDLE heap, DWORD flags, LPVOID p, SIZE_T n) {
  InterlockedIncrement(&allocations);
  return realHeapReAlloc(heap, flags, p, n);
}

template <typename Fn>
void Count(HMODULE module, const char* dll, const char* name, Fn counted, Fn& real) {
  real = reinterpret_cast<Fn>(iat::Patch(module, dll, name, reinterpret_cast<void*>(counted)));
}

void CountHeapCalls(HMODULE module) {
  Count(module, "msvcrt.dll", "malloc", &CountedMalloc, realMalloc);
  Count(module, "msvcrt.dll", "calloc", &CountedCalloc, realCalloc);
  Count(module, "msvcrt.dll", "realloc", &CountedRealloc, realRealloc);
  Count(module, "kernel32.dll", "HeapAlloc", &CountedHeapAlloc, realHeapAlloc);
  Count(module, "kernel32.dll", "HeapReAlloc", &CountedHeapReAlloc, realHeapReAlloc);
}

int Run(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: %s <tarvokey.fsk> <text file> <timeline.csv> [boxes]\n", argv[0]);
    return 2;
  }
  const std::string text = ReadFileBytes(argv[2]);
  const std::vector<uint8_t> codes = ita2::Encode(text);

  const int boxes = argc == 5 ? std::atoi(argv[4]) : 1;
  for (int slot = 0; slot < boxes; ++slot) box::Plug(box::Device{});
  Transmission tx;
  LONG keyingAllocations = 0;
  {
    Mmtty mmtty(argv[1]);
    if (mmtty.Open() != 1) check::Fail(__FILE__, __LINE__, "open failed");
    // From the end of the open (which allocates the instance) to the close.
    CountHeapCalls(GetModuleHandleA("tarvokey.fsk"));
    Sleep(200);
    tx = mmtty.Transmit(codes);
    Sleep(200);
    keyingAllocations = allocations;
  }
  const std::vector<box::Event> reports = box::Reports();
  const timeline::Keying keying = ReadKeying(reports);
  const timeline::Figures figures = timeline::Measure(keying);

  FILE* out = std::fopen(argv[3], "wb");
  if (out == nullptr) {
    std::fprintf(stderr, "cannot write %s\n", argv[3]);
    return 1;
  }
  std::fprintf(out, "# text=%s\n", ita2::Printable(text).c_str());
  std::fprintf(out, "# text_codes=%s\n", Hex(codes).c_str());
  std::fprintf(out, "# codes=%s\n", Hex(tx.put).c_str());
  std::vector<uint8_t> received;
  for (const timeline::Character& c : keying.characters) {
    received.push_back(static_cast<uint8_t>(c.code));
  }
  std::fprintf(out, "# received_codes=%s\n", Hex(received).c_str());
  std::string labels;
  for (const std::string& label : ita2::Labels(received))
    labels += (labels.empty() ? "" : " ") + label;
  std::fprintf(out, "# received_labels=%s\n", labels.c_str());
  std::fprintf(out, "# ptt_on_ms=%.3f\n# first_poll_ms=%.3f\n# ptt_off_ms=%.3f\n", tx.pttOnMs,
               tx.firstPollMs, tx.pttOffMs);
  std::fprintf(out, "# failed_writes=%d\n",
               static_cast<int>(reports.size() - keying.elements.size()));
  std::fprintf(out, "# faults=%d\n", static_cast<int>(box::Faults().size()));
  std::string slots;
  for (const box::Event& report : reports) {
    const std::string slot = std::to_string(report.slot);
    if (slots.find(" " + slot + " ") == std::string::npos) slots += " " + slot + " ";
  }
  std::fprintf(out, "# slots=%s\n", slots.c_str());
  std::fprintf(out, "# module_allocations=%ld\n", static_cast<long>(keyingAllocations));
  // Rows and targets each separated by ";", their fields by a space.
  std::fprintf(out, "# nominal_ms=%u %u %u\n", kBitMs, kStopMs, kCharacterMs);
  std::string rows;
  for (const timeline::ElementErrors& row : figures.rows) {
    char part[96];
    std::snprintf(part, sizeof part, "%s%s %d %.3f %.3f %.3f", rows.empty() ? "" : ";", row.kind,
                  row.count, row.median, row.p99, row.max);
    rows += part;
  }
  std::fprintf(out, "# timing=%s\n# periods=%d %.3f\n", rows.c_str(), figures.periods,
               figures.meanPeriodMs);
  std::string targets;
  size_t index = 0;
  for (const bool met : timeline::Targets(figures)) {
    targets += (targets.empty() ? "" : ";") + std::string(met ? "met " : "MISS ") +
               kTextsEnglish.targets[index++];
  }
  std::fprintf(out, "# targets=%s\n", targets.c_str());
  std::fprintf(out, "ms,line,kind,level,hold_ms\n");
  for (const timeline::Element& e : keying.elements) {
    std::fprintf(out, "%.3f,%u,%s,%d,%.3f\n", e.ms, e.line, timeline::Name(e.kind), e.bit,
                 e.holdMs);
  }
  std::fclose(out);

  for (const std::string& fault : box::Faults()) check::Fail(__FILE__, __LINE__, "fault: " + fault);
  return check::Failures() == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  check::ReportCrashes();
  try {
    return Run(argc, argv);
  } catch (const check::Abort&) {
    return 1;
  }
}
