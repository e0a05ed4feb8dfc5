#include "tools/check/status_view.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "hidlink/box_key.h"
#include "keying/element_holds.h"
#include "platform/platform.h"
#include "tools/check/text.h"
#include "tools/check/texts.h"
#include "tools/check/timeline.h"

namespace {

using status::Record;

// Judged only once this many have run: the first seconds are not the PC's.
constexpr uint64_t kTicksToJudge = 200;
constexpr uint32_t kPeriodsToJudge = 10;
// The benchmark's targets (scripts/bench), applied to tick lateness.
// Ticks come every 22 to 33 ms while an instance is open.
constexpr double kStoppedClockMs = 2000;

// A UTF-8 text as a JSON string.
std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      out += Format("\\u%04x", static_cast<unsigned>(c));
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// A figure to three places, or null where there is none.
std::string JsonNumber(double value, bool known = true) {
  return known && std::isfinite(value) ? Format("%.3f", value) : "null";
}

std::string JsonBool(bool value) { return value ? "true" : "false"; }

// Record texts on the panel: a control character would move the cursor.
template <size_t N>
std::string Shown(const char16_t (&text)[N]) {
  return Printable(Utf8(status::TextOf(text)));
}

double Ms(const Record& r, uint64_t counter) {
  return static_cast<double>(counter) * 1000.0 / static_cast<double>(r.counterFrequency);
}

double AgeMs(const Record& r, uint64_t counter, double nowMs) {
  return std::max(0.0, nowMs - Ms(r, counter));
}

double PeriodMs(const Record& r, uint64_t sum, uint32_t periods) {
  return periods == 0 ? 0 : Ms(r, sum) / periods;
}
double PeriodMs(const Record& r) { return PeriodMs(r, r.characterPeriodSum, r.characterPeriods); }

const char* LinkName(uint8_t link) {
  static const char* const names[] = {"looking", "linked", "refused", "in use",
                                      "chosen box not present"};
  return names[link];
}

const char* ChoiceName(uint8_t choice) {
  static const char* const names[] = {"first listed", "chosen", "malformed"};
  return names[choice];
}

std::string JsonKey(uint64_t key) { return key == 0 ? "null" : JsonText(KeyText(key)); }

// The program of a record, told apart from another of the same name by its
// folder (which an older plug-in does not publish).
std::string ProgramOf(const Record& r, const StatusTexts& texts) {
  return ProgramText(Utf8(status::TextOf(r.hostExe)), r.hostPid, Utf8(status::TextOf(r.hostFolder)),
                     texts);
}

bool HasLink(const Record& r, status::Link link) { return r.link == static_cast<uint8_t>(link); }

// Two instances that both write to one box: with the claim only an older
// plug-in, whose record names no box identity, can be the second. Without
// identities the box is known by what it reports.
bool KeySameBox(const Record& a, const Record& b) {
  if (a.hostPid == b.hostPid || !HasLink(a, status::Link::Linked) ||
      !HasLink(b, status::Link::Linked)) {
    return false;
  }
  if (a.boxKey != 0 && b.boxKey != 0) return a.boxKey == b.boxKey;
  return a.boxVendorId == b.boxVendorId && a.boxProductId == b.boxProductId &&
         status::TextOf(a.boxProduct) == status::TextOf(b.boxProduct);
}

std::vector<const Record*> OthersOnTheBox(const std::vector<StatusEntry>& entries,
                                          const Record& r) {
  std::vector<const Record*> others;
  for (const StatusEntry& entry : entries) {
    if (entry.read.problem == status::Problem::None && KeySameBox(r, entry.read.record)) {
      others.push_back(&entry.read.record);
    }
  }
  return others;
}

// The holder of the box an instance waits for, in words.
std::string HolderOfRecord(const std::vector<StatusEntry>& entries, const Record& r,
                           const StatusTexts& texts) {
  return HolderText(FindBoxHolder(entries, r.boxKey, r.hostPid), r.claimError, texts);
}

const char* ThrottlingName(uint8_t throttling) {
  static const char* const names[] = {"not asked", "on", "not available", "failed"};
  return names[throttling];
}

// The wall time of a FILETIME, as ISO 8601 in UTC.
std::string IsoTime(uint64_t fileTime) {
  const int64_t seconds = static_cast<int64_t>(fileTime / 10000000) - 11644473600;  // from 1970
  int64_t days = seconds / 86400;
  int64_t inDay = seconds % 86400;
  if (inDay < 0) {
    inDay += 86400;
    --days;
  }
  // Days to the civil date (H. Hinnant's algorithm).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return Format("%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day),
                static_cast<long long>(inDay / 3600), static_cast<long long>(inDay / 60 % 60),
                static_cast<long long>(inDay % 60));
}

std::string Duration(double ms, const StatusTexts& texts) {
  const double whole = std::min(std::floor(ms / 1000), 4e9 * 3600);
  const auto seconds = static_cast<uint64_t>(whole);
  if (seconds < 60) return Format(texts.seconds, static_cast<unsigned>(seconds));
  if (seconds < 3600) {
    return Format(texts.minutes, static_cast<unsigned>(seconds / 60),
                  static_cast<unsigned>(seconds % 60));
  }
  return Format(texts.hours, static_cast<unsigned>(seconds / 3600),
                static_cast<unsigned>(seconds / 60 % 60));
}

std::string ModuleVersion(const Record& r) {
  return Format("%u.%u.%u.%u", r.moduleVersion[0], r.moduleVersion[1], r.moduleVersion[2],
                r.moduleVersion[3]);
}

std::string SettingsFile(const Record& r) {
  switch (static_cast<status::Settings>(r.settings)) {
    case status::Settings::File:
      return JsonText(Utf8(status::TextOf(r.settingsFile)));
    case status::Settings::AskedNotWritten:
      return JsonText("asked, not written");
    case status::Settings::NotRead:
      break;
  }
  return "null";
}

std::string InstanceJson(const Record& r, double nowMs, const std::vector<StatusEntry>& entries) {
  const LatenessFigures lateness = LatenessOf(r);
  std::string histogram;
  for (uint32_t bucket = 0; bucket < status::kLatenessBuckets; ++bucket) {
    if (r.lateness[bucket] == 0) continue;
    const bool last = bucket == status::kLatenessBuckets - 1;
    histogram +=
        Format("%s{\"up_to_ms\": %s, \"ticks\": %u}", histogram.empty() ? "" : ", ",
               JsonNumber(last ? 0 : status::kLatenessUpperUs[bucket] / 1000.0, !last).c_str(),
               r.lateness[bucket]);
  }
  std::string failure = "null";
  if (r.lastFailedCall[0] != '\0') {
    failure = Format("{\"call\": %s, \"error\": %u, \"ago_s\": %s}",
                     JsonText(r.lastFailedCall).c_str(), r.lastFailureError,
                     JsonNumber(AgeMs(r, r.lastFailureCounter, nowMs) / 1000).c_str());
  }
  const auto field = [](const char* name, const std::string& value) {
    return Format("    \"%s\": %s,\n", name, value.c_str());
  };
  const auto count = [](uint64_t value) {
    return Format("%llu", static_cast<unsigned long long>(value));
  };
  // Who holds the box this instance waits for, when it waits; and who else
  // writes to the box it keys.
  const BoxHolder holder =
      HasLink(r, status::Link::InUse) ? FindBoxHolder(entries, r.boxKey, r.hostPid) : BoxHolder{};
  std::string sameBox;
  for (const Record* other : OthersOnTheBox(entries, r)) {
    sameBox += (sameBox.empty() ? "" : ", ") + count(other->hostPid);
  }
  return "  {\n" + field("host_pid", count(r.hostPid)) +
         field("host_exe", JsonText(Utf8(status::TextOf(r.hostExe)))) +
         field("host_folder",
               r.hostFolder[0] == 0 ? "null" : JsonText(Utf8(status::TextOf(r.hostFolder)))) +
         field("module_version", JsonText(ModuleVersion(r))) +
         field("open_time", r.openSystemTime == 0 ? "null" : JsonText(IsoTime(r.openSystemTime))) +
         field("open_for_s", JsonNumber(AgeMs(r, r.openCounter, nowMs) / 1000)) +
         field("link", JsonText(LinkName(r.link))) +
         field("generation", Format("%d", r.generation)) +
         field("box_vid", JsonText(Format("%04X", r.boxVendorId))) +
         field("box_pid", JsonText(Format("%04X", r.boxProductId))) +
         field("box_product", JsonText(Utf8(status::TextOf(r.boxProduct)))) +
         field("box_key", JsonKey(r.boxKey)) + field("box_choice", JsonText(ChoiceName(r.choice))) +
         field("chosen_key", JsonKey(r.chosenKey)) + field("claim_key", JsonKey(r.claimKey)) +
         field("unclaimed", JsonBool(r.unclaimed != 0)) +
         field("holder_pid", holder.pid == 0 ? "null" : count(holder.pid)) +
         field("holder_exe", holder.pid == 0 ? "null" : JsonText(Utf8(holder.exe))) +
         field("claim_error",
               HasLink(r, status::Link::InUse) || r.unclaimed ? count(r.claimError) : "null") +
         field("same_box_as", "[" + sameBox + "]") + field("ticks", count(lateness.ticks)) +
         field("reports_written", count(r.reportsWritten)) +
         field("reports_failed", count(r.reportsFailed)) +
         field("discoveries", count(r.discoveries)) + field("link_drops", count(r.linkDrops)) +
         field("characters", count(r.characters)) +
         field("characters_lost", count(r.charactersLost)) +
         field("ptt_changes", count(r.pttChanges)) + field("ptt", JsonBool(r.ptt != 0)) +
         field("keying_armed", JsonBool(r.keyingArmed != 0)) +
         field("fsk_rev", Format("%d", r.fskRev)) + field("fsk_pin", Format("%d", r.fskPin)) +
         field("settings_file", SettingsFile(r)) + field("timer_1ms", JsonBool(r.timer1ms != 0)) +
         field("throttling_opt_out", JsonText(ThrottlingName(r.throttling))) +
         field("throttling_error", count(r.throttlingError)) +
         field("lateness_ms", Format("{\"median\": %s, \"p99\": %s, \"max\": %s}",
                                     JsonNumber(lateness.medianMs, lateness.ticks > 0).c_str(),
                                     JsonNumber(lateness.p99Ms, lateness.ticks > 0).c_str(),
                                     JsonNumber(lateness.maxMs, lateness.ticks > 0).c_str())) +
         field("lateness_histogram", "[" + histogram + "]") +
         field("last_tick_ago_ms",
               JsonNumber(AgeMs(r, r.lastTickCounter, nowMs), lateness.ticks > 0)) +
         field("char_period_ms", JsonNumber(PeriodMs(r), r.characterPeriods > 0)) +
         field("char_periods", count(r.characterPeriods)) +
         field("last_character_ago_s",
               JsonNumber(AgeMs(r, r.lastCharacterCounter, nowMs) / 1000, r.characters > 0)) +
         "    \"last_failure\": " + failure + "\n  }";
}

// The highest lateness a window's histogram may hold: the top of its highest
// bucket, and never above the maximum since the open.
uint32_t WindowMaxUs(const RecentCounts& counts, const Record& r) {
  for (uint32_t bucket = status::kLatenessBuckets; bucket-- > 0;) {
    if (counts.lateness[bucket] == 0) continue;
    return bucket == status::kLatenessBuckets - 1
               ? r.latenessMaxUs
               : std::min(status::kLatenessUpperUs[bucket], r.latenessMaxUs);
  }
  return 0;
}

// What the timing warnings are judged on, and the span it covers in words:
// the last minute --watch has seen, once it holds enough ticks to judge;
// else, as for a single --status, everything since the open.
struct Judged {
  std::string span;
  LatenessFigures lateness;
  uint32_t periods = 0;
  double periodMs = 0;
};

Judged JudgedFigures(const Record& r, double nowMs, const StatusTexts& texts,
                     const StatusLooks* looks) {
  RecentCounts recent;
  if (looks != nullptr && looks->Recent(r, nowMs, &recent)) {
    const LatenessFigures lateness = LatenessOf(recent.lateness, WindowMaxUs(recent, r));
    if (lateness.ticks >= kTicksToJudge) {
      return Judged{Format(texts.recentSpan, Duration(recent.spanMs, texts).c_str()), lateness,
                    recent.characterPeriods,
                    PeriodMs(r, recent.characterPeriodSum, recent.characterPeriods)};
    }
  }
  return Judged{texts.sinceOpen, LatenessOf(r), r.characterPeriods, PeriodMs(r)};
}

// A minimised MMTTY is a likely cause of late elements only where Windows may
// slow a hidden program's timer (11) and has not granted the plug-in's
// request against it; with the 1 ms timer granted and that request on, or
// not needed (before 11), the PC is busy.
const char* TimingHint(const Record& r, const StatusTexts& texts) {
  const auto throttling = static_cast<status::Throttling>(r.throttling);
  const bool kept = r.timer1ms != 0 && (throttling == status::Throttling::On ||
                                        throttling == status::Throttling::NotAvailable);
  return kept ? texts.hintBusy : texts.hintMinimised;
}

// The lines an operator acts on for one readable instance, most urgent first.
std::vector<std::string> Actions(const Record& r, double nowMs,
                                 const std::vector<StatusEntry>& entries, const StatusTexts& texts,
                                 const StatusLooks* looks, size_t boxesAttached) {
  std::vector<std::string> actions;
  const LatenessFigures lateness = LatenessOf(r);
  const double sinceTick = AgeMs(r, lateness.ticks > 0 ? r.lastTickCounter : r.openCounter, nowMs);
  if (sinceTick > kStoppedClockMs) actions.push_back(Format(texts.clockStopped, sinceTick / 1000));
  const std::string folder =
      r.hostFolder[0] != 0 ? Shown(r.hostFolder) : std::string(texts.mmttyFolder);
  switch (static_cast<status::Link>(r.link)) {
    case status::Link::Looking:
      if (r.choice == static_cast<uint8_t>(status::Choice::Malformed)) {
        actions.push_back(Format(texts.noChoiceAction, folder.c_str()));
      } else {
        actions.push_back(r.linkDrops > 0 ? texts.boxLostAction : texts.noBoxAction);
      }
      break;
    case status::Link::ChosenAbsent:
      actions.push_back(
          Format(texts.chosenAbsentAction, KeyText(r.chosenKey).c_str(), folder.c_str()));
      break;
    case status::Link::Refused:
      actions.push_back(Format(texts.refusedAction, r.generation));
      break;
    case status::Link::InUse:
      // With one box attached, the other program must let it go; with more,
      // this folder may be meant for another of them.
      actions.push_back(Format(boxesAttached > 1 ? texts.inUseChooseAction : texts.inUseAction,
                               HolderOfRecord(entries, r, texts).c_str(), folder.c_str()));
      break;
    case status::Link::Linked:
      for (const Record* other : OthersOnTheBox(entries, r)) {
        actions.push_back(
            Format(texts.sameBoxAction, Shown(other->hostExe).c_str(), other->hostPid));
      }
      break;
  }
  if (r.unclaimed != 0) actions.push_back(texts.unclaimedAction);
  if (r.charactersLost != 0) actions.push_back(Format(texts.lostAction, r.charactersLost));
  if (r.timer1ms == 0) actions.push_back(texts.timerRefusedAction);
  if (r.throttling == static_cast<uint8_t>(status::Throttling::Failed)) {
    actions.push_back(Format(texts.throttlingFailedAction, r.throttlingError));
  }
  const Judged judged = JudgedFigures(r, nowMs, texts, looks);
  if (judged.lateness.ticks >= kTicksToJudge &&
      (judged.lateness.medianMs > timeline::kMedianErrorTargetMs ||
       judged.lateness.p99Ms > timeline::kP99ErrorTargetMs)) {
    actions.push_back(Format(texts.timingPoorAction, judged.span.c_str(), judged.lateness.medianMs,
                             judged.lateness.p99Ms, TimingHint(r, texts)));
  }
  if (judged.periods >= kPeriodsToJudge &&
      std::fabs(judged.periodMs - kCharacterMs) > timeline::kPeriodTolerance * kCharacterMs) {
    actions.push_back(Format(texts.periodOffAction, judged.span.c_str(), judged.periodMs,
                             static_cast<double>(kCharacterMs), TimingHint(r, texts)));
  }
  if (r.settings == static_cast<uint8_t>(status::Settings::AskedNotWritten)) {
    actions.push_back(texts.notWrittenAction);
  }
  if (r.settings != static_cast<uint8_t>(status::Settings::NotRead) &&
      (r.fskRev == -1 || r.fskPin == -1)) {
    actions.push_back(texts.cancelledAction);
  }
  return actions;
}

std::string InstancePanel(const Record& r, double nowMs, const std::vector<StatusEntry>& entries,
                          const StatusTexts& texts, const StatusLooks* looks) {
  std::string out = Format(texts.heading, ProgramOf(r, texts).c_str(), r.moduleVersion[0],
                           r.moduleVersion[1], r.moduleVersion[2], r.moduleVersion[3],
                           Duration(AgeMs(r, r.openCounter, nowMs), texts).c_str());
  if (r.choice == static_cast<uint8_t>(status::Choice::Chosen)) {
    out += Format(texts.chosenLine, KeyText(r.chosenKey).c_str());
  }
  if (HasLink(r, status::Link::InUse)) {
    out += Format(texts.boxInUse, HolderOfRecord(entries, r, texts).c_str(), r.boxVendorId,
                  r.boxProductId);
  } else if (HasLink(r, status::Link::ChosenAbsent)) {
    out += texts.boxChosenAbsent;
  } else if (r.choice == static_cast<uint8_t>(status::Choice::Malformed)) {
    out += texts.boxNoChoice;
  } else {
    const char* box = HasLink(r, status::Link::Linked)    ? texts.boxLinked
                      : HasLink(r, status::Link::Refused) ? texts.boxRefused
                      : r.boxVendorId != 0                ? texts.boxLost
                                                          : texts.boxNone;
    out += Format(box, Shown(r.boxProduct).c_str(), r.generation, r.boxVendorId, r.boxProductId);
  }
  out += Format(texts.reports, r.reportsWritten, r.reportsFailed, r.discoveries, r.linkDrops);
  if (r.unclaimed != 0) out += Format(texts.unclaimedLine, r.claimError);
  // What reached the box; what MMTTY sent while none was linked did not.
  out += Format(texts.keying, r.ptt ? texts.on : texts.off,
                r.keyingArmed ? texts.armed : texts.notArmed, r.characters - r.charactersLost,
                r.pttChanges);
  if (r.charactersLost != 0) out += Format(texts.lostLine, r.charactersLost);
  switch (static_cast<status::Settings>(r.settings)) {
    case status::Settings::File:
      out += Format(texts.settingsFile, r.fskRev, r.fskPin, Shown(r.settingsFile).c_str());
      break;
    case status::Settings::AskedNotWritten:
      out += Format(texts.settingsNotWritten, r.fskRev, r.fskPin);
      break;
    case status::Settings::NotRead:
      out += texts.settingsNotRead;
      break;
  }
  out += Format(texts.timer, r.timer1ms ? texts.timerGranted : texts.timerRefused,
                Format(texts.throttling[r.throttling], r.throttlingError).c_str());
  const LatenessFigures lateness = LatenessOf(r);
  if (lateness.ticks == 0) {
    out += texts.timingNone;
  } else {
    out += Format(texts.timing, static_cast<unsigned long long>(lateness.ticks), lateness.medianMs,
                  lateness.p99Ms, lateness.maxMs);
  }
  if (r.characterPeriods > 0) {
    out += Format(texts.period, PeriodMs(r), static_cast<double>(kCharacterMs), r.characterPeriods);
  }
  RecentCounts recent;
  if (looks != nullptr && looks->Recent(r, nowMs, &recent)) {
    const LatenessFigures late = LatenessOf(recent.lateness, WindowMaxUs(recent, r));
    if (late.ticks > 0) {
      out += Format(texts.recentTiming, Duration(recent.spanMs, texts).c_str(),
                    static_cast<unsigned long long>(late.ticks), late.medianMs, late.p99Ms);
    }
  }
  if (r.lastFailedCall[0] != '\0') {
    out += Format(texts.lastFailure, r.lastFailedCall, r.lastFailureError,
                  Duration(AgeMs(r, r.lastFailureCounter, nowMs), texts).c_str());
  }
  return out;
}

}  // namespace

std::string KeyText(uint64_t key) {
  char text[kBoxKeyTextBytes];
  BoxKeyText(key, text);
  return text;
}

// The holder keeps the claim from its first link to its close, whatever its
// link does meanwhile; an older plug-in, which names no claim, held it while
// linked; one linked with no claim to be had keys the box all the same.
BoxHolder FindBoxHolder(const std::vector<StatusEntry>& entries, uint64_t boxKey,
                        uint32_t exceptPid) {
  for (const StatusEntry& entry : entries) {
    const Record& r = entry.read.record;
    if (boxKey == 0 || entry.read.problem != status::Problem::None || r.hostPid == exceptPid) {
      continue;
    }
    if (r.claimKey == boxKey ||
        (r.claimKey == 0 && r.boxKey == boxKey && HasLink(r, status::Link::Linked))) {
      return {r.hostPid, status::TextOf(r.hostExe), status::TextOf(r.hostFolder)};
    }
  }
  return {};
}

std::string ProgramText(const std::string& exe, uint32_t pid, const std::string& folder,
                        const StatusTexts& texts) {
  const std::string name = Printable(exe);
  if (folder.empty()) return Format(texts.program, name.c_str(), pid);
  return Format(texts.programInFolder, name.c_str(), pid, Printable(folder).c_str());
}

std::string HolderText(const BoxHolder& holder, uint32_t claimError, const StatusTexts& texts) {
  if (holder.pid != 0) {
    return ProgramText(Utf8(holder.exe), holder.pid, Utf8(holder.folder), texts);
  }
  switch (claimError) {
    case plat::kErrorAccessDenied:
      return texts.holderAdmin;
    case plat::kErrorInvalidHandle:
      return texts.holderOtherKind;
    default:
      return texts.holderUnknown;
  }
}

bool IsOpenInstance(const StatusEntry& entry) {
  return entry.accessDenied || entry.read.problem != status::Problem::Closed;
}

void StatusLooks::Add(const std::vector<StatusEntry>& entries, double nowMs) {
  while (!looks_.empty() && looks_.front().ms < nowMs - kRecentMs) looks_.pop_front();
  for (const StatusEntry& entry : entries) {
    if (entry.accessDenied || entry.read.problem != status::Problem::None) continue;
    const Record& r = entry.read.record;
    Look look{nowMs, r.hostPid, r.openCounter, {}};
    std::copy(std::begin(r.lateness), std::end(r.lateness), look.counts.lateness);
    look.counts.characterPeriodSum = r.characterPeriodSum;
    look.counts.characterPeriods = r.characterPeriods;
    looks_.push_back(look);
  }
}

// The counts wrap at 2^32, so the differences are taken in 32 bits.
bool StatusLooks::Recent(const Record& r, double nowMs, RecentCounts* counts) const {
  for (const Look& look : looks_) {
    if (look.pid != r.hostPid || look.openCounter != r.openCounter || look.ms >= nowMs) continue;
    counts->spanMs = nowMs - look.ms;
    for (uint32_t bucket = 0; bucket < status::kLatenessBuckets; ++bucket) {
      counts->lateness[bucket] = r.lateness[bucket] - look.counts.lateness[bucket];
    }
    counts->characterPeriodSum = r.characterPeriodSum - look.counts.characterPeriodSum;
    counts->characterPeriods = r.characterPeriods - look.counts.characterPeriods;
    return true;
  }
  return false;
}

LatenessFigures LatenessOf(const Record& r) { return LatenessOf(r.lateness, r.latenessMaxUs); }

LatenessFigures LatenessOf(const uint32_t (&lateness)[status::kLatenessBuckets], uint32_t maxUs) {
  LatenessFigures figures;
  for (uint32_t count : lateness) figures.ticks += count;
  figures.maxMs = maxUs / 1000.0;
  if (figures.ticks == 0) return figures;
  const auto quantile = [&](double q) {
    const uint64_t rank = std::clamp<uint64_t>(
        static_cast<uint64_t>(std::ceil(q * static_cast<double>(figures.ticks))), 1, figures.ticks);
    uint64_t below = 0;
    for (uint32_t bucket = 0;; ++bucket) {
      const uint32_t count = lateness[bucket];
      if (below + count < rank) {
        below += count;
        continue;
      }
      const double lower = bucket == 0 ? 0 : status::kLatenessUpperUs[bucket - 1];
      const double upper =
          bucket == status::kLatenessBuckets - 1 ? maxUs : status::kLatenessUpperUs[bucket];
      const double us = lower + (upper - lower) * (static_cast<double>(rank - below) - 0.5) / count;
      return std::min(us, static_cast<double>(maxUs)) / 1000.0;
    }
  };
  figures.medianMs = quantile(0.5);
  figures.p99Ms = quantile(0.99);
  return figures;
}

std::string ProblemLine(const status::ReadResult& read, const StatusTexts& texts) {
  const char* text = texts.problems[static_cast<size_t>(read.problem)];
  const auto found = static_cast<unsigned long long>(read.found);
  const auto expected = static_cast<unsigned long long>(read.expected);
  switch (read.problem) {
    case status::Problem::BadValue:
      return Format(text, found, read.field);
    case status::Problem::BadText:
      return Format(text, read.field);
    case status::Problem::NotARecord:
    case status::Problem::ViewTooSmall:
    case status::Problem::Busy:
      return Format(text, found);
    case status::Problem::WrongVersion:
    case status::Problem::WrongSize:
    case status::Problem::Truncated:
    case status::Problem::OtherProcess:
      return Format(text, found, expected);
    case status::Problem::None:
    case status::Problem::Misaligned:
    case status::Problem::NotWritten:
    case status::Problem::Closed:
      break;
  }
  return text;
}

std::string StatusJson(const std::vector<StatusEntry>& entries, double nowMs) {
  std::string out;
  for (const StatusEntry& entry : entries) {
    if (!IsOpenInstance(entry)) continue;
    out += out.empty() ? "[\n" : ",\n";
    if (entry.accessDenied) {
      out +=
          Format("  {\"host_pid\": %u, \"host_exe\": %s, \"access_denied\": true, \"problem\": %s}",
                 entry.pid, JsonText(entry.exe).c_str(),
                 JsonText(kTextsEnglish.status.runsElevated).c_str());
    } else if (entry.read.problem == status::Problem::None) {
      out += InstanceJson(entry.read.record, nowMs, entries);
    } else {
      out += Format("  {\"host_pid\": %u, \"problem\": %s}", entry.pid,
                    JsonText(ProblemLine(entry.read, kTextsEnglish.status)).c_str());
    }
  }
  return out.empty() ? "[]\n" : out + "\n]\n";
}

std::string StatusPanel(const std::vector<StatusEntry>& entries, double nowMs,
                        const StatusTexts& texts, const StatusLooks* looks, size_t boxesAttached) {
  std::vector<const StatusEntry*> shown;
  for (const StatusEntry& entry : entries) {
    if (IsOpenInstance(entry)) shown.push_back(&entry);
  }
  if (shown.empty()) return texts.noInstance;

  std::string out;
  std::vector<std::string> actions;
  for (const StatusEntry* entry : shown) {
    if (entry->accessDenied) {
      // Open, and keying perhaps; only not to be read from here.
      const std::string prefix =
          Format(texts.instancePrefix, ProgramText(entry->exe, entry->pid, {}, texts).c_str());
      out += prefix + texts.runsElevated + "\n";
      actions.push_back(prefix + texts.runsElevatedAction);
      continue;
    }
    if (entry->read.problem != status::Problem::None) {
      actions.push_back(
          Format(texts.unreadableAction, entry->pid, ProblemLine(entry->read, texts).c_str()));
      continue;
    }
    const Record& r = entry->read.record;
    out += InstancePanel(r, nowMs, entries, texts, looks);
    const std::string prefix =
        shown.size() > 1 ? Format(texts.instancePrefix, ProgramOf(r, texts).c_str()) : "";
    for (const std::string& action : Actions(r, nowMs, entries, texts, looks, boxesAttached)) {
      actions.push_back(prefix + action);
    }
  }
  if (actions.empty()) return out + texts.allInOrder;
  out += texts.actionsHeading;
  for (const std::string& action : actions) out += "  " + action + "\n";
  return out;
}
