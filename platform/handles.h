// Helpers over the seam's handles.
#pragma once

#include "platform/platform.h"

// Closes a handle if it is open and marks it closed, so nothing is closed twice.
inline void CloseIfOpen(plat::Handle& handle) {
  if (handle == nullptr) return;
  plat::CloseHandle(handle);
  handle = nullptr;
}
