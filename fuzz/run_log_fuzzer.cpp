// The run log's writers on a simulated machine: the input chooses a series
// of LogText, LogCode, OpenRunLog and CloseRunLog calls with arbitrary
// texts (units up to 0xFF from single bytes, any unit after a 0xFF byte)
// and codes, and how the machine treats the file: a missing temporary
// directory, a drive that fills up, a write that fails once.
//
// Properties: the file holds exactly the bytes of the lines written since
// the last OpenRunLog (each unit up to 0xFF as its byte, a unit above it as
// '?', a CR before every LF, a text and its argument or code joined by one
// space, a nonzero code in unsigned decimal, CR LF after each line), nothing
// after CloseRunLog; when the file system refuses a write, a prefix of
// those bytes; no file when its directory is missing; no handle left open
// once the log is closed.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "sim/machine.h"
#include "sim/win32/windows.h"
#include "src/log/run_log.h"

namespace {

constexpr const char* kTarget = "run_log";
constexpr std::size_t kMaxOperations = 64;
constexpr std::size_t kMaxTextBytes = 3000;

enum Operation { kTextOnly, kTextWithArgument, kCode, kReopen, kClose, kOperationCount };

// A text as a caller holds it: exactly its units and the terminator.
std::vector<char16_t> ConsumeText(FuzzedDataProvider& provider) {
  const std::string bytes = provider.ConsumeRandomLengthString(kMaxTextBytes);
  std::vector<char16_t> units;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte == 0xFF && i + 2 < bytes.size()) {
      units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i + 1]) |
                                            (static_cast<unsigned char>(bytes[i + 2]) << 8)));
      i += 2;
    } else {
      units.push_back(byte);
    }
  }
  units.push_back(0);
  return units;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  sim::Machine machine;
  sim::ScopedMachine scope(machine);

  const bool directory_missing = provider.ConsumeIntegralInRange(0, 15) == 0;
  const bool disk_limited = provider.ConsumeBool();
  const bool write_fails = provider.ConsumeBool();
  if (directory_missing) {
    machine.process.temp_path = u"C:\\Users\\Nobody\\AppData\\Local\\Temp\\";
  }
  if (disk_limited) {
    machine.files.free_bytes[u"C:"] = provider.ConsumeIntegralInRange<std::uint64_t>(0, 8192);
  }
  if (write_fails) {
    machine.faults.Add({"WriteFile", u"", provider.ConsumeIntegralInRange(0, 16), 1, ERROR_DISK_FULL});
  }
  const bool exact = !directory_missing && !disk_limited && !write_fails;

  // The model: the bytes since the last OpenRunLog, and whether lines are
  // still taken.
  std::string expected;
  bool open = OpenRunLog();
  if (open == directory_missing) {
    fuzzing::Fail(kTarget, std::string("OpenRunLog gave ") + (open ? "true" : "false") +
                               (directory_missing ? " without" : " with") + " a temporary directory");
  }
  for (std::size_t n = 0; n < kMaxOperations && provider.remaining_bytes() > 0; ++n) {
    const int operation = provider.ConsumeIntegralInRange(0, kOperationCount - 1);
    if (operation == kReopen) {
      open = OpenRunLog();
      expected.clear();
      continue;
    }
    if (operation == kClose) {
      CloseRunLog();
      open = false;
      continue;
    }
    const std::vector<char16_t> text = ConsumeText(provider);
    std::string line = fuzzing::LogBytesOf(fuzzing::TextOf(text.data()));
    if (operation == kTextOnly) {
      LogText(text.data(), nullptr);
    } else if (operation == kTextWithArgument) {
      const std::vector<char16_t> argument = ConsumeText(provider);
      LogText(text.data(), argument.data());
      line += " " + fuzzing::LogBytesOf(fuzzing::TextOf(argument.data()));
    } else {
      const auto code = provider.ConsumeIntegral<std::uint32_t>();
      LogCode(text.data(), code);
      if (code != 0) {
        line += " " + std::to_string(code);
      }
    }
    if (open) {
      expected += line + "\r\n";
    }
  }
  CloseRunLog();

  if (machine.handles.OpenCount() != 0) {
    fuzzing::Fail(kTarget, "a handle is left open after CloseRunLog");
  }
  std::string log;
  const bool exists = fuzzing::ReadLog(machine, &log);
  if (exists == directory_missing) {
    fuzzing::Fail(kTarget, directory_missing ? "a log file without a temporary directory" : "no log file");
  }
  if (exact ? log != expected : expected.compare(0, log.size(), log) != 0) {
    fuzzing::Fail(kTarget, "the log holds \"" + fuzzing::PrintableBytes(log) + "\", expected " +
                               (exact ? "" : "a prefix of ") + "\"" + fuzzing::PrintableBytes(expected) + "\"");
  }
  return 0;
}
