// The module's life as the host drives it: exports, open and close, reopen,
// (unload: e2e_unload.cpp).
#include "host/scenario.h"

namespace {

// Index of the first event of `kind` at or after `from`; events.size() if none.
size_t Find(const std::vector<box::Event>& events, box::EventKind kind, size_t from = 0) {
  while (from < events.size() && events[from].kind != kind) ++from;
  return from;
}

}  // namespace

// Five plain names, stdcall (checked on every call by the plug-in wrapper),
// and every call sound with no box attached.
SCENARIO(exports_are_sound_without_a_box) {
  WriteDefaultSettings();
  Plugin plugin(env.plugin);

  // Nothing open: the calls do nothing and do not fault.
  plugin.Close();
  CHECK_EQ(plugin.IsTxBusy(), 0);
  CHECK_EQ(plugin.PutChar(0x13), 0);
  CHECK_EQ(plugin.SetPtt(1), 0);

  CHECK_EQ(plugin.Open(), 1);
  CHECK(box::Discoveries() >= 1);  // the first report looked for the box
  const int before = box::Discoveries();
  const double from = box::NowMs();
  Sleep(220);
  // One discovery per tick (22 ms) while no box is there, and no more.
  const int during = box::Discoveries() - before;
  const double ticks = (box::NowMs() - from) / 22;
  CHECK(during >= ticks / 2 && during <= ticks + 2);

  CHECK_EQ(plugin.IsTxBusy(), 0);
  CHECK_EQ(plugin.PutChar(0x1F3), 0xF3);  // low byte only
  CHECK_EQ(plugin.IsTxBusy(), 1);
  CHECK(WaitUntilNotBusy(plugin, 500) >= 0);  // the clock takes it, box or not
  CHECK_EQ(plugin.PutChar(-1), 0xFF);
  CHECK_EQ(plugin.IsTxBusy(), 1);
  CHECK(WaitUntilNotBusy(plugin, 500) >= 0);

  CHECK_EQ(plugin.SetPtt(1) & 0xFF, 0x0D);
  CHECK_EQ(plugin.SetPtt(0) & 0xFF, 0x0F);

  plugin.Close();
  const int afterClose = box::Discoveries();
  plugin.Close();
  Sleep(120);
  CHECK_EQ(box::Discoveries(), afterClose);  // the clock is gone

  CHECK_EQ(plugin.Open(0), 1);  // the host's argument plays no part
  plugin.Close();
  CHECK_EQ(box::ReportCount(), 0u);
}

// A box plugged in after open is found within a tick.
SCENARIO(box_plugged_in_after_open) {
  WriteDefaultSettings();
  Plugin plugin(env.plugin);
  CHECK_EQ(plugin.Open(), 1);
  Sleep(70);
  CHECK_EQ(box::ReportCount(), 0u);

  const double plugged = box::NowMs();
  box::Plug(box::Device{});
  const std::vector<box::Event> first = NextReports(1, 1000);
  REQUIRE(first.size() == 1);
  CHECK(first[0].ok);
  CHECK_EQ(Hex(first[0].bytes), Hex(ReportBytes(0x0F)));
  // Within one element (33 ms at most), with room for a busy machine.
  CHECK(first[0].ms - plugged <= 33 + 40);
  plugin.Close();
}

// Open builds the instance and writes its first report at once, from the
// host's thread; close writes the release report last and leaves nothing.
SCENARIO(open_close_and_reopen) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  const DWORD host = GetCurrentThreadId();

  const double opening = box::NowMs();
  CHECK_EQ(plugin.Open(), 1);
  const double opened = box::NowMs();
  std::vector<box::Event> reports = box::Reports();
  REQUIRE(reports.size() >= 1);
  CHECK(reports[0].ms >= opening && reports[0].ms <= opened);
  CHECK_EQ(reports[0].threadId, host);
  CHECK_EQ(Hex(reports[0].bytes), Hex(ReportBytes(0x0F)));
  CHECK_EQ(box::OpenDeviceHandles(), 2);  // write side and overlapped read side
  CHECK_EQ(box::EventsCreated(), 1);

  CHECK_EQ(plugin.SetPtt(1) & 0xFF, 0x0D);
  CHECK_EQ(plugin.IsTxBusy(), 0);
  const std::vector<box::Event> keyed = NextReports(2);
  for (const box::Event& r : keyed) CHECK_EQ(r.line(), 0x0C);

  // Close: the release report is the last write, then both handles close.
  size_t mark = box::Events().size();
  plugin.Close();
  std::vector<box::Event> events = box::Events();
  size_t release = events.size();
  for (size_t i = mark; i < events.size(); ++i) {
    if (events[i].kind == box::EventKind::Write) release = i;
  }
  REQUIRE(release < events.size());
  CHECK_EQ(Hex(events[release].bytes), Hex(ReportBytes(0x0F)));
  CHECK_EQ(events[release].threadId, host);
  CHECK_EQ(Count(Slice(events, release), box::EventKind::Close), 2u);
  CHECK_EQ(box::OpenDeviceHandles(), 0);
  CHECK_EQ(box::OpenEvents(), 0);

  // Nothing more after close returns, and a second close does nothing.
  const size_t closedAt = events.size();
  plugin.Close();
  Sleep(150);
  CHECK_EQ(box::Events().size(), closedAt);

  // Reopen: a new instance, PTT released again.
  CHECK_EQ(plugin.Open(), 1);
  NextReports(3);  // the clock runs steadily
  for (const box::Event& r : ReportsFrom(box::ReportCount() - 3)) CHECK_EQ(r.line(), 0x0F);

  // Open on an open instance: the old one releases the lines and closes its
  // handles before the new one looks for the box.
  CHECK_EQ(plugin.SetPtt(1) & 0xFF, 0x0D);
  NextReports(1);
  mark = box::Events().size();
  CHECK_EQ(plugin.Open(), 1);
  events = box::Events();
  const size_t newSearch = Find(events, box::EventKind::Enumerate, mark);
  REQUIRE(newSearch < events.size());
  size_t oldRelease = events.size();
  for (size_t i = mark; i < newSearch; ++i) {
    if (events[i].kind == box::EventKind::Write) oldRelease = i;
  }
  REQUIRE(oldRelease < newSearch);
  CHECK_EQ(Hex(events[oldRelease].bytes), Hex(ReportBytes(0x0F)));
  CHECK_EQ(Count(Slice(events, oldRelease, newSearch), box::EventKind::Close), 2u);
  const size_t newFirst = Find(events, box::EventKind::Write, newSearch);
  REQUIRE(newFirst < events.size());
  CHECK_EQ(Hex(events[newFirst].bytes), Hex(ReportBytes(0x0F)));
  CHECK_EQ(box::OpenDeviceHandles(), 2);
  plugin.Close();

  // Each clock asked Windows 11 to honour its timer resolution when hidden,
  // and put back what the host had when it stopped.
  REQUIRE(plugin.imports("GetProcAddress"));
  const std::string honour = Text({{PROCESS_POWER_THROTTLING_CURRENT_VERSION,
                                    PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION, 0}});
  const std::string back = Text({box::kHostPowerThrottling});
  CHECK_EQ(Text(box::PowerThrottlingCalls()),
           honour + " " + back + " " + honour + " " + back + " " + honour + " " + back);
}

// The framing state belongs to the module: a character cut short by close is
// finished by the next instance's clock before anything else.
SCENARIO(reopen_finishes_an_interrupted_character) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  OpenKeyed(plugin);
  RecordArmedHolds();

  // 0x00: five space data bits, so what is left of it is easy to see.
  plugin.PutChar(0x00);
  const size_t from = box::ReportCount();
  for (;;) {
    const std::vector<box::Event> next = NextReports(1);
    REQUIRE(next.size() == 1 && box::ReportCount() - from < 20);
    if (next[0].line() == 0x0D) break;  // the start bit
  }
  plugin.Close();

  // The new instance keys at once, before its first tick (22 ms after open).
  const size_t armedBefore = ArmedHolds().size();
  CHECK_EQ(plugin.Open(), 1);
  plugin.SetPtt(1);
  plugin.IsTxBusy();
  const size_t opened = box::ReportCount();
  NextReports(8);
  const std::vector<box::Event> reports = ReportsFrom(opened);
  // The rest of the data bits (space), then the 33 ms stop element (mark),
  // then idle mark.
  size_t i = 0;
  while (i < reports.size() && reports[i].line() == 0x0D) ++i;
  CHECK(i >= 1 && i <= 5);
  REQUIRE(i + 1 < reports.size());
  CHECK_EQ(reports[i].line(), 0x0C);
  // Its clock's first arm, one for each data bit's tick, then the stop's.
  CHECK_EQ(ArmedHolds().substr(armedBefore).find('s'), i + 1);
  plugin.Close();
}
