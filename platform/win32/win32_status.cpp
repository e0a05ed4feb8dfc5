// Win32 backend: the status section the check program reads.
#include <windows.h>

#include "platform/platform.h"
#include "platform/status_record.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 both");

namespace plat {

bool CreateStatusSection(uint32_t bytes, StatusSection* section) {
  *section = {};
  // Local\: the host's own session. The default security lets the same user,
  // and nobody else, open it.
  char16_t name[status::kSectionNameUnits];
  status::SectionName(::GetCurrentProcessId(), name);
  // Backed by the paging file. One that is still there (a monitor holds a
  // view of the last instance's) is opened as it is; it is as large.
  HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, bytes,
                                        reinterpret_cast<const wchar_t*>(name));
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
