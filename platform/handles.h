// Helpers over the seam's handles.
#pragma once

#include "platform/platform.h"

// Closes a handle if it is open and marks it closed, so nothing is closed
// twice. Marked first: a tick abandoned inside the close must not leave the
// handle to be closed again by the teardown.
inline void CloseIfOpen(plat::Handle& handle) {
  if (handle == nullptr) return;
  const plat::Handle open = handle;
  handle = nullptr;
  plat::CloseHandle(open);
}
