// The device link against a changing bus: boxes that go away, fail, stall,
// or are not ours to use.
#include "host/scenario.h"

namespace {

// Index of the first failed write; events.size() if none.
size_t FirstFailedWrite(const std::vector<box::Event>& events) {
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].kind == box::EventKind::Write && !events[i].ok) return i;
  }
  return events.size();
}

}  // namespace

// Unplugged: one failed write drops the link, then a discovery every tick
// while the clock goes on; replugged: reports again within a tick.
SCENARIO(unplug_and_replug) {
  WriteDefaultSettings();
  const int slot = box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  OpenKeyed(plugin);

  const size_t mark = box::Events().size();
  box::Unplug(slot);
  plugin.PutChar(0x13);
  CHECK(WaitUntilNotBusy(plugin, 500) >= 0);  // framing goes on without the box
  Sleep(200);

  std::vector<box::Event> outage = Slice(box::Events(), mark);
  const size_t failed = FirstFailedWrite(outage);
  REQUIRE(failed < outage.size());
  const std::vector<box::Event> after(outage.begin() + static_cast<std::ptrdiff_t>(failed) + 1,
                                      outage.end());
  CHECK_EQ(Count(after, box::EventKind::Write), 0u);  // one failed write, then none
  REQUIRE(after.size() >= 2);
  CHECK(after[0].kind == box::EventKind::Close && after[1].kind == box::EventKind::Close);
  CHECK(Count(after, box::EventKind::Enumerate) >= 5);  // ~10 ticks in 200 ms
  CHECK_EQ(Count(after, box::EventKind::Open), 0u);     // not listed, so not opened
  CHECK_EQ(box::OpenDeviceHandles(), 0);

  const size_t back = box::Events().size();
  box::Replug(slot);
  const std::vector<box::Event> next = NextReports(1, 1000);
  REQUIRE(next.size() == 1);
  CHECK(next[0].ok);
  CHECK_EQ(next[0].line(), 0x0C);
  // Found by the first discovery that starts after the replug (one may have
  // been under way as it came).
  CHECK(Count(Slice(box::Events(), back), box::EventKind::Enumerate) <= 2);
  CHECK_EQ(box::OpenDeviceHandles(), 2);
  plugin.Close();
}

// A write that fails on a box that is still there: the link drops and the
// next tick finds the box again.
SCENARIO(failed_write_recovers) {
  WriteDefaultSettings();
  const int slot = box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  OpenKeyed(plugin);

  const size_t mark = box::Events().size();
  box::FailNextWrites(1);
  NextReports(3);
  const std::vector<box::Event> events = Slice(box::Events(), mark);
  const size_t failed = FirstFailedWrite(events);
  REQUIRE(failed + 6 < events.size());
  CHECK(events[failed + 1].kind == box::EventKind::Close);
  CHECK(events[failed + 2].kind == box::EventKind::Close);
  CHECK(events[failed + 3].kind == box::EventKind::Enumerate);
  size_t rewritten = failed + 1;
  while (rewritten < events.size() && events[rewritten].kind != box::EventKind::Write) ++rewritten;
  REQUIRE(rewritten < events.size());
  CHECK(events[rewritten].ok);
  CHECK_EQ(events[rewritten].slot, slot);
  // By the next tick: its discovery finds the box and writes at once.
  CHECK_EQ(Count(Slice(events, failed, rewritten), box::EventKind::Enumerate), 1u);
  plugin.Close();
}

// A write that takes long holds the clock: no tick overlaps it (the box
// faults on two threads in the link), and the clock resumes after it.
SCENARIO(stalled_write_holds_the_clock) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  OpenKeyed(plugin);
  RecordArmedHolds();

  box::StallNextWrites(1, 150);
  const size_t before = box::ReportCount();
  NextReports(3, 3000);
  const std::vector<box::Event> reports = box::Reports();
  REQUIRE(reports.size() >= before + 3);
  const box::Event& previous = reports[before - 1];
  const box::Event& stalled = reports[before];
  const box::Event& next = reports[before + 1];
  CHECK(stalled.ms - previous.ms >= 150);
  CHECK(next.ms >= stalled.ms);
  // The clock neither skips nor catches up: every element is armed for 22 ms
  // as before, the one after the stall running as soon as it returns.
  CHECK_EQ(ArmedHolds().find_first_not_of('b'), std::string::npos);
  plugin.Close();
}

// Acceptance by the generation digits of the product string (positions 13
// and 15), with the manufacturer fallback; a refused box is opened, examined
// and closed again at every tick, and never written to.
SCENARIO(refused_boxes_are_examined_and_never_written) {
  WriteDefaultSettings();
  Plugin plugin(env.plugin);
  struct Case {
    const char16_t* product;
    const char16_t* manufacturer;
    bool readable;
    bool accepted;
  };
  //                 0123456789012345
  const Case cases[] = {
      {u"TARVOKEY Gen.3 1", u"TARVOKEY", true, true},   // 31
      {u"TARVOKEY Gen.0 5", u"TARVOKEY", true, true},   // 5
      {u"TARVOKEY Gen.3-1", u"TARVOKEY", true, true},   // position 14 plays no part
      {u"TARVOKEY Gen.9 9", u"JAPAN", true, false},     // 99, whatever the maker
      {u"TARVOKEY Gen.0 0", u"JAPAN", true, false},     // 0
      {u"TARVOKEY", u"JA TARVO", true, true},           // no digits; maker "J": 10
      {u"TARVOKEY", u"TARVOKEY", true, false},          // no digits, other maker: 99
      {u"TARVOKEY Gen.X 1", u"TARVOKEY", true, false},  // one digit only
      {u"TARVOKEY Gen.3 1", u"JAPAN", false, false},    // strings unreadable: 99
  };
  for (const Case& c : cases) {
    const auto* named = reinterpret_cast<const wchar_t*>(c.product);  // UTF-16 on Windows
    box::Device device;
    device.product = c.product;
    device.manufacturer = c.manufacturer;
    device.stringsReadable = c.readable;
    const int slot = box::Plug(device);
    const size_t mark = box::Events().size();
    CHECK_EQ(plugin.Open(), 1);
    Sleep(130);
    const std::vector<box::Event> events = Slice(box::Events(), mark);
    const size_t writes = Count(events, box::EventKind::Write, slot);
    const size_t opens = Count(events, box::EventKind::Open, slot);
    if (c.accepted) {
      if (!CHECK(writes >= 4)) std::fprintf(stderr, "  refused: %ls\n", named);
      CHECK_EQ(opens, 2u);  // found once, kept open
    } else {
      if (!CHECK_EQ(writes, 0u)) std::fprintf(stderr, "  accepted: %ls\n", named);
      CHECK(opens >= 2 * 4);  // both handles at every discovery
    }
    plugin.Close();
    CHECK_EQ(box::OpenDeviceHandles(), 0);
    box::Unplug(slot);
  }
}

// Two boxes: only the first listed is examined; while it is refused and
// attached, the second is not tried. Devices of other makes are skipped.
SCENARIO(first_listed_box_decides) {
  WriteDefaultSettings();
  box::Device other;
  other.vendorId = 0x046D;
  other.productId = 0xC52B;
  other.product = u"USB Receiver";
  const int mouse = box::Plug(other);
  box::Device refused;
  refused.product = u"TARVOKEY Gen.9 9";
  const int first = box::Plug(refused);
  const int second = box::Plug(box::Device{});

  Plugin plugin(env.plugin);
  CHECK_EQ(plugin.Open(), 1);
  Sleep(150);
  std::vector<box::Event> events = box::Events();
  CHECK_EQ(Count(events, box::EventKind::Write), 0u);
  CHECK_EQ(Count(events, box::EventKind::Open, second), 0u);
  CHECK(Count(events, box::EventKind::Open, mouse) >= 4);  // opened, not ours, closed

  const double gone = box::NowMs();
  box::Unplug(first);
  const std::vector<box::Event> next = NextReports(1, 1000);
  REQUIRE(next.size() == 1);
  CHECK_EQ(next[0].slot, second);
  CHECK(next[0].ok);
  CHECK(next[0].ms - gone <= 33 + 40);
  plugin.Close();
}
