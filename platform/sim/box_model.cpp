// The simulated box and its bus: the HID class and device setup calls with the
// quirks of the real ones, the Win32 contract they hold the driver to, and a
// log of what the driver did.
#include "platform/sim/box_model.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>

namespace sim {
namespace {

using namespace plat;

constexpr uint32_t kSpintActive = 1;
constexpr uint32_t kWantedFlags = kDigcfPresent | kDigcfDeviceInterface;
// Where the path starts in SP_DEVICE_INTERFACE_DETAIL_DATA_A.
constexpr size_t kPathOffset = offsetof(DeviceInterfaceDetail, DevicePath);

bool IsHidGuid(const Guid* guid) {
  return guid != nullptr && std::memcmp(guid, &BoxModel::kHidGuid, sizeof(Guid)) == 0;
}

uintptr_t Value(Handle handle) { return reinterpret_cast<uintptr_t>(handle); }
using Bytes = std::vector<uint8_t>;

}  // namespace

const unsigned BoxModel::kFileKinds = Bit(Kind::Device) | Bit(Kind::Read);

BoxModel::BoxModel(const Hooks& hooks, uintptr_t firstHandle)
    : hooks_(hooks), nextHandle_(firstHandle) {}

int BoxModel::Plug(const HidDevice& device) {
  const int slot = static_cast<int>(slots_.size());
  char path[160];
  std::snprintf(path, sizeof path,
                "\\\\?\\hid#vid_%04x&pid_%04x#sim&%s%s%d#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                device.vendorId, device.productId, bus_.c_str(), bus_.empty() ? "" : "&", slot);
  slots_.push_back(Slot{device, path});
  return slot;
}

void BoxModel::Replug(int slot) {
  Slot& s = slots_.at(static_cast<size_t>(slot));
  s.present = true;
  ++s.instance;
}

void BoxModel::EnterCall(const char* name) {
  if (++callers_ > 1) Breach(std::string(name) + ": device link entered by two threads at once");
  callStartMs_ = hooks_.nowMs();
}

Handle BoxModel::Add(Object object) {
  const uintptr_t value = std::exchange(nextHandle_, nextHandle_ + 4);
  objects_[value] = std::move(object);
  return reinterpret_cast<Handle>(value);
}

BoxModel::Object* BoxModel::Find(Handle handle, const char* call, unsigned kinds) {
  auto it = objects_.find(Value(handle));
  if (it != objects_.end() && (Bit(it->second.kind) & kinds) != 0) return &it->second;
  char line[96];
  std::snprintf(line, sizeof line, "%s on a handle it does not hold: %p", call, handle);
  Breach(line);
  return nullptr;
}

BoxModel::Slot* BoxModel::Reach(Handle handle, const char* call) {
  // A null handle is a device the driver could not open: refused, harmlessly.
  Object* object = handle != nullptr ? Find(handle, call, kFileKinds) : nullptr;
  if (object == nullptr) return Fail(kErrorInvalidHandle), nullptr;
  Slot& slot = slots_[static_cast<size_t>(object->slot)];
  if (!slot.present || slot.instance != object->instance) {
    return Fail(kErrorDeviceNotConnected), nullptr;
  }
  return &slot;
}

void BoxModel::Log(EventKind kind, int slot, Handle handle, bool overlapped) {
  events_.push_back(BoxEvent{kind, hooks_.nowMs(), callStartMs_, hooks_.threadId(), slot,
                             Value(handle), overlapped, kind != EventKind::OpenFailed, 0, Bytes()});
}

Handle BoxModel::OpenInterfaceSet(const Guid* guid, uint32_t flags) {
  if (!IsHidGuid(guid) || flags != kWantedFlags) {
    Breach("SetupDiGetClassDevsA not for present HID interfaces, flags " + std::to_string(flags));
  }
  Object set{Kind::InfoSet, -1, 0, {}, {}};
  for (size_t slot = 0; slot < slots_.size(); ++slot) {
    if (slots_[slot].present) set.members.push_back(static_cast<int>(slot));
  }
  const Handle handle = Add(std::move(set));
  ++tally_.discoveries;
  Log(EventKind::Enumerate, -1, handle, false);
  hooks_.setLastError(kErrorSuccess);
  return handle;
}

bool BoxModel::NextInterface(Handle set, const Guid* guid, uint32_t index,
                             DeviceInterfaceData* data) {
  const Object* object = Find(set, "SetupDiEnumDeviceInterfaces", Bit(Kind::InfoSet));
  if (object == nullptr) return Fail(kErrorInvalidHandle);
  if (!IsHidGuid(guid)) Breach("SetupDiEnumDeviceInterfaces not for the HID class");
  // cbSize 28, as on 32-bit Windows.
  if (data == nullptr || data->cbSize != kDeviceInterfaceDataSize) {
    Breach("SetupDiEnumDeviceInterfaces with an interface record of the wrong size");
    return Fail(kErrorInvalidUserBuffer);
  }
  if (index >= object->members.size()) return Fail(kErrorNoMoreItems);
  data->InterfaceClassGuid = kHidGuid;
  data->Flags = kSpintActive;
  // The real record points at the set's own data; ours names the slot.
  data->Reserved = static_cast<uint32_t>(object->members[index] + 1);
  return Succeed();
}

bool BoxModel::GetInterfaceDetail(Handle set, const DeviceInterfaceData* data,
                                  DeviceInterfaceDetail* detail, uint32_t detailSize,
                                  uint32_t* requiredSize) {
  const char* call = "SetupDiGetDeviceInterfaceDetailA";
  const Object* object = Find(set, call, Bit(Kind::InfoSet));
  if (object == nullptr) return Fail(kErrorInvalidHandle);
  const int slot = data != nullptr ? static_cast<int>(data->Reserved) - 1 : -1;
  bool listed = false;
  for (int member : object->members) listed = listed || member == slot;
  if (!listed || data->cbSize != kDeviceInterfaceDataSize) {
    Breach(std::string(call) + " with an interface record not from the set");
    return Fail(kErrorInvalidParameter);
  }
  const HidDevice& script = slots_[static_cast<size_t>(slot)].script;
  if (script.failDetailQuery) return Fail(kErrorGenFailure);
  const std::string& path = slots_[static_cast<size_t>(slot)].path;
  const size_t terminator = script.pathUnterminated ? 0 : 1;
  const auto trueSize = static_cast<uint32_t>(kPathOffset + path.size() + terminator);

  // No buffer: the size query, whose normal answer is this failure.
  if (detail == nullptr) {
    if (detailSize != 0) {
      Breach(std::string(call) + ": a size without a buffer");
      return Fail(kErrorInvalidUserBuffer);
    }
    if (requiredSize != nullptr) *requiredSize = script.reportedDetailSize.value_or(trueSize);
    return Fail(kErrorInsufficientBuffer);
  }
  // cbSize is the fixed part of the record (5 on 32-bit Windows), not the
  // size it was allocated at.
  if (detailSize < kDeviceInterfaceDetailSize || detail->cbSize != kDeviceInterfaceDetailSize) {
    Breach(std::string(call) + " with a detail record whose size field is not 5");
    return Fail(kErrorInvalidUserBuffer);
  }
  if (requiredSize != nullptr) *requiredSize = trueSize;
  if (detailSize < trueSize) {
    // Unless the box lied about the size, the driver did not use the one it was told.
    if (!script.reportedDetailSize) Breach(std::string(call) + ": a buffer smaller than asked for");
    return Fail(kErrorInsufficientBuffer);
  }
  std::memcpy(reinterpret_cast<char*>(detail) + kPathOffset, path.c_str(),
              path.size() + terminator);
  return Succeed();
}

bool BoxModel::CloseInterfaceSet(Handle set) {
  if (Find(set, "SetupDiDestroyDeviceInfoList", Bit(Kind::InfoSet)) == nullptr) {
    return Fail(kErrorInvalidHandle);
  }
  objects_.erase(Value(set));
  return Succeed();
}

int BoxModel::SlotOfPath(const char* path) const {
  for (size_t slot = 0; path != nullptr && slot < slots_.size(); ++slot) {
    if (slots_[slot].path == path) return static_cast<int>(slot);
  }
  return -1;
}

Handle BoxModel::CreateDeviceFile(const char* path, bool overlapped) {
  const int slot = SlotOfPath(path);
  if (slot < 0) return Fail(path != nullptr ? kErrorFileNotFound : kErrorInvalidParameter), nullptr;
  const Slot& s = slots_[static_cast<size_t>(slot)];
  if (!s.present || s.script.failOpen) {
    Log(EventKind::OpenFailed, slot, nullptr, overlapped);
    return Fail(s.present ? kErrorAccessDenied : kErrorFileNotFound), nullptr;
  }
  const Handle handle =
      Add(Object{overlapped ? Kind::Read : Kind::Device, slot, s.instance, {}, {}});
  Log(EventKind::Open, slot, handle, overlapped);
  hooks_.setLastError(kErrorSuccess);
  return handle;
}

bool BoxModel::CloseHandle(Handle handle) {
  const Object* object =
      Find(handle, "CloseHandle", kFileKinds | Bit(Kind::Event) | Bit(Kind::Claim));
  if (object == nullptr) return Fail(kErrorInvalidHandle);
  if (object->kind == Kind::Device || object->kind == Kind::Read) {
    Log(EventKind::Close, object->slot, handle, object->kind == Kind::Read);
  }
  // Like the real call, success leaves the last error alone.
  objects_.erase(Value(handle));
  return true;
}

Handle BoxModel::CreateEventObject(bool manualReset, bool initialState, const char* name) {
  // Manual reset, signalled, and unnamed: a named event would be shared with
  // any other process that used the name.
  if (!manualReset || !initialState || (name != nullptr && *name != '\0')) {
    Breach("CreateEventA not for an unnamed, signalled, manual-reset event");
  }
  ++tally_.eventsCreated;
  hooks_.setLastError(kErrorSuccess);
  return Add(Object{Kind::Event, -1, 0, {}, {}});
}

void BoxModel::HoldClaimElsewhere(const std::string& name, Holder holder) {
  claimsElsewhere_[name] = holder;
}

std::vector<std::string> BoxModel::HeldClaims() const {
  std::vector<std::string> names;
  for (const auto& entry : objects_) {
    if (entry.second.kind == Kind::Claim) names.push_back(entry.second.name);
  }
  return names;
}

bool BoxModel::ClaimHeld(const std::string& name) const {
  return claimsElsewhere_.count(name) != 0;
}

ClaimOutcome BoxModel::TakeClaim(const char* name, Handle* claim, uint32_t* error) {
  *claim = nullptr;
  const std::string wanted = name != nullptr ? name : "";
  // Unnamed, or in this session's namespace, it would claim nothing PC-wide.
  if (wanted.compare(0, 7, "Global\\") != 0) Breach("claim not in the global namespace: " + wanted);
  for (const auto& entry : objects_) {
    if (entry.second.kind == Kind::Claim && entry.second.name == wanted) {
      Breach("claim taken again by the program that holds it: " + wanted);
    }
  }
  const auto elsewhere = claimsElsewhere_.find(wanted);
  if (elsewhere != claimsElsewhere_.end()) {
    static constexpr uint32_t kShownAs[] = {kErrorAlreadyExists, kErrorAccessDenied,
                                            kErrorInvalidHandle};
    *error = kShownAs[static_cast<int>(elsewhere->second)];
    // A sandboxed program is denied whatever is there; OpenMutexA then finds it.
    if (claimsForbidden_ && elsewhere->second != Holder::OtherKind) *error = kErrorAccessDenied;
    Fail(*error);
    return ClaimOutcome::Held;
  }
  if (claimsForbidden_) {
    *error = kErrorAccessDenied;
    Fail(*error);
    return ClaimOutcome::Unavailable;
  }
  *error = kErrorSuccess;
  hooks_.setLastError(kErrorSuccess);
  *claim = Add(Object{Kind::Claim, -1, 0, {}, wanted});
  return ClaimOutcome::Taken;
}

BoxModel::Write BoxModel::BeginWrite(Handle handle, const void* data, uint32_t length) {
  Write write;
  const Object* object = Find(handle, "WriteFile", kFileKinds);
  if (object == nullptr) return Fail(kErrorInvalidHandle), write;
  write.logged = true;
  BoxEvent& event = write.event;
  event = BoxEvent{EventKind::Write,
                   0,
                   callStartMs_,
                   hooks_.threadId(),
                   object->slot,
                   Value(handle),
                   false,
                   false,
                   0,
                   Bytes()};
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (bytes != nullptr) event.bytes.assign(bytes, bytes + length);
  const Slot& slot = slots_[static_cast<size_t>(object->slot)];
  const uint16_t declared = slot.script.outputReportLength;
  if (object->kind == Kind::Read) {
    Breach("report written through the overlapped handle, which needs an OVERLAPPED record");
    event.error = kErrorInvalidParameter;
  } else if (bytes == nullptr || length != declared) {
    // hidclass takes exactly one output report of the declared length
    // (STATUS_INVALID_BUFFER_SIZE, ERROR_INVALID_USER_BUFFER to Win32). An empty
    // write is the driver's while the box has not told it a length.
    if (length != 0) {
      Breach("report of " + std::to_string(length) + " bytes to a device that declares " +
             std::to_string(declared));
    }
    event.error = kErrorInvalidUserBuffer;
  } else if (!slot.present || slot.instance != object->instance) {
    event.error = kErrorDeviceNotConnected;
  } else if (failWrites_.Take()) {
    event.error = failWrites_.value;
  } else if (shortWrites_.Take()) {
    write.returns = true;  // success, but the box did not get the whole report
    write.written = length - 1;
  } else {
    event.ok = write.returns = true;
    write.written = length;
  }
  if (stallWrites_.Take()) write.stallMs = stallWrites_.value;
  return write;
}

bool BoxModel::EndWrite(Write write, uint32_t* written) {
  *written = write.written;
  if (!write.logged) return false;
  write.event.ms = hooks_.nowMs();
  ++tally_.writes;
  if (!write.event.ok) ++tally_.failedWrites;
  tally_.lastWriteMs = write.event.ms;
  hooks_.setLastError(write.event.error);
  events_.push_back(std::move(write.event));
  return write.returns;
}

bool BoxModel::GetAttributes(Handle device, HidAttributes* attributes) {
  const Slot* slot = Reach(device, "HidD_GetAttributes");
  if (slot == nullptr) return false;
  if (attributes == nullptr || attributes->Size != kHidAttributesSize) {
    Breach("HidD_GetAttributes with a record whose Size is not 12");
    return Fail(kErrorInvalidParameter);
  }
  if (slot->script.failAttributes) return Fail(kErrorGenFailure);
  attributes->VendorID = slot->script.vendorId;
  attributes->ProductID = slot->script.productId;
  attributes->VersionNumber = 0x0100;
  return Succeed();
}

bool BoxModel::GetPreparsedData(Handle device, PreparsedData* data) {
  *data = nullptr;  // as the Win32 backend leaves it on failure
  const Slot* slot = Reach(device, "HidD_GetPreparsedData");
  if (slot == nullptr) return false;
  if (slot->script.failPreparsedData) return Fail(kErrorGenFailure);
  *data =
      Add(Object{Kind::Preparsed, static_cast<int>(slot - slots_.data()), slot->instance, {}, {}});
  return Succeed();
}

bool BoxModel::GetCaps(PreparsedData data, HidCaps* caps) {
  // HidP_ calls return a status and leave the last error alone. The real one
  // reads through the pointer: an access violation at best.
  const Object* object = Find(data, "HidP_GetCaps", Bit(Kind::Preparsed));
  if (object == nullptr) return false;
  const HidDevice& script = slots_[static_cast<size_t>(object->slot)].script;
  *caps = HidCaps{};
  // HIDP_STATUS_INVALID_PREPARSED_DATA, and the record is not to be trusted.
  if (script.failCaps) return false;
  caps->Usage = 0x01;
  caps->UsagePage = 0xFF00;
  caps->InputReportByteLength = caps->OutputReportByteLength = script.outputReportLength;
  return true;
}

bool BoxModel::FreePreparsedData(PreparsedData data) {
  if (Find(data, "HidD_FreePreparsedData", Bit(Kind::Preparsed)) == nullptr) {
    return Fail(kErrorInvalidParameter);
  }
  objects_.erase(Value(data));
  return Succeed();
}

bool BoxModel::GetString(Handle device, void* buffer, uint32_t length, bool product) {
  const Slot* slot =
      Reach(device, product ? "HidD_GetProductString" : "HidD_GetManufacturerString");
  if (slot == nullptr) return false;
  if (!slot->script.stringsReadable) return Fail(kErrorGenFailure);
  std::u16string text = product ? slot->script.product : slot->script.manufacturer;
  text.push_back(u'\0');
  // All of it or nothing: a buffer too small for the string and its zero gets nothing.
  if (buffer == nullptr || length / 2 < text.size()) return Fail(kErrorInvalidUserBuffer);
  auto* out = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i < text.size(); ++i) {
    out[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);  // UTF-16LE
    out[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return Succeed();
}

std::vector<BoxEvent> BoxModel::Writes() const {
  std::vector<BoxEvent> writes;
  for (const BoxEvent& e : events_) {
    if (e.kind == EventKind::Write) writes.push_back(e);
  }
  return writes;
}

HandleCounts BoxModel::OpenHandles() const {
  HandleCounts counts;
  int* of[] = {&counts.device,   &counts.read,          &counts.events,
               &counts.infoSets, &counts.preparsedData, &counts.claims};
  for (const auto& entry : objects_) ++*of[static_cast<int>(entry.second.kind)];
  return counts;
}

}  // namespace sim
