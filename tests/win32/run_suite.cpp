// Runs the Win32 suite from its archive on a Windows with nothing installed
// (and under Wine, the same way): the list scripts/windows-tests made from
// the CTest suite, each test in a fresh folder with its own log, against the
// tarvokey.fsk of the release zip once its SHA-256 is the one SHA256SUMS
// gives, then against the asserting build; and the timing benchmark's keying.
//
//   run_suite <release folder> [shipped | asserting | bench]... [--jobs N]
//
// Beside this program: tests.txt, shipped\ and asserting\ (the test programs
// of each build, the asserting module with its SHA256SUMS), bench\. Records go
// to records\<step>\, and under GitHub Actions to the step's summary. Exit
// status: 0 every test passed, 1 a test failed, 2 a module was refused or the
// arguments were wrong.
#include <windows.h>

#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& line, char by) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(line);
  while (std::getline(in, part, by)) parts.push_back(part);
  return parts;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
  return text;
}

std::string Folder(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }

std::string FullPath(const std::string& path) {
  char full[MAX_PATH] = "";
  return GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr) > 0 ? full : path;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A folder made anew, empty.
void FreshFolder(const std::string& path) {
  std::string command = "cmd /c rd /s /q \"" + path + "\" >nul 2>&1";
  if (Exists(path)) std::system(command.c_str());
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1)) {
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  }
  CreateDirectoryA(path.c_str(), nullptr);
}

// The file's SHA-256 in lower-case hex, by the system's own hash; "" if unread.
std::string Sha256(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return "";
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  unsigned char digest[32];
  bool done = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
              BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
  std::vector<char> chunk(1 << 16);
  while (done && file) {
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    done = BCryptHashData(hash, reinterpret_cast<PUCHAR>(chunk.data()),
                          static_cast<ULONG>(file.gcount()), 0) == 0;
  }
  done = done && BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
  if (hash != nullptr) BCryptDestroyHash(hash);
  if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!done) return "";
  std::string hex;
  char two[3];
  for (unsigned char byte : digest) {
    std::snprintf(two, sizeof two, "%02x", byte);
    hex += two;
  }
  return hex;
}

// The module folder's tarvokey.fsk and tarvokey-check.exe are the files its
// SHA256SUMS names, byte for byte; says which and why not.
bool SumsMatch(const std::string& folder) {
  std::map<std::string, std::string> sums;
  std::ifstream list(folder + "\\SHA256SUMS");
  for (std::string line; std::getline(list, line);) {
    const size_t gap = line.find("  ");
    if (gap != std::string::npos)
      sums[Replace(line.substr(gap + 2), "\r", "")] = line.substr(0, gap);
  }
  bool match = true;
  for (const char* name : {"tarvokey.fsk", "tarvokey-check.exe"}) {
    const std::string actual = Sha256(folder + "\\" + name);
    const auto listed = sums.find(name);
    if (listed == sums.end() || actual.empty() || listed->second != actual) {
      std::printf(
          "REFUSED: %s\\%s has SHA-256 %s; %s\\SHA256SUMS says %s. Not the files released:\n"
          "no test runs on them.\n",
          folder.c_str(), name, actual.empty() ? "(unread)" : actual.c_str(), folder.c_str(),
          listed == sums.end() ? "nothing" : listed->second.c_str());
      match = false;
    } else {
      std::printf("%s: SHA-256 %s, as SHA256SUMS says\n", name, actual.c_str());
    }
  }
  return match;
}

struct Test {
  std::string name, command;
  DWORD timeoutMs = 0;
  bool serial = false;
  std::vector<std::string> labels, environment;
};

struct Label {
  int codePage = 0;  // its tests run only where the ANSI code page is this; 0: nowhere
  std::string reason;
};

struct Suite {
  std::map<std::string, Label> labels;
  std::vector<Test> tests;
};

std::string Quoted(const std::string& arg) {
  return arg.empty() || arg.find_first_of(" \t") != std::string::npos ? "\"" + arg + "\"" : arg;
}

// tests.txt, with <tree> and <fsk> made the paths of this run.
Suite ReadSuite(const std::string& path, const std::string& tree, const std::string& fsk) {
  Suite suite;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    const std::vector<std::string> f = Split(Replace(line, "\r", ""), '\t');
    if (f.size() == 4 && f[0] == "label") {
      suite.labels[f[1]] = {f[2] == "never" ? 0 : std::atoi(f[2].c_str()), f[3]};
    } else if (f.size() >= 7 && f[0] == "test") {
      Test test;
      test.name = f[1];
      test.timeoutMs = static_cast<DWORD>(std::atoi(f[2].c_str())) * 1000;
      test.serial = f[3] == "serial";
      test.labels = Split(f[4], ',');
      test.environment = Split(f[5], ';');
      for (size_t i = 6; i < f.size(); ++i) {
        const std::string arg =
            Replace(Replace(Replace(f[i], "<fsk>", fsk), "<tree>", tree), "/", "\\");
        test.command += (i > 6 ? " " : "") + Quoted(arg);
      }
      suite.tests.push_back(test);
    }
  }
  return suite;
}

// This process's environment with the test's variables set.
std::string EnvironmentBlock(const std::vector<std::string>& set) {
  std::map<std::string, std::string> variables;  // by upper-case name, as Windows compares
  char* block = GetEnvironmentStringsA();
  for (const char* at = block; *at != '\0'; at += std::strlen(at) + 1) {
    std::string entry = at, name = entry.substr(0, entry.find('=', 1));
    std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    variables[name] = entry;
  }
  FreeEnvironmentStringsA(block);
  for (const std::string& entry : set) {
    if (entry.empty()) continue;
    std::string name = entry.substr(0, entry.find('='));
    std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    variables[name] = entry;
  }
  std::string out;
  for (const auto& variable : variables) out += variable.second + '\0';
  return out + '\0';
}

struct Running {
  const Test* test;
  PROCESS_INFORMATION process;
  HANDLE job;
  std::string log;
  DWORD startMs;
};

bool Start(const Test& test, const std::string& records, Running* run) {
  const std::string folder = records + "\\run\\" + test.name;
  FreshFolder(folder);
  run->test = &test;
  run->log = records + "\\logs\\" + test.name + ".log";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE log = CreateFileA(run->log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, 0, nullptr);
  HANDLE nothing = CreateFileA("NUL", GENERIC_READ, 0, &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = log;
  startup.hStdError = log;
  std::string command = test.command;
  std::string environment = EnvironmentBlock(test.environment);
  // A job, so that a test timed out goes with every process it started.
  run->job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(run->job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  const BOOL started =
      CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                     &environment[0], folder.c_str(), &startup, &run->process);
  CloseHandle(log);
  CloseHandle(nothing);
  run->startMs = GetTickCount();
  if (!started) {
    std::printf("cannot start %s (error %lu): %s\n", test.name.c_str(), GetLastError(),
                test.command.c_str());
    CloseHandle(run->job);
    return false;
  }
  AssignProcessToJobObject(run->job, run->process.hProcess);
  ResumeThread(run->process.hThread);
  return true;
}

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Runs the suite on one build; returns how many tests failed.
int RunTests(const Suite& suite, const std::string& records, int jobs, FILE* summary) {
  FreshFolder(records + "\\logs");
  std::vector<const Test*> toRun;
  std::string leftOut;
  const int codePage = static_cast<int>(GetACP());
  for (const Test& test : suite.tests) {
    std::string why;
    for (const std::string& name : test.labels) {
      const auto label = suite.labels.find(name);
      if (label == suite.labels.end())
        why = "label " + name + " has no reason in tests.txt";
      else if (label->second.codePage != codePage)
        why = "[" + name + "] " + label->second.reason;
    }
    if (why.empty())
      toRun.push_back(&test);
    else
      leftOut += "  " + test.name + " " + Replace(why, "{acp}", std::to_string(codePage)) + "\n";
  }
  std::fprintf(summary, "Left out here (ANSI code page %d), %zu tests:\n%s", codePage,
               suite.tests.size() - toRun.size(), leftOut.c_str());
  std::fputs(("Left out here (ANSI code page " + std::to_string(codePage) + "), " +
              std::to_string(suite.tests.size() - toRun.size()) + " tests:\n" + leftOut)
                 .c_str(),
             stdout);

  std::vector<Running> running;
  std::vector<std::string> failed;
  size_t next = 0, done = 0;
  while (next < toRun.size() || !running.empty()) {
    // A serial test starts alone; none starts beside it.
    const bool serialRunning = !running.empty() && running.front().test->serial;
    while (next < toRun.size() && !serialRunning && static_cast<int>(running.size()) < jobs &&
           (!toRun[next]->serial || running.empty())) {
      Running run{};
      if (Start(*toRun[next], records, &run)) {
        running.push_back(run);
      } else {
        failed.push_back(toRun[next]->name);
        ++done;
      }
      if (toRun[next++]->serial) break;
    }
    if (running.empty()) continue;
    std::vector<HANDLE> handles;
    DWORD waitMs = INFINITE;
    for (const Running& run : running) {
      handles.push_back(run.process.hProcess);
      const DWORD spent = GetTickCount() - run.startMs;
      waitMs = std::min(waitMs, run.test->timeoutMs > spent ? run.test->timeoutMs - spent : 0);
    }
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, waitMs);
    for (size_t i = 0; i < running.size();) {
      Running& run = running[i];
      const DWORD spent = GetTickCount() - run.startMs;
      const bool ended = WaitForSingleObject(run.process.hProcess, 0) == WAIT_OBJECT_0;
      if (!ended && spent < run.test->timeoutMs) {
        ++i;
        continue;
      }
      DWORD status = 1;
      if (ended) GetExitCodeProcess(run.process.hProcess, &status);
      TerminateJobObject(run.job, 1);  // what it left running, or all of it when timed out
      CloseHandle(run.job);
      CloseHandle(run.process.hProcess);
      CloseHandle(run.process.hThread);
      const bool passed = ended && status == 0;
      char line[512];
      std::snprintf(line, sizeof line, "%3zu/%zu %-72s %s %6.2f s\n", ++done, toRun.size(),
                    run.test->name.c_str(),
                    passed  ? "Passed"
                    : ended ? "***Failed"
                            : "***Timeout",
                    spent / 1000.0);
      std::fputs(line, stdout);
      std::fputs(line, summary);
      if (!passed) {
        failed.push_back(run.test->name);
        std::printf("%s\n", ReadAll(run.log).c_str());
      }
      std::fflush(stdout);
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  char closing[160];
  std::snprintf(closing, sizeof closing, "%zu passed, %zu failed, %zu left out\n",
                toRun.size() - failed.size(), failed.size(), suite.tests.size() - toRun.size());
  std::string failures;
  for (const std::string& name : failed) failures += "  FAILED " + name + "\n";
  std::fputs((failures + closing).c_str(), stdout);
  std::fputs((failures + closing).c_str(), summary);
  return static_cast<int>(failed.size());
}

// The benchmark's keying through the released module, as scripts/bench keys
// it; its timeline is read on Debian (scripts/keying.py with minimodem).
bool Bench(const std::string& here, const std::string& fsk, const std::string& records) {
  FreshFolder(records);
  for (const char* name : {"\\message.txt", "\\tarvokey.ini"}) {
    CopyFileA((here + "\\bench" + name).c_str(), (records + name).c_str(), FALSE);
  }
  std::string command = Quoted(here + "\\shipped\\tests\\win32\\mmtty_send.exe") + " " +
                        Quoted(fsk) + " message.txt timeline.csv";
  std::printf("Keying the benchmark's text through %s (about a minute) ...\n", fsk.c_str());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, records.c_str(),
                      &startup, &process)) {
    std::printf("cannot start %s (error %lu)\n", command.c_str(), GetLastError());
    return false;
  }
  DWORD status = 1;
  if (WaitForSingleObject(process.hProcess, 300000) != WAIT_OBJECT_0)
    TerminateProcess(process.hProcess, 1);
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  const bool recorded = status == 0 && Exists(records + "\\timeline.csv");
  if (recorded) {
    std::printf("Recorded: %s\\timeline.csv (scripts/keying.py reads it on Debian)\n",
                records.c_str());
  } else {
    std::printf("FAILED: mmtty_send exit status %lu, no timeline\n", status);
  }
  return recorded;
}

// Under GitHub Actions, the step's summary shows it too.
void ToStepSummary(const std::string& title, const std::string& text) {
  const char* path = std::getenv("GITHUB_STEP_SUMMARY");
  FILE* out = path != nullptr && *path != '\0' ? std::fopen(path, "a") : nullptr;
  if (out == nullptr) return;
  std::fprintf(out, "### %s\n```\n%s```\n", title.c_str(), text.c_str());
  std::fclose(out);
}

// What decides how the suite runs here.
std::string SystemLine() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  using RtlGetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
  const auto get = reinterpret_cast<RtlGetVersion>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion")));
  if (get != nullptr) get(&version);
  char language[16] = "", country[16] = "";
  const LCID ui = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
  GetLocaleInfoA(ui, LOCALE_SISO639LANGNAME, language, sizeof language);
  GetLocaleInfoA(ui, LOCALE_SISO3166CTRYNAME, country, sizeof country);
  SYSTEM_INFO system;
  GetNativeSystemInfo(&system);
  char line[200];
  std::snprintf(line, sizeof line,
                "Windows %lu.%lu.%lu; ANSI code page %u; display language %s-%s; %lu processors",
                version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber, GetACP(),
                language, country, system.dwNumberOfProcessors);
  return line;
}

}  // namespace

int main(int argc, char** argv) {
  char self[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  const std::string here = Folder(self);
  SYSTEM_INFO system;
  GetNativeSystemInfo(&system);
  int jobs = static_cast<int>(system.dwNumberOfProcessors);
  std::string release;
  std::vector<std::string> steps;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--jobs" && i + 1 < argc)
      jobs = std::max(1, std::atoi(argv[++i]));
    else if (arg == "shipped" || arg == "asserting" || arg == "bench")
      steps.push_back(arg);
    else if (release.empty() && arg[0] != '-')
      release = FullPath(arg);
    else
      release = "";
  }
  if (release.empty() || !Exists(here + "\\tests.txt")) {
    std::fputs(
        "usage: run_suite <release folder> [shipped | asserting | bench]... [--jobs N]\n"
        "(the unzipped release, which holds tarvokey.fsk and SHA256SUMS; this program\n"
        "stays in the unzipped suite, beside its tests.txt)\n",
        stderr);
    return 2;
  }
  if (steps.empty()) steps = {"shipped", "asserting", "bench"};
  const std::string system_line = SystemLine();
  std::printf("%s\n", system_line.c_str());
  int status = 0;
  for (const std::string& step : steps) {
    const std::string modules = step == "asserting" ? here + "\\asserting" : release;
    std::printf("=== %s: %s\\tarvokey.fsk\n", step.c_str(), modules.c_str());
    if (!SumsMatch(modules)) return 2;
    const std::string records = here + "\\records\\" + step;
    if (step == "bench") {
      const bool recorded = Bench(here, modules + "\\tarvokey.fsk", records);
      if (!recorded) status = 1;
      ToStepSummary("Benchmark keying on " + system_line,
                    recorded ? "Recorded; decoded by minimodem on Debian.\n" : "FAILED\n");
      continue;
    }
    FreshFolder(records);
    FILE* summary = std::fopen((records + "\\summary.txt").c_str(), "w");
    if (summary == nullptr) return 2;
    std::fprintf(summary, "%s\nThe Win32 suite on %s\\tarvokey.fsk (%s)\n", system_line.c_str(),
                 modules.c_str(), step.c_str());
    const Suite suite =
        ReadSuite(here + "\\tests.txt", here + "\\" + step, modules + "\\tarvokey.fsk");
    if (RunTests(suite, records, jobs, summary) > 0) status = 1;
    std::fclose(summary);
    ToStepSummary("The Win32 suite on the " +
                      std::string(step == "asserting" ? "asserting build" : "zip's tarvokey.fsk"),
                  ReadAll(records + "\\summary.txt"));
  }
  return status;
}
