// Settings file and first-use prompts.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/trace.h"
#include "settings/prompt_box.h"
#include "settings/settings_file.h"
#include "settings/settings_reader.h"
#include "settings/settings_text.h"
#include "shell/fsk_keyer.h"
#include "status/status_record.h"

const char kSettingsFileName[] = "tarvokey.ini";

void ApplySettings(FskKeyer& keyer, const SettingsValues& values) {
  KeyerGuard guard;
  keyer.fskReverse = values.reverse;
  keyer.fskOnPin3 = values.pin3;
}

bool AsksPolarity(const SettingsValues& values) { return values.rev == -1; }
bool AsksPin(const SettingsValues& values) { return values.pin == -1; }

std::FILE* OpenSettingsFile(SettingsPlace place, const char* mode) {
  return place == SettingsPlace::ProgramFolder ? plat::OpenInProgramFolder(kSettingsFileName, mode)
                                               : std::fopen(kSettingsFileName, mode);
}

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

// Back to the file that was read; with none, to the current folder. A file
// that cannot be written is passed over: the choices then hold for this
// instance only, and what it did not record is asked again at the next open.
// A write that fails on the way (a full disk) leaves the file cut short, which
// the next open reads as far as it goes; the trace says so.
// True when the whole file reached the disk.
bool WriteSettingsFile(SettingsPlace place, int32_t rev, int32_t pin, const SettingsValues& read) {
  const char* const where =
      place == SettingsPlace::ProgramFolder ? " in the host program's folder" : "";
  char line[256];
  std::FILE* file = OpenSettingsFile(place, "wb");
  if (file == nullptr) {
    std::snprintf(line, sizeof line, "Can't open %s%s for writing: %s", kSettingsFileName, where,
                  std::strerror(errno));
    Trace(line);
    return false;
  }
  int error = 0;
  if (std::fprintf(file, kRevLineFormat, static_cast<int>(rev)) < 0 ||
      std::fprintf(file, kPinLineFormat, static_cast<int>(pin)) < 0) {
    error = errno;
  }
  // The box this folder keys stays chosen: FskBox goes back as it was read.
  for (uint8_t i = 0; i < read.boxTokenCount && error == 0; ++i) {
    const std::string_view token = read.boxTokens[i].view();
    if (std::fwrite(token.data(), 1, token.size(), file) != token.size() ||
        std::fputs("\r\n", file) < 0) {
      error = errno;
    }
  }
  // The lines are buffered: a full disk often shows only when they are flushed.
  if (std::fclose(file) != 0 && error == 0) error = errno;
  if (error == 0) return true;
  std::snprintf(line, sizeof line, "Can't write %s%s: %s", kSettingsFileName, where,
                std::strerror(error));
  Trace(line);
  return false;
}

}  // namespace

// Streams the file through the reader in fixed chunks, so a file of any size
// or content costs no more memory than a small one. Binary mode gives every
// build the same bytes; CR is a blank to the reader.
//
// MMTTY reopens the plug-in on Resume (after an external program) before it
// makes its own folder current again, so the current folder may be another
// program's. A file there is still read first, as it always was; only a folder
// without one sends the driver to the file beside MMTTY.EXE, which the prompts
// name as the place of the answers.
SettingsValues ReadSettingsFile(SettingsPlace* place, NotTakenListener listener, void* context) {
  SettingsReader reader;
  reader.Listen(listener, context);
  SettingsPlace from = SettingsPlace::CurrentFolder;
  errno = 0;
  std::FILE* file = std::fopen(kSettingsFileName, "rb");
  if (file == nullptr) {
    from = SettingsPlace::None;
    if (errno == ENOENT) {
      file = OpenSettingsFile(SettingsPlace::ProgramFolder, "rb");
      if (file != nullptr) from = SettingsPlace::ProgramFolder;
    }
  }
  if (place != nullptr) *place = from;
  if (file != nullptr) {
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) reader.Feed(chunk, got);
    std::fclose(file);
  }
  reader.Finish();
  return reader.values();
}

// The clock already runs: fskReverse and fskOnPin3 are set under keyerLock in
// short steps, and neither the file nor a prompt is ever waited on with it held.
// The file was read by the open, before the instance was built: the box it
// chooses decides from the first report on.
bool FskKeyer::LoadSettings(const SettingsValues& read, SettingsPlace place) {
  int32_t rev = read.rev;
  int32_t pin = read.pin;
  ApplySettings(*this, read);

  if (AsksPolarity(read)) Ask(kPolarityPrompt, kPolarityPromptEnglish, 1, 0, rev, fskReverse);
  if (AsksPin(read)) Ask(kPinPrompt, kPinPromptEnglish, 3, 1, pin, fskOnPin3);

  const bool written = WriteSettingsFile(place, rev, pin, read);
  // The file the answers are kept in, as the check program shows it; none
  // when they hold for this instance only.
  char16_t path[status::kSettingsFileUnits] = {};
  if (written && !plat::FullPathOf(kSettingsFileName, place == SettingsPlace::ProgramFolder, path,
                                   status::kSettingsFileUnits)) {
    path[0] = u'\0';
  }
  KeyerGuard guard;
  status.SetSettings(rev, pin, written ? path : nullptr);
  return true;
}
