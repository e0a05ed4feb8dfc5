// Runs one scenario by name, then checks what every scenario must leave behind.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <set>

#include "scenario.h"

namespace {
std::map<std::string, ScenarioFn>& Registry() {
  static std::map<std::string, ScenarioFn> registry;
  return registry;
}
}  // namespace

ScenarioRegistration::ScenarioRegistration(const char* name, ScenarioFn run) {
  Registry()[name] = run;
}

// --list prints the scenarios, one per line. With names after it, it also
// checks that they are exactly the scenarios this program holds, so that one
// the build did not register cannot go unrun without a word.
int ListScenarios(int argc, char** argv) {
  std::set<std::string> held;
  for (const auto& entry : Registry()) {
    std::printf("%s\n", entry.first.c_str());
    held.insert(entry.first);
  }
  if (argc == 2) return 0;
  const std::set<std::string> registered(argv + 2, argv + argc);
  int mismatches = 0;
  for (const std::string& name : held) {
    if (registered.count(name) == 0) {
      std::fprintf(stderr, "FAIL: scenario %s is not registered with CTest\n", name.c_str());
      ++mismatches;
    }
  }
  for (const std::string& name : registered) {
    if (held.count(name) == 0) {
      std::fprintf(stderr, "FAIL: CTest registers %s, which this program lacks\n", name.c_str());
      ++mismatches;
    }
  }
  return mismatches == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  check::ReportCrashes();
  if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) return ListScenarios(argc, argv);
  if (argc < 3 || Registry().count(argv[2]) == 0) {
    std::fprintf(stderr,
                 "usage: %s <tarvokey.fsk> <scenario> [data folder]\n"
                 "       %s --list [expected scenarios]\nscenarios:",
                 argv[0], argv[0]);
    for (const auto& entry : Registry()) std::fprintf(stderr, " %s", entry.first.c_str());
    std::fprintf(stderr, "\n");
    return 2;
  }
  // The module reads the tarvokey.ini beside its host program when the
  // current folder has none: a stray one beside this program would answer for
  // every scenario.
  wchar_t beside[MAX_PATH] = L"";
  const DWORD length = GetModuleFileNameW(nullptr, beside, MAX_PATH - 16);
  wchar_t* const slash = length > 0 && length < MAX_PATH - 16 ? wcsrchr(beside, L'\\') : nullptr;
  if (slash != nullptr) {
    wcscpy(slash + 1, L"tarvokey.ini");
    DeleteFileW(beside);
  }
  const Env env{argv[1], argc > 3 ? WindowsPath(argv[3]) : ""};
  try {
    Registry()[argv[2]](env);
  } catch (const check::Abort&) {
    // Already counted; the checks below still tell what was left behind.
  }

  // Wine ends the other threads of an exiting process by a signal, and a
  // thread that is still starting or ending then takes the whole process down
  // with a fault of its own (exit status 139, after the PASS line). winmm
  // starts its timer thread with the first timer and ends it with the last, so
  // a scenario that closes the plug-in at its very end leaves one on its way
  // in or out. The program ends once its other threads have; one still there
  // seconds after the scenario is a thread the plug-in left running.
  if (!AwaitOtherThreads(5000)) {
    check::Fail(__FILE__, __LINE__, "a thread outlives the scenario: " + OtherThreadsText());
  }

  // Whatever a scenario did, it ends with the module closed or unloaded: the
  // box must hold none of its resources and must have seen no contract breach.
  for (const std::string& fault : box::Faults()) check::Fail(__FILE__, __LINE__, "fault: " + fault);
  CHECK_EQ(box::OpenDeviceHandles(), 0);
  CHECK_EQ(box::OpenInfoSets(), 0);
  CHECK_EQ(box::LivePreparsedData(), 0);
  CHECK_EQ(box::OpenEvents(), 0);
  // Nor may it have changed the process's power throttling for good.
  CHECK_EQ(Text({box::PowerThrottling()}), Text({box::kHostPowerThrottling}));

  const int failures = check::Failures();
  std::printf("%s %s: %d reports, %d discoveries, %d failed checks\n",
              failures == 0 ? "PASS" : "FAIL", argv[2], static_cast<int>(box::ReportCount()),
              box::Discoveries(), failures);
  return failures == 0 ? 0 : 1;
}
