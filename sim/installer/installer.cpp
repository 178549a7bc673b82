#include "sim/installer/installer.h"

namespace sim {

namespace {

// Positions of the braced text's digits in the packed form's order.
constexpr int kPackOrder[32] = {8,  7,  6,  5,  4,  3,  2,  1,  13, 12, 11, 10, 18, 17, 16, 15,
                                21, 20, 23, 22, 26, 25, 28, 27, 30, 29, 32, 31, 34, 33, 36, 35};

bool IsHex(char16_t unit) {
  return (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'f') || (unit >= u'A' && unit <= u'F');
}

char16_t Upper(char16_t unit) { return unit >= u'a' && unit <= u'f' ? static_cast<char16_t>(unit - 0x20) : unit; }

}  // namespace

std::u16string PackedCode(std::u16string_view braced) {
  if (braced.size() != 38 || braced[0] != u'{' || braced[37] != u'}' || braced[9] != u'-' || braced[14] != u'-' ||
      braced[19] != u'-' || braced[24] != u'-') {
    return {};
  }
  std::u16string packed;
  for (int position : kPackOrder) {
    if (!IsHex(braced[position])) {
      return {};
    }
    packed += Upper(braced[position]);
  }
  return packed;
}

std::u16string UnpackedCode(std::u16string_view packed) {
  if (packed.size() != 32) {
    return {};
  }
  std::u16string braced = u"{00000000-0000-0000-0000-000000000000}";
  for (int i = 0; i < 32; ++i) {
    if (!IsHex(packed[i])) {
      return {};
    }
    braced[kPackOrder[i]] = Upper(packed[i]);
  }
  return braced;
}

}  // namespace sim
