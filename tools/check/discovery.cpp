#include "tools/check/discovery.h"

#include <new>

#include "platform/box_identity.h"
#include "platform/platform.h"
#include "settings/settings_file.h"
#include "shell/fsk_keyer.h"
#include "shell/lifecycle.h"
#include "tools/check/boxes.h"
#include "tools/check/check.h"
#include "tools/check/status_view.h"
#include "tools/check/text.h"

namespace {

std::vector<std::string>* capture = nullptr;

void CaptureLine(const char* line) {
  if (capture != nullptr) capture->push_back(WithoutLineBreak(line));
}

DiscoveryRecord* recording = nullptr;

const DiscoveryWatcher kWatcher = {
    [](const char* path, bool opened, uint32_t openError, uint16_t vendorId, uint16_t productId) {
      recording->devices.push_back(
          SeenDevice{path, opened, opened ? 0 : openError, vendorId, productId});
    },
    [](const char* path) {
      recording->devices.push_back(SeenDevice{path, false, 0, 0, 0, true});
    },
    [](const uint8_t* product, const uint8_t* manufacturer, uint32_t size, Generation generation,
       uint16_t reportLength) {
      recording->matched = true;
      recording->product = HidString(product, size);
      recording->manufacturer = HidString(manufacturer, size);
      recording->generation = generation.value;
      recording->generationSource = generation.source;
      recording->reportLength = reportLength;
    },
    [](uint64_t boxKey, uint32_t claimError) {
      recording->inUse = true;
      recording->boxKey = boxKey;
      recording->claimError = claimError;
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

std::string GenerationReason(const Texts& t, const DiscoveryRecord& record) {
  if (record.generationSource == GenerationSource::ProductDigits) {
    const int generation = record.generation;
    return Format(t.generationDigits, generation / 10, generation % 10, tarvokey::kGenerationTensAt,
                  tarvokey::kGenerationOnesAt);
  }
  return Format(record.generationSource == GenerationSource::MakerInitial ? t.generationMaker
                                                                          : t.generationNeither,
                tarvokey::kGenerationTensAt, tarvokey::kGenerationOnesAt);
}

// Why a device that the plug-in passes over may be a box all the same: the
// box's vendor with another product ID, or a device whose path names the
// box's identifiers but which could not be opened or asked for them.
enum class NearMiss { None, OtherProduct, NoIdentifiers, NotOpened };

NearMiss NearMissOf(const SeenDevice& device) {
  if (device.vendorId == tarvokey::kVendorId && device.productId != tarvokey::kProductId) {
    return NearMiss::OtherProduct;
  }
  if (device.vendorId == 0 && device.productId == 0 && NamesTheBox(device.path)) {
    return device.opened ? NearMiss::NoIdentifiers : NearMiss::NotOpened;
  }
  return NearMiss::None;
}

const SeenDevice* FirstNearMiss(const DiscoveryRecord& record) {
  for (const SeenDevice& device : record.devices) {
    if (NearMissOf(device) != NearMiss::None) return &device;
  }
  return nullptr;
}

std::string RefusalReason(const Texts& t, const DiscoveryRecord& record) {
  if (!record.matched) {
    const SeenDevice* device = FirstNearMiss(record);
    switch (device != nullptr ? NearMissOf(*device) : NearMiss::None) {
      case NearMiss::OtherProduct:
        return Format(t.otherProduct, device->productId, tarvokey::kProductId);
      case NearMiss::NoIdentifiers:
        return t.noIdentifiers;
      case NearMiss::NotOpened:
        return Format(t.notOpened, ErrorText(device->openError, t.error).c_str());
      case NearMiss::None:
        break;
    }
    return {};
  }
  if (!AcceptsGeneration(record.generation)) {
    return Format(t.generationRefused, static_cast<int>(record.generation));
  }
  return t.reportNoMemory;
}

std::string HolderOf(const Texts& t, const DiscoveryRecord& record) {
  return HolderText(record.holder, record.claimError, t.status);
}

}  // namespace

WatchedOpen::WatchedOpen(Console& console, ReportObserver observer) {
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
    settings_ = ReadSettingsFile(&settingsPlace_);
    keyer_ = new (std::nothrow) FskKeyer(settings_.box);
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
  if (record_.inUse) {
    record_.holder =
        FindBoxHolder(console.ReadStatuses(), record_.boxKey, plat::CurrentProcessId());
    record_.severalBoxes = ListBoxes(console, false).size() > 1;
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
  if (record_.inUse) return Verdict::InUse;
  if (settings_.box.kind == BoxChoiceKind::Malformed) return Verdict::NoChoice;
  if (settings_.box.kind == BoxChoiceKind::Chosen && !record_.matched) {
    return Verdict::ChosenAbsent;
  }
  if (record_.matched || FirstNearMiss(record_) != nullptr) return Verdict::Refused;
  return Verdict::NoBox;
}

void PrintDiscovery(Console& console, const Texts& t, const WatchedOpen& open) {
  console.Print(t.traceHeading);
  for (const std::string& line : open.trace()) {
    console.Print("  " + Printable(FromAnsi(line)) + "\n");
  }
  console.Print(t.devicesHeading);
  if (open.record().devices.empty()) console.Print(t.devicesNone);
  int number = 0;
  for (const SeenDevice& device : open.record().devices) {
    const std::string what =
        device.passedOver ? t.devicePassedOver
        : device.opened   ? Format(t.deviceIdentifiers, device.vendorId, device.productId)
                          : Format(t.deviceNotOpened, ErrorText(device.openError, t.error).c_str());
    console.Print(
        Format(t.deviceLine, ++number, what.c_str(), Printable(FromAnsi(device.path)).c_str()));
  }
}

void PrintVerdict(Console& console, const Texts& t, const WatchedOpen& open) {
  const DiscoveryRecord& record = open.record();
  if (!open.opened()) {
    console.Print(t.noMemory);
    return;
  }
  switch (open.verdict()) {
    case Verdict::NoBox:
      console.Print(Format(t.noBoxDetail, tarvokey::kVendorId, tarvokey::kProductId));
      return;
    case Verdict::ChosenAbsent:
      console.Print(Format(t.chosenAbsentDetail, KeyText(open.settings().box.key).c_str()));
      return;
    case Verdict::NoChoice:
      console.Print(t.noChoiceDetail);
      return;
    case Verdict::InUse:
      console.Print(Format(t.inUseHeading, HolderOf(t, record).c_str()));
      console.Print(
          Format(t.devicePathLine, Printable(FromAnsi(record.devices.back().path)).c_str()));
      return;
    case Verdict::Refused:
      console.Print(Format(t.refusedHeading, RefusalReason(t, record).c_str()));
      if (!record.matched) return;
      break;
    case Verdict::Accepted:
      console.Print(t.acceptedHeading);
      break;
  }
  console.Print(Format(t.generationLine, static_cast<int>(record.generation),
                       GenerationReason(t, record).c_str()));
  console.Print(Format(t.productLine, Quoted(record.product).c_str()));
  console.Print(Format(t.manufacturerLine, Quoted(record.manufacturer).c_str()));
  console.Print(Format(t.identifiersLine, tarvokey::kVendorId, tarvokey::kProductId));
  console.Print(Format(t.reportLengthLine, record.reportLength));
  if (record.reportLength < tarvokey::kReportLeadingBytes) {
    console.Print(Format(t.reportTooShort, record.reportLength));
  }
  console.Print(Format(t.devicePathLine, Printable(FromAnsi(record.devices.back().path)).c_str()));
}

std::string VerdictLine(const Texts& t, const WatchedOpen& open) {
  if (!open.opened()) return t.verdictNoMemory;
  switch (open.verdict()) {
    case Verdict::Accepted:
      return t.verdictAccepted;
    case Verdict::Refused:
      return Format(t.verdictRefused, RefusalReason(t, open.record()).c_str());
    case Verdict::InUse:
      return Format(t.verdictInUse, HolderOf(t, open.record()).c_str());
    case Verdict::ChosenAbsent:
      return Format(t.verdictChosenAbsent, KeyText(open.settings().box.key).c_str());
    case Verdict::NoChoice:
      return t.verdictNoChoice;
    case Verdict::NoBox:
      break;
  }
  return t.verdictNoBox;
}

int VerdictStatus(const WatchedOpen& open) {
  if (!open.opened()) return kExitNoBox;
  switch (open.verdict()) {
    case Verdict::Accepted:
      return kExitAccepted;
    case Verdict::Refused:
      return kExitRefused;
    case Verdict::InUse:
    case Verdict::NoBox:
    case Verdict::ChosenAbsent:
    case Verdict::NoChoice:
      break;
  }
  return kExitNoBox;
}

const char* NextStep(const Texts& t, const WatchedOpen& open) {
  const DiscoveryRecord& record = open.record();
  if (!open.opened()) return t.nextNoMemory;
  switch (open.verdict()) {
    case Verdict::Accepted:
      return t.nextAccepted;
    case Verdict::NoBox:
      return t.nextNoBox;
    case Verdict::InUse:
      return record.severalBoxes ? t.nextInUseChoose : t.nextInUse;
    case Verdict::ChosenAbsent:
      return t.nextChosenAbsent;
    case Verdict::NoChoice:
      return t.nextNoChoice;
    case Verdict::Refused:
      break;
  }
  if (record.matched) {
    if (AcceptsGeneration(record.generation)) return t.nextNoMemory;
    return record.generation == 0 ? t.nextGeneration0 : t.nextGeneration99;
  }
  const SeenDevice* device = FirstNearMiss(record);
  return device != nullptr && NearMissOf(*device) == NearMiss::OtherProduct ? t.nextOtherProduct
                                                                            : t.nextNotOpened;
}
