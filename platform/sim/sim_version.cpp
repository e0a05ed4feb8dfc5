// Simulated version query. Only the host's thread asks, at process attach.
#include "platform/sim/sim_version.h"

#include "platform/sim/sim.h"

namespace {

constexpr plat::OsVersion kWindows10{10, 0, 19045, plat::kPlatformWin32Nt};

plat::OsVersion current = kWindows10;
bool knowsExtendedRecord = true;
bool failAll = false;
std::vector<uint32_t> querySizes;

}  // namespace

namespace sim {

void SetVersion(const plat::OsVersion& version, bool extendedRecord) {
  current = version;
  knowsExtendedRecord = extendedRecord;
}

void FailVersionQueries() { failAll = true; }

std::vector<uint32_t> VersionQuerySizes() { return querySizes; }

namespace detail {
void ResetVersion() {
  current = kWindows10;
  knowsExtendedRecord = true;
  failAll = false;
  querySizes.clear();
}
}  // namespace detail

}  // namespace sim

namespace plat {

// Like GetVersionExA: the record size must be one the system knows, else the
// call fails with ERROR_INSUFFICIENT_BUFFER and the record is left alone.
bool QueryOsVersion(uint32_t recordSize, OsVersion* version) {
  querySizes.push_back(recordSize);
  const bool known = recordSize == kOsVersionInfoSize ||
                     (recordSize == kOsVersionInfoExSize && knowsExtendedRecord);
  if (failAll || !known) {
    SetLastError(kErrorInsufficientBuffer);
    return false;
  }
  *version = current;
  return true;
}

}  // namespace plat
