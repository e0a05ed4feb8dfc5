// Opening the keyer as the plug-in does, watching its first discovery, and
// what that discovery means to the operator.
#pragma once

#include <string>
#include <vector>

#include "hidlink/link_watch.h"
#include "platform/box_identity.h"
#include "settings/settings_file.h"
#include "tools/check/console.h"
#include "tools/check/status_view.h"
#include "tools/check/texts.h"

class FskKeyer;

// One device the discovery looked at, in enumeration order.
struct SeenDevice {
  std::string path;
  bool opened = false;
  uint32_t openError = 0;  // the last error after CreateFile, when it failed
  uint16_t vendorId = 0;   // 0 when the attributes could not be read
  uint16_t productId = 0;
  bool passedOver = false;  // unopened: not the box tarvokey.ini chooses
};

// What the open's discovery saw.
struct DiscoveryRecord {
  std::vector<SeenDevice> devices;
  // The first device with both identifiers of the box, if there was one: the
  // discovery looks no further.
  bool matched = false;
  std::u16string product;  // up to the first zero of what the box returned
  std::u16string manufacturer;
  int32_t generation = 0;
  GenerationSource generationSource = GenerationSource::Neither;
  uint16_t reportLength = 0;
  bool accepted = false;
  // The box is there, but another program holds it: its identity, why its
  // claim could not be taken, and the holder as the statuses read then name
  // it. Nothing of the box was read.
  bool inUse = false;
  uint64_t boxKey = 0;
  uint32_t claimError = 0;
  BoxHolder holder;
  // Several boxes are attached: the advice for a box in use is to choose
  // one for this folder rather than to close the other program.
  bool severalBoxes = false;
};

// ChosenAbsent: the box FskBox chooses is not attached; NoChoice: FskBox
// names no box, so none is looked for.
enum class Verdict { Accepted, NoBox, Refused, InUse, ChosenAbsent, NoChoice };

// The plug-in's open without its settings step: the instance is built (its
// first report looks for the box, then its clock starts) and becomes the
// module's one instance, so that the exports act on it. The first report's
// trace lines and discovery are kept, and for a box another program holds,
// the holder among the statuses the console reads. Closed as the plug-in
// closes, at the latest when this goes.
class WatchedOpen {
 public:
  // observer, if given, sees every report from the first one to the release.
  explicit WatchedOpen(Console& console, ReportObserver observer = nullptr);
  ~WatchedOpen();
  WatchedOpen(const WatchedOpen&) = delete;
  WatchedOpen& operator=(const WatchedOpen&) = delete;

  // False when no memory could be had for the instance (or when the module
  // takes no new one, which only an unload makes it do).
  bool opened() const { return opened_; }
  // The open instance; nullptr once closed.
  FskKeyer* keyer() const { return keyer_; }
  const std::vector<std::string>& trace() const { return trace_; }
  const DiscoveryRecord& record() const { return record_; }
  // tarvokey.ini as the open read it, before the instance was built (the box
  // it chooses is the one the discovery looked for), and where from.
  const SettingsValues& settings() const { return settings_; }
  SettingsPlace settingsPlace() const { return settingsPlace_; }
  Verdict verdict() const;

  // extfskClose: the release report goes out if the box is there.
  void Close();

 private:
  FskKeyer* keyer_ = nullptr;
  bool opened_ = false;
  std::vector<std::string> trace_;
  DiscoveryRecord record_;
  SettingsValues settings_;
  SettingsPlace settingsPlace_ = SettingsPlace::None;
};

// The first report's trace, line by line, and the devices the discovery saw.
void PrintDiscovery(Console& console, const Texts& texts, const WatchedOpen& open);
// The verdict in words: what the box is, or why it is refused, or that none
// is there, or which program holds it.
void PrintVerdict(Console& console, const Texts& texts, const WatchedOpen& open);
// The verdict in one line.
std::string VerdictLine(const Texts& texts, const WatchedOpen& open);
// What the operator does next, after that line.
const char* NextStep(const Texts& texts, const WatchedOpen& open);
// The exit status the verdict gives: a box another program holds is none
// this program may key.
int VerdictStatus(const WatchedOpen& open);
