#include "tools/check/settings_view.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "settings/settings_file.h"
#include "tools/check/status_view.h"
#include "tools/check/text.h"

namespace {

static_assert(sizeof(Texts::notTaken) / sizeof(Texts::notTaken[0]) == kNotTakenNotes,
              "a text for every note");
static_assert(static_cast<int>(NotTaken::Overlong) == static_cast<int>(NotTakenNote::Overlong),
              "the reader's reasons come first");

std::string SettingText(const Texts& t, const char* key, int32_t value) {
  return value == -1 ? Format(t.keyNotSet, key) : Format("%s=%d", key, static_cast<int>(value));
}

const char* const kKeys[] = {"FskRev", "FskPin", "FskBox"};

// A line the reader did not take as written, and why in the operator's words.
struct Note {
  uint32_t line;
  std::string token;  // as it can be shown, should the line not be read again
  std::string why;
};

// Bytes as they can be shown: printable ASCII as it is, the zeros of UTF-16
// left out, any other byte as \xNN.
std::string Escaped(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else if (byte != 0) {
      out += Format("\\x%02X", byte);
    }
  }
  return out;
}

// How many bytes from the start are whole UTF-8 characters.
size_t Utf8Prefix(std::string_view bytes) {
  size_t at = 0;
  bool wellFormed = true;
  for (size_t length = 0; at < bytes.size(); at += length) {
    CodePointAt(bytes, at, &length, &wellFormed);
    if (!wellFormed) break;
  }
  return at;
}

// Text from tarvokey.ini as UTF-8: the plug-in writes it in Shift_JIS, and
// Notepad may save it as UTF-8, with or without a byte-order mark. What is
// well-formed UTF-8 is taken as such (Shift_JIS text beyond ASCII seldom is);
// else it is read as code page 932 on any Windows; else escaped. `cut`: the
// bytes are the head of a longer text, and may end inside a character.
std::string FromFile(std::string_view bytes, bool cut) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (bytes.find('\0') != std::string_view::npos) return Escaped(bytes);  // UTF-16
  const size_t utf8 = Utf8Prefix(bytes);
  if (utf8 == bytes.size() || (cut && bytes.size() - utf8 < 4)) {
    return std::string(bytes.substr(0, utf8));
  }
  std::string text(bytes);
  if (cut && !text.empty()) text.pop_back();  // perhaps half a character
  std::vector<char16_t> wide(text.size() + 1);
  if (plat::ToUtf16(plat::kCodePageShiftJis, text.c_str(), wide.data(),
                    static_cast<uint32_t>(wide.size()))) {
    return Utf8(wide.data());
  }
  return Escaped(bytes);
}

// U+3000, the space the IME types, and the full-width forms of ASCII.
constexpr uint32_t kFullWidthSpace = 0x3000;
bool FullWidth(uint32_t c) { return c == kFullWidthSpace || (c >= 0xFF01 && c <= 0xFF5E); }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Edits (a letter added, dropped, changed, or two swapped) from one word to
// another, letter case aside.
size_t Edits(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t change = Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
      if (i > 1 && j > 1 && Lower(a[i - 1]) == Lower(b[j - 2]) &&
          Lower(a[i - 2]) == Lower(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[a.size()][b.size()];
}

// The key a token names with a letter or two wrong ("FskPim=3", "FksRev"),
// or nullptr: letters alone, or letters and "=", of about a key's length. A
// comment's words are seldom that close to either key.
const char* NearKey(const std::string& token, std::string* written) {
  size_t letters = 0;
  while (letters < token.size() &&
         ((token[letters] | 0x20) >= 'a' && (token[letters] | 0x20) <= 'z')) {
    ++letters;
  }
  if (letters < 4 || letters > 8 || (letters < token.size() && token[letters] != '=')) {
    return nullptr;
  }
  *written = token.substr(0, letters);
  for (const char* key : kKeys) {
    const size_t edits = Edits(*written, key);
    if (edits >= 1 && edits <= 2) return key;
  }
  return nullptr;
}

// A key given again on a line, after the line it was given on before: what
// it does is known only once the whole file is read.
struct Repeat {
  uint32_t line;
  uint32_t previous;
  std::string key;
  std::string token;
};

struct Listening {
  const Texts& texts;
  std::vector<Note> notes;
  std::vector<Repeat> repeats;
};

std::string Shown(std::string_view token) {
  return FromFile(token, token.size() >= SettingsReader::kMaxToken);
}

void Add(Listening& listening, uint32_t line, std::string_view token, NotTakenNote why,
         const std::string& what, const std::string& key = {}) {
  listening.notes.push_back(
      Note{line, Shown(token),
           Format(listening.texts.notTaken[static_cast<size_t>(why)], what.c_str(), key.c_str())});
}

// The reader's reason, or what the check program knows the token for.
void Heard(void* context, uint32_t line, NotTaken reason, const char* key, std::string_view token,
           uint32_t previous) {
  auto& listening = *static_cast<Listening*>(context);
  const Texts& t = listening.texts;
  const auto why = static_cast<NotTakenNote>(reason);
  switch (reason) {
    case NotTaken::Repeated:
      listening.repeats.push_back(Repeat{line, previous, key, Shown(token)});
      return;
    case NotTaken::OtherBox:
      Add(listening, line, token, NotTakenNote::OtherBox, key);
      return;
    case NotTaken::NotAllowed:
    case NotTaken::Utf16:
    case NotTaken::Overlong:
      Add(listening, line, token, why, key);
      return;
    case NotTaken::ByteOrderMark:
      // And then what the token itself may hold: the IME's characters.
      Add(listening, line, token, why, key);
      break;
    case NotTaken::NoValue:
    case NotTaken::NotANumber:
    case NotTaken::WrongCase:
    case NotTaken::NoKey:
    case NotTaken::NotABoxKey:
      break;
  }
  // The token with its full-width characters as the ASCII they stand for,
  // and those characters, each once, as they are; the space apart.
  const std::string text = FromFile(token, false);
  std::string ascii;
  std::string fullWidth;
  bool fullWidthSpace = false;
  std::vector<uint32_t> seen;
  for (size_t at = 0, length = 0; at < text.size(); at += length) {
    const uint32_t c = CodePointAt(text, at, &length);
    if (!FullWidth(c)) {
      ascii += c < 0x80 ? static_cast<char>(c) : '\x7F';
      continue;
    }
    if (c == kFullWidthSpace) {
      fullWidthSpace = true;
      continue;
    }
    ascii += static_cast<char>(c - 0xFEE0);
    if (std::find(seen.begin(), seen.end(), c) != seen.end()) continue;
    seen.push_back(c);
    if (!fullWidth.empty()) fullWidth += t.listSeparator;
    fullWidth += text.substr(at, length);
  }
  std::string written;
  if (!fullWidth.empty() || fullWidthSpace) {
    // Typed with the IME on: the line is not taken until the characters are
    // ASCII and the space is gone (a half-width one there is the next fault).
    if (KeyInAnyCase(ascii) != nullptr || NearKey(ascii, &written) != nullptr) {
      if (!fullWidth.empty()) Add(listening, line, token, NotTakenNote::FullWidth, fullWidth);
      if (fullWidthSpace) Add(listening, line, token, NotTakenNote::FullWidthSpace, {});
    }
    return;
  }
  if (reason == NotTaken::ByteOrderMark) return;
  if (reason == NotTaken::NoKey) {
    if (const char* near = NearKey(ascii, &written)) {
      Add(listening, line, token, NotTakenNote::Misspelt, written, near);
    }
    return;
  }
  // "fskrev = 1": the case, and the spaces, in one.
  if (reason == NotTaken::WrongCase && (ascii.size() == 6 || ascii == ascii.substr(0, 6) + "=")) {
    Add(listening, line, token, NotTakenNote::WrongCaseSpaced, key);
    return;
  }
  Add(listening, line, token, reason == NotTaken::NotABoxKey ? NotTakenNote::NotABoxKey : why, key);
}

// What a key given twice does: FskRev keys reverse from its first 1, and the
// last value read goes back to the file, which the next open keys by.
Note RepeatNote(const Texts& t, const SettingsValues& values, const Repeat& repeat) {
  const bool rev = repeat.key == kKeys[0];
  const int32_t written = rev ? values.rev : values.pin;
  const char* now = rev ? (values.reverse ? t.polarityReverse : t.polarityNormal)
                        : (values.pin3 ? t.pin3 : t.pin1);
  const bool nextSet = rev ? written == 1 : written == 3;
  const char* next = written == -1 ? t.repeatedAsks
                     : rev         ? (nextSet ? t.polarityReverse : t.polarityNormal)
                                   : (nextSet ? t.pin3 : t.pin1);
  return Note{repeat.line, repeat.token,
              Format(t.repeated, repeat.key.c_str(), repeat.previous, now,
                     SettingText(t, repeat.key.c_str(), written).c_str(), next)};
}

// The lines of the file the notes are about, as they are (up to a console
// line's worth of each), from a second reading of the file the reader read.
std::map<uint32_t, std::string> LinesOf(SettingsPlace place, const std::vector<Note>& notes) {
  constexpr size_t kKept = 60;
  std::map<uint32_t, std::string> lines;
  for (const Note& note : notes) lines[note.line];
  std::FILE* file = OpenSettingsFile(place, "rb");
  if (file == nullptr) return {};
  std::map<uint32_t, bool> cut;
  uint32_t line = 1;
  char chunk[4096];
  size_t got;
  while (line <= lines.rbegin()->first && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    for (size_t i = 0; i < got; ++i) {
      if (chunk[i] == '\n') {
        ++line;
        continue;
      }
      const auto wanted = lines.find(line);
      if (wanted == lines.end() || chunk[i] == '\r') continue;
      if (wanted->second.size() < kKept) {
        wanted->second += chunk[i] == '\t' ? ' ' : chunk[i];
      } else {
        cut[line] = true;
      }
    }
  }
  std::fclose(file);
  for (auto& [number, bytes] : lines) {
    bytes = Printable(FromFile(bytes, cut[number])) + (cut[number] ? "..." : "");
  }
  return lines;
}

}  // namespace

std::string BoxChoiceLine(const Texts& t, const BoxChoice& choice) {
  switch (choice.kind) {
    case BoxChoiceKind::Chosen:
      return Format(t.boxChoiceLine, Format(t.boxChosen, KeyText(choice.key).c_str()).c_str());
    case BoxChoiceKind::Malformed:
      return Format(t.boxChoiceLine, t.boxMalformed);
    case BoxChoiceKind::FirstListed:
      break;
  }
  return Format(t.boxChoiceLine, t.boxFirstListed);
}

void PrintSettings(Console& console, const Texts& t) {
  SettingsPlace place = SettingsPlace::None;
  Listening listening{t, {}, {}};
  const SettingsValues values = ReadSettingsFile(&place, &Heard, &listening);
  const std::string path = Printable(console.FullPath(kSettingsFileName));
  switch (place) {
    case SettingsPlace::CurrentFolder:
      console.Print(Format(t.settingsFrom, path.c_str()));
      break;
    case SettingsPlace::ProgramFolder:
      // As tarvokey.fsk takes the file beside MMTTY.EXE when the current
      // folder has none.
      console.Print(Format(t.settingsFromProgramFolder, path.c_str()));
      break;
    case SettingsPlace::None:
      console.Print(Format(t.settingsNone, path.c_str()));
      break;
  }
  console.Print(Format(t.polarityLine, values.reverse ? t.polarityReverse : t.polarityNormal,
                       SettingText(t, "FskRev", values.rev).c_str()));
  console.Print(Format(t.pinLine, values.pin3 ? t.pin3 : t.pin1,
                       SettingText(t, "FskPin", values.pin).c_str()));
  console.Print(BoxChoiceLine(t, values.box));
  for (const Repeat& repeat : listening.repeats) {
    listening.notes.push_back(RepeatNote(t, values, repeat));
  }
  std::stable_sort(listening.notes.begin(), listening.notes.end(),
                   [](const Note& a, const Note& b) { return a.line < b.line; });
  if (!listening.notes.empty()) {
    console.Print(t.notTakenHeading);
    const std::map<uint32_t, std::string> lines = LinesOf(place, listening.notes);
    uint32_t shown = 0;
    for (const Note& note : listening.notes) {
      if (note.line != shown) {
        const auto line = lines.find(note.line);
        console.Print(Format(t.notTakenLine, note.line,
                             (line != lines.end() ? line->second : Printable(note.token)).c_str()));
        shown = note.line;
      }
      console.Print(Format(t.notTakenReason, note.why.c_str()));
    }
  }
  const bool askPolarity = AsksPolarity(values);
  const bool askPin = AsksPin(values);
  if (!askPolarity && !askPin) {
    console.Print(t.willNotAsk);
    return;
  }
  console.Print(Format(t.willAsk, askPolarity && askPin ? t.askBoth
                                  : askPolarity         ? t.askPolarity
                                                        : t.askPin));
}
