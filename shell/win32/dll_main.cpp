// The module's entry point: the platform's reasons mapped onto shell/module_entry.
#include <windows.h>

#include "shell/module_entry.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      return ModuleAttach() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
      // A non-null reserved argument means the process is exiting
      // (https://learn.microsoft.com/en-us/windows/win32/Dlls/dllmain).
      ModuleDetach(reserved != nullptr);
      return TRUE;
    default:  // thread attach and detach
      return TRUE;
  }
}
