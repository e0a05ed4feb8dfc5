#include "tools/check/boxes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "hidlink/box_key.h"
#include "hidlink/generation.h"
#include "platform/platform.h"
#include "settings/settings_file.h"
#include "settings/settings_reader.h"
#include "settings/settings_text.h"
#include "tools/check/text.h"

bool NamesTheBox(const std::string& path) {
  std::string lower = path;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower.find(Format("vid_%04x&pid_%04x", tarvokey::kVendorId, tarvokey::kProductId)) !=
         std::string::npos;
}

std::u16string HidString(const uint8_t* utf16le, uint32_t bytes) {
  std::u16string text;
  for (uint32_t at = 0; at + 1 < bytes && (utf16le[at] | utf16le[at + 1]) != 0; at += 2) {
    text.push_back(static_cast<char16_t>(utf16le[at] | utf16le[at + 1] << 8));
  }
  return text;
}

namespace {

constexpr uint32_t kStringBytes = 256;

// The paths of the HID interfaces Windows lists, in its order.
std::vector<std::string> InterfacePaths() {
  std::vector<std::string> paths;
  plat::Guid hid{};
  plat::HidGetHidGuid(&hid);
  const plat::Handle set =
      plat::OpenInterfaceSet(&hid, plat::kDigcfPresent | plat::kDigcfDeviceInterface);
  if (set == nullptr) return paths;
  for (uint32_t index = 0;; ++index) {
    plat::DeviceInterfaceData data{};
    data.cbSize = plat::kDeviceInterfaceDataSize;
    if (!plat::NextInterface(set, &hid, index, &data)) break;
    uint32_t size = 0;
    plat::GetInterfaceDetail(set, &data, nullptr, 0, &size);
    if (size < plat::kDeviceInterfaceDetailSize || size > plat::kMaxInterfaceDetailSize) continue;
    // One byte more than the system fills, so that the path ends in a zero.
    std::vector<char> record(size + 1, '\0');
    auto* detail = reinterpret_cast<plat::DeviceInterfaceDetail*>(record.data());
    detail->cbSize = plat::kDeviceInterfaceDetailSize;
    if (plat::GetInterfaceDetail(set, &data, detail, size, nullptr)) {
      paths.emplace_back(detail->DevicePath);
    }
  }
  plat::CloseInterfaceSet(set);
  return paths;
}

// Its strings and generation, as the plug-in's discovery reads them. Opening
// a box and asking for its strings writes nothing to it.
void Examine(AttachedBox& box) {
  plat::Handle device = plat::CreateDeviceFile(box.path.c_str(), false);
  box.opened = device != nullptr;
  if (!box.opened) {
    box.openError = plat::GetLastError();
    return;
  }
  uint8_t product[kStringBytes] = {};
  uint8_t manufacturer[kStringBytes] = {};
  plat::HidGetProductString(device, product, sizeof product);
  plat::HidGetManufacturerString(device, manufacturer, sizeof manufacturer);
  plat::CloseHandle(device);
  box.product = HidString(product, kStringBytes);
  box.generation = ReadGeneration(product, manufacturer).value;
  box.accepted = AcceptsGeneration(box.generation);
}

std::string KeyedBy(const AttachedBox& box, const Texts& t) {
  if (box.holder.pid != 0) return HolderText(box.holder, 0, t.status);
  return box.claimed ? t.boxesHeldUnnamed : t.boxesFree;
}

// What this folder's tarvokey.ini chooses, among the boxes listed.
std::string FolderChoice(const Texts& t, const std::vector<AttachedBox>& boxes,
                         const BoxChoice& choice) {
  switch (choice.kind) {
    case BoxChoiceKind::Malformed:
      return t.boxesChooseMalformed;
    case BoxChoiceKind::Chosen:
      for (size_t i = 0; i < boxes.size(); ++i) {
        if (boxes[i].key == choice.key) {
          return Format(t.boxesChooseOne, static_cast<int>(i + 1), KeyText(choice.key).c_str());
        }
      }
      return Format(t.boxesChooseAbsent, KeyText(choice.key).c_str());
    case BoxChoiceKind::FirstListed:
      break;
  }
  return t.boxesChooseFirst;
}

// The file with every token that has its say on FskBox taken out (and a line
// left blank by that with it), and `line` added at the end.
std::string WithBoxLine(const std::string& file, const std::string& line) {
  std::string out;
  size_t start = 0;
  while (start < file.size()) {
    size_t end = file.find('\n', start);
    end = end == std::string::npos ? file.size() : end + 1;
    std::string kept;
    bool removed = false;
    for (size_t at = start; at < end;) {
      size_t tokenEnd = at;
      while (tokenEnd < end && !IsSettingsBlank(static_cast<unsigned char>(file[tokenEnd]))) {
        ++tokenEnd;
      }
      const std::string_view token(file.data() + at, tokenEnd - at);
      if (!token.empty() && NamesBoxKey(token)) {
        removed = true;
      } else {
        kept.append(token);
      }
      at = tokenEnd;
      while (at < end && IsSettingsBlank(static_cast<unsigned char>(file[at]))) kept += file[at++];
    }
    const bool blank = kept.find_first_not_of(" \t\r\n\v\f") == std::string::npos;
    if (!(removed && blank)) out += kept;
    start = end;
  }
  if (!out.empty() && out.back() != '\n') out += "\r\n";
  return out + line + "\r\n";
}

// tarvokey.ini where the plug-in would read it: in the current folder, or,
// when that has none, beside this program (MMTTY's folder, where it ships),
// else a new one in the current folder.
std::string SettingsPath(Console& console, SettingsPlace place) {
  char16_t path[260] = {};
  if (place == SettingsPlace::ProgramFolder &&
      plat::FullPathOf(kSettingsFileName, true, path, std::size(path))) {
    return Printable(Utf8(path));
  }
  return Printable(console.FullPath(kSettingsFileName));
}

// The whole file, or false when it cannot be read (one not there reads as
// empty).
bool ReadWhole(SettingsPlace place, std::string* text) {
  if (place == SettingsPlace::None) return true;
  std::FILE* file = OpenSettingsFile(place, "rb");
  if (file == nullptr) return false;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text->append(chunk, got);
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  return ok;
}

bool WriteWhole(SettingsPlace place, const std::string& text) {
  std::FILE* file = OpenSettingsFile(place, "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

std::vector<AttachedBox> ListBoxes(Console& console, bool examined) {
  std::vector<AttachedBox> boxes;
  const std::vector<StatusEntry> statuses =
      examined ? console.ReadStatuses() : std::vector<StatusEntry>{};
  for (const std::string& path : InterfacePaths()) {
    if (!NamesTheBox(path)) continue;
    AttachedBox box;
    box.path = path;
    box.key = BoxKey(path.c_str());
    if (examined) {
      Examine(box);
      box.location = console.BoxLocation(path);
      char claim[kClaimNameBytes];
      ClaimName(box.key, claim);
      box.claimed = plat::ClaimHeld(claim);
      if (box.claimed) box.holder = FindBoxHolder(statuses, box.key, plat::CurrentProcessId());
    }
    boxes.push_back(std::move(box));
  }
  return boxes;
}

int PrintBoxes(Console& console, const Texts& t) {
  const std::vector<AttachedBox> boxes = ListBoxes(console, true);
  console.Print(t.boxesHeading);
  if (boxes.empty()) {
    console.Print(Format(t.boxesNone, tarvokey::kVendorId, tarvokey::kProductId));
    return 1;
  }
  int number = 0;
  for (const AttachedBox& box : boxes) {
    const std::string state =
        !box.opened    ? Format(t.deviceNotOpened, ErrorText(box.openError, t.error).c_str())
        : box.accepted ? Format(t.boxesAccepted, static_cast<int>(box.generation))
                       : Format(t.boxesRefused, static_cast<int>(box.generation));
    console.Print(Format(t.boxesEntry, ++number, KeyText(box.key).c_str(), state.c_str()));
    if (box.opened) {
      console.Print(Format(t.boxesProduct, Printable(Utf8(box.product)).c_str()));
    }
    console.Print(Format(t.boxesPlace, box.location.empty() ? t.boxesPlaceUnknown
                                                            : Printable(box.location).c_str()));
    console.Print(Format(t.boxesKeyedBy, KeyedBy(box, t).c_str()));
    console.Print(Format(t.boxesPath, Printable(FromAnsi(box.path)).c_str()));
  }
  SettingsPlace place = SettingsPlace::None;
  const BoxChoice choice = ReadSettingsFile(&place).box;
  console.Print(Format(t.boxesThisFolder, SettingsPath(console, place).c_str(),
                       FolderChoice(t, boxes, choice).c_str()));
  console.Print(t.boxesNext);
  return 0;
}

int ChooseBox(Console& console, const Texts& t, int number) {
  const std::vector<AttachedBox> boxes = ListBoxes(console, false);
  if (number < 1 || static_cast<size_t>(number) > boxes.size()) {
    console.Print(Format(t.chooseNoBox, number, static_cast<int>(boxes.size())));
    return 1;
  }
  const AttachedBox& box = boxes[static_cast<size_t>(number) - 1];
  SettingsPlace place = SettingsPlace::None;
  ReadSettingsFile(&place);
  const std::string path = SettingsPath(console, place);
  std::string file;
  errno = 0;
  if (!ReadWhole(place, &file)) {
    console.Print(Format(t.chooseNotRead, path.c_str(), std::strerror(errno)));
    return 1;
  }
  // Written in UTF-16, the file reads as no key at all; ASCII added to it
  // would be garbage. Notepad saves it right.
  if (file.find('\0') != std::string::npos) {
    console.Print(Format(t.chooseUtf16, path.c_str()));
    return 1;
  }
  // A new file holds the plug-in's two lines as unanswered: its questions
  // still come at the first open.
  if (place == SettingsPlace::None) {
    file = Format(kRevLineFormat, -1) + Format(kPinLineFormat, -1);
    place = SettingsPlace::CurrentFolder;
  }
  const std::string line = "FskBox=" + KeyText(box.key);
  if (!WriteWhole(place, WithBoxLine(file, line))) {
    console.Print(Format(t.chooseNotWritten, path.c_str(), std::strerror(errno)));
    return 1;
  }
  const BoxChoice read = ReadSettingsFile().box;
  if (read.kind != BoxChoiceKind::Chosen || read.key != box.key) {
    console.Print(Format(t.chooseNotWritten, path.c_str(), "?"));
    return 1;
  }
  console.Print(Format(t.chooseWritten, line.c_str(), path.c_str(), number));
  return 0;
}
