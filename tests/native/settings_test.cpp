// The settings step: the file, the prompts, their bytes, and the host calling
// back into the exports while a prompt is open.
#include <signal.h>
#include <stdio.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "fixture.h"
#include "platform/sim/sim_prompt.h"

namespace {

constexpr char kFile[] = "tarvokey.ini";
constexpr uint32_t kPromptStyle =
    plat::kMbYesNoCancel | plat::kMbIconQuestion | plat::kMbDefButton3;
constexpr int kYes = plat::kIdYes;
constexpr int kNo = plat::kIdNo;
constexpr int kCancel = plat::kIdCancel;

// The texts as the user reads them, kept as UTF-8 beside the tests.
std::string Utf8Text(const std::string& name) {
  std::ifstream file(SETTINGS_TEXTS_FILE);
  std::string line;
  while (std::getline(file, line)) {
    const size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || line.substr(0, tab) != name) continue;
    std::string text = line.substr(tab + 1);
    for (size_t at; (at = text.find("\\n")) != std::string::npos;) text.replace(at, 2, "\n");
    return text;
  }
  ADD_FAILURE() << "no text " << name << " in " << SETTINGS_TEXTS_FILE;
  return {};
}

// What iconv makes of a UTF-8 text in another encoding.
std::string Iconv(const std::string& utf8, const std::string& encoding) {
  const char* input = "iconv-input.txt";
  std::ofstream(input, std::ios::binary) << utf8;
  FILE* pipe = popen(("iconv -f UTF-8 -t " + encoding + " " + input).c_str(), "r");
  std::string out;
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run iconv";
    return out;
  }
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
  EXPECT_EQ(pclose(pipe), 0) << "iconv failed";
  std::remove(input);
  return out;
}

std::string Cp932(const std::string& utf8) { return Iconv(utf8, "CP932"); }

std::u16string Utf16(const std::string& utf8) {
  const std::string bytes = Iconv(utf8, "UTF-16LE");
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                  static_cast<uint8_t>(bytes[i + 1]) << 8);
  }
  return text;
}

std::string Shown(const std::string& name) { return Cp932(Utf8Text(name)); }

// A prompt as a system on another code page shows it: the Japanese, a blank
// line, the English.
std::string WithEnglish(const std::string& name) {
  return Utf8Text(name) + "\n\n" + Utf8Text(name + "_en");
}

// The two lines the driver writes, as they must be on disk: code page 932,
// each line ending in CR LF.
std::string ExpectedFile(int32_t rev, int32_t pin) {
  std::string lines;
  for (auto [name, value] : {std::pair{"rev_line", rev}, std::pair{"pin_line", pin}}) {
    std::string line = Utf8Text(name);
    line.replace(line.find("%d"), 2, std::to_string(value));
    line.insert(line.size() - 1, "\r");
    lines += line;
  }
  return Cp932(lines);
}

std::string FileBytes(const std::filesystem::path& path = kFile) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

void WriteFileBytes(const std::string& bytes) { std::ofstream(kFile, std::ios::binary) << bytes; }

std::pair<bool, bool> Flags() {
  KeyerGuard guard;
  return {activeKeyer->fskReverse, activeKeyer->fskOnPin3};
}

std::vector<std::string> PromptTexts() {
  std::vector<std::string> texts;
  for (const auto& prompt : sim::PromptsShown()) texts.push_back(prompt.text);
  return texts;
}

// The line byte keyed by the clock with PTT on: an idle tick (mark), then the
// start bit of a character (space). The character is finished afterwards, so
// the framing is idle again for the next open.
std::pair<uint8_t, uint8_t> MarkAndSpace() {
  extfskSetPTT(1);
  extfskIsTxBusy();
  sim::FireNextTimer();
  const uint8_t mark = DriverTest::PortBits();
  extfskPutChar(0);
  sim::FireNextTimer();
  const uint8_t space = DriverTest::PortBits();
  for (int element = 0; element < 6; ++element) sim::FireNextTimer();
  EXPECT_EQ(DriverTest::PortBits(), mark) << "stop element";
  extfskSetPTT(0);
  return {mark, space};
}

// Files of the process may grow to `bytes` only: a write past that fails with
// EFBIG, as a write to a full disk fails, after what fitted was written.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : handler_(signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  void (*handler_)(int);
  rlimit saved_{};
};

int DestroyedInstances() {
  int count = 0;
  for (const auto& line : sim::TraceLines())
    count += line.rfind("CloseHandle(DeviceHandle): ", 0) == 0;
  return count;
}

}  // namespace

using SettingsTest = DriverTest;

TEST_F(SettingsTest, TextsAreCodePage932OfTheReadableTexts) {
  sim::ScriptPrompt(kYes);
  sim::ScriptPrompt(kNo);
  ASSERT_EQ(extfskOpen(0x002D0016), 1);

  const auto prompts = sim::PromptsShown();
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[0].text, Shown("polarity_prompt")) << "polarity first";
  EXPECT_EQ(prompts[1].text, Shown("pin_prompt"));
  for (const auto& prompt : prompts) {
    EXPECT_EQ(prompt.caption, Shown("caption"));
    EXPECT_EQ(prompt.style, kPromptStyle);
  }
  // The check covers a Shift_JIS trail byte that is ASCII '\' and the file
  // lines' CR LF.
  EXPECT_NE(prompts[0].text.find("\x95\x5c"), std::string::npos);
  const std::string expected = ExpectedFile(1, 1);
  EXPECT_NE(expected.find("\r\nFskPin=1 // "), std::string::npos);
  EXPECT_EQ(FileBytes(), expected);
}

// Off code page 932 the ANSI box would show mojibake: the same texts come as
// UTF-16 with English under them, and the answers mean what they always do.
TEST_F(SettingsTest, OtherCodePagesShowUtf16WithEnglishUnderTheJapanese) {
  sim::SetAnsiCodePage(1252);
  sim::ScriptPrompt(kYes);
  sim::ScriptPrompt(kNo);
  ASSERT_EQ(extfskOpen(0), 1);
  auto prompts = sim::PromptsShown();
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[0].wideText, Utf16(WithEnglish("polarity_prompt")));
  EXPECT_EQ(prompts[1].wideText, Utf16(WithEnglish("pin_prompt")));
  for (const auto& prompt : prompts) {
    EXPECT_EQ(prompt.wideCaption, Utf16(Utf8Text("caption")));
    EXPECT_EQ(prompt.style, kPromptStyle);
  }
  EXPECT_EQ(FileBytes(), ExpectedFile(1, 1));

  // A system without code page 932 still reads the English in the ANSI box.
  std::filesystem::remove(kFile);
  sim::RemoveCodePage932();
  sim::ScriptPrompt(kNo);
  sim::ScriptPrompt(kYes);
  ASSERT_EQ(extfskOpen(0), 1);
  prompts = sim::PromptsShown();
  ASSERT_EQ(prompts.size(), 4u);
  EXPECT_EQ(prompts[2].text, Cp932(WithEnglish("polarity_prompt")));
  EXPECT_EQ(prompts[3].text, Cp932(WithEnglish("pin_prompt")));
  EXPECT_EQ(prompts[3].caption, Shown("caption"));
  EXPECT_EQ(FileBytes(), ExpectedFile(0, 3));
}

struct Answers {
  int polarity;
  int pin;
  int32_t rev;
  int32_t pinValue;
  uint8_t mark;
  uint8_t space;
};

void PrintTo(const Answers& a, std::ostream* os) {
  *os << "answers " << a.polarity << ", " << a.pin;
}

class AnswerTest : public SettingsTest, public ::testing::WithParamInterface<Answers> {};

TEST_P(AnswerTest, FirstOpenAsksAndLaterOpensReadTheFile) {
  const Answers a = GetParam();
  sim::ScriptPrompt(a.polarity);
  sim::ScriptPrompt(a.pin);
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(sim::PromptsShown().size(), 2u);
  EXPECT_EQ(FileBytes(), ExpectedFile(a.rev, a.pinValue));
  EXPECT_EQ(MarkAndSpace(), std::pair(a.mark, a.space));

  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(sim::PromptsShown().size(), 2u) << "no prompt once the file settles both";
  EXPECT_EQ(MarkAndSpace(), std::pair(a.mark, a.space));
  EXPECT_EQ(FileBytes(), ExpectedFile(a.rev, a.pinValue));
}

INSTANTIATE_TEST_SUITE_P(AllWirings, AnswerTest,
                         ::testing::Values(Answers{kNo, kNo, 0, 1, 0x0C, 0x0D},
                                           Answers{kYes, kNo, 1, 1, 0x0D, 0x0C},
                                           Answers{kNo, kYes, 0, 3, 0x01, 0x05},
                                           Answers{kYes, kYes, 1, 3, 0x05, 0x01}));

TEST_F(SettingsTest, CancelRecordsMinusOneAndAsksAgainAtTheNextOpen) {
  sim::ScriptPrompt(kCancel);
  sim::ScriptPrompt(kYes);
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(Flags(), std::pair(false, true));
  EXPECT_EQ(FileBytes(), ExpectedFile(-1, 3));

  sim::ScriptPrompt(kNo);
  ASSERT_EQ(extfskOpen(0), 1);
  ASSERT_EQ(sim::PromptsShown().size(), 3u);
  EXPECT_EQ(sim::PromptsShown()[2].text, Shown("polarity_prompt"));
  EXPECT_EQ(FileBytes(), ExpectedFile(0, 3));

  // Whatever else the box returns counts as Cancel.
  std::filesystem::remove(kFile);
  sim::ScriptPrompt(0);
  sim::ScriptPrompt(plat::kIdOk);
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(Flags(), std::pair(false, false));
  EXPECT_EQ(FileBytes(), ExpectedFile(-1, -1));
}

struct FileCase {
  const char* content;
  bool asksRev;
  bool asksPin;
  bool reverse;
  bool pin3;
  int32_t revWritten;
  int32_t pinWritten;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << '"' << c.content << '"'; }

class FileCaseTest : public SettingsTest, public ::testing::WithParamInterface<FileCase> {};

// Prompts are not answered here, so every prompt is a Cancel.
TEST_P(FileCaseTest, FileDecidesWhatIsAskedAndWhatIsWrittenBack) {
  const FileCase c = GetParam();
  WriteFileBytes(c.content);
  ASSERT_EQ(extfskOpen(0), 1);
  std::vector<std::string> asked;
  if (c.asksRev) asked.push_back(Shown("polarity_prompt"));
  if (c.asksPin) asked.push_back(Shown("pin_prompt"));
  EXPECT_EQ(PromptTexts(), asked);
  EXPECT_EQ(Flags(), std::pair(c.reverse, c.pin3));
  EXPECT_EQ(FileBytes(), ExpectedFile(c.revWritten, c.pinWritten));
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, FileCaseTest,
    ::testing::Values(FileCase{"FskRev = 1\r\nFskPin=3\r\n", true, false, false, true, -1, 3},
                      FileCase{"FskRev=1\r\nFskRev=0\r\nFskPin=2", false, false, true, false, 0, 2},
                      FileCase{"FskRevX=1 FskPin=1", true, false, false, false, -1, 1},
                      FileCase{"fskrev=1 fskpin=3", true, true, false, false, -1, -1},
                      FileCase{"FskRev=1abc FskPin=3xyz", false, false, true, true, 1, 3},
                      // A cancelled prompt keeps what the file set.
                      FileCase{"FskRev=1 FskRev=-1 FskPin=3", true, false, true, true, -1, 3},
                      FileCase{"FskRev=7 FskPin=-5", false, false, false, false, 7, -5},
                      FileCase{"# notes\nFskPin=3 extra words FskRev=0", false, false, false, true,
                               0, 3},
                      FileCase{"", true, true, false, false, -1, -1}));

TEST_F(SettingsTest, HugeBinaryFileIsStreamedToItsLastKey) {
  {
    std::ofstream file(kFile, std::ios::binary);
    uint32_t seed = 12345;
    for (int i = 0; i < (1 << 20); ++i) {
      seed = seed * 1103515245u + 12345u;
      file.put(static_cast<char>(seed >> 24));
    }
  }
  // 32 MB of NUL bytes (sparse on disk), one run far past any token's length,
  // then the keys with no line break at the end.
  std::filesystem::resize_file(kFile, (33u << 20));
  std::ofstream(kFile, std::ios::binary | std::ios::app) << "\nFskRev=1\nFskPin=3";

  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_TRUE(sim::PromptsShown().empty());
  EXPECT_EQ(Flags(), std::pair(true, true));
  EXPECT_EQ(FileBytes(), ExpectedFile(1, 3));
}

TEST_F(SettingsTest, UnwritableFileLeavesTheChoicesToThisInstance) {
  // A directory in the file's place can be neither read as settings nor written.
  std::filesystem::create_directory(kFile);
  sim::ScriptPrompt(kYes);
  sim::ScriptPrompt(kYes);
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(MarkAndSpace(), std::pair(uint8_t{0x05}, uint8_t{0x01}));

  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(sim::PromptsShown().size(), 4u) << "asked again";
  EXPECT_EQ(Flags(), std::pair(false, false));
  EXPECT_TRUE(std::filesystem::is_directory(kFile));
}

// A full disk stops the write part way: the trace says so, and the next open
// reads what reached the file and asks for the rest.
TEST_F(SettingsTest, WriteCutShortIsTracedAndTheNextOpenAsksForTheRest) {
  sim::ScriptPrompt(kYes);
  sim::ScriptPrompt(kYes);
  {
    FileSizeLimit limit(20);
    ASSERT_EQ(extfskOpen(0), 1);
  }
  EXPECT_EQ(FileBytes(), ExpectedFile(1, 3).substr(0, 20));
  const auto traces = sim::TraceLines();
  EXPECT_EQ(std::count_if(traces.begin(), traces.end(),
                          [](const std::string& line) {
                            return line.rfind("Can't write tarvokey.ini: ", 0) == 0;
                          }),
            1);

  sim::ScriptPrompt(kNo);
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(PromptTexts(), (std::vector<std::string>{Shown("polarity_prompt"), Shown("pin_prompt"),
                                                     Shown("pin_prompt")}));
  EXPECT_EQ(Flags(), std::pair(true, false));
  EXPECT_EQ(FileBytes(), ExpectedFile(1, 1));
}

// FskBox is kept when the file is written back, after the two lines, as it
// was read (without what followed it on its line, which could hold another
// key), so the folder's choice survives every open; it is never asked for.
// On Resume from another program's folder, the choice comes from the file
// beside the host program, with its answers.
TEST_F(SettingsTest, TheChosenBoxStaysChosenAcrossOpens) {
  const std::string chosen = "FskBox=0123456789ABCDEF\r\n";
  WriteFileBytes("FskRev=1 FskBox=0123456789ABCDEF // radio 2\r\nFskPin=3\r\n");
  for (int open = 0; open < 2; ++open) {
    ASSERT_EQ(extfskOpen(0), 1);
    EXPECT_EQ(activeKeyer->boxChoice.kind, BoxChoiceKind::Chosen);
    EXPECT_EQ(activeKeyer->boxChoice.key, 0x0123456789ABCDEFu);
    EXPECT_EQ(FileBytes(), ExpectedFile(1, 3) + chosen);
  }
  EXPECT_TRUE(sim::PromptsShown().empty());

  const std::filesystem::path program = std::filesystem::current_path() / "MMTTY";
  std::filesystem::create_directory(program);
  sim::SetProgramFolder(program.string());
  std::filesystem::rename(kFile, program / kFile);
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(activeKeyer->boxChoice.key, 0x0123456789ABCDEFu);
  EXPECT_EQ(FileBytes(program / kFile), ExpectedFile(1, 3) + chosen);
  EXPECT_FALSE(std::filesystem::exists(kFile));
}

// MMTTY reopens the plug-in on Resume while another program's folder is
// current. Only when the current folder has no tarvokey.ini at all is the one
// in the host program's folder read, and written back.
TEST_F(SettingsTest, CurrentFolderFirstThenTheHostProgramsFolder) {
  const std::filesystem::path program = std::filesystem::current_path() / "MMTTY";
  const std::filesystem::path programFile = program / kFile;
  std::filesystem::create_directory(program);
  sim::SetProgramFolder(program.string());
  std::ofstream(programFile, std::ios::binary) << "FskRev=1\r\nFskPin=3\r\n";

  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_TRUE(sim::PromptsShown().empty());
  EXPECT_EQ(Flags(), std::pair(true, true));
  EXPECT_FALSE(std::filesystem::exists(kFile));
  EXPECT_EQ(FileBytes(programFile), ExpectedFile(1, 3));

  // A complete file here wins, and the other is left alone.
  WriteFileBytes("FskRev=0\r\nFskPin=1\r\n");
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(Flags(), std::pair(false, false));
  EXPECT_EQ(FileBytes(), ExpectedFile(0, 1));

  // So does one that cannot be read: its questions are asked.
  std::filesystem::remove(kFile);
  std::filesystem::create_directory(kFile);
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(sim::PromptsShown().size(), 2u);
  EXPECT_EQ(FileBytes(programFile), ExpectedFile(1, 3));

  // Neither folder has one: asked, and written here as always.
  std::filesystem::remove(kFile);
  std::filesystem::remove(programFile);
  sim::ScriptPrompt(kNo);
  sim::ScriptPrompt(kYes);
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(FileBytes(), ExpectedFile(0, 3));
  EXPECT_FALSE(std::filesystem::exists(programFile));
}

TEST_F(SettingsTest, ClockRunsWhilePromptsAreOpenAndAnswersApplyAtOnce) {
  uint64_t ticksDuringPrompt = 0;
  sim::ScriptPrompt(kYes, [&] {
    EXPECT_EQ(sim::ArmedTimerCount(), 1u) << "the clock started before the prompt";
    const uint64_t before = sim::CallbacksRun();
    sim::AdvanceMs(220);
    ticksDuringPrompt = sim::CallbacksRun() - before;
  });
  uint8_t keyedDuringPinPrompt = 0;
  sim::ScriptPrompt(kYes, [&] {
    // Reverse is in, the pin not yet: the next mark goes out on pin 1, reversed.
    extfskSetPTT(1);
    extfskIsTxBusy();
    sim::FireNextTimer();
    keyedDuringPinPrompt = PortBits();
    extfskSetPTT(0);
  });
  ASSERT_EQ(extfskOpen(0), 1);
  EXPECT_EQ(ticksDuringPrompt, 10u);
  EXPECT_EQ(keyedDuringPinPrompt, 0x0D);
  EXPECT_EQ(sim::NowMs(), 242u);
  EXPECT_EQ(MarkAndSpace(), std::pair(uint8_t{0x05}, uint8_t{0x01}));
}

// Waits, on real ticks, until the line byte is the one wanted.
bool LineByteBecomes(uint8_t wanted) {
  const uint32_t start = plat::MonotonicMs();
  while (DriverTest::PortBits() != wanted) {
    if (plat::MonotonicMs() - start > 5000) return false;
    plat::SleepMs(1);
  }
  return true;
}

TEST_F(SettingsTest, AnswersReachRealTicksWhilePromptsAreOpen) {
  sim::StartRealTime();
  // PTT switched while a prompt is open keys with the wiring known so far.
  sim::ScriptPrompt(kYes, [] {
    extfskSetPTT(1);
    extfskIsTxBusy();
    EXPECT_TRUE(LineByteBecomes(0x0C)) << "mark on pin 1, normal";
  });
  sim::ScriptPrompt(kYes, [] {
    // Ticks run while this thread stays off the lock, so under ThreadSanitizer
    // a flag written without the lock would show as a race.
    plat::SleepMs(50);
    EXPECT_TRUE(LineByteBecomes(0x0D)) << "mark on pin 1, reversed";
  });
  ASSERT_EQ(extfskOpen(0), 1);
  extfskSetPTT(0);
  extfskSetPTT(1);
  EXPECT_TRUE(LineByteBecomes(0x05)) << "mark on pin 3, reversed";
}

// The box's message loop lets the host call back in; the instance under the
// settings step must outlive it.
TEST_F(SettingsTest, CloseDuringAPromptTakesEffectWhenTheSettingsStepEnds) {
  sim::ScriptPrompt(kYes, [] {
    FskKeyer* const open = activeKeyer;
    extfskClose();
    EXPECT_EQ(activeKeyer, open);
    EXPECT_EQ(DestroyedInstances(), 0);
    EXPECT_EQ(sim::ArmedTimerCount(), 1u);
  });
  sim::ScriptPrompt(kYes, [] { sim::AdvanceMs(44); });
  ASSERT_EQ(extfskOpen(0), 1);

  EXPECT_EQ(activeKeyer, nullptr);
  EXPECT_EQ(DestroyedInstances(), 1);
  EXPECT_EQ(sim::ArmedTimerCount(), 0u);
  EXPECT_EQ(sim::ResolutionRequests(), 0);
  EXPECT_EQ(FileBytes(), ExpectedFile(1, 3)) << "the settings step ran to its end";
}

TEST_F(SettingsTest, OpenDuringAPromptReplacesTheInstanceAfterwards) {
  sim::ScriptPrompt(kNo, [] {
    EXPECT_EQ(extfskOpen(0), 1);
    EXPECT_EQ(DestroyedInstances(), 0);
  });
  sim::ScriptPrompt(kYes);
  ASSERT_EQ(extfskOpen(0), 1);

  // The replacement read what the first one wrote, so it asked nothing.
  EXPECT_EQ(sim::PromptsShown().size(), 2u);
  EXPECT_EQ(DestroyedInstances(), 1);
  ASSERT_NE(activeKeyer, nullptr);
  EXPECT_EQ(sim::ArmedTimerCount(), 1u);
  EXPECT_EQ(sim::ResolutionRequests(), 1);
  EXPECT_EQ(MarkAndSpace(), std::pair(uint8_t{0x01}, uint8_t{0x05}));
}

TEST_F(SettingsTest, LastRequestDuringPromptsWins) {
  // Close then open: replaced. The replacement asks again, as all is cancelled;
  // open then close during its prompt: closed.
  sim::ScriptPrompt(kCancel, [] {
    extfskClose();
    extfskOpen(0);
  });
  sim::ScriptPrompt(kCancel);
  sim::ScriptPrompt(kCancel, [] {
    extfskOpen(0);
    extfskClose();
  });
  ASSERT_EQ(extfskOpen(0), 1);

  EXPECT_EQ(sim::PromptsShown().size(), 4u);
  EXPECT_EQ(DestroyedInstances(), 2);
  EXPECT_EQ(activeKeyer, nullptr);
  EXPECT_EQ(sim::ArmedTimerCount(), 0u);
  EXPECT_EQ(sim::ResolutionRequests(), 0);
}

TEST_F(SettingsTest, CloseFromAnotherThreadWaitsForTheSettingsStep) {
  std::thread closer;
  sim::ScriptPrompt(kYes, [&] {
    closer = std::thread([] { extfskClose(); });
    plat::SleepMs(20);
    EXPECT_EQ(DestroyedInstances(), 0);
  });
  sim::ScriptPrompt(kYes);
  ASSERT_EQ(extfskOpen(0), 1);
  closer.join();

  EXPECT_EQ(activeKeyer, nullptr);
  EXPECT_EQ(DestroyedInstances(), 1);
  EXPECT_EQ(FileBytes(), ExpectedFile(1, 3));
}
