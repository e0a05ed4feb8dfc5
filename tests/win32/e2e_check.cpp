// The check program's core, linked into this program with the simulated box
// behind its own import table: its verdicts, and --key against the box's
// timestamps, stopped by the operator or by an unplugged box. And
// tarvokey-check.exe itself, as a process of its own, reading the status of
// the plug-in this program keys as MMTTY does.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hidlink/box_key.h"
#include "host/ita2.h"
#include "host/mmtty.h"
#include "host/scenario.h"
#include "keying/bit_clock.h"
#include "keying/element_holds.h"
#include "status/status_record.h"
#include "tools/check/check.h"
#include "tools/check/status_view.h"
#include "tools/check/text.h"
#include "tools/check/texts.h"
#include "tools/check/win32/win32_console.h"

namespace {

// The program's Windows console, with what it prints kept (and shown), and
// each report timed by the box: the program's figures and the box's are then
// reckoned from the same timestamps.
class BoxConsole : public Win32Console {
 public:
  std::string out;
  void Print(const std::string& text) override {
    out += text;
    std::fputs(text.c_str(), stdout);
  }
  void PrintUtf8(const std::string& text) override { Print(text); }
  // No console breaks a line: the scenarios read whole lines, whatever folder
  // (a long one, in a Windows run's records) a line names.
  int Columns() override { return 1000; }
  double ReportTimeMs() override { return box::LastWriteMs(); }
  // The scenarios read the English texts, whatever the Wine locale.
  bool JapaneseUser() override { return false; }
  bool Says(const std::string& text) const {
    if (out.find(text) != std::string::npos) return true;
    check::Fail(__FILE__, __LINE__, "the program did not say: " + text);
    return false;
  }
};

int Check(BoxConsole& console, const std::vector<std::string>& args) {
  static bool installed = false;
  if (!installed) {
    CHECK_EQ(box::Install(GetModuleHandleA(nullptr)).size(), 0u);
    installed = true;
  }
  // Each run as in a process of its own: no character left over from the last.
  ResetClockState();
  return RunCheck(args, console);
}

// The benchmark's figures, from the box's own record of the reports.
struct Figures {
  size_t elements = 0;
  double median = 0, p99 = 0, max = 0, meanPeriodMs = 0;
};

Figures FromBox(const std::vector<box::Event>& reports) {
  const timeline::Keying keying = ReadKeying(reports);
  std::vector<double> errors;
  for (size_t i = 0; i + 1 < keying.elements.size(); ++i) {
    const timeline::Element& e = keying.elements[i];
    CHECK(e.kind != timeline::Kind::Error);
    if (e.kind == timeline::Kind::Start || e.kind == timeline::Kind::Data) {
      errors.push_back(std::fabs(e.holdMs - 22));
    } else if (e.kind == timeline::Kind::Stop) {
      errors.push_back(std::fabs(e.holdMs - 33));
    }
  }
  Figures f;
  REQUIRE(errors.size() > 10);
  std::sort(errors.begin(), errors.end());
  const size_t n = f.elements = errors.size();
  f.median = n % 2 ? errors[n / 2] : (errors[n / 2 - 1] + errors[n / 2]) / 2;
  const double rank = 0.99 * static_cast<double>(n - 1);
  const size_t low = static_cast<size_t>(rank);
  f.p99 = errors[low] + (errors[std::min(low + 1, n - 1)] - errors[low]) * (rank - low);
  f.max = errors.back();
  double sum = 0;
  size_t pairs = 0;
  for (size_t c = 0; c + 1 < keying.characters.size(); ++c) {
    const size_t a = keying.characters[c].startElement, b = keying.characters[c + 1].startElement;
    if (b - a != 7) continue;
    sum += keying.elements[b].ms - keying.elements[a].ms;
    ++pairs;
  }
  f.meanPeriodMs = pairs ? sum / pairs : 0;
  return f;
}

// Box time at which PTT first came on in the reports from `from` on, or -1.
double PttOnMs(size_t from) {
  for (const box::Event& r : ReportsFrom(from)) {
    if (r.ok && (r.line() & 0x02) == 0) return r.ms;
  }
  return -1;
}

// What a thread of the test does to the run once it has keyed for a while.
struct Intervention {
  double afterMs;
  DWORD consoleEvent;  // the console control event to send, or:
  int unplugSlot;      // the box to unplug, when no event (-1)
  size_t from = 0;     // the run's first report
  double atMs = -1;
  uint8_t lineAtHandlerReturn = 0;
};

DWORD WINAPI Intervene(void* context) {
  auto* what = static_cast<Intervention*>(context);
  const double deadline = box::NowMs() + 20000;
  for (;;) {
    const double on = PttOnMs(what->from);
    // A stop comes as a start or data bit (space, 0D) is on the line.
    if (on >= 0 && box::NowMs() - on >= what->afterMs &&
        (what->unplugSlot >= 0 || box::Reports().back().line() == 0x0D)) {
      break;
    }
    if (box::NowMs() > deadline) return 1;
    Sleep(1);
  }
  what->atMs = box::NowMs();
  if (what->unplugSlot >= 0) {
    box::Unplug(what->unplugSlot);
  } else {
    OnConsoleControl(what->consoleEvent);  // as the system calls it: on a thread of its own
    what->lineAtHandlerReturn = box::Reports().back().line();
  }
  return 0;
}

int KeyWith(BoxConsole& console, Intervention& what) {
  what.from = box::ReportCount();
  HANDLE thread = CreateThread(nullptr, 0, &Intervene, &what, 0, nullptr);
  REQUIRE(thread != nullptr);
  const int status = Check(console, {"--key", "10", "--yes"});
  console.Done();  // as the program's main does
  CHECK_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  CloseHandle(thread);
  CHECK(what.atMs > 0);
  return status;
}

double NumberAfter(const std::string& text, const std::string& label) {
  const size_t at = text.find(label);
  return at == std::string::npos ? NAN : std::strtod(text.c_str() + at + label.size(), nullptr);
}

// A program started as a process of its own, with its output in a pipe.
class ChildProcess {
 public:
  // `input`, if any, waiting on its standard input; in `folder` when given,
  // else in this program's current folder.
  ChildProcess(const std::string& program, const std::string& args, const std::string& input = "",
               const std::string& folder = "") {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE write = nullptr;
    REQUIRE(CreatePipe(&read_, &write, &inherit, 0));
    SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
    HANDLE in = nullptr;
    HANDLE feed = nullptr;
    if (!input.empty()) {
      REQUIRE(CreatePipe(&in, &feed, &inherit, 0));
      SetHandleInformation(feed, HANDLE_FLAG_INHERIT, 0);
      DWORD written = 0;
      REQUIRE(WriteFile(feed, input.data(), static_cast<DWORD>(input.size()), &written, nullptr));
      CloseHandle(feed);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = write;
    startup.hStdError = write;
    std::string command = "\"" + program + "\" " + args;
    const BOOL started =
        CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &startup, &process_);
    CloseHandle(write);
    if (in != nullptr) CloseHandle(in);
    REQUIRE(started);
  }
  ~ChildProcess() {
    if (process_.hProcess == nullptr) return;
    TerminateProcess(process_.hProcess, 1);  // one a failed check left running
    CloseHandle(read_);
    CloseHandle(process_.hProcess);
    CloseHandle(process_.hThread);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  DWORD pid() const { return process_.dwProcessId; }

  // Its output, once it has ended, and its exit status.
  std::string Output(DWORD* status) {
    std::string out;
    char bytes[4096];
    DWORD got = 0;
    while (ReadFile(read_, bytes, sizeof bytes, &got, nullptr) && got > 0) out.append(bytes, got);
    CHECK_EQ(WaitForSingleObject(process_.hProcess, 30000), WAIT_OBJECT_0);
    GetExitCodeProcess(process_.hProcess, status);
    return out;
  }

  // As the Task Manager ends a program: no code of its own runs any more.
  void Kill() {
    CHECK(TerminateProcess(process_.hProcess, 9));
    CHECK_EQ(WaitForSingleObject(process_.hProcess, 30000), WAIT_OBJECT_0);
  }

 private:
  HANDLE read_ = nullptr;
  PROCESS_INFORMATION process_{};
};

// The folder of a file, as Windows writes it.
std::string FolderOf(const std::string& file) {
  const std::string path = WindowsPath(file);
  return path.substr(0, path.find_last_of('\\'));
}

// A program the build puts beside `file`'s.
std::string Beside(const std::string& file, const std::string& program) {
  return FolderOf(file) + "\\" + program;
}

// tarvokey-check.exe, which the build puts beside the plug-in.
class CheckProcess : public ChildProcess {
 public:
  CheckProcess(const Env& env, const std::string& args, const std::string& input = "")
      : ChildProcess(Beside(env.plugin, "tarvokey-check.exe"), args, input) {}
};

// Runs tarvokey-check.exe to its end: whether it gave `status` and said `line`
// (bytes as its redirected output carries them).
bool CheckSays(const Env& env, const std::string& args, DWORD status, const std::string& line,
               const std::string& input = "") {
  CheckProcess program(env, args, input);
  DWORD got = 0;
  const std::string out = program.Output(&got);
  if (got == status && out.find(line) != std::string::npos) return true;
  check::Fail(__FILE__, __LINE__,
              Format("tarvokey-check %s: exit %lu (wanted %lu), did not say \"%s\" but:\n%s",
                     args.c_str(), got, status, line.c_str(), out.c_str()));
  return false;
}

// The first instance of `tarvokey-check --status --json`, as far as read
// here: the text after "name": up to the next comma or brace.
std::string JsonValue(const std::string& json, const std::string& name) {
  const std::string key = "\"" + name + "\": ";
  const size_t at = json.find(key);
  if (at == std::string::npos) return "(none)";
  const size_t from = at + key.size();
  return json.substr(from, json.find_first_of(",}\n", from) - from);
}

double JsonFigure(const std::string& json, const std::string& name) {
  return std::strtod(JsonValue(json, name).c_str(), nullptr);
}

// Each tick's lateness as the box saw it: how much longer than the clock's
// hold the element before it stayed on the line, and for the first tick, how
// much longer than a bit it came after the clock was armed (the status times
// it from there: Wine starts winmm's timer thread for it, which makes it the
// run's worst often enough).
std::vector<double> LatenessAtBox(const std::vector<box::Event>& reports, double armedMs) {
  std::vector<double> late;
  double from = armedMs;
  double hold = kBitMs;
  for (const timeline::Element& element : ReadKeying(reports).elements) {
    if (element.ms < armedMs) continue;  // the open's, before the clock
    late.push_back(std::max(0.0, element.ms - from - hold));
    from = element.ms;
    hold = element.kind == timeline::Kind::Stop ? kStopMs : kBitMs;
  }
  std::sort(late.begin(), late.end());
  return late;
}

// The tick of that rank, as the check program ranks them.
double Rank(const std::vector<double>& sorted, double q) {
  const size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(sorted.size())));
  return sorted[std::min(std::max<size_t>(rank, 1), sorted.size()) - 1];
}

// How closely the status can give a quantile near `ms`: it is placed within
// its histogram bucket (0.1 ms wide to 1 ms, wider above), and a report's
// write may wait on a busy machine.
double QuantileResolutionMs(double ms) {
  const uint32_t bucket = status::LatenessBucket(static_cast<uint32_t>(ms * 1000));
  if (bucket == 0 || bucket == status::kLatenessBuckets - 1) return 0.5;
  const uint32_t width = status::kLatenessUpperUs[bucket] - status::kLatenessUpperUs[bucket - 1];
  return std::max(0.5, width / 1000.0);
}

}  // namespace

// tarvokey-check.exe itself where no box is plugged in and no program has the
// plug-in open: its help, a bad argument, the no-box verdict, --status, and
// --watch ended by Enter, each with its exit status. Its output redirected
// (as a support request takes it) is in the ANSI code page: --status --json
// stays UTF-8.
SCENARIO(check_program_without_a_box) {
  CheckSays(env, "--help", kExitAccepted, "Usage: tarvokey-check [--setup]");
  CheckSays(env, "--nonsense", kExitBadArgument,
            "tarvokey-check: unknown argument \"--nonsense\" (see --help).");
  CheckSays(env, "", kExitNoBox, "No box found: is it plugged in?");
  CheckSays(env, "--status --json", kExitNoInstance, "[]");
  CheckSays(env, "--status", kExitNoInstance, "No program has tarvokey.fsk open.");
  // Code page 1252 has no arrow: it goes as the ASCII that stands for it.
  if (GetACP() == 1252) {
    CheckSays(env, "--status --lang en", kExitNoInstance, "(Option -> Setup MMTTY..., TX tab)");
  }
  CheckSays(env, "--watch", kExitNoInstance, "As the watch ended:", "\n");
  // The IME's full-width space (Shift_JIS 81 40) before "=" in tarvokey.ini,
  // read from the file as the plug-in reads it: the advice is to delete it,
  // for a half-width space there is no better.
  CreateDirectoryA("full-width", nullptr);
  REQUIRE(SetCurrentDirectoryA("full-width"));
  WriteSettingsFile("FskRev\x81\x40=1\r\nFskPin=1\r\n");
  CheckSays(env, "", kExitNoBox, "a full-width space, as the Japanese IME types it: delete it");
  REQUIRE(SetCurrentDirectoryA(".."));
}

// Its Japanese verdict redirected, in code page 932 as `type` and Notepad
// read it on a Japanese Windows (Wine takes that code page from LC_ALL).
SCENARIO(check_program_japanese_in_code_page_932) {
  REQUIRE(GetACP() == 932);
  const char* verdict = u8"ボックスが見つかりません: USB に接続されていますか?";
  wchar_t wide[128] = L"";
  char ansi[256] = "";
  REQUIRE(MultiByteToWideChar(CP_UTF8, 0, verdict, -1, wide, 128) > 0);
  REQUIRE(WideCharToMultiByte(932, 0, wide, -1, ansi, sizeof ansi, nullptr, nullptr) > 0);
  CheckSays(env, "--lang ja", kExitNoBox, ansi);
}

// No box, a refused box, an accepted box: the exit status and the words of
// each; the settings file is only read, unless --setup is given.
SCENARIO(check_found_refused_none) {
  RemoveFile("tarvokey.ini");
  {
    BoxConsole console;
    CHECK_EQ(Check(console, {}), kExitNoBox);
    console.Says("No box found: is it plugged in?\n");
  }
  box::Device refused;
  refused.product = u"TARVOKEY HID 9.9";
  const int slot = box::Plug(refused);
  {
    BoxConsole console;
    CHECK_EQ(Check(console, {}), kExitRefused);
    console.Says("Box refused: generation 99 is not one tarvokey.fsk takes (1 to 98).\n");
    console.Says("  generation     99 (digits '9' and '9' at positions 13 and 15 of the product)");
  }
  box::Unplug(slot);
  box::Plug(box::Device{});
  {
    BoxConsole console;
    CHECK_EQ(Check(console, {}), kExitAccepted);
    console.Says("  CreateFile: ");
    console.Says("  Bytes Written: 9\n");
    console.Says("  generation     31 (digits '3' and '1' at positions 13 and 15 of the product)");
    console.Says("Box accepted: tarvokey.fsk can key it.\n");
  }
  CHECK(ReadFileBytes("tarvokey.ini").empty());
  CHECK(box::Prompts().empty());

  // --setup: the plug-in's two questions, and the file an open writes.
  box::AnswerPrompts({IDNO, IDYES});
  BoxConsole console;
  CHECK_EQ(Check(console, {"--setup"}), kExitAccepted);
  CHECK_EQ(box::Prompts().size(), 2u);
  CHECK_EQ(ReadFileBytes("tarvokey.ini").substr(0, 10), std::string("FskRev=0 /"));
  console.Says("  FSK pin   pin 3, as for the TARVOKEY Gen.3 (FskPin=3)\n");
}

// Three seconds of RYRY: the figures the program prints are the box's.
SCENARIO(check_key_figures_agree_with_the_box) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  BoxConsole console;
  CHECK_EQ(Check(console, {"--key", "3", "--yes"}), kExitAccepted);
  const std::vector<box::Event> reports = box::Reports();
  CHECK_EQ(Hex(reports.back().bytes), Hex(ReportBytes(0x0F)));

  const Figures f = FromBox(reports);
  const size_t all = console.out.find("\n  all ");
  REQUIRE(all != std::string::npos);
  int count = 0;
  double median = 0, p99 = 0, max = 0;
  REQUIRE(std::sscanf(console.out.c_str() + all, "\n  all %d %lf %lf %lf", &count, &median, &p99,
                      &max) == 4);
  CHECK_EQ(static_cast<size_t>(count), f.elements);
  CHECK_NEAR(median, f.median, 0.1);
  CHECK_NEAR(p99, f.p99, 0.1);
  CHECK_NEAR(max, f.max, 0.1);
  CHECK_NEAR(NumberAfter(console.out, "character period: mean "), f.meanPeriodMs, 0.1);
  CHECK_NEAR(NumberAfter(console.out, "baud rate: "), 7500 / f.meanPeriodMs, 0.1);
  // At least the seconds asked for; how much more is the machine's.
  console.Says("Keyed for ");
  CHECK(NumberAfter(console.out, "Keyed for ") >= 3);
}

// Ctrl-C, and closing the console window, as a character is going out: the
// lines are released before the run ends, and before a close lets the
// process go.
SCENARIO(check_key_stopped_mid_character) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  for (DWORD event : {CTRL_C_EVENT, CTRL_CLOSE_EVENT}) {
    BoxConsole console;
    Intervention stop{500, event, -1};
    CHECK_EQ(KeyWith(console, stop), kExitAccepted);
    CHECK_EQ(Hex(box::Reports().back().bytes), Hex(ReportBytes(0x0F)));
    const std::string stopped = event == CTRL_C_EVENT
                                    ? "Stopped by Ctrl-C after "
                                    : "Stopped by closing the console window after ";
    console.Says(stopped);
    CHECK(NumberAfter(console.out, stopped) >= 0.5);
    console.Says("PTT and FSK released: the last report to the box was 00 01 0F.\n");
    if (event == CTRL_CLOSE_EVENT) CHECK_EQ(stop.lineAtHandlerReturn, 0x0F);
  }
}

// The box unplugged a second into the run: the run ends at once, and says so.
SCENARIO(check_key_box_unplugged) {
  WriteDefaultSettings();
  Intervention unplug{1000, 0, box::Plug(box::Device{})};
  BoxConsole console;
  CHECK_EQ(KeyWith(console, unplug), kExitNoBox);
  CHECK(!box::Reports().back().ok);
  // A second, and well short of the ten asked for, however busy the machine.
  const std::string lost = "The box stopped taking reports after ";
  console.Says(lost);
  CHECK(NumberAfter(console.out, lost) >= 1 && NumberAfter(console.out, lost) < 5);
  console.Says(
      "No release report (00 01 0F) could be written: the box is gone or refuses writes.\n");
  console.Says("Result: the box was lost while keying.\n");
}

// While a host keys through the plug-in, tarvokey-check --status --json, a
// process of its own, reports what the box itself saw: the host, the link,
// the characters, no failed report, and the ticks' lateness as the box's
// timestamps give it. The keying goes on undisturbed. An unplug shows as
// "looking" within a second; once the host has closed, nothing is open.
SCENARIO(check_status_while_the_host_keys) {
  WriteDefaultSettings();
  // A product string with Japanese after the version digits: the JSON
  // carries it in UTF-8, whatever the code page of the program's text.
  box::Device device;
  device.product = u"TARVOKEY HID 3.1 \u5c40";  // 局
  const int slot = box::Plug(device);
  Mmtty mmtty(env.plugin);
  // Loaded a moment ahead of the open, so that the clock's first arming is seen.
  const HMODULE early = LoadLibraryA(WindowsPath(env.plugin).c_str());
  REQUIRE(early != nullptr);
  RecordArmedHolds();
  CHECK_EQ(mmtty.Open(), 1);
  FreeLibrary(early);
  const std::string pid = std::to_string(GetCurrentProcessId());

  // Read while the characters go out.
  CheckProcess during(env, "--status --json");
  const std::vector<uint8_t> codes = ita2::Encode("CQ CQ DE TARVOKEY TARVOKEY TEST");
  const Transmission tx = mmtty.Transmit(codes);
  DWORD status = 0;
  std::string json = during.Output(&status);
  CHECK_EQ(status, 0u);
  CHECK_EQ(JsonValue(json, "host_pid"), pid);
  CHECK_EQ(JsonValue(json, "link"), std::string("\"linked\""));
  CHECK_EQ(JsonValue(json, "reports_failed"), std::string("0"));
  CHECK(JsonFigure(json, "characters") <= static_cast<double>(tx.put.size()));
  const timeline::Keying keying = ReadKeying(box::Reports());
  CHECK_EQ(keying.characters.size(), tx.put.size());

  // And once they are all out, against the box's own timestamps.
  const std::vector<double> before = LatenessAtBox(box::Reports(), FirstArmedMs());
  CheckProcess after(env, "--status --json");
  json = after.Output(&status);
  const std::vector<double> since = LatenessAtBox(box::Reports(), FirstArmedMs());
  std::printf("%s", json.c_str());
  CHECK_EQ(status, 0u);
  CHECK_EQ(json.substr(0, 1), std::string("["));  // the document is the whole output
  CHECK_EQ(JsonValue(json, "host_pid"), pid);
  CHECK_EQ(JsonValue(json, "link"), std::string("\"linked\""));
  CHECK_EQ(JsonValue(json, "characters"), std::to_string(tx.put.size()));
  CHECK_EQ(JsonValue(json, "reports_failed"), std::string("0"));
  CHECK_EQ(JsonValue(json, "ptt"), std::string("false"));
  CHECK_EQ(JsonValue(json, "box_product"), std::string("\"TARVOKEY HID 3.1 \xE5\xB1\x80\""));
  const double ticks = JsonFigure(json, "ticks");
  CHECK(ticks >= static_cast<double>(before.size()) && ticks <= since.size() + 1.0);
  const std::string lateness = json.substr(json.find("\"lateness_ms\": {"));
  const double median = JsonFigure(lateness, "median");
  const double p99 = JsonFigure(lateness, "p99");
  const double max = JsonFigure(lateness, "max");
  std::printf("lateness: status %.3f/%.3f/%.3f ms, box %.3f/%.3f/%.3f ms over %zu ticks\n", median,
              p99, max, Rank(since, 0.5), Rank(since, 0.99), since.back(), since.size());
  CHECK_NEAR(median, Rank(since, 0.5), QuantileResolutionMs(Rank(since, 0.5)));
  CHECK_NEAR(p99, Rank(since, 0.99), QuantileResolutionMs(Rank(since, 0.99)));
  // The ticks between the two looks at the box may hold a later one.
  CHECK(max >= before.back() - 0.5 && max <= since.back() + 0.5);

  box::Unplug(slot);
  Sleep(1000);
  CheckProcess unplugged(env, "--status --json");
  json = unplugged.Output(&status);
  CHECK_EQ(status, 0u);
  CHECK_EQ(JsonValue(json, "link"), std::string("\"looking\""));
  CHECK_EQ(JsonValue(json, "link_drops"), std::string("1"));

  mmtty.Close();
  CheckProcess closed(env, "--status --json");
  CHECK_EQ(closed.Output(&status), std::string("[]\r\n"));
  CHECK_EQ(status, 1u);

  // Sections another program makes in the plug-in's name are read as
  // untrusted: garbage, and memory reserved but never committed, which would
  // fault if read. Each is a line saying so (and counts as open). And one
  // this user may not read, as an MMTTY run as administrator makes it: listed
  // under the program's name, never as "no program".
  const std::wstring name = L"Local\\tarvokey-status-" + std::to_wstring(GetCurrentProcessId());
  SECURITY_DESCRIPTOR noAccess;
  InitializeSecurityDescriptor(&noAccess, SECURITY_DESCRIPTOR_REVISION);
  ACL empty;
  InitializeAcl(&empty, sizeof empty, ACL_REVISION);
  SetSecurityDescriptorDacl(&noAccess, TRUE, &empty, FALSE);
  SECURITY_ATTRIBUTES elevated{sizeof elevated, &noAccess, FALSE};
  const struct {
    DWORD protection;
    SECURITY_ATTRIBUTES* security;
    const char* problem;
  } fakes[] = {
      {PAGE_READWRITE, nullptr,
       "its status section is not a tarvokey.fsk status (it begins 0x5A5A5A5A)"},
      {PAGE_READWRITE | SEC_RESERVE, nullptr, "its status section is too small (0 bytes)"},
      {PAGE_READWRITE | SEC_RESERVE, &elevated, nullptr},
  };
  for (const auto& fake : fakes) {
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, fake.security, fake.protection, 0,
                                        1 << 16, name.c_str());
    REQUIRE(section != nullptr);
    if ((fake.protection & SEC_RESERVE) == 0) {
      void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0);
      REQUIRE(view != nullptr);
      std::memset(view, 0x5A, 64);
      UnmapViewOfFile(view);
    }
    CheckProcess reading(env, "--status --json");
    json = reading.Output(&status);
    CloseHandle(section);
    CHECK_EQ(status, 0u);
    if (fake.security == nullptr) {
      CHECK_EQ(JsonValue(json, "problem"), "\"" + std::string(fake.problem) + "\"");
    } else {
      CHECK_EQ(JsonValue(json, "host_exe"), std::string("\"e2e_check.exe\""));
      CHECK_EQ(JsonValue(json, "access_denied"), std::string("true"));
    }
  }
}

namespace {

// The status the plug-in in process `pid` publishes, as tarvokey-check reads it.
status::Record StatusOf(DWORD pid) {
  BoxConsole console;
  for (const StatusEntry& entry : console.ReadStatuses()) {
    if (entry.pid == pid && entry.read.problem == status::Problem::None) return entry.read.record;
  }
  return status::Record{};
}

// The discoveries begun from event `events` on before the first report after
// report `reports`, once that report has come.
size_t DiscoveriesUntilTaken(size_t events, size_t reports) {
  REQUIRE(box::WaitForReports(reports + 1, 2000));
  size_t discoveries = 0;
  for (const box::Event& e : Slice(box::Events(), events)) {
    if (e.kind == box::EventKind::Write) break;
    discoveries += e.kind == box::EventKind::Enumerate;
  }
  return discoveries;
}

// Polls until `what` holds; false if it has not within boundMs.
template <typename What>
bool Within(DWORD boundMs, What what) {
  const double deadline = box::NowMs() + boundMs;
  while (!what()) {
    if (box::NowMs() > deadline) return false;
    Sleep(5);
  }
  return true;
}

}  // namespace

// Two programs and one box, as a station with two MMTTY windows has them: the
// other keys a long text (mmtty_send, a process of its own, its simulated box
// on the same bus as this one's: one box with one device path). tarvokey-check
// and its --key refuse beside it and name it; this program's MMTTY opens the
// plug-in and transmits, and its box sees no report at all; --status --json
// shows it in use, with the holder's pid. When the holder closes, and again
// when it is killed mid-transmission, this one takes the box at its next
// discovery, and its characters arrive framed.
SCENARIO(check_two_programs_one_box) {
  WriteDefaultSettings();
  box::ShareBus("two-programs-one-box");
  box::Plug(box::Device{});
  char self[MAX_PATH] = "";
  REQUIRE(GetModuleFileNameA(nullptr, self, MAX_PATH) > 0);
  const std::string holderProgram = Beside(self, "mmtty_send.exe");
  const std::string pid = std::to_string(GetCurrentProcessId());
  const std::vector<uint8_t> codes = ita2::Encode("RYRY DE TARVOKEY");

  for (const bool killed : {false, true}) {
    // Long enough to outlast what is asked beside it here, however slow the
    // machine; the one to be killed would go on for a minute.
    const std::string text(killed ? 360 : 60, 'R');
    FILE* file = std::fopen("holder.txt", "wb");
    REQUIRE(file != nullptr);
    std::fputs(text.c_str(), file);
    std::fclose(file);
    ChildProcess holder(holderProgram, "\"" + WindowsPath(env.plugin) + "\" holder.txt holder.csv");
    const std::string holderPid = std::to_string(holder.pid());
    REQUIRE(Within(10000, [&] {
      return StatusOf(holder.pid()).link == static_cast<uint8_t>(status::Link::Linked);
    }));
    const std::string named =
        ProgramText("mmtty_send.exe", holder.pid(), FolderOf(self), kTextsEnglish.status);
    const size_t from = box::ReportCount();
    // The check and --key beside it: status 1, the holder named, nothing written.
    for (const char* key : {"", "--key"}) {
      if (killed) break;
      BoxConsole console;
      CHECK_EQ(Check(console, *key != 0 ? std::vector<std::string>{key, "2", "--yes"}
                                        : std::vector<std::string>{}),
               kExitNoBox);
      console.Says(Format(kTextsEnglish.inUseHeading, named.c_str()));
      console.Says(Format(kTextsEnglish.verdictInUse, named.c_str()));
      console.Says(kTextsEnglish.nextInUse);
    }

    Mmtty mmtty(env.plugin);
    CHECK_EQ(mmtty.Open(), 1);
    mmtty.Transmit(codes);
    CheckProcess status(env, "--status --json");
    DWORD exit = 0;
    const std::string json = status.Output(&exit);
    const std::string ours = json.substr(std::min(json.size(), json.find("\"host_pid\": " + pid)));
    CHECK_EQ(JsonValue(ours, "link"), std::string("\"in use\""));
    CHECK_EQ(JsonValue(ours, "holder_pid"), holderPid);
    CHECK_EQ(box::ReportCount(), from);  // not one report while the other holds the box
    REQUIRE(StatusOf(holder.pid()).link == static_cast<uint8_t>(status::Link::Linked));

    if (killed) {
      CHECK(Within(10000, [&] { return StatusOf(holder.pid()).characters >= 3; }));
      holder.Kill();
    } else {
      CHECK_EQ(holder.Output(&exit).find("FAIL"), std::string::npos);
      CHECK_EQ(exit, 0u);
    }
    // Taken at the first discovery that starts once the holder is gone.
    CHECK(DiscoveriesUntilTaken(box::Events().size(), from) <= 1);

    const Transmission tx = mmtty.Transmit(codes);
    NextReports(2);
    mmtty.Close();
    std::vector<uint8_t> received;
    for (const timeline::Character& c : ReadKeying(ReportsFrom(from)).characters) {
      received.push_back(static_cast<uint8_t>(c.code));
    }
    CHECK_EQ(Hex(received), Hex(tx.put));
  }
}

// Two radios on one PC (SO2R): two boxes on one bus, and two MMTTY windows in
// two folders, each folder's tarvokey.ini naming its own box; this program is
// the one whose box Windows lists second. Each box carries only its own
// window's reports, from the open's first on, and both key at once, framed.
// The chosen box unplugged for a second: nothing goes to the other box, and
// keying resumes within one discovery of its return. A third window waiting
// for this one's box never gets it, however often a write fails here. A
// malformed FskBox keys no box.
SCENARIO(two_radios_two_folders_each_keys_its_own_box) {
  box::ShareBus("two-radios");
  box::Plug(box::Device{});
  box::Plug(box::Device{});
  char self[MAX_PATH] = "";
  REQUIRE(GetModuleFileNameA(nullptr, self, MAX_PATH) > 0);
  const std::string sender = Beside(self, "mmtty_send.exe");
  const auto key = [](int slot) { return KeyText(BoxKey(box::PathOf(slot).c_str())); };
  const auto chosen = [&](int slot) {
    return "FskRev=0\r\nFskPin=1\r\nFskBox=" + key(slot) + "\r\n";
  };
  const auto write = [](const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    REQUIRE(file != nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  };
  // Another window: its own folder and choice, a text of its own.
  const auto window = [&](const std::string& folder, int slot, size_t characters) {
    CreateDirectoryA(folder.c_str(), nullptr);
    write(folder + "\\tarvokey.ini", chosen(slot));
    write(folder + "\\text.txt", std::string(characters, 'R'));
    char full[MAX_PATH] = "";
    GetFullPathNameA(folder.c_str(), MAX_PATH, full, nullptr);
    return std::string(full);
  };
  const auto touched = [](size_t from, int slot) {
    const std::vector<box::Event> events = box::Events();
    return std::count_if(events.begin() + static_cast<long>(from), events.end(),
                         [slot](const box::Event& e) { return e.slot == slot; });
  };
  const auto framed = [](size_t from, const Transmission& tx) {
    std::vector<uint8_t> received;
    for (const timeline::Character& c : ReadKeying(ReportsFrom(from)).characters) {
      received.push_back(static_cast<uint8_t>(c.code));
    }
    return Hex(received) == Hex(tx.put);
  };
  const std::vector<uint8_t> codes = ita2::Encode("CQ CQ DE TARVOKEY");

  const std::string folder2 = window("radio1", 0, 40);
  ChildProcess other(sender, "\"" + WindowsPath(env.plugin) + "\" text.txt keyed.csv 2", "",
                     folder2);
  REQUIRE(Within(10000, [&] {
    return StatusOf(other.pid()).link == static_cast<uint8_t>(status::Link::Linked);
  }));
  WriteSettingsFile(chosen(1));
  Mmtty mmtty(env.plugin);
  REQUIRE(mmtty.Open() == 1);
  const Transmission tx = mmtty.Transmit(codes);
  NextReports(2);
  CHECK_EQ(touched(0, 0), 0);
  CHECK(!box::Reports().empty() && box::Reports().front().slot == 1);
  CHECK(framed(0, tx));
  // The list beside them: the other window's box named with its folder.
  {
    BoxConsole console;
    CHECK_EQ(Check(console, {"--boxes"}), 0);
    console.Says(
        Format(kTextsEnglish.boxesKeyedBy,
               ProgramText("mmtty_send.exe", other.pid(), FolderOf(sender), kTextsEnglish.status)
                   .c_str()));
    console.Says(Format(kTextsEnglish.boxesChooseOne, 2, key(1).c_str()));
  }
  DWORD exit = 0;
  CHECK_EQ(other.Output(&exit).find("FAIL"), std::string::npos);
  CHECK_EQ(exit, 0u);
  const std::string keyed = ReadFileBytes(folder2 + "\\keyed.csv");
  CHECK(keyed.find("# slots= 0 \n") != std::string::npos);
  const auto value = [&](const std::string& label) {
    const size_t at = keyed.find(label);
    return at == std::string::npos
               ? "(none)"
               : keyed.substr(at + label.size(), keyed.find('\n', at) - at - label.size());
  };
  CHECK_EQ(value("# received_codes="), value("# codes="));

  // Unplugged for a second: the other box is not touched; back within one
  // discovery.
  size_t events = box::Events().size();
  box::Unplug(1);
  Sleep(1000);
  CHECK_EQ(touched(events, 0), 0);
  events = box::Events().size();
  const size_t from = box::ReportCount();
  box::Replug(1);
  CHECK(DiscoveriesUntilTaken(events, from) <= 1);

  // A third window whose folder names this one's box waits; failed writes
  // here never hand it the radio.
  const std::string folder3 = window("radio2-receive", 1, 200);
  ChildProcess waiting(sender, "\"" + WindowsPath(env.plugin) + "\" text.txt keyed.csv 2", "",
                       folder3);
  REQUIRE(Within(10000, [&] {
    return StatusOf(waiting.pid()).link == static_cast<uint8_t>(status::Link::InUse);
  }));
  const size_t before = box::ReportCount();
  for (int round = 0; round < 5; ++round) {
    box::FailNextWrites(1);
    NextReports(10);
  }
  const Transmission again = mmtty.Transmit(codes);
  NextReports(2);
  CHECK(framed(before, again));
  const status::Record third = StatusOf(waiting.pid());
  CHECK_EQ(third.link, static_cast<uint8_t>(status::Link::InUse));
  CHECK_EQ(third.reportsWritten, 0u);
  waiting.Kill();
  mmtty.Close();

  // Another kind of object under the box's claim name (a semaphore, say):
  // held, and shown as such (Windows' ERROR_INVALID_HANDLE, as Wine gives it).
  // Not an event: this program's CreateEventA reaches the simulated box.
  HANDLE squatter = CreateSemaphoreA(nullptr, 0, 1, ("Global\\tarvokey-box-" + key(1)).c_str());
  REQUIRE(squatter != nullptr);
  events = box::Events().size();
  CHECK_EQ(mmtty.Open(), 1);
  CHECK(Within(2000, [] {
    const status::Record r = StatusOf(GetCurrentProcessId());
    return r.link == static_cast<uint8_t>(status::Link::InUse) &&
           r.claimError == ERROR_INVALID_HANDLE;
  }));
  mmtty.Close();
  CloseHandle(squatter);
  for (const box::Event& e : Slice(box::Events(), events)) CHECK(e.kind != box::EventKind::Write);

  // An FskBox that names no box: nothing is looked for, opened or written.
  WriteSettingsFile("FskRev=0\r\nFskPin=1\r\nFskBox=12345\r\n");
  events = box::Events().size();
  CHECK_EQ(mmtty.Open(), 1);
  Sleep(300);
  mmtty.Close();
  CHECK_EQ(box::Events().size(), events);
  BoxConsole console;
  CHECK_EQ(Check(console, {}), kExitNoBox);
  console.Says(kTextsEnglish.verdictNoChoice);
}

// Another program of the user made a section in the plug-in's name before the
// open: too small, read-only, reserved and never committed (but for Wine,
// which lets a write into reserved pages through, beginning as a record), or
// full of garbage. The plug-in keys as ever and leaves that section as it was
// (Wine maps the first two, and would let its writes into the third through:
// the bytes are what shows the checks were made). The last instance's section,
// which a monitor still holds, it takes, going on from its sequence count.
SCENARIO(status_section_made_first_by_another_program) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  const DWORD pid = GetCurrentProcessId();
  const std::wstring name = L"Local\\tarvokey-status-" + std::to_wstring(pid);
  const struct {
    const char* what;
    DWORD protection;
    DWORD bytes;
    DWORD first;  // the first word, then
    DWORD fill;   // every other
  } squatters[] = {
      {"too small", PAGE_READWRITE, 64, 0x5A5A5A5B, 0x5A5A5A5B},
      {"read-only", PAGE_READONLY, 1 << 16, 0, 0},
      {"reserved", PAGE_READWRITE | SEC_RESERVE, 1 << 16, status::kMagic, 0},
      {"garbage", PAGE_READWRITE, 1 << 16, 0x5A5A5A5B, 0x5A5A5A5B},
  };
  for (const auto& squatter : squatters) {
    std::printf("made first: %s\n", squatter.what);
    HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, squatter.protection, 0,
                                        squatter.bytes, name.c_str());
    REQUIRE(section != nullptr);
    const DWORD access = squatter.protection == PAGE_READONLY ? FILE_MAP_READ : FILE_MAP_WRITE;
    void* view = MapViewOfFile(section, access, 0, 0, 0);
    REQUIRE(view != nullptr);
    if (squatter.fill != 0) {
      std::fill_n(static_cast<DWORD*>(view), squatter.bytes / 4, squatter.fill);
    }
    if (squatter.first != squatter.fill) {
      // Into a reserved page, as only Wine lets it (Windows refuses, harmlessly).
      WriteProcessMemory(GetCurrentProcess(), view, &squatter.first, 4, nullptr);
    }

    Plugin plugin(env.plugin);
    OpenKeyed(plugin);
    CHECK_EQ(box::Reports().back().line(), 0x0C);  // keyed: PTT on, the idle mark
    plugin.Close();
    // Read as a program that must not fault would: on Windows a reserved
    // page cannot be read.
    std::vector<DWORD> words(std::min<size_t>(squatter.bytes, sizeof(status::Record)) / 4);
    if (ReadProcessMemory(GetCurrentProcess(), view, words.data(), words.size() * 4, nullptr)) {
      CHECK_EQ(words[0], squatter.first);
      CHECK_EQ(static_cast<size_t>(std::count(words.begin() + 1, words.end(), squatter.fill)),
               words.size() - 1);
    }
    UnmapViewOfFile(view);
    CloseHandle(section);
  }

  Plugin plugin(env.plugin);
  OpenKeyed(plugin);
  HANDLE monitor = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
  REQUIRE(monitor != nullptr);
  const void* view = MapViewOfFile(monitor, FILE_MAP_READ, 0, 0, 0);
  REQUIRE(view != nullptr);
  NextReports(20);
  plugin.Close();
  const status::ReadResult closed = status::Read(view, sizeof(status::Record), pid);
  CHECK(closed.problem == status::Problem::Closed);
  OpenKeyed(plugin, 1);
  const status::ReadResult reopened = status::Read(view, sizeof(status::Record), pid);
  CHECK(reopened.problem == status::Problem::None);
  CHECK(reopened.record.sequence > closed.record.sequence);
  plugin.Close();
  UnmapViewOfFile(view);
  CloseHandle(monitor);
}
