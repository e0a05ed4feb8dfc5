#include "settings/settings_reader.h"

#include <cstring>

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

const char* const kKeys[] = {"FskRev", "FskPin", "FskBox"};
constexpr size_t kKeyLength = 6;
constexpr size_t kBoxKeyDigits = 16;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

const char* KeyInAnyCase(std::string_view text) {
  for (const char* key : kKeys) {
    size_t i = 0;
    while (i < kKeyLength && i < text.size() && Lower(text[i]) == Lower(key[i])) ++i;
    if (i == kKeyLength) return key;
  }
  return nullptr;
}

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
    if (IsSettingsBlank(static_cast<unsigned char>(c))) {
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
    NearMiss(token, true);
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
  } else if (StartsWith(token, "FskBox")) {
    TakeBox(token, NotTaken::NotABoxKey);
  } else {
    NearMiss(token, false);
  }
}

// A value read again: FskRev=1 then FskRev=0 keys reverse now (the first set
// it) and writes 0 back, so the next open keys normal. The listener hears
// where, so that the operator can be told before that happens.
void SettingsReader::Given(const char* key, std::string_view token) {
  const size_t which = key == kKeys[0] ? 0 : 1;
  if (listener_ != nullptr && givenOn_[which] != 0) {
    listener_(context_, line_, NotTaken::Repeated, key, token, givenOn_[which]);
  }
  givenOn_[which] = line_;
}

namespace {

// "FskBox=" and exactly 16 hex digits, in either case.
bool ParseBoxKey(std::string_view token, uint64_t* key) {
  constexpr std::string_view kShape = "FskBox=";
  if (!StartsWith(token, kShape) || token.size() != kShape.size() + kBoxKeyDigits) return false;
  uint64_t value = 0;
  for (char c : token.substr(kShape.size())) {
    const char lower = Lower(c);
    const int digit = c >= '0' && c <= '9'           ? c - '0'
                      : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10
                                                     : -1;
    if (digit < 0) return false;
    value = value << 4 | static_cast<uint64_t>(digit);
  }
  *key = value;
  return true;
}

}  // namespace

// Every token that names FskBox, however written, has its say: a box is
// chosen only when each names the same key (given twice, it is no different
// from once). `why` is what is wrong with a token that holds none.
void SettingsReader::TakeBox(std::string_view token, NotTaken why) {
  uint64_t key = 0;
  const bool parsed = why == NotTaken::NotABoxKey && ParseBoxKey(token, &key);
  BoxChoice& box = values_.box;
  const bool first = values_.boxTokenCount == 0;
  const bool agrees = parsed && (first || (box.kind == BoxChoiceKind::Chosen && box.key == key));
  if (!parsed && why == NotTaken::NotABoxKey) {
    why = StartsWith(std::string_view("FskBox="), token) ? NotTaken::NoValue : NotTaken::NotABoxKey;
  }
  if (parsed && !agrees) why = NotTaken::OtherBox;
  if (agrees) {
    box = {BoxChoiceKind::Chosen, key};
  } else {
    box = {BoxChoiceKind::Malformed, 0};
  }
  // The first, and the first that does not agree with it, go back to the file.
  const bool keep = first || (!agrees && values_.boxTokenCount == 1);
  if (keep) {
    BoxToken& kept = values_.boxTokens[values_.boxTokenCount++];
    kept.length = static_cast<uint8_t>(token.size());
    std::memcpy(kept.text, token.data(), token.size());
  }
  if (listener_ != nullptr && !agrees) listener_(context_, line_, why, kKeys[2], token, 0);
}

void SettingsReader::Take(std::string_view token, const char* key, int32_t& value) {
  char shape[kKeyLength + 1];
  std::memcpy(shape, key, kKeyLength);
  shape[kKeyLength] = '=';
  const std::string_view shapeText(shape, sizeof shape);
  const bool parsed = ParseKeyValue(token, shapeText, value);
  if (listener_ == nullptr) return;
  if (parsed) Given(key, token);
  if (!parsed) {
    const bool alone = StartsWith(shapeText, token);  // "FskRev" or "FskRev="
    listener_(context_, line_, alone ? NotTaken::NoValue : NotTaken::NotANumber, key, token, 0);
    return;
  }
  // -1 asks; FskRev means 0 or 1 (reverse), FskPin 1 or 3 (pin 3).
  const int32_t other = key == kKeys[0] ? 0 : 3;
  if (value != -1 && value != 1 && value != other) {
    listener_(context_, line_, NotTaken::NotAllowed, key, token, 0);
  }
}

namespace {

// The key a token names, however written: in any case, after a byte-order
// mark, or in UTF-16 (`why` says which); nullptr for none.
const char* KeyWrittenOtherwise(std::string_view token, bool overlong, NotTaken* why) {
  *why = overlong ? NotTaken::Overlong : NotTaken::WrongCase;
  std::string_view rest = token;
  char narrow[kKeyLength];
  if (!overlong && StartsWith(rest, "\xEF\xBB\xBF")) {
    rest.remove_prefix(3);
    *why = NotTaken::ByteOrderMark;
  } else if (!overlong && rest.find('\0') != std::string_view::npos) {
    if (StartsWith(rest, "\xFF\xFE") || StartsWith(rest, "\xFE\xFF")) rest.remove_prefix(2);
    size_t length = 0;
    for (char c : rest) {
      if (c != '\0' && length < kKeyLength) narrow[length++] = c;
    }
    rest = std::string_view(narrow, length);
    *why = NotTaken::Utf16;
  }
  return KeyInAnyCase(rest);
}

}  // namespace

bool NamesBoxKey(std::string_view token) {
  NotTaken why;
  return KeyWrittenOtherwise(token, token.size() > kMaxSettingsToken, &why) == kKeys[2];
}

// A key that is there but not as the reader takes it: glued to too much, in
// another case, after a byte-order mark, or in UTF-16. Any other token is
// heard too, as naming no key: the listener may know it for a key written
// otherwise. FskBox so written chooses no box, with or without a listener.
void SettingsReader::NearMiss(std::string_view token, bool overlong) {
  NotTaken why;
  const char* key = KeyWrittenOtherwise(token, overlong, &why);
  if (key == kKeys[2]) {
    TakeBox(token, why);
  } else if (listener_ != nullptr) {
    listener_(context_, line_, key != nullptr ? why : NotTaken::NoKey, key != nullptr ? key : "",
              token, 0);
  }
}

SettingsValues ReadSettings(std::string_view text) {
  SettingsReader reader;
  reader.Feed(text.data(), text.size());
  reader.Finish();
  return reader.values();
}
