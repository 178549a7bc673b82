#include "sim/machine.h"

#include <cstdio>
#include <cstdlib>

namespace sim {

namespace {
Machine* g_current = nullptr;
}  // namespace

Machine::Machine() { files.AddDrive(u"C:"); }

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
