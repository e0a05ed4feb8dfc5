// MMTTY loads and frees the module at every port change and every Suspend and
// Resume: nothing may stay behind, neither a handle nor memory. The module is
// loaded bare here, without the simulated box, whose record of every call
// would grow this process's own memory; with no box on the bus the plug-in
// looks for one through Wine's own device setup and HID classes.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "host/scenario.h"

namespace {

// What the system's handle table holds for this process (Wine's
// GetProcessHandleCount answers 0).
int OpenHandles() {
  struct Entry {  // SYSTEM_HANDLE_TABLE_ENTRY_INFO
    USHORT processId;
    USHORT creatorBackTraceIndex;
    UCHAR objectType;
    UCHAR attributes;
    USHORT value;
    void* object;
    ULONG access;
  };
  using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  constexpr ULONG kSystemHandleInformation = 16;
  constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  REQUIRE(query != nullptr);
  std::vector<ULONG> table(16384);
  LONG status;
  while ((status = query(kSystemHandleInformation, table.data(),
                         static_cast<ULONG>(table.size() * sizeof(ULONG)), nullptr)) ==
         kInfoLengthMismatch) {
    table.resize(table.size() * 2);
  }
  REQUIRE(status == 0);
  const auto* entries = reinterpret_cast<const Entry*>(table.data() + 1);
  int ours = 0;
  for (ULONG i = 0; i < table[0]; ++i) {
    ours += entries[i].processId == static_cast<USHORT>(GetCurrentProcessId());
  }
  return ours;
}

// Private memory committed in this process, region by region (Wine reports
// PrivateUsage as 0).
size_t CommittedBytes() {
  size_t committed = 0;
  MEMORY_BASIC_INFORMATION region;
  for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) committed += region.RegionSize;
    const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return committed;
}

// Bytes in use on every heap of this process, block by block: a leak of a
// few bytes shows here long before it needs another committed page.
size_t HeapBytesInUse() {
  HANDLE heaps[64];
  const DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
  size_t used = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) used += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return used;
}

struct Footprint {
  int handles;
  size_t committed;
  size_t heap;
};

Footprint Measure() { return {OpenHandles(), CommittedBytes(), HeapBytesInUse()}; }

// A leak grows with the cycles, in every part of the run; what the system
// sets up once grows one part (Wine commits memory in 64 KB blocks, and one
// such block came once in a while). So the cycles run in quarters, measured
// after each, and a measure that grew in all four is a leak, of any size per
// cycle. Handles are counted exactly.
template <typename Cycle>
void CheckNothingLeft(const char* what, int cycles, Cycle cycle) {
  Footprint marks[5] = {Measure()};
  for (int quarter = 1; quarter <= 4; ++quarter) {
    for (int i = 0; i < cycles / 4; ++i) cycle((quarter - 1) * (cycles / 4) + i);
    marks[quarter] = Measure();
  }
  std::string committed, heap;
  bool committedGrew = true, heapGrew = true;
  for (int quarter = 1; quarter <= 4; ++quarter) {
    const Footprint &from = marks[quarter - 1], &to = marks[quarter];
    char figure[32];
    std::snprintf(figure, sizeof figure, " %+.1f",
                  (static_cast<double>(to.committed) - static_cast<double>(from.committed)) / 1024);
    committed += figure;
    std::snprintf(figure, sizeof figure, " %+ld",
                  static_cast<long>(to.heap) - static_cast<long>(from.heap));
    heap += figure;
    committedGrew = committedGrew && to.committed > from.committed;
    heapGrew = heapGrew && to.heap > from.heap;
  }
  std::printf(
      "%d cycles of %s: handles %d -> %d; by quarter, committed memory%s KB, heap bytes in use "
      "(%lu at first)%s\n",
      cycles, what, marks[0].handles, marks[4].handles, committed.c_str(),
      static_cast<unsigned long>(marks[0].heap), heap.c_str());
  CHECK_EQ(marks[4].handles, marks[0].handles);
  CHECK(!committedGrew);
  CHECK(!heapGrew);
}

class BareModule {
 public:
  explicit BareModule(const Env& env) : module_(LoadLibraryA(WindowsPath(env.plugin).c_str())) {
    REQUIRE(module_ != nullptr);
  }
  ~BareModule() { FreeLibrary(module_); }
  BareModule(const BareModule&) = delete;
  BareModule& operator=(const BareModule&) = delete;

  int32_t Open() {
    return Export<int32_t(WINAPI*)(int32_t)>("extfskOpen")(Plugin::kMmttyOpenArgument);
  }
  void Close() { Export<void(WINAPI*)()>("extfskClose")(); }

 private:
  template <typename Fn>
  Fn Export(const char* name) {
    const auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    REQUIRE(fn != nullptr);
    return fn;
  }
  HMODULE module_;
};

// Wine commits a block for each thread's TEB and signal stack, and keeps it
// for the next thread: winmm's timer thread of one cycle still ending as the
// next cycle starts its own would raise that mark, which is Wine's and no
// leak of the module. So each cycle waits for it to end.
void OpenCloseUnload(const Env& env, DWORD keyMs) {
  {
    BareModule module(env);
    CHECK_EQ(module.Open(), 1);
    Sleep(keyMs);
    module.Close();
  }
  CHECK(AwaitOtherThreads(5000));
}

}  // namespace

SCENARIO(load_and_unload_leave_nothing_behind) {
  WriteDefaultSettings();
  // What the first loads and opens bring for good: the system DLLs the
  // module uses, pinned by it, and what Wine sets up for them and for the
  // threads that come and go.
  for (int cycle = 0; cycle < 3; ++cycle) OpenCloseUnload(env, 50);

  CheckNothingLeft("load and unload", 1000, [&](int) { BareModule{env}; });
  CheckNothingLeft("open, close and unload", 200,
                   [&](int cycle) { OpenCloseUnload(env, static_cast<DWORD>(cycle % 25)); });
}
