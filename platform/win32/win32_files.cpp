// Win32 backend: files beside the host program, and the program's name.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "platform/platform.h"

namespace {

// The longest path Windows hands out, with its NUL (platform/platform.h cites it).
constexpr DWORD kLongestPath = 32768;

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 both");

// The host program's full path, in a buffer with room for `extra` more code
// units after it; *length is the path's. nullptr when it cannot be had; the
// caller frees it (plat::Free: the heap, not operator new[], whose nothrow
// form would bring the C++ exception runtime into the module). MAX_PATH
// covers nearly every installation; a longer path is asked for again in full.
// A path that fills the buffer was cut: XP says so by the length alone, later
// systems also by ERROR_INSUFFICIENT_BUFFER
// (https://learn.microsoft.com/windows/win32/api/libloaderapi/nf-libloaderapi-getmodulefilenamew).
wchar_t* ProgramPath(DWORD extra, DWORD* length) {
  for (DWORD size : {static_cast<DWORD>(MAX_PATH), kLongestPath}) {
    auto* path = static_cast<wchar_t*>(plat::AllocateZeroed((size + extra) * sizeof(wchar_t)));
    if (path == nullptr) return nullptr;
    *length = ::GetModuleFileNameW(nullptr, path, size);
    if (*length > 0 && *length < size) return path;
    plat::Free(path);
    if (*length == 0) return nullptr;
  }
  return nullptr;
}

// Where the file name starts in a path of `length` units: after the last
// separator. 0 when there is none.
DWORD NameStart(const wchar_t* path, DWORD length) {
  DWORD at = length;
  while (at > 0 && path[at - 1] != L'\\' && path[at - 1] != L'/') --at;
  return at;
}

// The program's path with its file name replaced by `name` (the module's own
// ASCII constants). nullptr when it cannot be had; the caller frees it.
wchar_t* BesideProgram(const char* name) {
  DWORD length = 0;
  wchar_t* path = ProgramPath(static_cast<DWORD>(std::strlen(name)) + 1, &length);
  if (path == nullptr) return nullptr;
  DWORD at = NameStart(path, length);
  if (at == 0) {
    plat::Free(path);
    return nullptr;
  }
  for (const char* c = name; *c != '\0'; ++c) path[at++] = static_cast<wchar_t>(*c);
  path[at] = L'\0';
  return path;
}

bool CopyOut(const wchar_t* text, char16_t* out, uint32_t units) {
  const size_t length = std::wcslen(text);
  if (length + 1 > units) return false;
  std::memcpy(out, text, (length + 1) * sizeof *out);
  return true;
}

}  // namespace

namespace plat {

std::FILE* OpenInProgramFolder(const char* name, const char* mode) {
  wchar_t* path = BesideProgram(name);
  if (path == nullptr) return nullptr;
  wchar_t wideMode[8] = {};
  for (size_t i = 0; mode[i] != '\0' && i + 1 < sizeof wideMode / sizeof *wideMode; ++i) {
    wideMode[i] = static_cast<wchar_t>(mode[i]);
  }
  std::FILE* file = _wfopen(path, wideMode);
  plat::Free(path);
  return file;
}

bool FullPathOf(const char* name, bool inProgramFolder, char16_t* out, uint32_t units) {
  if (inProgramFolder) {
    wchar_t* path = BesideProgram(name);
    const bool fits = path != nullptr && CopyOut(path, out, units);
    plat::Free(path);
    return fits;
  }
  wchar_t wideName[64] = {};
  for (size_t i = 0; name[i] != '\0' && i + 1 < sizeof wideName / sizeof *wideName; ++i) {
    wideName[i] = static_cast<wchar_t>(name[i]);
  }
  const DWORD length =
      ::GetFullPathNameW(wideName, units, reinterpret_cast<wchar_t*>(out), nullptr);
  return length > 0 && length < units;
}

// The program's file name, or else its folder, cut to fit.
bool ProgramPathPart(bool name, char16_t* out, uint32_t units) {
  if (units == 0) return false;
  DWORD length = 0;
  wchar_t* path = ProgramPath(0, &length);
  if (path == nullptr) return false;
  const DWORD start = NameStart(path, length);
  // The folder without its last separator, but for a drive's root ("C:\").
  DWORD folderEnd = start > 0 ? start - 1 : 0;
  if (folderEnd > 0 && path[folderEnd - 1] == L':') ++folderEnd;
  const DWORD from = name ? start : 0;
  DWORD count = (name ? length : folderEnd) - from;
  if (count + 1 > units) count = units - 1;
  std::memcpy(out, path + from, count * sizeof *out);
  out[count] = u'\0';
  plat::Free(path);
  return true;
}

bool HostProgramName(char16_t* out, uint32_t units) { return ProgramPathPart(true, out, units); }

bool HostProgramFolder(char16_t* out, uint32_t units) { return ProgramPathPart(false, out, units); }

}  // namespace plat
