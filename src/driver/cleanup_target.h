// What a run knows of the product it removes.
#pragma once

#include "src/platform/win32.h"

// A braced GUID: 38 characters and the terminator.
constexpr int kCchGuidText = 39;

struct CleanupTarget {
  WCHAR product_code[kCchGuidText];
  WCHAR upgrade_code[kCchGuidText];
  // Without a trailing backslash; empty when the product has no installed
  // directory.
  WCHAR product_directory[MAX_PATH];
};
