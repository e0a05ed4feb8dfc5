#include "platform/trace.h"

#include <cstdio>

#include "platform/platform.h"

void Trace(const char* line) { plat::TraceLine(line); }

void TraceLastError(const char* label) {
  const uint32_t code = plat::GetLastError();
  // Nobody listens in the shipped module: skip the system message lookup that
  // would otherwise run several times per tick.
  if (!plat::TraceEnabled()) return;
  char* text = plat::FormatSystemMessage(code);
  char line[1024];
  std::snprintf(line, sizeof line, "%s%s", label, text != nullptr ? text : "");
  Trace(line);
  if (text != nullptr) plat::FreeSystemMessage(text);
  plat::SetLastError(code);
}
