// What the box receives while the host keys: the line byte report by report,
// and its timing against the 45.45 baud element lengths.
#include <algorithm>
#include <iterator>

#include "host/ita2.h"
#include "host/mmtty.h"
#include "host/scenario.h"

namespace {

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

// An idle instance: a report every 22 ms from the timer thread, all lines open.
SCENARIO(idle_reports_every_bit_time_with_every_line_open) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  CHECK_EQ(plugin.Open(), 1);
  RecordArmedHolds();
  NextReports(12);
  const std::vector<box::Event> reports = box::Reports();
  REQUIRE(reports.size() >= 13);
  const DWORD timerThread = reports[1].threadId;
  CHECK(timerThread != GetCurrentThreadId());
  for (size_t i = 0; i < 13; ++i) {
    CHECK_EQ(Hex(reports[i].bytes), Hex(ReportBytes(0x0F)));
    CHECK(reports[i].ok);
    if (i >= 1) CHECK_EQ(reports[i].threadId, timerThread);
  }
  // Each element is armed for 22 ms; how late the system calls back is the
  // machine's (scripts/bench), so real time is held only to a generous bound.
  CHECK_EQ(ArmedHolds().find_first_not_of('b'), std::string::npos);
  CHECK(reports[12].ms - reports[1].ms >= 11 * 15 && reports[12].ms - reports[1].ms <= 11 * 60);
  plugin.Close();
}

// PTT before the host has polled, then one character to the box, element by
// element, and PTT off.
SCENARIO(ptt_then_one_character_bit_by_bit) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  CHECK_EQ(plugin.Open(), 1);
  RecordArmedHolds();
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
  std::vector<box::Event> elements = SendOne(plugin, 0x13, 0x0C, &notBusy);
  const std::vector<uint8_t> want = {0x0D, 0x0C, 0x0C, 0x0D, 0x0D, 0x0C, 0x0C, 0x0C};
  CHECK_EQ(Hex(Lines(elements)), Hex(want));
  for (const box::Event& r : elements) CHECK_EQ(Hex(r.bytes), Hex(ReportBytes(r.line())));
  // The slot empties at the start-bit tick, while the character is still
  // going out: the host may hand over the next one.
  CHECK(notBusy > elements[0].ms - 15 && notBusy < elements[2].ms);

  // Only the low five bits reach the line.
  elements = SendOne(plugin, 0xF3, 0x0C);
  CHECK_EQ(Hex(Lines(elements)), Hex(want));

  // -1 stores 255: five marks.
  elements = SendOne(plugin, -1, 0x0C);
  CHECK_EQ(Hex(Lines(elements)),
           Hex(std::vector<uint8_t>{0x0D, 0x0C, 0x0C, 0x0C, 0x0C, 0x0C, 0x0C, 0x0C}));

  // PTT off releases PTT and FSK; the clock goes on but keys nothing.
  CHECK_EQ(plugin.SetPtt(0) & 0xFF, 0x0F);
  CHECK_EQ(plugin.PutChar(0x00), 0x00);
  for (uint8_t line : Lines(NextReports(10))) CHECK_EQ(line, 0x0F);
  CHECK_EQ(plugin.IsTxBusy(), 0);
  // Each of the four characters (the last clocked with PTT off) armed as six
  // 22 ms bits and a 33 ms stop, between idle bits.
  const std::string holds = ArmedHolds();
  CHECK_EQ(std::count(holds.begin(), holds.end(), 's'), 4);
  CHECK_EQ(holds.find_first_not_of("bs"), std::string::npos);
  for (size_t stop = holds.find('s'); stop != std::string::npos; stop = holds.find('s', stop + 1)) {
    CHECK(stop >= 6 && holds.substr(stop - 6, 6) == "bbbbbb");
  }
  plugin.Close();
}

// A whole transmission as MMTTY makes it, read back as a teleprinter would:
// every code MMTTY hands over, the opening LTRS included, each element on time.
SCENARIO(mmtty_transmission_arrives_framed_and_on_time) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  Mmtty mmtty(env.plugin);
  CHECK_EQ(mmtty.Open(), 1);
  RecordArmedHolds();
  Sleep(100);

  const std::string text = "RYRY CQ DE TARVOKEY 599 73";
  const std::vector<uint8_t> codes = ita2::Encode(text);
  const size_t from = box::ReportCount();
  const Transmission tx = mmtty.Transmit(codes);
  CHECK_EQ(tx.pttOnResult & 0xFF, 0x0D);
  CHECK_EQ(tx.pttOffResult & 0xFF, 0x0F);
  NextReports(2);
  mmtty.Close();

  const timeline::Keying keying = ReadKeying(ReportsFrom(from));
  std::vector<uint8_t> received;
  for (const timeline::Character& c : keying.characters) {
    received.push_back(static_cast<uint8_t>(c.code));
  }
  // The text's codes went first, then any diddle.
  REQUIRE(tx.put.size() >= codes.size());
  CHECK_EQ(Hex(std::vector<uint8_t>(tx.put.begin(), tx.put.begin() + codes.size())), Hex(codes));
  CHECK_EQ(Hex(received), Hex(tx.put));
  // PTT comes before MMTTY's first extfskIsTxBusy: until then the clock does
  // not drive the FSK line, which with normal polarity is open, space. That
  // question arms keying 250 ms before the first code, so the line rests on
  // mark and the opening LTRS is framed like every other code.
  double leadMs = 0;
  double markMs = 0;
  for (const timeline::Element& e : keying.elements) {
    if (e.kind == timeline::Kind::Lead) {
      CHECK_EQ(e.line, 0x0D);
      leadMs += e.holdMs;
    }
    if (e.kind == timeline::Kind::Start) break;
    if (e.kind == timeline::Kind::Idle) markMs += e.holdMs;
  }
  CHECK(tx.firstPollMs > tx.pttOnMs);
  CHECK(leadMs <= tx.firstPollMs - tx.pttOnMs + 100);
  CHECK(markMs >= 200);

  // Back to back: each stop element is followed at once by the next start.
  for (size_t c = 0; c + 1 < keying.characters.size(); ++c) {
    CHECK_EQ(keying.characters[c + 1].startElement, keying.characters[c].startElement + 7);
  }
  // Every code sent was armed as six bits and a stop, back to back, and the
  // clock idled on bits before and after.
  const std::string holds = ArmedHolds();
  std::string characters;
  for (size_t i = 0; i < tx.put.size(); ++i) characters += "bbbbbbs";
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
  // The elements' length on the line, to a bound a busy machine keeps: a clock
  // at the system's 15.6 ms, or elements armed wrong, fall outside it.
  CHECK_NEAR(Median(bits), 22, 4);
  CHECK_NEAR(Median(stops), 33, 4);
  // The line is released after PTT off, and by the close.
  const std::vector<box::Event> reports = box::Reports();
  CHECK_EQ(Hex(reports.back().bytes), Hex(ReportBytes(0x0F)));
  CHECK_EQ(std::string(timeline::Name(keying.elements.back().kind)), "off");
}

// Invert Logic left on from a COM setup: MMTTY flips the PTT it passes, so
// the radio transmits, on mark, while MMTTY receives, until the port closes.
SCENARIO(invert_logic_keys_while_mmtty_receives) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  MmttyOptions options;
  options.invertLogic = true;
  Mmtty mmtty(env.plugin, options);
  CHECK_EQ(mmtty.Open(), 1);
  const Transmission tx = mmtty.Transmit(ita2::Encode("E"));
  CHECK_EQ(tx.pttOnResult & 0xFF, 0x0F);
  CHECK_EQ(tx.pttOffResult & 0x02, 0);
  for (uint8_t line : Lines(NextReports(3))) CHECK_EQ(line, 0x0C);
  mmtty.Close();
  CHECK_EQ(Hex(box::Reports().back().bytes), Hex(ReportBytes(0x0F)));
}

// With Tx Port on Sound, MMTTY sends the text as audio and opens the plug-in
// with 45 << 16 for PTT only: the FSK line is never keyed.
SCENARIO(sound_tx_port_keys_ptt_only) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  MmttyOptions options;
  options.fskPort = false;
  Mmtty mmtty(env.plugin, options);
  CHECK_EQ(mmtty.Open(), 1);
  const size_t from = box::ReportCount();
  const Transmission tx = mmtty.Transmit(ita2::Encode("RY"));
  CHECK_EQ(tx.pttOnResult & 0xFF, 0x0D);
  for (const box::Event& r : ReportsFrom(from)) CHECK(r.line() == 0x0D || r.line() == 0x0F);
  mmtty.Close();
}

// The report is exactly as long as the device declares: 00 01 portBits, cut
// short or zero-filled.
SCENARIO(reports_are_the_length_the_box_declares) {
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
