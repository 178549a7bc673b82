// The machine-image loader on arbitrary JSON text.
//
// Properties: LoadMachine either loads the image or throws sim::ImageError
// or one of nlohmann::json's exceptions, never anything else, and never
// trips a sanitizer; an image that loads is saved with SaveMachine, and the
// saved image, as text, loads again into a machine with the same inventory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "sim/image/machine_image.h"
#include "sim/machine.h"

namespace {

constexpr const char* kTarget = "machine_image";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  nlohmann::json image;
  try {
    image = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception&) {
    return 0;
  }

  sim::Machine machine;
  try {
    sim::LoadMachine(image, machine);
  } catch (const sim::ImageError&) {
    return 0;
  } catch (const nlohmann::json::exception&) {
    return 0;
  }

  // What loads must survive its own save and a second load.
  std::string saved;
  sim::Machine reloaded;
  try {
    saved = sim::SaveMachine(machine).dump(2);
    sim::LoadMachine(nlohmann::json::parse(saved), reloaded);
  } catch (const std::exception& error) {
    fuzzing::Fail(kTarget, std::string("the saved image does not load again: ") + error.what() + "\nsaved image:\n" +
                               saved.substr(0, 4000));
  }
  const sim::Inventory first = sim::TakeInventory(machine);
  const sim::Inventory second = sim::TakeInventory(reloaded);
  if (first != second) {
    const std::vector<std::string> changes = sim::DescribeChanges(first, second);
    fuzzing::Fail(kTarget, "the machine changed in a save and a load: " + changes.front() + " (" +
                               std::to_string(changes.size()) + " differences)");
  }
  return 0;
}
