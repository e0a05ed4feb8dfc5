// Text for the console: UTF-8 throughout.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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

// Whether the operator's answer is yes: y or yes in any case, typed
// half-width or, with the Japanese IME on, full-width (ｙｅｓ); spaces around
// it aside.
bool AnswersYes(std::string_view answer);

// The code point of the UTF-8 character at `at`, and its length in bytes. A
// byte that starts no well-formed character is taken alone, as U+FFFD, and
// wellFormed (when asked) is false.
uint32_t CodePointAt(std::string_view text, size_t at, size_t* length, bool* wellFormed = nullptr);

// The columns a console gives the code point: two for kana, kanji and the
// full-width forms, and for every character a Japanese console draws from its
// double-byte font (arrows, dashes, Greek); one for the rest.
int DisplayWidth(uint32_t codePoint);
// The columns of a UTF-8 text; a byte that starts no character counts one.
int DisplayWidth(std::string_view text);

// Whether a line of Japanese may break between two characters that have no
// space between them: not inside a word of Latin letters or digits, nor
// against the rules of line breaking (no 「 at a line's end, no 、 or small
// kana at its start), nor between a Latin word and its particle; at a phrase
// boundary (after punctuation, or after a particle where the next word
// begins), or between any other two.
enum class LineBreak { None, Allowed, Phrase };
LineBreak BreakBetween(uint32_t before, uint32_t after);

// The columns of the narrowest console (80), less the last: a line that
// fills the last column makes the console wrap on its own, and its line break
// then leaves an empty line. Paragraphs broken by hand fit it.
constexpr int kConsoleColumns = 79;

// Each line wider than `columns` broken where a reader expects it: at a
// space, after Japanese punctuation or a particle, else between two Japanese
// characters the rules of line breaking let part; never inside a word, nor
// between a number and the word before or after it, nor before an option. A
// word wider than a row (a device path) gets a row of its own, whole. What
// follows a break is indented under the line's own text.
std::string FitLines(std::string_view text, int columns = kConsoleColumns);

// The same for a text whose paragraphs are broken by hand (a text of the
// tables, tools/check/texts.h): a paragraph wider than `columns` is broken
// anew as a whole, not each of its lines again. A paragraph is the lines that
// go on at the first one's indent, at two more (a hanging indent, unless the
// first line ends a sentence), or at its second column (a table of options).
std::string FitParagraphs(std::string_view text, int columns);
