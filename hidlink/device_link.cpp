// Device link: finding the box among the HID devices and writing output reports to it.
#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>

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
// Far beyond any path the system can open (32767 characters); a larger
// reported size is not believed.
constexpr uint32_t kMaxDetailSize = 64 * 1024;

// Fetches the detail record of the interface just enumerated into
// keyer.detailData. False, with nothing allocated, when the record cannot be
// had: no believable size, or no memory for it.
bool FetchDetail(FskKeyer& keyer, plat::DeviceInterfaceData& interfaceData) {
  keyer.requiredSize = 0;
  plat::GetInterfaceDetail(keyer.deviceInfoSet, &interfaceData, nullptr, 0, &keyer.requiredSize);
  if (keyer.requiredSize < plat::kDeviceInterfaceDetailSize ||
      keyer.requiredSize > kMaxDetailSize) {
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

}  // namespace

void BuildOutputReport(const uint8_t (&leading)[3], uint8_t* report, uint32_t length) {
  const uint32_t head = std::min<uint32_t>(length, sizeof leading);
  std::memcpy(report, leading, head);
  std::memset(report + head, 0, length - head);
}

void FskKeyer::SendReport(Teardown mode) {
  Trace("***HID Test Report***");
  // Under the loader lock a discovery could wait on the loader itself.
  if (!deviceOpen && mode == Teardown::Normal) deviceOpen = FindDevice();
  if (deviceOpen) WriteReport(mode);
}

void FskKeyer::WriteReport(Teardown mode) {
  assert(boxClaim != nullptr);  // nothing is written to a box this program has not claimed
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
  if (!ok) {
    CloseIfOpen(DeviceHandle);
    CloseIfOpen(ReadHandle);
    Trace("Can't write to device");
    deviceOpen = false;
    // The link has ended: another program may take the box now.
    CloseIfOpen(boxClaim);
  }
  TraceLastError("WriteFile: ");
  if (plat::TraceEnabled()) {
    char line[32];
    std::snprintf(line, sizeof line, "%s%d", "Bytes Written: ", static_cast<int>(written));
    Trace(line);
  }
}

bool FskKeyer::FindDevice() {
  detailData = nullptr;
  requiredSize = 0;
  DeviceHandle = nullptr;
  ReadHandle = nullptr;

  plat::HidGetHidGuid(&hidGuid);
  deviceInfoSet =
      plat::OpenInterfaceSet(&hidGuid, plat::kDigcfPresent | plat::kDigcfDeviceInterface);
  const uint32_t setError = deviceInfoSet == nullptr ? plat::GetLastError() : 0;
  // The box as this discovery saw it, for the status record.
  uint8_t product[kStringBufferBytes] = {};
  status::Box seen;

  bool matched = false;
  bool inUse = false;
  for (uint32_t index = 0; deviceInfoSet != nullptr; ++index) {
    plat::DeviceInterfaceData interfaceData{};
    interfaceData.cbSize = plat::kDeviceInterfaceDataSize;
    if (!plat::NextInterface(deviceInfoSet, &hidGuid, index, &interfaceData)) break;
    // An interface whose record cannot be had is passed over: it may have
    // gone between the enumeration and the query, and the box may follow it.
    if (!FetchDetail(*this, interfaceData)) continue;

    DeviceHandle = plat::CreateDeviceFile(detailData->DevicePath, false);
    TraceLastError("CreateFile: ");
    const uint32_t openError = discoveryWatcher != nullptr ? plat::GetLastError() : 0;
    plat::HidAttributes attributes{};
    attributes.Size = plat::kHidAttributesSize;
    plat::HidGetAttributes(DeviceHandle, &attributes);
    TraceLastError("HidD_GetAttributes: ");
    if (discoveryWatcher != nullptr) {
      discoveryWatcher->device(detailData->DevicePath, DeviceHandle != nullptr, openError,
                               attributes.VendorID, attributes.ProductID);
    }

    if (attributes.VendorID == tarvokey::kVendorId &&
        attributes.ProductID == tarvokey::kProductId) {
      matched = true;
      Trace("Device detected");
      // One program keys a box at a time: its claim comes before anything is
      // asked of the box or written to it. A box that another program holds
      // is left to it, and looked at again at the next discovery.
      if (!ClaimBox(detailData->DevicePath)) {
        inUse = true;
        seen = {attributes.VendorID, attributes.ProductID, hwGeneration, nullptr, 0, boxKey,
                claimError};
        CloseIfOpen(DeviceHandle);
        ReleaseDetail(*this);
        break;
      }
      ReadCaps(*this);
      OpenReadSide(*this);
      uint8_t manufacturer[kStringBufferBytes] = {};
      plat::HidGetProductString(DeviceHandle, product, sizeof product);
      plat::HidGetManufacturerString(DeviceHandle, manufacturer, sizeof manufacturer);
      const Generation generation = ReadGeneration(product, manufacturer);
      hwGeneration = generation.value;
      seen = {
          attributes.VendorID, attributes.ProductID, hwGeneration, product, sizeof product, boxKey};
      if (discoveryWatcher != nullptr) {
        discoveryWatcher->box(product, manufacturer, kStringBufferBytes, generation,
                              hidCaps.OutputReportByteLength);
      }
      ReleaseDetail(*this);
      break;
    }
    CloseIfOpen(DeviceHandle);
    ReleaseDetail(*this);
  }

  bool result = matched && !inUse;
  // A box the ticks could not write to without allocating is not taken; its
  // claim goes with it.
  if (!AcceptsGeneration(hwGeneration) || (result && !SizeReportBuffer(*this))) {
    result = false;
    CloseIfOpen(DeviceHandle);
    CloseIfOpen(ReadHandle);
    CloseIfOpen(boxClaim);
  }
  // Once for each wait, not at every discovery of it.
  const bool newlyHeldElsewhere = inUse && !heldElsewhere;
  heldElsewhere = inUse;
  if (newlyHeldElsewhere) {
    Trace("Device in use by another program");
    // Who holds it is not to be had from the claim; what its error says is.
    plat::SetLastError(claimError);
    TraceLastError("CreateMutex (claim): ");
  }
  Trace(result ? "Device detected" : "Device not detected");
  if (discoveryWatcher != nullptr) {
    if (inUse) discoveryWatcher->inUse(boxKey, claimError);
    discoveryWatcher->result(result);
  }
  {
    KeyerGuard guard;
    const bool refused = matched && !inUse && !AcceptsGeneration(hwGeneration);
    status.Discovered(result    ? status::Link::Linked
                      : inUse   ? status::Link::InUse
                      : refused ? status::Link::Refused
                                : status::Link::Looking,
                      matched ? &seen : nullptr);
    if (deviceInfoSet == nullptr) status.CallFailed("SetupDiGetClassDevs", setError, tickCounter);
    // Held, and by whom it says nothing; a claim that could not be made at all
    // is a failure worth showing.
    const bool claimFailed =
        claimError != plat::kErrorAlreadyExists && claimError != plat::kErrorAccessDenied;
    if (newlyHeldElsewhere && claimFailed) {
      status.CallFailed("CreateMutex (claim)", claimError, tickCounter);
    }
  }

  // Marked closed first, as CloseIfOpen does.
  const plat::Handle set = deviceInfoSet;
  deviceInfoSet = nullptr;
  if (set != nullptr) plat::CloseInterfaceSet(set);
  TraceLastError("SetupDiDestroyDeviceInfoList");
  return result;
}
