// Reads a status record from a mapped view of its section, which is taken as
// untrusted: any process of the user may have made a section of that name,
// and any bytes may be in it. Bounded work whatever the bytes; never writes
// to the view.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "status/status_record.h"

namespace status {

enum class Problem : uint8_t {
  None,
  ViewTooSmall,  // smaller than the header: found = the view's size
  Misaligned,    // the view does not start on a word
  NotWritten,    // all zero: the plug-in has not published yet
  NotARecord,    // found = the magic
  WrongVersion,  // found, expected
  WrongSize,     // the header's size: found, expected
  Truncated,     // the view is smaller than the record: found = the view's size
  Busy,          // the sequence kept changing: found = the attempts made
  BadValue,      // field: a value no writer makes; found = it
  BadText,       // field: no terminating zero, or (for the label) a control byte
  OtherProcess,  // found = the record's pid, expected = the section name's
  Closed,        // the instance has closed; the record is what it was then
};
constexpr size_t kProblems = static_cast<size_t>(Problem::Closed) + 1;

struct ReadResult {
  Problem problem = Problem::None;
  const char* field = nullptr;  // with BadValue and BadText
  uint64_t found = 0;
  uint64_t expected = 0;
  Record record{};  // a consistent, validated copy with Problem::None
};

// Tries at most this many times to see the sequence stand still.
constexpr uint32_t kReadAttempts = 1000;

// The view of the section named after hostPid, bytes long as far as it can
// be read.
ReadResult Read(const void* view, size_t bytes, uint32_t hostPid);

// A text of the record up to its terminating zero (which Read has checked is
// there).
template <size_t N>
std::u16string TextOf(const char16_t (&text)[N]) {
  size_t length = 0;
  while (length < N && text[length] != 0) ++length;
  return std::u16string(text, length);
}

// The ticks since open: the lateness histogram's total.
uint64_t TickCount(const Record& record);

}  // namespace status
