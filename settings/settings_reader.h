// Reading tarvokey.ini: whitespace-separated tokens, of which only FskRev and
// FskPin mean anything. Pure logic over bytes fed in chunks of any size, so the
// file is streamed and tests feed text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// What the file says. -1 is "not set", also as recorded by a cancelled prompt.
struct SettingsValues {
  int32_t rev = -1;
  int32_t pin = -1;
  bool reverse = false;  // set for good once a FskRev token leaves rev at 1
  bool pin3 = false;     // set for good once a FskPin token leaves pin at 3
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
};
// The line (from 1), why, the key it names ("" with NoKey), and the token as
// far as kept.
using NotTakenListener = void (*)(void* context, uint32_t line, NotTaken why, const char* key,
                                  std::string_view token);

class SettingsReader {
 public:
  // Longest token kept. A longer run of non-blank bytes is skipped whole: a cut
  // piece of it could read as a key or as a number it does not hold.
  static constexpr size_t kMaxToken = 255;

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
  void NearMiss(std::string_view token, bool overlong);

  char token_[kMaxToken];
  size_t length_ = 0;
  bool overlong_ = false;
  uint32_t line_ = 1;
  SettingsValues values_;
  NotTakenListener listener_ = nullptr;
  void* context_ = nullptr;
};

// The whole text at once.
SettingsValues ReadSettings(std::string_view text);
