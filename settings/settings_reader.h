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

class SettingsReader {
 public:
  // Longest token kept. A longer run of non-blank bytes is skipped whole: a cut
  // piece of it could read as a key or as a number it does not hold.
  static constexpr size_t kMaxToken = 255;

  void Feed(const char* data, size_t size);
  // End of input: the last token need not be followed by a blank.
  void Finish();
  const SettingsValues& values() const { return values_; }

 private:
  void EndToken();

  char token_[kMaxToken];
  size_t length_ = 0;
  bool overlong_ = false;
  SettingsValues values_;
};

// The whole text at once.
SettingsValues ReadSettings(std::string_view text);
