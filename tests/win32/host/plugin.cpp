#include "plugin.h"

#include "check.h"
#include "sim_box.h"

// Calls a function with `count` 32-bit arguments pushed right to left, and
// stores in *stackDelta how far the stack pointer moved across the call: 0 for
// a callee that removes its own arguments (stdcall), 4 * count for cdecl.
extern "C" uint32_t CallMeasured(const void* function, uint32_t count, const uint32_t* args,
                                 int32_t* stackDelta);
asm(R"(
  .text
  .globl _CallMeasured
_CallMeasured:
  pushl %ebp
  movl %esp, %ebp
  pushl %esi
  pushl %edi
  pushl %ebx
  movl 12(%ebp), %ecx
  movl 16(%ebp), %edx
  movl %esp, %esi
1:
  testl %ecx, %ecx
  jz 2f
  decl %ecx
  pushl (%edx,%ecx,4)
  jmp 1b
2:
  call *8(%ebp)
  movl %esp, %ecx
  subl %esi, %ecx
  negl %ecx
  movl 20(%ebp), %edx
  movl %ecx, (%edx)
  movl %esi, %esp
  popl %ebx
  popl %edi
  popl %esi
  popl %ebp
  ret
)");

namespace {
DWORD WINAPI FreeLibraryOnItsThread(void* module) {
  return FreeLibrary(static_cast<HMODULE>(module)) ? 0 : 1;
}

const char* const kNames[5] = {"extfskOpen", "extfskClose", "extfskIsTxBusy", "extfskPutChar",
                               "extfskSetPTT"};
}  // namespace

std::string WindowsPath(const std::string& path) {
  std::string result = path;
  for (char& c : result) {
    if (c == '/') c = '\\';
  }
  return !path.empty() && path[0] == '/' ? "Z:" + result : result;
}

Plugin::Plugin(const std::string& path) {
  const std::string windowsPath = WindowsPath(path);
  const size_t slash = windowsPath.find_last_of("\\/");
  if (slash != std::string::npos) {
    if (!SetDllDirectoryA(windowsPath.substr(0, slash).c_str())) {
      check::Fail(__FILE__, __LINE__, "SetDllDirectory failed for " + path);
    }
  }
  module_ = LoadLibraryA(windowsPath.c_str() + (slash == std::string::npos ? 0 : slash + 1));
  if (module_ == nullptr) {
    check::Fail(__FILE__, __LINE__,
                "LoadLibrary(" + path + ") failed, error " + std::to_string(GetLastError()));
    throw check::Abort("no module");
  }
  if (slash != std::string::npos) {
    // A stale copy beside this program or in a system folder would come first.
    char loaded[MAX_PATH] = "";
    char wanted[MAX_PATH] = "";
    const DWORD n = GetModuleFileNameA(module_, loaded, sizeof loaded);
    const DWORD m = GetFullPathNameA(windowsPath.c_str(), sizeof wanted, wanted, nullptr);
    if (n == 0 || m == 0 || lstrcmpiA(loaded, wanted) != 0) {
      check::Fail(__FILE__, __LINE__,
                  std::string("loaded ") + loaded + " in place of " + windowsPath);
      Unload();
      throw check::Abort("wrong module");
    }
  }
  for (int i = 0; i < 5; ++i) {
    const std::string decorated = std::string("_") + kNames[i];
    FARPROC function = GetProcAddress(module_, kNames[i]);
    if (function == nullptr) function = GetProcAddress(module_, decorated.c_str());
    functions_[i] = reinterpret_cast<void*>(function);
    if (functions_[i] == nullptr) {
      check::Fail(__FILE__, __LINE__, std::string("no export named ") + kNames[i]);
    }
  }
  missingImports_ = box::Install(module_);
  // Without these the plug-in would reach the real bus or the real write.
  for (const char* required :
       {"SetupDiGetClassDevsA", "SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailA",
        "CreateFileA", "WriteFile", "CloseHandle", "HidD_GetAttributes"}) {
    if (!imports(required)) {
      check::Fail(__FILE__, __LINE__, std::string("the module does not import ") + required);
    }
  }
  for (void* f : functions_) {
    if (f == nullptr) throw check::Abort("missing export");
  }
}

Plugin::~Plugin() { Unload(); }

bool Plugin::imports(const char* function) const {
  for (const std::string& name : missingImports_) {
    if (name == function) return false;
  }
  return true;
}

int32_t Plugin::Call(int index, const std::vector<uint32_t>& args) {
  REQUIRE(module_ != nullptr);
  int32_t delta = 0;
  const uint32_t result =
      CallMeasured(functions_[index], static_cast<uint32_t>(args.size()), args.data(), &delta);
  if (delta != 0) {
    check::Fail(__FILE__, __LINE__,
                std::string(kNames[index]) + " left " + std::to_string(delta) +
                    " bytes on the stack: not __stdcall");
  }
  return static_cast<int32_t>(result);
}

int32_t Plugin::Open(int32_t argument) { return Call(0, {static_cast<uint32_t>(argument)}); }
void Plugin::Close() { Call(1, {}); }
int32_t Plugin::IsTxBusy() { return Call(2, {}); }
int32_t Plugin::PutChar(int32_t character) { return Call(3, {static_cast<uint32_t>(character)}); }
int32_t Plugin::SetPtt(int32_t transmit) { return Call(4, {static_cast<uint32_t>(transmit)}); }

void Plugin::Unload() {
  if (module_ == nullptr) return;
  FreeLibrary(module_);
  module_ = nullptr;
}

double Plugin::UnloadTimed(DWORD timeoutMs) {
  if (module_ == nullptr) return 0;
  const double start = box::NowMs();
  HANDLE thread = CreateThread(nullptr, 0, FreeLibraryOnItsThread, module_, 0, nullptr);
  module_ = nullptr;
  if (thread == nullptr) return -1;
  const bool returned = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
  const double took = box::NowMs() - start;
  CloseHandle(thread);
  return returned ? took : -1;
}
