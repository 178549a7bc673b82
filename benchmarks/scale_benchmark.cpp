// The cleaner's operations on the simulated machine at 1,000, 10,000 and
// 100,000 items, laid out as the Wine comparison lays them out
// (benchmarks/wine/harness.cpp), so that the cost per item can be read
// against the size: a directory of files in nested folders, a key tree of
// groups of keys with one value each, and a whole run with two codes on a
// machine holding that many component keys, a few of them the product's.
// Every machine is built outside the timed region; per_item is the CPU time
// per item.
//
//   build/<dir>/vornalet_benchmarks --benchmark_filter=Scale
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "benchmarks/component_keys.h"
#include "benchmarks/measured.h"
#include "sim/machine.h"
#include "src/files/directory_tree.h"
#include "src/log/run_log.h"
#include "src/platform/win32.h"
#include "src/registry/key_tree.h"
#include "tests/unit/registry/registry_test_support.h"

namespace {

constexpr char16_t kTreeRoot[] = u"C:\\Program Files (x86)\\Morvathen\\Server";
constexpr char16_t kKeyTree[] = u"SOFTWARE\\Morvathen\\Bench";
constexpr char16_t kCodes[] = u"{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613} {C7D81E22-4A93-4B6F-9E05-1D2C3B4A5F60}";
constexpr int kFilesPerDirectory = 50;
constexpr int kDirectoriesPerGroup = 20;
constexpr int kKeysPerGroup = 100;

std::u16string Numbered(const char* format, long long number) {
  char text[40];
  std::snprintf(text, sizeof(text), format, number);
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

using registry_testing::SzData;

void SetPerItem(benchmark::State& state, int items) { measured::SetPerItem(state, "per_item", items); }

// count files: root\gGGG\dDDDD\fNNNNN.dat, as the Wine harness makes them.
void BuildTree(sim::Machine& machine, int count) {
  std::u16string folder;
  for (int file = 0; file < count; ++file) {
    const int directory = file / kFilesPerDirectory;
    if (file % kFilesPerDirectory == 0) {
      folder = std::u16string(kTreeRoot) + Numbered("\\g%03lld", directory / kDirectoriesPerGroup) +
               Numbered("\\d%04lld", directory);
      machine.files.MakeDirectory(folder);
    }
    machine.files.MakeFile(folder + Numbered("\\f%05lld.dat", file), "vornalet benchmark file\r\n");
  }
}

void BM_ScaleRemoveDirectoryTree(benchmark::State& state) {
  const int files = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto machine = std::make_unique<sim::Machine>();
    {
      sim::ScopedMachine scope(*machine);
      BuildTree(*machine, files);
      measured::GiveJournalRoom(*machine, 10 * files);
      OpenRunLog();
      measured::Measure(state, [] { RemoveDirectoryTree(kTreeRoot); });
      CloseRunLog();
      if (machine->files.Exists(kTreeRoot)) {
        state.SkipWithError("the directory was not removed");
      }
    }
    machine.reset();
    state.ResumeTiming();
  }
  SetPerItem(state, files);
}
BENCHMARK(BM_ScaleRemoveDirectoryTree)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// count keys in groups of kKeysPerGroup below HKLM\kKeyTree, each with one
// value, as the Wine harness imports them.
void BuildKeyTree(sim::Machine& machine, int count) {
  std::shared_ptr<sim::RegistryKey> top = machine.registry.Create(u"HKEY_LOCAL_MACHINE\\" + std::u16string(kKeyTree));
  const std::vector<std::uint8_t> path = SzData(u"C:\\Program Files\\Product\\file.dll");
  std::shared_ptr<sim::RegistryKey> group;
  for (int key = 0; key < count; ++key) {
    if (key % kKeysPerGroup == 0) {
      group = top->CreateSubkey(Numbered("group%03lld", key / kKeysPerGroup));
    }
    group->CreateSubkey(Numbered("key%05lld", key))->SetValue(sim::RegistryValue{u"Path", 1, path});
  }
}

void BM_ScaleDeleteKeyTree(benchmark::State& state) {
  const int keys = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto machine = std::make_unique<sim::Machine>();
    {
      sim::ScopedMachine scope(*machine);
      BuildKeyTree(*machine, keys);
      measured::GiveJournalRoom(*machine, 4 * keys);
      const bool gone = measured::Measure(state, [] { return DeleteKeyTree(HKEY_LOCAL_MACHINE, kKeyTree); });
      if (!gone) {
        state.SkipWithError("the tree was not deleted");
      }
    }
    machine.reset();
    state.ResumeTiming();
  }
  SetPerItem(state, keys);
}
BENCHMARK(BM_ScaleDeleteKeyTree)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The whole run, entry to exit code, with the two codes on the command line
// on a machine that holds count component keys and nothing else of the
// product: every step runs and finds its keys, services, account and
// directories absent.
void BM_ScaleWholeRun(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto machine = std::make_unique<sim::Machine>();
    {
      sim::ScopedMachine scope(*machine);
      component_keys::AddComponents(*machine, count);
      measured::GiveJournalRoom(*machine, 10 * count);
      machine->process.command_line = kCodes;
      const int exit_code = measured::Measure(
          state, [&machine] { return wWinMain(nullptr, nullptr, machine->process.command_line.data(), 0); });
      if (exit_code != 0) {
        state.SkipWithError("the run did not end with 0");
      }
    }
    machine.reset();
    state.ResumeTiming();
  }
  SetPerItem(state, count);
}
BENCHMARK(BM_ScaleWholeRun)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
