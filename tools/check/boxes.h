// Every TARVOKEY box attached, as --boxes lists them and --choose numbers
// them: none is claimed, written to, or disturbed in its keying.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/box_identity.h"
#include "tools/check/console.h"
#include "tools/check/status_view.h"
#include "tools/check/texts.h"

// Whether a device path names the box's vendor and product IDs, as every
// USB HID device's path names its own.
bool NamesTheBox(const std::string& path);

// A string as the HID class returns it (UTF-16LE, `bytes` long) to its zero.
std::u16string HidString(const uint8_t* utf16le, uint32_t bytes);

struct AttachedBox {
  std::string path;
  uint64_t key = 0;
  // With `examined`: whether it opened, its strings and the generation they
  // give, where it is plugged in and who keys it.
  bool opened = false;
  uint32_t openError = 0;
  std::u16string product;
  int32_t generation = 0;
  bool accepted = false;
  // Where it is plugged in, as Windows names the port ("" where it does not).
  std::string location;
  // Who keys it: a program whose status names it, or one that holds its claim
  // unnamed (run as administrator, an older plug-in), or nobody.
  BoxHolder holder;
  bool claimed = false;
};

// The boxes in the order Windows lists them. `examined`: each is opened and
// asked for its strings (as the plug-in's discovery asks), and its claim and
// holder are looked up; else only the list's paths are read (their number and
// keys), and nothing is opened.
std::vector<AttachedBox> ListBoxes(Console& console, bool examined);

// --boxes: the list, and what this folder's tarvokey.ini chooses. 0 with a
// box attached, 1 with none.
int PrintBoxes(Console& console, const Texts& texts);
// --choose N: FskBox for box N (from 1) into this folder's tarvokey.ini.
int ChooseBox(Console& console, const Texts& texts, int number);
