#include "tools/check/check.h"

#include <string>
#include <utility>
#include <vector>

#include "shell/fsk_keyer.h"
#include "shell/version.h"
#include "tools/check/boxes.h"
#include "tools/check/discovery.h"
#include "tools/check/key_run.h"
#include "tools/check/settings_view.h"
#include "tools/check/status_view.h"
#include "tools/check/text.h"
#include "tools/check/texts.h"
#include "tools/check/timing.h"

namespace {

// The console with every line of text fitted to its width, so that none
// breaks inside a word (FitLines); a JSON document goes as it is.
class FittedConsole : public Console {
 public:
  explicit FittedConsole(Console& console) : console_(console) {}

  void Print(const std::string& text) override {
    console_.Print(FitLines(text, console_.Columns()));
  }
  void PrintUtf8(const std::string& text) override { console_.PrintUtf8(text); }
  std::string Ask(const std::string& question) override {
    return console_.Ask(FitLines(question, console_.Columns()));
  }
  double NowMs() override { return console_.NowMs(); }
  double ReportTimeMs() override { return console_.ReportTimeMs(); }
  void Sleep(uint32_t ms) override { console_.Sleep(ms); }
  Stop StopRequest() override { return console_.StopRequest(); }
  std::string FullPath(const char* name) override { return console_.FullPath(name); }
  std::string BoxLocation(const std::string& devicePath) override {
    return console_.BoxLocation(devicePath);
  }
  bool JapaneseUser() override { return console_.JapaneseUser(); }
  std::vector<StatusEntry> ReadStatuses() override { return console_.ReadStatuses(); }
  bool EnterPressed() override { return console_.EnterPressed(); }
  void ShowLive(const std::string& panel) override {
    console_.ShowLive(FitLines(panel, console_.Columns()));
  }
  int Columns() override { return console_.Columns(); }
  void EndLive() override { console_.EndLive(); }
  bool OwnConsole() override { return console_.OwnConsole(); }
  void WaitForEnter() override { console_.WaitForEnter(); }

 private:
  Console& console_;
};

// The table for a console narrower than its paragraphs broken by hand: each
// of them broken anew for that width (FitParagraphs), so that none is broken
// twice. For a wider console, or a file, the table as it is.
class TextsForWidth {
 public:
  TextsForWidth(const Texts& texts, int columns) : texts_(texts) {
    if (columns >= kConsoleColumns) return;
    // Every member of the table is a text, as tests/native/probe_texts.h reads it too.
    static_assert(sizeof(Texts) % sizeof(const char*) == 0, "texts only");
    constexpr size_t kCount = sizeof(Texts) / sizeof(const char*);
    auto* entries = reinterpret_cast<const char**>(&texts_);
    fitted_.reserve(kCount);  // no text moves once its place is given
    for (size_t i = 0; i < kCount; ++i) {
      fitted_.push_back(FitParagraphs(entries[i], columns));
      entries[i] = fitted_.back().c_str();
    }
  }
  TextsForWidth(const TextsForWidth&) = delete;
  TextsForWidth& operator=(const TextsForWidth&) = delete;

  const Texts& texts() const { return texts_; }

 private:
  Texts texts_;
  std::vector<std::string> fitted_;
};

struct Options {
  enum class Mode {
    Check,
    Setup,
    Key,
    Watch,
    Status,
    Boxes,
    Choose,
    Help,
    Version
  } mode = Mode::Check;
  KeyOptions key;
  bool json = false;
  int box = 0;  // --choose
};

// A whole number from 1 to the most, of two digits at most: the seconds
// after --key, the box after --choose.
bool ParseSmallNumber(const std::string& text, int most, int* number) {
  if (text.empty() || text.size() > 2) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > most) return false;
  *number = value;
  return true;
}

// An argument as it may be shown.
std::string Shown(const std::string& arg) { return Printable(arg.substr(0, 40)); }

// The language --lang names, else the user's.
const Texts& ChooseTexts(const std::vector<std::string>& args, Console& console) {
  for (size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == "--lang" && args[i + 1] == "ja") return kTextsJapanese;
    if (args[i] == "--lang" && args[i + 1] == "en") return kTextsEnglish;
  }
  return console.JapaneseUser() ? kTextsJapanese : kTextsEnglish;
}

// Empty when the arguments make sense, else what is wrong with them.
std::string Parse(const std::vector<std::string>& args, const Texts& t, Options* options) {
  bool yes = false;
  bool modeGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    Options::Mode mode;
    if (arg == "--yes") {
      if (yes) return t.yesTwice;
      yes = true;
      continue;
    } else if (arg == "--json") {
      options->json = true;
      continue;
    } else if (arg == "--lang") {
      if (i + 1 == args.size() || (args[i + 1] != "ja" && args[i + 1] != "en")) {
        return Format(t.langValue, i + 1 == args.size() ? "" : Shown(args[i + 1]).c_str());
      }
      ++i;
      continue;
    } else if (arg == "--setup") {
      mode = Options::Mode::Setup;
    } else if (arg == "--key") {
      mode = Options::Mode::Key;
      if (i + 1 < args.size() && args[i + 1].compare(0, 2, "--") != 0) {
        if (!ParseSmallNumber(args[++i], kMaxKeySeconds, &options->key.seconds)) {
          return Format(t.keySeconds, kMaxKeySeconds, Shown(args[i]).c_str());
        }
      }
    } else if (arg == "--boxes") {
      mode = Options::Mode::Boxes;
    } else if (arg == "--choose") {
      mode = Options::Mode::Choose;
      if (i + 1 == args.size() || !ParseSmallNumber(args[i + 1], 99, &options->box)) {
        return Format(t.chooseNumber, i + 1 == args.size() ? "" : Shown(args[i + 1]).c_str());
      }
      ++i;
    } else if (arg == "--watch") {
      mode = Options::Mode::Watch;
    } else if (arg == "--status") {
      mode = Options::Mode::Status;
    } else if (arg == "--help" || arg == "-h" || arg == "/?") {
      mode = Options::Mode::Help;
    } else if (arg == "--version") {
      mode = Options::Mode::Version;
    } else {
      return Format(t.unknownArgument, Shown(arg).c_str());
    }
    if (modeGiven) return t.oneMode;
    modeGiven = true;
    options->mode = mode;
  }
  if (yes && options->mode != Options::Mode::Key) return t.yesWithKeyOnly;
  if (options->json && options->mode != Options::Mode::Status) return t.jsonWithStatusOnly;
  options->key.confirmed = yes;
  return {};
}

int Check(Console& console, const Texts& t, bool setup) {
  WatchedOpen open(console);
  PrintDiscovery(console, t, open);
  PrintVerdict(console, t, open);
  PrintTimerRequest(console, t);
  if (setup && open.keyer() != nullptr) {
    console.Print(t.setupAsking);
    open.keyer()->LoadSettings(open.settings(), open.settingsPlace());
  }
  open.Close();
  PrintSettings(console, t);
  console.Print(VerdictLine(t, open) + "\n");
  console.Print(NextStep(t, open));
  return VerdictStatus(open);
}

// How many boxes are attached, asked only while a program waits for a box in
// use (the advice depends on it), and without opening any.
size_t BoxesAttached(Console& console, const std::vector<StatusEntry>& entries) {
  for (const StatusEntry& entry : entries) {
    if (entry.read.problem == status::Problem::None &&
        entry.read.record.link == static_cast<uint8_t>(status::Link::InUse)) {
      return ListBoxes(console, false).size();
    }
  }
  return 1;
}

int InstanceStatus(const std::vector<StatusEntry>& entries) {
  for (const StatusEntry& entry : entries) {
    if (IsOpenInstance(entry)) return kExitInstanceOpen;
  }
  return kExitNoInstance;
}

// The panel of every open instance, anew each refresh, until the operator
// stops it; then the last look again where it stays, with what to do. What
// each look read is kept for a minute: the warnings are judged on it.
int Watch(Console& console, const Texts& t) {
  constexpr uint32_t kStep = 50;
  StatusLooks looks;
  const auto look = [&] {
    const double nowMs = console.NowMs();
    const std::vector<StatusEntry> entries = console.ReadStatuses();
    looks.Add(entries, nowMs);
    return std::make_pair(
        entries, StatusPanel(entries, nowMs, t.status, &looks, BoxesAttached(console, entries)));
  };
  for (;;) {
    console.ShowLive(t.watchHeading + look().second);
    for (uint32_t waited = 0; waited < kWatchRefreshMs; waited += kStep) {
      // Both are asked each time: a pending Enter is taken now, not later.
      const bool stop = console.StopRequest() != Stop::None;
      if (console.EnterPressed() || stop) {
        console.EndLive();
        const auto [entries, panel] = look();
        console.Print(t.watchEnded);
        console.Print(panel);
        return InstanceStatus(entries);
      }
      console.Sleep(kStep);
    }
  }
}

// One look: the warnings are judged on the figures since the open, and say so.
int Status(Console& console, const Texts& t, bool json) {
  const std::vector<StatusEntry> entries = console.ReadStatuses();
  if (json) {
    console.PrintUtf8(StatusJson(entries, console.NowMs()));
  } else {
    console.Print(
        StatusPanel(entries, console.NowMs(), t.status, nullptr, BoxesAttached(console, entries)));
  }
  return InstanceStatus(entries);
}

int Run(const Options& options, Console& console, const Texts& t) {
  switch (options.mode) {
    case Options::Mode::Help:
      console.Print(t.usage);
      return kExitAccepted;
    case Options::Mode::Version:
      return kExitAccepted;
    case Options::Mode::Key:
      return RunKey(console, t, options.key);
    case Options::Mode::Watch:
      return Watch(console, t);
    case Options::Mode::Status:
      return Status(console, t, options.json);
    case Options::Mode::Boxes:
      return PrintBoxes(console, t);
    case Options::Mode::Choose:
      return ChooseBox(console, t, options.box);
    case Options::Mode::Check:
    case Options::Mode::Setup:
      break;
  }
  return Check(console, t, options.mode == Options::Mode::Setup);
}

}  // namespace

int RunCheck(const std::vector<std::string>& args, Console& operatorConsole) {
  FittedConsole console(operatorConsole);
  const TextsForWidth texts(ChooseTexts(args, console), console.Columns());
  const Texts& t = texts.texts();
  Options options;
  const std::string problem = Parse(args, t, &options);
  // The JSON document is the whole of the output.
  if (!options.json || !problem.empty()) {
    // The version record's numbers: the program ships with the module they name.
    console.Print(Format(t.versionLine, TARVOKEY_VERSION_MAJOR, TARVOKEY_VERSION_MINOR,
                         TARVOKEY_VERSION_BUILD, TARVOKEY_VERSION_REVISION));
  }
  int status = kExitBadArgument;
  if (problem.empty()) {
    status = Run(options, console, t);
  } else {
    console.Print(Format(t.badArgument, problem.c_str()));
  }
  // Started by a double-click, its console would close before it can be read;
  // unless the operator is closing it anyway.
  const Stop stop = console.StopRequest();
  if (console.OwnConsole() && stop != Stop::CloseWindow && stop != Stop::EndSession) {
    console.Print(t.pressEnter);
    console.WaitForEnter();
  }
  return status;
}
