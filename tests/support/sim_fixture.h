// What the tests share: a fresh simulated machine per test, selected for the
// platform functions, and ways to read what a run left behind.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "sim/image/machine_image.h"
#include "sim/machine.h"

namespace testing_support {

// The log's expected bytes: each line followed by CR LF.
std::string LogLines(std::initializer_list<std::string_view> lines);

// Text as the log writes it: one byte per code unit (all below 0x100 here).
std::string LogBytesOf(std::u16string_view text);

class SimTest : public ::testing::Test {
 protected:
  SimTest() : scope_(machine) {}

  // The bytes of "$vornalet.log" in the machine's temporary directory, or
  // "<no log>" when there is none.
  std::string LogBytes() const;
  bool LogExists() const;
  // Runs the cleaner's entry point with this command line (no program name).
  int Run(std::u16string command_line);
  // Loads an image given as JSON text into the machine.
  void Load(const std::string& image_json);
  // Fails the test when a handle is still open.
  void ExpectNoOpenHandles() const;
  // The journal's record of these calls, as "Name(subject)=result" lines.
  std::vector<std::string> Calls(const std::vector<std::string>& names) const { return machine.journal.Trace(names); }

  sim::Machine machine;

 private:
  sim::ScopedMachine scope_;
};

}  // namespace testing_support
