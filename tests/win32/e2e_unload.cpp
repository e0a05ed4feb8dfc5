// The host lets go of the module: FreeLibrary without extfskClose at the worst
// moments a tick can be in, and extfskClose then FreeLibrary as MMTTY does it.
// After each, the same check: FreeLibrary returned within its bound, no tick
// of the module ran afterwards, the lines were released wherever the box
// could be written, and the host is alive a second later.
#include "host/scenario.h"

namespace {

constexpr double kReturnSlackMs = 1000;  // Wine's own unload work, a busy machine

struct Unloaded {
  double returnedAt;  // box time
  double tookMs;
};

Unloaded UnloadWithin(Plugin& plugin, double boundMs) {
  const double took = plugin.UnloadTimed(static_cast<DWORD>(boundMs + 10000));
  REQUIRE(took >= 0);  // FreeLibrary hung
  CHECK(took <= boundMs + kReturnSlackMs);
  return {box::NowMs(), took};
}

bool IsRelease(const box::Event& e) { return e.bytes == ReportBytes(0x0F); }

// extfskOpen on another host thread.
struct Opening {
  Plugin* plugin;
  int32_t result = -1;
};

DWORD WINAPI OpenOnItsThread(void* arg) {
  auto* opening = static_cast<Opening*>(arg);
  opening->result = opening->plugin->Open();
  return 0;
}

// settleMs: how long a call the unload gave up on may still take to return.
void CheckAfterUnload(const Unloaded& unloaded, bool boxOpen, double settleMs = 0,
                      bool moduleGone = true) {
  Sleep(static_cast<DWORD>(settleMs) + 1000);
  // The host lives on; a tick in unmapped code would have ended it.
  const std::vector<box::Event> events = box::Events();
  int releases = 0;
  for (const box::Event& e : events) {
    if (e.startMs < unloaded.returnedAt) continue;
    // No tick after the unload: no discovery, no report but the release that
    // a tick sent back to winmm writes on its way.
    CHECK(e.kind != box::EventKind::Enumerate && e.kind != box::EventKind::Open);
    if (e.kind == box::EventKind::Write) {
      CHECK(IsRelease(e));
      ++releases;
    }
  }
  CHECK(releases <= 1);
  if (boxOpen) {
    const std::vector<box::Event> reports = box::Reports();
    REQUIRE(!reports.empty());
    CHECK(reports.back().ok && IsRelease(reports.back()));
  }
  CHECK_EQ(GetModuleHandleA("tarvokey.fsk") == nullptr, moduleGone);
  // What a tick may still be waiting in stays, though this host uses none of it.
  for (const char* dll : {"hid.dll", "setupapi.dll", "winmm.dll"}) {
    CHECK(GetModuleHandleA(dll) != nullptr);
  }
  const size_t seen = box::Events().size();
  Sleep(300);
  CHECK_EQ(box::Events().size(), seen);
}

}  // namespace

// With the box open and a character on its way: the lines are released by
// the unload itself.
SCENARIO(unload_without_close) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  OpenKeyed(plugin, 0);
  plugin.PutChar(0x13);
  const DWORD timerThread = NextReports(4).back().threadId;
  CheckAfterUnload(UnloadWithin(plugin, 250), true);
  CHECK(box::Reports().back().threadId != timerThread);  // by the unload itself
}

// No box, so every tick looks for it; one discovery waits for the loader lock
// that FreeLibrary holds. It is given up on after kUnloadWaitMs and returns to
// winmm past the unmapped module when the lock comes free, closing its set.
SCENARIO(unload_during_a_discovery_that_takes_the_loader_lock) {
  WriteDefaultSettings();
  Plugin plugin(env.plugin);
  CHECK_EQ(plugin.Open(), 1);
  box::HoldNextEnumeration(100);
  REQUIRE(box::WaitForHeldEnumeration(2000));
  CheckAfterUnload(UnloadWithin(plugin, 250), false);
}

// A box that stalls a write for 800 ms is waited out, and the lines released
// by the unload as usual.
SCENARIO(unload_during_a_stalled_write) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  OpenKeyed(plugin);
  const DWORD timerThread = box::Reports().back().threadId;
  box::StallNextWrites(1, 800);
  REQUIRE(box::WaitForStalledWrite(2000));
  const Unloaded unloaded = UnloadWithin(plugin, 2000);
  CHECK(unloaded.tookMs >= 600);  // waited for the write, not given up on
  CheckAfterUnload(unloaded, true);
  CHECK(box::Reports().back().threadId != timerThread);  // by the unload itself
}

// A write that outlasts the bound: the unload gives up on it, and the tick,
// once its write returns, releases the lines on its way back to winmm.
SCENARIO(unload_during_a_write_longer_than_the_bound) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  OpenKeyed(plugin);
  const DWORD timerThread = box::Reports().back().threadId;
  box::StallNextWrites(1, 3000);
  REQUIRE(box::WaitForStalledWrite(2000));
  CheckAfterUnload(UnloadWithin(plugin, 2000), true, 1500);
  CHECK_EQ(box::Reports().back().threadId, timerThread);  // by the tick on its way back to winmm
}

// Another host thread is inside extfskOpen with a prompt up. Its clock is
// stopped and its lines released at once; the thread comes back into the
// module when the prompt closes, so the module stays mapped for it (Wine lets
// a module pin itself during its unload).
SCENARIO(unload_while_another_thread_holds_a_prompt) {
  RemoveFile("tarvokey.ini");  // so that the open asks
  box::Plug(box::Device{});
  Plugin plugin(env.plugin);
  box::AnswerPrompts({IDNO, IDNO});
  box::SetPromptDelay(1000);
  Opening opening{&plugin};
  HANDLE opener = CreateThread(nullptr, 0, OpenOnItsThread, &opening, 0, nullptr);
  REQUIRE(opener != nullptr);
  REQUIRE(box::WaitForPrompt(2000));
  NextReports(2);  // the clock runs while the prompt is up

  const Unloaded unloaded = UnloadWithin(plugin, 250);
  CHECK(WaitForSingleObject(opener, 5000) == WAIT_OBJECT_0);
  CloseHandle(opener);
  CHECK_EQ(opening.result, 1);
  CheckAfterUnload(unloaded, true, 0, false);
}

// What MMTTY does at the end of a session, again and again, closing at every
// point of a tick: no tick may outlive FreeLibrary by a single instruction.
SCENARIO(close_then_unload_200_times) {
  WriteDefaultSettings();
  box::Plug(box::Device{});
  Unloaded last{};
  for (int round = 0; round < 200; ++round) {
    Plugin plugin(env.plugin);
    CHECK_EQ(plugin.Open(), 1);
    plugin.SetPtt(round % 2);
    Sleep(static_cast<DWORD>(round % 25));
    plugin.Close();
    REQUIRE(IsRelease(box::Reports().back()));
    last = UnloadWithin(plugin, 250);
    REQUIRE(GetModuleHandleA("tarvokey.fsk") == nullptr);
  }
  CheckAfterUnload(last, true);
}
