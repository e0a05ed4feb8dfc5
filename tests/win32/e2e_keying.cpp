// What the box receives while the host keys: the line byte report by report,
// and its timing against the 45.45 baud element lengths.
#include <algorithm>
#include <iterator>

#include "host/iat_patch.h"
#include "host/ita2.h"
#include "host/mmtty.h"
#include "host/scenario.h"
#include "host/timeline.h"

namespace {

// Element timing is checked with room for a busy machine; sequences and
// bytes are checked exactly.
constexpr double kSlackMs = 8;

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The hold of each element is the delay the plug-in arms its one-shot timer
// with; how late the system calls back is the machine's, and scripts/bench
// measures that. The delays are seen on their way to timeSetEvent.
UINT armedHolds[4096];
volatile LONG armedCount = 0;
decltype(&timeSetEvent) systemTimeSetEvent = nullptr;

MMRESULT WINAPI RecordArmedHold(UINT delay, UINT resolution, LPTIMECALLBACK callback,
                                DWORD_PTR user, UINT flags) {
  const LONG at = InterlockedIncrement(&armedCount) - 1;
  if (at < static_cast<LONG>(std::size(armedHolds))) armedHolds[at] = delay;
  return systemTimeSetEvent(delay, resolution, callback, user, flags);
}

void RecordArmedHolds() {
  systemTimeSetEvent = reinterpret_cast<decltype(&timeSetEvent)>(
      iat::Patch(GetModuleHandleA("tarvokey.fsk"), "winmm.dll", "timeSetEvent",
                 reinterpret_cast<void*>(&RecordArmedHold)));
  REQUIRE(systemTimeSetEvent != nullptr);
}

// The holds armed so far, a letter each: b a bit (22 ms), s a stop (33 ms).
std::string ArmedHolds() {
  REQUIRE(armedCount <= static_cast<LONG>(std::size(armedHolds)));
  std::string holds;
  for (LONG i = 0; i < armedCount; ++i) {
    holds += armedHolds[i] == 22 ? 'b' : armedHolds[i] == 33 ? 's' : '?';
  }
  return holds;
}

void CheckCharacterTiming(const std::vector<box::Event>& element) {
  for (size_t i = 0; i + 1 < element.size(); ++i) {
    const double want = i == 6 ? 33 : 22;  // the stop element is 1.5 bits
    CHECK_NEAR(element[i + 1].ms - element[i].ms, want, kSlackMs);
  }
}

}  // namespace

// An idle instance: a report every 22 ms from the timer thread, all lines open.
SCENARIO(idle_reports) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  CHECK_EQ(plugin.Open(), 1);
  NextReports(12);
  const std::vector<box::Event> reports = box::Reports();
  REQUIRE(reports.size() >= 13);
  const DWORD timerThread = reports[1].threadId;
  CHECK(timerThread != GetCurrentThreadId());
  for (size_t i = 0; i < 13; ++i) {
    CHECK_EQ(Hex(reports[i].bytes), Hex(ReportBytes(0x0F)));
    CHECK(reports[i].ok);
    if (i >= 1) CHECK_EQ(reports[i].threadId, timerThread);
    if (i >= 2) CHECK_NEAR(reports[i].ms - reports[i - 1].ms, 22, kSlackMs);
  }
  CHECK_NEAR((reports[12].ms - reports[1].ms) / 11, 22, 3);
  plugin.Close();
}

// PTT before the host has polled, then a character's road to the box, bit by
// bit, and PTT off.
SCENARIO(character_road) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  CHECK_EQ(plugin.Open(), 1);
  NextReports(2);

  // PTT on before any extfskIsTxBusy: PTT shorted, the FSK line left open.
  CHECK_EQ(plugin.SetPtt(1) & 0xFF, 0x0D);
  for (uint8_t line : Lines(NextReports(3))) CHECK_EQ(line, 0x0D);

  // The first poll arms keying: idle is mark, FSK shorted.
  CHECK_EQ(plugin.IsTxBusy(), 0);
  NextReports(1);
  for (uint8_t line : Lines(NextReports(2))) CHECK_EQ(line, 0x0C);

  // 0x13 = 10011: space (start), 1, 1, 0, 0, 1 (bit 0 first), mark stop.
  double notBusy = 0;
  std::vector<box::Event> road = SendOne(plugin, 0x13, 0x0C, &notBusy);
  const std::vector<uint8_t> want = {0x0D, 0x0C, 0x0C, 0x0D, 0x0D, 0x0C, 0x0C, 0x0C};
  CHECK_EQ(Hex(Lines(road)), Hex(want));
  for (const box::Event& r : road) CHECK_EQ(Hex(r.bytes), Hex(ReportBytes(r.line())));
  CheckCharacterTiming(road);
  // The slot empties at the start-bit tick, while the character is still
  // going out: the host may hand over the next one.
  CHECK(notBusy > road[0].ms - 15 && notBusy < road[2].ms);

  // Only the low five bits reach the line.
  road = SendOne(plugin, 0xF3, 0x0C);
  CHECK_EQ(Hex(Lines(road)), Hex(want));
  CheckCharacterTiming(road);

  // -1 stores 255: five marks.
  road = SendOne(plugin, -1, 0x0C);
  CHECK_EQ(Hex(Lines(road)),
           Hex(std::vector<uint8_t>{0x0D, 0x0C, 0x0C, 0x0C, 0x0C, 0x0C, 0x0C, 0x0C}));

  // PTT off releases PTT and FSK; the clock goes on but keys nothing.
  CHECK_EQ(plugin.SetPtt(0) & 0xFF, 0x0F);
  CHECK_EQ(plugin.PutChar(0x00), 0x00);
  for (uint8_t line : Lines(NextReports(10))) CHECK_EQ(line, 0x0F);
  CHECK_EQ(plugin.IsTxBusy(), 0);
  plugin.Close();
}

// A whole transmission as MMTTY makes it, read back as a teleprinter would:
// every character, back to back, each element on time.
SCENARIO(mmtty_transmission) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  RecordArmedHolds();
  CHECK_EQ(plugin.Open(Plugin::kMmttyOpenArgument), 1);
  Sleep(100);

  const std::string text = "RYRY CQ DE TARVOKEY 599 73";
  const std::vector<uint8_t> codes = ita2::Encode(text);
  const size_t from = box::ReportCount();
  const Transmission tx = TransmitLikeMmtty(plugin, codes);
  CHECK_EQ(tx.pttOnResult & 0xFF, 0x0D);
  CHECK_EQ(tx.pttOffResult & 0xFF, 0x0F);
  NextReports(2);
  plugin.Close();
  plugin.Unload();

  const timeline::Keying keying = timeline::Decode(ReportsFrom(from), timeline::Wiring{});
  std::vector<uint8_t> received;
  for (const timeline::Character& c : keying.characters) {
    received.push_back(static_cast<uint8_t>(c.code));
  }
  // MMTTY switches PTT on before its first extfskIsTxBusy, so until then the
  // clock does not drive the FSK line: with normal polarity it stays open,
  // which is space. The opening LTRS follows that lead space with no mark in
  // between, so a teleprinter cannot frame it; everything after it arrives.
  double leadMs = 0;
  for (const timeline::Element& e : keying.elements) {
    if (e.kind == timeline::Kind::Lead) {
      CHECK_EQ(e.line, 0x0D);
      leadMs += e.holdMs;
    }
  }
  CHECK(leadMs >= 200);
  std::vector<uint8_t> framed = codes;
  if (received.size() + 1 == codes.size()) framed.erase(framed.begin());
  CHECK_EQ(Hex(received), Hex(framed));

  // Back to back: each stop element is followed at once by the next start.
  for (size_t c = 0; c + 1 < keying.characters.size(); ++c) {
    CHECK_EQ(keying.characters[c + 1].startElement, keying.characters[c].startElement + 7);
  }
  // Every code sent was armed as six bits and a stop, back to back, and the
  // clock idled on bits before and after.
  const std::string holds = ArmedHolds();
  std::string characters;
  for (size_t i = 0; i < codes.size(); ++i) characters += "bbbbbbs";
  const size_t at = holds.find(characters);
  if (at == std::string::npos || holds.find_first_not_of('b') != at + 6 ||
      holds.find_last_not_of('b') != at + characters.size() - 1) {
    check::Fail(__FILE__, __LINE__, "holds armed: " + holds);
  }
  std::vector<double> bits;
  std::vector<double> stops;
  for (const timeline::Element& e : keying.elements) {
    if (e.kind == timeline::Kind::Start || e.kind == timeline::Kind::Data) {
      bits.push_back(e.holdMs);
    } else if (e.kind == timeline::Kind::Stop) {
      stops.push_back(e.holdMs);
    }
    CHECK(e.kind != timeline::Kind::Error);
  }
  // Over many elements the typical length is tight even on a busy machine.
  CHECK_NEAR(Median(bits), 22, 1.5);
  CHECK_NEAR(Median(stops), 33, 1.5);
  // The line is released after PTT off, and by the close.
  const std::vector<box::Event> reports = box::Reports();
  CHECK_EQ(Hex(reports.back().bytes), Hex(ReportBytes(0x0F)));
  CHECK_EQ(std::string(timeline::Name(keying.elements.back().kind)), "off");
}

// The report is exactly as long as the device declares: 00 01 portBits, cut
// short or zero-filled.
SCENARIO(report_lengths) {
  WriteDefaultSettings();
  Plugin plugin(env.plugin);
  for (uint16_t length : {1, 2, 3, 9, 65}) {
    box::Device device;
    device.outputReportLength = length;
    const int slot = box::Plug(device);
    CHECK_EQ(plugin.Open(), 1);
    CHECK_EQ(plugin.SetPtt(1) & 0xFF, 0x0D);
    for (const box::Event& r : NextReports(3)) {
      CHECK_EQ(r.slot, slot);
      CHECK_EQ(Hex(r.bytes), Hex(ReportBytes(0x0D, length)));
    }
    plugin.Close();
    CHECK_EQ(Hex(box::Reports().back().bytes), Hex(ReportBytes(0x0F, length)));
    box::Unplug(slot);
  }
}
