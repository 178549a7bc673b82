// One simulated Windows machine: everything the platform functions act on.
// Tests build a fresh machine per case and select it; the platform functions
// always act on the selected one.
#pragma once

#include <cstdint>

#include "sim/accounts/accounts.h"
#include "sim/core/faults.h"
#include "sim/core/handles.h"
#include "sim/core/journal.h"
#include "sim/files/file_system.h"
#include "sim/installer/installer.h"
#include "sim/process/process.h"
#include "sim/registry/registry.h"
#include "sim/services/service_controller.h"

namespace sim {

class Machine {
 public:
  Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  Registry registry;
  FileSystem files;
  ServiceController services;
  Accounts accounts;
  Installer installer;
  Process process;
  std::uint64_t clock_ms = 0;  // virtual time; Sleep advances it
  Journal journal;
  Faults faults;
  HandleTable handles;
};

// The machine the platform functions act on. Aborts when none is selected.
Machine& CurrentMachine();
bool HasCurrentMachine();

// Selects a machine for the lifetime of this object, then restores the one
// selected before.
class ScopedMachine {
 public:
  explicit ScopedMachine(Machine& machine);
  ~ScopedMachine();
  ScopedMachine(const ScopedMachine&) = delete;
  ScopedMachine& operator=(const ScopedMachine&) = delete;

 private:
  Machine* previous_;
};

}  // namespace sim
