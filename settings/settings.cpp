// Settings file and first-use prompts.
#include "shell/fsk_keyer.h"

bool FskKeyer::LoadSettings() {
  plat::LockGuard guard(keyerLock);
  fskReverse = false;
  fskOnPin3 = false;
  return true;
}
