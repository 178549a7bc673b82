// The run log: "$vornalet.log" in the temporary directory, recreated on
// every run. One byte per code unit up to 0xFF, "?" for a unit above it, CR
// before every LF, each line handed to the file as soon as it ends. A log
// that fails (no file, a write refused) stays failed and drops every later
// write; nothing about it is reported to the callers.
#pragma once

#include "src/platform/win32.h"

// Creates or empties the log file. True when the file is open.
bool OpenRunLog();

// Writes the text, then a space and the argument when one is given (also
// an empty one), then the line end.
void LogText(const WCHAR* text, const WCHAR* argument);

// Writes the text, then a space and the code in unsigned decimal unless the
// code is 0, then the line end.
void LogCode(const WCHAR* text, DWORD code);

// Hands what is still buffered to the file and closes it.
void CloseRunLog();
