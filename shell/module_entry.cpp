// Module load and unload.
#include "shell/module_entry.h"

#include "platform/platform.h"
#include "shell/lifecycle.h"
#include "shell/module_text.h"

namespace {

bool IsWindows95(const plat::OsVersion& version) {
  return version.platformId == plat::kPlatformWin32Windows && version.majorVersion == 4 &&
         version.minorVersion == 0;
}

}  // namespace

bool ModuleAttach() {
  activeKeyer = nullptr;
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

// Detach runs under the loader lock, and no wait there may be unbounded: a
// FreeLibrary that hangs hangs the host, and at process exit nothing is left
// to wait for. So an instance the host left open is torn down in one of two
// modes (see CloseAtUnload and StopClock):
// - FreeLibrary: the other threads live on. A tick in progress is waited for
//   at most kUnloadWaitMs, since it may itself be waiting for the loader
//   lock inside a discovery; if it does not end, the instance is left to it
//   (a hang is the one outcome we rule out). No new discovery is started, for
//   the same reason: the release report goes out only if the box is open.
// - Process exit: the other threads, the timer thread among them, were ended
//   wherever they were, perhaps holding our locks. Nothing waits, no lock of
//   ours is taken, and winmm, whose timer thread is gone too, is not called:
//   the system drops the timer and the resolution request with the process.
//   The release report is written if the box is open, and the handles closed.
void ModuleDetach(bool processExiting) { CloseAtUnload(processExiting); }
