// Win32 backend: lock, multimedia timer, errors and trace.
#include <windows.h>

#include <mmsystem.h>

#include <new>

#include "platform/platform.h"
#include "platform/trampoline.h"
#include "platform/win32/win32_trampoline.h"

namespace {

// There is one timer callback in the module; winmm calls the trampoline
// (through the tick's trampoline) with the instance as its user value, and the
// trampoline hands both on.
plat::TimerProc volatile timerProc = nullptr;

plat::TraceSink volatile traceSink = nullptr;

trampoline::CallbackLedger callbacks;

}  // namespace

namespace win32 {

void CALLBACK TimerCallback(UINT id, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR) {
  plat::TimerProc proc = timerProc;
  if (proc != nullptr) proc(id, reinterpret_cast<void*>(user));
}

bool NoTimerCallbackCanCome() { return callbacks.NoCallbackCanCome(); }

}  // namespace win32

namespace plat {

uint32_t GetLastError() { return ::GetLastError(); }
void SetLastError(uint32_t code) { ::SetLastError(code); }

char* FormatSystemMessage(uint32_t code) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
      nullptr);
  return length != 0 ? text : nullptr;
}

void FreeSystemMessage(char* text) { ::LocalFree(text); }

// The shipped module sets no sink, so its trace costs a pointer test; the
// check program sets one to print the lines.
bool TraceEnabled() { return traceSink != nullptr; }
void TraceLine(const char* line) {
  const TraceSink sink = traceSink;
  if (sink != nullptr) sink(line);
}
void SetTraceSink(TraceSink sink) { traceSink = sink; }

Lock::Lock() {
  static_assert(sizeof(CRITICAL_SECTION) <= sizeof(storage_), "lock storage");
  ::InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}
// The system may keep a debug record for a critical section (Wine and older
// Windows allocate one at initialisation: Wine's the load-cycle test measures,
// Windows' is inferred) and, once threads have contended for it, an event:
// left behind, every load of the module would lose them. They are given back
// only once the unload has closed the tick's trampoline for good, as no code
// of the module runs after that. Elsewhere the locks stay as they are: a
// program built on the driver has no trampoline, and at process exit, or with
// a thread kept inside the module, the trampoline stays.
Lock::~Lock() {
  if (!win32::TrampolineFreed()) return;
  ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}
void Lock::Acquire() { ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }
bool Lock::TryAcquire() {
  return ::TryEnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)) != FALSE;
}
void Lock::Release() { ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_)); }

bool TimeBeginPeriod(uint32_t ms) { return ::timeBeginPeriod(ms) == TIMERR_NOERROR; }
void TimeEndPeriod(uint32_t ms) { ::timeEndPeriod(ms); }

uint32_t TimeSetOneShot(uint32_t delayMs, uint32_t resolutionMs, TimerProc proc, void* user) {
  timerProc = proc;
  const UINT id = ::timeSetEvent(delayMs, resolutionMs, win32::TimerEntry(),
                                 reinterpret_cast<DWORD_PTR>(user), TIME_ONESHOT);
  if (id != 0) callbacks.Armed(id);
  return id;
}

// A timer that cannot be killed has fired (winmm takes a fired one-shot off its
// list: Wine's dlls/winmm/time.c, timeKillEvent): its callback is under way,
// and is seen out with the others. Noted once the kill is over, so that no proof
// can begin before it.
bool TimeKillEvent(uint32_t timerId) {
  const bool killed = ::timeKillEvent(timerId) == TIMERR_NOERROR;
  callbacks.Killed(timerId);
  return killed;
}

// "The multimedia timer runs in its own thread" (timeSetEvent,
// https://learn.microsoft.com/en-us/previous-versions/dd757634(v=vs.85)): one
// thread serves every timer, one after another, and sets the event of a
// TIME_CALLBACK_EVENT_SET timer with no code of ours. winmm takes a due timer
// off its list (Wine: marks it, or copies it) under the lock by which
// timeKillEvent takes one away and timeSetEvent adds one, then calls it with
// that lock free; a kill that comes meanwhile (it may even succeed) does not
// stop the call (only TIME_KILL_SYNCHRONOUS, which at unload could wait for a
// tick that waits for the loader lock, keeps an event from occurring after
// timeKillEvent). So a callback of ours that winmm began is taken before any
// kill that kept it from firing again, and a one-shot sentinel armed after
// every timer of ours was killed is taken after it: once its event is set, the
// thread has returned to winmm from that callback. Microsoft documents the one
// thread but not the order; Wine's winmm works so (dlls/winmm/time.c:
// TIME_MMSysTimeThread, TIME_MMSysTimeCallback). The thread may be busy
// (another program's callback, or a thread of winmm's own still to start), so
// the wait is bounded; if the event does not come, it stays open for the
// sentinel, which winmm may still set, and the trampoline's page is kept.
bool SeeTimerCallbacksOut(uint32_t waitMs) {
  uint32_t arms = 0;
  if (!callbacks.NoneArmed(&arms)) return false;
  HANDLE returned = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (returned == nullptr) return false;
  const UINT sentinel = ::timeSetEvent(1, 0, reinterpret_cast<LPTIMECALLBACK>(returned), 0,
                                       TIME_ONESHOT | TIME_CALLBACK_EVENT_SET);
  if (sentinel == 0) {
    ::CloseHandle(returned);
    return false;
  }
  if (::WaitForSingleObject(returned, waitMs) != WAIT_OBJECT_0) return false;
  ::CloseHandle(returned);
  callbacks.Proven(arms);
  return true;
}

void SleepMs(uint32_t ms) { ::Sleep(ms); }

uint32_t MonotonicMs() { return ::GetTickCount(); }

// One counter for the whole system ("Acquiring high-resolution time stamps"),
// so the check program's readings compare with the plug-in's.
uint64_t PerformanceCounter() {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(now.QuadPart);
}

uint64_t PerformanceFrequency() {
  LARGE_INTEGER frequency;
  return ::QueryPerformanceFrequency(&frequency) ? static_cast<uint64_t>(frequency.QuadPart) : 0;
}

uint64_t SystemTimeUtc() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  return (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

}  // namespace plat
