#include "src/text/wide_text.h"

std::size_t TextLength(const WCHAR* text) {
  std::size_t cch = 0;
  if (text != nullptr) {
    while (text[cch] != 0) {
      ++cch;
    }
  }
  return cch;
}

bool TextLengthWithin(const WCHAR* text, std::size_t cch_limit, std::size_t* cch) {
  if (text == nullptr || cch == nullptr) {
    return false;
  }
  for (std::size_t i = 0; i < cch_limit; ++i) {
    if (text[i] == 0) {
      *cch = i;
      return true;
    }
  }
  return false;
}

bool TextCopy(WCHAR* target, std::size_t cch_target, const WCHAR* source) {
  if (target == nullptr || source == nullptr) {
    return false;
  }
  const std::size_t cch_source = TextLength(source);
  if (cch_source >= cch_target) {
    return false;
  }
  for (std::size_t i = 0; i <= cch_source; ++i) {
    target[i] = source[i];
  }
  return true;
}

bool TextAppend(WCHAR* target, std::size_t cch_target, const WCHAR* source) {
  if (target == nullptr || source == nullptr) {
    return false;
  }
  std::size_t cch_target_text = 0;
  if (!TextLengthWithin(target, cch_target, &cch_target_text)) {
    return false;
  }
  const std::size_t cch_source = TextLength(source);
  if (cch_source >= cch_target - cch_target_text) {
    return false;
  }
  for (std::size_t i = 0; i <= cch_source; ++i) {
    target[cch_target_text + i] = source[i];
  }
  return true;
}

bool TextEquals(const WCHAR* a, const WCHAR* b) {
  if (a == nullptr || b == nullptr) {
    return false;
  }
  std::size_t i = 0;
  while (a[i] != 0 && a[i] == b[i]) {
    ++i;
  }
  return a[i] == b[i];
}
