// Win32 backend: the status section the check program reads.
#include <windows.h>

#include "platform/platform.h"
#include "status/status_record.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 both");

namespace {

// The bytes of the view, from its start, that can be written. Another program
// may have made the section with SEC_RESERVE: its view maps, but a write to a
// page never committed faults on the host's thread. VirtualQuery tells them:
// https://learn.microsoft.com/en-us/windows/win32/api/winnt/ns-winnt-memory_basic_information
uint32_t WritableBytes(const void* view) {
  MEMORY_BASIC_INFORMATION region;
  if (::VirtualQuery(view, &region, sizeof region) != sizeof region) return 0;
  const DWORD writable = PAGE_READWRITE | PAGE_EXECUTE_READWRITE;
  if (region.State != MEM_COMMIT || (region.Protect & writable) == 0 ||
      (region.Protect & PAGE_GUARD) != 0) {
    return 0;
  }
  const SIZE_T bytes =
      region.RegionSize - (static_cast<const char*>(view) - static_cast<char*>(region.BaseAddress));
  return bytes < UINT32_MAX ? static_cast<uint32_t>(bytes) : UINT32_MAX;
}

}  // namespace

namespace plat {

bool CreateStatusSection(uint32_t bytes, StatusSection* section) {
  *section = {};
  // Local\: the host's own session; the default ACLs are the creator's, so the
  // same user, and nobody else, opens it. Kernel Object Namespaces and
  // https://learn.microsoft.com/en-us/windows/win32/Memory/file-mapping-security-and-access-rights
  char16_t name[status::kSectionNameUnits];
  status::SectionName(::GetCurrentProcessId(), name);
  // Backed by the paging file. One that is still there is opened as it is
  // (ERROR_ALREADY_EXISTS): the last instance's (a monitor holds a view of
  // it), or another program's. One smaller than asked, or read-only, fails to
  // map (not so under Wine: inferred for Windows until a test shows it).
  HANDLE mapping = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, bytes,
                                        reinterpret_cast<const wchar_t*>(name));
  if (mapping == nullptr) return false;
  const bool foundThere = ::GetLastError() == ERROR_ALREADY_EXISTS;
  void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, bytes);
  if (view == nullptr) {
    const DWORD refused = ::GetLastError();
    ::CloseHandle(mapping);
    ::SetLastError(refused);
    return false;
  }
  section->mapping = mapping;
  section->view = view;
  section->bytes = WritableBytes(view);
  section->foundThere = foundThere;
  return true;
}

void CloseStatusSection(StatusSection* section) {
  if (section->view != nullptr) ::UnmapViewOfFile(section->view);
  if (section->mapping != nullptr) ::CloseHandle(static_cast<HANDLE>(section->mapping));
  *section = {};
}

}  // namespace plat
