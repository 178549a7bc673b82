// vornalet-sim: runs the cleaner's own entry point on a simulated machine,
// then shows the run log as written, the exit code and what changed.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/core/text.h"
#include "sim/host/builtin_image.h"
#include "sim/image/machine_image.h"
#include "sim/machine.h"
#include "sim/win32/windows.h"

namespace {

constexpr int kExitUsage = 64;
constexpr int kExitBadImage = 65;
constexpr int kExitCannotSave = 73;

const char kHelp[] =
    "Usage: vornalet-sim [options] [PRODUCT-CODE UPGRADE-CODE | ARGUMENT...]\n"
    "\n"
    "Runs the cleaner on a simulated Windows machine and prints the run log as\n"
    "the cleaner wrote it, the exit code, and the list of what changed on the\n"
    "machine. Arguments after the options form the cleaner's command line, as a\n"
    "user would type them for vornalet.exe: none, or the product code and the\n"
    "upgrade code.\n"
    "\n"
    "Options:\n"
    "  --machine FILE       run on the machine image FILE (JSON) instead of the\n"
    "                       built-in machine\n"
    "  --save FILE          save the machine as it is after the run to FILE, so\n"
    "                       that a second run can start from it\n"
    "  --command-line TEXT  give the cleaner exactly this command line\n"
    "  --print-builtin      print the built-in machine image and stop\n"
    "  --no-changes         do not print the list of changes\n"
    "  --help               show this text\n"
    "\n"
    "Exit code: the cleaner's own (0 to 4); 64 for bad arguments, 65 for a\n"
    "machine image that cannot be read, 73 when the machine cannot be saved.\n";

struct Options {
  std::string machine_file;
  std::string save_file;
  bool has_command_line = false;
  std::u16string command_line;
  std::vector<std::string> arguments;
  bool print_builtin = false;
  bool show_changes = true;
};

// Quotes one argument so that the cleaner's command-line split gives it back.
std::u16string QuoteArgument(const std::u16string& argument) {
  if (!argument.empty() && argument.find_first_of(u" \t\"") == std::u16string::npos) {
    return argument;
  }
  std::u16string quoted = u"\"";
  std::size_t backslashes = 0;
  for (char16_t unit : argument) {
    if (unit == u'\\') {
      ++backslashes;
      continue;
    }
    if (unit == u'"') {
      quoted.append(backslashes * 2 + 1, u'\\');
    } else {
      quoted.append(backslashes, u'\\');
    }
    backslashes = 0;
    quoted += unit;
  }
  quoted.append(backslashes * 2, u'\\');
  quoted += u'"';
  return quoted;
}

bool ParseOptions(int argc, char** argv, Options* options, std::string* error) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        *error = std::string(name) + " needs a value";
        return nullptr;
      }
      return argv[++i];
    };
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      std::exit(0);
    } else if (arg == "--machine") {
      const char* file = value("--machine");
      if (file == nullptr) {
        return false;
      }
      options->machine_file = file;
    } else if (arg == "--save") {
      const char* file = value("--save");
      if (file == nullptr) {
        return false;
      }
      options->save_file = file;
    } else if (arg == "--command-line") {
      const char* text = value("--command-line");
      if (text == nullptr) {
        return false;
      }
      options->has_command_line = true;
      options->command_line = sim::FromUtf8(text);
    } else if (arg == "--print-builtin") {
      options->print_builtin = true;
    } else if (arg == "--no-changes") {
      options->show_changes = false;
    } else if (arg.rfind("--", 0) == 0) {
      *error = "unknown option " + arg;
      return false;
    } else {
      break;
    }
  }
  for (; i < argc; ++i) {
    options->arguments.emplace_back(argv[i]);
  }
  if (options->has_command_line && !options->arguments.empty()) {
    *error = "give either --command-line or arguments, not both";
    return false;
  }
  return true;
}

bool ReadImage(const Options& options, nlohmann::json* image, std::string* error) {
  std::string text = BuiltinImageJson();
  std::string source = "the built-in machine";
  if (!options.machine_file.empty()) {
    std::ifstream in(options.machine_file, std::ios::binary);
    if (!in) {
      *error = "cannot read " + options.machine_file;
      return false;
    }
    std::stringstream content;
    content << in.rdbuf();
    text = content.str();
    source = options.machine_file;
  }
  try {
    *image = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& e) {
    *error = source + " is not valid JSON: " + e.what();
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, &options, &error)) {
    std::fprintf(stderr, "vornalet-sim: %s\nTry 'vornalet-sim --help'.\n", error.c_str());
    return kExitUsage;
  }
  nlohmann::json image;
  if (!ReadImage(options, &image, &error)) {
    std::fprintf(stderr, "vornalet-sim: %s\n", error.c_str());
    return kExitBadImage;
  }
  if (options.print_builtin) {
    std::cout << image.dump(2) << "\n";
    return 0;
  }
  sim::Machine machine;
  try {
    sim::LoadMachine(image, machine);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vornalet-sim: the machine image is broken: %s\n", e.what());
    return kExitBadImage;
  }
  sim::ScopedMachine selected(machine);

  std::u16string command_line = options.command_line;
  if (!options.has_command_line) {
    for (const std::string& argument : options.arguments) {
      command_line += (command_line.empty() ? u"" : u" ") + QuoteArgument(sim::FromUtf8(argument));
    }
  }
  machine.process.command_line = command_line;

  const sim::Inventory before = sim::TakeInventory(machine);
  const int exit_code = wWinMain(nullptr, nullptr, machine.process.command_line.data(), 0);
  const sim::Inventory after = sim::TakeInventory(machine);

  const std::u16string log_path = machine.process.temp_path + u"$vornalet.log";
  std::cout << "== Run log: " << sim::ToUtf8(log_path) << " ==\n";
  if (auto log = machine.files.ReadFile(log_path)) {
    std::cout.write(log->data(), static_cast<std::streamsize>(log->size()));
  } else {
    std::cout << "(no log file)\n";
  }
  std::cout << "== Exit code: " << exit_code << " ==\n";
  std::cout << "== Virtual time: " << machine.clock_ms / 1000 << " s ==\n";
  if (options.show_changes) {
    std::cout << "== What changed on the machine ==\n";
    const std::vector<std::string> changes = sim::DescribeChanges(before, after);
    for (const std::string& change : changes) {
      std::cout << change << "\n";
    }
    if (changes.empty()) {
      std::cout << "(nothing)\n";
    }
  }
  if (!options.save_file.empty()) {
    std::ofstream out(options.save_file, std::ios::binary);
    out << sim::SaveMachine(machine).dump(2) << "\n";
    if (!out) {
      std::fprintf(stderr, "vornalet-sim: cannot save the machine to %s\n", options.save_file.c_str());
      return kExitCannotSave;
    }
  }
  return exit_code;
}
