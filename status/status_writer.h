// Keeps an instance's status record and publishes it to the shared section.
//
// Every change goes to the writer's own copy; Publish makes the changes since
// the last one visible at once, under the sequence counter, so a reader never
// sees half of them. The calls allocate nothing and make no system call: the
// tick passes in the counter value it has read anyway.
//
// One writer at a time: the driver calls these under keyerLock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "status/status_record.h"

namespace status {

// Who opened the instance, and when.
struct Opening {
  uint32_t hostPid = 0;
  const char16_t* hostExe = nullptr;     // the file name, ending in a zero
  const char16_t* hostFolder = nullptr;  // its folder, ending in a zero
  Choice choice = Choice::FirstListed;   // the box tarvokey.ini chooses
  uint64_t chosenKey = 0;
  uint16_t moduleVersion[4] = {};
  uint64_t counterFrequency = 0;
  uint64_t counter = 0;
  uint64_t systemTime = 0;  // a FILETIME
};

// A box as discovery saw it; the product string as the HID class returns it
// (nullptr when it was not read: the last one is kept).
struct Box {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  int32_t generation = 0;
  const uint8_t* productUtf16le = nullptr;
  uint32_t productBytes = 0;
  uint64_t key = 0;         // its identity (hidlink/box_key.h)
  uint32_t claimError = 0;  // why its claim could not be had, with InUse or unclaimed
  bool unclaimed = false;   // linked with no claim: nobody holds it, none can be made
};

class Writer {
 public:
  Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // The section to publish to, at least sizeof(Record) writable bytes on a
  // 4-byte boundary; everything so far is published to it at once, under a
  // sequence that goes on from the one the section holds. One found there
  // before is taken only if it holds a record (the last instance's, which a
  // monitor kept); anything else is another program's. False, with nothing
  // attached (or written), for a section that is not that.
  bool Attach(void* section, size_t bytes, bool foundThere = false);
  // Marks the record closed and lets the section go; the caller unmaps it.
  void Detach();

  void SetOpening(const Opening& opening);

  // One tick of the clock: when it ran, and how late against its deadline
  // (early counts as on time).
  void CountTick(uint64_t counter, int64_t latenessUs);
  // A character's start bit; backToBack when the previous character's stop
  // element ended at this tick, so the two starts make a period.
  void CountCharacter(uint64_t counter, bool backToBack);
  // An element of the character begun last (its start, data or stop) whose
  // report did not reach the box: the character is counted lost, once.
  void ElementLost() {
    if (characterLost_) return;
    characterLost_ = true;
    ++Edit(draft_.charactersLost);
  }
  void CountReport(bool written);
  // A device call that failed: its name as the trace labels it, without the
  // ": " ("WriteFile"; cut to fit, control bytes shown as '?'), the error it
  // left, and when.
  void CallFailed(const char* label, uint32_t error, uint64_t counter);

  // A discovery ended: linked to a box, refused one, found it held by another
  // program, or found none (box nullptr: the box last seen is kept, as the one
  // that is missing); and the box whose claim is kept now (0 none).
  void Discovered(Link result, const Box* box, uint64_t claimKey);
  // The open box stopped taking reports.
  void LinkDropped();

  void SetPtt(bool on);
  void SetKeyingArmed(bool armed);
  // The settings in force and the full path of the file they were written
  // to; file nullptr: asked, not written.
  void SetSettings(int32_t fskRev, int32_t fskPin, const char16_t* file);
  void SetTimer(bool oneMsGranted, Throttling throttling, uint32_t throttlingError);

  // Makes the changes since the last call visible to readers. Without a
  // section it does nothing: the record is kept for when one comes.
  void Publish();

  const Record& record() const { return draft_; }

 private:
  // The field, marked as changed.
  template <typename T>
  T& Edit(T& field) {
    Touch(reinterpret_cast<const unsigned char*>(&field) -
              reinterpret_cast<const unsigned char*>(&draft_),
          sizeof field);
    return field;
  }
  void Touch(ptrdiff_t offset, size_t bytes);

  Record draft_;
  std::atomic<uint32_t>* section_ = nullptr;
  // The changed words, a bit each: a tick changes a handful of words far
  // apart (its time, a count, a histogram bucket), and only those are stored;
  // and the masks that hold any, so that Publish visits only those.
  static constexpr size_t kDirtyMasks = (kRecordWords + 31) / 32;
  static_assert(kDirtyMasks <= 32, "a bit for each mask");
  uint32_t dirty_[kDirtyMasks] = {};
  uint32_t dirtyMasks_ = 0;
  // Of the character begun last. Until this record's first character there
  // is none to lose: an element before it (of a character the module's
  // framing began under the last instance) is not this record's to count.
  bool characterLost_ = true;
};

}  // namespace status
