// Win32 backend: message boxes, code pages and the version query.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace plat {

int ShowMessageBox(const char* text, const char* caption, uint32_t style) {
  return ::MessageBoxA(nullptr, text, caption, style);
}

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 is Windows' wide text");

int ShowWideMessageBox(const char16_t* text, const char16_t* caption, uint32_t style) {
  return ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text),
                       reinterpret_cast<const wchar_t*>(caption), style);
}

uint32_t AnsiCodePage() { return ::GetACP(); }

bool ToUtf16(uint32_t codePage, const char* text, char16_t* out, uint32_t outUnits) {
  return ::MultiByteToWideChar(codePage, 0, text, -1, reinterpret_cast<wchar_t*>(out),
                               static_cast<int>(outUnits)) != 0;
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
