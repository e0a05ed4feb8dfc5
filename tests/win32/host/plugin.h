// The plug-in as MMTTY's CEXTFSK (Comm.cpp) sees it: a module loaded by its
// bare file name, five functions found by their plain names (or, failing
// that, with a leading underscore) and called with the Win32 API convention.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class Plugin {
 public:
  // The argument MMTTY passes to extfskOpen when its Tx port sends FSK: the
  // COM parameters, 45 baud << 16 | 5 bits << 2 | stop code 2 (CComm::Open).
  static constexpr int32_t kMmttyOpenArgument = 0x002D0016;
  // With Sound alone there are no COM parameters: 45 << 16.
  static constexpr int32_t kSoundOpenArgument = 45 << 16;

  // Loads the module as MMTTY does, by its bare file name: Windows looks in
  // the host's own folder first. When `path` names a folder too (the build's),
  // that folder is searched after the host's, and the module loaded must be
  // the one there. Then finds the exports and puts the simulated box in place
  // of the module's device, prompt and HID calls; missingImports() lists the
  // functions the module does not import.
  explicit Plugin(const std::string& path);
  ~Plugin();  // unloads, if still loaded
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  const std::vector<std::string>& missingImports() const { return missingImports_; }
  bool imports(const char* function) const;

  // Each call checks that the callee removed its own arguments from the stack.
  int32_t Open(int32_t argument = kMmttyOpenArgument);
  void Close();
  int32_t IsTxBusy();
  int32_t PutChar(int32_t character);
  int32_t SetPtt(int32_t transmit);

  // FreeLibrary; the module's unload notification runs inside it.
  void Unload();
  // The same, on a thread of its own so that a hang is seen, not suffered:
  // the milliseconds FreeLibrary took, or -1 if it did not return within
  // timeoutMs (the thread is then left to it).
  double UnloadTimed(DWORD timeoutMs);

 private:
  int32_t Call(int index, const std::vector<uint32_t>& args);

  HMODULE module_ = nullptr;
  void* functions_[5] = {};
  std::vector<std::string> missingImports_;
};

// Turns a path as the build passes it (Unix style) into one Windows accepts.
std::string WindowsPath(const std::string& path);
