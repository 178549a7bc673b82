// The whole run through identification: the input, UTF-8 text, is the
// command line wWinMain receives. Each input runs twice: on the built-in
// machine (the product installed beside software that is not the
// cleaner's) and on a machine that has nothing installed.
//
// Properties: the exit code is 0 to 4; no handle is left open and every
// heap block is released; a run that ends with 1 to 4 changes nothing but
// the log; two arguments are taken from the command line (exit 4 when one
// is longer than 38 characters, 0 otherwise, and Windows Installer is not
// asked for the product), anything else goes through Windows Installer;
// the log begins with the lines of that path, each argument written in the
// log's byte format; and whatever the command line, the keys, files,
// services and accounts that belong to no product named on it survive.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "sim/core/text.h"
#include "sim/host/builtin_image.h"
#include "sim/image/machine_image.h"
#include "sim/machine.h"
#include "sim/win32/windows.h"
#include "src/installer/packed_guid.h"

namespace {

constexpr const char* kTarget = "command_line";
constexpr std::size_t kCchLongestCode = 38;

// What the built-in machine holds that no cleanup may remove, with the
// product code (braced, upper case) whose naming on the command line makes
// it fair game; none when it belongs to no product.
struct Survivor {
  const char* what;
  const char16_t* owner_code;
};

constexpr const char16_t* kConsoleCode = u"{8E4B2D10-6C3F-4A7E-B1D9-0F2E3C4D5A6B}";
constexpr const char16_t* kNotesCode = u"{D2E3F4A5-B6C7-4D8E-9F01-23456789ABCD}";

const Survivor kSurvivors[] = {
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", nullptr},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tervani Notes", nullptr},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\InstallShield Uninstall "
     "Information",
     nullptr},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products", nullptr},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Features", nullptr},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\UpgradeCodes", nullptr},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes", nullptr},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products",
     nullptr},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\"
     "Components",
     nullptr},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\"
     "Components\\06F5E4D3281749345A6A7C8D9E0F1A2B",
     nullptr},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components", nullptr},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\35", nullptr},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Tervani\\Notes", nullptr},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\01D2B4E8F3C6E7A41B9DF0E2C3D4A5B6", kConsoleCode},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{8E4B2D10-6C3F-4A7E-B1D9-"
     "0F2E3C4D5A6B}",
     kConsoleCode},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\"
     "Components\\1706F5E439285A446B7B8D9E0F1A2B3C",
     kConsoleCode},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Installer\\Products\\5A4F3E2D7C6BE8D4F91032547698BADC", kNotesCode},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{D2E3F4A5-B6C7-4D8E-9F01-"
     "23456789ABCD}",
     kNotesCode},
    {"key HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\"
     "Components\\281706F54A396B547C8C9E0F1A2B3C4D",
     kNotesCode},
    {"file C:\\Program Files (x86)\\Morvathen\\Common\\mvcommon.dll", nullptr},
    {"file C:\\Program Files (x86)\\Morvathen\\Console\\console.exe", nullptr},
    {"file C:\\Program Files (x86)\\Tervani\\Notes\\notes.exe", nullptr},
    {"file C:\\Users\\Administrator\\Documents\\report.txt", nullptr},
    {"file C:\\Windows\\System32\\kernel32.dll", nullptr},
    {"directory C:\\Users\\Administrator\\AppData\\Local\\Temp", nullptr},
    {"service TervaniSync", nullptr},
    {"account TervaniSvc", nullptr},
};

const nlohmann::json& BuiltinImage() {
  static const nlohmann::json image = nlohmann::json::parse(BuiltinImageJson());
  return image;
}

// The inventory without the run log, the one thing every run may change.
sim::Inventory InventoryWithoutLog(const sim::Machine& machine) {
  sim::Inventory inventory = sim::TakeInventory(machine);
  inventory.erase("file " + sim::ToUtf8(machine.process.temp_path) + "$vornalet.log");
  return inventory;
}

// Whether the machine still holds an item named as the inventory names it.
bool Holds(sim::Machine& machine, std::string_view what) {
  const std::size_t space = what.find(' ');
  const std::string_view kind = what.substr(0, space);
  const std::u16string name = sim::FromUtf8(what.substr(space + 1));
  if (kind == "key") {
    return machine.registry.Find(name) != nullptr;
  }
  if (kind == "file" || kind == "directory") {
    auto node = machine.files.Find(name);
    return node != nullptr && node->directory == (kind == "directory");
  }
  if (kind == "service") {
    return machine.services.Find(name) != nullptr;
  }
  return machine.accounts.Find(name) != nullptr;
}

// Whether one of the two arguments names the product of this code: it
// packs, letter case aside, to the same packed code, which is all that the
// registration keys are found by.
bool Names(const std::vector<std::u16string>& arguments, const char16_t* code) {
  WCHAR packed_code[kCchPackedGuid] = {};
  PackGuid(code, packed_code);
  for (const std::u16string& argument : arguments) {
    WCHAR packed_argument[kCchPackedGuid] = {};
    if (arguments.size() == 2 && PackGuid(argument.c_str(), packed_argument) &&
        sim::EqualsIgnoringCase(packed_argument, packed_code)) {
      return true;
    }
  }
  return false;
}

// A fresh machine of either kind.
void Prepare(sim::Machine& machine, bool product_installed) {
  if (product_installed) {
    sim::LoadMachine(BuiltinImage(), machine);
  }
}

// Every run starts from the same two machines, so their inventories are
// taken once.
const sim::Inventory& StartingInventory(bool product_installed) {
  static const sim::Inventory installed = [] {
    sim::Machine machine;
    Prepare(machine, true);
    sim::Inventory inventory = InventoryWithoutLog(machine);
    for (const Survivor& survivor : kSurvivors) {
      if (inventory.count(survivor.what) == 0) {
        fuzzing::Fail(kTarget, std::string("the built-in machine no longer holds ") + survivor.what +
                                   "; bring the list of what must survive up to date");
      }
    }
    return inventory;
  }();
  static const sim::Inventory empty = [] {
    sim::Machine machine;
    Prepare(machine, false);
    return InventoryWithoutLog(machine);
  }();
  return product_installed ? installed : empty;
}

void CheckRun(sim::Machine& machine, const std::u16string& command_line, bool product_installed) {
  const std::u16string_view text = fuzzing::TextOf(command_line.c_str());
  const sim::Inventory& before = StartingInventory(product_installed);

  machine.process.command_line = command_line;
  const int exit_code = wWinMain(nullptr, nullptr, machine.process.command_line.data(), 0);

  const std::string where = std::string(product_installed ? " (built-in machine)" : " (empty machine)") +
                            " for the command line \"" + fuzzing::Printable(text) + "\"";
  if (exit_code < 0 || exit_code > 4) {
    fuzzing::Fail(kTarget, "exit code " + std::to_string(exit_code) + where);
  }
  if (machine.handles.OpenCount() != 0) {
    std::string open;
    for (const std::string& line : machine.handles.Describe()) {
      open += " [" + line + "]";
    }
    fuzzing::Fail(kTarget, "handles left open:" + open + where);
  }
  if (machine.process.LiveAllocations() != 0) {
    fuzzing::Fail(kTarget, std::to_string(machine.process.LiveAllocations()) + " heap blocks never released" + where);
  }

  if (exit_code != 0) {
    const sim::Inventory after = InventoryWithoutLog(machine);
    if (after != before) {
      const std::vector<std::string> changes = sim::DescribeChanges(before, after);
      fuzzing::Fail(kTarget, "exit code " + std::to_string(exit_code) + " after changing " + changes.front() + where);
    }
  }

  // Which path identification takes, and what the log begins with.
  std::vector<std::u16string> arguments;
  if (!text.empty()) {
    arguments = sim::SplitCommandLine(text);
  }
  std::string expected_log;
  int expected_exit_code = product_installed ? 0 : 1;
  if (arguments.size() == 2) {
    expected_log = "Using command line...\r\n";
    const bool too_long = arguments[0].size() > kCchLongestCode || arguments[1].size() > kCchLongestCode;
    if (too_long) {
      const std::u16string& code = arguments[0].size() > kCchLongestCode ? arguments[0] : arguments[1];
      expected_log += "Code on the command line is too long " + fuzzing::LogBytesOf(code) + "\r\n";
      expected_exit_code = 4;
    } else {
      expected_log += "Set prodCode " + fuzzing::LogBytesOf(arguments[0]) + "\r\nSet upgrCode " +
                      fuzzing::LogBytesOf(arguments[1]) + "\r\n";
      expected_exit_code = 0;
    }
    if (machine.journal.Count("MsiGetProductCodeW") != 0 || machine.journal.Count("MsiOpenProductW") != 0) {
      fuzzing::Fail(kTarget, "Windows Installer was asked for the product, with two arguments" + where);
    }
  } else {
    expected_log = "Getting product code...\r\n";
  }
  if (exit_code != expected_exit_code) {
    fuzzing::Fail(kTarget, "exit code " + std::to_string(exit_code) + ", expected " +
                               std::to_string(expected_exit_code) + " with " + std::to_string(arguments.size()) +
                               " arguments" + where);
  }
  std::string log;
  if (!fuzzing::ReadLog(machine, &log) || log.compare(0, expected_log.size(), expected_log) != 0) {
    fuzzing::Fail(kTarget, "the log begins \"" + fuzzing::PrintableBytes(log.substr(0, expected_log.size() + 40)) +
                               "\", expected \"" + fuzzing::PrintableBytes(expected_log) + "\"" + where);
  }
  if (exit_code == 4 && log != expected_log) {
    fuzzing::Fail(kTarget,
                  "the log goes on after the code that is too long: \"" + fuzzing::PrintableBytes(log) + "\"" + where);
  }

  if (product_installed) {
    for (const Survivor& survivor : kSurvivors) {
      if ((survivor.owner_code == nullptr || !Names(arguments, survivor.owner_code)) &&
          !Holds(machine, survivor.what)) {
        fuzzing::Fail(kTarget, std::string("removed ") + survivor.what + ", which belongs to no product named" + where);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string command_line = sim::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const bool product_installed : {true, false}) {
    sim::Machine machine;
    sim::ScopedMachine scope(machine);
    Prepare(machine, product_installed);
    CheckRun(machine, command_line, product_installed);
  }
  return 0;
}
