// Device link: finding the box among the HID devices and writing output reports to it.
#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>

#include "hidlink/box_key.h"
#include "hidlink/link_watch.h"
#include "hidlink/output_report.h"
#include "platform/box_identity.h"
#include "platform/handles.h"
#include "platform/trace.h"
#include "shell/fsk_keyer.h"

const DiscoveryWatcher* discoveryWatcher = nullptr;
ReportObserver reportObserver = nullptr;

namespace {

constexpr uint32_t kStringBufferBytes = 256;

// Fetches the detail record of the interface just enumerated into
// keyer.detailData. False, with nothing allocated, when the record cannot be
// had: no believable size, or no memory for it.
bool FetchDetail(FskKeyer& keyer, plat::DeviceInterfaceData& interfaceData) {
  keyer.requiredSize = 0;
  plat::GetInterfaceDetail(keyer.deviceInfoSet, &interfaceData, nullptr, 0, &keyer.requiredSize);
  if (keyer.requiredSize < plat::kDeviceInterfaceDetailSize ||
      keyer.requiredSize > plat::kMaxInterfaceDetailSize) {
    return false;
  }
  // Zeroed, with one byte more than the system fills, so the path always ends
  // in a zero even when the record's does not or the second call fails.
  void* record = plat::AllocateZeroed(keyer.requiredSize + 1);
  if (record == nullptr) return false;
  keyer.detailData = static_cast<plat::DeviceInterfaceDetail*>(record);
  keyer.detailData->cbSize = plat::kDeviceInterfaceDetailSize;
  plat::GetInterfaceDetail(keyer.deviceInfoSet, &interfaceData, keyer.detailData,
                           keyer.requiredSize, nullptr);
  return true;
}

void ReleaseDetail(FskKeyer& keyer) {
  plat::Free(keyer.detailData);
  keyer.detailData = nullptr;
}

// hidCaps keeps what it held when the capabilities cannot be read.
void ReadCaps(FskKeyer& keyer) {
  plat::PreparsedData preparsed = nullptr;
  const bool havePreparsed = plat::HidGetPreparsedData(keyer.DeviceHandle, &preparsed);
  TraceLastError("HidD_GetPreparsedData: ");
  plat::HidCaps caps{};
  if (havePreparsed && plat::HidPGetCaps(preparsed, &caps)) keyer.hidCaps = caps;
  TraceLastError("HidP_GetCaps: ");
  if (havePreparsed) plat::HidFreePreparsedData(preparsed);
  TraceLastError("HidD_FreePreparsedData: ");
}

void OpenReadSide(FskKeyer& keyer) {
  keyer.ReadHandle = plat::CreateDeviceFile(keyer.detailData->DevicePath, true);
  TraceLastError("CreateFile (ReadHandle): ");
  if (keyer.ReadHandle == nullptr) {
    const uint32_t error = plat::GetLastError();
    KeyerGuard guard;
    keyer.status.CallFailed("CreateFile (ReadHandle)", error, keyer.tickCounter);
  }
  if (keyer.readEvent != nullptr) return;
  keyer.readEvent = plat::CreateEventObject(true, true, "");
  TraceLastError("CreateEvent: ");
  keyer.readOverlapped.Offset = 0;
  keyer.readOverlapped.OffsetHigh = 0;
  keyer.readOverlapped.hEvent = keyer.readEvent;
}

// Sized once per box, so that the ticks never allocate.
bool SizeReportBuffer(FskKeyer& keyer) {
  const uint32_t needed =
      std::max<uint32_t>(keyer.hidCaps.OutputReportByteLength, sizeof keyer.outReport);
  if (keyer.reportBufferSize >= needed) return true;
  auto* buffer = static_cast<uint8_t*>(plat::AllocateZeroed(needed));
  if (buffer == nullptr) return false;
  keyer.reportBuffer.reset(buffer);
  keyer.reportBufferSize = needed;
  return true;
}

// What a discovery found: whether a device had the box's identifiers, and
// whether another program holds it; the box as seen, for the status record
// (its product string is this record's).
struct Examined {
  bool matched = false;
  bool inUse = false;
  uint8_t product[kStringBufferBytes] = {};
  status::Box seen;
};

// The device just opened with the box's identifiers: its claim, then its
// capabilities, read side, strings and generation. One program keys a box at
// a time: the claim comes before anything more is asked of the box or written
// to it, and a box that another program holds is left to it, to be looked at
// again at the next discovery.
void ExamineBox(FskKeyer& keyer, const plat::HidAttributes& attributes, Examined& box) {
  box.matched = true;
  Trace("Device detected");
  if (!keyer.ClaimBox(keyer.detailData->DevicePath)) {
    box.inUse = true;
    box.seen = {attributes.VendorID, attributes.ProductID, keyer.hwGeneration, nullptr, 0,
                keyer.boxKey,        keyer.claimError};
    CloseIfOpen(keyer.DeviceHandle);
    return;
  }
  ReadCaps(keyer);
  OpenReadSide(keyer);
  uint8_t manufacturer[kStringBufferBytes] = {};
  plat::HidGetProductString(keyer.DeviceHandle, box.product, sizeof box.product);
  plat::HidGetManufacturerString(keyer.DeviceHandle, manufacturer, sizeof manufacturer);
  const Generation generation = ReadGeneration(box.product, manufacturer);
  keyer.hwGeneration = generation.value;
  box.seen = {attributes.VendorID, attributes.ProductID,  keyer.hwGeneration,
              box.product,         sizeof box.product,    keyer.boxKey,
              keyer.claimError,    keyer.claimUnavailable};
  if (discoveryWatcher != nullptr) {
    discoveryWatcher->box(box.product, manufacturer, kStringBufferBytes, generation,
                          keyer.hidCaps.OutputReportByteLength);
  }
}

// Opens each interface in turn and asks for its identifiers, until the first
// with the box's, which is examined; only that one. With a box chosen, every
// other interface is passed over unopened: another station's box is never
// touched, nor is any other device.
void ExamineInterfaces(FskKeyer& keyer, Examined& box) {
  const bool chosen = keyer.boxChoice.kind == BoxChoiceKind::Chosen;
  for (uint32_t index = 0; keyer.deviceInfoSet != nullptr; ++index) {
    plat::DeviceInterfaceData interfaceData{};
    interfaceData.cbSize = plat::kDeviceInterfaceDataSize;
    if (!plat::NextInterface(keyer.deviceInfoSet, &keyer.hidGuid, index, &interfaceData)) return;
    // An interface whose record cannot be had is passed over: it may have
    // gone between the enumeration and the query, and the box may follow it.
    if (!FetchDetail(keyer, interfaceData)) continue;
    if (chosen && BoxKey(keyer.detailData->DevicePath) != keyer.boxChoice.key) {
      if (discoveryWatcher != nullptr) discoveryWatcher->passedOver(keyer.detailData->DevicePath);
      ReleaseDetail(keyer);
      continue;
    }

    keyer.DeviceHandle = plat::CreateDeviceFile(keyer.detailData->DevicePath, false);
    TraceLastError("CreateFile: ");
    const uint32_t openError = discoveryWatcher != nullptr ? plat::GetLastError() : 0;
    plat::HidAttributes attributes{};
    attributes.Size = plat::kHidAttributesSize;
    plat::HidGetAttributes(keyer.DeviceHandle, &attributes);
    TraceLastError("HidD_GetAttributes: ");
    if (discoveryWatcher != nullptr) {
      discoveryWatcher->device(keyer.detailData->DevicePath, keyer.DeviceHandle != nullptr,
                               openError, attributes.VendorID, attributes.ProductID);
    }
    const bool isBox =
        attributes.VendorID == tarvokey::kVendorId && attributes.ProductID == tarvokey::kProductId;
    if (isBox) {
      ExamineBox(keyer, attributes, box);
    } else {
      CloseIfOpen(keyer.DeviceHandle);
    }
    ReleaseDetail(keyer);
    if (isBox) return;
  }
}

// A refused generation, or a box the ticks could not write to without
// allocating, is not taken; its handles go with it, and so does a claim taken
// for it now. A claim kept since an earlier link stays: the box is this
// instance's until it closes.
bool Accept(FskKeyer& keyer, const Examined& box) {
  const bool linked =
      box.matched && !box.inUse && AcceptsGeneration(keyer.hwGeneration) && SizeReportBuffer(keyer);
  if (linked) {
    keyer.KeepClaim();
    return true;
  }
  CloseIfOpen(keyer.DeviceHandle);
  CloseIfOpen(keyer.ReadHandle);
  CloseIfOpen(keyer.trialClaim);
  return false;
}

// The claim's error as the trace gives errors.
void TraceClaimError(uint32_t error) {
  plat::SetLastError(error);
  TraceLastError("CreateMutex (claim): ");
}

// What the discovery shows: a wait (for another program's box, or for the
// chosen one to be plugged in), traced once for each wait rather than at
// every discovery of it; a box keyed without a claim; the watcher's steps;
// and the status record.
void Show(FskKeyer& keyer, const Examined& box, bool result, uint32_t setError) {
  const bool refused = box.matched && !box.inUse && !AcceptsGeneration(keyer.hwGeneration);
  const bool chosen = keyer.boxChoice.kind == BoxChoiceKind::Chosen;
  const status::Link link = result                   ? status::Link::Linked
                            : box.inUse              ? status::Link::InUse
                            : refused                ? status::Link::Refused
                            : chosen && !box.matched ? status::Link::ChosenAbsent
                                                     : status::Link::Looking;
  const bool newWait = link != keyer.lastLook;
  keyer.lastLook = link;
  if (newWait && link == status::Link::InUse) {
    Trace("Device in use by another program");
    // Who holds it is not to be had from the claim; what its error says is.
    TraceClaimError(keyer.claimError);
  } else if (newWait && link == status::Link::ChosenAbsent) {
    char key[kBoxKeyTextBytes];
    BoxKeyText(keyer.boxChoice.key, key);
    char line[64];
    std::snprintf(line, sizeof line, "Chosen box not present: FskBox=%s", key);
    Trace(line);
  }
  if (result && keyer.claimUnavailable) {
    Trace("Device keyed without a claim: nobody holds it, and this program may not make one");
    TraceClaimError(keyer.claimError);
  }
  if (discoveryWatcher != nullptr) {
    if (box.inUse) discoveryWatcher->inUse(keyer.boxKey, keyer.claimError);
    discoveryWatcher->result(result);
  }
  KeyerGuard guard;
  keyer.status.Discovered(link, box.matched ? &box.seen : nullptr, keyer.claimedKey);
  if (keyer.deviceInfoSet == nullptr) {
    keyer.status.CallFailed("SetupDiGetClassDevs", setError, keyer.tickCounter);
  }
  // Held, and by whom it does not say; a claim that failed in any other way
  // (taken as held) is a failure worth showing.
  const bool claimFailed = keyer.claimError != plat::kErrorAlreadyExists &&
                           keyer.claimError != plat::kErrorAccessDenied &&
                           keyer.claimError != plat::kErrorInvalidHandle;
  if (newWait && box.inUse && claimFailed) {
    keyer.status.CallFailed("CreateMutex (claim)", keyer.claimError, keyer.tickCounter);
  }
}

}  // namespace

void BuildOutputReport(const uint8_t (&leading)[3], uint8_t* report, uint32_t length) {
  const uint32_t head = std::min<uint32_t>(length, sizeof leading);
  std::memcpy(report, leading, head);
  std::memset(report + head, 0, length - head);
}

void FskKeyer::SendReport(Teardown mode) {
  Trace("***HID Test Report***");
  // Under the loader lock a discovery could wait on the loader itself (device
  // setup may load a DLL: shell/module_entry.cpp). An FskBox that names no box
  // keys none: no box is looked for.
  if (!deviceOpen && mode == Teardown::Normal && boxChoice.kind != BoxChoiceKind::Malformed) {
    deviceOpen = FindDevice();
  }
  if (deviceOpen) WriteReport(mode);
}

void FskKeyer::WriteReport(Teardown mode) {
  // Nothing is written to a box this program has not claimed, unless no claim
  // can be made here and nobody holds it.
  assert((boxClaim != nullptr && claimedKey == boxKey) || claimUnavailable);
  uint8_t leading[sizeof outReport];
  {
    KeyerGuard guard(mode);
    std::memcpy(leading, outReport, sizeof leading);
  }
  // Exactly the length the box declares.
  const uint32_t length = hidCaps.OutputReportByteLength;
  uint8_t* report = reportBuffer.get();
  BuildOutputReport(leading, report, length);

  uint32_t written = 0;
  // A write that says it succeeded but took less than the whole report did not
  // reach the box either.
  const bool ok = plat::WriteFile(DeviceHandle, report, length, &written) && written == length;
  const uint32_t error = plat::GetLastError();
  if (reportObserver != nullptr) reportObserver(report, length, ok, error);
  {
    KeyerGuard guard(mode);
    status.CountReport(ok);
    if (!ok) {
      status.CallFailed("WriteFile", error, tickCounter);
      status.LinkDropped();
    }
  }
  // An unplugged box fails the write: Wine's dlls/hidclass.sys/device.c (pdo_write) says
  // STATUS_DELETE_PENDING; Windows' ERROR_DEVICE_NOT_CONNECTED is inferred till one is unplugged.
  if (!ok) {
    CloseIfOpen(DeviceHandle);
    CloseIfOpen(ReadHandle);
    Trace("Can't write to device");
    deviceOpen = false;
    // The claim stays: a glitch on the USB or a reset of the box mid-transmission
    // must not hand the radio to a program waiting for it. This instance takes
    // the box again when it answers.
  }
  TraceLastError("WriteFile: ");
  if (plat::TraceEnabled()) {
    char line[32];
    std::snprintf(line, sizeof line, "%s%d", "Bytes Written: ", static_cast<int>(written));
    Trace(line);
  }
}

bool FskKeyer::FindDevice() {
  // 1. Nothing of the last discovery is held.
  detailData = nullptr;
  requiredSize = 0;
  DeviceHandle = nullptr;
  ReadHandle = nullptr;

  // 2, 3. The present interfaces of the HID class.
  plat::HidGetHidGuid(&hidGuid);
  deviceInfoSet =
      plat::OpenInterfaceSet(&hidGuid, plat::kDigcfPresent | plat::kDigcfDeviceInterface);
  const uint32_t setError = deviceInfoSet == nullptr ? plat::GetLastError() : 0;

  // 4. The first device with the box's identifiers, examined.
  Examined box;
  ExamineInterfaces(*this, box);

  // 5. Acceptance.
  const bool result = Accept(*this, box);

  // 6. What it found, said.
  Trace(result ? "Device detected" : "Device not detected");
  Show(*this, box, result, setError);

  // 7. Marked closed first, as CloseIfOpen does.
  const plat::Handle set = deviceInfoSet;
  deviceInfoSet = nullptr;
  if (set != nullptr) plat::CloseInterfaceSet(set);
  TraceLastError("SetupDiDestroyDeviceInfoList");
  return result;
}
