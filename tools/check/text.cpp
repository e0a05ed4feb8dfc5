#include "tools/check/text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/platform.h"

std::string Format(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length < 0) return {};
  if (static_cast<size_t>(length) < sizeof small) return std::string(small, length);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(&text[0], text.size(), format, args);
  va_end(args);
  text.resize(static_cast<size_t>(length));
  return text;
}

std::string WithoutLineBreak(const char* line) {
  std::string text(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string Printable(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string FromAnsi(const std::string& text) {
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return text;
  // No code page makes more UTF-16 units than it had bytes.
  std::vector<char16_t> wide(text.size() + 1);
  if (plat::ToUtf16(plat::AnsiCodePage(), text.c_str(), wide.data(),
                    static_cast<uint32_t>(wide.size()))) {
    return Utf8(wide.data());
  }
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  }
  return out;
}

std::string ErrorText(uint32_t code, const char* error) {
  char* text = plat::FormatSystemMessage(code);
  std::string out = Format(error, static_cast<unsigned>(code));
  if (text != nullptr) {
    out += ": " + Printable(FromAnsi(WithoutLineBreak(text)));
    plat::FreeSystemMessage(text);
  }
  return out;
}

namespace {

bool In(uint32_t c, std::u32string_view set) {
  return set.find(static_cast<char32_t>(c)) != set.npos;
}

// Characters a line may not start with, and may not end with.
bool NoStart(uint32_t c) {
  return In(c,
            U"、。，．・：；？！ー～」』）］｝〕〉》】”’ヽヾゝゞ々ぁぃぅぇぉっゃゅょゎァィゥェォッ"
            U"ャュョヮヵヶ"
            U"),.:;!?]}%");
}
bool NoEnd(uint32_t c) { return In(c, U"「『（［｛〔〈《【“‘([{"); }
bool EndsPhrase(uint32_t c) { return In(c, U"、。，．」』）：！？"); }
bool Hiragana(uint32_t c) { return c >= 0x3041 && c <= 0x309F; }
// The particles that end a phrase, and the て of a clause: where one meets a
// word in kanji or katakana, a new phrase begins ("ボックスが|警告の",
// "保存して|質問に"); other kana before kanji are mostly a word's own
// ending ("答え直す").
bool EndsWithParticle(uint32_t c) { return In(c, U"はがをにでともへやかのて"); }

}  // namespace

uint32_t CodePointAt(std::string_view text, size_t at, size_t* length, bool* wellFormed) {
  const auto byte = static_cast<unsigned char>(text[at]);
  size_t units = byte < 0x80    ? 1
                 : byte >= 0xF5 ? 0
                 : byte >= 0xF0 ? 4
                 : byte >= 0xE0 ? 3
                 : byte >= 0xC2 ? 2
                                : 0;
  uint32_t c = units == 1   ? byte
               : units == 2 ? byte & 0x1F
               : units == 3 ? byte & 0x0F
                            : byte & 0x07;
  for (size_t i = 1; i < units; ++i) {
    const auto next = at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
    if ((next & 0xC0) != 0x80) units = 0;
    c = c << 6 | (next & 0x3F);
  }
  if (wellFormed != nullptr) *wellFormed = units != 0;
  if (units == 0) {
    *length = 1;
    return 0xFFFD;
  }
  *length = units;
  return c;
}

int DisplayWidth(uint32_t c) {
  // Wide and full-width characters of Unicode's East Asian Width, as far as
  // Japanese uses them; then what a Japanese console draws double though
  // Unicode calls it ambiguous.
  static const uint32_t wide[][2] = {
      {0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF}, {0x3400, 0x4DBF},
      {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
      {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F},
      {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD}, {0x0391, 0x0451}, {0x2010, 0x2312},
      {0x2460, 0x27BF},   {0x00A7, 0x00A8},   {0x00B0, 0x00B1}, {0x00B4, 0x00B4},
      {0x00B6, 0x00B6},   {0x00D7, 0x00D7},   {0x00F7, 0x00F7},
  };
  for (const auto& range : wide) {
    if (c >= range[0] && c <= range[1]) return 2;
  }
  return 1;
}

int DisplayWidth(std::string_view text) {
  int columns = 0;
  for (size_t at = 0, length = 0; at < text.size(); at += length) {
    columns += DisplayWidth(CodePointAt(text, at, &length));
  }
  return columns;
}

bool AnswersYes(std::string_view answer) {
  std::string word;
  for (size_t at = 0, length = 0; at < answer.size(); at += length) {
    uint32_t c = CodePointAt(answer, at, &length);
    if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;  // the IME's full-width forms of ASCII
    if (c == ' ' || c == '\t' || c == 0x3000) continue;
    if (c >= 0x80) return false;
    word += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return word == "y" || word == "yes";
}

LineBreak BreakBetween(uint32_t before, uint32_t after) {
  if (NoStart(after) || NoEnd(before)) return LineBreak::None;
  if (DisplayWidth(before) == 1 && (DisplayWidth(after) == 1 || Hiragana(after))) {
    return LineBreak::None;  // a word, or a particle after it
  }
  if (EndsPhrase(before) || (EndsWithParticle(before) && !Hiragana(after))) {
    return LineBreak::Phrase;
  }
  return LineBreak::Allowed;
}

namespace {

bool Digit(uint32_t c) { return c >= '0' && c <= '9'; }

size_t IndentOf(std::string_view line) {
  const size_t indent = line.find_first_not_of(' ');
  return indent == line.npos ? line.size() : indent;
}

bool Blank(std::string_view line) { return IndentOf(line) == line.size(); }

// Whether the line is a row of a table: two spaces or more after its text
// begins ("  --key [seconds]  key the ...").
bool TableRow(std::string_view line) { return line.find("  ", IndentOf(line)) != line.npos; }

// The column where a table row's second column starts (after its first run of
// two spaces or more), as the console counts columns.
int SecondColumn(std::string_view line) {
  const size_t gap = line.find("  ", IndentOf(line));
  return DisplayWidth(line.substr(0, line.find_first_not_of(' ', gap)));
}

// One line, broken into rows of at most `columns`; what follows a break is
// indented by `hanging` columns, or (below zero) under the line's own text:
// a table row's under its second column.
// A word is never cut: one wider than a row (a device path) gets a row of its
// own and runs past its end, where the console wraps it and a copy of it
// from the console is still whole.
void FitLine(std::string_view line, int columns, int hanging, std::string& out) {
  if (DisplayWidth(line) <= columns) {
    out += line;
    return;
  }
  const size_t indent = IndentOf(line);
  if (hanging < 0) {
    hanging = TableRow(line) ? SecondColumn(line) : static_cast<int>(indent) + (indent > 0 ? 2 : 0);
  }
  hanging = std::min(hanging, columns / 2);
  std::string_view rest = line;
  int lead = 0;  // the hanging indent already on this row
  for (;;) {
    struct Cut {
      size_t at = std::string_view::npos;  // the row ends here
      size_t resume = 0;                   // the next row starts here
      int width = 0;                       // of the row up to it
    } phrase, allowed;
    int width = lead;
    bool text = false;  // past the row's leading spaces
    bool over = false;  // the row is full, and no cut was found in it yet
    uint32_t before = 0;
    size_t at = 0;
    while (at < rest.size()) {
      size_t length;
      const uint32_t c = CodePointAt(rest, at, &length);
      if (c == ' ') {
        size_t end = at;
        while (end < rest.size() && rest[end] == ' ') ++end;
        // Japanese sets a space around a word of Latin letters: after one,
        // the word goes on ("HID デバイス"), or its particle follows.
        size_t next = 0;
        const uint32_t after = end < rest.size() ? CodePointAt(rest, end, &next) : 0;
        const bool wordGoesOn =
            end < rest.size() && DisplayWidth(before) == 1 && DisplayWidth(after) == 2;
        // A number stays with the word before it and the unit after it
        // ("Windows 11", "22 ms"), an option with its command
        // ("tarvokey-check --setup"), but not with the one before it in a
        // list ("--setup, --key").
        const bool keptTogether = Digit(before) || Digit(after) || (after == '-' && before != ',');
        if (text && !keptTogether) (wordGoesOn ? allowed : phrase) = Cut{at, end, width};
        width += static_cast<int>(end - at);
        at = end;
        before = ' ';
        if (over && (phrase.at != std::string_view::npos || allowed.at != std::string_view::npos)) {
          break;
        }
        continue;
      }
      if (text && before != ' ') {
        const LineBreak kind = BreakBetween(before, c);
        if (kind == LineBreak::Phrase) phrase = Cut{at, at, width};
        if (kind == LineBreak::Allowed) allowed = Cut{at, at, width};
      }
      const int cell = DisplayWidth(c);
      if (width + cell > columns && text) {
        if (phrase.at != std::string_view::npos || allowed.at != std::string_view::npos) break;
        over = true;
      }
      width += cell;
      text = true;
      before = c;
      at += length;
    }
    if (at >= rest.size()) {
      out += rest;
      return;
    }
    // A phrase boundary unless it leaves the row less than half full; else
    // a break the rules allow.
    const Cut cut = phrase.at != std::string_view::npos &&
                            (phrase.width >= columns / 2 || allowed.at == std::string_view::npos)
                        ? phrase
                        : allowed;
    out += rest.substr(0, cut.at);
    out += '\n';
    out.append(static_cast<size_t>(hanging), ' ');
    rest.remove_prefix(cut.resume);
    lead = hanging;
    if (lead + DisplayWidth(rest) <= columns) {
      out += rest;
      return;
    }
  }
}

// Whether a word of the line starts at that column, after a space: the second
// column of a table row.
bool WordStartsAt(std::string_view line, size_t column) {
  size_t columns = 0;
  uint32_t before = 0;
  for (size_t at = 0, length = 0; at < line.size() && columns <= column; at += length) {
    const uint32_t c = CodePointAt(line, at, &length);
    if (columns == column) return before == ' ' && c != ' ';
    columns += static_cast<size_t>(DisplayWidth(c));
    before = c;
  }
  return false;
}

uint32_t LastCodePoint(std::string_view text) {
  size_t at = text.size();
  while (at > 0 && (static_cast<unsigned char>(text[at - 1]) & 0xC0) == 0x80) --at;
  size_t length;
  return at > 0 ? CodePointAt(text, at - 1, &length) : 0;
}

bool EndsSentence(std::string_view line) {
  const size_t end = line.find_last_not_of(' ');
  return end != line.npos && In(LastCodePoint(line.substr(0, end + 1)), U".?!:。？！：");
}

}  // namespace

std::string FitLines(std::string_view text, int columns) {
  std::string out;
  for (size_t from = 0;;) {
    const size_t end = text.find('\n', from);
    FitLine(text.substr(from, end == text.npos ? text.npos : end - from), columns, -1, out);
    if (end == text.npos) return out;
    out += '\n';
    from = end + 1;
  }
}

std::string FitParagraphs(std::string_view text, int columns) {
  std::vector<std::string_view> lines;
  for (size_t from = 0;;) {
    const size_t end = text.find('\n', from);
    lines.push_back(text.substr(from, end == text.npos ? text.npos : end - from));
    if (end == text.npos) break;
    from = end + 1;
  }
  std::string out;
  for (size_t first = 0; first < lines.size();) {
    // The paragraph that starts here: the lines that go on at one indent,
    // that of the first line, two more (unless the first line ends a
    // sentence), or its second column; a row of a table starts anew.
    const std::string_view head = lines[first];
    size_t last = first + 1;
    size_t goesOnAt = std::string_view::npos;
    int widest = DisplayWidth(head);
    for (; !Blank(head) && last < lines.size() && !Blank(lines[last]); ++last) {
      const size_t indent = IndentOf(lines[last]);
      const size_t headIndent = IndentOf(head);
      if (goesOnAt == std::string_view::npos &&
          (indent == headIndent || (indent == headIndent + 2 && !EndsSentence(head)) ||
           (indent > headIndent + 2 && WordStartsAt(head, indent)))) {
        goesOnAt = indent;
      }
      if (indent != goesOnAt || TableRow(lines[last])) break;
      widest = std::max(widest, DisplayWidth(lines[last]));
    }
    if (first > 0) out += '\n';
    if (last - first == 1 || widest <= columns) {
      for (size_t i = first; i < last; ++i) {
        if (i > first) out += '\n';
        FitLine(lines[i], columns, -1, out);
      }
    } else {
      // One line again, each break where the hand put it given back: nothing
      // between two Japanese characters or after Japanese punctuation, else
      // a space.
      std::string joined(head);
      for (size_t i = first + 1; i < last; ++i) {
        const std::string_view next = lines[i].substr(IndentOf(lines[i]));
        const uint32_t before = LastCodePoint(joined);
        size_t length;
        if ((DisplayWidth(before) == 1 || DisplayWidth(CodePointAt(next, 0, &length)) == 1) &&
            !(DisplayWidth(before) == 2 && EndsPhrase(before))) {
          joined += ' ';
        }
        joined += next;
      }
      FitLine(joined, columns, static_cast<int>(goesOnAt), out);
    }
    first = last;
  }
  return out;
}
