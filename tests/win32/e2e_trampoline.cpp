// The tick's trampoline itself, as the module's Windows backend builds it,
// driven from this program: a thread of ours plays winmm's timer thread and
// calls the entry thunk, so the test sees exactly what winmm would get back.
#include "host/iat_patch.h"
#include "host/scenario.h"
#include "platform/platform.h"
#include "platform/win32/win32_trampoline.h"

namespace {

// The head of the calling thread's SEH chain.
DWORD SehHead() {
  DWORD head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

struct SehRecord {
  DWORD next;
  const void* handler;
};

EXCEPTION_DISPOSITION __cdecl NeverCalled(EXCEPTION_RECORD*, void*, CONTEXT*, void*) {
  return ExceptionContinueSearch;
}

HANDLE pipeRead = nullptr;
HANDLE pipeWrite = nullptr;
volatile LONG callbacksEntered = 0;

void CountingTick(uint32_t, void*) { InterlockedIncrement(&callbacksEntered); }

// A tick that leaves an SEH frame of its own on the chain and then waits in
// a system call: a write into a full pipe.
void WaitingTick(uint32_t, void*) {
  InterlockedIncrement(&callbacksEntered);
  SehRecord record{SehHead(), reinterpret_cast<const void*>(&NeverCalled)};
  asm volatile("movl %0, %%fs:0" : : "r"(&record) : "memory");
  static char bytes[256 * 1024];
  uint32_t written = 0;
  plat::WriteFile(pipeWrite, bytes, sizeof bytes, &written);
  // Not reached once abandoned: the trampoline returns the tick to winmm from
  // the call.
  asm volatile("movl %0, %%fs:0" : : "r"(record.next) : "memory");
}

// The module's callback is whatever the last timer was armed with; arm one
// far off and kill it, so that the entry thunk leads to `proc`.
void PointTheTrampolineAt(plat::TimerProc proc) {
  const uint32_t id = plat::TimeSetOneShot(60000, 0, proc, nullptr);
  REQUIRE(id != 0);
  REQUIRE(plat::TimeKillEvent(id));
}

struct FakeTimerThread {
  DWORD headBefore = 0;
  DWORD headAfter = 0;
};

DWORD WINAPI CallTheEntryThunk(void* arg) {
  auto* fake = static_cast<FakeTimerThread*>(arg);
  fake->headBefore = SehHead();
  win32::TimerEntry()(7, 0, 0, 0, 0);
  fake->headAfter = SehHead();
  return 0;
}

plat::AbandonedTickTeardown NothingToTearDown(void*) { return {}; }

// The processor yielded by the tick while an unload parks it in the call thunk.
DWORD tickThreadId = 0;
volatile LONG tickYields = 0;
decltype(&::SwitchToThread) systemSwitchToThread = nullptr;
BOOL WINAPI CountingSwitchToThread() {
  if (GetCurrentThreadId() == tickThreadId) InterlockedIncrement(&tickYields);
  return systemSwitchToThread();
}

void DrainSome() {
  static char drain[64 * 1024];
  DWORD waiting = 0;
  DWORD got = 0;
  if (PeekNamedPipe(pipeRead, nullptr, 0, nullptr, &waiting, nullptr) && waiting != 0) {
    ReadFile(pipeRead, drain, waiting < sizeof drain ? waiting : sizeof drain, &got, nullptr);
  } else {
    Sleep(1);
  }
}

// The unload reads the teardown as on a PC with one processor: the write the
// tick waits in returns meanwhile (the pipe is drained), and the read goes on
// only once the tick, waiting in the call thunk, has yielded the processor.
plat::AbandonedTickTeardown DrainWhileParked(void*) {
  const DWORD start = GetTickCount();
  while (tickYields == 0 && GetTickCount() - start < 10000) DrainSome();
  return {};
}

// A tick that waits in a read whose count comes back in an out-parameter;
// the trampoline hands an abandoned tick's disposal that count, not the result.
volatile LONG disposedOf = -1;
void WINAPI Dispose(DWORD word) { disposedOf = static_cast<LONG>(word); }

void ReadingTick(uint32_t, void*) {
  InterlockedIncrement(&callbacksEntered);
  char bytes[16];
  DWORD got = 0;
  win32::CallOutside(&::ReadFile, win32::Disposal(reinterpret_cast<const void*>(&Dispose), &got),
                     false, pipeRead, bytes, static_cast<DWORD>(sizeof bytes), &got, nullptr);
}

// Runs the entry thunk on a thread of its own until it returns.
FakeTimerThread RunTimerCallback() {
  FakeTimerThread fake;
  HANDLE thread = CreateThread(nullptr, 0, CallTheEntryThunk, &fake, 0, nullptr);
  REQUIRE(thread != nullptr);
  REQUIRE(WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0);
  CloseHandle(thread);
  return fake;
}

}  // namespace

// An abandoned tick returns to winmm with the SEH chain winmm gave it, not
// with frames of the module's code whose stack it has left: an exception on
// that thread later would walk into them. While the unload parks it, it waits
// in the call thunk yielding the processor. An abandoned tick disposes of what
// its call wrote where that is asked for. Then the trampoline closes at
// unload, and a callback that still comes turns back without entering the
// module.
SCENARIO(trampoline_returns_an_abandoned_tick_to_winmm_and_turns_late_callbacks_back) {
  systemSwitchToThread = reinterpret_cast<decltype(&::SwitchToThread)>(
      iat::Patch(GetModuleHandleA(nullptr), "kernel32.dll", "SwitchToThread",
                 reinterpret_cast<void*>(&CountingSwitchToThread)));
  REQUIRE(systemSwitchToThread != nullptr);
  REQUIRE(plat::OpenTrampoline());
  REQUIRE(CreatePipe(&pipeRead, &pipeWrite, nullptr, 4096));
  PointTheTrampolineAt(&WaitingTick);

  FakeTimerThread fake;
  HANDLE thread = CreateThread(nullptr, 0, CallTheEntryThunk, &fake, 0, &tickThreadId);
  REQUIRE(thread != nullptr);
  const DWORD start = GetTickCount();
  while (plat::WhereIsTick() != plat::TickPlace::InReportWrite) {
    REQUIRE(GetTickCount() - start < 10000);
    Sleep(1);
  }
  REQUIRE(plat::AbandonTick(&DrainWhileParked, nullptr));
  CHECK(tickYields > 0);
  // The tick returns to winmm (what is left of its write drained, had it not
  // yielded).
  while (WaitForSingleObject(thread, 1) == WAIT_TIMEOUT) DrainSome();
  CloseHandle(thread);
  CHECK_EQ(callbacksEntered, 1);
  CHECK_EQ(fake.headAfter, fake.headBefore);
  CHECK(plat::WhereIsTick() == plat::TickPlace::Outside);

  // Abandoned in a read of an empty pipe; five bytes come, and the read
  // returns TRUE with a count of 5, which is what is disposed of.
  PointTheTrampolineAt(&ReadingTick);
  thread = CreateThread(nullptr, 0, CallTheEntryThunk, &fake, 0, nullptr);
  REQUIRE(thread != nullptr);
  while (plat::WhereIsTick() != plat::TickPlace::InSystemCall) {
    REQUIRE(GetTickCount() - start < 10000);
    Sleep(1);
  }
  REQUIRE(plat::AbandonTick(&NothingToTearDown, nullptr));
  DWORD got = 0;
  REQUIRE(WriteFile(pipeWrite, "12345", 5, &got, nullptr));
  CHECK(WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0);
  CloseHandle(thread);
  CHECK_EQ(callbacksEntered, 2);
  CHECK_EQ(disposedOf, 5);

  // Unload: the trampoline closes; its page stays, for callbacks like this one.
  REQUIRE(plat::CloseTrampoline(250));
  PointTheTrampolineAt(&CountingTick);
  const FakeTimerThread late = RunTimerCallback();
  CHECK_EQ(callbacksEntered, 2);
  CHECK_EQ(late.headAfter, late.headBefore);
}

namespace {

HANDLE letGo = nullptr;

void HeldTick(uint32_t, void*) {
  InterlockedIncrement(&callbacksEntered);
  WaitForSingleObject(letGo, 10000);
}

}  // namespace

// winmm's own thread, in a callback of a timer that has since been killed
// (killed while running, or too late: winmm goes on with it either way),
// cannot show that it has returned from every callback, so the page would
// stay. Once it has returned, the proof comes, and the unload gives the page
// back.
SCENARIO(trampoline_page_is_freed_once_winmm_shows_every_callback_returned) {
  REQUIRE(plat::OpenTrampoline());
  letGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  REQUIRE(letGo != nullptr);
  const uint32_t id = plat::TimeSetOneShot(1, 0, &HeldTick, nullptr);
  REQUIRE(id != 0);
  const DWORD start = GetTickCount();
  while (callbacksEntered == 0) {
    REQUIRE(GetTickCount() - start < 10000);
    Sleep(1);
  }
  plat::TimeKillEvent(id);
  CHECK(!plat::SeeTimerCallbacksOut(200));
  SetEvent(letGo);
  CHECK(plat::SeeTimerCallbacksOut(5000));
  REQUIRE(plat::CloseTrampoline(250));
  CHECK(win32::TrampolineFreed());
  CloseHandle(letGo);
}
