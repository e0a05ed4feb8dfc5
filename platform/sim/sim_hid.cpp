// The seam's HID class, device setup and device file calls, served by the box
// model: each passes the tick's trampoline as on Windows, on the virtual clock.
#include "platform/sim/sim_hid.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <type_traits>

#include "platform/sim/sim.h"

namespace {

using sim::BoxModel;

// Ticks call in from the timer thread.
std::recursive_mutex hidMutex;

uint32_t ThreadId() {
  return static_cast<uint32_t>(std::hash<std::thread::id>{}(std::this_thread::get_id()));
}

constexpr BoxModel::Hooks kHooks = {[] { return static_cast<double>(sim::NowMs()); }, &ThreadId,
                                    &plat::SetLastError, [] { hidMutex.lock(); },
                                    [] { hidMutex.unlock(); }};
constexpr uintptr_t kFirstHandle = 0x1000;
BoxModel model(kHooks, kFirstHandle);

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

// A device call through the tick's trampoline: a tick abandoned meanwhile
// returns to winmm when it returns, and its result (or, with `written`, what
// the call wrote there) is handed to `dispose`. Named calls are on the device
// link, which one thread at a time may use.
template <typename Result, typename Call>
Result ThroughTrampoline(const char* name, Call call, void (*dispose)(void*) = nullptr,
                         bool write = false, void* const* written = nullptr) {
  sim::detail::EnterSystemCall(write, name);
  if (name != nullptr) sim::Box()->EnterCall(name);
  const Result result = call();
  if (name != nullptr) sim::Box()->LeaveCall();
  void* disposable = nullptr;
  if constexpr (std::is_pointer_v<Result>) disposable = result;
  if (written != nullptr) disposable = *written;
  sim::detail::LeaveSystemCall(dispose, disposable);
  return result;
}

void DisposeSet(void* set) { sim::Box()->CloseInterfaceSet(set); }
void DisposeHandle(void* handle) { sim::Box()->CloseHandle(handle); }
void DisposePreparsed(void* data) { sim::Box()->FreePreparsedData(data); }

// The same for a call the model answers at once.
template <typename Result, typename... Params, typename... Args>
Result Pass(const char* name, Result (BoxModel::*method)(Params...), Args... args) {
  return ThroughTrampoline<Result>(name, [&] { return ((*sim::Box()).*method)(args...); });
}

}  // namespace

namespace sim {

BoxModel::Locked Box() { return model.Lock(); }

int AttachBox(uint16_t outputReportLength) {
  HidDevice box;
  box.outputReportLength = outputReportLength;
  return Box()->Plug(box);
}

std::vector<BoxEvent> HidReports() {
  std::vector<BoxEvent> reports;
  for (BoxEvent& write : Box()->Writes()) {
    if (write.ok) reports.push_back(std::move(write));
  }
  return reports;
}

int HidOpens(int slot) {
  int opens = 0;
  for (const BoxEvent& e : Box()->Events()) opens += e.kind == EventKind::Open && e.slot == slot;
  return opens;
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

namespace detail {
void ResetHid() {
  ReleaseEnumerations();
  *Box() = BoxModel(kHooks, kFirstHandle);
}
}  // namespace detail

}  // namespace sim

namespace plat {

void HidGetHidGuid(Guid* guid) { *guid = BoxModel::kHidGuid; }

Handle OpenInterfaceSet(const Guid* guid, uint32_t flags) {
  const auto open = [&] {
    WaitWhileEnumerationsHeld();
    return sim::Box()->OpenInterfaceSet(guid, flags);
  };
  return ThroughTrampoline<Handle>("SetupDiGetClassDevsA", open, DisposeSet);
}

bool NextInterface(Handle set, const Guid* guid, uint32_t index, DeviceInterfaceData* data) {
  return Pass("SetupDiEnumDeviceInterfaces", &BoxModel::NextInterface, set, guid, index, data);
}

bool GetInterfaceDetail(Handle set, DeviceInterfaceData* data, DeviceInterfaceDetail* detail,
                        uint32_t detailSize, uint32_t* requiredSize) {
  return Pass("SetupDiGetDeviceInterfaceDetailA", &BoxModel::GetInterfaceDetail, set,
              static_cast<const DeviceInterfaceData*>(data), detail, detailSize, requiredSize);
}

bool CloseInterfaceSet(Handle set) {
  return Pass("SetupDiDestroyDeviceInfoList", &BoxModel::CloseInterfaceSet, set);
}

Handle CreateDeviceFile(const char* path, bool overlapped) {
  const auto open = [&] { return sim::Box()->CreateDeviceFile(path, overlapped); };
  return ThroughTrampoline<Handle>("CreateFileA", open, DisposeHandle);
}

bool CloseHandle(Handle handle) { return Pass("CloseHandle", &BoxModel::CloseHandle, handle); }

Handle CreateEventObject(bool manualReset, bool initialState, const char* name) {
  const auto create = [&] {
    return sim::Box()->CreateEventObject(manualReset, initialState, name);
  };
  return ThroughTrampoline<Handle>(nullptr, create, DisposeHandle);
}

bool WriteFile(Handle handle, const void* data, uint32_t length, uint32_t* written) {
  const auto write = [&] {
    const BoxModel::Write begun = sim::Box()->BeginWrite(handle, data, length);
    sim::detail::PassTime(begun.stallMs);
    return sim::Box()->EndWrite(begun, written);
  };
  return ThroughTrampoline<bool>("WriteFile", write, nullptr, true);
}

bool HidGetAttributes(Handle device, HidAttributes* attributes) {
  return Pass("HidD_GetAttributes", &BoxModel::GetAttributes, device, attributes);
}

bool HidGetPreparsedData(Handle device, PreparsedData* data) {
  const auto get = [&] { return sim::Box()->GetPreparsedData(device, data); };
  return ThroughTrampoline<bool>("HidD_GetPreparsedData", get, DisposePreparsed, false, data);
}

bool HidPGetCaps(PreparsedData data, HidCaps* caps) {
  return Pass("HidP_GetCaps", &BoxModel::GetCaps, data, caps);
}

bool HidFreePreparsedData(PreparsedData data) {
  return Pass("HidD_FreePreparsedData", &BoxModel::FreePreparsedData, data);
}

bool HidGetProductString(Handle device, void* buffer, uint32_t length) {
  return Pass("HidD_GetProductString", &BoxModel::GetString, device, buffer, length, true);
}

bool HidGetManufacturerString(Handle device, void* buffer, uint32_t length) {
  return Pass("HidD_GetManufacturerString", &BoxModel::GetString, device, buffer, length, false);
}

ClaimOutcome TakeClaim(const char* name, Handle* claim, uint32_t* error) {
  // The claim made is the call's result to dispose of.
  return ThroughTrampoline<ClaimOutcome>(
      nullptr, [&] { return sim::Box()->TakeClaim(name, claim, error); }, DisposeHandle, false,
      claim);
}

bool ClaimHeld(const char* name) { return sim::Box()->ClaimHeld(name); }

}  // namespace plat
