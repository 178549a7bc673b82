// Bounded wide-text helpers. Each either does the whole job or reports
// failure and leaves its target untouched, so that no shortened path or code
// is ever used.
#pragma once

#include <cstddef>

#include "src/platform/win32.h"

// The number of code units before the terminator; 0 for a null text.
std::size_t TextLength(const WCHAR* text);

// True with the length in *cch when the text ends within its first
// cch_limit units; false otherwise. Reads nothing past cch_limit units.
bool TextLengthWithin(const WCHAR* text, std::size_t cch_limit, std::size_t* cch);

// Copies the whole source with its terminator into a target of cch_target
// units. False, target untouched, when a pointer is null or it would not fit.
bool TextCopy(WCHAR* target, std::size_t cch_target, const WCHAR* source);

// Appends the whole source to the text in the target. False, target
// untouched, when a pointer is null or the result would not fit.
bool TextAppend(WCHAR* target, std::size_t cch_target, const WCHAR* source);

// Exact, case-sensitive equality of two texts; false when either is null.
bool TextEquals(const WCHAR* a, const WCHAR* b);
