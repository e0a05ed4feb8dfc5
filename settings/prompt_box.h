// A question in Japanese that an operator can read on any Windows.
#pragma once

#include <cstdint>

// Shows text and caption (Shift_JIS) in a message box with no owner. Where the
// system reads ANSI text in code page 932 that is the ANSI box with exactly
// these bytes. Elsewhere the ANSI box would show them as mojibake, so both are
// converted from code page 932 and shown as UTF-16, with english (ASCII) under
// the Japanese text. Returns the box's result.
int ShowJapaneseBox(const char* text, const char* english, const char* caption, uint32_t style);
