// Text helpers of the simulated machine: UTF-16 as the platform speaks it,
// UTF-8 for images and reports, and the registry's and file system's
// case-insensitive comparison.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sim {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// Upper-cases the letters of Basic Latin and Latin-1, the way names are
// compared by the registry and the file system here; other units are kept.
char16_t FoldUnit(char16_t unit);
std::u16string Fold(std::u16string_view text);
bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b);

struct CaseInsensitiveLess {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const;
};

// Hashing and equality that agree with EqualsIgnoringCase, for hash maps by
// name; neither makes a folded copy.
struct CaseInsensitiveHash {
  std::size_t operator()(std::u16string_view text) const;
};
struct CaseInsensitiveEqual {
  bool operator()(std::u16string_view a, std::u16string_view b) const { return EqualsIgnoringCase(a, b); }
};

// Splits on backslashes, dropping empty parts ("A\\\\B\\" gives A, B).
std::u16string_view NextPathPart(std::u16string_view& rest);

}  // namespace sim
