// The status of the open instances as the check program shows it: the JSON
// document of --status --json and the live panel of --watch. Both are UTF-8.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "status/status_reader.h"
#include "tools/check/console.h"
#include "tools/check/status_texts.h"

// Whether the entry stands for an instance still open (unreadable ones count:
// something holds a section of that name, and so does a program this user
// may not read).
bool IsOpenInstance(const StatusEntry& entry);

// Tick lateness from the record's histogram. The median and p99 take the
// tick of that rank (nearest rank) and place it within its bucket by linear
// interpolation, never above the maximum: each is as good as its bucket's
// width, 0.1 ms below 1 ms.
struct LatenessFigures {
  uint64_t ticks = 0;
  double medianMs = 0;
  double p99Ms = 0;
  double maxMs = 0;
};
LatenessFigures LatenessOf(const status::Record& record);
// The same from a histogram of the record's buckets and the highest lateness
// it may hold.
LatenessFigures LatenessOf(const uint32_t (&buckets)[status::kLatenessBuckets], uint32_t maxUs);

// The warnings are judged on the last minute.
constexpr double kRecentMs = 60000;

// The counts behind the warnings over a span of time.
struct RecentCounts {
  double spanMs = 0;
  uint32_t lateness[status::kLatenessBuckets] = {};
  uint64_t characterPeriodSum = 0;  // counter units
  uint32_t characterPeriods = 0;
};

// What --watch has read of each open instance, look by look, for the last
// minute: its warnings are judged on what changed over that minute, so that
// a stall long past does not keep one on the screen, while the panel's
// figures stay those since the open. The record itself keeps only those.
class StatusLooks {
 public:
  // Keeps the counts of each readable entry, read at nowMs; forgets what is
  // older than kRecentMs.
  void Add(const std::vector<StatusEntry>& entries, double nowMs);
  // The counts from the oldest look kept at this instance to the record read
  // now; false with no earlier look at it.
  bool Recent(const status::Record& record, double nowMs, RecentCounts* counts) const;

 private:
  struct Look {
    double ms;
    uint32_t pid;
    uint64_t openCounter;  // with the pid, which instance
    RecentCounts counts;
  };
  std::deque<Look> looks_;
};

// Closed instances are left out of both. nowMs: the performance counter now,
// in milliseconds (Console::NowMs), for the ages of what the record timed.
std::string StatusJson(const std::vector<StatusEntry>& entries, double nowMs);
// With looks (--watch), the warnings are judged on the last minute of them;
// without, on the figures since the open, and they say so. boxesAttached:
// how many boxes Windows lists (the advice for a box in use depends on it).
std::string StatusPanel(const std::vector<StatusEntry>& entries, double nowMs,
                        const StatusTexts& texts, const StatusLooks* looks = nullptr,
                        size_t boxesAttached = 1);

// A box's key as FskBox= and the status give it: 16 hex digits.
std::string KeyText(uint64_t key);

// A program by its name, pid and folder ("": not known), in words; UTF-8.
std::string ProgramText(const std::string& exe, uint32_t pid, const std::string& folder,
                        const StatusTexts& texts);

// The program that holds a box's claim, as far as the statuses read here
// tell: the one whose record shows it keeps that box's claim (pid 0: none does).
struct BoxHolder {
  uint32_t pid = 0;
  std::u16string exe;
  std::u16string folder;
};
BoxHolder FindBoxHolder(const std::vector<StatusEntry>& entries, uint64_t boxKey,
                        uint32_t exceptPid);
// The holder in words: its program and pid, or else what the claim's error
// says of it (run as administrator or another user's; or nothing more).
std::string HolderText(const BoxHolder& holder, uint32_t claimError, const StatusTexts& texts);

// Why the entry could not be read, in one line.
std::string ProblemLine(const status::ReadResult& read, const StatusTexts& texts);
