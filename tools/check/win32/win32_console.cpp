#include "tools/check/win32/win32_console.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "tools/check/text.h"
#include "tools/check/win32/win32_box_location.h"
#include "tools/check/win32/win32_status.h"

namespace {

// What the operator did, as the handler saw it: 0 nothing, else the event + 1.
volatile LONG stopEvent = 0;
// Set by Done; a close waits for it.
HANDLE done = nullptr;
// The system ends the process about 5 s after a close of the console, and at
// once when the handler returns (https://learn.microsoft.com/windows/console/handlerroutine):
// the run gets most of that to release the lines.
constexpr DWORD kCloseWaitMs = 4000;

bool IsConsole(HANDLE handle) {
  DWORD mode;
  return GetConsoleMode(handle, &mode) != FALSE;
}

std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8) {
  if (text.empty()) return {};
  const int units =
      MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
  return wide;
}

// In the code page given; a character it lacks becomes the nearest it has, or '?'.
std::string Narrow(const wchar_t* wide, size_t units, UINT codePage = CP_UTF8) {
  if (units == 0) return {};
  const int bytes =
      WideCharToMultiByte(codePage, 0, wide, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, 0, wide, static_cast<int>(units), &narrow[0], bytes, nullptr,
                      nullptr);
  return narrow;
}

// The text in a code page that may lack some of its characters: the arrow
// and dashes of the texts go as the ASCII that stands for them (the
// Western code pages have no arrow), anything else as '?'.
std::string InCodePage(const std::wstring& text, UINT codePage) {
  if (codePage == CP_UTF8 || text.empty()) return Narrow(text.data(), text.size(), codePage);
  BOOL lost = FALSE;
  const int bytes = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(),
                                        static_cast<int>(text.size()), nullptr, 0, nullptr, &lost);
  // (A code page that takes no such flag, as some do, converts as it can.)
  if (bytes == 0 || !lost) return Narrow(text.data(), text.size(), codePage);
  std::string out;
  for (size_t at = 0; at < text.size(); ++at) {
    char bytesOfOne[8];
    lost = FALSE;
    const int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, &text[at], 1, bytesOfOne,
                                           sizeof bytesOfOne, nullptr, &lost);
    if (length > 0 && !lost) {
      out.append(bytesOfOne, static_cast<size_t>(length));
      continue;
    }
    switch (text[at]) {
      case L'\u2192':
        out += "->";
        break;
      case L'\u2014':
      case L'\u2013':
        out += "-";
        break;
      case L'\u2026':
        out += "...";
        break;
      default:
        out += '?';
    }
  }
  return out;
}

// The code page in which this PC reads a text file: `type`, `more` and
// `findstr` read it in the console's output code page (932 on a Japanese
// Windows, 65001 after chcp 65001), and so does PowerShell when it takes the
// output of a pipe. With no console at all (started by another program), the
// ANSI code page, in which Notepad reads a file with no byte-order mark; on a
// Japanese Windows the two are the same, 932. Inferred from how those programs
// read text; --status redirected on a Japanese Windows, then typed, proves it.
UINT TextCodePage() {
  const UINT console = GetConsoleOutputCP();
  return console != 0 ? console : GetACP();
}

// WriteConsoleW draws the characters themselves, whatever the console's code
// page (932, 65001 or another); a narrow write would be read in that code
// page. Windows before 8 refuses a single write of more than about 64 KB of
// the console's shared buffer (WriteConsole's page of then; today's says a
// write beyond the heap fails), so long texts go in pieces.
void WriteWide(HANDLE console, const std::wstring& text) {
  constexpr size_t kPiece = 8192;
  for (size_t at = 0; at < text.size(); at += kPiece) {
    DWORD written;
    const size_t units = text.size() - at < kPiece ? text.size() - at : kPiece;
    WriteConsoleW(console, text.data() + at, static_cast<DWORD>(units), &written, nullptr);
  }
}

// The input when it is not a console (a pipe or a file): a thread reads it
// and notes a line's end, so that nothing here waits for it.
volatile LONG lineEnded = 0;

DWORD WINAPI ReadInputLines(void* input) {
  char bytes[64];
  DWORD read = 0;
  while (ReadFile(input, bytes, sizeof bytes, &read, nullptr) && read > 0) {
    if (std::memchr(bytes, '\n', read) != nullptr || std::memchr(bytes, '\r', read) != nullptr) {
      InterlockedExchange(&lineEnded, 1);
    }
  }
  return 0;
}

}  // namespace

BOOL WINAPI OnConsoleControl(DWORD event) {
  InterlockedCompareExchange(&stopEvent, static_cast<LONG>(event) + 1, 0);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && done != nullptr) {
    WaitForSingleObject(done, kCloseWaitMs);
  }
  return TRUE;
}

Win32Console::Win32Console()
    : out_(GetStdHandle(STD_OUTPUT_HANDLE)),
      in_(GetStdHandle(STD_INPUT_HANDLE)),
      outIsConsole_(IsConsole(out_)),
      inIsConsole_(IsConsole(in_)),
      codePage_(TextCodePage()) {
  QueryPerformanceFrequency(&frequency_);
  stopEvent = 0;
  done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

Win32Console::~Win32Console() {
  EndLive();
  Done();
  SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
  if (done != nullptr) CloseHandle(done);
  done = nullptr;
  if (inputReader_ != nullptr) CloseHandle(inputReader_);
}

void Win32Console::Done() {
  if (done != nullptr) SetEvent(done);
}

// Redirected to a file or a pipe, the text is what the operator attaches to a
// request for help, or reads again with `type` or Notepad: in the code page
// this PC reads text files in, not UTF-8, which a Japanese Windows shows as
// mojibake.
void Win32Console::Print(const std::string& text) {
  if (outIsConsole_) {
    WriteWide(out_, Wide(text));
    return;
  }
  WriteBytes(InCodePage(Wide(text), codePage_));
}

// JSON is UTF-8 whatever the code page.
void Win32Console::PrintUtf8(const std::string& text) {
  if (outIsConsole_) return Print(text);
  WriteBytes(text);
}

// On a console, its screen buffer's width: it wraps lines there. A Windows
// 10 console is 120 columns wide, a Windows 7 one 80. Written to a file or a
// pipe, no line is broken: whatever shows it wraps to its own width, and a
// device path stays whole for a support request to quote.
int Win32Console::Columns() {
  if (!outIsConsole_) return std::numeric_limits<int>::max();
  CONSOLE_SCREEN_BUFFER_INFO screen;
  if (GetConsoleScreenBufferInfo(out_, &screen) && screen.dwSize.X > 40) {
    return screen.dwSize.X - 1;
  }
  return kConsoleColumns;
}

void Win32Console::WriteBytes(const std::string& bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

// From a console, the characters typed, whatever its code page: a full-width
// ｙ typed with the IME comes as itself (ReadConsoleW). Any other input is
// read in the code page the console reads input in, else the ANSI one.
// Ctrl-C while reading ends the read as if the input had ended.
std::string Win32Console::Ask(const std::string& question) {
  Print(question);
  std::string answer;
  bool read = false;
  if (inIsConsole_) {
    wchar_t line[128];
    DWORD units = 0;
    read = ReadConsoleW(in_, line, static_cast<DWORD>(sizeof line / sizeof line[0]), &units,
                        nullptr) &&
           units > 0;
    if (read) answer = Narrow(line, units);
  } else {
    char line[128];
    read = std::fgets(line, sizeof line, stdin) != nullptr;
    if (read) {
      const std::wstring wide = Wide(line, GetConsoleCP() != 0 ? GetConsoleCP() : GetACP());
      answer = Narrow(wide.data(), wide.size());
    }
  }
  if (!read || StopRequest() != Stop::None) {
    Print("\n");
    return {};
  }
  answer.erase(std::min(answer.find_first_of("\r\n"), answer.size()));
  return answer;
}

double Win32Console::NowMs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency_.QuadPart);
}

void Win32Console::Sleep(uint32_t ms) { ::Sleep(ms); }

Stop Win32Console::StopRequest() {
  switch (stopEvent - 1) {
    case -1:
      return Stop::None;
    case CTRL_C_EVENT:
      return Stop::CtrlC;
    case CTRL_BREAK_EVENT:
      return Stop::CtrlBreak;
    case CTRL_CLOSE_EVENT:
      return Stop::CloseWindow;
    default:
      return Stop::EndSession;
  }
}

std::string Win32Console::FullPath(const char* name) {
  const std::wstring wideName = Wide(name);
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetFullPathNameW(wideName.c_str(), static_cast<DWORD>(path.size()), path.data(), nullptr);
    if (length == 0) return name;
    if (length < path.size()) return Narrow(path.data(), length);
    path.resize(length);
  }
}

// The language of the user's Windows, not of the system: a Japanese operator
// may run an English Windows with Japanese chosen as the display language.
bool Win32Console::JapaneseUser() {
  return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE;
}

std::vector<StatusEntry> Win32Console::ReadStatuses() { return ReadStatusSections(); }

std::string Win32Console::BoxLocation(const std::string& devicePath) {
  return BoxLocationOf(devicePath);
}

// On a console, the key events waiting are taken (others are of no use
// here); any other input is left to a thread of its own, started at the
// first call and left blocked in its read when the program ends.
bool Win32Console::EnterPressed() {
  if (!inIsConsole_) {
    if (inputReader_ == nullptr && in_ != nullptr && in_ != INVALID_HANDLE_VALUE) {
      inputReader_ = CreateThread(nullptr, 0, &ReadInputLines, in_, 0, nullptr);
    }
    return InterlockedExchange(&lineEnded, 0) != 0;
  }
  bool enter = false;
  DWORD waiting = 0;
  while (GetNumberOfConsoleInputEvents(in_, &waiting) && waiting > 0) {
    INPUT_RECORD record;
    DWORD read = 0;
    if (!ReadConsoleInputW(in_, &record, 1, &read) || read == 0) break;
    enter = enter || (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
                      record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN);
  }
  return enter;
}

// A screen buffer of its own, drawn from the top each time, each line cleared
// to its end and everything below the panel blanked, so the panel stands
// still; EndLive shows the buffer the program started with again, as it was.
void Win32Console::ShowLive(const std::string& panel) {
  if (outIsConsole_ && live_ == nullptr && !liveRefused_) {
    live_ = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (live_ == INVALID_HANDLE_VALUE || !SetConsoleActiveScreenBuffer(live_)) {
      if (live_ != INVALID_HANDLE_VALUE) CloseHandle(live_);
      live_ = nullptr;
      liveRefused_ = true;  // the panels follow one another
    }
  }
  if (live_ == nullptr) {
    Print(panel + "\n");
    return;
  }
  SetConsoleCursorPosition(live_, COORD{0, 0});
  CONSOLE_SCREEN_BUFFER_INFO screen;
  DWORD written;
  const std::wstring text = Wide(panel);
  for (size_t from = 0; from < text.size();) {
    size_t end = text.find(L'\n', from);
    if (end == std::wstring::npos) end = text.size();
    WriteWide(live_, text.substr(from, end - from));
    if (GetConsoleScreenBufferInfo(live_, &screen) && screen.dwCursorPosition.X > 0) {
      FillConsoleOutputCharacterW(live_, L' ', screen.dwSize.X - screen.dwCursorPosition.X,
                                  screen.dwCursorPosition, &written);
    }
    if (end < text.size()) WriteWide(live_, L"\n");
    from = end + 1;
  }
  if (GetConsoleScreenBufferInfo(live_, &screen)) {
    const DWORD below =
        static_cast<DWORD>(screen.dwSize.Y - screen.dwCursorPosition.Y) * screen.dwSize.X -
        screen.dwCursorPosition.X;
    FillConsoleOutputCharacterW(live_, L' ', below, screen.dwCursorPosition, &written);
  }
}

void Win32Console::EndLive() {
  if (live_ == nullptr) return;
  SetConsoleActiveScreenBuffer(out_);
  CloseHandle(live_);
  live_ = nullptr;
}

// A console opened for this program alone lists this process only; one it
// shares with a command prompt lists both. Output to a file or pipe is read
// elsewhere.
bool Win32Console::OwnConsole() {
  if (!outIsConsole_) return false;
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

// One line, or the end of the input, or Ctrl-C: whichever comes first.
void Win32Console::WaitForEnter() {
  if (inIsConsole_) FlushConsoleInputBuffer(in_);
  char line[256];
  DWORD read = 0;
  ReadFile(in_, line, sizeof line, &read, nullptr);
}
