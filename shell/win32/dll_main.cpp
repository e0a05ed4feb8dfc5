// The module's entry point.
#include <windows.h>

#include "shell/exports.h"
#include "shell/fsk_keyer.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      activeKeyer = nullptr;
      return TRUE;
    case DLL_PROCESS_DETACH:
      // A non-null reserved argument means the process is exiting.
      CloseAtUnload(reserved != nullptr);
      return TRUE;
    default:
      return TRUE;
  }
}
