#include "tools/check/text.h"

#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

std::string Format(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length < 0) return {};
  if (static_cast<size_t>(length) < sizeof small) return std::string(small, length);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(&text[0], text.size(), format, args);
  va_end(args);
  text.resize(static_cast<size_t>(length));
  return text;
}

std::string WithoutLineBreak(const char* line) {
  std::string text(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string Printable(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

std::string ErrorText(uint32_t code) {
  char* text = plat::FormatSystemMessage(code);
  std::string out = Format("error %u", static_cast<unsigned>(code));
  if (text != nullptr) {
    out += ": " + Printable(WithoutLineBreak(text));
    plat::FreeSystemMessage(text);
  }
  return out;
}
