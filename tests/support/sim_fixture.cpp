#include "tests/support/sim_fixture.h"

#include "sim/core/text.h"
#include "sim/win32/windows.h"

namespace testing_support {

std::string LogLines(std::initializer_list<std::string_view> lines) {
  std::string bytes;
  for (std::string_view line : lines) {
    bytes += line;
    bytes += "\r\n";
  }
  return bytes;
}

std::string LogBytesOf(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit);
  }
  return bytes;
}

std::string SimTest::LogBytes() const {
  auto bytes = machine.files.ReadFile(machine.process.temp_path + u"$vornalet.log");
  return bytes ? *bytes : "<no log>";
}

bool SimTest::LogExists() const { return machine.files.Exists(machine.process.temp_path + u"$vornalet.log"); }

int SimTest::Run(std::u16string command_line) {
  machine.process.command_line = command_line;
  return wWinMain(nullptr, nullptr, machine.process.command_line.data(), 0);
}

void SimTest::Load(const std::string& image_json) { sim::LoadMachine(nlohmann::json::parse(image_json), machine); }

void SimTest::ExpectNoOpenHandles() const {
  EXPECT_EQ(machine.handles.OpenCount(), 0U) << ::testing::PrintToString(machine.handles.Describe());
  EXPECT_EQ(machine.process.LiveAllocations(), 0U) << "heap blocks never released";
}

}  // namespace testing_support
