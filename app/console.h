// The player's own small formatted output: a subset of the usual formatted
// print, writing character by character to standard output (target null) or
// into a caller's character buffer (target: the address of a char pointer
// that advances as characters are stored).
//
// Conversions: %s (null prints "(null)"), %d, %u, %x, %X, %c and %%, with an
// optional '-' (left-justify), any number of '0's (zero-pad) and a decimal
// width. Each conversion takes one 32-bit argument (a pointer for %s); an
// unknown conversion character is skipped and takes none.
#pragma once

#include <cstdarg>
#include <cstdint>

constexpr uint32_t kConLeftJustify = 1;  // the '-' flag
constexpr uint32_t kConZeroPad = 2;      // the '0' flag

// Returns the characters written; a buffer target also gets a terminating
// zero that is not counted.
int32_t con_format(char** target, const char* format, va_list arguments);
int32_t con_printf(const char* format, ...);
// con_format into buffer (which must be large enough).
int32_t con_sprintf(char* buffer, const char* format, ...);
int32_t con_pad_string(char** target, const char* text, int32_t width, uint32_t flags);
// base is 10 or 16; letter is the digit after 9 ('a' or 'A').
int32_t con_format_number(char** target, uint32_t value, uint32_t base, bool is_signed, int32_t width, uint32_t flags,
                          char letter);
void con_putc(char** target, char c);
