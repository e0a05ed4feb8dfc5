// The exports: thin functions over the one instance in activeKeyer.
#include "shell/exports.h"

#include "shell/fsk_keyer.h"
#include "shell/lifecycle.h"

extern "C" int32_t FSK_API extfskOpen(int32_t /*hostParameter*/) noexcept { return OpenKeyer(); }

extern "C" void FSK_API extfskClose() noexcept { CloseKeyer(); }

extern "C" int32_t FSK_API extfskIsTxBusy() noexcept {
  KeyerGuard guard;
  if (activeKeyer == nullptr) return 0;
  activeKeyer->ArmKeying();
  return activeKeyer->pendingChar != -1 ? 1 : 0;
}

extern "C" int32_t FSK_API extfskPutChar(int32_t character) noexcept {
  KeyerGuard guard;
  if (activeKeyer == nullptr) return 0;
  activeKeyer->pendingChar = character & 0xFF;
  return activeKeyer->pendingChar;
}

extern "C" int32_t FSK_API extfskSetPTT(int32_t transmit) noexcept {
  KeyerGuard guard;
  if (activeKeyer == nullptr) return 0;
  return activeKeyer->SetPtt(transmit != 0);
}
