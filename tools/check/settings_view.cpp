#include "tools/check/settings_view.h"

#include "settings/settings_file.h"
#include "tools/check/text.h"

namespace {

std::string KeyText(const char* key, int32_t value) {
  return value == -1 ? std::string(key) + " not set"
                     : Format("%s=%d", key, static_cast<int>(value));
}

}  // namespace

void PrintSettings(Console& console) {
  SettingsPlace place = SettingsPlace::None;
  const SettingsValues values = ReadSettingsFile(&place);
  const std::string path = Printable(console.FullPath(kSettingsFileName));
  switch (place) {
    case SettingsPlace::CurrentFolder:
      console.Print("Settings in force, from " + path + ":\n");
      break;
    case SettingsPlace::ProgramFolder:
      // As tarvokey.fsk takes the file beside MMTTY.EXE when the current
      // folder has none.
      console.Print(
          "Settings in force, from tarvokey.ini in the folder of this program\n"
          "  (there is no " +
          path + "):\n");
      break;
    case SettingsPlace::None:
      console.Print("Settings: there is no " + path + " (or it cannot be read).\n");
      break;
  }
  console.Print(Format("  polarity  %s (%s)\n",
                       values.reverse ? "reverse: the FSK line is open for mark, shorted for space"
                                      : "normal: the FSK line is shorted for mark, open for space",
                       KeyText("FskRev", values.rev).c_str()));
  console.Print(
      Format("  FSK pin   %s (%s)\n",
             values.pin3 ? "pin 3, as for the TARVOKEY Gen.3" : "pin 1, as for the TARVOKEY",
             KeyText("FskPin", values.pin).c_str()));
  const bool askPolarity = AsksPolarity(values);
  const bool askPin = AsksPin(values);
  if (!askPolarity && !askPin) {
    console.Print("  tarvokey.fsk will not ask at the next open.\n");
    return;
  }
  console.Print(
      Format("  At the next open tarvokey.fsk asks %s\n"
             "  and writes the answers to the file; tarvokey-check --setup asks now.\n",
             askPolarity && askPin ? "both questions (polarity, then pin)"
             : askPolarity         ? "the polarity question"
                                   : "the pin question"));
}
