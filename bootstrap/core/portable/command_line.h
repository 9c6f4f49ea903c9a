// Forming child command lines that the child splits back into exactly the
// arguments meant: the rules of the platform's argument splitting (as
// CommandLineToArgvW and the C run-time apply them).
#pragma once

#include <stdint.h>

namespace tovik {

// True when `argument` must be put in double quotes to arrive as one
// argument: it is empty or holds a space, a tab, a line break, a vertical
// tab or a double quote.
bool ArgumentNeedsQuotes(const wchar_t* argument);

// Characters (no terminator) that `argument` takes once quoted as
// AppendArgument writes it.
uint32_t QuotedArgumentLength(const wchar_t* argument, bool alwaysQuote = false);

// Appends `argument` to the terminated `line` of `capacity` characters
// (terminator included): unchanged when it needs no quotes and
// `alwaysQuote` is false, otherwise in double quotes with every double
// quote escaped and the backslashes before a double quote or the closing
// quote doubled. When it does not fit whole, appends nothing and answers
// false.
bool AppendArgument(wchar_t* line, uint32_t capacity, const wchar_t* argument, bool alwaysQuote = false);

// Appends `text` as it stands, or nothing and false when it does not fit.
bool AppendText(wchar_t* line, uint32_t capacity, const wchar_t* text);

// Appends `program` in double quotes, as the first argument is split: up to
// the next double quote, without escapes (a program path holds no double
// quote). False, with nothing appended, when it does not fit or holds a
// double quote.
bool AppendProgram(wchar_t* line, uint32_t capacity, const wchar_t* program);

}  // namespace tovik
