#include "tools/check/check.h"

#include "shell/fsk_keyer.h"
#include "shell/version.h"
#include "tools/check/discovery.h"
#include "tools/check/key_run.h"
#include "tools/check/settings_view.h"
#include "tools/check/text.h"

namespace {

constexpr char kUsage[] =
    "Usage: tarvokey-check [--setup]\n"
    "       tarvokey-check --key [seconds] [--yes]\n"
    "       tarvokey-check --help | --version\n"
    "\n"
    "Checks the TARVOKEY box and tarvokey.fsk's settings on this PC with the\n"
    "plug-in's own code. Run it in the folder of MMTTY.EXE: tarvokey.fsk reads\n"
    "tarvokey.ini from there.\n"
    "\n"
    "  (no option)      look for the box as tarvokey.fsk does and print its trace,\n"
    "                   whether the box is accepted, and the settings in force;\n"
    "                   nothing is asked and no file is written\n"
    "  --setup          the same, and ask tarvokey.fsk's questions that\n"
    "                   tarvokey.ini does not answer, then write it, as MMTTY's\n"
    "                   open of the plug-in does\n"
    "  --key [seconds]  key the transmitter: PTT on, RYRY at 45.45 baud for the\n"
    "                   seconds given (10 if none, at most 60), PTT off; then the\n"
    "                   timing of every element the box received. Ctrl-C stops\n"
    "                   it and releases the lines\n"
    "  --yes            with --key: key without asking first\n"
    "\n"
    "Exit status: 0 box accepted, 1 no box, 2 box refused, 3 bad argument (or\n"
    "--key not confirmed).\n";

struct Options {
  enum class Mode { Check, Setup, Key, Help, Version } mode = Mode::Check;
  KeyOptions key;
};

// The seconds after --key: a whole number from 1 to the most.
bool ParseSeconds(const std::string& text, int* seconds) {
  if (text.empty() || text.size() > 2) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kMaxKeySeconds) return false;
  *seconds = value;
  return true;
}

// Empty when the arguments make sense, else what is wrong with them.
std::string Parse(const std::vector<std::string>& args, Options* options) {
  bool yes = false;
  bool modeGiven = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    Options::Mode mode;
    if (arg == "--yes") {
      if (yes) return "--yes is given twice";
      yes = true;
      continue;
    } else if (arg == "--setup") {
      mode = Options::Mode::Setup;
    } else if (arg == "--key") {
      mode = Options::Mode::Key;
      if (i + 1 < args.size() && args[i + 1].compare(0, 2, "--") != 0) {
        if (!ParseSeconds(args[++i], &options->key.seconds)) {
          return Format("--key takes a whole number of seconds from 1 to %d, not \"%s\"",
                        kMaxKeySeconds, Printable(args[i].substr(0, 40)).c_str());
        }
      }
    } else if (arg == "--help" || arg == "-h" || arg == "/?") {
      mode = Options::Mode::Help;
    } else if (arg == "--version") {
      mode = Options::Mode::Version;
    } else {
      return Format("unknown argument \"%s\"", Printable(arg.substr(0, 40)).c_str());
    }
    if (modeGiven) return "give one of --setup, --key, --help and --version";
    modeGiven = true;
    options->mode = mode;
  }
  if (yes && options->mode != Options::Mode::Key) return "--yes goes with --key only";
  options->key.confirmed = yes;
  return {};
}

int Check(Console& console, bool setup) {
  WatchedOpen open;
  PrintDiscovery(console, open);
  PrintVerdict(console, open);
  if (setup && open.keyer() != nullptr) {
    console.Print(
        "Asking what tarvokey.ini leaves open and writing it, as tarvokey.fsk's open does.\n");
    open.keyer()->LoadSettings();
  }
  open.Close();
  PrintSettings(console);
  console.Print(VerdictLine(open) + "\n");
  if (!open.opened()) return kExitNoBox;
  switch (open.verdict()) {
    case Verdict::Accepted:
      return kExitAccepted;
    case Verdict::Refused:
      return kExitRefused;
    case Verdict::NoBox:
      break;
  }
  return kExitNoBox;
}

}  // namespace

int RunCheck(const std::vector<std::string>& args, Console& console) {
  // The version record's numbers: the program ships with the module they name.
  console.Print(Format("tarvokey-check %d.%d.%d.%d, for tarvokey.fsk of the same version\n",
                       TARVOKEY_VERSION_MAJOR, TARVOKEY_VERSION_MINOR, TARVOKEY_VERSION_BUILD,
                       TARVOKEY_VERSION_REVISION));
  Options options;
  const std::string problem = Parse(args, &options);
  if (!problem.empty()) {
    console.Print("tarvokey-check: " + problem + " (see --help).\n");
    return kExitBadArgument;
  }
  switch (options.mode) {
    case Options::Mode::Help:
      console.Print(kUsage);
      return kExitAccepted;
    case Options::Mode::Version:
      return kExitAccepted;
    case Options::Mode::Key:
      return RunKey(console, options.key);
    case Options::Mode::Check:
    case Options::Mode::Setup:
      break;
  }
  return Check(console, options.mode == Options::Mode::Setup);
}
