// Win32 backend: message boxes and the version query.
#include <windows.h>
// The seam's name, not the macro that windows.h makes of it.
#undef MessageBox

#include <cstring>

#include "platform/platform.h"

namespace plat {

int MessageBox(const char* text, const char* caption, uint32_t style) {
  return ::MessageBoxA(nullptr, text, caption, style);
}

bool GetVersionEx(uint32_t recordSize, OsVersion* version) {
  OSVERSIONINFOEXA record;
  std::memset(&record, 0, sizeof record);
  record.dwOSVersionInfoSize = recordSize;
  if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record))) return false;
  *version = OsVersion{record.dwMajorVersion, record.dwMinorVersion, record.dwBuildNumber,
                       record.dwPlatformId};
  return true;
}

}  // namespace plat
