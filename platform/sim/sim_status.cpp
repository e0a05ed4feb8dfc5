// Simulated status sections, the process id and the wall clock.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "platform/sim/sim.h"
#include "status/status_record.h"

namespace {

std::mutex statusMutex;
uint32_t processId = 4242;
bool refuseSections = false;
// Whole words, as a mapped view is page-aligned; shared with the readers'
// views. Exactly as long as the section, so that a write past its end is
// caught (by AddressSanitizer), as Windows faults on one.
struct Section {
  std::shared_ptr<uint32_t[]> words;
  size_t bytes = 0;
  size_t writable = 0;  // from the start: committed and writable
  int holders = 0;      // the section goes with the last
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

void SquatStatusSection(size_t bytes, size_t writable, uint32_t fill) {
  std::lock_guard<std::mutex> lock(statusMutex);
  const size_t words = (bytes + 3) / 4;
  Section& squatted = sections[SectionName()];
  squatted.words = std::shared_ptr<uint32_t[]>(new uint32_t[words]);
  std::fill_n(squatted.words.get(), words, fill);
  squatted.bytes = bytes;
  squatted.writable = writable;
  squatted.holders = 1;
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
  // One of that name that is there already is taken as it is, whatever its
  // size: a shorter one is even mapped, which Windows refuses.
  Section& made = sections[SectionName()];
  section->foundThere = made.holders != 0;
  if (made.holders == 0) {
    made.words = std::shared_ptr<uint32_t[]>(new uint32_t[(bytes + 3) / 4]());
    made.bytes = made.writable = bytes;
  }
  ++made.holders;
  section->mapping = &made;
  section->view = made.words.get();
  section->bytes = static_cast<uint32_t>(made.writable);
  return true;
}

void CloseStatusSection(StatusSection* section) {
  std::lock_guard<std::mutex> lock(statusMutex);
  if (section->mapping != nullptr) {
    for (auto it = sections.begin(); it != sections.end(); ++it) {
      if (&it->second == section->mapping) {
        if (--it->second.holders == 0) sections.erase(it);
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
