// The status record: the writer's updates seen whole by a reader on another
// thread (run under ThreadSanitizer by the tsan preset), the reader against
// sections it must not believe, and what the check program makes of one.
#include <gmock/gmock.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fixture.h"
#include "platform/box_identity.h"
#include "platform/sim/sim_hid.h"
#include "probe_texts.h"
#include "status/status_reader.h"
#include "status/status_writer.h"
#include "tools/check/status_view.h"
#include "tools/check/text.h"
#include "tools/check/texts.h"

namespace {

using status::Problem;
using status::Record;

constexpr uint32_t kPid = 4242;

// A section as the system gives one: zeroed, on a word boundary.
struct Section {
  std::vector<uint32_t> words = std::vector<uint32_t>(status::kRecordWords);
  void* data() { return words.data(); }
  status::ReadResult Read(size_t bytes = sizeof(Record)) {
    return status::Read(words.data(), bytes, kPid);
  }
};

status::Opening Opening() {
  status::Opening opening;
  opening.hostPid = kPid;
  opening.hostExe = u"MMTTY.EXE";
  opening.hostFolder = u"C:\\MMTTY";
  const uint16_t version[4] = {0, 0, 4, 1};
  std::memcpy(opening.moduleVersion, version, sizeof version);
  opening.counterFrequency = 10000000;      // 10 MHz, as Windows 10 and later give it
  opening.counter = 1000000000;             // 100 s
  opening.systemTime = 133590384000000000;  // 2024-05-01 12:00:00 UTC
  return opening;
}

}  // namespace

TEST(StatusRecord, ReadersOnAnotherThreadSeeOnlyWholeUpdates) {
  // The section outlived an instance whose writer stopped in an update (a
  // monitor held it): the writer goes on from that count, rounded up to even.
  constexpr uint32_t kLeftOff = 0x7FFFFFF1;
  Section section;
  section.words[status::kSequenceWord] = kLeftOff;
  status::Writer writer;
  writer.SetOpening(Opening());
  ASSERT_TRUE(writer.Attach(section.data(), sizeof(Record)));
  EXPECT_EQ(section.Read().record.sequence, kLeftOff + 3);

  // Each update moves fields that must then agree, in the part that every
  // tick changes and, now and then, in the texts.
  constexpr uint32_t kUpdates = 20000;
  std::atomic<bool> done{false};
  std::thread tick([&] {
    for (uint32_t i = 1; i <= kUpdates; ++i) {
      writer.CountTick(1000000000 + i, (i * 37) % 30000);
      writer.CountReport(true);
      writer.CountCharacter(1000000000 + i, true);
      if (i % 64 == 0) {
        writer.SetSettings(i % 128 == 0, 3, i % 128 == 0 ? u"C:\\x.ini" : u"D:\\a\\longer\\y.ini");
      }
      writer.Publish();
    }
    done = true;
  });

  uint32_t whole = 0;
  uint32_t busy = 0;
  uint64_t last = 0;
  const auto check = [&] {
    const status::ReadResult read = section.Read();
    if (read.problem == Problem::Busy) {
      ++busy;
      return;
    }
    ASSERT_EQ(read.problem, Problem::None) << ProblemLine(read, kTextsEnglish.status);
    const Record& r = read.record;
    const uint64_t ticks = status::TickCount(r);
    ASSERT_GE(ticks, last) << "went back";
    last = ticks;
    ASSERT_EQ(r.reportsWritten, ticks);
    ASSERT_EQ(r.characters, ticks);
    ASSERT_EQ(r.characterPeriods, ticks == 0 ? 0 : ticks - 1);
    ASSERT_EQ(r.characterPeriodSum, r.characterPeriods);
    ASSERT_EQ(r.lastTickCounter, ticks == 0 ? 0 : 1000000000 + ticks);
    if (r.settings != 0) {
      ASSERT_EQ(status::TextOf(r.settingsFile),
                r.fskRev == 1 ? u"C:\\x.ini" : u"D:\\a\\longer\\y.ini");
    }
    ++whole;
  };
  while (!done) check();
  tick.join();
  check();
  EXPECT_EQ(last, kUpdates);
  EXPECT_EQ(section.Read().record.sequence, kLeftOff + 3 + 2 * kUpdates);
  EXPECT_GT(whole, 1u);
  std::printf("%u whole reads, %u found the writer busy\n", whole, busy);
}

TEST(StatusRecord, TheReaderBelievesNoSectionItShouldNot) {
  // A published record, then what another process or chance may make of it.
  Section good;
  status::Writer writer;
  writer.SetOpening(Opening());
  writer.CountTick(1000000100, 250);
  writer.SetSettings(0, 1, u"C:\\MMTTY\\tarvokey.ini");
  ASSERT_TRUE(writer.Attach(good.data(), sizeof(Record)));
  ASSERT_EQ(good.Read().problem, Problem::None);

  const auto all = [](uint32_t value) {
    return [value](Record& r) {
      const std::vector<uint32_t> words(sizeof r / 4, value);
      std::memcpy(&r, words.data(), sizeof r);
    };
  };
  const struct {
    const char* name;
    std::function<void(Record&)> change;
    size_t bytes;
    Problem problem;
    const char* field;
  } cases[] = {
      {"as published", [](Record&) {}, sizeof(Record), Problem::None, nullptr},
      {"a bigger view (a mapping is whole pages)", [](Record&) {}, 4096, Problem::None, nullptr},
      {"zeroed: not yet published", all(0), sizeof(Record), Problem::NotWritten, nullptr},
      {"garbage", all(0x5A5A5A5A), sizeof(Record), Problem::NotARecord, nullptr},
      {"garbage whose sequence is odd", all(0x5A5A5A5B), sizeof(Record), Problem::NotARecord,
       nullptr},
      {"torn: the sequence stays odd", [](Record& r) { r.sequence = 7; }, sizeof(Record),
       Problem::Busy, nullptr},
      {"smaller than the header", [](Record&) {}, 12, Problem::ViewTooSmall, nullptr},
      {"smaller than the record", [](Record&) {}, sizeof(Record) - 4, Problem::Truncated, nullptr},
      {"another version", [](Record& r) { r.version = 4; }, sizeof(Record), Problem::WrongVersion,
       nullptr},
      // An older plug-in's: the record up to where version 2 appends.
      {"version 1",
       [](Record& r) {
         r.version = 1;
         r.size = status::kVersion1Size;
       },
       status::kVersion1Size, Problem::None, nullptr},
      {"version 1, linked to a box in use",
       [](Record& r) {
         r.version = 1;
         r.size = status::kVersion1Size;
         r.link = static_cast<uint8_t>(status::Link::InUse);
       },
       status::kVersion1Size, Problem::BadValue, "link"},
      // And up to where version 3 appends: what it lacks reads as zero.
      {"version 2, its view's bytes beyond it garbage",
       [](Record& r) {
         r.version = 2;
         r.size = status::kVersion2Size;
         r.charactersLost = UINT32_MAX;
         std::fill_n(r.hostFolder, status::kHostFolderUnits, u'A');
       },
       sizeof(Record), Problem::None, nullptr},
      {"version 2, waiting for a chosen box",
       [](Record& r) {
         r.version = 2;
         r.size = status::kVersion2Size;
         r.link = static_cast<uint8_t>(status::Link::ChosenAbsent);
       },
       status::kVersion2Size, Problem::BadValue, "link"},
      {"another size", [](Record& r) { r.size = 64; }, sizeof(Record), Problem::WrongSize, nullptr},
      {"another process's", [](Record& r) { r.hostPid = 1; }, sizeof(Record), Problem::OtherProcess,
       nullptr},
      {"unterminated exe name", [](Record& r) { std::fill_n(r.hostExe, 128, u'A'); },
       sizeof(Record), Problem::BadText, "hostExe"},
      {"unterminated path", [](Record& r) { std::fill_n(r.settingsFile, 260, u'\\'); },
       sizeof(Record), Problem::BadText, "settingsFile"},
      {"control byte in the label", [](Record& r) { r.lastFailedCall[0] = '\x1b'; }, sizeof(Record),
       Problem::BadText, "lastFailedCall"},
      {"no such link state", [](Record& r) { r.link = 5; }, sizeof(Record), Problem::BadValue,
       "link"},
      {"more characters lost than sent", [](Record& r) { r.charactersLost = 1; }, sizeof(Record),
       Problem::BadValue, "charactersLost"},
      {"a flag neither 0 nor 1", [](Record& r) { r.ptt = 2; }, sizeof(Record), Problem::BadValue,
       "ptt"},
      {"no counter frequency", [](Record& r) { r.counterFrequency = 0; }, sizeof(Record),
       Problem::BadValue, "counterFrequency"},
      {"a maximum no tick reached", [](Record& r) { r.latenessMaxUs = 90000; }, sizeof(Record),
       Problem::BadValue, "latenessMaxUs"},
      {"more periods than characters", [](Record& r) { r.characterPeriods = 1; }, sizeof(Record),
       Problem::BadValue, "characterPeriods"},
      {"huge counts",
       [](Record& r) {
         for (uint32_t* count : {&r.reportsWritten, &r.reportsFailed, &r.discoveries, &r.linkDrops,
                                 &r.characters, &r.characterPeriods, &r.pttChanges}) {
           *count = UINT32_MAX;
         }
         std::fill_n(r.lateness, status::kLatenessBuckets, UINT32_MAX);
         r.latenessMaxUs = UINT32_MAX;
         r.characterPeriodSum = UINT64_MAX;
         r.lastTickCounter = UINT64_MAX;
       },
       sizeof(Record), Problem::None, nullptr},
      {"closed", [](Record& r) { r.closed = 1; }, sizeof(Record), Problem::Closed, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Section section = good;
    Record record;
    std::memcpy(&record, section.data(), sizeof record);
    c.change(record);
    std::memcpy(section.data(), &record, sizeof record);
    section.words.resize(std::max(c.bytes, sizeof(Record)) / 4);
    const status::ReadResult read = section.Read(c.bytes);
    EXPECT_EQ(read.problem, c.problem);
    EXPECT_STREQ(read.field, c.field);
    const StatusEntry entry{kPid, read};
    const std::string json = StatusJson({entry}, 1e9);
    const std::string panel = StatusPanel({entry}, 1e9, kTextsEnglish.status);
    for (const std::string& shown : {json, panel}) {
      EXPECT_THAT(shown, testing::Not(testing::ContainsRegex("nan|inf|%")));
    }
    if (c.problem != Problem::None && c.problem != Problem::Closed) {
      EXPECT_THAT(json, testing::HasSubstr(ProblemLine(read, kTextsEnglish.status)));
      EXPECT_THAT(panel, testing::HasSubstr("pid 4242: it"));
    }
    if (c.problem == Problem::None && read.record.version < status::kVersion) {
      // What an older version lacks reads as zero, whatever follows it.
      EXPECT_EQ(read.record.charactersLost, 0u);
      EXPECT_EQ(read.record.hostFolder[0], 0);
    }
  }
  // The view need not start on a word only when it is not a mapping.
  Section section = good;
  EXPECT_EQ(status::Read(reinterpret_cast<char*>(section.data()) + 2, sizeof(Record), kPid).problem,
            Problem::Misaligned);
}

TEST(StatusRecord, TheCheckProgramShowsWhatAStationNeeds) {
  Section section;
  status::Writer writer;
  writer.SetOpening(Opening());
  writer.SetTimer(true, status::Throttling::On, 0);
  // A box whose product string holds what JSON must escape, and a lone
  // surrogate.
  const std::u16string product = u"TARVOKEY \"HID\" 3.1\\\t日本🎉\xD800";
  std::vector<uint8_t> bytes;
  for (char16_t unit : product) bytes.insert(bytes.end(), {uint8_t(unit), uint8_t(unit >> 8)});
  const status::Box box{0x0BFE, 0x0E00, 31, bytes.data(), static_cast<uint32_t>(bytes.size())};
  writer.Discovered(status::Link::Linked, &box, 0);
  writer.SetSettings(1, 3, u"C:\\MMTTY\\tarvokey.ini");
  writer.SetPtt(true);
  writer.SetKeyingArmed(true);
  // 1000 ticks: 400 late by 0.3 ms, 570 by 0.8 ms, 30 by 12.4 ms.
  uint64_t counter = 1000000000;
  for (int i = 0; i < 1000; ++i) {
    counter += 220000;
    writer.CountTick(counter, i < 400 ? 300 : i < 970 ? 800 : 12400);
    writer.CountReport(i != 990);
  }
  // 20 characters back to back, 165.2 ms apart; the first two lost, each
  // counted once however many of its elements went nowhere.
  for (int i = 0; i < 20; ++i) {
    writer.CountCharacter(1050000000 + 1652000 * i, i > 0);
    if (i < 2) writer.ElementLost();
    if (i < 2) writer.ElementLost();
  }
  writer.CallFailed("WriteFile", 1167, 1100000000);
  writer.LinkDropped();
  for (int i = 0; i < 3; ++i) writer.Discovered(status::Link::Looking, nullptr, 0);
  ASSERT_TRUE(writer.Attach(section.data(), sizeof(Record)));

  StatusEntry busy;
  busy.pid = 77;
  busy.read.problem = Problem::Busy;
  busy.read.found = status::kReadAttempts;
  // An MMTTY run as administrator: its section is there, but not ours to read.
  StatusEntry elevated;
  elevated.pid = 88;
  elevated.accessDenied = true;
  elevated.exe = "MMTTY.EXE";
  const std::vector<StatusEntry> entries = {{kPid, section.Read()}, busy, elevated};
  const double nowMs = 122050;
  EXPECT_EQ(StatusJson(entries, nowMs), R"([
  {
    "host_pid": 4242,
    "host_exe": "MMTTY.EXE",
    "host_folder": "C:\\MMTTY",
    "module_version": "0.0.4.1",
    "open_time": "2024-05-01T12:00:00Z",
    "open_for_s": 22.050,
    "link": "looking",
    "generation": 31,
    "box_vid": "0BFE",
    "box_pid": "0E00",
    "box_product": "TARVOKEY \"HID\" 3.1\\\u0009日本🎉�",
    "box_key": null,
    "box_choice": "first listed",
    "chosen_key": null,
    "claim_key": null,
    "unclaimed": false,
    "holder_pid": null,
    "holder_exe": null,
    "claim_error": null,
    "same_box_as": [],
    "ticks": 1000,
    "reports_written": 999,
    "reports_failed": 1,
    "discoveries": 4,
    "link_drops": 1,
    "characters": 20,
    "characters_lost": 2,
    "ptt_changes": 1,
    "ptt": true,
    "keying_armed": true,
    "fsk_rev": 1,
    "fsk_pin": 3,
    "settings_file": "C:\\MMTTY\\tarvokey.ini",
    "timer_1ms": true,
    "throttling_opt_out": "on",
    "throttling_error": 0,
    "lateness_ms": {"median": 0.817, "p99": 12.400, "max": 12.400},
    "lateness_histogram": [{"up_to_ms": 0.400, "ticks": 400}, {"up_to_ms": 0.900, "ticks": 570}, {"up_to_ms": 15.000, "ticks": 30}],
    "last_tick_ago_ms": 50.000,
    "char_period_ms": 165.200,
    "char_periods": 19,
    "last_character_ago_s": 13.911,
    "last_failure": {"call": "WriteFile", "error": 1167, "ago_s": 12.050}
  },
  {"host_pid": 77, "problem": "its status kept changing while read (1000 tries): try again"},
  {"host_pid": 88, "host_exe": "MMTTY.EXE", "access_denied": true, "problem": ")" +
                                            std::string(kTextsEnglish.status.runsElevated) + R"("}
]
)");
  // The panel in the probe's words: which text, with what. The warnings are
  // judged on the figures since the open (one look, as --status takes) and
  // say so; the timing one names its figures, median and 99th percentile,
  // as the timing line above has them, and with the 1 ms timer granted and
  // kept for a minimised MMTTY it does not blame minimising.
  const ProbeTexts probe;
  const StatusTexts& e = kTextsEnglish.status;
  using P = ProbeTexts;
  const std::string program = P::Said(e.programInFolder, {"MMTTY.EXE", "4242", "C:\\MMTTY"});
  const std::string prefix = P::Said(e.instancePrefix, {program});
  const std::string elevatedPrefix =
      P::Said(e.instancePrefix, {P::Said(e.program, {"MMTTY.EXE", "88"})});
  EXPECT_EQ(
      StatusPanel(entries, nowMs, probe.texts().status),
      P::Said(e.heading, {program, "0", "0", "4", "1", P::Said(e.seconds, {"22"})}) +
          P::Said(e.boxLost, {u8"TARVOKEY \"HID\" 3.1\\?日本🎉\uFFFD", "31", "0BFE", "0E00"}) +
          P::Said(e.reports, {"999", "1", "4", "1"}) +
          P::Said(e.keying, {P::Said(e.on), P::Said(e.armed), "18", "1"}) +
          P::Said(e.lostLine, {"2"}) +
          P::Said(e.settingsFile, {"1", "3", "C:\\MMTTY\\tarvokey.ini"}) +
          P::Said(e.timer, {P::Said(e.timerGranted), P::Said(e.throttling[1])}) +
          P::Said(e.timing, {"1000", "0.82", "12.40", "12.40"}) +
          P::Said(e.period, {"165.20", "165", "19"}) +
          P::Said(e.lastFailure, {"WriteFile", "1167", P::Said(e.seconds, {"12"})}) +
          elevatedPrefix + P::Said(e.runsElevated) + "\n" + P::Said(e.actionsHeading) + "  " +
          prefix + P::Said(e.boxLostAction) + "\n" + "  " + prefix + P::Said(e.lostAction, {"2"}) +
          "\n" + "  " + prefix +
          P::Said(e.timingPoorAction, {P::Said(e.sinceOpen), "0.8", "12.4", P::Said(e.hintBusy)}) +
          "\n" + "  " +
          P::Said(e.unreadableAction,
                  {"77", P::Said(e.problems[static_cast<size_t>(Problem::Busy)], {"1000"})}) +
          "\n" + "  " + elevatedPrefix + P::Said(e.runsElevatedAction) + "\n");
  EXPECT_TRUE(IsOpenInstance(elevated)) << "open, though not to be read";

  // A path longer than the record holds is cut, and says so.
  writer.SetSettings(0, 1, std::u16string(300, u'x').c_str());
  EXPECT_EQ(status::TextOf(writer.record().settingsFile), std::u16string(258, u'x') + u"\u2026");
  // Closed, the instance is gone from both.
  writer.Detach();
  EXPECT_EQ(StatusJson({{kPid, section.Read()}}, nowMs), "[]\n");
  EXPECT_EQ(StatusPanel({{kPid, section.Read()}}, nowMs, kTextsEnglish.status),
            kTextsEnglish.status.noInstance);
}

// Programs that share a box: the one that waits names the one that keys it,
// with its folder (or says what its claim told it), also while the holder's
// link is down, since the holder keeps the claim; and an older plug-in that
// writes to the same box without any claim is flagged beside the holder.
TEST(StatusRecord, TheCheckProgramNamesWhoHoldsTheBox) {
  constexpr uint64_t kKey = 0x0123456789ABCDEF;
  const std::vector<uint8_t> product = {'T', 0, 'V', 0, 'K', 0};
  std::vector<Section> sections(4);
  std::vector<StatusEntry> entries;
  const auto publish = [&](uint32_t pid, const char16_t* exe, status::Link link, uint64_t key,
                           uint32_t claimError = 0) {
    Section& section = sections[entries.size()];
    status::Writer writer;
    status::Opening opening = Opening();
    opening.hostPid = pid;
    opening.hostExe = exe;
    opening.hostFolder = u"C:\\MMTTY2";
    writer.SetOpening(opening);
    const status::Box box{0x0BFE, 0x0E00, 31, product.data(), 6, key, claimError};
    writer.Discovered(link, &box, link == status::Link::Linked ? key : 0);
    EXPECT_TRUE(writer.Attach(section.data(), sizeof(Record)));
    entries.push_back({pid, status::Read(section.data(), sizeof(Record), pid)});
    return &entries.back().read.record;
  };
  publish(108, u"MMTTY.EXE", status::Link::Linked, kKey);
  publish(212, u"MMTTY.EXE", status::Link::InUse, kKey, plat::kErrorAlreadyExists);
  publish(316, u"Logger.exe", status::Link::InUse, kKey + 1, plat::kErrorAccessDenied);
  Record* older = publish(420, u"OLD.EXE", status::Link::Linked, 0);
  older->version = 1;  // as an older plug-in publishes it, with no identity
  older->hostFolder[0] = 0;
  const StatusTexts& t = kTextsEnglish.status;

  const std::string json = StatusJson(entries, 1e6);
  const auto instance = [&](uint32_t pid) {
    return json.substr(json.find(Format("\"host_pid\": %u", pid)));
  };
  EXPECT_THAT(instance(212), testing::HasSubstr("\"holder_pid\": 108,\n"
                                                "    \"holder_exe\": \"MMTTY.EXE\","));
  EXPECT_THAT(instance(316), testing::HasSubstr("\"holder_pid\": null,"));
  EXPECT_THAT(instance(108), testing::HasSubstr("\"same_box_as\": [420],"));

  const std::string panel = StatusPanel(entries, 1e6, t);
  const std::string named = Format(t.programInFolder, "MMTTY.EXE", 108, "C:\\MMTTY2");
  for (const std::string& line :
       {Format(t.boxInUse, named.c_str(), 0x0BFE, 0x0E00), Format(t.inUseAction, t.holderAdmin),
        Format(t.sameBoxAction, "OLD.EXE", 420), Format(t.sameBoxAction, "MMTTY.EXE", 108),
        Format(t.instancePrefix, Format(t.program, "OLD.EXE", 420).c_str())}) {
    EXPECT_THAT(panel, testing::HasSubstr(line));
  }
  // With more boxes attached, the one waiting is told to choose its own.
  EXPECT_THAT(StatusPanel(entries, 1e6, t, nullptr, 2),
              testing::HasSubstr(Format(t.inUseChooseAction, named.c_str(), "C:\\MMTTY2")));

  // The holder's link down: it keeps the claim, and is still the holder.
  entries[0].read.record.link = static_cast<uint8_t>(status::Link::Looking);
  EXPECT_EQ(FindBoxHolder(entries, kKey, 212).pid, 108u);
  // The holder gone, nothing is named; the claim's error still says what it can.
  entries.erase(entries.begin());
  EXPECT_EQ(HolderText(FindBoxHolder(entries, kKey, 212), plat::kErrorAlreadyExists, t),
            t.holderUnknown);
  EXPECT_EQ(HolderText({}, plat::kErrorInvalidHandle, t), t.holderOtherKind);
}

// --watch judges the timing warnings on what changed over the last minute it
// saw, so that a stall early in the session does not keep one on the screen;
// the panel keeps the figures since the open and shows the minute's beside
// them. A warning names what it was judged on, and suggests minimising as
// the cause only where Windows has not granted the plug-in's request against
// it.
TEST(StatusRecord, WarningsAreJudgedOnTheLastMinuteWatchSaw) {
  Section section;
  status::Writer writer;
  writer.SetOpening(Opening());
  writer.SetTimer(true, status::Throttling::On, 0);
  ASSERT_TRUE(writer.Attach(section.data(), sizeof(Record)));
  uint64_t counter = Opening().counter;
  const auto ticks = [&](int count, uint32_t lateUs) {
    for (int i = 0; i < count; ++i) writer.CountTick(counter += 220000, lateUs);  // 22 ms apart
    writer.Publish();
  };
  const ProbeTexts probe;
  const StatusTexts& e = kTextsEnglish.status;
  using P = ProbeTexts;
  StatusLooks looks;
  const auto look = [&] {
    const double nowMs = static_cast<double>(counter) / 10000 + 1;  // 10 MHz
    const std::vector<StatusEntry> entries = {{kPid, section.Read()}};
    looks.Add(entries, nowMs);
    return StatusPanel(entries, nowMs, probe.texts().status, &looks);
  };
  std::string timingPoor = P::Said(e.timingPoorAction);
  timingPoor += "|";

  // A stall early on: 30 ticks 12.4 ms late after 300 on time. At the first
  // look there is only the open to judge since, and the warning says so.
  ticks(300, 300);
  ticks(30, 12400);
  std::string panel = look();
  EXPECT_THAT(panel, testing::HasSubstr(timingPoor + P::Said(e.sinceOpen) + "|"));
  EXPECT_THAT(panel, testing::Not(testing::HasSubstr(P::Said(e.recentTiming))));

  // 44 s on time: the warning is gone; the since-open figures stay.
  ticks(2000, 300);
  panel = look();
  EXPECT_THAT(panel, testing::Not(testing::HasSubstr(timingPoor)));
  EXPECT_THAT(panel, testing::HasSubstr(P::Said(e.timing, {"2330", "0.35", "12.40", "12.40"}) +
                                        P::Said(e.recentTiming, {P::Said(e.seconds, {"44"}), "2000",
                                                                 "0.35", "0.40"})));

  // Late again, with Windows refusing to keep the timer for a minimised
  // MMTTY: judged on the 50 s since the first look, and minimising named.
  writer.SetTimer(true, status::Throttling::Failed, 5);
  ticks(300, 12400);
  panel = look();
  EXPECT_THAT(panel, testing::HasSubstr(P::Said(
                         e.timingPoorAction, {P::Said(e.recentSpan, {P::Said(e.seconds, {"50"})}),
                                              "0.4", "12.4", P::Said(e.hintMinimised)})));
}

// What an open instance publishes, read as the check program reads it: the
// host, the box and every count, the settings in force, and each tick's
// lateness (on the simulated clock every tick is on time). An unplug shows at
// the next tick; the close marks the record closed and gives the section up.
TEST_F(DriverTest, AnOpenInstancePublishesWhatItDoes) {
  std::ofstream("tarvokey.ini", std::ios::binary) << "FskRev=0\r\nFskPin=1\r\n";
  sim::SetProcessId(777);
  const int box = sim::AttachBox(9);
  ASSERT_EQ(extfskOpen(0x002D0016), 1);
  extfskSetPTT(1);
  for (int32_t code : {0x1F, 0x13, 0x13}) {
    while (extfskIsTxBusy() == 1) sim::AdvanceMs(1);
    extfskPutChar(code);
  }
  sim::AdvanceMs(400);

  auto read = [] {
    const std::vector<sim::StatusSection> sections = sim::StatusSections();
    EXPECT_EQ(sections.size(), 1u);
    if (sections.empty()) return status::ReadResult{};
    EXPECT_EQ(sections[0].name, "Local\\tarvokey-status-777");
    return status::Read(sections[0].view, sections[0].bytes, 777);
  };
  status::ReadResult open = read();
  ASSERT_EQ(open.problem, Problem::None);
  const Record& r = open.record;
  EXPECT_EQ(status::TextOf(r.hostExe), u"MMTTY.EXE");
  EXPECT_EQ(r.link, static_cast<uint8_t>(status::Link::Linked));
  EXPECT_EQ(r.generation, 31);
  EXPECT_EQ(status::TextOf(r.boxProduct), sim::kSimulatedProduct);
  // Every report the box received, the first (before the clock) included.
  EXPECT_EQ(r.reportsWritten, sim::HidReports().size());
  EXPECT_EQ(r.reportsFailed, 0u);
  EXPECT_EQ(status::TickCount(r), r.reportsWritten - 1);
  EXPECT_EQ(r.lateness[0], status::TickCount(r));
  EXPECT_EQ(r.latenessMaxUs, 0u);
  EXPECT_EQ(r.characters, 3u);
  EXPECT_EQ(r.characterPeriods, 2u);
  EXPECT_EQ(r.characterPeriodSum, 2u * 165000) << "microseconds on the simulated counter";
  EXPECT_EQ(r.ptt, 1);
  EXPECT_EQ(r.pttChanges, 1u);
  EXPECT_EQ(r.keyingArmed, 1);
  EXPECT_EQ(r.fskRev, 0);
  EXPECT_EQ(r.fskPin, 1);
  EXPECT_EQ(r.settings, static_cast<uint8_t>(status::Settings::File));
  const std::u16string file = status::TextOf(r.settingsFile);
  EXPECT_EQ(file.substr(file.find_last_of(u'/') + 1), u"tarvokey.ini");
  EXPECT_EQ(r.timer1ms, 1);
  EXPECT_EQ(r.throttling, static_cast<uint8_t>(status::Throttling::On));

  sim::Box()->Unplug(box);
  sim::AdvanceMs(50);
  const status::ReadResult lost = read();
  ASSERT_EQ(lost.problem, Problem::None);
  EXPECT_EQ(lost.record.link, static_cast<uint8_t>(status::Link::Looking));
  EXPECT_EQ(lost.record.reportsFailed, 1u);
  EXPECT_EQ(lost.record.linkDrops, 1u);
  EXPECT_STREQ(lost.record.lastFailedCall, "WriteFile");
  EXPECT_EQ(lost.record.lastFailureError, plat::kErrorDeviceNotConnected);
  EXPECT_GT(lost.record.discoveries, r.discoveries);

  const sim::StatusSection held = sim::StatusSections().at(0);
  extfskClose();
  EXPECT_TRUE(sim::StatusSections().empty());
  EXPECT_EQ(status::Read(held.view, held.bytes, 777).problem, Problem::Closed);
}

// A host where the section cannot be made, or where another program made one
// in its name first: said, the other program's bytes left as they are (a
// short view is exactly as long as the section, so AddressSanitizer sees a
// write past it), and the instance keys as before.
TEST_F(DriverTest, WithoutAStatusSectionTheInstanceKeysAsBefore) {
  constexpr uint32_t kFill = 0x5A5A5A5B;
  const auto Unusable = [](size_t writable) {
    return "Status section not usable: " + std::to_string(writable) + " of " +
           std::to_string(sizeof(Record)) + " ";
  };
  const struct {
    const char* name;
    size_t bytes;  // 0: the section is refused
    size_t writable;
    std::string said;
  } cases[] = {
      {"refused", 0, 0, "CreateFileMapping (status): "},
      {"reserved, never committed", 65536, 0, Unusable(0)},
      {"read-only", 4096, 0, Unusable(0)},
      {"shorter than the record", 64, 64, Unusable(64)},
      {"garbage", 4096, 4096, "Status section not usable: another program's"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResetModule();
    if (c.bytes == 0) {
      sim::RefuseStatusSections();
    } else {
      sim::SquatStatusSection(c.bytes, c.writable, kFill);
    }
    sim::AttachBox(9);
    ASSERT_EQ(extfskOpen(0), 1);
    const size_t before = sim::HidReports().size();
    sim::AdvanceMs(220);
    EXPECT_EQ(sim::HidReports().size(), before + 10);
    extfskClose();
    EXPECT_THAT(sim::TraceLines(), ::testing::Contains(::testing::StartsWith(c.said)));
    for (const sim::StatusSection& squatted : sim::StatusSections()) {
      const auto* words = static_cast<const uint32_t*>(squatted.view);
      EXPECT_EQ(std::count(words, words + squatted.bytes / 4, kFill), squatted.bytes / 4);
    }
  }
}
