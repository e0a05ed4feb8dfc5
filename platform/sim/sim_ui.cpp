// Simulated message boxes and version query.
#include "platform/platform.h"

namespace plat {

int MessageBox(const char*, const char*, uint32_t) { return kIdCancel; }

bool GetVersionEx(uint32_t, OsVersion* version) {
  *version = OsVersion{10, 0, 19045, kPlatformWin32Nt};
  return true;
}

}  // namespace plat
