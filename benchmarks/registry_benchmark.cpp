// The cleaner's registry work on the simulated machine, per key: the
// component scan over many component keys, and the deletion of a wide and
// of a deep key tree. Each machine is built outside the timed region;
// per_key is the CPU time per key.
//
//   build/<dir>/vornalet_benchmarks --benchmark_filter=Registry
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>

#include "benchmarks/component_keys.h"
#include "benchmarks/measured.h"
#include "sim/machine.h"
#include "src/installer/component_scan.h"
#include "src/registry/key_tree.h"

namespace {

using component_keys::AddComponents;
using component_keys::kOwnComponents;
using component_keys::PackedName;
using testing_support::kProductCode;

void BM_RegistryCollectProductComponents(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  sim::Machine machine;
  sim::ScopedMachine scope(machine);
  AddComponents(machine, count);
  auto list = std::make_unique<ComponentKeyList>();
  // One scan before timing: the first scan of a machine also pays for the
  // fresh memory of its journal (a record per call, about 1.4 KB per
  // component key), which BM_RegistryBuildAndScanComponents shows.
  CollectProductComponents(list.get(), kProductCode);
  machine.journal.Clear();
  for (auto _ : state) {
    state.PauseTiming();
    const bool found = measured::Measure(state, [&list] { return CollectProductComponents(list.get(), kProductCode); });
    if (!found || list->count != kOwnComponents) {
      state.SkipWithError("wrong number of components collected");
    }
    machine.journal.Clear();
    state.ResumeTiming();
  }
  measured::SetPerItem(state, "per_key", count);
}
BENCHMARK(BM_RegistryCollectProductComponents)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Building the 100,000-key machine and scanning it, together: the
// simulated machine is meant to do both in well under a second.
void BM_RegistryBuildAndScanComponents(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    sim::Machine machine;
    sim::ScopedMachine scope(machine);
    AddComponents(machine, count);
    auto list = std::make_unique<ComponentKeyList>();
    benchmark::DoNotOptimize(CollectProductComponents(list.get(), kProductCode));
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_RegistryBuildAndScanComponents)->Arg(100000)->Unit(benchmark::kMillisecond);

// One key with width subkeys, each without subkeys of its own.
void BM_RegistryDeleteKeyTreeWide(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto machine = std::make_unique<sim::Machine>();
    {
      sim::ScopedMachine scope(*machine);
      std::shared_ptr<sim::RegistryKey> wide = machine->registry.Create(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wide");
      for (int i = 0; i < width; ++i) {
        wide->CreateSubkey(PackedName(static_cast<std::uint64_t>(i)));
      }
      measured::GiveJournalRoom(*machine, 6 * width);
      const bool gone = measured::Measure(state, [] { return DeleteKeyTree(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Wide"); });
      if (!gone || machine->registry.Find(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Wide")) {
        state.SkipWithError("the tree was not deleted");
      }
    }
    machine.reset();
    state.ResumeTiming();
  }
  measured::SetPerItem(state, "per_key", width + 1);
}
BENCHMARK(BM_RegistryDeleteKeyTreeWide)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// A chain of depth keys, each the only subkey of the one above. Every call
// names its key by the full path from the root, which grows by one name
// per level, so the work per key grows with the depth on any registry.
void BM_RegistryDeleteKeyTreeDeep(benchmark::State& state) {
  const int depth = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto machine = std::make_unique<sim::Machine>();
    {
      sim::ScopedMachine scope(*machine);
      std::shared_ptr<sim::RegistryKey> key = machine->registry.Create(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Deep");
      for (int level = 1; level < depth; ++level) {
        key = key->CreateSubkey(u"k");
      }
      const bool gone = measured::Measure(state, [] { return DeleteKeyTree(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Deep"); });
      if (!gone || machine->registry.Find(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Deep")) {
        state.SkipWithError("the tree was not deleted");
      }
    }
    machine.reset();
    state.ResumeTiming();
  }
  measured::SetPerItem(state, "per_key", depth);
}
BENCHMARK(BM_RegistryDeleteKeyTreeDeep)->Arg(25)->Arg(50)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace
