#include "status/status_reader.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace status {

namespace {

template <size_t N>
bool Terminated(const char16_t (&text)[N]) {
  return std::find(text, text + N, u'\0') != text + N;
}

// The failed call's label: printable ASCII, then zeros.
bool PlainLabel(const char (&label)[kFailedCallBytes]) {
  const char* end = std::find(label, label + kFailedCallBytes, '\0');
  return end != label + kFailedCallBytes &&
         std::all_of(label, end, [](char c) { return c >= 0x20 && c < 0x7F; });
}

// Values no writer makes; the first found, else nullptr.
const char* FirstBadValue(const Record& r, uint64_t* found) {
  const struct {
    const char* field;
    uint64_t value;
    uint64_t most;
  } ranges[] = {
      {"link", r.link,
       static_cast<uint64_t>(r.version == 1   ? Link::Refused
                             : r.version == 2 ? Link::InUse
                                              : Link::ChosenAbsent)},
      {"ptt", r.ptt, 1},
      {"keyingArmed", r.keyingArmed, 1},
      {"timer1ms", r.timer1ms, 1},
      {"closed", r.closed, 1},
      {"throttling", r.throttling, static_cast<uint64_t>(Throttling::Failed)},
      {"settings", r.settings, static_cast<uint64_t>(Settings::AskedNotWritten)},
      {"choice", r.choice, static_cast<uint64_t>(Choice::Malformed)},
      {"unclaimed", r.unclaimed, 1},
  };
  for (const auto& range : ranges) {
    if (range.value > range.most) {
      *found = range.value;
      return range.field;
    }
  }
  // Times are turned into milliseconds with it.
  if (r.counterFrequency == 0) {
    *found = 0;
    return "counterFrequency";
  }
  // The maximum lies in the highest bucket that holds a tick, or is 0.
  int64_t highest = -1;
  for (uint32_t bucket = 0; bucket < kLatenessBuckets; ++bucket) {
    if (r.lateness[bucket] != 0) highest = bucket;
  }
  if (highest < 0 ? r.latenessMaxUs != 0 : LatenessBucket(r.latenessMaxUs) != highest) {
    *found = r.latenessMaxUs;
    return "latenessMaxUs";
  }
  // A period needs two characters, and no periods make no time.
  if (r.characterPeriods > r.characters || (r.characterPeriods == 0 && r.characterPeriodSum != 0)) {
    *found = r.characterPeriods;
    return "characterPeriods";
  }
  if (r.charactersLost > r.characters) {
    *found = r.charactersLost;
    return "charactersLost";
  }
  return nullptr;
}

const char* FirstBadText(const Record& r) {
  if (!Terminated(r.hostExe)) return "hostExe";
  if (!Terminated(r.boxProduct)) return "boxProduct";
  if (!Terminated(r.settingsFile)) return "settingsFile";
  if (!Terminated(r.hostFolder)) return "hostFolder";
  if (!PlainLabel(r.lastFailedCall)) return "lastFailedCall";
  return nullptr;
}

ReadResult Fail(Problem problem, uint64_t found = 0, uint64_t expected = 0) {
  ReadResult result;
  result.problem = problem;
  result.found = found;
  result.expected = expected;
  return result;
}

}  // namespace

uint64_t TickCount(const Record& record) {
  uint64_t ticks = 0;
  for (uint32_t count : record.lateness) ticks += count;
  return ticks;
}

// The words are copied while the sequence stands still and is even. The
// first look at it acquires the words of the update that made it even; each
// word is an acquire load, so the second look comes after all of them and
// sees the odd count of any update whose word one of them saw. Each word is
// read whole, as an atomic: a writer in the middle gives a changed sequence,
// never a data race. An odd sequence is waited out only under a magic that a
// writer can have put there (its first update stores it, so it may still be
// zero): under any other, the bytes are not a record, however long one waits.
ReadResult Read(const void* view, size_t bytes, uint32_t hostPid) {
  if (view == nullptr || bytes < offsetof(Record, sequence) + 4) {
    return Fail(Problem::ViewTooSmall, bytes);
  }
  if (reinterpret_cast<uintptr_t>(view) % alignof(std::atomic<uint32_t>) != 0) {
    return Fail(Problem::Misaligned);
  }
  const auto* words = static_cast<const std::atomic<uint32_t>*>(view);
  const size_t count = std::min(bytes, sizeof(Record)) / 4;

  ReadResult result;
  auto* copy = reinterpret_cast<unsigned char*>(&result.record);
  uint32_t attempt = 0;
  for (;; ++attempt) {
    if (attempt == kReadAttempts) return Fail(Problem::Busy, attempt);
    const uint32_t before = words[kSequenceWord].load(std::memory_order_acquire);
    if (before % 2 != 0) {
      const uint32_t magic = words[offsetof(Record, magic) / 4].load(std::memory_order_relaxed);
      if (magic != kMagic && magic != 0) return Fail(Problem::NotARecord, magic, kMagic);
      continue;
    }
    for (size_t word = 0; word < count; ++word) {
      const uint32_t value = words[word].load(std::memory_order_acquire);
      std::memcpy(copy + 4 * word, &value, 4);
    }
    if (words[kSequenceWord].load(std::memory_order_relaxed) == before) break;
  }

  const Record& r = result.record;
  if (r.magic == 0 && r.sequence == 0) return Fail(Problem::NotWritten);
  if (r.magic != kMagic) return Fail(Problem::NotARecord, r.magic, kMagic);
  // An older plug-in beside this one publishes an older version: the same
  // record up to where the next version appends.
  if (r.version == 0 || r.version > kVersion) {
    return Fail(Problem::WrongVersion, r.version, kVersion);
  }
  const size_t size = r.version == 1   ? kVersion1Size
                      : r.version == 2 ? kVersion2Size
                                       : sizeof(Record);
  if (r.size != size) return Fail(Problem::WrongSize, r.size, size);
  if (bytes < size) return Fail(Problem::Truncated, bytes, size);
  // What follows an older record in its view is not the record's.
  std::memset(reinterpret_cast<unsigned char*>(&result.record) + size, 0, sizeof(Record) - size);
  if (r.hostPid != hostPid) return Fail(Problem::OtherProcess, r.hostPid, hostPid);
  uint64_t found = 0;
  if (const char* field = FirstBadValue(r, &found)) {
    ReadResult bad = Fail(Problem::BadValue, found);
    bad.field = field;
    return bad;
  }
  if (const char* field = FirstBadText(r)) {
    ReadResult bad = Fail(Problem::BadText);
    bad.field = field;
    return bad;
  }
  if (r.closed != 0) result.problem = Problem::Closed;
  return result;
}

}  // namespace status
