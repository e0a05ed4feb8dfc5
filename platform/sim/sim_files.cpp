// Simulated host program's folder: a real folder the test names.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace {

std::mutex folderMutex;
std::string programFolder;

// The test's folders are ASCII: each byte is one code unit.
bool CopyOut(const std::string& text, char16_t* out, uint32_t units) {
  if (text.size() + 1 > units) return false;
  for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<unsigned char>(text[i]);
  out[text.size()] = u'\0';
  return true;
}

}  // namespace

namespace sim {

void SetProgramFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(folderMutex);
  programFolder = folder;
}

namespace detail {
void ResetFiles() { SetProgramFolder(""); }
}  // namespace detail

}  // namespace sim

namespace plat {

std::FILE* OpenInProgramFolder(const char* name, const char* mode) {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(folderMutex);
    if (programFolder.empty()) return nullptr;
    path = programFolder + "/" + name;
  }
  return std::fopen(path.c_str(), mode);
}

bool FullPathOf(const char* name, bool inProgramFolder, char16_t* out, uint32_t units) {
  std::string folder;
  if (inProgramFolder) {
    std::lock_guard<std::mutex> lock(folderMutex);
    folder = programFolder;
  } else {
    char current[PATH_MAX];
    if (getcwd(current, sizeof current) != nullptr) folder = current;
  }
  return !folder.empty() && CopyOut(folder + "/" + name, out, units);
}

// Where none is set, the current folder stands for it, as MMTTY's own
// folder is its current one.
bool HostProgramFolder(char16_t* out, uint32_t units) {
  std::string folder;
  {
    std::lock_guard<std::mutex> lock(folderMutex);
    folder = programFolder;
  }
  char current[PATH_MAX];
  if (folder.empty() && getcwd(current, sizeof current) != nullptr) folder = current;
  if (units == 0 || folder.empty()) return false;
  return CopyOut(folder.substr(0, units - 1), out, units);
}

bool HostProgramName(char16_t* out, uint32_t units) {
  if (units == 0) return false;
  const std::string name = "MMTTY.EXE";
  const size_t fit = name.size() < units ? name.size() : units - 1;
  return CopyOut(name.substr(0, fit), out, units);
}

}  // namespace plat
