// The wiring choices: tarvokey.ini in the host's current folder (or, when
// that has none, beside the host program), and the two first-use prompts,
// byte for byte in Shift_JIS on a Japanese system and as UTF-16 with English
// under them elsewhere. The expected bytes are made by the build with iconv
// from the UTF-8 texts in tests/data.
#include <cstdlib>

#include "host/ita2.h"
#include "host/mmtty.h"
#include "host/scenario.h"

namespace {

constexpr UINT kPromptStyle = MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON3;

// A text as the build wrote it: "sjis" (code page 932) or "utf16".
std::string Expected(const Env& env, const std::string& name, const char* type = "sjis") {
  const std::string bytes = ReadFileBytes(env.data + "\\" + name + "." + type);
  if (bytes.empty()) check::Fail(__FILE__, __LINE__, std::string("no expected bytes for ") + name);
  return bytes;
}

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> Bytes(const std::wstring& text) {
  const auto* first = reinterpret_cast<const uint8_t*>(text.data());
  return std::vector<uint8_t>(first, first + text.size() * 2);
}

// The settings file as the module writes it back: two lines, CR LF.
std::string SettingsFile(const Env& env, int rev, int pin) {
  char line[256];
  std::string file;
  std::snprintf(line, sizeof line, Expected(env, "rev_line").c_str(), rev);
  file += line;
  file += "\r\n";
  std::snprintf(line, sizeof line, Expected(env, "pin_line").c_str(), pin);
  file += line;
  file += "\r\n";
  return file;
}

// Japanese Windows reads the ANSI box's Shift_JIS as it is; elsewhere it would
// be mojibake, and the box is the wide one, the English under the Japanese.
void CheckPrompt(const Env& env, const box::Prompt& prompt, const std::string& text) {
  if (GetACP() == 932) {
    CHECK(!prompt.wide);
    CHECK_EQ(Hex(Bytes(prompt.text)), Hex(Bytes(Expected(env, text))));
    CHECK_EQ(Hex(Bytes(prompt.caption)), Hex(Bytes(Expected(env, "caption"))));
  } else {
    CHECK(prompt.wide);
    const std::string blankLine("\n\0\n\0", 4);  // in UTF-16
    CHECK_EQ(Hex(Bytes(prompt.wideText)), Hex(Bytes(Expected(env, text, "utf16") + blankLine +
                                                    Expected(env, text + "_en", "utf16"))));
    CHECK_EQ(Hex(Bytes(prompt.wideCaption)), Hex(Bytes(Expected(env, "caption", "utf16"))));
  }
  CHECK_EQ(prompt.style, kPromptStyle);
  CHECK(prompt.owner == nullptr);
  CHECK_EQ(prompt.threadId, GetCurrentThreadId());  // the host's thread, inside extfskOpen
}

// Runs under the code page the test asks for; Wine takes it from LC_ALL.
void RequireCodePage() {
  if (const char* codePage = std::getenv("TARVOKEY_ANSI_CODE_PAGE")) {
    REQUIRE(GetACP() == static_cast<UINT>(std::atoi(codePage)));
  }
}

std::wstring Widen(const std::string& text) {
  wchar_t wide[MAX_PATH] = L"";
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, MAX_PATH);
  return wide;
}

std::wstring FolderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

// Keys "RY" and reads it back with the wiring given: every code arrives.
bool KeysWith(Mmtty& mmtty, const timeline::Wiring& wiring) {
  const size_t from = box::ReportCount();
  const Transmission tx = mmtty.Transmit(ita2::Encode("RY"));
  NextReports(2);
  std::vector<uint8_t> received;
  for (const timeline::Character& c : ReadKeying(ReportsFrom(from), wiring).characters) {
    received.push_back(static_cast<uint8_t>(c.code));
  }
  CHECK_EQ(Hex(received), Hex(tx.put));
  return received == tx.put;
}

// Plays MMTTY.EXE in a folder whose name ends in 表, whose second Shift_JIS
// byte is '\': a copy of this program with the module beside it, started
// there. Returns false when this is the copy.
bool StartedAsMmttyElsewhere(const Env& env, const std::string& scenario) {
  wchar_t self[MAX_PATH] = L"";
  REQUIRE(GetModuleFileNameW(nullptr, self, MAX_PATH) != 0);
  if (lstrcmpiW(self + FolderOf(self).size() + 1, L"MMTTY.EXE") == 0) return false;
  wchar_t here[MAX_PATH] = L"";
  GetCurrentDirectoryW(MAX_PATH, here);
  const std::wstring host = std::wstring(here) + L"\\MMTTY\u8868";
  const std::wstring other = std::wstring(here) + L"\\logger";
  CreateDirectoryW(host.c_str(), nullptr);
  CreateDirectoryW(other.c_str(), nullptr);
  DeleteFileW((host + L"\\tarvokey.ini").c_str());
  DeleteFileW((other + L"\\tarvokey.ini").c_str());
  REQUIRE(CopyFileW(self, (host + L"\\MMTTY.EXE").c_str(), FALSE));
  REQUIRE(
      CopyFileW(Widen(WindowsPath(env.plugin)).c_str(), (host + L"\\tarvokey.fsk").c_str(), FALSE));
  std::wstring command =
      L"MMTTY.EXE tarvokey.fsk " + Widen(scenario) + L" \"" + Widen(env.data) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  REQUIRE(CreateProcessW((host + L"\\MMTTY.EXE").c_str(), command.data(), nullptr, nullptr, TRUE, 0,
                         nullptr, host.c_str(), &startup, &process));
  const bool ended = WaitForSingleObject(process.hProcess, 90000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process.hProcess, 1);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CHECK(ended);
  CHECK_EQ(exitCode, 0u);
  return true;
}

}  // namespace

// Polarity and pin from the file: all four wirings, keyed and read back at
// the box, and the file written back in the module's own words.
SCENARIO(four_wirings_keyed_as_the_file_says) {
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  struct Wiring {
    int rev;
    int pin;
    uint8_t pttOn;  // PTT on, FSK not yet driven
    uint8_t mark;
    uint8_t space;
  };
  const Wiring wirings[] = {
      {0, 1, 0x0D, 0x0C, 0x0D},
      {1, 1, 0x0D, 0x0D, 0x0C},
      {0, 3, 0x05, 0x01, 0x05},
      {1, 3, 0x05, 0x05, 0x01},
  };
  for (const Wiring& w : wirings) {
    char file[64];
    std::snprintf(file, sizeof file, "FskRev=%d // x\r\nFskPin=%d // y\r\n", w.rev, w.pin);
    WriteSettingsFile(file);
    CHECK_EQ(plugin.Open(), 1);
    CHECK_EQ(plugin.SetPtt(1) & 0xFF, w.pttOn);
    for (uint8_t line : Lines(NextReports(2))) CHECK_EQ(line, w.pttOn);
    CHECK_EQ(plugin.IsTxBusy(), 0);
    NextReports(1);
    for (uint8_t line : Lines(NextReports(2))) CHECK_EQ(line, w.mark);

    // 0x13: start, 1, 1, 0, 0, 1, stop, idle.
    const uint8_t m = w.mark;
    const uint8_t s = w.space;
    CHECK_EQ(Hex(Lines(SendOne(plugin, 0x13, w.mark))), Hex({s, m, m, s, s, m, m, m}));
    CHECK_EQ(plugin.SetPtt(0) & 0xFF, 0x0F);
    plugin.Close();
    CHECK_EQ(Hex(Bytes(ReadFileBytes("tarvokey.ini"))),
             Hex(Bytes(SettingsFile(env, w.rev, w.pin))));
  }
  CHECK(box::Prompts().empty());
}

// No file: both prompts, polarity first, while the clock already runs; the
// answers key the box and are written down; Cancel (or a failed box) asks
// again next time.
SCENARIO(settings_prompts) {
  RequireCodePage();
  RemoveFile("tarvokey.ini");
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  REQUIRE(plugin.imports("MessageBoxA") && plugin.imports("MessageBoxW"));

  box::SetPromptDelay(120);
  box::AnswerPrompts({IDYES, IDYES});
  CHECK_EQ(plugin.Open(), 1);
  std::vector<box::Prompt> prompts = box::Prompts();
  REQUIRE(prompts.size() == 2);
  CheckPrompt(env, prompts[0], "polarity_prompt");
  CheckPrompt(env, prompts[1], "pin_prompt");
  size_t during = 0;
  for (const box::Event& r : box::Reports()) {
    during += r.ms > prompts[0].startMs && r.ms < prompts[0].endMs ? 1 : 0;
  }
  CHECK(during >= 3);  // ~5 ticks in 120 ms
  // Yes, Yes: reverse polarity on pin 3.
  CHECK_EQ(plugin.SetPtt(1) & 0xFF, 0x05);
  CHECK_EQ(plugin.IsTxBusy(), 0);
  NextReports(1);
  CHECK_EQ(NextReports(1).at(0).line(), 0x05);
  plugin.Close();
  CHECK_EQ(Hex(Bytes(ReadFileBytes("tarvokey.ini"))), Hex(Bytes(SettingsFile(env, 1, 3))));

  // Answered once: no question at the next open.
  box::SetPromptDelay(0);
  box::AnswerPrompts({});
  CHECK_EQ(plugin.Open(), 1);
  plugin.Close();
  CHECK_EQ(box::Prompts().size(), 2u);

  // Cancel keeps the default and records -1, so the question comes again.
  RemoveFile("tarvokey.ini");
  box::AnswerPrompts({IDCANCEL, IDNO});
  CHECK_EQ(plugin.Open(), 1);
  CHECK_EQ(plugin.SetPtt(1) & 0xFF, 0x0D);  // normal, pin 1
  plugin.Close();
  prompts = box::Prompts();
  REQUIRE(prompts.size() == 4);
  CheckPrompt(env, prompts[2], "polarity_prompt");
  CheckPrompt(env, prompts[3], "pin_prompt");
  CHECK_EQ(Hex(Bytes(ReadFileBytes("tarvokey.ini"))), Hex(Bytes(SettingsFile(env, -1, 1))));

  // A box that could not be shown (result 0) counts as Cancel too.
  box::AnswerPrompts({0});
  CHECK_EQ(plugin.Open(), 1);
  plugin.Close();
  prompts = box::Prompts();
  REQUIRE(prompts.size() == 5);
  CheckPrompt(env, prompts[4], "polarity_prompt");
  CHECK_EQ(Hex(Bytes(ReadFileBytes("tarvokey.ini"))), Hex(Bytes(SettingsFile(env, -1, 1))));

  box::AnswerPrompts({IDNO});
  CHECK_EQ(plugin.Open(), 1);
  plugin.Close();
  CHECK_EQ(box::Prompts().size(), 6u);
  CHECK_EQ(Hex(Bytes(ReadFileBytes("tarvokey.ini"))), Hex(Bytes(SettingsFile(env, 0, 1))));
}

// MMTTY's Suspend, external program and Resume (KExtCmdClick, KExtResetClick
// in Main.cpp): it closes the plug-in and frees it, makes the other program's
// folder current, and on Resume loads and opens the plug-in again before it
// makes its own folder current. The answers beside MMTTY.EXE hold there, with
// no question and no file left in the other folder; a complete file in the
// current folder still comes first.
SCENARIO(settings_resume_in_another_folder) {
  RequireCodePage();
  if (StartedAsMmttyElsewhere(env, "settings_resume_in_another_folder")) return;
  wchar_t host[MAX_PATH] = L"";
  GetCurrentDirectoryW(MAX_PATH, host);
  const std::wstring other = FolderOf(host) + L"\\logger";
  const timeline::Wiring reversePin3{true, true};
  const timeline::Wiring normalPin1{};
  WriteSettingsFile("FskRev=1\r\nFskPin=3\r\n");
  box::Plug(box::Device{});
  MmttyOptions options;
  options.diddle = Diddle::None;
  Mmtty mmtty("tarvokey.fsk", options);  // found beside MMTTY.EXE, as MMTTY finds it

  CHECK_EQ(mmtty.Open(), 1);
  CHECK(KeysWith(mmtty, reversePin3));
  mmtty.Close();
  REQUIRE(SetCurrentDirectoryW(other.c_str()));
  CHECK_EQ(mmtty.Open(), 1);
  CHECK(KeysWith(mmtty, reversePin3));
  CHECK_EQ(ReadFileBytes("tarvokey.ini"), "");
  REQUIRE(SetCurrentDirectoryW(host));
  CHECK_EQ(Hex(Bytes(ReadFileBytes("tarvokey.ini"))), Hex(Bytes(SettingsFile(env, 1, 3))));

  mmtty.Close();
  REQUIRE(SetCurrentDirectoryW(other.c_str()));
  WriteSettingsFile("FskRev=0\r\nFskPin=1\r\n");
  CHECK_EQ(mmtty.Open(), 1);
  CHECK(KeysWith(mmtty, normalPin1));
  CHECK_EQ(Hex(Bytes(ReadFileBytes("tarvokey.ini"))), Hex(Bytes(SettingsFile(env, 0, 1))));
  REQUIRE(SetCurrentDirectoryW(host));
  CHECK_EQ(Hex(Bytes(ReadFileBytes("tarvokey.ini"))), Hex(Bytes(SettingsFile(env, 1, 3))));
  mmtty.Close();
  CHECK(box::Prompts().empty());
}
