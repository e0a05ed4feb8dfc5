// Simulated host program's folder: a real folder the test names.
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/sim/sim.h"

namespace {

std::mutex folderMutex;
std::string programFolder;

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

}  // namespace plat
