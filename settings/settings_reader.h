// Reading tarvokey.ini: whitespace-separated tokens, of which only FskRev,
// FskPin and FskBox mean anything. Pure logic over bytes fed in chunks of any
// size, so the file is streamed and tests feed text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/box_identity.h"

// Longest token kept. A longer run of non-blank bytes is skipped whole: a cut
// piece of it could read as a key or as a number it does not hold.
constexpr size_t kMaxSettingsToken = 255;

// The blanks between tokens: those of isspace in the "C" locale. Shift_JIS
// trail bytes are never among them, so a Japanese comment never splits
// inside a character.
inline bool IsSettingsBlank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// An FskBox token as read, to be written back as it is.
struct BoxToken {
  char text[kMaxSettingsToken] = {};
  uint8_t length = 0;
  std::string_view view() const { return std::string_view(text, length); }
};

// What the file says. -1 is "not set", also as recorded by a cancelled prompt.
struct SettingsValues {
  int32_t rev = -1;
  int32_t pin = -1;
  bool reverse = false;  // set for good once a FskRev token leaves rev at 1
  bool pin3 = false;     // set for good once a FskPin token leaves pin at 3
  // FskBox: "FskBox=" and the box's key in 16 hex digits, in either case.
  // Every token that names the key, in any case or encoding, counts: one
  // that does not hold a key, or two keys that differ, choose no box.
  BoxChoice box;
  // The FskBox tokens written back, as read: the first, and the first that
  // means something else, so that the file read back chooses as this one.
  BoxToken boxTokens[2];
  uint8_t boxTokenCount = 0;
};

// Reads "<prefix><number>": the token starts with prefix, then an optional sign
// and one or more decimal digits; whatever follows the digits is ignored. A
// number outside the 32-bit signed range does not parse. value is left alone
// when the token does not parse.
bool ParseKeyValue(std::string_view token, std::string_view prefix, int32_t& value);

// Why a token that names a key, or nearly does, is not taken as the operator
// meant it. Only the check program asks; the module listens to nothing.
enum class NotTaken : uint8_t {
  NoValue,        // the key alone, or with "=" and nothing after: "FskRev = 1"
  NotANumber,     // "FskRev=x", "FskRev:1", a number beyond 32 bits
  NotAllowed,     // taken, but a number the key gives no meaning: as if 0 or 1
  ByteOrderMark,  // the key behind a UTF-8 byte-order mark
  Utf16,          // the key in UTF-16 (the file saved as "Unicode")
  WrongCase,      // "fskrev=1"
  Overlong,       // glued to more than kMaxToken bytes, skipped whole
  NoKey,          // names no key as the reader reads it: a comment, "=", "FskPim=3"
  NotABoxKey,     // "FskBox=" and anything but 16 hex digits
  OtherBox,       // an FskBox whose key differs from an earlier one's
  Repeated,       // a value of FskRev or FskPin read again, after line `previous`
};
// The line (from 1), why, the key it names ("" with NoKey), and the token as
// far as kept; with Repeated, the line where the key was last given.
using NotTakenListener = void (*)(void* context, uint32_t line, NotTaken why, const char* key,
                                  std::string_view token, uint32_t previous);

class SettingsReader {
 public:
  static constexpr size_t kMaxToken = kMaxSettingsToken;

  void Feed(const char* data, size_t size);
  // End of input: the last token need not be followed by a blank.
  void Finish();
  const SettingsValues& values() const { return values_; }
  // Who hears of the tokens not taken; none unless set.
  void Listen(NotTakenListener listener, void* context) {
    listener_ = listener;
    context_ = context;
  }

 private:
  void EndToken();
  void Take(std::string_view token, const char* key, int32_t& value);
  // An FskBox token; why it is not a key, if it is not.
  void TakeBox(std::string_view token, NotTaken why);
  void NearMiss(std::string_view token, bool overlong);
  void Given(const char* key, std::string_view token);

  char token_[kMaxToken];
  size_t length_ = 0;
  bool overlong_ = false;
  uint32_t line_ = 1;
  // The line a value of FskRev and of FskPin was last read on; 0 not yet.
  uint32_t givenOn_[2] = {};
  SettingsValues values_;
  NotTakenListener listener_ = nullptr;
  void* context_ = nullptr;
};

// The key (FskRev, FskPin, FskBox) the text's first letters name in any case.
const char* KeyInAnyCase(std::string_view text);

// The whole text at once.
SettingsValues ReadSettings(std::string_view text);

// Whether a token has its say on FskBox: it names the key in any case or
// encoding (a token of more than kMaxSettingsToken bytes, by its start).
bool NamesBoxKey(std::string_view token);
