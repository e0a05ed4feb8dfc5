// The check program on the simulated platform: its verdicts, exit statuses and
// settings report, and --key on virtual time.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <thread>
#include <tuple>

#include <gmock/gmock.h>

#include "fixture.h"
#include "hidlink/box_claim.h"
#include "platform/sim/sim_power.h"
#include "platform/sim/sim_prompt.h"
#include "settings/settings_reader.h"
#include "shell/version.h"
#include "tools/check/check.h"
#include "tools/check/text.h"
#include "tools/check/texts.h"

namespace {

// Virtual time passes while the program sleeps, unless the platform runs in
// real time; `during` runs each time it asks whether to stop, and answers for
// the operator.
class TestConsole : public Console {
 public:
  std::string out;
  bool answer = false;
  bool realTime = false;
  bool japanese = false;
  bool ownConsole = false;
  int waitedForEnter = 0;
  std::function<Stop()> during;
  std::function<bool()> enter;
  std::vector<StatusEntry> others;  // what other programs publish

  void Print(const std::string& text) override { out += text; }
  bool Confirm(const std::string& question) override {
    out += question + (answer ? "yes\n" : "no\n");
    return answer;
  }
  double NowMs() override { return sim::NowMs(); }
  void Sleep(uint32_t ms) override {
    if (realTime) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    } else {
      sim::AdvanceMs(ms);
    }
  }
  Stop StopRequest() override { return during ? during() : Stop::None; }
  // The sections the module made, found by their names as the Windows
  // console finds them by process.
  std::vector<StatusEntry> ReadStatuses() override {
    std::vector<StatusEntry> entries = others;
    for (const sim::StatusSection& section : sim::StatusSections()) {
      const uint32_t pid =
          static_cast<uint32_t>(std::stoul(section.name.substr(section.name.rfind('-') + 1)));
      entries.push_back({pid, status::Read(section.view, section.bytes, pid)});
    }
    return entries;
  }
  bool EnterPressed() override { return enter && enter(); }
  bool JapaneseUser() override { return japanese; }
  bool OwnConsole() override { return ownConsole; }
  void WaitForEnter() override { ++waitedForEnter; }
  std::string FullPath(const char* name) override {
    return (std::filesystem::current_path() / name).string();
  }
};

void WriteSettings(const std::string& text) { std::ofstream("tarvokey.ini") << text; }

std::vector<uint8_t> Lines() {
  std::vector<uint8_t> lines;
  for (const sim::BoxEvent& write : sim::HidReports()) lines.push_back(write.bytes[2]);
  return lines;
}

using ::testing::HasSubstr;
using ::testing::Not;

}  // namespace

class CheckTest : public DriverTest {
 protected:
  int Run(const std::vector<std::string>& args) {
    console.out.clear();
    ResetModule();
    return RunCheck(args, console);
  }
  TestConsole console;
};

TEST_F(CheckTest, EachVerdictHasItsExitStatusAndLine) {
  EXPECT_EQ(Run({}), kExitNoBox);
  EXPECT_THAT(console.out, HasSubstr("  Device not detected\n"));
  EXPECT_THAT(console.out, HasSubstr("No box: no HID device has the box's vendor ID 0x0BFE"));
  EXPECT_THAT(console.out, testing::EndsWith(std::string("No box found: is it plugged in?\n") +
                                             kTextsEnglish.nextNoBox));

  sim::Box()->Plug(sim::HidDevice{});
  EXPECT_EQ(RunCheck({}, console), kExitAccepted);
  // The trace as the module makes it, then what the box is.
  for (const char* part :
       {"  ***HID Test Report***\n  CreateFile: The operation completed successfully.\n",
        "  Device detected\n  SetupDiDestroyDeviceInfoList", "  Bytes Written: 9\n",
        "  generation     31 (digits '3' and '1' at positions 13 and 15 of the product)\n",
        "  product        \"TARVOKEY HID 3.1\"\n", "vendor ID 0x0BFE, product ID 0x0E00",
        "  report length  9 bytes\n", "  device path    \\\\?\\hid#vid_0bfe&pid_0e00#sim&0#",
        "Box accepted: tarvokey.fsk can key it.\n",
        u8"Next, in MMTTY: Option → Setup MMTTY..., TX tab, PTT & FSK group: choose\ntarvokey"}) {
    EXPECT_THAT(console.out, HasSubstr(part));
  }
  // The open's first report and the close's release, nothing keyed, nothing asked.
  EXPECT_EQ(Lines(), (std::vector<uint8_t>{0x0F, 0x0F}));
  EXPECT_TRUE(sim::PromptsShown().empty());

  // Each refusal says why, and ends with what to do about it.
  struct Refusal {
    sim::HidDevice device;
    const char* why;
    const char* next;
  } refusals[] = {
      {sim::HidDevice{}, "Box refused: generation 99 is not one tarvokey.fsk takes (1 to 98).\n",
       kTextsEnglish.nextGeneration99},
      {sim::HidDevice{},
       "  generation     99 (no digits at positions 13 and 15 of the product; "
       "the manufacturer does not begin with J)\n",
       kTextsEnglish.nextGeneration99},
      {sim::HidDevice{}, "Box refused: generation 0 is not one tarvokey.fsk takes (1 to 98).\n",
       kTextsEnglish.nextGeneration0},
      {sim::HidDevice{},
       "Box refused: product ID 0x0E01 is not the box's 0x0E00 (the vendor ID "
       "is).\n",
       kTextsEnglish.nextOtherProduct},
      {sim::HidDevice{}, "Box refused: a device named as the box could not be opened (error 5)",
       kTextsEnglish.nextNotOpened},
  };
  refusals[0].device.product = u"TARVOKEY HID 9.9";
  refusals[1].device.product = u"\u0007\u00e9";
  refusals[1].device.manufacturer = u"";
  refusals[2].device.product = u"TARVOKEY HID 0.0";
  refusals[3].device.productId = 0x0E01;
  refusals[4].device.failOpen = true;
  for (const Refusal& refusal : refusals) {
    ResetModule();
    sim::Box()->Plug(refusal.device);
    EXPECT_EQ(RunCheck({}, console), kExitRefused) << refusal.why;
    EXPECT_THAT(console.out, HasSubstr(refusal.why));
    EXPECT_THAT(console.out, testing::EndsWith(refusal.next));
  }
  // Strings from the box are shown, not played to the terminal.
  EXPECT_THAT(console.out, HasSubstr("  product        \"\\u0007\\u00E9\"\n"));

  // A Windows that lacks the timer request (Windows 7; Windows 10 knows no
  // GetProcessInformation for it) is not at fault, in the trace or after it.
  EXPECT_THAT(console.out, HasSubstr(kTextsEnglish.throttlingOn));
  for (auto support :
       {sim::PowerThrottlingSupport::Missing, sim::PowerThrottlingSupport::SetOnly}) {
    console.out.clear();
    ResetModule();
    sim::SetPowerThrottlingSupport(support);
    EXPECT_EQ(RunCheck({}, console), kExitNoBox);
    EXPECT_THAT(console.out,
                HasSubstr("  GetProcessInformation: not available on this Windows (fine)\n"));
    EXPECT_THAT(console.out, HasSubstr(support == sim::PowerThrottlingSupport::Missing
                                           ? "not available on this\n  Windows (fine: "
                                           : kTextsEnglish.throttlingOn));
    EXPECT_THAT(console.out, Not(HasSubstr("not be found")));
  }

  EXPECT_EQ(Run({"--help"}), kExitAccepted);
  EXPECT_THAT(console.out, HasSubstr("Usage: tarvokey-check"));
  EXPECT_THAT(console.out, HasSubstr("       tarvokey-check --status [--json]\n"));
  EXPECT_EQ(Run({"--version"}), kExitAccepted);
  std::string version = TARVOKEY_VERSION_TEXT;  // as the version record spells it: "0, 0, 4, 1"
  for (size_t at; (at = version.find(", ")) != std::string::npos;) version.replace(at, 2, ".");
  EXPECT_EQ(console.out, "tarvokey-check " + version + ", for tarvokey.fsk of the same version\n");
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--key", "0"},
                                             {"--key", "61"},
                                             {"--key", "3.5"},
                                             {"--key", std::string(5000, '9')},
                                             {"--yes"},
                                             {"--setup", "--key"},
                                             {"--key", "--key"},
                                             {"--watch", "--status"},
                                             {"--json"},
                                             {"--lang", "de"},
                                             {"--lang"},
                                             {"-x\x1b[2J"}}) {
    EXPECT_EQ(Run(bad), kExitBadArgument) << bad[0];
    EXPECT_THAT(console.out, HasSubstr("(see --help).\n"));
    EXPECT_THAT(console.out, Not(HasSubstr("\x1b")));
  }
  EXPECT_FALSE(std::filesystem::exists("tarvokey.ini"));
}

// A box that MMTTY keys: the plain check and --key write nothing to it, name
// the program that holds it, and end with status 1.
TEST_F(CheckTest, ABoxAnotherProgramKeysIsLeftToIt) {
  std::vector<uint32_t> words(status::kRecordWords);
  const auto publishHolder = [&](const std::string& path) {
    status::Writer holder;
    status::Opening opening;
    opening.hostPid = 108;
    opening.hostExe = u"MMTTY.EXE";
    opening.counterFrequency = 1000000;
    holder.SetOpening(opening);
    const status::Box box{0x0BFE, 0x0E00, 31, nullptr, 0, BoxKey(path.c_str())};
    holder.Discovered(status::Link::Linked, &box);
    EXPECT_TRUE(holder.Attach(words.data(), sizeof(status::Record)));
    console.others = {{108, status::Read(words.data(), sizeof(status::Record), 108)}};
  };
  const StatusTexts& t = kTextsEnglish.status;
  const std::string holder = Format(t.holderNamed, "MMTTY.EXE", 108);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"--key", "2", "--yes"}}) {
    console.out.clear();
    ResetModule();
    const std::string path = sim::Box()->PathOf(sim::Box()->Plug(sim::HidDevice{}));
    char claim[kClaimNameBytes];
    ClaimName(BoxKey(path.c_str()), claim);
    sim::Box()->HoldClaimElsewhere(claim, true);
    publishHolder(path);
    EXPECT_EQ(RunCheck(args, console), kExitNoBox);
    EXPECT_THAT(console.out, HasSubstr(Format(kTextsEnglish.inUseHeading, holder.c_str())));
    EXPECT_THAT(console.out, HasSubstr(Format(kTextsEnglish.verdictInUse, holder.c_str())));
    EXPECT_THAT(console.out, testing::EndsWith(kTextsEnglish.nextInUse));
    EXPECT_TRUE(sim::Box()->Writes().empty()) << "written to a box MMTTY keys";
  }
  EXPECT_THAT(console.out, HasSubstr(kTextsEnglish.nothingKeyed));
  EXPECT_THAT(console.out, Not(HasSubstr("Keyed for")));
}

TEST_F(CheckTest, SettingsAreReadAsTheModuleReadsThemAndWrittenOnlyWithSetup) {
  EXPECT_EQ(Run({}), kExitNoBox);
  EXPECT_THAT(console.out, HasSubstr("Settings: there is no " +
                                     (std::filesystem::current_path() / "tarvokey.ini").string()));
  EXPECT_THAT(console.out, HasSubstr("asks both questions (polarity, then pin)"));

  WriteSettings("FskRev=1 FskPin=-1\n");
  Run({});
  EXPECT_THAT(console.out, HasSubstr("  polarity  reverse: the FSK line is open for mark, "
                                     "shorted for space (FskRev=1)\n"));
  EXPECT_THAT(console.out, HasSubstr("  FSK pin   pin 1, as for the TARVOKEY (FskPin not set)\n"));
  EXPECT_THAT(console.out, HasSubstr("asks the pin question"));
  EXPECT_TRUE(sim::PromptsShown().empty());

  // Lines that are there but not taken, each with its line and why; read by
  // the module's own reader, so what it shows is what the plug-in does.
  WriteSettings(
      "\xEF\xBB\xBF"
      "FskRev=1 // comment\r\nFskPin = 3\r\nfskrev=0\r\nFskPin=7\r\n"
      "FskRev=x\r\nFskRev=0" +
      std::string(300, 'x') + "\r\n");
  Run({});
  for (const char* part :
       {"  FSK pin   pin 1, as for the TARVOKEY (FskPin=7)\n"
        "  Not taken from the file as written:\n"
        "    line 1, \"\\xEF\\xBB\\xBFFskRev=1\": a byte-order mark before FskRev",
        "    line 2, \"FskPin\": FskPin must be followed at once by \"=\" and the number, with "
        "no spaces around \"=\"\n",
        "    line 3, \"fskrev=0\": the key is spelled FskRev, in this case exactly\n",
        "    line 4, \"FskPin=7\": FskPin takes no such value",
        "    line 5, \"FskRev=x\": FskRev must be followed at once by \"=\" and a whole number\n",
        "    line 6, \"FskRev=0xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...\": FskRev is glued to more",
        "asks the polarity question"}) {
    EXPECT_THAT(console.out, HasSubstr(part));
  }
  // Saved by Notepad as "Unicode": every other byte is a zero.
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("FskRev=1\r\nFskPin=3\r\n")) utf16 += {c, '\0'};
  WriteSettings(utf16);
  Run({});
  EXPECT_THAT(console.out, HasSubstr("    line 1, \"\\xFF\\xFEFskRev=1\": FskRev is in UTF-16"));
  EXPECT_THAT(console.out, HasSubstr("    line 2, \"FskPin=3\": FskPin is in UTF-16"));

  // --setup: the module's own question, and the file as an open writes it.
  WriteSettings("FskRev=1 FskPin=-1\n");
  sim::ScriptPrompt(plat::kIdYes);
  EXPECT_EQ(RunCheck({"--setup"}, console), kExitNoBox);
  EXPECT_EQ(sim::PromptsShown().size(), 1u);
  std::ifstream file("tarvokey.ini");
  const std::string written((std::istreambuf_iterator<char>(file)), {});
  EXPECT_EQ(ReadSettings(written).pin, 3);
  EXPECT_THAT(console.out, HasSubstr("  FSK pin   pin 3, as for the TARVOKEY Gen.3 (FskPin=3)\n"
                                     "  tarvokey.fsk will not ask at the next open.\n"));
}

TEST_F(CheckTest, KeyRunSendsRyryWithTheSettingsInForceAndMeasuresEveryElement) {
  // Normal polarity on pin 1 idles at 0C (mark) and spaces at 0D; reverse on
  // pin 3 idles at 05 and spaces at 01.
  for (const auto& [settings, mark, space] :
       {std::tuple<const char*, uint8_t, uint8_t>{"FskRev=0 FskPin=1", 0x0C, 0x0D},
        {"FskRev=1 FskPin=3", 0x05, 0x01}}) {
    WriteSettings(settings);
    Run({});
    sim::AttachBox();
    EXPECT_EQ(RunCheck({"--key", "2", "--yes"}, console), kExitAccepted);
    const std::vector<uint8_t> lines = Lines();
    EXPECT_EQ(std::set<uint8_t>(lines.begin(), lines.end()),
              (std::set<uint8_t>{0x0F, mark, space}));
    EXPECT_EQ(lines.back(), 0x0F);
    // On virtual time every element is exactly on time.
    for (const char* part :
         {"Keyed for 2.3 s: PTT on, LTRS and RYRY (13 characters)",
          "PTT and FSK released: the last report to the box was 00 01 0F.\n",
          "  element    count   median     p99     max\n"
          "  start         13     0.00    0.00    0.00\n"
          "  data          65     0.00    0.00    0.00\n"
          "  stop          13     0.00    0.00    0.00\n"
          "  all           91     0.00    0.00    0.00\n"
          "character period: mean 165.00 ms over 12 back-to-back characters (165 nominal, "
          "+0.00%)\nbaud rate: 45.45",
          "  met   mean character period within 1% of 165 ms\n"
          "Timing on this PC: within the benchmark's targets.\n",
          "Result: this PC keys the box on time.\n"}) {
      EXPECT_THAT(console.out, HasSubstr(part));
    }
  }

  // Not confirmed: nothing keyed.
  Run({});
  sim::AttachBox();
  EXPECT_EQ(RunCheck({"--key"}, console), kExitBadArgument);
  EXPECT_THAT(console.out, HasSubstr("PTT on and RYRY for 10 s. Key it now? (yes/no) no\n"));
  for (uint8_t line : Lines()) EXPECT_EQ(line, 0x0F);
}

TEST_F(CheckTest, KeyRunStoppedByCtrlCOrAnUnplugEndsWithTheLinesReleased) {
  WriteSettings("FskRev=0 FskPin=1");
  Run({});
  sim::AttachBox();
  // Ctrl-C as a data bit of the fourth character is on the line.
  console.answer = true;
  console.during = [] {
    return sim::NowMs() > 110 + 3 * 165 + 50 && sim::HidReports().back().bytes[2] == 0x0D
               ? Stop::CtrlC
               : Stop::None;
  };
  EXPECT_EQ(RunCheck({"--key", "5"}, console), kExitAccepted);
  const std::vector<uint8_t> lines = Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.end()[-2], 0x0D);
  EXPECT_EQ(lines.back(), 0x0F);
  EXPECT_THAT(console.out, HasSubstr("Stopped by Ctrl-C after 0.7 s of keying.\n"
                                     "PTT and FSK released: the last report to the box was 00 "
                                     "01 0F.\n"));
  // The cut character is left out of the figures.
  EXPECT_THAT(console.out, HasSubstr("  all           21     0.00"));

  Run({});
  const int box = sim::AttachBox();
  console.during = [box] {
    if (sim::NowMs() == 1000) sim::Box()->Unplug(box);
    return Stop::None;
  };
  EXPECT_EQ(RunCheck({"--key", "5"}, console), kExitNoBox);
  EXPECT_THAT(
      console.out,
      HasSubstr(
          "The box stopped taking reports after 1.0 s of keying: was it unplugged?\n"
          "  The write failed with error 1167: The device is not connected.\n"
          "No release report (00 01 0F) could be written: the box is gone or refuses writes.\n"));
  EXPECT_THAT(console.out, HasSubstr("Result: the box was lost while keying.\n"));
}

// With the ticks on a timer thread, as on Windows: the reports are observed
// there while the run polls from here.
TEST_F(CheckTest, KeyRunWithTheClockOnATimerThread) {
  WriteSettings("FskRev=0 FskPin=1");
  Run({});
  sim::AttachBox();
  sim::StartRealTime();
  console.realTime = true;
  EXPECT_EQ(RunCheck({"--key", "1", "--yes"}, console), kExitAccepted);
  EXPECT_EQ(Lines().back(), 0x0F);
  EXPECT_THAT(console.out, HasSubstr("Result: this PC "));
}

// The user's language unless --lang says otherwise; the plug-in's trace stays
// as it is. Started in a console of its own, the program waits before it goes.
TEST_F(CheckTest, InTheOperatorsLanguageAndReadableAfterADoubleClick) {
  console.japanese = true;
  EXPECT_EQ(Run({}), kExitNoBox);
  EXPECT_THAT(console.out, HasSubstr(u8"ボックスが見つかりません: 差し込まれていますか?\n"));
  EXPECT_THAT(console.out, HasSubstr("  ***HID Test Report***\n  Device not detected\n"));
  EXPECT_EQ(Run({"--lang", "en"}), kExitNoBox);
  EXPECT_THAT(console.out, HasSubstr("No box found: is it plugged in?\n"));
  console.japanese = false;
  EXPECT_EQ(Run({"--help", "--lang", "ja"}), kExitAccepted);
  EXPECT_THAT(console.out, HasSubstr(u8"使い方: tarvokey-check [--setup]\n"));
  EXPECT_EQ(Run({"--lang", "xx"}), kExitBadArgument);
  EXPECT_THAT(console.out, HasSubstr("--lang takes ja or en, not \"xx\""));
  EXPECT_EQ(console.waitedForEnter, 0);

  console.ownConsole = true;
  EXPECT_EQ(Run({}), kExitNoBox);
  EXPECT_THAT(console.out, testing::EndsWith("Press Enter to close.\n"));
  EXPECT_EQ(console.waitedForEnter, 1);
  // Not when its window is being closed: the system ends it in seconds.
  console.during = [] { return Stop::CloseWindow; };
  EXPECT_EQ(Run({"--status"}), kExitNoInstance);
  EXPECT_THAT(console.out, Not(HasSubstr("Press Enter")));
  EXPECT_EQ(console.waitedForEnter, 1);
}

// Each Japanese text takes the arguments of its English one, in order, and
// none is missing. A paragraph broken by hand fits an 80-column console, a
// Japanese character taking two columns.
TEST(CheckTexts, EveryTranslationTakesTheSameArguments) {
  static_assert(sizeof(Texts) % sizeof(const char*) == 0, "texts only");
  const auto* english = reinterpret_cast<const char* const*>(&kTextsEnglish);
  const auto* japanese = reinterpret_cast<const char* const*>(&kTextsJapanese);
  const std::regex conversion("%[-+#0]*[0-9]*(\\.[0-9]+)?(ll|l|h)?[diouxXfgcs%]");
  const auto conversions = [&](const char* text) {
    std::string found;
    for (std::cregex_iterator at(text, text + std::strlen(text), conversion), end; at != end;
         ++at) {
      found += at->str() + " ";
    }
    return found;
  };
  for (size_t i = 0; i < sizeof(Texts) / sizeof(const char*); ++i) {
    ASSERT_NE(english[i], nullptr) << i;
    ASSERT_NE(japanese[i], nullptr) << i;
    EXPECT_EQ(conversions(english[i]), conversions(japanese[i])) << english[i] << "\n"
                                                                 << japanese[i];
    for (const char* text : {english[i], japanese[i]}) {
      const std::string paragraph = text;
      const size_t lineBreak = paragraph.find('\n');
      // One line, broken by the console where it must.
      if (lineBreak == std::string::npos || lineBreak + 1 == paragraph.size()) continue;
      int columns = 0;
      for (size_t at = 0; at < paragraph.size() && columns <= 80; ++at) {
        const auto byte = static_cast<unsigned char>(paragraph[at]);
        if (byte == '\n') {
          columns = 0;
        } else if ((byte & 0xC0) != 0x80) {  // a character's first byte
          columns += byte >= 0xE3 ? 2 : 1;   // U+3000 and up: CJK, kana, full-width forms
        }
      }
      EXPECT_LE(columns, 80) << paragraph;
    }
  }
}

// While an instance is open, --status and --watch show it from its section
// alone: the box sees nothing of them. After the close, nothing is open.
TEST_F(CheckTest, StatusAndWatchShowTheOpenInstanceAndTouchNothing) {
  EXPECT_EQ(Run({"--status", "--json"}), kExitNoInstance);
  EXPECT_EQ(console.out, "[]\n");
  EXPECT_EQ(Run({"--status"}), kExitNoInstance);
  EXPECT_THAT(console.out, testing::EndsWith(kTextsEnglish.status.noInstance));

  WriteSettings("FskRev=0 FskPin=1");
  const int box = sim::AttachBox();
  sim::SetProcessId(5150);
  ASSERT_EQ(extfskOpen(0), 1);
  extfskSetPTT(1);
  extfskIsTxBusy();
  for (int32_t code : {0x1F, 0x0A, 0x15}) {
    extfskPutChar(code);
    sim::AdvanceMs(165);
  }
  sim::AdvanceMs(200);
  const size_t reports = sim::HidReports().size();
  console.out.clear();
  EXPECT_EQ(RunCheck({"--status", "--json"}, console), kExitInstanceOpen);
  for (const char* field : {"\"host_pid\": 5150,", "\"link\": \"linked\",", "\"characters\": 3,",
                            "\"reports_failed\": 0,", "\"ptt\": true,", "\"fsk_pin\": 1,"}) {
    EXPECT_THAT(console.out, HasSubstr(field));
  }
  EXPECT_EQ(console.out.front(), '[') << "the document is the whole output";
  EXPECT_EQ(sim::HidReports().size(), reports);

  // A panel each half second until Enter, the plug-in keying on meanwhile;
  // then the last look, where it stays, with what to do.
  int polls = 0;
  console.enter = [&] { return ++polls == 25; };
  console.out.clear();
  EXPECT_EQ(RunCheck({"--watch"}, console), kExitInstanceOpen);
  size_t panels = 0;
  for (size_t at = 0; (at = console.out.find(kTextsEnglish.watchHeading, at)) != std::string::npos;
       ++at) {
    ++panels;
  }
  EXPECT_EQ(panels, 3u);
  EXPECT_THAT(console.out, HasSubstr("As the watch ended:\nMMTTY.EXE, pid 5150: tarvokey.fsk "));
  EXPECT_THAT(console.out, HasSubstr("  box       linked: TARVOKEY HID 3.1, generation 31"));
  EXPECT_THAT(console.out, testing::EndsWith("All in order: nothing to do.\n"));

  // Unplugged: looking within a tick, and the last line says what to do. In
  // Japanese, when asked.
  sim::Box()->Unplug(box);
  sim::AdvanceMs(50);
  console.enter = nullptr;
  console.during = [] { return Stop::CtrlC; };
  EXPECT_EQ(RunCheck({"--watch"}, console), kExitInstanceOpen);
  EXPECT_THAT(console.out, testing::EndsWith("What to do:\n  box lost: plug it in\n"));
  EXPECT_EQ(RunCheck({"--status", "--lang", "ja"}, console), kExitInstanceOpen);
  EXPECT_THAT(console.out, HasSubstr(u8"  ボックス    探しています: TARVOKEY HID 3.1、世代 31"));

  extfskClose();
  EXPECT_EQ(RunCheck({"--status", "--json"}, console), kExitNoInstance);
}
