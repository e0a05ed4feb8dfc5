// Win32 backend: a file in the host program's folder.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "platform/platform.h"

namespace {

// The longest path Windows hands out, with its NUL.
constexpr DWORD kLongestPath = 32768;

// Opens `name` beside the executable whose path is in path[0, length). The
// buffer has room for the name after the last separator.
std::FILE* OpenBeside(wchar_t* path, DWORD length, const char* name, const char* mode) {
  DWORD folderEnd = length;
  while (folderEnd > 0 && path[folderEnd - 1] != L'\\' && path[folderEnd - 1] != L'/') --folderEnd;
  if (folderEnd == 0) return nullptr;
  // The names and modes are the module's own ASCII constants.
  size_t at = folderEnd;
  for (const char* c = name; *c != '\0'; ++c) path[at++] = static_cast<wchar_t>(*c);
  path[at] = L'\0';
  wchar_t wideMode[8] = {};
  for (size_t i = 0; mode[i] != '\0' && i + 1 < sizeof wideMode / sizeof *wideMode; ++i) {
    wideMode[i] = static_cast<wchar_t>(mode[i]);
  }
  return _wfopen(path, wideMode);
}

}  // namespace

namespace plat {

std::FILE* OpenInProgramFolder(const char* name, const char* mode) {
  const DWORD nameLength = static_cast<DWORD>(std::strlen(name));
  // MAX_PATH covers nearly every installation; a longer path is asked for
  // again in full. A path that fills the buffer was cut: XP says so by the
  // length alone, later systems also by ERROR_INSUFFICIENT_BUFFER.
  for (DWORD size : {static_cast<DWORD>(MAX_PATH), kLongestPath}) {
    wchar_t* path = new (std::nothrow) wchar_t[size + nameLength + 1];
    if (path == nullptr) return nullptr;
    const DWORD length = ::GetModuleFileNameW(nullptr, path, size);
    std::FILE* file = nullptr;
    const bool whole = length > 0 && length < size;
    if (whole) file = OpenBeside(path, length, name, mode);
    delete[] path;
    if (whole || length == 0) return file;
  }
  return nullptr;
}

}  // namespace plat
