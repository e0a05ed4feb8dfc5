// Win32 backend: message boxes and the version query.
#include <windows.h>
// The seam's name, not the macro that windows.h makes of it.
#undef MessageBox

#include <cstring>

// <windows.h> maps these names onto the ANSI functions; in plat they are our own.
#undef MessageBox
#undef GetVersionEx

#include "platform/platform.h"

namespace plat {

int MessageBox(const char* text, const char* caption, uint32_t style) {
  return ::MessageBoxA(nullptr, text, caption, style);
}

static_assert(sizeof(OSVERSIONINFOEXA) == kOsVersionInfoExSize, "extended record size");
static_assert(sizeof(OSVERSIONINFOA) == kOsVersionInfoSize, "basic record size");

bool GetVersionEx(uint32_t recordSize, OsVersion* version) {
  OSVERSIONINFOEXA record;
  // The system writes as much as the size says: never more than we hold.
  if (recordSize > sizeof record) return false;
  std::memset(&record, 0, sizeof record);
  record.dwOSVersionInfoSize = recordSize;
  if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&record))) return false;
  *version = OsVersion{record.dwMajorVersion, record.dwMinorVersion, record.dwBuildNumber,
                       record.dwPlatformId};
  return true;
}

}  // namespace plat
