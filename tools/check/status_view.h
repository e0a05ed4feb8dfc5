// The status of the open instances as the check program shows it: the JSON
// document of --status --json and the live panel of --watch. Both are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/status_reader.h"
#include "tools/check/console.h"
#include "tools/check/status_texts.h"

// Whether the entry stands for an instance still open (unreadable ones count:
// something holds a section of that name).
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

// Closed instances are left out of both. nowMs: the performance counter now,
// in milliseconds (Console::NowMs), for the ages of what the record timed.
std::string StatusJson(const std::vector<StatusEntry>& entries, double nowMs);
std::string StatusPanel(const std::vector<StatusEntry>& entries, double nowMs,
                        const StatusTexts& texts);

// The program that holds a box's claim, as far as the statuses read here
// tell: the one whose record shows it linked to that box (pid 0: none does).
struct BoxHolder {
  uint32_t pid = 0;
  std::u16string exe;
};
BoxHolder FindBoxHolder(const std::vector<StatusEntry>& entries, uint64_t boxKey,
                        uint32_t exceptPid);
// The holder in words: its program and pid, or else what the claim's error
// says of it (run as administrator or another user's; or nothing more).
std::string HolderText(const BoxHolder& holder, uint32_t claimError, const StatusTexts& texts);

// Why the entry could not be read, in one line.
std::string ProblemLine(const status::ReadResult& read, const StatusTexts& texts);
