#include "tools/check/settings_view.h"

#include <vector>

#include "settings/settings_file.h"
#include "tools/check/text.h"

namespace {

std::string KeyText(const Texts& t, const char* key, int32_t value) {
  return value == -1 ? Format(t.keyNotSet, key) : Format("%s=%d", key, static_cast<int>(value));
}

// A line the reader did not take as written, in the operator's words.
struct NotTakenLine {
  uint32_t line;
  std::string token;  // as it can be shown
  std::string why;
};

// The token quoted: printable ASCII as it is, the zeros of UTF-16 left out,
// any other byte as \xNN; a long one cut.
std::string Shown(std::string_view token) {
  constexpr size_t kShown = 40;
  std::string out = "\"";
  size_t i = 0;
  for (; i < token.size() && out.size() <= kShown; ++i) {
    const auto c = static_cast<unsigned char>(token[i]);
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else if (c != 0) {
      out += Format("\\x%02X", c);
    }
  }
  return out + (i < token.size() ? "...\"" : "\"");
}

struct Listening {
  const Texts& texts;
  std::vector<NotTakenLine> lines;
};

void Heard(void* context, uint32_t line, NotTaken why, const char* key, std::string_view token) {
  auto* listening = static_cast<Listening*>(context);
  listening->lines.push_back(NotTakenLine{
      line, Shown(token), Format(listening->texts.notTaken[static_cast<size_t>(why)], key)});
}

}  // namespace

void PrintSettings(Console& console, const Texts& t) {
  SettingsPlace place = SettingsPlace::None;
  Listening listening{t, {}};
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
                       KeyText(t, "FskRev", values.rev).c_str()));
  console.Print(
      Format(t.pinLine, values.pin3 ? t.pin3 : t.pin1, KeyText(t, "FskPin", values.pin).c_str()));
  if (!listening.lines.empty()) console.Print(t.notTakenHeading);
  for (const NotTakenLine& line : listening.lines) {
    console.Print(Format(t.notTakenLine, line.line, line.token.c_str(), line.why.c_str()));
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
