// Simulated HID bus: scripted devices behind the HID class and device setup
// calls, with the quirks of the real ones, and a record of what the driver did.
#include "platform/sim/sim_hid.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <type_traits>

#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace {

constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kSpintActive = 1;
constexpr plat::Guid kHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
// Where the path starts in SP_DEVICE_INTERFACE_DETAIL_DATA_A.
constexpr size_t kPathOffset = offsetof(plat::DeviceInterfaceDetail, DevicePath);

struct Device {
  sim::HidDevice script;
  bool present = true;
  uint32_t plugCount = 0;  // handles opened before the last unplug stay dead
  int opens = 0;
};

enum class Kind { Device, Read, Event, InfoSet, Preparsed };

struct Object {
  Kind kind;
  int device;                // -1 for events and sets
  uint32_t plugCount;        // of the device when opened
  std::vector<int> members;  // an information set's devices, in enumeration order
};

// Everything below is guarded by hidMutex: ticks call in from the timer thread.
std::mutex hidMutex;
std::vector<Device> devices;
std::map<uintptr_t, Object> objects;
// Handle values are not given out twice until the next reset, so a second
// close is always seen.
uintptr_t nextHandle = 0x1000;
std::vector<sim::HidWrite> writes;
std::vector<std::string> misuses;
int enumerations = 0;

// Enumerations held back, as behind a loader lock another thread holds.
std::mutex holdMutex;
std::condition_variable holdChanged;
bool holding = false;
int heldNow = 0;

void WaitWhileEnumerationsHeld() {
  std::unique_lock<std::mutex> lock(holdMutex);
  if (!holding) return;
  ++heldNow;
  holdChanged.notify_all();
  holdChanged.wait(lock, [] { return !holding; });
  --heldNow;
}

bool SameGuid(const plat::Guid& a, const plat::Guid& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

plat::Handle NewObject(Object object) {
  const uintptr_t value = nextHandle;
  nextHandle += 0x10;
  objects.emplace(value, std::move(object));
  return reinterpret_cast<plat::Handle>(value);
}

Object* Find(plat::Handle handle) {
  auto it = objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == objects.end() ? nullptr : &it->second;
}

void Misuse(const char* call, plat::Handle handle) {
  char line[96];
  std::snprintf(line, sizeof line, "%s on unknown or closed %p", call, handle);
  misuses.emplace_back(line);
}

std::string PathOf(int id) {
  const Device& device = devices[static_cast<size_t>(id)];
  if (!device.script.path.empty()) return device.script.path;
  char path[128];
  std::snprintf(path, sizeof path,
                "\\\\?\\hid#vid_%04x&pid_%04x#sim&%d#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                device.script.vendorId, device.script.productId, id);
  return path;
}

// The set behind an info-set handle, or nullptr with the misuse recorded and
// the last error set.
Object* FindInfoSet(plat::Handle set, const char* call) {
  Object* object = Find(set);
  if (object != nullptr && object->kind == Kind::InfoSet) return object;
  Misuse(call, set);
  plat::SetLastError(plat::kErrorInvalidHandle);
  return nullptr;
}

// Whether an interface record is one the real call takes (cbSize 28 on 32-bit
// Windows); sets the last error if not.
bool ValidInterfaceData(const plat::DeviceInterfaceData* data) {
  if (data != nullptr && data->cbSize == plat::kDeviceInterfaceDataSize) return true;
  plat::SetLastError(plat::kErrorInvalidUserBuffer);
  return false;
}

// The device behind a device or read handle, if it can still be reached.
// Sets the last error and returns nullptr otherwise.
Device* Reach(plat::Handle handle, const char* call) {
  if (handle == nullptr) {
    plat::SetLastError(plat::kErrorInvalidHandle);
    return nullptr;
  }
  Object* object = Find(handle);
  if (object == nullptr || (object->kind != Kind::Device && object->kind != Kind::Read)) {
    Misuse(call, handle);
    plat::SetLastError(plat::kErrorInvalidHandle);
    return nullptr;
  }
  Device& device = devices[static_cast<size_t>(object->device)];
  if (!device.present || device.plugCount != object->plugCount) {
    plat::SetLastError(plat::kErrorDeviceNotConnected);
    return nullptr;
  }
  return &device;
}

bool ReadString(plat::Handle handle, void* buffer, uint32_t length, bool product) {
  std::lock_guard<std::mutex> lock(hidMutex);
  Device* device = Reach(handle, product ? "HidD_GetProductString" : "HidD_GetManufacturerString");
  if (device == nullptr) return false;
  const bool readable =
      product ? device->script.productReadable : device->script.manufacturerReadable;
  if (!readable) {
    plat::SetLastError(plat::kErrorGenFailure);
    return false;
  }
  // The string and its terminator, as far as the buffer holds them.
  std::u16string text = product ? device->script.product : device->script.manufacturer;
  text.push_back(u'\0');
  auto* out = static_cast<uint8_t*>(buffer);
  const size_t units = std::min<size_t>(text.size(), length / 2);
  for (size_t i = 0; i < units; ++i) {
    out[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);  // UTF-16LE
    out[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  plat::SetLastError(plat::kErrorSuccess);
  return true;
}

}  // namespace

namespace sim {

int AddHidDevice(const HidDevice& device) {
  std::lock_guard<std::mutex> lock(hidMutex);
  devices.push_back(Device{device});
  return static_cast<int>(devices.size()) - 1;
}

int AttachBox(uint16_t outputReportLength) {
  HidDevice box;
  box.outputReportLength = outputReportLength;
  return AddHidDevice(box);
}

void ChangeHidDevice(int id, const std::function<void(HidDevice&)>& change) {
  std::lock_guard<std::mutex> lock(hidMutex);
  change(devices.at(static_cast<size_t>(id)).script);
}

void UnplugHid(int id) {
  std::lock_guard<std::mutex> lock(hidMutex);
  Device& device = devices.at(static_cast<size_t>(id));
  device.present = false;
  ++device.plugCount;
}

void ReplugHid(int id) {
  std::lock_guard<std::mutex> lock(hidMutex);
  devices.at(static_cast<size_t>(id)).present = true;
}

std::vector<HidWrite> HidWrites() {
  std::lock_guard<std::mutex> lock(hidMutex);
  return writes;
}

std::vector<HidWrite> HidReports() {
  std::vector<HidWrite> reports = HidWrites();
  reports.erase(std::remove_if(reports.begin(), reports.end(),
                               [](const HidWrite& write) { return !write.ok; }),
                reports.end());
  return reports;
}

HidHandleCounts OpenHidHandles() {
  std::lock_guard<std::mutex> lock(hidMutex);
  HidHandleCounts counts;
  for (const auto& [value, object] : objects) {
    switch (object.kind) {
      case Kind::Device:
        ++counts.device;
        break;
      case Kind::Read:
        ++counts.read;
        break;
      case Kind::Event:
        ++counts.events;
        break;
      case Kind::InfoSet:
        ++counts.infoSets;
        break;
      case Kind::Preparsed:
        ++counts.preparsedData;
        break;
    }
  }
  return counts;
}

std::vector<std::string> HidMisuses() {
  std::lock_guard<std::mutex> lock(hidMutex);
  return misuses;
}

int HidEnumerations() {
  std::lock_guard<std::mutex> lock(hidMutex);
  return enumerations;
}

void HoldEnumerations() {
  std::lock_guard<std::mutex> lock(holdMutex);
  holding = true;
}

bool WaitForHeldEnumeration(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(holdMutex);
  return holdChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [] { return heldNow > 0; });
}

void ReleaseEnumerations() {
  std::lock_guard<std::mutex> lock(holdMutex);
  holding = false;
  holdChanged.notify_all();
}

int HidOpens(int id) {
  std::lock_guard<std::mutex> lock(hidMutex);
  return devices.at(static_cast<size_t>(id)).opens;
}

namespace detail {
void ResetHid() {
  ReleaseEnumerations();
  std::lock_guard<std::mutex> lock(hidMutex);
  devices.clear();
  objects.clear();
  nextHandle = 0x1000;
  writes.clear();
  misuses.clear();
  enumerations = 0;
}
}  // namespace detail

}  // namespace sim

namespace bus {

// The bus itself. The seam's functions below are these, passed through the
// tick's door.
using namespace plat;

Handle OpenInterfaceSet(const Guid* guid, uint32_t flags) {
  WaitWhileEnumerationsHeld();
  std::lock_guard<std::mutex> lock(hidMutex);
  ++enumerations;
  Object set{Kind::InfoSet, -1, 0, {}};
  // The HID class is an interface class: without DIGCF_DEVICEINTERFACE the
  // set holds no HID interfaces. Without DIGCF_PRESENT it also holds devices
  // that are gone.
  if (guid != nullptr && SameGuid(*guid, kHidGuid) && (flags & kDigcfDeviceInterface) != 0) {
    for (size_t id = 0; id < devices.size(); ++id) {
      if (devices[id].present || (flags & kDigcfPresent) == 0) {
        set.members.push_back(static_cast<int>(id));
      }
    }
  }
  SetLastError(kErrorSuccess);
  return NewObject(std::move(set));
}

bool NextInterface(Handle set, const Guid* guid, uint32_t index, DeviceInterfaceData* data) {
  std::lock_guard<std::mutex> lock(hidMutex);
  Object* object = FindInfoSet(set, "SetupDiEnumDeviceInterfaces");
  if (object == nullptr || !ValidInterfaceData(data)) return false;
  if (guid == nullptr || !SameGuid(*guid, kHidGuid) || index >= object->members.size()) {
    SetLastError(kErrorNoMoreItems);
    return false;
  }
  data->InterfaceClassGuid = kHidGuid;
  data->Flags = kSpintActive;
  // The real record points at the set's own data; ours names the member.
  data->Reserved = index + 1;
  SetLastError(kErrorSuccess);
  return true;
}

bool GetInterfaceDetail(Handle set, DeviceInterfaceData* data, DeviceInterfaceDetail* detail,
                        uint32_t detailSize, uint32_t* requiredSize) {
  std::lock_guard<std::mutex> lock(hidMutex);
  Object* object = FindInfoSet(set, "SetupDiGetDeviceInterfaceDetail");
  if (object == nullptr || !ValidInterfaceData(data)) return false;
  if (data->Reserved == 0 || data->Reserved > object->members.size()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  const int id = object->members[data->Reserved - 1];
  const sim::HidDevice& script = devices[static_cast<size_t>(id)].script;
  if (script.failDetailQuery) {
    SetLastError(kErrorGenFailure);
    return false;
  }
  const std::string path = PathOf(id);
  const uint32_t terminator = script.pathUnterminated ? 0 : 1;
  const auto trueSize = static_cast<uint32_t>(kPathOffset + path.size() + terminator);

  // No buffer: the size query, whose normal answer is this failure.
  if (detail == nullptr) {
    if (detailSize != 0) {
      SetLastError(kErrorInvalidUserBuffer);
      return false;
    }
    if (requiredSize != nullptr) {
      *requiredSize = script.reportedDetailSize.value_or(trueSize);
    }
    SetLastError(kErrorInsufficientBuffer);
    return false;
  }
  // cbSize is the fixed part of the record (5 on 32-bit Windows), not the
  // size it was allocated at.
  if (detailSize < kDeviceInterfaceDetailSize || detail->cbSize != kDeviceInterfaceDetailSize) {
    SetLastError(kErrorInvalidUserBuffer);
    return false;
  }
  if (requiredSize != nullptr) *requiredSize = trueSize;
  if (detailSize < trueSize) {
    SetLastError(kErrorInsufficientBuffer);
    return false;
  }
  std::memcpy(reinterpret_cast<char*>(detail) + kPathOffset, path.c_str(),
              path.size() + terminator);
  SetLastError(kErrorSuccess);
  return true;
}

bool CloseInterfaceSet(Handle set) {
  std::lock_guard<std::mutex> lock(hidMutex);
  if (FindInfoSet(set, "SetupDiDestroyDeviceInfoList") == nullptr) return false;
  objects.erase(reinterpret_cast<uintptr_t>(set));
  SetLastError(kErrorSuccess);
  return true;
}

Handle CreateDeviceFile(const char* path, bool overlapped) {
  std::lock_guard<std::mutex> lock(hidMutex);
  if (path == nullptr) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  const std::string wanted = path;
  for (size_t id = 0; id < devices.size(); ++id) {
    Device& device = devices[id];
    if (!device.present || PathOf(static_cast<int>(id)) != wanted) continue;
    if (device.script.failOpen) {
      SetLastError(kErrorAccessDenied);
      return nullptr;
    }
    ++device.opens;
    SetLastError(kErrorSuccess);
    return NewObject(
        Object{overlapped ? Kind::Read : Kind::Device, static_cast<int>(id), device.plugCount, {}});
  }
  SetLastError(kErrorFileNotFound);
  return nullptr;
}

bool CloseHandle(Handle handle) {
  std::lock_guard<std::mutex> lock(hidMutex);
  Object* object = Find(handle);
  if (object == nullptr || object->kind == Kind::InfoSet || object->kind == Kind::Preparsed) {
    Misuse("CloseHandle", handle);
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  // Like the real call, success leaves the last error alone.
  objects.erase(reinterpret_cast<uintptr_t>(handle));
  return true;
}

Handle CreateEventObject(bool manualReset, bool initialState, const char* name) {
  std::lock_guard<std::mutex> lock(hidMutex);
  // The read side's event: manual reset, signalled, no name (a named event
  // would be shared with any other process that used the name).
  if (!manualReset || !initialState || (name != nullptr && *name != '\0')) {
    misuses.emplace_back("CreateEventA not for an unnamed, signalled, manual-reset event");
  }
  SetLastError(kErrorSuccess);
  return NewObject(Object{Kind::Event, -1, 0, {}});
}

bool WriteFile(Handle handle, const void* data, uint32_t length, uint32_t* written) {
  const uint32_t now = sim::NowMs();
  std::lock_guard<std::mutex> lock(hidMutex);
  *written = 0;
  Object* object = Find(handle);
  if (object == nullptr || object->kind == Kind::InfoSet || object->kind == Kind::Preparsed) {
    Misuse("WriteFile", handle);
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  if (object->kind == Kind::Event) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  const auto* bytes = static_cast<const uint8_t*>(data);
  sim::HidWrite write{object->device, now, {}, false, 0};
  if (bytes != nullptr) write.bytes.assign(bytes, bytes + length);

  const Device& device = devices[static_cast<size_t>(object->device)];
  if (!device.present || device.plugCount != object->plugCount) {
    write.error = kErrorDeviceNotConnected;
  } else if (object->kind == Kind::Read) {
    // A handle opened for overlapped I/O needs an OVERLAPPED record.
    write.error = kErrorInvalidParameter;
  } else if (bytes == nullptr || length == 0 || length != device.script.outputReportLength) {
    // hidclass takes exactly one output report of the declared length, and
    // nothing from a device that declares none; STATUS_INVALID_BUFFER_SIZE
    // reaches Win32 as ERROR_INVALID_USER_BUFFER.
    write.error = kErrorInvalidUserBuffer;
  } else if (device.script.failWrites) {
    write.error = kErrorGenFailure;
  } else if (device.script.shortWrites) {
    // Success, but not the whole report: the box did not get it.
    *written = length - 1;
    SetLastError(kErrorSuccess);
    writes.push_back(std::move(write));
    return true;
  } else {
    write.ok = true;
    *written = length;
  }
  SetLastError(write.error);
  writes.push_back(std::move(write));
  return writes.back().ok;
}

bool HidGetAttributes(Handle device, HidAttributes* attributes) {
  std::lock_guard<std::mutex> lock(hidMutex);
  Device* reached = Reach(device, "HidD_GetAttributes");
  if (reached == nullptr) return false;
  if (attributes->Size != kHidAttributesSize) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  if (reached->script.failAttributes) {
    SetLastError(kErrorGenFailure);
    return false;
  }
  attributes->VendorID = reached->script.vendorId;
  attributes->ProductID = reached->script.productId;
  attributes->VersionNumber = 0x0100;
  SetLastError(kErrorSuccess);
  return true;
}

bool HidGetPreparsedData(Handle device, PreparsedData* data) {
  std::lock_guard<std::mutex> lock(hidMutex);
  *data = nullptr;  // as the Win32 backend leaves it on failure
  Device* reached = Reach(device, "HidD_GetPreparsedData");
  if (reached == nullptr) return false;
  if (reached->script.failPreparsedData) {
    SetLastError(kErrorGenFailure);
    return false;
  }
  const int id = static_cast<int>(reached - devices.data());
  *data = NewObject(Object{Kind::Preparsed, id, reached->plugCount, {}});
  SetLastError(kErrorSuccess);
  return true;
}

bool HidPGetCaps(PreparsedData data, HidCaps* caps) {
  std::lock_guard<std::mutex> lock(hidMutex);
  Object* object = Find(data);
  if (object == nullptr || object->kind != Kind::Preparsed) {
    // The real call reads through the pointer: an access violation at best.
    Misuse("HidP_GetCaps", data);
    return false;
  }
  const sim::HidDevice& script = devices[static_cast<size_t>(object->device)].script;
  if (script.failCaps) {
    // HIDP_STATUS_INVALID_PREPARSED_DATA, and the record is not to be trusted.
    *caps = HidCaps{};
    return false;
  }
  *caps = HidCaps{};
  caps->Usage = 0x01;
  caps->UsagePage = 0xFF00;
  caps->InputReportByteLength = script.outputReportLength;
  caps->OutputReportByteLength = script.outputReportLength;
  return true;  // HidP_ calls return a status and leave the last error alone
}

bool HidFreePreparsedData(PreparsedData data) {
  std::lock_guard<std::mutex> lock(hidMutex);
  Object* object = Find(data);
  if (object == nullptr || object->kind != Kind::Preparsed) {
    Misuse("HidD_FreePreparsedData", data);
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  objects.erase(reinterpret_cast<uintptr_t>(data));
  SetLastError(kErrorSuccess);
  return true;
}

}  // namespace bus

namespace {

template <typename Result, typename Call>
Result Gated(Call call, void (*dispose)(void*) = nullptr, bool reportWrite = false) {
  sim::detail::EnterSystemCall(reportWrite);
  const Result result = call();
  void* disposable = nullptr;
  if constexpr (std::is_pointer_v<Result>) disposable = result;
  sim::detail::LeaveSystemCall(dispose, disposable);
  return result;
}

void DisposeSet(void* set) { bus::CloseInterfaceSet(set); }
void DisposeHandle(void* handle) { bus::CloseHandle(handle); }

uint32_t WriteTimeOf(plat::Handle handle) {
  std::lock_guard<std::mutex> lock(hidMutex);
  const Object* object = Find(handle);
  if (object == nullptr || object->device < 0) return 0;
  return devices[static_cast<size_t>(object->device)].script.writeMs;
}

}  // namespace

namespace plat {

void HidGetHidGuid(Guid* guid) { *guid = kHidGuid; }

Handle OpenInterfaceSet(const Guid* guid, uint32_t flags) {
  return Gated<Handle>([&] { return bus::OpenInterfaceSet(guid, flags); }, DisposeSet);
}

bool NextInterface(Handle set, const Guid* guid, uint32_t index, DeviceInterfaceData* data) {
  return Gated<bool>([&] { return bus::NextInterface(set, guid, index, data); });
}

bool GetInterfaceDetail(Handle set, DeviceInterfaceData* data, DeviceInterfaceDetail* detail,
                        uint32_t detailSize, uint32_t* requiredSize) {
  return Gated<bool>(
      [&] { return bus::GetInterfaceDetail(set, data, detail, detailSize, requiredSize); });
}

bool CloseInterfaceSet(Handle set) {
  return Gated<bool>([&] { return bus::CloseInterfaceSet(set); });
}

Handle CreateDeviceFile(const char* path, bool overlapped) {
  return Gated<Handle>([&] { return bus::CreateDeviceFile(path, overlapped); }, DisposeHandle);
}

bool CloseHandle(Handle handle) {
  return Gated<bool>([&] { return bus::CloseHandle(handle); });
}

Handle CreateEventObject(bool manualReset, bool initialState, const char* name) {
  return Gated<Handle>([&] { return bus::CreateEventObject(manualReset, initialState, name); },
                       DisposeHandle);
}

bool WriteFile(Handle handle, const void* data, uint32_t length, uint32_t* written) {
  return Gated<bool>(
      [&] {
        const bool ok = bus::WriteFile(handle, data, length, written);
        sim::detail::PassTime(WriteTimeOf(handle));
        return ok;
      },
      nullptr, true);
}

bool HidGetAttributes(Handle device, HidAttributes* attributes) {
  return Gated<bool>([&] { return bus::HidGetAttributes(device, attributes); });
}

bool HidGetPreparsedData(Handle device, PreparsedData* data) {
  return Gated<bool>([&] { return bus::HidGetPreparsedData(device, data); });
}

bool HidPGetCaps(PreparsedData data, HidCaps* caps) {
  return Gated<bool>([&] { return bus::HidPGetCaps(data, caps); });
}

bool HidFreePreparsedData(PreparsedData data) {
  return Gated<bool>([&] { return bus::HidFreePreparsedData(data); });
}

bool HidGetProductString(Handle device, void* buffer, uint32_t length) {
  return Gated<bool>([&] { return ReadString(device, buffer, length, true); });
}

bool HidGetManufacturerString(Handle device, void* buffer, uint32_t length) {
  return Gated<bool>([&] { return ReadString(device, buffer, length, false); });
}

}  // namespace plat
