#include "tools/check/win32/win32_status.h"

#include <windows.h>

#include <tlhelp32.h>

#include "status/status_record.h"
#include "tools/check/text.h"

namespace {

// The bytes of the view that can be read: a section made by another program
// may be shorter than the record, reserved but not committed, or not
// readable at all, and reading past what the system mapped would fault
// (VirtualQuery: platform/win32/win32_status.cpp cites its page).
size_t ReadableBytes(const void* view) {
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(view, &region, sizeof region) != sizeof region) return 0;
  const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                         PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
  if (region.State != MEM_COMMIT || (region.Protect & readable) == 0 ||
      (region.Protect & PAGE_GUARD) != 0) {
    return 0;
  }
  return region.RegionSize -
         (static_cast<const char*>(view) - static_cast<const char*>(region.BaseAddress));
}

bool ReadSection(const PROCESSENTRY32W& process, StatusEntry* entry) {
  const DWORD pid = process.th32ProcessID;
  char16_t name[status::kSectionNameUnits];
  status::SectionName(pid, name);
  HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, reinterpret_cast<const wchar_t*>(name));
  entry->pid = pid;
  if (mapping == nullptr) {
    // The section is there, but made with the default security of a program
    // run as administrator (or by another user of this session), which lets
    // no ordinary process of ours read it (win32_status.cpp of the plug-in
    // cites the default ACLs). The program still has the plug-in
    // open: it is listed, by the name the process list gives it.
    if (GetLastError() != ERROR_ACCESS_DENIED) return false;  // no instance open there
    entry->accessDenied = true;
    entry->exe = Utf8(reinterpret_cast<const char16_t*>(process.szExeFile));
    return true;
  }
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) {
    entry->read.problem = status::Problem::ViewTooSmall;
  } else {
    entry->read = status::Read(view, ReadableBytes(view), pid);
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  return true;
}

}  // namespace

std::vector<StatusEntry> ReadStatusSections() {
  std::vector<StatusEntry> entries;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return entries;
  PROCESSENTRY32W process;
  process.dwSize = sizeof process;
  for (BOOL more = Process32FirstW(snapshot, &process); more;
       more = Process32NextW(snapshot, &process)) {
    StatusEntry entry;
    if (ReadSection(process, &entry)) entries.push_back(entry);
  }
  CloseHandle(snapshot);
  return entries;
}
