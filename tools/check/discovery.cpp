#include "tools/check/discovery.h"

#include <new>

#include "platform/box_identity.h"
#include "platform/platform.h"
#include "shell/fsk_keyer.h"
#include "shell/lifecycle.h"
#include "tools/check/text.h"

namespace {

std::vector<std::string>* capture = nullptr;

void CaptureLine(const char* line) {
  if (capture != nullptr) capture->push_back(WithoutLineBreak(line));
}

DiscoveryRecord* recording = nullptr;

std::u16string StringOf(const uint8_t* utf16, uint32_t size) {
  std::u16string text;
  for (uint32_t at = 0; at + 1 < size && (utf16[at] != 0 || utf16[at + 1] != 0); at += 2) {
    text.push_back(static_cast<char16_t>(utf16[at] | utf16[at + 1] << 8));
  }
  return text;
}

const DiscoveryWatcher kWatcher = {
    [](const char* path, bool opened, uint32_t openError, uint16_t vendorId, uint16_t productId) {
      recording->devices.push_back(
          SeenDevice{path, opened, opened ? 0 : openError, vendorId, productId});
    },
    [](const uint8_t* product, const uint8_t* manufacturer, uint32_t size, Generation generation,
       uint16_t reportLength) {
      recording->matched = true;
      recording->product = StringOf(product, size);
      recording->manufacturer = StringOf(manufacturer, size);
      recording->generation = generation.value;
      recording->generationSource = generation.source;
      recording->reportLength = reportLength;
    },
    [](bool accepted) { recording->accepted = accepted; },
};

// A string from the box, quoted, with what is not printable ASCII as \uXXXX.
std::string Quoted(const std::u16string& text) {
  std::string out = "\"";
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += Format("\\u%04X", static_cast<unsigned>(c));
    }
  }
  return out + "\"";
}

std::string GenerationReason(const DiscoveryRecord& record) {
  if (record.generationSource == GenerationSource::ProductDigits) {
    const int generation = record.generation;
    return Format("digits '%d' and '%d' at positions %d and %d of the product", generation / 10,
                  generation % 10, tarvokey::kGenerationTensAt, tarvokey::kGenerationOnesAt);
  }
  return Format(
      "no digits at positions %d and %d of the product; the manufacturer %s with J",
      tarvokey::kGenerationTensAt, tarvokey::kGenerationOnesAt,
      record.generationSource == GenerationSource::MakerInitial ? "begins" : "does not begin");
}

bool NamesTheBox(const std::string& path) {
  std::string lower = path;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower.find(Format("vid_%04x&pid_%04x", tarvokey::kVendorId, tarvokey::kProductId)) !=
         std::string::npos;
}

// Why a device that the plug-in passes over may be a box all the same: the
// box's vendor with another product ID, or a device whose path names the
// box's identifiers but which could not be opened or asked for them. Empty
// for any other device.
std::string NearMiss(const SeenDevice& device) {
  if (device.vendorId == tarvokey::kVendorId && device.productId != tarvokey::kProductId) {
    return Format("product ID 0x%04X is not the box's 0x%04X (the vendor ID is)", device.productId,
                  tarvokey::kProductId);
  }
  if (device.vendorId == 0 && device.productId == 0 && NamesTheBox(device.path)) {
    return device.opened ? "a device named as the box did not give its identifiers"
                         : "a device named as the box could not be opened (" +
                               ErrorText(device.openError) + ")";
  }
  return {};
}

const SeenDevice* FirstNearMiss(const DiscoveryRecord& record) {
  for (const SeenDevice& device : record.devices) {
    if (!NearMiss(device).empty()) return &device;
  }
  return nullptr;
}

std::string RefusalReason(const DiscoveryRecord& record) {
  if (!record.matched) {
    const SeenDevice* device = FirstNearMiss(record);
    return device != nullptr ? NearMiss(*device) : std::string();
  }
  if (!AcceptsGeneration(record.generation)) {
    return Format("generation %d is not one tarvokey.fsk takes (1 to 98)",
                  static_cast<int>(record.generation));
  }
  return "no memory for its output report";
}

}  // namespace

WatchedOpen::WatchedOpen(ReportObserver observer) {
  CloseKeyer();  // as an open does, though nothing should be open here
  {
    // A tick that comes due meanwhile waits at the lock, so the lines and the
    // record are the open's own.
    KeyerGuard guard;
    capture = &trace_;
    plat::SetTraceSink(&CaptureLine);
    recording = &record_;
    discoveryWatcher = &kWatcher;
    reportObserver = observer;
    keyer_ = new (std::nothrow) FskKeyer;
    // Off again before any tick runs: with a listener every tick would format
    // its lines, and the timing measured would not be the plug-in's.
    plat::SetTraceSink(nullptr);
    discoveryWatcher = nullptr;
    recording = nullptr;
    capture = nullptr;
    opened_ = keyer_ != nullptr && PublishKeyer(keyer_);
  }
  if (!opened_) {
    delete keyer_;  // its clock is waited out, so no tick reads the observer after
    keyer_ = nullptr;
    reportObserver = nullptr;
  }
}

WatchedOpen::~WatchedOpen() { Close(); }

void WatchedOpen::Close() {
  if (keyer_ == nullptr) return;
  CloseKeyer();
  keyer_ = nullptr;
  reportObserver = nullptr;  // the clock has stopped: no tick reads it any more
}

Verdict WatchedOpen::verdict() const {
  if (record_.accepted) return Verdict::Accepted;
  if (record_.matched || FirstNearMiss(record_) != nullptr) return Verdict::Refused;
  return Verdict::NoBox;
}

void PrintDiscovery(Console& console, const WatchedOpen& open) {
  console.Print("Looking for the box as tarvokey.fsk does when it opens (its trace):\n");
  for (const std::string& line : open.trace()) console.Print("  " + Printable(line) + "\n");
  console.Print("HID devices looked at, in the order the system lists them:\n");
  if (open.record().devices.empty()) console.Print("  none\n");
  int number = 0;
  for (const SeenDevice& device : open.record().devices) {
    const std::string what = device.opened ? Format("vendor ID 0x%04X, product ID 0x%04X",
                                                    device.vendorId, device.productId)
                                           : "not opened (" + ErrorText(device.openError) + ")";
    console.Print(
        Format("  %d. %s\n     %s\n", ++number, what.c_str(), Printable(device.path).c_str()));
  }
}

void PrintVerdict(Console& console, const WatchedOpen& open) {
  const DiscoveryRecord& record = open.record();
  if (!open.opened()) {
    console.Print("The plug-in could not be opened: no memory.\n");
    return;
  }
  switch (open.verdict()) {
    case Verdict::NoBox:
      console.Print(
          Format("No box: no HID device has the box's vendor ID 0x%04X and product ID 0x%04X.\n",
                 tarvokey::kVendorId, tarvokey::kProductId));
      return;
    case Verdict::Refused:
      console.Print("Box found and refused: " + RefusalReason(record) + ".\n");
      if (!record.matched) return;
      break;
    case Verdict::Accepted:
      console.Print("Box found and accepted.\n");
      break;
  }
  console.Print(Format("  generation     %d (%s)\n", static_cast<int>(record.generation),
                       GenerationReason(record).c_str()));
  console.Print("  product        " + Quoted(record.product) + "\n");
  console.Print("  manufacturer   " + Quoted(record.manufacturer) + "\n");
  console.Print(Format("  identifiers    vendor ID 0x%04X, product ID 0x%04X\n",
                       tarvokey::kVendorId, tarvokey::kProductId));
  console.Print(Format("  report length  %u bytes\n", record.reportLength));
  if (record.reportLength < tarvokey::kReportLeadingBytes) {
    console.Print(
        Format("  WARNING        a report of %u bytes has no room for the line byte "
               "(the third): the box cannot be keyed\n",
               record.reportLength));
  }
  console.Print("  device path    " + Printable(record.devices.back().path) + "\n");
}

std::string VerdictLine(const WatchedOpen& open) {
  if (!open.opened()) return "No memory to open the plug-in.";
  switch (open.verdict()) {
    case Verdict::Accepted:
      return "Box accepted: tarvokey.fsk can key it.";
    case Verdict::Refused:
      return "Box refused: " + RefusalReason(open.record()) + ".";
    case Verdict::NoBox:
      break;
  }
  return "No box found: is it plugged in?";
}
