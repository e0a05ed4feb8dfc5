// Win32 backend: message boxes and the version query.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace plat {

int ShowMessageBox(const char* text, const char* caption, uint32_t style) {
  return ::MessageBoxA(nullptr, text, caption, style);
}

static_assert(sizeof(OSVERSIONINFOEXA) == kOsVersionInfoExSize, "extended record size");
static_assert(sizeof(OSVERSIONINFOA) == kOsVersionInfoSize, "basic record size");

bool QueryOsVersion(uint32_t recordSize, OsVersion* version) {
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
