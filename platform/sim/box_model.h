// One simulated TARVOKEY box, and the HID bus it sits on, for both simulators:
// the native tests' seam backend (sim_hid.cpp) and the Wine host's patched
// imports (tests/win32/host/sim_box.cpp). Plain C++ with no operating system in
// it: an adapter brings the clock, thread ids, last error and a lock through
// Hooks, reaches the model only through Lock() (`box.Lock()->Plug(device)`),
// and lets a stalled write or a held enumeration take its time between two
// such calls.
//
// Every call is checked against the Win32 contract the driver relies on
// (record sizes, flags, handle lifetimes, report lengths). A call real Windows
// would reject or crash on is recorded as a breach, even where the driver
// happens to survive it here.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/box_identity.h"
#include "platform/platform.h"

namespace sim {

// A Gen.3.1 box as the simulated box reports it unless a test says otherwise:
// generation digits "3" and "1" at positions 13 and 15.
constexpr char16_t kSimulatedProduct[] = u"TARVOKEY HID 3.1";
constexpr char16_t kSimulatedManufacturer[] = u"TARVOKEY";
constexpr uint16_t kSimulatedReportLength = 9;

// One HID device as the system lists it, and the faults scripted for it.
struct HidDevice {
  uint16_t vendorId = tarvokey::kVendorId;
  uint16_t productId = tarvokey::kProductId;
  // UTF-16, as the HID class returns them.
  std::u16string product = kSimulatedProduct;
  std::u16string manufacturer = kSimulatedManufacturer;
  bool stringsReadable = true;
  // HIDP_CAPS.OutputReportByteLength, report ID byte included.
  uint16_t outputReportLength = kSimulatedReportLength;

  bool failOpen = false;           // CreateFileA: ERROR_ACCESS_DENIED
  bool failAttributes = false;     // HidD_GetAttributes
  bool failPreparsedData = false;  // HidD_GetPreparsedData
  bool failCaps = false;           // HidP_GetCaps
  bool failDetailQuery = false;    // SetupDiGetDeviceInterfaceDetailA reports no size
  // The size the detail query reports instead of the true one.
  std::optional<uint32_t> reportedDetailSize;
  // The detail record's path comes without its terminating zero, and the
  // reported size does not count one.
  bool pathUnterminated = false;
};

enum class EventKind {
  Enumerate,   // SetupDiGetClassDevsA: a discovery starts
  Open,        // CreateFileA on a device path
  OpenFailed,  // the same, refused
  Close,       // CloseHandle of a device handle
  Write,       // WriteFile on a device handle, succeeded or not
};

struct BoxEvent {
  EventKind kind;
  double ms;       // when the call returned
  double startMs;  // when it was made
  uint32_t threadId;
  int slot;                    // the device, -1 for none
  uintptr_t handle;            // 0 for none
  bool overlapped;             // Open: with FILE_FLAG_OVERLAPPED
  bool ok;                     // Write: the whole report reached the box
  uint32_t error;              // Write: the last error it left, 0 when it succeeded
  std::vector<uint8_t> bytes;  // Write: the report as given

  uint8_t line() const {
    return bytes.size() > tarvokey::kLineByteAt ? bytes[tarvokey::kLineByteAt] : 0xFF;
  }
};

// Handles and data the driver holds right now.
struct HandleCounts {
  int device = 0;  // CreateFileA without FILE_FLAG_OVERLAPPED
  int read = 0;    // CreateFileA with FILE_FLAG_OVERLAPPED
  int events = 0;
  int infoSets = 0;
  int preparsedData = 0;
  int claims = 0;
  int Total() const { return device + read + events + infoSets + preparsedData + claims; }
};

// Running counts, kept as the events are logged.
struct Tally {
  size_t writes = 0;  // succeeded or not
  size_t failedWrites = 0;
  int discoveries = 0;  // information sets made
  int eventsCreated = 0;
  double lastWriteMs = -1;  // when the latest write returned; -1 before the first
};

// For FailNextWrites and the like: every write from now on.
constexpr int kEveryWrite = -1;

class BoxModel {
 public:
  struct Hooks {
    double (*nowMs)();
    uint32_t (*threadId)();
    void (*setLastError)(uint32_t code);
    void (*lock)();  // recursive; the hooks above run under it
    void (*unlock)();
  };
  // The model with the adapter's lock held, for one full expression or scope.
  class Locked {
   public:
    explicit Locked(BoxModel& model) : model_(model) { model_.hooks_.lock(); }
    ~Locked() { model_.hooks_.unlock(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    BoxModel* operator->() const { return &model_; }
    BoxModel& operator*() const { return model_; }

   private:
    BoxModel& model_;
  };
  Locked Lock() { return Locked(*this); }
  static constexpr plat::Guid kHidGuid = {
      0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

  // Handle values are given out from firstHandle on and never twice, so a
  // second close is always seen.
  BoxModel(const Hooks& hooks, uintptr_t firstHandle);

  // ---- the bus, as a test sets it up ------------------------------------------
  // Names the bus the devices plugged from now on sit on: their paths carry
  // it. A box's claim is named after its path, so two programs' simulated
  // boxes are one box to the claim only when they sit on one bus.
  void SetBus(const std::string& bus) { bus_ = bus; }
  // Adds a device behind the others in enumeration order; returns its slot.
  int Plug(const HidDevice& device);
  // Its script, to change; its presence and open handles stay as they are.
  HidDevice& Device(int slot) { return slots_.at(static_cast<size_t>(slot)).script; }
  // Unplugged: no longer listed, and every handle opened on it fails for good
  // with ERROR_DEVICE_NOT_CONNECTED. Replugged: back in its place as a new
  // device instance; only handles opened afterwards work.
  void Unplug(int slot) { slots_.at(static_cast<size_t>(slot)).present = false; }
  void Replug(int slot);
  // The next `count` writes (or kEveryWrite) fail with `error`; say they
  // succeeded but write one byte short; take `ms` before they return.
  void FailNextWrites(int count, uint32_t error = plat::kErrorGenFailure) {
    failWrites_ = {count, error};
  }
  void ShortenNextWrites(int count) { shortWrites_ = {count, 0}; }
  void StallNextWrites(int count, uint32_t ms) { stallWrites_ = {count, ms}; }

  // The device path the system lists for a slot.
  const std::string& PathOf(int slot) const { return slots_.at(static_cast<size_t>(slot)).path; }

  // Who holds a claim name elsewhere, as CreateMutexA shows it: a program of
  // this user (ERROR_ALREADY_EXISTS), one this program may not open, run as
  // administrator or another user's (ERROR_ACCESS_DENIED), or an object of
  // another kind under the name (ERROR_INVALID_HANDLE).
  enum class Holder { ThisUser, Elevated, OtherKind };
  void HoldClaimElsewhere(const std::string& name, Holder holder);
  void ReleaseClaimElsewhere(const std::string& name) { claimsElsewhere_.erase(name); }
  // This program may not make names in the global namespace (a sandboxed
  // host): CreateMutexA fails with ERROR_ACCESS_DENIED, as it does for a
  // holder it may not open.
  void ForbidClaims(bool forbidden) { claimsForbidden_ = forbidden; }
  // The claims this program holds, by name.
  std::vector<std::string> HeldClaims() const;

  // ---- the calls, each the Win32 call its comment names ---------------------
  // Around every call on the device link: the driver uses it from one thread
  // at a time. Events logged meanwhile start when EnterCall was made.
  void EnterCall(const char* name);
  void LeaveCall() { --callers_; }
  // SetupDiGetClassDevsA, SetupDiEnumDeviceInterfaces,
  // SetupDiGetDeviceInterfaceDetailA, SetupDiDestroyDeviceInfoList.
  plat::Handle OpenInterfaceSet(const plat::Guid* guid, uint32_t flags);
  bool NextInterface(plat::Handle set, const plat::Guid* guid, uint32_t index,
                     plat::DeviceInterfaceData* data);
  bool GetInterfaceDetail(plat::Handle set, const plat::DeviceInterfaceData* data,
                          plat::DeviceInterfaceDetail* detail, uint32_t detailSize,
                          uint32_t* requiredSize);
  bool CloseInterfaceSet(plat::Handle set);
  // The slot whose path this is, or -1.
  int SlotOfPath(const char* path) const;
  // CreateFileA on a device path (nullptr on failure), CloseHandle.
  plat::Handle CreateDeviceFile(const char* path, bool overlapped);
  bool CloseHandle(plat::Handle handle);
  // CreateEventA, for the read side's event.
  plat::Handle CreateEventObject(bool manualReset, bool initialState, const char* name);
  // WriteFile, in two steps so that the adapter lets the write take its time
  // between them, with the lock free: Begin decides what the write does, End
  // logs it as it returns.
  struct Write {
    bool logged = false;  // false: no device handle, nothing reached the bus
    bool returns = false;
    uint32_t written = 0;
    uint32_t stallMs = 0;
    BoxEvent event{};
  };
  Write BeginWrite(plat::Handle handle, const void* data, uint32_t length);
  bool EndWrite(Write write, uint32_t* written);
  // HidD_GetAttributes, HidD_GetPreparsedData, HidP_GetCaps (true for
  // HIDP_STATUS_SUCCESS), HidD_FreePreparsedData, HidD_GetProductString and
  // HidD_GetManufacturerString.
  bool GetAttributes(plat::Handle device, plat::HidAttributes* attributes);
  bool GetPreparsedData(plat::Handle device, plat::PreparsedData* data);
  bool GetCaps(plat::PreparsedData data, plat::HidCaps* caps);
  bool FreePreparsedData(plat::PreparsedData data);
  bool GetString(plat::Handle device, void* buffer, uint32_t length, bool product);
  // CreateMutexA(nullptr, FALSE, name), then OpenMutexA where it must, as
  // plat::TakeClaim uses them.
  plat::ClaimOutcome TakeClaim(const char* name, plat::Handle* claim, uint32_t* error);
  // OpenMutexA as plat::ClaimHeld uses it.
  bool ClaimHeld(const std::string& name) const;

  // A breach seen by an adapter, in an argument only the Win32 call has.
  void Breach(const std::string& what) { breaches_.push_back(what); }

  // ---- what happened ----------------------------------------------------------
  // Copies, so that the lock need not be held while they are read.
  std::vector<BoxEvent> Events() const { return events_; }
  std::vector<BoxEvent> Writes() const;  // the Write events: every WriteFile, in order
  Tally Counts() const { return tally_; }
  std::vector<std::string> Breaches() const { return breaches_; }
  HandleCounts OpenHandles() const;

 private:
  enum class Kind { Device, Read, Event, InfoSet, Preparsed, Claim };
  struct Slot {
    HidDevice script;
    std::string path;
    bool present = true;
    int instance = 0;  // bumped by every replug: handles of an older one are dead
  };
  struct Object {
    Kind kind;
    int slot;                  // -1 for events and sets
    int instance;              // the slot's, when opened
    std::vector<int> members;  // an information set's slots, in enumeration order
    std::string name;          // a claim's
  };
  struct Countdown {
    int count = 0;
    uint32_t value = 0;
    // Whether this write is one of the next `count`.
    bool Take() { return count != 0 && (count < 0 || count-- > 0); }
  };
  static constexpr unsigned Bit(Kind kind) { return 1u << static_cast<int>(kind); }
  static const unsigned kFileKinds;  // the kinds of a device handle
  plat::Handle Add(Object object);
  // The object behind a handle if it is one of `kinds`; else nullptr, and a breach.
  Object* Find(plat::Handle handle, const char* call, unsigned kinds);
  // The slot behind a device or read handle while it can still be reached;
  // nullptr with the last error set otherwise.
  Slot* Reach(plat::Handle handle, const char* call);
  void Log(EventKind kind, int slot, plat::Handle handle, bool overlapped);
  bool Fail(uint32_t error) {
    hooks_.setLastError(error);
    return false;
  }
  bool Succeed() {
    hooks_.setLastError(plat::kErrorSuccess);
    return true;
  }

  Hooks hooks_;
  uintptr_t nextHandle_;
  std::vector<Slot> slots_;
  std::map<uintptr_t, Object> objects_;
  Countdown failWrites_, shortWrites_, stallWrites_;
  std::map<std::string, Holder> claimsElsewhere_;
  bool claimsForbidden_ = false;
  std::string bus_;
  int callers_ = 0;
  double callStartMs_ = 0;
  std::vector<BoxEvent> events_;
  Tally tally_;
  std::vector<std::string> breaches_;
};

}  // namespace sim
