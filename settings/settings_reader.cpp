#include "settings/settings_reader.h"

#include <cstring>

namespace {

// The blanks of isspace in the "C" locale. Shift_JIS trail bytes are never
// among them, so a Japanese comment never splits inside a character.
bool IsBlank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

const char* const kKeys[] = {"FskRev", "FskPin"};
constexpr size_t kKeyLength = 6;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The key the first characters name in any case, or nullptr.
const char* KeyInAnyCase(std::string_view text) {
  for (const char* key : kKeys) {
    size_t i = 0;
    while (i < kKeyLength && i < text.size() && Lower(text[i]) == Lower(key[i])) ++i;
    if (i == kKeyLength) return key;
  }
  return nullptr;
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
      if (c == '\n') ++line_;
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
  if (token.empty()) return;
  if (skip) {
    if (listener_ != nullptr) NearMiss(token, true);
    return;
  }

  // The key is recognised by its first six characters; the rest must then
  // have the shape "key=number", or the value stays as it was.
  if (StartsWith(token, "FskRev")) {
    Take(token, kKeys[0], values_.rev);
    if (values_.rev == 1) values_.reverse = true;
  } else if (StartsWith(token, "FskPin")) {
    Take(token, kKeys[1], values_.pin);
    if (values_.pin == 3) values_.pin3 = true;
  } else if (listener_ != nullptr) {
    NearMiss(token, false);
  }
}

void SettingsReader::Take(std::string_view token, const char* key, int32_t& value) {
  char shape[kKeyLength + 1];
  std::memcpy(shape, key, kKeyLength);
  shape[kKeyLength] = '=';
  const std::string_view shapeText(shape, sizeof shape);
  const bool parsed = ParseKeyValue(token, shapeText, value);
  if (listener_ == nullptr) return;
  if (!parsed) {
    const bool alone = StartsWith(shapeText, token);  // "FskRev" or "FskRev="
    listener_(context_, line_, alone ? NotTaken::NoValue : NotTaken::NotANumber, key, token);
    return;
  }
  // -1 asks; FskRev means 0 or 1 (reverse), FskPin 1 or 3 (pin 3).
  const int32_t other = key == kKeys[0] ? 0 : 3;
  if (value != -1 && value != 1 && value != other) {
    listener_(context_, line_, NotTaken::NotAllowed, key, token);
  }
}

// A key that is there but not as the reader takes it: glued to too much, in
// another case, after a byte-order mark, or in UTF-16. Any other token is
// heard too, as naming no key: the listener may know it for a key written
// otherwise.
void SettingsReader::NearMiss(std::string_view token, bool overlong) {
  NotTaken why = overlong ? NotTaken::Overlong : NotTaken::WrongCase;
  std::string_view rest = token;
  char narrow[kKeyLength];
  if (!overlong && StartsWith(rest, "\xEF\xBB\xBF")) {
    rest.remove_prefix(3);
    why = NotTaken::ByteOrderMark;
  } else if (!overlong && rest.find('\0') != std::string_view::npos) {
    if (StartsWith(rest, "\xFF\xFE") || StartsWith(rest, "\xFE\xFF")) rest.remove_prefix(2);
    size_t length = 0;
    for (char c : rest) {
      if (c != '\0' && length < kKeyLength) narrow[length++] = c;
    }
    rest = std::string_view(narrow, length);
    why = NotTaken::Utf16;
  }
  const char* key = KeyInAnyCase(rest);
  listener_(context_, line_, key != nullptr ? why : NotTaken::NoKey, key != nullptr ? key : "",
            token);
}

SettingsValues ReadSettings(std::string_view text) {
  SettingsReader reader;
  reader.Feed(text.data(), text.size());
  reader.Finish();
  return reader.values();
}
