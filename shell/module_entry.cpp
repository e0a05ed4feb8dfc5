// Module load and unload.
#include "shell/module_entry.h"

#include "platform/platform.h"
#include "platform/trace.h"
#include "shell/lifecycle.h"
#include "shell/module_text.h"

namespace {

bool IsWindows95(const plat::OsVersion& version) {
  return version.platformId == plat::kPlatformWin32Windows && version.majorVersion == 4 &&
         version.minorVersion == 0;
}

}  // namespace

bool ModuleAttach() {
  BeginModuleLife();
  // Without the trampoline, ticks enter the module directly; unload then cannot
  // send a tick waiting inside the system back to winmm past the module (see
  // ARCHITECTURE.md for what is lost). A host that forbids making code
  // refuses it: said, and the module loads anyway.
  if (!plat::OpenTrampoline()) TraceLastError("Trampoline: ");
  plat::OsVersion version{};
  // Windows 95 and NT 4 before SP6 do not know the extended record.
  if (!plat::QueryOsVersion(plat::kOsVersionInfoExSize, &version) &&
      !plat::QueryOsVersion(plat::kOsVersionInfoSize, &version)) {
    return false;
  }
  // The box does not work there; the user is told, and the module loads anyway.
  if (IsWindows95(version)) {
    plat::ShowMessageBox(kWindows95Warning, kWarningCaption, plat::kMbOk | plat::kMbIconWarning);
  }
  return true;
}

// Detach runs under the loader lock, where DllMain must not wait for other threads:
// https://learn.microsoft.com/windows/win32/dlls/dynamic-link-library-best-practices
// No wait there may be unbounded: a FreeLibrary that hangs hangs the host, and at process
// exit nothing is left to wait for. So an instance the host left open is torn down in one of
// two ways (see CloseAtUnload):
// - FreeLibrary: the other threads live on, and once detach returns the
//   module's code is gone. A running tick is waited for while it may end soon:
//   up to kStalledWriteWaitMs inside a report write, which needs no loader
//   lock, and up to kUnloadWaitMs anywhere else, since a discovery may itself
//   wait for the loader lock we hold. A tick still waiting inside the system
//   then is abandoned: it returns to winmm through the tick's trampoline, which is not part
//   of the module, and on its way writes the release report and frees the
//   instance. No discovery is started at unload, for the loader lock's sake:
//   the release report goes out only if the box is open. Last, the trampoline is
//   closed, so that no timer callback enters the module's code any more.
// - Process exit: the other threads, the timer thread among them, were ended
//   wherever they were, perhaps holding our locks (DllMain's page, cited in
//   shell/win32/dll_main.cpp). Nothing waits, no lock of
//   ours is taken, and winmm, whose timer thread is gone too, is not called:
//   the system drops the timer and the resolution request with the process.
//   The release report is written if the box is open, and the handles closed.
void ModuleDetach(bool processExiting) { CloseAtUnload(processExiting); }
