// The part of a benchmark's iteration that is its measurement: the only
// part Google Benchmark times and, when the program runs under callgrind
// with --collect-atstart=no, the only part callgrind counts. Counting gives
// the instructions and cache misses per item that scripts/benchmark.sh
// reports next to the times: figures that do not move with the load of the
// machine.
#pragma once

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>

#include "sim/machine.h"

#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
#define VORNALET_TOGGLE_COUNTING() CALLGRIND_TOGGLE_COLLECT
#else
#define VORNALET_TOGGLE_COUNTING() static_cast<void>(0)
#endif

namespace measured {

// Runs the operation with the clock running (paused before and after) and
// returns what it returns.
template <typename Operation>
decltype(auto) Measure(benchmark::State& state, Operation&& operation) {
  struct Stop {
    benchmark::State& state;
    ~Stop() {
      VORNALET_TOGGLE_COUNTING();
      state.PauseTiming();
    }
  };
  state.ResumeTiming();
  VORNALET_TOGGLE_COUNTING();
  const Stop stop{state};
  return operation();
}

// The cost per item of an operation on this many items, and the count for
// the report.
inline void SetPerItem(benchmark::State& state, const char* counter, int items) {
  state.SetItemsProcessed(state.iterations() * items);
  state.counters[counter] =
      benchmark::Counter(items, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["items"] = items;
}

// The journal records every call with its subject. Growing it is the
// simulated machine's cost, not the cleaner's, and fresh memory makes it
// grow faster than linearly; so a machine gets a journal that already has
// room for this many records, and a heap that already has the memory for
// their subjects, before the measured region.
inline void GiveJournalRoom(sim::Machine& machine, int records) {
  // Memory that the warm-up frees stays with the process instead of going
  // back to the system, to be faulted in again inside the measured region.
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  const std::u16string subject(100, u'p');
  for (int i = 0; i < records; ++i) {
    machine.journal.Record("WarmUp", subject, 0);
  }
  machine.journal.Clear();
}

}  // namespace measured
