// Fuzz target: a status section, whatever its bytes, read and shown as the
// check program does. Half the inputs are raw bytes; the other half are a
// record the writer made from fuzzed calls, with fuzzed bytes written over
// parts of it and a fuzzed view size, so the reader's deeper checks are
// reached. Whatever the writer makes whole is read back; whatever is read
// renders as valid JSON.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "status/status_reader.h"
#include "status/status_writer.h"
#include "tools/check/status_view.h"
#include "tools/check/texts.h"

// The text helpers can ask the system for an error's message and for its
// code page; the status shows codes and UTF-16 texts only, so there is no
// system here to ask.
char* plat::FormatSystemMessage(uint32_t) { return nullptr; }
void plat::FreeSystemMessage(char*) {}
uint32_t plat::AnsiCodePage() { return 0; }
bool plat::ToUtf16(uint32_t, const char*, char16_t*, uint32_t) { return false; }

namespace {

[[noreturn]] void Fail(const char* what, const std::string& text) {
  std::fprintf(stderr, "%s:\n%s\n", what, text.c_str());
  std::abort();
}

// A strict reader of JSON, as far as the document uses it: true when `text`
// is one value and nothing after it, its strings well-formed UTF-8 without
// control characters.
class JsonCheck {
 public:
  explicit JsonCheck(const std::string& text) : s_(text) {}
  bool Valid() {
    Blank();
    if (!Value(0)) return false;
    Blank();
    return at_ == s_.size();
  }

 private:
  bool Value(int depth) {
    if (depth > 8 || at_ >= s_.size()) return false;
    const char c = s_[at_];
    if (c == '{') return List('}', depth, true);
    if (c == '[') return List(']', depth, false);
    if (c == '"') return String();
    if (c == '-' || (c >= '0' && c <= '9')) return Number();
    for (const char* word : {"true", "false", "null"}) {
      if (s_.compare(at_, std::strlen(word), word) == 0) {
        at_ += std::strlen(word);
        return true;
      }
    }
    return false;
  }
  bool List(char close, int depth, bool object) {
    ++at_;
    Blank();
    if (Take(close)) return true;
    do {
      Blank();
      if (object && !(String() && (Blank(), Take(':')))) return false;
      Blank();
      if (!Value(depth + 1)) return false;
      Blank();
    } while (Take(','));
    return Take(close);
  }
  bool String() {
    if (!Take('"')) return false;
    while (at_ < s_.size()) {
      const auto c = static_cast<unsigned char>(s_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return false;
      if (c == '\\') {
        if (at_ >= s_.size()) return false;
        const char e = s_[at_++];
        if (e == 'u') {
          for (int i = 0; i < 4; ++i) {
            if (at_ >= s_.size() || !std::isxdigit(static_cast<unsigned char>(s_[at_++]))) {
              return false;
            }
          }
        } else if (std::strchr("\"\\/bfnrt", e) == nullptr) {
          return false;
        }
      } else if (c >= 0x80) {
        // Lead byte, then its continuation bytes; no overlong forms, no
        // surrogates, nothing above U+10FFFF.
        const int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : -1;
        if (more < 0 || c > 0xF4 || at_ + more > s_.size()) return false;
        uint32_t code = c & (0x3F >> more);
        for (int i = 0; i < more; ++i) {
          const auto next = static_cast<unsigned char>(s_[at_++]);
          if ((next & 0xC0) != 0x80) return false;
          code = code << 6 | (next & 0x3F);
        }
        if ((more == 2 && code < 0x800) || (more == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF)) {
          return false;
        }
      }
    }
    return false;
  }
  bool Number() {
    const size_t start = at_;
    Take('-');
    while (at_ < s_.size() && std::strchr("0123456789.", s_[at_]) != nullptr) ++at_;
    return at_ > start && std::isdigit(static_cast<unsigned char>(s_[at_ - 1]));
  }
  bool Take(char c) {
    if (at_ < s_.size() && s_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  void Blank() {
    while (at_ < s_.size() && std::strchr(" \n", s_[at_]) != nullptr) ++at_;
  }

  const std::string& s_;
  size_t at_ = 0;
};

std::u16string Text(FuzzedDataProvider& input) {
  const std::string bytes = input.ConsumeRandomLengthString(700);
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                  static_cast<uint8_t>(bytes[i + 1]) << 8);
  }
  return text;
}

// A writer's record from fuzzed calls, published to the section.
void Write(FuzzedDataProvider& input, uint32_t pid, std::vector<uint32_t>& words) {
  status::Writer writer;
  status::Opening opening;
  const std::u16string exe = Text(input);
  const std::u16string folder = Text(input);
  opening.hostPid = pid;
  opening.hostExe = exe.c_str();
  opening.hostFolder = folder.c_str();
  opening.choice = static_cast<status::Choice>(input.ConsumeIntegralInRange(0, 2));
  opening.chosenKey = input.ConsumeIntegral<uint64_t>();
  opening.counterFrequency = input.ConsumeIntegralInRange<uint64_t>(1, UINT64_MAX);
  opening.counter = input.ConsumeIntegral<uint64_t>();
  opening.systemTime = input.ConsumeIntegral<uint64_t>();
  writer.SetOpening(opening);
  const bool attachFirst = input.ConsumeBool();
  if (attachFirst) writer.Attach(words.data(), words.size() * 4);
  for (int calls = 0; calls < 64 && input.remaining_bytes() > 0; ++calls) {
    switch (input.ConsumeIntegralInRange(0, 11)) {
      case 0:
        writer.CountTick(input.ConsumeIntegral<uint64_t>(), input.ConsumeIntegral<int64_t>());
        break;
      case 1:
        writer.CountCharacter(input.ConsumeIntegral<uint64_t>(), input.ConsumeBool());
        break;
      case 2:
        writer.CountReport(input.ConsumeBool());
        break;
      case 3:
        writer.CallFailed(input.ConsumeRandomLengthString(60).c_str(),
                          input.ConsumeIntegral<uint32_t>(), input.ConsumeIntegral<uint64_t>());
        break;
      case 4: {
        const std::string product = input.ConsumeRandomLengthString(300);
        status::Box box;
        box.vendorId = input.ConsumeIntegral<uint16_t>();
        box.productId = input.ConsumeIntegral<uint16_t>();
        box.generation = input.ConsumeIntegral<int32_t>();
        box.productUtf16le = reinterpret_cast<const uint8_t*>(product.data());
        box.productBytes = static_cast<uint32_t>(product.size());
        box.key = input.ConsumeIntegral<uint64_t>();
        box.claimError = input.ConsumeIntegral<uint32_t>();
        box.unclaimed = input.ConsumeBool();
        writer.Discovered(static_cast<status::Link>(input.ConsumeIntegralInRange(0, 4)),
                          input.ConsumeBool() ? &box : nullptr, input.ConsumeIntegral<uint64_t>());
        break;
      }
      case 5:
        writer.LinkDropped();
        break;
      case 6:
        writer.SetPtt(input.ConsumeBool());
        break;
      case 7:
        writer.SetKeyingArmed(input.ConsumeBool());
        break;
      case 8: {
        const int32_t rev = input.ConsumeIntegral<int32_t>();
        const int32_t pin = input.ConsumeIntegral<int32_t>();
        const std::u16string file = Text(input);
        writer.SetSettings(rev, pin, input.ConsumeBool() ? file.c_str() : nullptr);
        break;
      }
      case 10:
        writer.ElementLost();
        break;
      case 9:
        writer.SetTimer(input.ConsumeBool(),
                        static_cast<status::Throttling>(input.ConsumeIntegralInRange(0, 3)),
                        input.ConsumeIntegral<uint32_t>());
        break;
      default:
        writer.Publish();
        break;
    }
  }
  if (!attachFirst) writer.Attach(words.data(), words.size() * 4);
  writer.Publish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const uint32_t pid = input.ConsumeIntegral<uint32_t>();
  const double nowMs = static_cast<double>(input.ConsumeIntegral<uint32_t>()) * 1000;
  std::vector<uint32_t> words(status::kRecordWords + 16);
  size_t bytes;
  bool whole = false;
  if (input.ConsumeBool()) {
    Write(input, pid, words);
    const int patches = input.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < patches; ++i) {
      const size_t at = input.ConsumeIntegralInRange<size_t>(0, sizeof(status::Record) - 1);
      const std::string over = input.ConsumeRandomLengthString(16);
      std::memcpy(reinterpret_cast<char*>(words.data()) + at, over.data(),
                  std::min(over.size(), sizeof(status::Record) - at));
    }
    bytes = input.ConsumeBool() ? sizeof(status::Record)
                                : input.ConsumeIntegralInRange<size_t>(0, words.size() * 4);
    whole = patches == 0 && bytes >= sizeof(status::Record);
  } else {
    const std::vector<uint8_t> rest = input.ConsumeRemainingBytes<uint8_t>();
    bytes = std::min(rest.size(), words.size() * 4);
    if (bytes > 0) std::memcpy(words.data(), rest.data(), bytes);
  }

  const status::ReadResult read = status::Read(words.data(), bytes, pid);
  if (whole && read.problem != status::Problem::None) {
    Fail("the writer's own record was not read", ProblemLine(read, kTextsEnglish.status));
  }
  const std::vector<StatusEntry> entries = {{pid, read}};
  const std::string json = StatusJson(entries, nowMs);
  if (!JsonCheck(json).Valid()) Fail("not valid JSON", json);
  for (const Texts* texts : {&kTextsEnglish, &kTextsJapanese}) {
    StatusPanel(entries, nowMs, texts->status);
  }
  return 0;
}
