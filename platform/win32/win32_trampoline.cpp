// Win32 backend: the tick's trampoline.
//
// winmm calls a timer callback on its timer thread, and a tick of ours may
// then wait inside the system: a discovery for the loader lock, a write for a
// stalling box. If the host unloads the module meanwhile, the loader unmaps
// its code once our unload notification returns (FreeLibrary's page:
// https://learn.microsoft.com/windows/win32/api/libloaderapi/nf-libloaderapi-freelibrary),
// and the tick would return into nothing. A pin cannot keep it mapped: it is
// documented (GetModuleHandleExA's page) but not once an unload has begun,
// when Windows' loaders refuse it (XP to 7 take the module off their lists
// before the notification; 8 and later refuse a node whose load count has
// reached zero; inferred, until a Windows run pins in DLL_PROCESS_DETACH and
// finds the module gone), and only Wine honours it (dlls/ntdll/loader.c).
//
// So the timer thread never returns into the module from the system. Its
// callback enters through a trampoline, a page of code of our own that is not
// part of the module and outlives it: an entry thunk for winmm's callback,
// and a call thunk through which every device call of a tick goes out and
// comes back. The page's data records where the tick is. An unload that
// abandons a tick waiting in the system leaves it a short teardown (each step
// one system call: the release report, closing the handles, freeing the
// memory); when the call returns, the call thunk runs that and switches back
// to the stack the entry thunk saved, returning straight to winmm past the
// module's frames, without running any more of the module's code. At the end
// of the unload the trampoline is closed: a callback that still comes turns
// back at the entry thunk.
//
// The system DLLs such a tick may be waiting in (the HID class, device setup)
// and winmm, whose thread it is, must outlive the module too: the host may
// not use them itself, and the module's own imports let go of them with it.
// So they are pinned when the trampoline is made.
#include "platform/win32/win32_trampoline.h"

#include <setupapi.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"
#include "platform/trampoline.h"

// The trampoline's code, copied into the page at load. Position independent:
// it finds its data at a fixed distance after itself (the next page). Intel
// syntax; every offset below is checked against TrampolineData.
//
// Entry thunk (stdcall, as winmm calls TIMECALLBACK): turns back if the
// trampoline is closed; else records the thread, its stack and SEH chain, and
// calls the module's callback with the same five arguments.
// Call thunk (cdecl: fn, argc, args, dispose, place, written): pushes the
// arguments and calls fn; on the timer thread it marks the tick as waiting in
// the system before, and as back in the module after, unless an unload
// abandoned it meanwhile: then it disposes of the result (or of the word at
// `written`, when given), runs the teardown steps and switches to the stack
// the entry thunk saved, returning from the entry thunk with the SEH chain it
// found (frames of the module's below it are gone with their stack). While an
// unload parks the tick (it reads the teardown), the call thunk waits,
// yielding the processor at each turn: the tick runs on winmm's thread at
// time-critical priority, the unload at the host's, and on a PC with one
// processor a spin would keep it from ever finishing the read (until Windows
// boosts a starved thread, seconds later). SwitchToThread lets any thread
// ready on this processor run, whatever its priority
// (https://learn.microsoft.com/en-us/windows/win32/api/processthreadsapi/nf-processthreadsapi-switchtothread);
// Sleep(0) would let only those of the spinner's priority or above. It is
// reached through the trampoline's data, never through the module.
asm(R"(
    .section .rdata,"dr"
    .balign 16
    .globl _tarvokeyTrampolineCode
    .globl _tarvokeyEntryThunk
    .globl _tarvokeyCallThunk
    .globl _tarvokeyTrampolineCodeEnd
    .intel_syntax noprefix
_tarvokeyTrampolineCode:
_tarvokeyEntryThunk:
    call .Lentry_base
.Lentry_base:
    pop edx
    add edx, 4096 - (.Lentry_base - _tarvokeyTrampolineCode)
    mov eax, 1
    xchg dword ptr [edx], eax
    cmp dword ptr [edx + 4], 0
    jne .Lentry_out
    push ebp
    push ebx
    push esi
    push edi
    mov ebx, edx
    mov eax, dword ptr fs:[0]
    mov dword ptr [ebx + 20], eax
    mov eax, dword ptr fs:[0x18]
    mov dword ptr [ebx + 12], eax
    mov dword ptr [ebx + 16], esp
    push dword ptr [esp + 36]
    push dword ptr [esp + 36]
    push dword ptr [esp + 36]
    push dword ptr [esp + 36]
    push dword ptr [esp + 36]
    call dword ptr [ebx + 8]
    mov dword ptr [ebx + 12], 0
    mov edx, ebx
    pop edi
    pop esi
    pop ebx
    pop ebp
.Lentry_out:
    mov dword ptr [edx], 0
    ret 20

_tarvokeyCallThunk:
    push ebp
    mov ebp, esp
    push ebx
    push esi
    push edi
    call .Lcall_base
.Lcall_base:
    pop ebx
    add ebx, 4096 - (.Lcall_base - _tarvokeyTrampolineCode)
    xor edi, edi
    mov eax, dword ptr fs:[0x18]
    cmp eax, dword ptr [ebx + 12]
    jne .Lcall_args
    mov edi, 1
.Lcall_args:
    mov ecx, dword ptr [ebp + 12]
    mov esi, dword ptr [ebp + 16]
.Lcall_push:
    test ecx, ecx
    jz .Lcall_mark
    push dword ptr [esi + ecx*4 - 4]
    dec ecx
    jmp .Lcall_push
.Lcall_mark:
    test edi, edi
    jz .Lcall_call
    mov eax, dword ptr [ebp + 24]
    xchg dword ptr [ebx], eax
.Lcall_call:
    call dword ptr [ebp + 8]
    lea esp, [ebp - 12]
    test edi, edi
    jz .Lcall_return
    mov esi, eax
.Lcall_back:
    mov eax, dword ptr [ebp + 24]
    mov ecx, 1
    lock cmpxchg dword ptr [ebx], ecx
    je .Lcall_resume
    cmp eax, 5
    jne .Lcall_abandoned
    pause
    call dword ptr [ebx + 28]
    jmp .Lcall_back
.Lcall_resume:
    mov eax, esi
.Lcall_return:
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret
.Lcall_abandoned:
    mov ecx, dword ptr [ebp + 20]
    test ecx, ecx
    jz .Lcall_steps
    mov eax, dword ptr [ebp + 28]
    test eax, eax
    jz .Lcall_dispose
    mov esi, dword ptr [eax]
.Lcall_dispose:
    test esi, esi
    jz .Lcall_steps
    cmp esi, -1
    je .Lcall_steps
    push esi
    call ecx
    lea esp, [ebp - 12]
.Lcall_steps:
    lea esi, [ebx + 32]
.Lcall_step:
    mov ecx, dword ptr [esi]
    test ecx, ecx
    jz .Lcall_leave
    mov edx, dword ptr [esi + 4]
.Lcall_step_push:
    test edx, edx
    jz .Lcall_step_call
    push dword ptr [esi + edx*4 + 4]
    dec edx
    jmp .Lcall_step_push
.Lcall_step_call:
    call ecx
    lea esp, [ebp - 12]
    add esi, 28
    jmp .Lcall_step
.Lcall_leave:
    mov dword ptr [ebx + 12], 0
    mov esp, dword ptr [ebx + 16]
    mov eax, dword ptr [ebx + 20]
    mov dword ptr fs:[0], eax
    mov dword ptr [ebx], 0
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret 20
_tarvokeyTrampolineCodeEnd:
    .att_syntax prefix
    .text
)");

extern "C" const unsigned char tarvokeyTrampolineCode[];
extern "C" const unsigned char tarvokeyEntryThunk[];
extern "C" const unsigned char tarvokeyCallThunk[];
extern "C" const unsigned char tarvokeyTrampolineCodeEnd[];

namespace {

constexpr SIZE_T kPage = 4096;
constexpr int kMaxSteps = 12;
static_assert(trampoline::kMaxTeardownSteps <= kMaxSteps,
              "the longest teardown fits the trampoline's steps");

// The trampoline's code writes and compares these places as immediates.
static_assert(trampoline::kOutside == 0 && trampoline::kInModule == 1 &&
                  trampoline::kAbandoned == 3 && trampoline::kParked == 5,
              "places in the trampoline's code");

// One step of an abandoned tick's teardown: a stdcall function and its
// arguments. A step whose function is null ends the list.
struct Step {
  const void* fn;
  DWORD argc;
  DWORD args[5];
};

// The page after the code. The offsets are the ones the code uses.
struct TrampolineData {
  volatile LONG place;
  volatile LONG closed;
  const void* tickProc;
  volatile DWORD tickTeb;
  DWORD savedEsp;
  DWORD savedSeh;
  DWORD written;
  const void* yieldProcessor;  // SwitchToThread (stdcall, no arguments)
  Step steps[kMaxSteps + 1];
};
static_assert(offsetof(TrampolineData, place) == 0, "trampoline layout");
static_assert(offsetof(TrampolineData, closed) == 4, "trampoline layout");
static_assert(offsetof(TrampolineData, tickProc) == 8, "trampoline layout");
static_assert(offsetof(TrampolineData, tickTeb) == 12, "trampoline layout");
static_assert(offsetof(TrampolineData, savedEsp) == 16, "trampoline layout");
static_assert(offsetof(TrampolineData, savedSeh) == 20, "trampoline layout");
static_assert(offsetof(TrampolineData, written) == 24, "trampoline layout");
static_assert(offsetof(TrampolineData, yieldProcessor) == 28, "trampoline layout");
static_assert(offsetof(TrampolineData, steps) == 32 && sizeof(Step) == 28, "trampoline layout");
static_assert(sizeof(TrampolineData) <= kPage, "trampoline layout");

using CallThunkFn = uintptr_t(__cdecl*)(const void*, uint32_t, const uintptr_t*, const void*, LONG,
                                        const void*);

unsigned char* page = nullptr;  // code, then TrampolineData
TrampolineData* data = nullptr;
CallThunkFn callThunk = nullptr;
LPTIMECALLBACK entryThunk = nullptr;
// Whether the page must outlive the module: a tick was abandoned, or the
// module stays mapped for a thread inside it. Set by whichever host thread
// learns it (a close and an unload may race in a host that misuses us), read
// by the unload. (Whether a timer's callback may still come is the timers'
// to say: win32::NoTimerCallbackCanCome.)
std::atomic<bool> pageOutlivesModule{false};
bool pageFreed = false;  // by the unload that closed the trampoline

// Where a label of the trampoline's code lies within it. On addresses, not
// pointer differences: the labels are separate objects to the compiler, which
// may assume anything of a subtraction between them.
uintptr_t OffsetInCode(const unsigned char* label) {
  return reinterpret_cast<uintptr_t>(label) - reinterpret_cast<uintptr_t>(tarvokeyTrampolineCode);
}

}  // namespace

namespace win32 {

LPTIMECALLBACK TimerEntry() { return entryThunk != nullptr ? entryThunk : &TimerCallback; }

bool TrampolineOpen() { return callThunk != nullptr; }

bool TrampolineFreed() { return pageFreed; }

uintptr_t ThroughCallThunk(const void* fn, uint32_t argc, const uintptr_t* args,
                           const Disposal& dispose, bool reportWrite) {
  return callThunk(fn, argc, args, dispose.function,
                   reportWrite ? trampoline::kInReportWrite : trampoline::kInSystemCall,
                   dispose.written);
}

}  // namespace win32

namespace plat {

bool OpenTrampoline() {
  const uintptr_t codeSize = OffsetInCode(tarvokeyTrampolineCodeEnd);
  if (codeSize > kPage) return false;
  void* memory = ::VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (memory == nullptr) return false;
  page = static_cast<unsigned char*>(memory);
  std::memcpy(page, tarvokeyTrampolineCode, codeSize);
  data = reinterpret_cast<TrampolineData*>(page + kPage);
  data->tickProc = reinterpret_cast<const void*>(&win32::TimerCallback);
  // From the import table now, while the module is mapped; kernel32 stays.
  data->yieldProcessor = reinterpret_cast<const void*>(&::SwitchToThread);
  DWORD previous = 0;
  // A host that forbids making code refuses this, and the module runs without the trampoline:
  // https://learn.microsoft.com/en-us/windows/desktop/api/winnt/ns-winnt-process_mitigation_dynamic_code_policy
  if (!::VirtualProtect(page, kPage, PAGE_EXECUTE_READ, &previous)) {
    const DWORD refused = ::GetLastError();
    ::VirtualFree(page, 0, MEM_RELEASE);
    page = nullptr;
    data = nullptr;
    ::SetLastError(refused);
    return false;
  }
  ::FlushInstructionCache(::GetCurrentProcess(), page, kPage);
  callThunk = reinterpret_cast<CallThunkFn>(page + OffsetInCode(tarvokeyCallThunk));
  entryThunk = reinterpret_cast<LPTIMECALLBACK>(page + OffsetInCode(tarvokeyEntryThunk));
  // Loaded already, as the module imports them; a pin holds whatever FreeLibrary does:
  // https://learn.microsoft.com/en-us/windows/win32/api/libloaderapi/nf-libloaderapi-getmodulehandleexa
  for (const wchar_t* dll : {L"hid.dll", L"setupapi.dll", L"winmm.dll"}) {
    HMODULE pinned = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, dll, &pinned);
  }
  return true;
}

TickPlace WhereIsTick() {
  if (data == nullptr) return TickPlace::Unknown;
  return trampoline::TickPlaceOf(data->place);
}

bool AbandonTick(TeardownSnapshot snapshot, void* context) {
  if (data == nullptr) return false;
  // Parked first, then read: a tick whose call returns meanwhile waits in the
  // call thunk, so the teardown cannot name a handle the tick has closed since.
  if (::InterlockedCompareExchange(&data->place, trampoline::kParked, trampoline::kInSystemCall) !=
          trampoline::kInSystemCall &&
      ::InterlockedCompareExchange(&data->place, trampoline::kParked, trampoline::kInReportWrite) !=
          trampoline::kInReportWrite) {
    return false;
  }
  const AbandonedTickTeardown teardown = snapshot(context);
  // The functions are taken from the module's import table now, while it is
  // mapped; they live in system DLLs that stay.
  int n = 0;
  auto add = [&](const void* fn, std::initializer_list<DWORD> args) {
    Step& step = data->steps[n++];
    step.fn = fn;
    step.argc = static_cast<DWORD>(args.size());
    int i = 0;
    for (DWORD arg : args) step.args[i++] = arg;
  };
  if (teardown.reportDevice != nullptr) {
    add(reinterpret_cast<const void*>(&::WriteFile),
        {win32::ToWord(teardown.reportDevice), win32::ToWord(teardown.report),
         teardown.reportLength, win32::ToWord(&data->written), 0});
  }
  for (Handle handle : teardown.handles) {
    if (handle != nullptr)
      add(reinterpret_cast<const void*>(&::CloseHandle), {win32::ToWord(handle)});
  }
  if (teardown.interfaceSet != nullptr) {
    add(reinterpret_cast<const void*>(&::SetupDiDestroyDeviceInfoList),
        {win32::ToWord(teardown.interfaceSet)});
  }
  const HANDLE heap = ::GetProcessHeap();
  for (void* memory : teardown.memory) {
    if (memory != nullptr) {
      add(reinterpret_cast<const void*>(&::HeapFree),
          {win32::ToWord(heap), 0, win32::ToWord(memory)});
    }
  }
  data->steps[n].fn = nullptr;
  pageOutlivesModule = true;
  // Release: the steps are written before the tick can see it may run them.
  ::InterlockedExchange(&data->place, trampoline::kAbandoned);
  return true;
}

bool CloseTrampoline(uint32_t waitMs) {
  if (data == nullptr) return true;
  ::InterlockedExchange(&data->closed, 1);
  const DWORD start = ::GetTickCount();
  while (data->place == trampoline::kInModule) {
    if (::GetTickCount() - start >= waitMs) {
      pageOutlivesModule = true;
      return false;
    }
    ::Sleep(1);
  }
  // The page goes only when no thread can be in it or come to it. Leaving
  // the module is not leaving the page: the trampoline's last instructions
  // (the place word set to Outside, then the return to winmm, in the entry
  // thunk and after an abandoned tick's stack switch alike) run in it, and a
  // thread may be preempted between them. Nor does a successful kill keep a
  // callback out: winmm may have begun it, still on its way to the entry
  // thunk (Wine's dlls/winmm/time.c, TIME_MMSysTimeCallback). So a timer
  // thread is known out only once winmm has shown it returned from every
  // callback begun before a moment no timer of ours was armed, and none was
  // armed since (NoTimerCallbackCanCome; shown at the host's close, as an
  // unload under the loader lock cannot wait for a thread winmm may have to
  // start: shell/module_entry.cpp). The call thunk's other callers are the host's
  // threads in an open or close, all returned by now but one that keeps the
  // module mapped, and so the page.
  if (!pageOutlivesModule && win32::NoTimerCallbackCanCome()) {
    callThunk = nullptr;
    entryThunk = nullptr;
    data = nullptr;
    ::VirtualFree(page, 0, MEM_RELEASE);
    page = nullptr;
    pageFreed = true;
  }
  return true;
}

bool KeepModuleMapped() {
  pageOutlivesModule = true;
  HMODULE self = nullptr;
  return ::GetModuleHandleExW(
             GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
             reinterpret_cast<LPCWSTR>(&KeepModuleMapped), &self) != FALSE;
}

void* AllocateZeroed(size_t size) {
  return ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, size != 0 ? size : 1);
}

void Free(void* memory) {
  if (memory != nullptr) ::HeapFree(::GetProcessHeap(), 0, memory);
}

}  // namespace plat
