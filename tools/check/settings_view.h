// The settings in force, as the plug-in reads them from tarvokey.ini.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/box_identity.h"

#include "tools/check/console.h"
#include "tools/check/texts.h"

// Why a line of tarvokey.ini is not taken as written, as the check program
// says it (Texts::notTaken): the reader's reasons (NotTaken,
// settings/settings_reader.h) up to Overlong, then what the program knows a
// token for that the reader found no key in or no number after.
enum class NotTakenNote : uint8_t {
  NoValue,
  NotANumber,
  NotAllowed,
  ByteOrderMark,
  Utf16,
  WrongCase,
  Overlong,
  FullWidth,        // a key written with the IME on: the full-width characters
  FullWidthSpace,   // and its space (U+3000), which is to go, not to be half-width
  Misspelt,         // a key nearly spelled: as written, the key
  WrongCaseSpaced,  // the key in another case with spaces around "=": the key
  NotABoxKey,       // FskBox with no key after "="
  OtherBox,         // a second FskBox that names another box
};
constexpr size_t kNotTakenNotes = static_cast<size_t>(NotTakenNote::OtherBox) + 1;

// The box the settings choose (FskBox), in one line.
std::string BoxChoiceLine(const Texts& texts, const BoxChoice& choice);

// Which file, what each value means, which lines of it are not taken as
// written and why, and whether the plug-in would ask at the next open. Reads
// the file only.
void PrintSettings(Console& console, const Texts& texts);
