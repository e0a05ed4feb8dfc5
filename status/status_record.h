// The status record: what an open instance publishes about itself, in a
// section of shared memory named after its host process, for the check
// program to show while MMTTY runs. The layout is the contract between two
// programs that may be built apart, 32-bit writer and any reader: fixed-width
// fields at fixed offsets, checked below, and a version that changes with it.
//
// The writer (status/status_writer.h) updates it without a lock through the
// sequence counter; the reader (status/status_reader.h) takes it as
// untrusted bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace status {

// The section's first bytes read "TVKS".
constexpr uint32_t kMagic = 0x534B5654;
// Raised whenever a field moves or changes meaning. Version 2 appended the
// box's identity and the link state InUse to version 1; version 3 the box
// tarvokey.ini chooses, the link state ChosenAbsent, the characters lost and
// the host's folder. An older plug-in's records read as this version with
// what they lack zero.
constexpr uint32_t kVersion = 3;
constexpr uint32_t kVersion1Size = 1360;
constexpr uint32_t kVersion2Size = 1376;

// InUse: the box is there, but another program holds its claim and keys it.
// ChosenAbsent: the box tarvokey.ini chooses is not attached (another may be).
enum class Link : uint8_t { Looking = 0, Linked = 1, Refused = 2, InUse = 3, ChosenAbsent = 4 };
// Which box the instance keys, as tarvokey.ini's FskBox chooses it: the
// first the system lists, the one of chosenKey, or none (an FskBox that
// names no key).
enum class Choice : uint8_t { FirstListed = 0, Chosen = 1, Malformed = 2 };
// Where the settings in force came from. AskedNotWritten: the answers hold
// for this instance only, because tarvokey.ini could not be written.
enum class Settings : uint8_t { NotRead = 0, File = 1, AskedNotWritten = 2 };
// The request that Windows honour the 1 ms timer of a minimised host.
enum class Throttling : uint8_t { NotAsked = 0, On = 1, NotAvailable = 2, Failed = 3 };

// Tick lateness against the tick's deadline, in microseconds: the exclusive
// upper edge of each bucket but the last, which holds everything above. A
// 1 ms timer is late by 0 to 1 ms, so the first millisecond goes in 0.1 ms
// steps (the box's own timestamps are compared at 0.5 ms); a busy PC's 1 to
// 10 ms in 0.25 to 2 ms steps; the 15.6 ms of a timer whose 1 ms request
// Windows ignores lands in 15 to 20; stalls go on to a second. Up to 50 ms
// no bucket is wider than a third of its lower edge; beyond, the maximum
// (kept exactly) says more than any bucket.
constexpr uint32_t kLatenessBuckets = 36;
constexpr uint32_t kLatenessUpperUs[kLatenessBuckets - 1] = {
    100,    200,    300,     400,   500,   600,    700,   800, 900, 1000,  // to 1 ms
    1250,   1500,   1750,    2000,                                         // to 2 ms
    2500,   3000,   3500,    4000,  5000,                                  // to 5 ms
    6000,   7000,   8000,    10000, 12000, 15000,  20000,                  // to 20 ms
    25000,  30000,  40000,   50000, 70000, 100000,                         // to 100 ms
    200000, 500000, 1000000,                                               // stalls, to a second
};

// The bucket a lateness falls in.
inline uint32_t LatenessBucket(uint32_t us) {
  uint32_t bucket = 0;
  while (bucket < kLatenessBuckets - 1 && us >= kLatenessUpperUs[bucket]) ++bucket;
  return bucket;
}

// The section's name for a host process, Local\tarvokey-status-<pid>, as
// UTF-16 ending in a zero: the one spelling of the writer and the reader.
constexpr size_t kSectionNameUnits = 48;
inline void SectionName(uint32_t pid, char16_t (&name)[kSectionNameUnits]) {
  const char prefix[] = "Local\\tarvokey-status-";
  size_t at = 0;
  for (const char* c = prefix; *c != '\0'; ++c) name[at++] = static_cast<char16_t>(*c);
  char16_t digits[10];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + pid % 10);
    pid /= 10;
  } while (pid != 0);
  while (count > 0) name[at++] = digits[--count];
  name[at] = u'\0';
}

// Text capacities, terminating zero included. A HID string is at most 126
// code units; the driver opens tarvokey.ini through the ANSI functions, so
// its path fits in MAX_PATH.
constexpr size_t kHostExeUnits = 128;
constexpr size_t kBoxProductUnits = 128;
constexpr size_t kSettingsFileUnits = 260;
constexpr size_t kHostFolderUnits = 260;
constexpr size_t kFailedCallBytes = 32;

// Times are on the performance counter (QueryPerformanceCounter), which every
// process of the machine shares; counts run from the open and wrap at 2^32.
// Texts are UTF-16 ending in a zero, or ASCII for the failed call's label.
struct Record {
  // Set by the first publication and unchanged after it.
  uint32_t magic;
  uint32_t version;
  uint32_t size;  // of the record, in bytes
  // Odd while the writer is inside an update.
  uint32_t sequence;

  uint64_t counterFrequency;  // counter units a second
  uint64_t openCounter;
  uint64_t openSystemTime;  // UTC, 100 ns units since 1601 (a FILETIME)
  uint64_t lastTickCounter;
  uint64_t lastCharacterCounter;
  // Start to start of characters sent back to back, in counter units.
  uint64_t characterPeriodSum;
  uint64_t lastFailureCounter;

  uint32_t hostPid;
  uint16_t moduleVersion[4];  // major, minor, build, revision
  uint32_t reportsWritten;
  uint32_t reportsFailed;
  uint32_t discoveries;
  uint32_t linkDrops;
  uint32_t characters;  // started
  uint32_t characterPeriods;
  uint32_t pttChanges;
  uint32_t latenessMaxUs;
  int32_t generation;  // of the box last seen
  int32_t fskRev;      // as in force; -1 not set
  int32_t fskPin;
  uint32_t throttlingError;  // with Throttling::Failed
  uint32_t lastFailureError;
  uint16_t boxVendorId;  // of the box last seen
  uint16_t boxProductId;
  uint8_t link;  // Link
  uint8_t ptt;   // 0 or 1, as are the next three
  uint8_t keyingArmed;
  uint8_t timer1ms;
  uint8_t closed;      // the instance has closed: the record is history
  uint8_t throttling;  // Throttling
  uint8_t settings;    // Settings
  uint8_t reserved0;
  char lastFailedCall[kFailedCallBytes];  // empty: none yet
  // Every tick is counted here: the ticks since open are the total.
  uint32_t lateness[kLatenessBuckets];
  uint32_t reserved1;

  char16_t hostExe[kHostExeUnits];
  char16_t boxProduct[kBoxProductUnits];
  char16_t settingsFile[kSettingsFileUnits];  // with Settings::File

  // Version 2. The identity of the box last seen (hidlink/box_key.h), the
  // same in every program that sees it; 0 for none. With Link::InUse, why its
  // claim could not be taken: ERROR_ALREADY_EXISTS, a program of this user
  // holds it; ERROR_ACCESS_DENIED, one run as administrator or another user's.
  uint64_t boxKey;
  uint32_t claimError;
  uint32_t reserved2;

  // Version 3. The key FskBox chooses (with Choice::Chosen); the box whose
  // claim the instance keeps (from its first link to the close, so also while
  // the link is down; 0 none); the characters of which an element did not
  // reach the box (no box linked, or a failed write); a link with no claim
  // (nobody holds the box, but this program may not make its claim:
  // claimError says why); and the folder of the host's executable, which
  // tells two MMTTY windows apart.
  uint64_t chosenKey;
  uint64_t claimKey;
  uint32_t charactersLost;
  uint8_t choice;     // Choice
  uint8_t unclaimed;  // 0 or 1
  uint16_t reserved3;
  char16_t hostFolder[kHostFolderUnits];
};

// The same bytes from every compiler: the 64-bit fields on 8-byte offsets and
// the size a multiple of 8, since 32-bit Windows aligns them to 8 and 32-bit
// Linux to 4.
static_assert(offsetof(Record, sequence) == 12, "header");
static_assert(offsetof(Record, counterFrequency) == 16, "times");
static_assert(offsetof(Record, lastFailureCounter) == 64, "times");
static_assert(offsetof(Record, hostPid) == 72, "counts");
static_assert(offsetof(Record, reportsWritten) == 84, "counts");
static_assert(offsetof(Record, latenessMaxUs) == 112, "counts");
static_assert(offsetof(Record, boxVendorId) == 136, "identity");
static_assert(offsetof(Record, link) == 140, "states");
static_assert(offsetof(Record, lastFailedCall) == 148, "failure");
static_assert(offsetof(Record, lateness) == 180, "histogram");
static_assert(offsetof(Record, hostExe) == 328, "texts");
static_assert(offsetof(Record, boxProduct) == 584, "texts");
static_assert(offsetof(Record, settingsFile) == 840, "texts");
static_assert(offsetof(Record, boxKey) == kVersion1Size, "version 2 appends to version 1");
static_assert(offsetof(Record, chosenKey) == kVersion2Size, "version 3 appends to version 2");
static_assert(offsetof(Record, hostFolder) == 1400, "texts");
static_assert(sizeof(Record) == 1920, "the record's size is part of its version");

// Writer and reader move the record as 32-bit words (a 64-bit atomic load on
// i686 may be a locked compare-exchange, which faults on a read-only view).
constexpr size_t kRecordWords = sizeof(Record) / 4;
constexpr size_t kSequenceWord = offsetof(Record, sequence) / 4;

}  // namespace status
