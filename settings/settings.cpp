// Settings file and first-use prompts.
#include <cstdio>

#include "platform/platform.h"
#include "settings/prompt_box.h"
#include "settings/settings_file.h"
#include "settings/settings_reader.h"
#include "settings/settings_text.h"
#include "shell/fsk_keyer.h"

const char kSettingsFileName[] = "tarvokey.ini";

// Streams the file through the reader in fixed chunks, so a file of any size
// or content costs no more memory than a small one. Binary mode gives every
// build the same bytes; CR is a blank to the reader.
SettingsValues ReadSettingsFile(bool* opened) {
  SettingsReader reader;
  std::FILE* file = std::fopen(kSettingsFileName, "rb");
  if (opened != nullptr) *opened = file != nullptr;
  if (file != nullptr) {
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) reader.Feed(chunk, got);
    std::fclose(file);
  }
  reader.Finish();
  return reader.values();
}

void ApplySettings(FskKeyer& keyer, const SettingsValues& values) {
  KeyerGuard guard;
  keyer.fskReverse = values.reverse;
  keyer.fskOnPin3 = values.pin3;
}

bool AsksPolarity(const SettingsValues& values) { return values.rev == -1; }
bool AsksPin(const SettingsValues& values) { return values.pin == -1; }

namespace {

// One question. Yes and No set the value and the flag (under keyerLock: the
// clock reads it); Cancel, and anything else the box may return, leaves both.
void Ask(const char* text, const char* english, int32_t yesValue, int32_t noValue, int32_t& value,
         bool& flag) {
  const int answer =
      ShowJapaneseBox(text, english, kSettingsCaption,
                      plat::kMbYesNoCancel | plat::kMbIconQuestion | plat::kMbDefButton3);
  if (answer != plat::kIdYes && answer != plat::kIdNo) return;
  const bool yes = answer == plat::kIdYes;
  value = yes ? yesValue : noValue;
  KeyerGuard guard;
  flag = yes;
}

// A file that cannot be written is passed over: the choices then hold for this
// instance only, and what it did not record is asked again at the next open.
void WriteSettingsFile(int32_t rev, int32_t pin) {
  std::FILE* file = std::fopen(kSettingsFileName, "wb");
  if (file == nullptr) return;
  std::fprintf(file, kRevLineFormat, static_cast<int>(rev));
  std::fprintf(file, kPinLineFormat, static_cast<int>(pin));
  std::fclose(file);
}

}  // namespace

// The clock already runs: fskReverse and fskOnPin3 are set under keyerLock in
// short steps, and neither the file nor a prompt is ever waited on with it held.
bool FskKeyer::LoadSettings() {
  const SettingsValues read = ReadSettingsFile();
  int32_t rev = read.rev;
  int32_t pin = read.pin;
  ApplySettings(*this, read);

  if (AsksPolarity(read)) Ask(kPolarityPrompt, kPolarityPromptEnglish, 1, 0, rev, fskReverse);
  if (AsksPin(read)) Ask(kPinPrompt, kPinPromptEnglish, 3, 1, pin, fskOnPin3);

  WriteSettingsFile(rev, pin);
  return true;
}
