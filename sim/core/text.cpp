#include "sim/core/text.h"

#include <algorithm>
#include <cstdint>

namespace sim {

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<unsigned char>(text[i]);
    std::uint32_t cp = 0xFFFD;
    std::size_t length = 1;
    if (byte < 0x80) {
      cp = byte;
    } else if ((byte >> 5) == 0x6) {
      length = 2;
    } else if ((byte >> 4) == 0xE) {
      length = 3;
    } else if ((byte >> 3) == 0x1E) {
      length = 4;
    }
    if (length > 1) {
      if (i + length > text.size()) {
        length = 1;
      } else {
        cp = byte & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
          cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += length;
  }
  return out;
}

char16_t FoldUnit(char16_t unit) {
  if (unit >= u'a' && unit <= u'z') {
    return static_cast<char16_t>(unit - 0x20);
  }
  if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) {
    return static_cast<char16_t>(unit - 0x20);
  }
  return unit;
}

std::u16string Fold(std::u16string_view text) {
  std::u16string out(text);
  std::transform(out.begin(), out.end(), out.begin(), FoldUnit);
  return out;
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldUnit(a[i]) != FoldUnit(b[i])) {
      return false;
    }
  }
  return true;
}

bool CaseInsensitiveLess::operator()(std::u16string_view a, std::u16string_view b) const {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = FoldUnit(a[i]);
    const char16_t y = FoldUnit(b[i]);
    if (x != y) {
      return x < y;
    }
  }
  return a.size() < b.size();
}

std::size_t CaseInsensitiveHash::operator()(std::u16string_view text) const {
  // FNV-1a over the folded units.
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  for (char16_t unit : text) {
    hash = (hash ^ FoldUnit(unit)) * 0x100000001B3ULL;
  }
  return static_cast<std::size_t>(hash);
}

std::u16string_view NextPathPart(std::u16string_view& rest) {
  while (!rest.empty() && rest.front() == u'\\') {
    rest.remove_prefix(1);
  }
  const std::size_t end = rest.find(u'\\');
  std::u16string_view part = rest.substr(0, end);
  rest.remove_prefix(end == std::u16string_view::npos ? rest.size() : end);
  return part;
}

}  // namespace sim
