// GetParentDirectory on an arbitrary path: the input's bytes are UTF-16LE
// code units, terminated. The output buffer holds MAX_PATH units, filled
// with a marker, followed by canary units.
//
// Properties: true exactly when the path has a backslash with fewer than
// MAX_PATH units before its last one, and then the output is the path's
// text before that backslash with a terminator; false leaves the output
// empty; nothing past MAX_PATH units is written, and within the buffer
// nothing past the terminator; the path is never changed; a null pointer
// gives false and leaves the output untouched.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "src/files/parent_directory.h"

namespace {

constexpr const char* kTarget = "parent_directory";
constexpr std::size_t kCchCanary = 8;
constexpr char16_t kFill = 0xA5C3;
constexpr char16_t kCanary = 0x5A3C;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<char16_t> input = fuzzing::UnitsFromUtf16(data, size);
  const std::vector<char16_t> input_before = input;
  const std::u16string_view path = fuzzing::TextOf(input.data());

  std::vector<char16_t> output(MAX_PATH + kCchCanary, kFill);
  for (std::size_t i = MAX_PATH; i < output.size(); ++i) {
    output[i] = kCanary;
  }
  const std::vector<char16_t> output_before = output;

  const bool found = GetParentDirectory(input.data(), output.data());

  if (input != input_before) {
    fuzzing::Fail(kTarget, "the path was changed");
  }
  for (std::size_t i = MAX_PATH; i < output.size(); ++i) {
    if (output[i] != kCanary) {
      fuzzing::Fail(kTarget, "canary unit " + std::to_string(i) + " past MAX_PATH was overwritten");
    }
  }
  const std::size_t last_backslash = path.rfind(u'\\');
  const bool expected = last_backslash != std::u16string_view::npos && last_backslash < MAX_PATH;
  if (found != expected) {
    fuzzing::Fail(kTarget, "result " + std::to_string(found) + " for a path of " + std::to_string(path.size()) +
                               " units: " + fuzzing::Printable(path));
  }
  std::size_t cch_written = 0;
  if (found) {
    const std::u16string_view parent = path.substr(0, last_backslash);
    if (std::u16string_view(output.data(), last_backslash) != parent || output[last_backslash] != 0) {
      fuzzing::Fail(kTarget, "the output is not the text before the last backslash of " + fuzzing::Printable(path));
    }
    cch_written = last_backslash + 1;
  } else {
    if (output[0] != 0) {
      fuzzing::Fail(kTarget, "false, yet the output is not empty, for " + fuzzing::Printable(path));
    }
    cch_written = 1;
  }
  for (std::size_t i = cch_written; i < MAX_PATH; ++i) {
    if (output[i] != output_before[i]) {
      fuzzing::Fail(kTarget,
                    "unit " + std::to_string(i) + " past the terminator was written, for " + fuzzing::Printable(path));
    }
  }

  // Missing pointers: false, and the output untouched.
  std::vector<char16_t> untouched = output_before;
  if (GetParentDirectory(nullptr, untouched.data()) || GetParentDirectory(input.data(), nullptr) ||
      untouched != output_before) {
    fuzzing::Fail(kTarget, "a null pointer gave true or changed the output");
  }
  return 0;
}
