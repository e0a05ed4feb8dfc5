// Win32 backend: the status section the check program reads.
#include <windows.h>

#include "platform/platform.h"

namespace {

// L"Local\tarvokey-status-" and the process id in decimal.
void SectionName(DWORD pid, wchar_t (&name)[48]) {
  const wchar_t prefix[] = L"Local\\tarvokey-status-";
  size_t at = 0;
  for (const wchar_t* c = prefix; *c != L'\0'; ++c) name[at++] = *c;
  wchar_t digits[10];
  size_t count = 0;
  do {
    digits[count++] = static_cast<wchar_t>(L'0' + pid % 10);
    pid /= 10;
  } while (pid != 0);
  while (count > 0) name[at++] = digits[--count];
  name[at] = L'\0';
}

}  // namespace

namespace plat {

bool CreateStatusSection(uint32_t bytes, StatusSection* section) {
  *section = {};
  // Local\: the host's own session. The default security lets the same user,
  // and nobody else, open it.
  wchar_t name[48];
  SectionName(::GetCurrentProcessId(), name);
  // Backed by the paging file. One that is still there (a monitor holds a
  // view of the last instance's) is opened as it is; it is as large.
  HANDLE mapping =
      ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, bytes, name);
  if (mapping == nullptr) return false;
  void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, bytes);
  if (view == nullptr) {
    const DWORD refused = ::GetLastError();
    ::CloseHandle(mapping);
    ::SetLastError(refused);
    return false;
  }
  section->mapping = mapping;
  section->view = view;
  return true;
}

void CloseStatusSection(StatusSection* section) {
  if (section->view != nullptr) ::UnmapViewOfFile(section->view);
  if (section->mapping != nullptr) ::CloseHandle(static_cast<HANDLE>(section->mapping));
  *section = {};
}

}  // namespace plat
