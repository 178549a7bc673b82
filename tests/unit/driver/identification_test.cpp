// Whole runs of the entry point up to the cleanup: where the codes come
// from, what is logged, the exit code, and what the run leaves behind.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/core/text.h"
#include "sim/win32/windows.h"
#include "tests/support/product_machine.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::kProductCode;
using testing_support::kProductDirectory;
using testing_support::kUpgradeCode;
using testing_support::LogBytesOf;
using testing_support::LogLines;
using testing_support::RegisterProduct;

const std::vector<std::string> kIdentificationCalls = {"MsiGetProductCodeW", "MsiOpenProductW",
                                                       "MsiGetProductPropertyW", "MsiCloseHandle"};

class IdentificationTest : public testing_support::SimTest {
 protected:
  // Runs and checks what every run must leave: the argument array released,
  // no handle open, the log opened before the installer was told to stay
  // silent, and silenced before anything else of the installer.
  int RunChecked(const std::u16string& command_line) {
    const int exit_code = Run(command_line);
    ExpectNoOpenHandles();
    const std::vector<std::string> order =
        Calls({"CreateFileW", "MsiSetInternalUI", "MsiGetProductCodeW", "MsiOpenProductW", "MsiGetComponentPathW"});
    EXPECT_GE(order.size(), 2U);
    if (order.size() >= 2) {
      EXPECT_EQ(order[0].rfind("CreateFileW(", 0), 0U) << order[0];
      EXPECT_EQ(order[1], "MsiSetInternalUI()=2");
    }
    return exit_code;
  }
  std::string Expected(std::initializer_list<std::string_view> lines) { return LogLines(lines); }
};

std::string U8(std::u16string_view text) { return sim::ToUtf8(text); }

// The log up to and including the first line that starts with prefix.
std::string LogThrough(const std::string& log, const std::string& prefix) {
  const std::size_t start = log.find(prefix);
  return start == std::string::npos ? log : log.substr(0, log.find("\r\n", start) + 2);
}

TEST_F(IdentificationTest, InstalledProductIsFoundThroughTheInstaller) {
  RegisterProduct(machine);
  EXPECT_EQ(RunChecked(u""), 0);
  EXPECT_EQ(
      LogThrough(LogBytes(), "Product path"),
      LogLines({"Getting product code...", "Product was found. Prodcode is " + U8(kProductCode), "Product was opened",
                "Upgrade code is " + U8(kUpgradeCode), "Product path " + U8(kProductDirectory)}));
  EXPECT_EQ(Calls({"MsiCloseHandle"}).size(), 1U);
}

TEST_F(IdentificationTest, InstallerFailuresEndTheRunWithTheirCode) {
  struct Case {
    const char* name;
    std::function<void(sim::Machine&)> prepare;
    int exit_code;
    std::string log;
    std::size_t handles_released;
  };
  const std::string found = "Product was found. Prodcode is " + U8(kProductCode);
  const Case cases[] = {
      {"component not registered", [](sim::Machine&) {}, 1,
       LogLines({"Getting product code...", "Product not found 1607"}), 0},
      {"registration gone but the component still names the product",
       [](sim::Machine& m) {
         RegisterProduct(m);
         m.registry.RemoveTree(
             u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\"
             u"UserData\\S-1-5-18\\Products\\14C9A2F3E6B751D48A2C950E4D7B6F31");
       },
       2, LogLines({"Getting product code...", found, "Cannot open product 1605"}), 0},
      {"upgrade code unreadable",
       [](sim::Machine& m) {
         RegisterProduct(m);
         m.faults.Add({"MsiGetProductPropertyW", u"UpgradeCode", 0, 1, ERROR_BAD_CONFIGURATION});
       },
       3, LogLines({"Getting product code...", found, "Product was opened", "Cannot get upgrade code 1610"}), 1},
      {"upgrade code longer than its storage",
       [](sim::Machine& m) {
         RegisterProduct(m);
         m.installer.package_properties[sim::Fold(kProductCode)][u"UpgradeCode"] =
             u"{C7D81E22-4A93-4B6F-9E05-1D2C3B4A5F60}-x";
       },
       3, LogLines({"Getting product code...", found, "Product was opened", "Cannot get upgrade code 234"}), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine fresh;
    sim::ScopedMachine selected(fresh);
    c.prepare(fresh);
    const sim::Inventory before = sim::TakeInventory(fresh);
    fresh.process.command_line = u"";
    EXPECT_EQ(wWinMain(nullptr, nullptr, fresh.process.command_line.data(), 0), c.exit_code);
    EXPECT_EQ(fresh.files.ReadFile(fresh.process.temp_path + u"$vornalet.log").value_or(""), c.log);
    EXPECT_EQ(fresh.journal.Count("MsiCloseHandle"), c.handles_released);
    EXPECT_EQ(fresh.journal.Count("MsiGetComponentPathW"), 0U);
    EXPECT_EQ(fresh.handles.OpenCount(), 0U);
    const std::vector<std::string> changes = sim::DescribeChanges(before, sim::TakeInventory(fresh));
    ASSERT_EQ(changes.size(), 1U) << ::testing::PrintToString(changes);
    EXPECT_NE(changes[0].find("$vornalet.log"), std::string::npos) << changes[0];
  }
}

TEST_F(IdentificationTest, ProductDirectoryOutcomes) {
  struct Case {
    const char* name;
    bool key_file_exists;
    std::u16string key_file;
    std::string last_line;
  };
  const Case cases[] = {
      {"key file missing: not installed locally", false, std::u16string(kProductDirectory) + u"\\srvcore.exe",
       "Cannot get product path"},
      {"key file in a drive root", true, u"C:\\srvcore.exe", "Product path C:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine fresh;
    sim::ScopedMachine selected(fresh);
    RegisterProduct(fresh, false, c.key_file);
    if (c.key_file_exists) {
      fresh.files.MakeFile(c.key_file, "MZ");
    }
    fresh.process.command_line = u"";
    EXPECT_EQ(wWinMain(nullptr, nullptr, fresh.process.command_line.data(), 0), 0);
    const std::string log = fresh.files.ReadFile(fresh.process.temp_path + u"$vornalet.log").value_or("");
    EXPECT_NE(log.find("Upgrade code is"), std::string::npos);
    const std::string through = LogThrough(log, "Upgrade code is ");
    EXPECT_EQ(log.substr(through.size(), c.last_line.size() + 2), c.last_line + "\r\n");
  }
}

TEST_F(IdentificationTest, ComponentPathWithoutDirectoryGivesAnEmptyProductPath) {
  RegisterProduct(machine);
  // The installer answers "installed locally" with a path that has no
  // directory part; there is then no product directory.
  machine.registry.SetString(
      u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\"
      u"UserData\\S-1-5-18\\Components\\A3C6E1B54D7208F4A9E64C2D78B3F150",
      testing_support::kPackedProductCode, u"X:");
  machine.files.AddDrive(u"X:");
  EXPECT_EQ(RunChecked(u""), 0);
  const std::string log = LogBytes();
  EXPECT_NE(log.find("\r\nProduct path \r\nService was"), std::string::npos) << log;
  EXPECT_EQ(log.find("Removing Dir X:"), std::string::npos) << "no product directory to remove";
}

TEST_F(IdentificationTest, TwoArgumentsNameTheProductWithoutAskingTheInstaller) {
  struct Case {
    std::u16string command_line;
    std::string product;
    std::string upgrade;
  };
  const Case cases[] = {
      {u"{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613} {C7D81E22-4A93-4B6F-9E05-1D2C3B4A5F60}",
       "{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}", "{C7D81E22-4A93-4B6F-9E05-1D2C3B4A5F60}"},
      {u"{3f2a9c41-7b6e-4d15-a8c2-59e0d4b7f613} {c7d81e22-4a93-4b6f-9e05-1d2c3b4a5f60}",
       "{3f2a9c41-7b6e-4d15-a8c2-59e0d4b7f613}", "{c7d81e22-4a93-4b6f-9e05-1d2c3b4a5f60}"},
      {u"3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613 x", "3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613", "x"},
      {u"\"a b\" \"c\\\"d\"", "a b", "c\"d"},
      {u"a\\\\b \"c\\\\\"", "a\\\\b", "c\\"},
      {u"\"\" \"\"", "", ""},
      {u"  \t{A}   {B}  ", "", ""},  // leading blanks: the first argument is empty, three in all
      {u"\u00e9t\u00e9 \u0416\u0443\u043a", "\xe9t\xe9", "???"},
      {u"{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}xx {C7D81E22-4A93-4B6F-9E05-1D2C3B4A5F60}",
       "{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}xx", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(sim::ToUtf8(c.command_line));
    sim::Machine fresh;
    sim::ScopedMachine selected(fresh);
    RegisterProduct(fresh);
    fresh.process.command_line = c.command_line;
    const int exit_code = wWinMain(nullptr, nullptr, fresh.process.command_line.data(), 0);
    const std::string log = fresh.files.ReadFile(fresh.process.temp_path + u"$vornalet.log").value_or("");
    EXPECT_EQ(fresh.process.LiveAllocations(), 0U);
    EXPECT_EQ(fresh.handles.OpenCount(), 0U);
    if (c.command_line.rfind(u"  ", 0) == 0) {
      EXPECT_EQ(log.rfind("Getting product code...\r\n", 0), 0U) << log;
      continue;
    }
    if (c.product.size() > 38) {
      EXPECT_EQ(exit_code, 4);
      EXPECT_EQ(log, LogLines({"Using command line...", "Code on the command line is too long " + c.product}));
      EXPECT_EQ(fresh.journal.Count("MsiGetComponentPathW"), 0U);
      continue;
    }
    EXPECT_EQ(exit_code, 0);
    EXPECT_EQ(
        log.rfind(LogLines({"Using command line...", "Set prodCode " + c.product, "Set upgrCode " + c.upgrade}), 0), 0U)
        << log;
    EXPECT_EQ(fresh.journal.Trace(kIdentificationCalls), std::vector<std::string>());
  }
}

TEST_F(IdentificationTest, OtherArgumentCountsAreIgnoredAndNotLogged) {
  std::u16string forty;
  for (int i = 0; i < 40; ++i) {
    forty += u"arg" + sim::FromUtf8(std::to_string(i)) + u" ";
  }
  const std::u16string lines[] = {u"{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}", u"one two three", forty, u"\"\""};
  for (const std::u16string& command_line : lines) {
    SCOPED_TRACE(sim::ToUtf8(command_line));
    sim::Machine fresh;
    sim::ScopedMachine selected(fresh);
    fresh.process.command_line = command_line;
    EXPECT_EQ(wWinMain(nullptr, nullptr, fresh.process.command_line.data(), 0), 1);
    EXPECT_EQ(fresh.files.ReadFile(fresh.process.temp_path + u"$vornalet.log").value_or(""),
              LogLines({"Getting product code...", "Product not found 1607"}));
    EXPECT_EQ(fresh.process.LiveAllocations(), 0U);
  }
}

TEST_F(IdentificationTest, AnEmptyCommandLineIsNotSplit) {
  EXPECT_EQ(RunChecked(u""), 1);
  EXPECT_EQ(machine.journal.Count("CommandLineToArgvW"), 0U);
  EXPECT_EQ(machine.journal.Count("HeapFree"), 0U);
}

TEST_F(IdentificationTest, AFailedSplitFallsBackToTheInstaller) {
  RegisterProduct(machine);
  machine.faults.Add({"CommandLineToArgvW", u"", 0, 1, ERROR_NOT_ENOUGH_MEMORY});
  EXPECT_EQ(RunChecked(u"{A} {B}"), 0);
  EXPECT_EQ(LogBytes().rfind("Getting product code...\r\n", 0), 0U);
  EXPECT_EQ(machine.journal.Count("HeapFree"), 0U);
}

TEST_F(IdentificationTest, CodesOfExactly38CharactersAreTakenAndLongerOnesRefused) {
  const std::u16string product38 = kProductCode;
  const std::u16string upgrade39 = std::u16string(kUpgradeCode) + u"9";
  EXPECT_EQ(RunChecked(product38 + u" " + upgrade39), 4);
  EXPECT_EQ(LogBytes(), LogLines({"Using command line...", "Code on the command line is too long " + U8(upgrade39)}));
  EXPECT_EQ(machine.journal.Count("MsiGetComponentPathW"), 0U);
}

// The log never changes the run: with no log file at all, every run ends
// with the exit code it has with one.
TEST_F(IdentificationTest, ARunWithoutALogEndsWithTheSameExitCode) {
  const std::u16string command_lines[] = {u"", u"{A} {B}", u"{A}", u"x " + std::u16string(40, u'y')};
  for (const std::u16string& command_line : command_lines) {
    SCOPED_TRACE(sim::ToUtf8(command_line));
    int exit_codes[2] = {};
    for (int broken = 0; broken < 2; ++broken) {
      sim::Machine fresh;
      sim::ScopedMachine selected(fresh);
      RegisterProduct(fresh);
      if (broken == 1) {
        fresh.process.temp_path = u"C:\\Missing\\";
      }
      fresh.process.command_line = command_line;
      exit_codes[broken] = wWinMain(nullptr, nullptr, fresh.process.command_line.data(), 0);
      EXPECT_EQ(fresh.process.LiveAllocations(), 0U);
      EXPECT_EQ(fresh.handles.OpenCount(), 0U);
    }
    EXPECT_EQ(exit_codes[0], exit_codes[1]);
  }
}

}  // namespace
