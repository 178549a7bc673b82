// The cleaner's directory walk on the simulated machine, per entry: an
// installation directory of many files in a tree of some depth, removed
// with its log. Each machine is built outside the timed region; the cost
// per entry stays the same from 10,000 to 100,000 files.
//
//   build/<dir>/vornalet_benchmarks --benchmark_filter=Files
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "benchmarks/measured.h"
#include "sim/machine.h"
#include "src/files/directory_tree.h"
#include "src/log/run_log.h"

namespace {

constexpr char16_t kProductDirectory[] = u"C:\\Program Files (x86)\\Morvathen\\Server";
constexpr int kFilesPerDirectory = 50;
constexpr int kDirectoriesPerGroup = 20;

std::u16string Numbered(const char* format, int number) {
  char text[32];
  std::snprintf(text, sizeof(text), format, number);
  return std::u16string(text, text + std::char_traits<char>::length(text));
}

// files files below the product directory: groups of directories of
// kFilesPerDirectory files each, every tenth file read-only, every
// directory also holding an empty cache directory. Returns the number of
// entries below the product directory.
int BuildInstallation(sim::Machine& machine, int files) {
  int entries = 0;
  for (int file = 0; file < files; ++file) {
    const int directory = file / kFilesPerDirectory;
    const std::u16string folder = std::u16string(kProductDirectory) +
                                  Numbered("\\group%03d", directory / kDirectoriesPerGroup) +
                                  Numbered("\\module%04d", directory);
    if (file % kFilesPerDirectory == 0) {
      machine.files.MakeDirectory(folder + u"\\cache");
      entries += directory % kDirectoriesPerGroup == 0 ? 3 : 2;
    }
    std::shared_ptr<sim::FsNode> node = machine.files.MakeFile(folder + Numbered("\\part%05d.dll", file), "MZ");
    if (file % 10 == 0) {
      node->attributes = FILE_ATTRIBUTE_READONLY;
    }
    ++entries;
  }
  return entries;
}

void BM_FilesRemoveDirectoryTree(benchmark::State& state) {
  const int files = static_cast<int>(state.range(0));
  int entries = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto machine = std::make_unique<sim::Machine>();
    {
      sim::ScopedMachine scope(*machine);
      entries = BuildInstallation(*machine, files);
      // About six records per entry.
      measured::GiveJournalRoom(*machine, 6 * entries);
      OpenRunLog();
      measured::Measure(state, [] { RemoveDirectoryTree(kProductDirectory); });
      CloseRunLog();
      if (machine->files.Exists(kProductDirectory)) {
        state.SkipWithError("the directory was not removed");
      }
    }
    machine.reset();
    state.ResumeTiming();
  }
  measured::SetPerItem(state, "per_entry", entries);
}
// A warm-up first and several timed runs: the first removal in a fresh
// process also pays for the memory the process takes from the system, a
// cost that is not the walk's and that a single timed run would show.
BENCHMARK(BM_FilesRemoveDirectoryTree)
    ->Arg(10000)
    ->Arg(100000)
    ->MinWarmUpTime(1.0)
    ->MinTime(1.0)
    ->Unit(benchmark::kMillisecond);

}  // namespace
