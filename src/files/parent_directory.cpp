#include "src/files/parent_directory.h"

#include "src/text/wide_text.h"

bool GetParentDirectory(const WCHAR* path, WCHAR* output) {
  if (path == nullptr || output == nullptr) {
    return false;
  }
  std::size_t cch = TextLength(path);
  while (cch > 0 && path[cch - 1] != static_cast<WCHAR>('\\')) {
    --cch;
  }
  // No backslash at all: there is no directory part.
  if (cch == 0) {
    output[0] = 0;
    return false;
  }
  const std::size_t cch_parent = cch - 1;
  if (cch_parent >= MAX_PATH) {
    output[0] = 0;
    return false;
  }
  for (std::size_t i = 0; i < cch_parent; ++i) {
    output[i] = path[i];
  }
  output[cch_parent] = 0;
  return true;
}
