// Opens tarvokey.fsk with no tarvokey.ini in the current folder, so that its
// first-use prompts come up on the real desktop; scripts/screenshot-prompts
// photographs them.
//
// usage: show_prompts <tarvokey.fsk>
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::string path = argv[1][0] == '/' ? std::string("Z:") + argv[1] : argv[1];
  for (char& c : path) c = c == '/' ? '\\' : c;
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) return std::printf("cannot load %s\n", path.c_str()), 1;
  using OpenFn = int(WINAPI*)(int);
  using CloseFn = void(WINAPI*)();
  // Through void*, as GetProcAddress's type says nothing of the signature.
  auto open =
      reinterpret_cast<OpenFn>(reinterpret_cast<void*>(GetProcAddress(module, "extfskOpen")));
  auto close =
      reinterpret_cast<CloseFn>(reinterpret_cast<void*>(GetProcAddress(module, "extfskClose")));
  if (open == nullptr || close == nullptr) return 1;
  open(0x002D0016);
  close();
  FreeLibrary(module);
  return 0;
}
