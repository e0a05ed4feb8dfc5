// A host that leaves the module without extfskClose while its clock runs:
// either through FreeLibrary or through the end of the process. Neither may
// hang, and nothing of the module may run after FreeLibrary has returned.
//
// usage: unload_host <module> freelibrary|exit
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

using OpenFn = int(WINAPI*)(int);
using SetPttFn = int(WINAPI*)(int);

// Wine reaches the Unix file system through drive Z:.
std::string WindowsPath(const char* path) {
  std::string result = path[0] == '/' ? std::string("Z:") + path : std::string(path);
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  return result;
}

DWORD WINAPI Unload(void* module) { return FreeLibrary(static_cast<HMODULE>(module)) ? 0 : 1; }

// A crash on any thread (a timer callback into the unloaded module) is a
// failure, not a debugger session.
LONG WINAPI Crashed(EXCEPTION_POINTERS* info) {
  std::printf("FAIL: exception %08lx at %p\n", info->ExceptionRecord->ExceptionCode,
              info->ExceptionRecord->ExceptionAddress);
  std::fflush(stdout);
  TerminateProcess(GetCurrentProcess(), 3);
  return EXCEPTION_EXECUTE_HANDLER;
}

int Fail(const char* what) {
  std::printf("FAIL: %s (error %lu)\n", what, GetLastError());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return Fail("usage: unload_host <module> freelibrary|exit");
  const bool viaFreeLibrary = std::strcmp(argv[2], "freelibrary") == 0;
  SetUnhandledExceptionFilter(Crashed);

  // The settings come from the file, so no prompt waits for a user.
  if (FILE* ini = std::fopen("tarvokey.ini", "w")) {
    std::fputs("FskRev=0\nFskPin=1\n", ini);
    std::fclose(ini);
  }

  HMODULE module = LoadLibraryA(WindowsPath(argv[1]).c_str());
  if (module == nullptr) return Fail("LoadLibrary");
  // Through void*, as GetProcAddress's type says nothing of the signature.
  auto open =
      reinterpret_cast<OpenFn>(reinterpret_cast<void*>(GetProcAddress(module, "extfskOpen")));
  auto setPtt =
      reinterpret_cast<SetPttFn>(reinterpret_cast<void*>(GetProcAddress(module, "extfskSetPTT")));
  if (open == nullptr || setPtt == nullptr) return Fail("GetProcAddress");
  if (open(0x002D0016) != 1) return Fail("extfskOpen");
  setPtt(1);
  Sleep(200);  // the clock ticks on winmm's thread meanwhile

  if (!viaFreeLibrary) {
    std::printf("ending the process with the instance open\n");
    std::fflush(stdout);
    ExitProcess(0);
  }

  // On its own thread, so that a hang shows as a failure, not a stuck test.
  const DWORD start = GetTickCount();
  HANDLE thread = CreateThread(nullptr, 0, Unload, module, 0, nullptr);
  if (thread == nullptr) return Fail("CreateThread");
  if (WaitForSingleObject(thread, 10000) != WAIT_OBJECT_0) return Fail("FreeLibrary hung");
  DWORD unloaded = 1;
  GetExitCodeThread(thread, &unloaded);
  CloseHandle(thread);
  if (unloaded != 0) return Fail("FreeLibrary");
  const DWORD took = GetTickCount() - start;
  if (GetModuleHandleA("tarvokey.fsk") != nullptr) return Fail("the module is still loaded");

  // A tick left armed or running would now run in unmapped code and end us.
  Sleep(300);
  std::printf("FreeLibrary with the instance open returned after %lu ms\n", took);
  return 0;
}
