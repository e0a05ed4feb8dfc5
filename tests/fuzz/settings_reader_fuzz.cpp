// Fuzz target: tarvokey.ini, whatever its bytes and however they arrive.
// The file is fed to the streaming reader in random chunks, and what it reads
// is checked against a plain reading of the whole text by the file's rules.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/settings_reader.h"

namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// "<key>=" then an optional sign and one or more digits, in the 32-bit range;
// anything may follow the digits.
bool ParseValue(const std::string& token, const std::string& key, int32_t& value) {
  const std::string head = key + "=";
  if (token.compare(0, head.size(), head) != 0) return false;
  size_t i = head.size();
  const bool negative = i < token.size() && token[i] == '-';
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
  const size_t digits = i;
  long long magnitude = 0;
  while (i < token.size() && token[i] >= '0' && token[i] <= '9') {
    magnitude = magnitude * 10 + (token[i++] - '0');
    if (magnitude > 2147483648LL) return false;
  }
  if (i == digits || (!negative && magnitude > 2147483647LL)) return false;
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsFskBox(const std::string& text) {
  if (text.size() < 6) return false;
  std::string head;
  for (size_t i = 0; i < 6; ++i) head += Lower(text[i]);
  return head == "fskbox";
}

// Whether a token has its say on FskBox: its first six characters name the
// key in any case, also after a UTF-8 byte-order mark, or with the zeros of
// UTF-16 (and its byte-order mark) left out; a token over 255 bytes by its
// start alone.
bool NamesFskBox(const std::string& token) {
  if (token.size() > SettingsReader::kMaxToken) return StartsFskBox(token);
  if (StartsFskBox(token)) return true;
  if (token.compare(0, 3, "\xEF\xBB\xBF") == 0) return StartsFskBox(token.substr(3));
  if (token.find('\0') == std::string::npos) return false;
  std::string rest = token;
  if (rest.compare(0, 2, "\xFF\xFE") == 0 || rest.compare(0, 2, "\xFE\xFF") == 0) {
    rest = rest.substr(2);
  }
  std::string narrow;
  for (char c : rest) {
    if (c != '\0') narrow += c;
  }
  return StartsFskBox(narrow);
}

// "FskBox=" and exactly 16 hex digits.
bool ParseBox(const std::string& token, uint64_t* key) {
  if (token.size() != 23 || token.compare(0, 7, "FskBox=") != 0) return false;
  *key = 0;
  for (size_t i = 7; i < 23; ++i) {
    const char c = Lower(token[i]);
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    *key = *key << 4 | static_cast<uint64_t>(digit);
  }
  return true;
}

// The rules over the whole text at once: blank-separated tokens; a token of
// more than 255 bytes is passed over whole, but for the box it may name; a
// token that starts with FskRev or FskPin sets its value if it parses, and
// the flag holds once the value was 1 (reverse) or 3 (pin 3) after any of the
// key's tokens. A box is chosen when every token that names FskBox holds one
// key, the same; with any that does not, none is.
SettingsValues ReadWhole(const std::string& text) {
  SettingsValues v;
  bool anyBox = false;
  bool allSame = true;
  uint64_t boxKey = 0;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    size_t end = i;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    const std::string token = text.substr(i, end - i);
    i = end;
    if (token.empty()) continue;
    const bool rev = token.compare(0, 6, "FskRev") == 0;
    const bool pin = token.compare(0, 6, "FskPin") == 0;
    if (!rev && !pin && NamesFskBox(token)) {
      uint64_t key = 0;
      const bool parsed = ParseBox(token, &key);
      allSame = allSame && parsed && (!anyBox || key == boxKey);
      anyBox = true;
      boxKey = key;
    }
    if (token.size() > SettingsReader::kMaxToken) continue;
    if (token.compare(0, 6, "FskRev") == 0) {
      ParseValue(token, "FskRev", v.rev);
      if (v.rev == 1) v.reverse = true;
    } else if (token.compare(0, 6, "FskPin") == 0) {
      ParseValue(token, "FskPin", v.pin);
      if (v.pin == 3) v.pin3 = true;
    }
  }
  if (anyBox)
    v.box =
        allSame ? BoxChoice{BoxChoiceKind::Chosen, boxKey} : BoxChoice{BoxChoiceKind::Malformed, 0};
  return v;
}

// What a listener hears is about a line of the file, one of the keys (or
// none, for a token that names no key), and a token as far as the reader kept
// it; a key given again, about a line before it.
void Heard(void* lines, uint32_t line, NotTaken why, const char* key, std::string_view token,
           uint32_t previous) {
  const std::string name = key;
  const bool known = why == NotTaken::NoKey
                         ? name.empty()
                         : name == "FskRev" || name == "FskPin" || name == "FskBox";
  const bool before = why == NotTaken::Repeated ? previous >= 1 && previous <= line : previous == 0;
  if (line == 0 || line > *static_cast<uint32_t*>(lines) || !known || !before || token.empty() ||
      token.size() > SettingsReader::kMaxToken || why > NotTaken::Repeated) {
    std::fprintf(stderr, "heard line %u, key %s, why %d, a token of %zu bytes\n", line, key,
                 static_cast<int>(why), token.size());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const size_t seed = input.ConsumeIntegral<uint16_t>();
  const std::string text = input.ConsumeRemainingBytesAsString();

  // Chunk sizes from the seed: 0 to 300 bytes, the file's reads split anyhow.
  // Half the time the check program's listener is set, which changes nothing
  // of what is read.
  SettingsReader reader;
  uint32_t lines = 1;
  for (char c : text) lines += c == '\n';
  if (seed % 2 == 1) reader.Listen(&Heard, &lines);
  size_t at = 0;
  uint32_t state = static_cast<uint32_t>(seed) * 2654435761u + 1;
  while (at < text.size()) {
    state = state * 1103515245u + 12345u;
    const size_t chunk = std::min<size_t>((state >> 16) % 301, text.size() - at);
    reader.Feed(text.data() + at, chunk);
    at += chunk;
  }
  reader.Finish();

  const SettingsValues got = reader.values();
  const SettingsValues want = ReadWhole(text);
  if (got.rev != want.rev || got.pin != want.pin || got.reverse != want.reverse ||
      got.pin3 != want.pin3 || got.box.kind != want.box.kind || got.box.key != want.box.key) {
    std::fprintf(stderr,
                 "read rev=%d pin=%d reverse=%d pin3=%d box=%d/%016llx, the rules say %d %d %d %d "
                 "%d/%016llx\n",
                 got.rev, got.pin, got.reverse, got.pin3, static_cast<int>(got.box.kind),
                 static_cast<unsigned long long>(got.box.key), want.rev, want.pin, want.reverse,
                 want.pin3, static_cast<int>(want.box.kind),
                 static_cast<unsigned long long>(want.box.key));
    std::abort();
  }
  // The FskBox tokens the plug-in writes back choose as the file did.
  std::string back;
  for (uint8_t k = 0; k < got.boxTokenCount; ++k)
    back += std::string(got.boxTokens[k].view()) + "\r\n";
  const SettingsValues again = ReadSettings(back);
  if (again.box.kind != got.box.kind || again.box.key != got.box.key) {
    std::fprintf(stderr, "the FskBox written back chooses otherwise\n");
    std::abort();
  }
  return 0;
}
