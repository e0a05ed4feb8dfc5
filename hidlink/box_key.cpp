#include "hidlink/box_key.h"

#include <cstdio>

uint64_t BoxKey(const char* devicePath) {
  uint64_t hash = 0xCBF29CE484222325ULL;
  for (const char* c = devicePath; c != nullptr && *c != '\0'; ++c) {
    const unsigned char folded = *c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c;
    hash = (hash ^ folded) * 0x100000001B3ULL;
  }
  return hash != 0 ? hash : 1;
}

void BoxKeyText(uint64_t key, char (&text)[kBoxKeyTextBytes]) {
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(key));
}

void ClaimName(uint64_t key, char (&name)[kClaimNameBytes]) {
  char text[kBoxKeyTextBytes];
  BoxKeyText(key, text);
  std::snprintf(name, sizeof name, "Global\\tarvokey-box-%s", text);
}
