#include "src/installer/packed_guid.h"

#include "src/text/wide_text.h"

namespace {

// A braced GUID text: "{", 8 digits, "-", 4, "-", 4, "-", 4, "-", 12, "}".
constexpr std::size_t kCchGuidTextCharacters = 38;

// The braced text's positions, in the order the packed form takes them.
constexpr int kPackedOrder[kCchPackedGuid - 1] = {8,  7,  6,  5,  4,  3,  2,  1,  13, 12, 11, 10, 18, 17, 16, 15,
                                                  21, 20, 23, 22, 26, 25, 28, 27, 30, 29, 32, 31, 34, 33, 36, 35};

}  // namespace

bool PackGuid(const WCHAR* guid_text, WCHAR* packed) {
  std::size_t cch_guid_text = 0;
  if (guid_text == nullptr || packed == nullptr ||
      !TextLengthWithin(guid_text, kCchGuidTextCharacters + 1, &cch_guid_text) ||
      cch_guid_text != kCchGuidTextCharacters) {
    return false;
  }
  for (int i = 0; i < kCchPackedGuid - 1; ++i) {
    packed[i] = guid_text[kPackedOrder[i]];
  }
  packed[kCchPackedGuid - 1] = 0;
  return true;
}
