#include "mmtty.h"

#include <windows.h>

#include "check.h"
#include "sim_box.h"

namespace {

struct Worker {
  Plugin* plugin;
  const std::vector<uint8_t>* codes;
  Transmission* transmission;
};

DWORD WINAPI SendCodes(void* context) {
  auto* work = static_cast<Worker*>(context);
  for (uint8_t code : *work->codes) {
    while (work->plugin->IsTxBusy() == 1) Sleep(1);
    work->transmission->putMs.push_back(box::NowMs());
    work->plugin->PutChar(code);
    Sleep(10);
  }
  while (work->plugin->IsTxBusy() == 1) Sleep(1);
  return 0;
}

}  // namespace

Transmission TransmitLikeMmtty(Plugin& plugin, const std::vector<uint8_t>& codes, unsigned leadMs) {
  Transmission transmission;
  transmission.pttOnMs = box::NowMs();
  transmission.pttOnResult = plugin.SetPtt(1);
  Sleep(leadMs);

  Worker work{&plugin, &codes, &transmission};
  HANDLE thread = CreateThread(nullptr, 0, &SendCodes, &work, 0, nullptr);
  REQUIRE(thread != nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);

  Sleep(165 + 200);
  transmission.pttOffMs = box::NowMs();
  transmission.pttOffResult = plugin.SetPtt(0);
  return transmission;
}
