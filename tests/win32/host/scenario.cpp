#include "scenario.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "iat_patch.h"

void WriteSettingsFile(const std::string& content) {
  FILE* file = std::fopen("tarvokey.ini", "wb");
  REQUIRE(file != nullptr);
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);
}

void WriteDefaultSettings() { WriteSettingsFile("FskRev=0\r\nFskPin=1\r\n"); }

std::string ReadFileBytes(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "";
  std::string content;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, n);
  std::fclose(file);
  return content;
}

void RemoveFile(const std::string& path) { std::remove(path.c_str()); }

std::vector<uint8_t> ReportBytes(uint8_t line, size_t length) {
  std::vector<uint8_t> bytes(length, 0);
  const uint8_t head[3] = {0x00, 0x01, line};
  for (size_t i = 0; i < length && i < 3; ++i) bytes[i] = head[i];
  return bytes;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char part[4];
  for (uint8_t b : bytes) {
    std::snprintf(part, sizeof part, "%02X ", b);
    text += part;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

std::vector<box::Event> ReportsFrom(size_t from) {
  std::vector<box::Event> reports = box::Reports();
  if (from >= reports.size()) return {};
  return std::vector<box::Event>(reports.begin() + static_cast<std::ptrdiff_t>(from),
                                 reports.end());
}

std::vector<box::Event> NextReports(size_t count, DWORD timeoutMs) {
  const size_t from = box::ReportCount();
  if (!box::WaitForReports(from + count, timeoutMs)) {
    check::Fail(__FILE__, __LINE__, "timed out waiting for " + std::to_string(count) + " reports");
  }
  std::vector<box::Event> reports = ReportsFrom(from);
  if (reports.size() > count) reports.resize(count);
  return reports;
}

double WaitUntilNotBusy(Plugin& plugin, DWORD timeoutMs) {
  const double deadline = box::NowMs() + timeoutMs;
  while (plugin.IsTxBusy() != 0) {
    if (box::NowMs() > deadline) return -1;
    Sleep(1);
  }
  return box::NowMs();
}

std::vector<uint8_t> Lines(const std::vector<box::Event>& reports) {
  std::vector<uint8_t> lines;
  for (const box::Event& r : reports) lines.push_back(r.line());
  return lines;
}

timeline::Keying ReadKeying(const std::vector<box::Event>& reports,
                            const timeline::Wiring& wiring) {
  std::vector<timeline::Sample> samples;
  for (const box::Event& r : reports) samples.push_back(timeline::Sample{r.ms, r.line(), r.ok});
  return timeline::Read(samples, wiring);
}

std::vector<box::Event> SendOne(Plugin& plugin, int32_t character, uint8_t idleLine,
                                double* notBusyMs) {
  const size_t from = box::ReportCount();
  CHECK_EQ(plugin.PutChar(character), character & 0xFF);
  CHECK_EQ(plugin.IsTxBusy(), 1);
  const double taken = WaitUntilNotBusy(plugin);
  CHECK(taken >= 0);
  if (notBusyMs != nullptr) *notBusyMs = taken;
  box::WaitForReports(from + 12, 2000);
  std::vector<box::Event> reports = ReportsFrom(from);
  size_t start = 0;
  while (start < reports.size() && reports[start].line() == idleLine) ++start;
  REQUIRE(start + 8 <= reports.size());
  return std::vector<box::Event>(reports.begin() + static_cast<std::ptrdiff_t>(start),
                                 reports.begin() + static_cast<std::ptrdiff_t>(start + 8));
}

namespace {

// A thread of this process but the caller, and where it started (the
// address the system keeps for it, and the module holding that address).
struct OtherThread {
  DWORD id;
  const void* start;
  HMODULE module;
};

std::vector<OtherThread> OtherThreads() {
  using QueryThread = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  constexpr int kThreadQuerySetWin32StartAddress = 9;
  const auto query = reinterpret_cast<QueryThread>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
  std::vector<OtherThread> others;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return others;  // none that can be waited for
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != GetCurrentProcessId() ||
        entry.th32ThreadID == GetCurrentThreadId()) {
      continue;
    }
    OtherThread other{entry.th32ThreadID, nullptr, nullptr};
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, other.id);
    if (thread != nullptr && query != nullptr) {
      query(thread, kThreadQuerySetWin32StartAddress, &other.start, sizeof other.start, nullptr);
    }
    if (thread != nullptr) CloseHandle(thread);
    if (other.start != nullptr) {
      GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<const char*>(other.start), &other.module);
    }
    others.push_back(other);
  }
  CloseHandle(snapshot);
  return others;
}

// Under Wine every thread of the system ends with its work, so any thread
// still there is one the plug-in left. Windows keeps some of its own: the
// loader's thread-pool workers (Windows 10 and later) stay for 30 s after
// they go idle. There a thread that started in a system DLL is the system's;
// one that started in this program, in the plug-in, or in no module (the
// trampoline's page, a module unmapped since) is not.
bool SystemsOwn(const OtherThread& thread) {
  static const bool wine =
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return !wine && thread.module != nullptr && thread.module != GetModuleHandleA(nullptr) &&
         thread.module != GetModuleHandleA("tarvokey.fsk");
}

UINT armedHolds[4096];
volatile LONG armedCount = 0;
double firstArmedMs = -1;
decltype(&timeSetEvent) systemTimeSetEvent = nullptr;

// A timer that sets an event calls no code: it is the close's question to
// winmm's thread, not a hold of the clock.
MMRESULT WINAPI RecordArmedHold(UINT delay, UINT resolution, LPTIMECALLBACK callback,
                                DWORD_PTR user, UINT flags) {
  if ((flags & (TIME_CALLBACK_EVENT_SET | TIME_CALLBACK_EVENT_PULSE)) == 0) {
    const LONG at = InterlockedIncrement(&armedCount) - 1;
    if (at == 0) firstArmedMs = box::NowMs();
    if (at < static_cast<LONG>(std::size(armedHolds))) armedHolds[at] = delay;
  }
  return systemTimeSetEvent(delay, resolution, callback, user, flags);
}

}  // namespace

void RecordArmedHolds() {
  systemTimeSetEvent = reinterpret_cast<decltype(&timeSetEvent)>(
      iat::Patch(GetModuleHandleA("tarvokey.fsk"), "winmm.dll", "timeSetEvent",
                 reinterpret_cast<void*>(&RecordArmedHold)));
  REQUIRE(systemTimeSetEvent != nullptr);
}

double FirstArmedMs() {
  REQUIRE(armedCount > 0);
  return firstArmedMs;
}

std::string ArmedHolds() {
  REQUIRE(armedCount <= static_cast<LONG>(std::size(armedHolds)));
  std::string holds;
  for (LONG i = 0; i < armedCount; ++i) {
    holds += armedHolds[i] == 22 ? 'b' : armedHolds[i] == 33 ? 's' : '?';
  }
  return holds;
}

bool AwaitOtherThreads(DWORD boundMs) {
  const double deadline = box::NowMs() + boundMs;
  for (;;) {
    const std::vector<OtherThread> others = OtherThreads();
    if (std::all_of(others.begin(), others.end(), &SystemsOwn)) return true;
    if (box::NowMs() > deadline) return false;
    Sleep(1);
  }
}

std::string OtherThreadsText() {
  std::string text;
  for (const OtherThread& thread : OtherThreads()) {
    char path[MAX_PATH] = "";
    if (thread.module != nullptr) GetModuleFileNameA(thread.module, path, MAX_PATH);
    const std::string file = std::string(path).substr(std::string(path).find_last_of("\\/") + 1);
    const unsigned long id = thread.id;
    char part[MAX_PATH + 80];
    if (thread.start == nullptr) {
      std::snprintf(part, sizeof part, "thread %lu (start unknown)", id);
    } else if (thread.module == nullptr) {
      std::snprintf(part, sizeof part, "thread %lu from %p, in no module", id, thread.start);
    } else {
      std::snprintf(part, sizeof part, "thread %lu from %s+0x%lx%s", id, file.c_str(),
                    static_cast<unsigned long>(static_cast<const char*>(thread.start) -
                                               reinterpret_cast<const char*>(thread.module)),
                    SystemsOwn(thread) ? " (the system's)" : "");
    }
    if (!text.empty()) text += ", ";
    text += part;
  }
  return text;
}

std::string Text(const std::vector<PROCESS_POWER_THROTTLING_STATE>& states) {
  std::string text;
  char part[40];
  for (const PROCESS_POWER_THROTTLING_STATE& s : states) {
    std::snprintf(part, sizeof part, "%s%lu/%lu/%lu", text.empty() ? "" : " ", s.Version,
                  s.ControlMask, s.StateMask);
    text += part;
  }
  return text;
}

std::vector<box::Event> Slice(const std::vector<box::Event>& events, size_t from, size_t to) {
  to = std::min(to, events.size());
  if (from >= to) return {};
  return std::vector<box::Event>(events.begin() + static_cast<std::ptrdiff_t>(from),
                                 events.begin() + static_cast<std::ptrdiff_t>(to));
}

size_t Count(const std::vector<box::Event>& events, box::EventKind kind, int slot) {
  size_t n = 0;
  for (const box::Event& e : events) n += e.kind == kind && (slot == kAnySlot || e.slot == slot);
  return n;
}

void OpenKeyed(Plugin& plugin, size_t settleTicks) {
  CHECK_EQ(plugin.Open(), 1);
  CHECK_EQ(plugin.SetPtt(1) & 0xFF, 0x0D);
  CHECK_EQ(plugin.IsTxBusy(), 0);
  if (settleTicks > 0) NextReports(settleTicks);
}
