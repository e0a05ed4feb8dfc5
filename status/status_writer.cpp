#include "status/status_writer.h"

#include <algorithm>
#include <cstring>

namespace status {

// The section's words are taken as atomics of the plain word's representation.
static_assert(sizeof(std::atomic<uint32_t>) == 4, "an atomic word is the word");
static_assert(std::atomic<uint32_t>::is_always_lock_free, "shared across processes");

namespace {

// A UTF-16 text into a fixed array: cut to fit, never between the two halves
// of a surrogate pair, and then ending in "…" so that no one takes it whole.
template <size_t N, typename NextUnit>
void CopyUnits(char16_t (&to)[N], NextUnit next) {
  size_t length = 0;
  bool cut = false;
  for (char16_t unit; (unit = next()) != 0;) {
    if (length == N - 1) {
      cut = true;
      break;
    }
    to[length++] = unit;
  }
  if (cut) {
    length = N - 2;
    if (to[length - 1] >= 0xD800 && to[length - 1] <= 0xDBFF) --length;
    to[length++] = u'\u2026';
  }
  std::fill(to + length, to + N, u'\0');
}

template <size_t N>
void CopyText(char16_t (&to)[N], const char16_t* from) {
  size_t at = 0;
  CopyUnits(to, [&] { return from == nullptr ? u'\0' : from[at++]; });
}

}  // namespace

Writer::Writer() : draft_{} {
  draft_.magic = kMagic;
  draft_.version = kVersion;
  draft_.size = sizeof(Record);
  draft_.fskRev = -1;
  draft_.fskPin = -1;
}

bool Writer::Attach(void* section, size_t bytes, bool foundThere) {
  if (section == nullptr || bytes < sizeof(Record) ||
      reinterpret_cast<uintptr_t>(section) % alignof(std::atomic<uint32_t>) != 0) {
    return false;
  }
  auto* words = static_cast<std::atomic<uint32_t>*>(section);
  if (foundThere && words[offsetof(Record, magic) / 4].load(std::memory_order_relaxed) != kMagic) {
    return false;
  }
  section_ = words;
  // A section that outlived the last instance (a monitor holds it) goes on
  // from its count, rounded up to even: a reader that saw that count before
  // must not take this record's words for the ones it read under it.
  const uint32_t last = section_[kSequenceWord].load(std::memory_order_relaxed);
  draft_.sequence = last + (last & 1);
  Touch(0, sizeof(Record));
  Publish();
  return true;
}

void Writer::Detach() {
  Edit(draft_.closed) = 1;
  Publish();
  section_ = nullptr;
}

void Writer::SetOpening(const Opening& opening) {
  Edit(draft_.hostPid) = opening.hostPid;
  std::memcpy(Edit(draft_.moduleVersion), opening.moduleVersion, sizeof draft_.moduleVersion);
  Edit(draft_.counterFrequency) = opening.counterFrequency;
  Edit(draft_.openCounter) = opening.counter;
  Edit(draft_.openSystemTime) = opening.systemTime;
  CopyText(Edit(draft_.hostExe), opening.hostExe);
  CopyText(Edit(draft_.hostFolder), opening.hostFolder);
  Edit(draft_.choice) = static_cast<uint8_t>(opening.choice);
  Edit(draft_.chosenKey) = opening.choice == Choice::Chosen ? opening.chosenKey : 0;
}

void Writer::CountTick(uint64_t counter, int64_t latenessUs) {
  const uint32_t us = static_cast<uint32_t>(std::clamp<int64_t>(latenessUs, 0, UINT32_MAX));
  Edit(draft_.lastTickCounter) = counter;
  ++Edit(draft_.lateness[LatenessBucket(us)]);
  if (us > draft_.latenessMaxUs) Edit(draft_.latenessMaxUs) = us;
}

void Writer::CountCharacter(uint64_t counter, bool backToBack) {
  if (backToBack && draft_.characters != 0 && counter >= draft_.lastCharacterCounter) {
    Edit(draft_.characterPeriodSum) += counter - draft_.lastCharacterCounter;
    ++Edit(draft_.characterPeriods);
  }
  ++Edit(draft_.characters);
  Edit(draft_.lastCharacterCounter) = counter;
  characterLost_ = false;
}

void Writer::CountReport(bool written) {
  ++Edit(written ? draft_.reportsWritten : draft_.reportsFailed);
}

void Writer::CallFailed(const char* label, uint32_t error, uint64_t counter) {
  char(&call)[kFailedCallBytes] = Edit(draft_.lastFailedCall);
  size_t length = 0;
  for (; label != nullptr && label[length] != '\0' && length < kFailedCallBytes - 1; ++length) {
    const char c = label[length];
    call[length] = c >= 0x20 && c < 0x7F ? c : '?';
  }
  std::memset(call + length, 0, kFailedCallBytes - length);
  Edit(draft_.lastFailureError) = error;
  Edit(draft_.lastFailureCounter) = counter;
}

void Writer::Discovered(Link result, const Box* box, uint64_t claimKey) {
  ++Edit(draft_.discoveries);
  Edit(draft_.link) = static_cast<uint8_t>(result);
  if (draft_.claimKey != claimKey) Edit(draft_.claimKey) = claimKey;
  if (box == nullptr) return;
  Edit(draft_.boxVendorId) = box->vendorId;
  Edit(draft_.boxProductId) = box->productId;
  Edit(draft_.generation) = box->generation;
  Edit(draft_.boxKey) = box->key;
  Edit(draft_.claimError) = box->claimError;
  Edit(draft_.unclaimed) = box->unclaimed;
  if (box->productUtf16le == nullptr) return;
  // The HID class returns UTF-16LE: a code unit's low byte first.
  size_t at = 0;
  CopyUnits(Edit(draft_.boxProduct), [&]() -> char16_t {
    if (at + 2 > box->productBytes) return 0;
    const uint8_t* unit = box->productUtf16le + at;
    at += 2;
    return static_cast<char16_t>(unit[0] | unit[1] << 8);
  });
}

void Writer::LinkDropped() {
  if (draft_.link != static_cast<uint8_t>(Link::Linked)) return;
  Edit(draft_.link) = static_cast<uint8_t>(Link::Looking);
  ++Edit(draft_.linkDrops);
}

void Writer::SetPtt(bool on) {
  if (draft_.ptt == on) return;
  Edit(draft_.ptt) = on;
  ++Edit(draft_.pttChanges);
}

void Writer::SetKeyingArmed(bool armed) {
  if (draft_.keyingArmed != armed) Edit(draft_.keyingArmed) = armed;
}

void Writer::SetSettings(int32_t fskRev, int32_t fskPin, const char16_t* file) {
  Edit(draft_.fskRev) = fskRev;
  Edit(draft_.fskPin) = fskPin;
  Edit(draft_.settings) =
      static_cast<uint8_t>(file != nullptr ? Settings::File : Settings::AskedNotWritten);
  CopyText(Edit(draft_.settingsFile), file);
}

void Writer::SetTimer(bool oneMsGranted, Throttling throttling, uint32_t throttlingError) {
  Edit(draft_.timer1ms) = oneMsGranted;
  Edit(draft_.throttling) = static_cast<uint8_t>(throttling);
  Edit(draft_.throttlingError) = throttling == Throttling::Failed ? throttlingError : 0;
}

void Writer::Touch(ptrdiff_t offset, size_t bytes) {
  const size_t from = static_cast<size_t>(offset);
  for (size_t word = from / 4; word < (from + bytes + 3) / 4; ++word) {
    dirty_[word / 32] |= 1u << (word % 32);
    dirtyMasks_ |= 1u << (word / 32);
  }
}

// The sequence goes odd, the words follow, and the sequence goes even again.
// Each word is a release store, so a reader that sees it also sees the odd
// count before it; the last store releases the words to a reader that sees
// the even count. (Release per word rather than one fence: ThreadSanitizer
// models no fences, and on x86 either is a plain store.) The reader mirrors
// this with acquires (status/status_reader.cpp).
void Writer::Publish() {
  if (section_ == nullptr || dirtyMasks_ == 0) return;
  section_[kSequenceWord].store(++draft_.sequence, std::memory_order_relaxed);
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&draft_);
  for (uint32_t masks = dirtyMasks_; masks != 0; masks &= masks - 1) {
    const size_t mask = static_cast<size_t>(__builtin_ctz(masks));
    for (uint32_t bits = dirty_[mask]; bits != 0; bits &= bits - 1) {
      const size_t word = mask * 32 + static_cast<size_t>(__builtin_ctz(bits));
      if (word == kSequenceWord) continue;
      uint32_t value;
      std::memcpy(&value, bytes + 4 * word, 4);
      section_[word].store(value, std::memory_order_release);
    }
    dirty_[mask] = 0;
  }
  section_[kSequenceWord].store(++draft_.sequence, std::memory_order_release);
  dirtyMasks_ = 0;
}

}  // namespace status
