// Text for the console.
#pragma once

#include <cstdint>
#include <string>

// printf into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The system's message texts end in a line break; the console gets lines.
std::string WithoutLineBreak(const char* line);

// Text from the system or the box may hold control characters, which would
// move the operator's cursor: they are shown as '?'. Bytes above 0x7F stay,
// since the system writes its messages in the console's code page.
std::string Printable(const std::string& text);

// "error 1167: The device is not connected.", as far as the system knows the code.
std::string ErrorText(uint32_t code);
