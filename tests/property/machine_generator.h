// Random simulated machines for whole runs of the cleaner: each holds some,
// all or none of the server product amid near misses (names one character,
// a suffix or a letter case away, other products' registrations beside and
// inside the same installer keys, components shared with the product,
// links out of the product's folders, settings that point at drive roots and
// system folders) and ends with a command line, from the installer or with
// codes in every shape a caller could type. The same seed always gives the
// same machine.
#pragma once

#include <cstdint>
#include <string>

#include "sim/machine.h"

namespace machine_generator {

struct GeneratedMachine {
  std::u16string command_line;
  std::string summary;  // the choices made, one word each, for messages and statistics
};

// Fills a fresh machine from the seed.
GeneratedMachine Generate(std::uint64_t seed, sim::Machine& machine);

}  // namespace machine_generator
