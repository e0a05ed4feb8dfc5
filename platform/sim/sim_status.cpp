// Simulated status sections, the process id and the wall clock.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "platform/status_record.h"

namespace {

std::mutex statusMutex;
uint32_t processId = 4242;
bool refuseSections = false;
// Whole words, as a mapped view is page-aligned; shared with the readers'
// views.
struct Section {
  std::shared_ptr<uint32_t[]> words;
  size_t bytes = 0;
};
std::map<std::string, Section> sections;  // by name

std::string SectionName() {
  char16_t name[status::kSectionNameUnits];
  status::SectionName(processId, name);
  return std::string(name, name + std::char_traits<char16_t>::length(name));
}

}  // namespace

namespace sim {

void SetProcessId(uint32_t pid) {
  std::lock_guard<std::mutex> lock(statusMutex);
  processId = pid;
}

std::vector<StatusSection> StatusSections() {
  std::lock_guard<std::mutex> lock(statusMutex);
  std::vector<StatusSection> list;
  for (const auto& [name, section] : sections) {
    list.push_back({name, section.words.get(), section.bytes, section.words});
  }
  return list;
}

void RefuseStatusSections() {
  std::lock_guard<std::mutex> lock(statusMutex);
  refuseSections = true;
}

namespace detail {
void ResetStatus() {
  std::lock_guard<std::mutex> lock(statusMutex);
  processId = 4242;
  refuseSections = false;
  sections.clear();
}
}  // namespace detail

}  // namespace sim

namespace plat {

bool CreateStatusSection(uint32_t bytes, StatusSection* section) {
  std::lock_guard<std::mutex> lock(statusMutex);
  *section = {};
  if (refuseSections) {
    SetLastError(kErrorNotEnoughMemory);
    return false;
  }
  Section& made = sections[SectionName()];
  if (made.bytes < bytes) {
    made.words = std::shared_ptr<uint32_t[]>(new uint32_t[(bytes + 3) / 4]());
    made.bytes = bytes;
  }
  section->mapping = &made;
  section->view = made.words.get();
  return true;
}

void CloseStatusSection(StatusSection* section) {
  std::lock_guard<std::mutex> lock(statusMutex);
  if (section->mapping != nullptr) {
    for (auto it = sections.begin(); it != sections.end(); ++it) {
      if (&it->second == section->mapping) {
        sections.erase(it);
        break;
      }
    }
  }
  *section = {};
}

uint32_t CurrentProcessId() {
  std::lock_guard<std::mutex> lock(statusMutex);
  return processId;
}

uint64_t SystemTimeUtc() {
  // 2026-01-01 00:00 UTC as a FILETIME, moving with the simulated clock.
  constexpr uint64_t kNewYear2026 = 134115552000000000ull;
  return kNewYear2026 + PerformanceCounter() * 10;
}

}  // namespace plat
