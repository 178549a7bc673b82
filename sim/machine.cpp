#include "sim/machine.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
Machine* g_current = nullptr;
}  // namespace

// A machine starts as a bare Windows installation: drive C with the
// system's folders and the user's temporary directory.
Machine::Machine() {
  files.MakeDirectory(process.windows_directory);
  files.MakeDirectory(process.temp_path);
}

Machine& CurrentMachine() {
  if (g_current == nullptr) {
    std::fputs("simulated platform called with no machine selected\n", stderr);
    std::abort();
  }
  return *g_current;
}

bool HasCurrentMachine() { return g_current != nullptr; }

ScopedMachine::ScopedMachine(Machine& machine) : previous_(g_current) { g_current = &machine; }

ScopedMachine::~ScopedMachine() { g_current = previous_; }

}  // namespace sim
