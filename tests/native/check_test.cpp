// The check program on the simulated platform: its verdicts, exit statuses and
// settings report, and --key on virtual time.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <thread>
#include <tuple>

#include <gmock/gmock.h>

#include "fixture.h"
#include "hidlink/box_key.h"
#include "platform/sim/sim_power.h"
#include "platform/sim/sim_prompt.h"
#include "probe_texts.h"
#include "settings/settings_reader.h"
#include "settings/settings_text.h"
#include "shell/version.h"
#include "tools/check/boxes.h"
#include "tools/check/check.h"
#include "tools/check/settings_view.h"
#include "tools/check/status_view.h"
#include "tools/check/text.h"
#include "tools/check/texts.h"

namespace {

// Virtual time passes while the program sleeps, unless the platform runs in
// real time; `during` runs each time it asks whether to stop, and answers for
// the operator.
class TestConsole : public Console {
 public:
  std::string out;
  std::string answer = "no";  // as the operator types it
  bool realTime = false;
  bool japanese = false;
  bool ownConsole = false;
  int columns = 119;
  int waitedForEnter = 0;
  std::function<Stop()> during;
  std::function<bool()> enter;
  // Sections found but not this user's to read.
  std::vector<StatusEntry> unreadable;

  void Print(const std::string& text) override { out += text; }
  std::string Ask(const std::string& question) override {
    out += question + answer + "\n";
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
    std::vector<StatusEntry> entries;
    for (const sim::StatusSection& section : sim::StatusSections()) {
      const uint32_t pid =
          static_cast<uint32_t>(std::stoul(section.name.substr(section.name.rfind('-') + 1)));
      entries.push_back({pid, status::Read(section.view, section.bytes, pid)});
    }
    entries.insert(entries.end(), unreadable.begin(), unreadable.end());
    return entries;
  }
  bool EnterPressed() override { return enter && enter(); }
  // As wide as a Windows 10 console, unless a test narrows it.
  int Columns() override { return columns; }
  bool JapaneseUser() override { return japanese; }
  bool OwnConsole() override { return ownConsole; }
  void WaitForEnter() override { ++waitedForEnter; }
  std::string FullPath(const char* name) override {
    return (std::filesystem::current_path() / name).string();
  }
  // Where Windows says a box is plugged in, by device path.
  std::map<std::string, std::string> locations;
  std::string BoxLocation(const std::string& devicePath) override {
    const auto found = locations.find(devicePath);
    return found != locations.end() ? found->second : "";
  }
};

std::string ReadFileBytes(const char* name) {
  std::ifstream file(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

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
        "  report length  9 bytes\n", "  device path\n    \\\\?\\hid#vid_0bfe&pid_0e00#sim&0#",
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
  std::string version = TARVOKEY_VERSION_TEXT;  // as the version record spells it: "0, 0, 5, 0"
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
    EXPECT_THAT(console.out, HasSubstr("--help).\n"));
    EXPECT_THAT(console.out, Not(HasSubstr("\x1b")));
  }
  EXPECT_FALSE(std::filesystem::exists("tarvokey.ini"));
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

  // Lines that are there but not taken: each line as it is in the file, then
  // why, in the program's words (the probe says which, and with what). Read
  // by the module's own reader, so what is listed is what the plug-in passes
  // over. The IME's full-width characters are named, and shown as they are,
  // from Shift_JIS as the plug-in writes the file or from UTF-8 as Notepad may
  // save it; a comment, Japanese or not, is not listed.
  const ProbeTexts probe;
  const Texts& e = kTextsEnglish;
  const auto note = [&](const char* line, const std::string& shown, NotTakenNote why,
                        std::initializer_list<std::string> what) {
    return ProbeTexts::Said(e.notTakenLine, {line, shown}) +
           ProbeTexts::Said(e.notTakenReason,
                            {ProbeTexts::Said(e.notTaken[static_cast<size_t>(why)], what)});
  };
  const auto settings = [&](const std::string& text) {
    WriteSettings(text);
    console.out.clear();
    PrintSettings(console, probe.texts());
    return console.out;
  };
  char comment[64];
  std::snprintf(comment, sizeof comment, kRevLineFormat, 0);  // with its Shift_JIS comment
  std::string shown = settings(
      "\xEF\xBB\xBF"
      "FskRev=1 // comment\r\nFskPin = 3\r\nfskrev=0\r\nFskPin=7\r\n"
      "FskRev=x\r\nFskRev=0" +
      std::string(300, 'x') +
      "\r\n"
      "fskrev = 1\r\nFskPim=3\r\n"
      "FskRev=\x82\x50 // \x83\x52\x83\x81\x83\x93\x83\x67\r\n"  // FskRev=１ // コメント
      "\x81\x40"
      "FskPin=3\r\n"  // a full-width space first
      "FskRev\x81\x81"
      "1\r\n"  // ＝
      "FskRev\x81\x40"
      "=1\r\n" +  // a full-width space to delete: a half-width one there is no better
      std::string(comment + 9));
  for (const std::string& part : {
           ProbeTexts::Said(e.pinLine, {ProbeTexts::Said(e.pin1), "FskPin=7"}),
           note("1", "FskRev=1 // comment", NotTakenNote::ByteOrderMark, {"FskRev"}),
           note("2", "FskPin = 3", NotTakenNote::NoValue, {"FskPin"}),
           note("3", "fskrev=0", NotTakenNote::WrongCase, {"FskRev"}),
           note("4", "FskPin=7", NotTakenNote::NotAllowed, {"FskPin"}),
           note("5", "FskRev=x", NotTakenNote::NotANumber, {"FskRev"}),
           note("6", "FskRev=0" + std::string(52, 'x') + "...", NotTakenNote::Overlong, {"FskRev"}),
           note("7", "fskrev = 1", NotTakenNote::WrongCaseSpaced, {"FskRev"}),
           note("8", "FskPim=3", NotTakenNote::Misspelt, {"FskPim", "FskPin"}),
           note("9", u8"FskRev=１ // コメント", NotTakenNote::FullWidth, {u8"１"}),
           note("10", u8"　FskPin=3", NotTakenNote::FullWidthSpace, {}),
           note("11", u8"FskRev＝1", NotTakenNote::FullWidth, {u8"＝"}),
           note("12", u8"FskRev　=1", NotTakenNote::FullWidthSpace, {}),
           ProbeTexts::Said(e.willAsk, {ProbeTexts::Said(e.askPolarity)}),
       }) {
    EXPECT_THAT(shown, HasSubstr(part));
  }
  // A key given twice: FskRev=1 keys reverse now, 0 is written back, and the
  // next open keys normal; said on the line that will do it.
  EXPECT_THAT(settings("FskRev=1\r\nFskPin=3\r\nFskRev=0\r\n"),
              HasSubstr(ProbeTexts::Said(e.notTakenLine, {"3", "FskRev=0"}) +
                        ProbeTexts::Said(
                            e.notTakenReason,
                            {ProbeTexts::Said(e.repeated,
                                              {"FskRev", "1", ProbeTexts::Said(e.polarityReverse),
                                               "FskRev=0", ProbeTexts::Said(e.polarityNormal)})})));
  // One line each, and no more: the "=" and "1" of line 7 and the comments go
  // unmentioned.
  std::string lineProbe = ProbeTexts::Said(e.notTakenLine);
  lineProbe.back() = '|';  // for the line's break
  size_t lines = 0;
  for (size_t at = 0; (at = shown.find(lineProbe, at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 12u) << shown;
  EXPECT_THAT(shown, Not(HasSubstr(lineProbe + "13|")));

  // Saved by Notepad as UTF-8, with a byte-order mark (one line, two
  // reasons) or without; and as "Unicode", where every other byte is a zero.
  shown = settings(u8"\uFEFFFskPin＝３\r\nＦｓｋＲｅｖ=1\r\n");
  EXPECT_THAT(
      shown,
      HasSubstr(note("1", u8"FskPin＝３", NotTakenNote::ByteOrderMark, {"FskPin"}) +
                ProbeTexts::Said(
                    e.notTakenReason,
                    {ProbeTexts::Said(e.notTaken[static_cast<size_t>(NotTakenNote::FullWidth)],
                                      {u8"＝" + ProbeTexts::Said(e.listSeparator) + u8"３"})})));
  EXPECT_THAT(shown, HasSubstr(ProbeTexts::Said(e.notTakenLine, {"2", u8"ＦｓｋＲｅｖ=1"})));
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("FskRev=1\r\nFskPin=3\r\n")) utf16 += {c, '\0'};
  shown = settings(utf16);
  EXPECT_THAT(shown, HasSubstr(note("1", "\\xFF\\xFEFskRev=1", NotTakenNote::Utf16, {"FskRev"})));
  EXPECT_THAT(shown, HasSubstr(note("2", "FskPin=3", NotTakenNote::Utf16, {"FskPin"})));

  // --setup: the module's own question, and the file as an open writes it.
  WriteSettings("FskRev=1 FskPin=-1\n");
  sim::ScriptPrompt(plat::kIdYes);
  EXPECT_EQ(RunCheck({"--setup"}, console), kExitNoBox);
  EXPECT_EQ(sim::PromptsShown().size(), 1u);
  std::ifstream file("tarvokey.ini");
  const std::string written((std::istreambuf_iterator<char>(file)), {});
  EXPECT_EQ(ReadSettings(written).pin, 3);
  EXPECT_THAT(console.out, HasSubstr("  FSK pin   pin 3, as for the TARVOKEY Gen.3 (FskPin=3)\n" +
                                     BoxChoiceLine(kTextsEnglish, {}) +
                                     "  tarvokey.fsk will not ask at the next open.\n"));
}

// Two boxes: --boxes lists both with their keys, where each is plugged in and
// who keys it, and what this folder chooses; --choose N writes that box's
// FskBox (a new file keeps the questions unanswered, an old one keeps its
// other lines); the plain check and --key then go by it: the chosen box only,
// waiting while it is away or in use, and none when FskBox names no box.
TEST_F(CheckTest, BoxesAreListedAndOneIsChosenForThisFolder) {
  const int first = sim::AttachBox();
  const int second = sim::AttachBox();
  const auto key = [](int slot) { return KeyText(BoxKey(sim::Box()->PathOf(slot).c_str())); };
  char claim[kClaimNameBytes];
  ClaimName(BoxKey(sim::Box()->PathOf(second).c_str()), claim);
  sim::Box()->HoldClaimElsewhere(claim, sim::BoxModel::Holder::Elevated);
  console.locations[sim::Box()->PathOf(first)] = "Port_#0002.Hub_#0001";
  const ProbeTexts probe;
  const Texts& e = kTextsEnglish;
  using P = ProbeTexts;
  const std::string file = (std::filesystem::current_path() / "tarvokey.ini").string();
  console.columns = 1000;  // whole lines, to compare
  // Each run on the same bus, as the program runs again beside the boxes.
  const auto run = [&](const std::vector<std::string>& args) {
    console.out.clear();
    return RunCheck(args, console);
  };
  const auto entry = [&](int number, int slot, const std::string& place, const std::string& who) {
    return P::Said(e.boxesEntry,
                   {std::to_string(number), key(slot), P::Said(e.boxesAccepted, {"31"})}) +
           P::Said(e.boxesProduct, {"TARVOKEY HID 3.1"}) + P::Said(e.boxesPlace, {place}) +
           P::Said(e.boxesKeyedBy, {who}) + P::Said(e.boxesPath, {sim::Box()->PathOf(slot)});
  };
  EXPECT_EQ(PrintBoxes(console, probe.texts()), 0);
  EXPECT_EQ(
      console.out,
      P::Said(e.boxesHeading) + entry(1, first, "Port_#0002.Hub_#0001", P::Said(e.boxesFree)) +
          entry(2, second, P::Said(e.boxesPlaceUnknown), P::Said(e.boxesHeldUnnamed)) +
          P::Said(e.boxesThisFolder, {file, P::Said(e.boxesChooseFirst)}) + P::Said(e.boxesNext));
  EXPECT_TRUE(sim::Box()->Writes().empty());
  EXPECT_TRUE(sim::Box()->HeldClaims().empty()) << "a box was claimed to be listed";

  // In Japanese: a new file, with the questions still to be asked.
  const Texts& ja = kTextsJapanese;
  EXPECT_EQ(run({"--choose", "2", "--lang", "ja"}), 0);
  const std::string line = "FskBox=" + key(second);
  EXPECT_THAT(console.out, HasSubstr(Format(ja.chooseWritten, line.c_str(), file.c_str(), 2)));
  EXPECT_EQ(ReadFileBytes("tarvokey.ini"),
            Format(kRevLineFormat, -1) + Format(kPinLineFormat, -1) + line + "\r\n");
  EXPECT_EQ(run({"--boxes", "--lang", "ja"}), 0);
  EXPECT_THAT(console.out, HasSubstr(Format(ja.boxesChooseOne, 2, key(second).c_str())));
  // An old file keeps its other lines; an FskBox however written goes.
  WriteSettings("FskRev=1 // mine\r\nfskbox=zz\r\nFskPin=3 FskBox=0123\r\n");
  EXPECT_EQ(run({"--choose", "1"}), 0);
  EXPECT_EQ(ReadFileBytes("tarvokey.ini"),
            "FskRev=1 // mine\r\nFskPin=3 \r\nFskBox=" + key(first) + "\r\n");
  EXPECT_EQ(run({"--choose", "3"}), 1);
  EXPECT_THAT(console.out, HasSubstr(Format(e.chooseNoBox, 3, 2)));
  EXPECT_EQ(run({"--choose", "x"}), kExitBadArgument);

  // --key keys the chosen box, and no other.
  EXPECT_EQ(run({"--key", "1", "--yes"}), kExitAccepted);
  EXPECT_FALSE(sim::HidReports().empty());
  for (const sim::BoxEvent& report : sim::HidReports()) EXPECT_EQ(report.slot, first);
  // The chosen box in use, with another attached: choose, not close.
  WriteSettings("FskRev=1 FskPin=3 " + line);
  EXPECT_EQ(run({}), kExitNoBox);
  EXPECT_THAT(console.out, testing::EndsWith(e.nextInUseChoose));
  // Away: the others passed over, the verdict names the key.
  sim::Box()->Unplug(second);
  EXPECT_EQ(run({}), kExitNoBox);
  EXPECT_THAT(console.out, HasSubstr(e.devicePassedOver));
  EXPECT_THAT(console.out, HasSubstr(Format(e.verdictChosenAbsent, key(second).c_str())));
  EXPECT_THAT(console.out, testing::EndsWith(e.nextChosenAbsent));
  WriteSettings("FskBox=" + key(first) + " FskBox=" + key(second));
  EXPECT_EQ(run({}), kExitNoBox);
  EXPECT_THAT(console.out, HasSubstr(e.verdictNoChoice));
  EXPECT_THAT(console.out, HasSubstr(BoxChoiceLine(e, {BoxChoiceKind::Malformed, 0})));
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

  // Yes in any case, and as the Japanese IME types it; then at once what it
  // does and how to stop it. Nothing else is yes.
  for (const auto& [answer, yes] :
       std::initializer_list<std::pair<const char*, bool>>{{"Y", true},
                                                           {u8"ｙ", true},
                                                           {u8" ＹＥＳ\u3000", true},
                                                           {u8"ｙｅｓ", true},
                                                           {"", false},
                                                           {"yes please", false},
                                                           {u8"はい", false},
                                                           {"n", false}}) {
    Run({});
    sim::AttachBox();
    console.answer = answer;
    EXPECT_EQ(RunCheck({"--key", "1"}, console), yes ? kExitAccepted : kExitBadArgument) << answer;
    EXPECT_EQ(console.out.find(answer + std::string("\n") + Format(kTextsEnglish.keyingNow, 1)) !=
                  std::string::npos,
              yes)
        << console.out;
  }
}

TEST_F(CheckTest, KeyRunStoppedByCtrlCOrAnUnplugEndsWithTheLinesReleased) {
  WriteSettings("FskRev=0 FskPin=1");
  Run({});
  sim::AttachBox();
  // Ctrl-C as a data bit of the fourth character is on the line.
  console.answer = "yes";
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
  EXPECT_THAT(console.out, HasSubstr(std::string(kTextsJapanese.verdictNoBox) + "\n"));
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

namespace {

// The code point at the start of a UTF-8 text, and at its end.
uint32_t FirstCodePoint(std::string_view text) {
  size_t length;
  return CodePointAt(text, 0, &length);
}
uint32_t LastCodePoint(std::string_view text) {
  size_t at = text.size() - 1;
  while (at > 0 && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
  return FirstCodePoint(text.substr(at));
}

std::vector<std::string> Rows(const std::string& text) {
  std::vector<std::string> rows;
  for (size_t from = 0;;) {
    const size_t end = text.find('\n', from);
    rows.push_back(text.substr(from, end == std::string::npos ? end : end - from));
    if (end == std::string::npos) return rows;
    from = end + 1;
  }
}

// Where a text is broken into rows with no space at the break, the rules
// of line breaking let those two characters part: never a word from its
// particle, nor 、 at a row's start. A break by hand (a paragraph's) is where
// a phrase ends.
void ExpectBreaksAllowed(const std::vector<std::string>& rows, bool byHand) {
  for (size_t i = 0; i + 1 < rows.size(); ++i) {
    const std::string& row = rows[i];
    const std::string next =
        rows[i + 1].substr(rows[i + 1].find_first_not_of(' ') == std::string::npos
                               ? 0
                               : rows[i + 1].find_first_not_of(' '));
    // (A row that starts with "%s" is the text it stands for.)
    if (row.empty() || next.empty() || row.back() == ' ' || next[0] == '%') continue;
    const uint32_t before = LastCodePoint(row), after = FirstCodePoint(next);
    const bool narrow = DisplayWidth(before) == 1 || DisplayWidth(after) == 1;
    const LineBreak kind = BreakBetween(before, after);
    // Between two narrow characters a row break stands for a space.
    const bool allowed = (DisplayWidth(before) == 1 && DisplayWidth(after) == 1) ||
                         kind == LineBreak::Phrase ||
                         (kind == LineBreak::Allowed && (narrow || !byHand));
    EXPECT_TRUE(allowed) << row << "\n" << next;
  }
}

}  // namespace

// Each Japanese text takes the arguments of its English one, in order, and
// none is missing. A paragraph broken by hand fits the narrowest console, each
// character taking the columns a console gives it (two for a Japanese one,
// and for the arrows and dashes a Japanese console draws double), and is
// broken where a phrase ends.
TEST(CheckTexts, EveryTranslationTakesTheSameArguments) {
  static_assert(sizeof(Texts) % sizeof(const char*) == 0, "texts only");
  const auto* english = reinterpret_cast<const char* const*>(&kTextsEnglish);
  const auto* japanese = reinterpret_cast<const char* const*>(&kTextsJapanese);
  for (size_t i = 0; i < sizeof(Texts) / sizeof(const char*); ++i) {
    ASSERT_NE(english[i], nullptr) << i;
    ASSERT_NE(japanese[i], nullptr) << i;
    EXPECT_EQ(Conversions(english[i]), Conversions(japanese[i])) << english[i] << "\n"
                                                                 << japanese[i];
    for (const char* text : {english[i], japanese[i]}) {
      const std::string paragraph = text;
      const size_t lineBreak = paragraph.find('\n');
      // One line, broken by the program where it must.
      if (lineBreak == std::string::npos || lineBreak + 1 == paragraph.size()) continue;
      const std::vector<std::string> rows = Rows(paragraph);
      for (const std::string& row : rows) EXPECT_LE(DisplayWidth(row), kConsoleColumns) << row;
      ExpectBreaksAllowed(rows, true);
    }
  }
}

namespace {

// A text without its spaces and line breaks: what fitting may not change.
std::string Unbroken(std::string s) {
  s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == ' ' || c == '\n'; }),
          s.end());
  return s;
}

}  // namespace

// A line wider than the console is broken by the program, not by the console
// in the middle of a word: at a space, or where a Japanese phrase ends; at
// worst where the rules of line breaking allow. Each row fits, under the
// line's own indent, and nothing but the breaks is changed. A device path is
// never cut: it gets a row of its own, whole, however long.
TEST(CheckTexts, LongLinesBreakWhereAReaderExpects) {
  const StatusTexts& ja = kTextsJapanese.status;
  const std::string lines[] = {
      Format(kTextsJapanese.noBoxDetail, 0x0BFE, 0x0E00),
      "  " + Format(ja.instancePrefix, "MMTTY.EXE", 1234u) +
          Format(ja.timingPoorAction, Format(ja.recentSpan, "60 s").c_str(), 0.4, 12.4,
                 ja.hintMinimised),
      "      " + Format(kTextsJapanese.notTaken[2], "FskPin"),
      "  " + Format(kTextsEnglish.status.timingPoorAction, "in the last 60 s", 0.4, 12.4,
                    kTextsEnglish.status.hintBusy),
  };
  for (const std::string& line : lines) {
    const std::string fitted = FitLines(line, kConsoleColumns);
    const std::vector<std::string> rows = Rows(fitted);
    EXPECT_GT(rows.size(), 1u) << fitted;
    for (const std::string& row : rows) EXPECT_LE(DisplayWidth(row), kConsoleColumns) << fitted;
    const size_t indent = line.find_first_not_of(' ');
    for (size_t i = 1; i < rows.size(); ++i) {
      if (rows[i].empty()) continue;  // after the line's own break
      EXPECT_EQ(rows[i].find_first_not_of(' '), indent == 0 ? 0 : indent + 2) << fitted;
    }
    EXPECT_EQ(Unbroken(fitted), Unbroken(line));
    ExpectBreaksAllowed(rows, false);
  }
  const std::string path =
      "\\\\?\\hid#vid_0bfe&pid_0e00#sim&0#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  for (const std::string& whole : {path, path + "\\" + std::string(40, 'x')}) {
    EXPECT_EQ(FitLines(Format(kTextsEnglish.devicePathLine, whole.c_str()), kConsoleColumns),
              "  device path\n    " + whole + "\n");
  }
  // The lines of the console's own breaks that were seen at 80 columns.
  EXPECT_THAT(FitLines(lines[0], 79), HasSubstr(u8"HID デバイス"));
  EXPECT_EQ(FitLines("short\nlines\n", 79), "short\nlines\n");
}

// In a console narrower than the tables' paragraphs (60 columns), each text
// is fitted as the program fits it (TextsForWidth, then FitLines): every row
// fits, breaks only where a reader expects, and a paragraph broken by hand is
// broken anew as a whole, in fewer rows than its lines broken again one by
// one. A number stays with its word, an option with its command.
TEST(CheckTexts, ParagraphsAreBrokenAnewInANarrowConsole) {
  constexpr int kColumns = 59;
  for (const Texts* table : {&kTextsEnglish, &kTextsJapanese}) {
    const auto* texts = reinterpret_cast<const char* const*>(table);
    for (size_t i = 0; i < sizeof(Texts) / sizeof(const char*); ++i) {
      const std::string fitted = FitLines(FitParagraphs(texts[i], kColumns), kColumns);
      const std::vector<std::string> rows = Rows(fitted);
      for (const std::string& row : rows) EXPECT_LE(DisplayWidth(row), kColumns) << fitted;
      EXPECT_EQ(Unbroken(fitted), Unbroken(texts[i]));
      ExpectBreaksAllowed(rows, false);
    }
  }
  const Texts& ja = kTextsJapanese;
  for (const char* paragraph : {ja.nextLate, ja.nextNoBox, kTextsEnglish.nextGeneration99}) {
    EXPECT_LT(Rows(FitParagraphs(paragraph, kColumns)).size(),
              Rows(FitLines(paragraph, kColumns)).size())
        << paragraph;
  }
  EXPECT_THAT(FitParagraphs(ja.throttlingNotAvailable, kColumns), HasSubstr("Windows 11"));
  EXPECT_THAT(FitLines(Format(FitParagraphs(ja.willAsk, kColumns).c_str(), ja.askBoth), kColumns),
              HasSubstr("tarvokey-check --setup"));
}

// While an instance is open, --status and --watch show it from its section
// alone: the box sees nothing of them. After the close, nothing is open.
TEST_F(CheckTest, StatusAndWatchShowTheOpenInstanceAndTouchNothing) {
  EXPECT_EQ(Run({"--status", "--json"}), kExitNoInstance);
  EXPECT_EQ(console.out, "[]\n");
  EXPECT_EQ(Run({"--status"}), kExitNoInstance);
  EXPECT_THAT(console.out, testing::EndsWith(kTextsEnglish.status.noInstance));

  // An MMTTY run as administrator has the plug-in open: its section is there
  // but not to be read by this user. Never "no program": it is listed, with
  // how to watch it, and counts as open.
  StatusEntry elevated;
  elevated.pid = 4711;
  elevated.accessDenied = true;
  elevated.exe = "MMTTY.EXE";
  console.unreadable = {elevated};
  EXPECT_EQ(Run({"--status"}), kExitInstanceOpen);
  EXPECT_THAT(console.out, HasSubstr(ProgramText("MMTTY.EXE", 4711, "", kTextsEnglish.status) +
                                     ": " + kTextsEnglish.status.runsElevatedAction));
  EXPECT_EQ(Run({"--status", "--json"}), kExitInstanceOpen);
  EXPECT_THAT(console.out, HasSubstr("\"host_pid\": 4711, \"host_exe\": \"MMTTY.EXE\", "
                                     "\"access_denied\": true"));
  console.unreadable.clear();

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
  // Beside its pid, its folder: what tells two MMTTY windows apart.
  EXPECT_THAT(console.out,
              HasSubstr("As the watch ended:\n" +
                        ProgramText("MMTTY.EXE", 5150, std::filesystem::current_path().string(),
                                    kTextsEnglish.status) +
                        ": tarvokey.fsk "));
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
  EXPECT_THAT(console.out,
              HasSubstr(u8"  ボックス    接続が切れ、探しています: TARVOKEY HID 3.1、世代 31"));

  extfskClose();
  EXPECT_EQ(RunCheck({"--status", "--json"}, console), kExitNoInstance);
}
