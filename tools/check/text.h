// Text for the console: UTF-8 throughout.
#pragma once

#include <cstdint>
#include <string>

// printf into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The system's message texts end in a line break; the console gets lines.
std::string WithoutLineBreak(const char* line);

// Text from the system or the box may hold control characters, which would
// move the operator's cursor: they are shown as '?'. Bytes above 0x7F stay.
std::string Printable(const std::string& text);

// UTF-16 as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf8(const std::u16string& text);

// Text the system wrote in the ANSI code page (its messages, the driver's
// trace, paths from the ANSI functions) as UTF-8. Where the code page cannot
// be read, bytes beyond ASCII show as '?'.
std::string FromAnsi(const std::string& text);

// "error 1167: The device is not connected.", as far as the system knows the
// code; `error` is the word for it ("error %u").
std::string ErrorText(uint32_t code, const char* error);
