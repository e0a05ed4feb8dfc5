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

// The rules over the whole text at once: blank-separated tokens; a token of
// more than 255 bytes is passed over whole; a token that starts with FskRev or
// FskPin sets its value if it parses, and the flag holds once the value was 1
// (reverse) or 3 (pin 3) after any of the key's tokens.
SettingsValues ReadWhole(const std::string& text) {
  SettingsValues v;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    size_t end = i;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    const std::string token = text.substr(i, end - i);
    i = end;
    if (token.empty() || token.size() > SettingsReader::kMaxToken) continue;
    if (token.compare(0, 6, "FskRev") == 0) {
      ParseValue(token, "FskRev", v.rev);
      if (v.rev == 1) v.reverse = true;
    } else if (token.compare(0, 6, "FskPin") == 0) {
      ParseValue(token, "FskPin", v.pin);
      if (v.pin == 3) v.pin3 = true;
    }
  }
  return v;
}

// What a listener hears is about a line of the file, one of the two keys (or
// none, for a token that names no key), and a token as far as the reader kept
// it.
void Heard(void* lines, uint32_t line, NotTaken why, const char* key, std::string_view token) {
  const bool known = why == NotTaken::NoKey
                         ? std::string(key).empty()
                         : std::string(key) == "FskRev" || std::string(key) == "FskPin";
  if (line == 0 || line > *static_cast<uint32_t*>(lines) || !known || token.empty() ||
      token.size() > SettingsReader::kMaxToken || why > NotTaken::NoKey) {
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
      got.pin3 != want.pin3) {
    std::fprintf(stderr, "read rev=%d pin=%d reverse=%d pin3=%d, the rules say %d %d %d %d\n",
                 got.rev, got.pin, got.reverse, got.pin3, want.rev, want.pin, want.reverse,
                 want.pin3);
    std::abort();
  }
  return 0;
}
