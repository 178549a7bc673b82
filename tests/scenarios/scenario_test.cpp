// Whole runs on machine images kept under machines/scenarios/<name>/:
//   machine.json           the machine before the run
//   run.json               {"command_line": "...", "exit_code": N}, and optionally
//                          "virtual_seconds": the time the run takes on the
//                          machine's clock
//   expected.log           the run log, byte for byte
//   expected-changes.txt   what changed on the machine, one line each
// VORNALET_UPDATE_GOLDEN=1 rewrites the two expected files from the run, to
// be read and checked by hand before they are committed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/core/text.h"
#include "sim/image/machine_image.h"
#include "sim/machine.h"
#include "sim/win32/windows.h"

namespace {

namespace fs = std::filesystem;

fs::path ScenarioRoot() { return fs::path(VORNALET_SOURCE_DIR) / "machines" / "scenarios"; }

std::vector<std::string> ScenarioNames() {
  std::vector<std::string> names;
  if (fs::is_directory(ScenarioRoot())) {
    for (const fs::directory_entry& entry : fs::directory_iterator(ScenarioRoot())) {
      if (entry.is_directory()) {
        names.push_back(entry.path().filename().string());
      }
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

struct RunResult {
  int exit_code = -1;
  std::string log;
  std::string changes;
  std::size_t open_handles = 0;
  std::size_t live_allocations = 0;
  std::uint64_t virtual_seconds = 0;
};

RunResult RunOn(sim::Machine& machine, const std::u16string& command_line) {
  sim::ScopedMachine selected(machine);
  const sim::Inventory before = sim::TakeInventory(machine);
  machine.process.command_line = command_line;
  RunResult result;
  result.exit_code = wWinMain(nullptr, nullptr, machine.process.command_line.data(), 0);
  result.log = machine.files.ReadFile(machine.process.temp_path + u"$vornalet.log").value_or("<no log>");
  for (const std::string& change : sim::DescribeChanges(before, sim::TakeInventory(machine))) {
    result.changes += change + "\n";
  }
  result.open_handles = machine.handles.OpenCount();
  result.live_allocations = machine.process.LiveAllocations();
  result.virtual_seconds = machine.clock_ms / 1000;
  return result;
}

class ScenarioTest : public ::testing::TestWithParam<std::string> {};

TEST_P(ScenarioTest, RunMatchesItsExpectedLogAndChanges) {
  const fs::path dir = ScenarioRoot() / GetParam();
  sim::Machine machine;
  sim::LoadMachine(nlohmann::json::parse(ReadBytes(dir / "machine.json")), machine);
  const nlohmann::json run = nlohmann::json::parse(ReadBytes(dir / "run.json"));
  const RunResult result = RunOn(machine, sim::FromUtf8(run.value("command_line", "")));

  if (std::getenv("VORNALET_UPDATE_GOLDEN") != nullptr) {
    WriteBytes(dir / "expected.log", result.log);
    WriteBytes(dir / "expected-changes.txt", result.changes);
  }
  EXPECT_EQ(result.exit_code, run.at("exit_code").get<int>());
  EXPECT_EQ(result.log, ReadBytes(dir / "expected.log"));
  EXPECT_EQ(result.changes, ReadBytes(dir / "expected-changes.txt"));
  EXPECT_EQ(result.open_handles, 0U);
  EXPECT_EQ(result.live_allocations, 0U);
  if (run.contains("virtual_seconds")) {
    EXPECT_EQ(result.virtual_seconds, run["virtual_seconds"].get<std::uint64_t>());
  }
}

INSTANTIATE_TEST_SUITE_P(Machines, ScenarioTest, ::testing::ValuesIn(ScenarioNames()),
                         [](const ::testing::TestParamInfo<std::string>& scenario) {
                           std::string name = scenario.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ScenarioTest);

// The built-in machine of vornalet-sim, cleaned once, then saved and loaded
// again the way a user would keep it: the second run finds no product.
TEST(BuiltinMachineTest, ASecondRunFindsNothingLeftToIdentify) {
  sim::Machine first;
  sim::LoadMachine(nlohmann::json::parse(ReadBytes(fs::path(VORNALET_SOURCE_DIR) / "machines" / "builtin.json")),
                   first);
  const RunResult cleaned = RunOn(first, u"");
  EXPECT_EQ(cleaned.exit_code, 0) << cleaned.log;

  sim::Machine second;
  sim::LoadMachine(sim::SaveMachine(first), second);
  const RunResult again = RunOn(second, u"");
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_EQ(again.log, "Getting product code...\r\nProduct not found 1607\r\n");
  // Nothing but the log changed.
  EXPECT_EQ(again.changes.rfind("changed file C:\\Users\\Administrator\\AppData\\Local\\Temp\\$vornalet.log: ", 0), 0U)
      << again.changes;
  EXPECT_EQ(std::count(again.changes.begin(), again.changes.end(), '\n'), 1);
}

}  // namespace
