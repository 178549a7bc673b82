// PackGuid on arbitrary text: the input's bytes are UTF-16LE code units,
// terminated. The packed form goes into a buffer of exactly its size,
// followed by canary units.
//
// Properties: true only for a text of exactly 38 units, and then the 33
// units written are the digits of the braced layout rearranged (groups 1 to
// 3 reversed, groups 4 and 5 swapped pair by pair) and a terminator; false
// leaves the buffer as it was; the canaries are never touched; the input is
// never changed; a null input or output gives false.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "src/installer/packed_guid.h"

namespace {

constexpr const char* kTarget = "pack_guid";
constexpr std::size_t kCchCanary = 8;
constexpr char16_t kFill = 0xA5C3;
constexpr char16_t kCanary = 0x5A3C;

// The five digit groups of the braced layout: first position, length, and
// whether the group is reversed whole or swapped pair by pair.
struct Group {
  std::size_t first;
  std::size_t length;
  bool reversed;
};
constexpr Group kGroups[] = {{1, 8, true}, {10, 4, true}, {15, 4, true}, {20, 4, false}, {25, 12, false}};

std::u16string ExpectedPacked(std::u16string_view guid) {
  std::u16string packed;
  for (const Group& group : kGroups) {
    std::u16string digits(guid.substr(group.first, group.length));
    if (group.reversed) {
      packed.append(digits.rbegin(), digits.rend());
    } else {
      for (std::size_t i = 0; i < digits.size(); i += 2) {
        packed += digits[i + 1];
        packed += digits[i];
      }
    }
  }
  return packed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<char16_t> input = fuzzing::UnitsFromUtf16(data, size);
  const std::vector<char16_t> input_before = input;
  const std::u16string_view text = fuzzing::TextOf(input.data());

  std::vector<char16_t> output(kCchPackedGuid + kCchCanary, kFill);
  for (std::size_t i = kCchPackedGuid; i < output.size(); ++i) {
    output[i] = kCanary;
  }
  const std::vector<char16_t> output_before = output;

  const bool packed = PackGuid(input.data(), output.data());

  if (input != input_before) {
    fuzzing::Fail(kTarget, "the input text was changed");
  }
  for (std::size_t i = kCchPackedGuid; i < output.size(); ++i) {
    if (output[i] != kCanary) {
      fuzzing::Fail(kTarget, "canary unit " + std::to_string(i) + " past the 33-unit buffer was overwritten");
    }
  }
  if (packed != (text.size() == 38)) {
    fuzzing::Fail(kTarget, "result " + std::to_string(packed) + " for a text of " + std::to_string(text.size()) +
                               " units: " + fuzzing::Printable(text));
  }
  if (packed) {
    const std::u16string expected = ExpectedPacked(text);
    const std::u16string_view written(output.data(), kCchPackedGuid - 1);
    if (written != expected || output[kCchPackedGuid - 1] != 0) {
      fuzzing::Fail(kTarget, "packed " + fuzzing::Printable(text) + " into " +
                                 fuzzing::Printable(std::u16string_view(output.data(), kCchPackedGuid)) +
                                 ", expected " + fuzzing::Printable(expected) + " and a terminator");
    }
  } else if (output != output_before) {
    fuzzing::Fail(kTarget, "false, yet the output buffer was written, for " + fuzzing::Printable(text));
  }

  // Missing buffers: false, nothing written.
  if (PackGuid(nullptr, output.data()) || PackGuid(input.data(), nullptr)) {
    fuzzing::Fail(kTarget, "true for a null pointer");
  }
  return 0;
}
