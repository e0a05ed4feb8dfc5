#include "settings/settings_reader.h"

namespace {

// The blanks of isspace in the "C" locale. Shift_JIS trail bytes are never
// among them, so a Japanese comment never splits inside a character.
bool IsBlank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

bool ParseKeyValue(std::string_view token, std::string_view prefix, int32_t& value) {
  if (!StartsWith(token, prefix)) return false;
  size_t i = prefix.size();
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
    negative = token[i] == '-';
    ++i;
  }
  const int64_t limit = negative ? int64_t{2147483648} : int64_t{2147483647};
  int64_t magnitude = 0;
  const size_t firstDigit = i;
  for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (token[i] - '0');
    if (magnitude > limit) return false;
  }
  if (i == firstDigit) return false;
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

void SettingsReader::Feed(const char* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (IsBlank(static_cast<unsigned char>(c))) {
      EndToken();
    } else if (length_ < kMaxToken) {
      token_[length_++] = c;
    } else {
      overlong_ = true;
    }
  }
}

void SettingsReader::Finish() { EndToken(); }

void SettingsReader::EndToken() {
  const std::string_view token(token_, length_);
  const bool skip = overlong_;
  length_ = 0;
  overlong_ = false;
  if (token.empty() || skip) return;

  // The key is recognised by its first six characters; the rest must then
  // have the shape "key=number", or the value stays as it was.
  if (StartsWith(token, "FskRev")) {
    ParseKeyValue(token, "FskRev=", values_.rev);
    if (values_.rev == 1) values_.reverse = true;
  } else if (StartsWith(token, "FskPin")) {
    ParseKeyValue(token, "FskPin=", values_.pin);
    if (values_.pin == 3) values_.pin3 = true;
  }
}

SettingsValues ReadSettings(std::string_view text) {
  SettingsReader reader;
  reader.Feed(text.data(), text.size());
  reader.Finish();
  return reader.values();
}
