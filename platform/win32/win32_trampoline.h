// Win32 backend, inside: the tick's trampoline (win32_trampoline.cpp) as the
// other backend files use it.
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <cstdint>
#include <type_traits>

namespace win32 {

// The module's timer callback (win32_core.cpp), which the trampoline calls.
void CALLBACK TimerCallback(UINT id, UINT message, DWORD_PTR user, DWORD_PTR, DWORD_PTR);

// What winmm is to call back: the entry thunk, or without a trampoline the
// trampoline itself.
LPTIMECALLBACK TimerEntry();

// Whether a timer callback may still come to the trampoline (win32_core.cpp).
bool NoTimerCallbackCanCome();

bool TrampolineOpen();
// True once an unload has closed the trampoline for good and given its page
// back: no code of the module runs any more.
bool TrampolineFreed();
// What a tick abandoned inside a call disposes of once the call returns:
// `function` (stdcall, one argument; nullptr for nothing) is called with the
// call's result, or, when `written` is given, with the word the call wrote
// there (an out-parameter in a frame of the tick's, which nothing overwrites
// before the tick is back with winmm). Neither 0 nor INVALID_HANDLE_VALUE is
// disposed of.
struct Disposal {
  Disposal(const void* fn = nullptr, const void* out = nullptr) : function(fn), written(out) {}
  const void* function;
  const void* written;
};

// Calls the stdcall function fn with argc 32-bit arguments through the call
// thunk, with what it disposes of should the tick be abandoned meanwhile.
uintptr_t ThroughCallThunk(const void* fn, uint32_t argc, const uintptr_t* args,
                           const Disposal& dispose, bool reportWrite);

template <typename T>
uintptr_t ToWord(T value) {
  if constexpr (std::is_pointer_v<T>) {
    return reinterpret_cast<uintptr_t>(value);
  } else {
    return static_cast<uintptr_t>(value);
  }
}

template <typename R>
R FromWord(uintptr_t word) {
  if constexpr (std::is_pointer_v<R>) {
    return reinterpret_cast<R>(word);
  } else {
    // BOOLEAN results come back in AL alone: the rest of EAX is not theirs.
    return static_cast<R>(word);
  }
}

// A device call of a tick: out to the system and back through the call thunk,
// so that an unload can tell the tick waits in the system and abandon it.
template <typename R, typename... Params, typename... Args>
R CallOutside(R(WINAPI* fn)(Params...), const Disposal& dispose, bool reportWrite, Args... args) {
  static_assert(sizeof...(Params) == sizeof...(Args), "one argument per parameter");
  static_assert(((sizeof(Params) <= sizeof(uintptr_t)) && ...), "32-bit arguments only");
  if (!TrampolineOpen()) return fn(static_cast<Params>(args)...);
  const uintptr_t words[] = {ToWord(static_cast<Params>(args))...};
  return FromWord<R>(ThroughCallThunk(reinterpret_cast<const void*>(fn), sizeof...(Params), words,
                                      dispose, reportWrite));
}

}  // namespace win32
