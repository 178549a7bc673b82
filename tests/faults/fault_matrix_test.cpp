// Every platform call of a whole run, made to fail in turn.
//
// For the built-in machine and two machines of this folder, a clean run is
// recorded; then, for each entry of its journal whose call can fail, the
// same run is repeated with that one call failing once with an error code
// the call really gives. Every such run has to complete with the exit code
// its identification calls for, leave no handle or heap block behind, change
// nothing outside what the cleaner owns (tests/property/cleanup_model.h), and
// say in its log what failed wherever the log has a line for it.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/core/text.h"
#include "sim/image/machine_image.h"
#include "sim/machine.h"
#include "sim/win32/windows.h"
#include "tests/property/cleanup_model.h"

namespace {

struct MatrixMachine {
  const char* name;
  const char* image;  // below the source directory
  const char16_t* command_line;
};

const MatrixMachine kMachines[] = {
    {"builtin", "machines/builtin.json", u""},
    {"shared_store", "tests/faults/machines/shared_store.json",
     u"{3f2a9c41-7b6e-4d15-a8c2-59e0d4b7f613} {c7d81e22-4a93-4b6f-9e05-1d2c3b4a5f60}"},
    {"second_drive", "tests/faults/machines/second_drive.json", u""},
};

constexpr std::uint32_t kInstallStateUnknown = 0xFFFFFFFFu;  // INSTALLSTATE_UNKNOWN as the call's result
constexpr std::uint32_t kUserNotFound = 2221;                // NERR_UserNotFound
constexpr std::uint32_t kEnvironmentVariableNotFound = 203;  // ERROR_ENVVAR_NOT_FOUND

// The errors each call is made to fail with: what that call gives on a real
// machine when a key or file vanishes, access is refused, a file is held
// open, a disk is full, or a service does not answer.
const std::map<std::string, std::vector<std::uint32_t>> kErrors = {
    {"GetTempPathW", {kEnvironmentVariableNotFound}},
    {"CreateFileW", {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED}},
    {"WriteFile", {ERROR_DISK_FULL}},
    {"CommandLineToArgvW", {ERROR_NOT_ENOUGH_MEMORY}},
    {"MsiGetProductCodeW", {ERROR_UNKNOWN_COMPONENT}},
    {"MsiOpenProductW", {ERROR_UNKNOWN_PRODUCT}},
    {"MsiGetProductPropertyW", {ERROR_UNKNOWN_PROPERTY}},
    {"MsiGetComponentPathW", {kInstallStateUnknown}},
    {"OpenSCManagerW", {ERROR_ACCESS_DENIED}},
    {"OpenServiceW", {ERROR_SERVICE_DOES_NOT_EXIST, ERROR_ACCESS_DENIED}},
    {"ChangeServiceConfig2W", {ERROR_ACCESS_DENIED}},
    {"QueryServiceStatusEx", {ERROR_ACCESS_DENIED}},
    {"ControlService", {ERROR_SERVICE_REQUEST_TIMEOUT, ERROR_SERVICE_CANNOT_ACCEPT_CTRL}},
    {"DeleteService", {ERROR_SERVICE_MARKED_FOR_DELETE}},
    {"CloseServiceHandle", {ERROR_INVALID_HANDLE}},
    {"NetUserDel", {kUserNotFound, ERROR_ACCESS_DENIED}},
    {"RegOpenKeyExW", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
    {"RegQueryValueExW", {ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA}},
    {"RegQueryInfoKeyW", {ERROR_KEY_DELETED}},
    {"RegEnumKeyExW", {ERROR_KEY_DELETED, ERROR_MORE_DATA}},
    {"RegEnumValueW", {ERROR_KEY_DELETED}},
    {"RegDeleteKeyW", {ERROR_ACCESS_DENIED, ERROR_KEY_DELETED}},
    {"RegDeleteValueW", {ERROR_ACCESS_DENIED}},
    {"SetFileAttributesW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"DeleteFileW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"RemoveDirectoryW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"FindFirstFileW", {ERROR_ACCESS_DENIED, ERROR_PATH_NOT_FOUND}},
    {"FindNextFileW", {ERROR_ACCESS_DENIED}},
    {"FindClose", {ERROR_INVALID_HANDLE}},
    {"GetFileAttributesW", {ERROR_ACCESS_DENIED}},
    {"GetFinalPathNameByHandleW", {ERROR_PATH_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY}},
};

// Calls that give a handle back: when one of them fails, the handle stays
// counted as open, whatever the caller does.
bool IsClosingCall(const std::string& call) { return call == "FindClose" || call == "CloseServiceHandle"; }

bool IsLogFile(const sim::CallRecord& record) {
  return record.subject.find(cleanup_model::kLogName) != std::u16string::npos;
}

// Whether the entry at this index belongs to the log alone: the temporary
// directory asked for its name, its creation, a write to it. A run whose
// log fails still has to do its whole cleanup.
bool IsLogCall(const std::vector<sim::CallRecord>& calls, std::size_t index) {
  const sim::CallRecord& record = calls[index];
  if (record.call == "WriteFile" || record.call == "CreateFileW") {
    return IsLogFile(record);
  }
  if (record.call != "GetTempPathW") {
    return false;
  }
  for (std::size_t i = 0; i < index; ++i) {
    if (calls[i].call == "CreateFileW" && IsLogFile(calls[i])) {
      return false;
    }
  }
  return true;
}

std::vector<std::string> LogLinesOf(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(start));
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string Narrow(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit);
  }
  return bytes;
}

// The name of the service table that a service name stands for.
std::string TableName(std::u16string_view name) {
  for (const char16_t* table_name : cleanup_model::kServiceNames) {
    if (sim::EqualsIgnoringCase(table_name, name)) {
      return Narrow(table_name);
    }
  }
  return Narrow(name);
}

struct RunRecord {
  int exit_code = -1;
  std::optional<std::string> log;
  std::vector<std::string> lines;
  std::vector<sim::CallRecord> calls;
  cleanup_model::Verdict verdict;
  std::size_t open_handles = 0;
  std::size_t live_allocations = 0;
  std::vector<std::string> handles;
  std::size_t fired = 0;
};

struct Injection {
  std::size_t index = 0;  // of the journal entry made to fail
  sim::FaultRule rule;
};

class FaultMatrix {
 public:
  explicit FaultMatrix(const MatrixMachine& machine) : machine_(machine) {
    std::ifstream in(std::string(VORNALET_SOURCE_DIR) + "/" + machine.image);
    image_ = nlohmann::json::parse(in);
    clean_ = RunWith(std::nullopt);
  }

  const RunRecord& clean() const { return clean_; }

  // One injection per error of each journal entry whose call can fail. The
  // rule names the entry's whole subject and lets through the earlier calls
  // it also matches.
  std::vector<Injection> Injections() const {
    std::vector<Injection> injections;
    for (std::size_t i = 0; i < clean_.calls.size(); ++i) {
      const sim::CallRecord& record = clean_.calls[i];
      auto errors = kErrors.find(record.call);
      if (errors == kErrors.end()) {
        continue;
      }
      const std::u16string folded = sim::Fold(record.subject);
      int skip = 0;
      for (std::size_t j = 0; j < i; ++j) {
        if (clean_.calls[j].call == record.call &&
            sim::Fold(clean_.calls[j].subject).find(folded) != std::u16string::npos) {
          ++skip;
        }
      }
      for (std::uint32_t error : errors->second) {
        injections.push_back(Injection{i, sim::FaultRule{record.call, record.subject, skip, 1, error}});
      }
    }
    return injections;
  }

  // One injection per distinct call and subject, at its first entry, that
  // makes every later call it matches fail as well: a key whose deletion is
  // always refused, a file that stays locked, a service that never answers.
  std::vector<Injection> LastingInjections() const {
    std::vector<Injection> injections;
    for (std::size_t i = 0; i < clean_.calls.size(); ++i) {
      const sim::CallRecord& record = clean_.calls[i];
      auto errors = kErrors.find(record.call);
      if (errors == kErrors.end() || Earlier(i) != 0) {
        continue;
      }
      const std::u16string folded = sim::Fold(record.subject);
      bool matched_before = false;
      for (std::size_t j = 0; j < i && !matched_before; ++j) {
        matched_before = clean_.calls[j].call == record.call &&
                         sim::Fold(clean_.calls[j].subject).find(folded) != std::u16string::npos;
      }
      if (!matched_before) {
        injections.push_back(Injection{i, sim::FaultRule{record.call, record.subject, 0, -1, errors->second.front()}});
      }
    }
    return injections;
  }

  RunRecord RunWith(const std::optional<Injection>& injection) const {
    sim::Machine machine;
    sim::LoadMachine(image_, machine);
    sim::ScopedMachine selected(machine);
    std::u16string command_line = machine_.command_line;
    const std::string call = injection ? injection->rule.call : "";
    cleanup_model::Identification id =
        cleanup_model::Identify(machine, call == "CommandLineToArgvW" ? u"" : command_line);
    if (call == "MsiGetProductCodeW" || call == "MsiOpenProductW" || call == "MsiGetProductPropertyW") {
      id.exit_code = call == "MsiGetProductCodeW" ? 1 : call == "MsiOpenProductW" ? 2 : 3;
    }
    const cleanup_model::AllowedSet allowed = cleanup_model::Allowed(machine, id);
    expected_exit_code_ = id.exit_code;
    if (injection) {
      machine.faults.Add(injection->rule);
    }
    const sim::Inventory before = sim::TakeInventory(machine);
    machine.process.command_line = command_line;
    RunRecord run;
    run.exit_code = wWinMain(nullptr, nullptr, machine.process.command_line.data(), 0);
    run.verdict = cleanup_model::Judge(allowed, before, sim::TakeInventory(machine),
                                       !injection || IsLogCall(clean_.calls, injection->index));
    run.log = machine.files.ReadFile(machine.process.temp_path + cleanup_model::kLogName);
    run.lines = LogLinesOf(run.log.value_or(""));
    run.calls = machine.journal.calls();
    run.open_handles = machine.handles.OpenCount();
    run.live_allocations = machine.process.LiveAllocations();
    run.handles = machine.handles.Describe();
    run.fired = machine.faults.fired();
    return run;
  }

  int expected_exit_code() const { return expected_exit_code_; }
  std::size_t log_checks() const { return log_checks_; }

  // What is wrong with a run that had this injection; empty when nothing.
  std::vector<std::string> Problems(const Injection& injection, const RunRecord& run) const {
    std::vector<std::string> problems;
    const sim::CallRecord& target = clean_.calls[injection.index];
    // The fault hit the call it was meant for, and only that one.
    // A failed call may be recorded without the argument it was given.
    const bool lasting = injection.rule.times < 0;
    const bool landed =
        (lasting ? run.fired >= 1 : run.fired == 1) && run.calls.size() > injection.index &&
        run.calls[injection.index].call == target.call &&
        (run.calls[injection.index].subject == target.subject || run.calls[injection.index].subject.empty()) &&
        static_cast<std::uint32_t>(run.calls[injection.index].result) == injection.rule.error;
    if (!landed) {
      problems.push_back("the fault did not land on journal entry " + std::to_string(injection.index) + " (fired " +
                         std::to_string(run.fired) + " times)");
    }
    if (run.exit_code != expected_exit_code_) {
      problems.push_back("exit code " + std::to_string(run.exit_code) + ", expected " +
                         std::to_string(expected_exit_code_));
    }
    // A close that fails leaves its handle counted as open.
    const std::size_t handles_allowed = IsClosingCall(target.call) ? run.fired : 0;
    if (run.open_handles != handles_allowed) {
      problems.push_back(std::to_string(run.open_handles) +
                         " handles left open: " + ::testing::PrintToString(run.handles));
    }
    if (run.live_allocations != 0) {
      problems.push_back(std::to_string(run.live_allocations) + " heap blocks never released");
    }
    for (const std::string& change : run.verdict.outside) {
      problems.push_back("changed outside the allowed set: " + change);
    }
    for (const std::string& entry : run.verdict.left_behind) {
      problems.push_back("left behind although only the log failed: " + entry);
    }
    for (const std::string& problem : LogProblems(injection, run)) {
      problems.push_back("log: " + problem);
    }
    return problems;
  }

 private:
  bool HasLine(const RunRecord& run, const std::string& line) const {
    return std::find(run.lines.begin(), run.lines.end(), line) != run.lines.end();
  }
  bool CleanHasLine(const std::string& line) const {
    return std::find(clean_.lines.begin(), clean_.lines.end(), line) != clean_.lines.end();
  }
  // How many calls of the clean run before this index had the same name
  // and subject.
  std::size_t Earlier(std::size_t index) const {
    std::size_t count = 0;
    for (std::size_t i = 0; i < index; ++i) {
      count +=
          clean_.calls[i].call == clean_.calls[index].call && clean_.calls[i].subject == clean_.calls[index].subject;
    }
    return count;
  }
  // The line after the n-th (from 0) line that is one of `lines`, skipping an
  // attribute line when asked; empty when there is none.
  std::string LineAfter(const RunRecord& run, const std::vector<std::string>& lines, std::size_t n,
                        bool skip_attributes) const {
    auto it = run.lines.begin();
    for (;; ++it) {
      it = std::find_if(it, run.lines.end(), [&](const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
      });
      if (it == run.lines.end()) {
        return "";
      }
      if (n-- == 0) {
        break;
      }
    }
    ++it;
    if (skip_attributes && it != run.lines.end() && it->rfind("cannot drop attributes", 0) == 0) {
      ++it;
    }
    return it == run.lines.end() ? "" : *it;
  }
  bool HasAdjacent(const RunRecord& run, const std::string& first, const std::string& second) const {
    for (std::size_t i = 0; i + 1 < run.lines.size(); ++i) {
      if (run.lines[i] == first && run.lines[i + 1] == second) {
        return true;
      }
    }
    return false;
  }

  // The service a service call of the clean run was made for.
  std::u16string ServiceOf(std::size_t index) const {
    for (std::size_t i = index; i < clean_.calls.size(); ++i) {
      if (clean_.calls[i].call == "OpenServiceW") {
        return clean_.calls[i].subject;
      }
    }
    return u"?";
  }

  // A status query made right after the recovery actions were replaced is
  // the first look at the service; later ones belong to the stop wait.
  bool IsFirstStatusQuery(std::size_t index) const {
    const std::u16string& subject = clean_.calls[index].subject;
    for (std::size_t i = index; i-- > 0;) {
      const sim::CallRecord& record = clean_.calls[i];
      if (record.subject == subject && (record.call == "ChangeServiceConfig2W" || record.call == "ControlService" ||
                                        record.call == "QueryServiceStatusEx")) {
        return record.call == "ChangeServiceConfig2W";
      }
    }
    return false;
  }

  std::vector<std::string> LogProblems(const Injection& injection, const RunRecord& run) const {
    std::vector<std::string> problems;
    const sim::CallRecord& target = clean_.calls[injection.index];
    const std::string& call = target.call;
    const std::string code = std::to_string(injection.rule.error);
    const std::string subject = Narrow(target.subject);
    auto expect = [&](bool holds, const std::string& what) {
      ++log_checks_;
      if (!holds) {
        problems.push_back("expected " + what);
      }
    };
    auto expect_service_failure = [&](const std::string& name) {
      expect(HasAdjacent(run, "Service was not deleted " + name, "Error code is " + code),
             "\"Service was not deleted " + name + "\" then \"Error code is " + code + "\"");
    };
    const std::string last = run.lines.empty() ? "" : run.lines.back();
    if (call == "MsiGetProductCodeW") {
      expect(last == "Product not found " + code, "the log to end with \"Product not found " + code + "\"");
    } else if (call == "MsiOpenProductW") {
      expect(last == "Cannot open product " + code, "the log to end with \"Cannot open product " + code + "\"");
    } else if (call == "MsiGetProductPropertyW") {
      expect(last == "Cannot get upgrade code " + code, "the log to end with \"Cannot get upgrade code " + code + "\"");
    } else if (call == "MsiGetComponentPathW") {
      expect(HasLine(run, "Cannot get product path"), "\"Cannot get product path\"");
    } else if (call == "CommandLineToArgvW") {
      expect(!run.lines.empty() && run.lines.front() == "Getting product code...",
             "identification through the installer after the split failed");
    } else if ((call == "GetTempPathW" || call == "CreateFileW") && IsLogCall(clean_.calls, injection.index)) {
      expect(!run.log.has_value(), "no log file when it cannot be created");
    } else if (call == "WriteFile") {
      const std::string& clean_log = *clean_.log;
      const std::string log = run.log.value_or("");
      bool last_write = true;
      for (std::size_t i = injection.index + 1; i < clean_.calls.size(); ++i) {
        last_write = last_write && clean_.calls[i].call != "WriteFile";
      }
      expect(clean_log.compare(0, log.size(), log) == 0 && (log.size() < clean_log.size() || last_write),
             "the log to stop short at the refused write, with what was written before it kept");
    } else if (call == "OpenSCManagerW") {
      expect_service_failure(TableName(ServiceOf(injection.index)));
    } else if (call == "OpenServiceW" || call == "ChangeServiceConfig2W" || call == "ControlService" ||
               call == "DeleteService") {
      expect_service_failure(TableName(target.subject));
    } else if (call == "QueryServiceStatusEx") {
      if (IsFirstStatusQuery(injection.index)) {
        expect_service_failure(TableName(target.subject));
      } else {
        expect(HasLine(run, "Service was successfully deleted " + TableName(target.subject)),
               "a failed query during the stop wait to change nothing");
      }
    } else if (call == "NetUserDel") {
      expect(HasAdjacent(run, "Deleting server service account " + subject, "Error " + code),
             "\"Deleting server service account " + subject + "\" then \"Error " + code + "\"");
    } else if (call == "DeleteFileW") {
      if (CleanHasLine("Deleting file " + subject)) {
        expect(LineAfter(run, {"Deleting file " + subject}, Earlier(injection.index), true) == subject + " " + code,
               "\"Deleting file " + subject + "\" then \"" + subject + " " + code + "\"");
      } else if (!CleanHasLine("Removing link " + subject)) {
        expect(run.lines == clean_.lines, "a silent deletion (the library file) to leave the log as it was");
      }
    } else if (call == "SetFileAttributesW") {
      const std::vector<std::string> announced = {"Removing Dir " + subject, "Deleting file " + subject};
      if (CleanHasLine(announced[0]) || CleanHasLine(announced[1])) {
        expect(
            LineAfter(run, announced, Earlier(injection.index), false) == "cannot drop attributes " + code,
            "\"Removing Dir\" or \"Deleting file\" with " + subject + " then \"cannot drop attributes " + code + "\"");
      }
    } else if (call == "RemoveDirectoryW" && CleanHasLine("Removing Dir " + subject)) {
      // Which removal of this directory failed, within the walk of it that
      // the last attribute reset began: the first (nothing listed yet), the
      // last of a listed directory (silent), or the one the level above
      // makes afterwards.
      std::size_t walks = 0;
      std::size_t walk_start = 0;
      for (std::size_t i = 0; i < injection.index; ++i) {
        if (clean_.calls[i].call == "SetFileAttributesW" && clean_.calls[i].subject == target.subject) {
          ++walks;
          walk_start = i;
        }
      }
      std::size_t ordinal = 0;
      std::int64_t first_result = 0;
      for (std::size_t i = walk_start; i < injection.index; ++i) {
        if (clean_.calls[i].call == call && clean_.calls[i].subject == target.subject) {
          first_result = ordinal == 0 ? clean_.calls[i].result : first_result;
          ++ordinal;
        }
      }
      if (walks == 0) {
        problems.push_back("no attribute reset before the removal of " + subject);
      } else if (ordinal == 0) {
        expect(LineAfter(run, {"Removing Dir " + subject}, walks - 1, true) == "Cannot remove dir " + code,
               "\"Removing Dir " + subject + "\" then \"Cannot remove dir " + code + "\"");
      } else if (!(ordinal == 1 && first_result == ERROR_DIR_NOT_EMPTY)) {
        expect(HasLine(run, "Cannot remove dir " + code), "\"Cannot remove dir " + code + "\"");
      }
    }
    return problems;
  }

  const MatrixMachine& machine_;
  nlohmann::json image_;
  RunRecord clean_;
  mutable int expected_exit_code_ = 0;
  mutable std::size_t log_checks_ = 0;
};

void PrintTo(const MatrixMachine& machine, std::ostream* out) { *out << machine.name; }

class FaultMatrixTest : public ::testing::TestWithParam<MatrixMachine> {};

// Runs every injection on the machine and reports each run with a problem.
void RunMatrix(const MatrixMachine& machine, bool lasting) {
  const FaultMatrix matrix(machine);
  const RunRecord& clean = matrix.clean();
  ASSERT_EQ(clean.exit_code, 0);
  ASSERT_TRUE(clean.verdict.outside.empty()) << ::testing::PrintToString(clean.verdict.outside);
  ASSERT_TRUE(clean.verdict.left_behind.empty()) << ::testing::PrintToString(clean.verdict.left_behind);
  ASSERT_EQ(clean.open_handles, 0U);

  const std::vector<Injection> injections = lasting ? matrix.LastingInjections() : matrix.Injections();
  std::size_t completed = 0;
  std::size_t failed = 0;
  std::map<std::string, std::size_t> per_call;
  for (const Injection& injection : injections) {
    const RunRecord run = matrix.RunWith(injection);
    ++completed;
    ++per_call[injection.rule.call];
    const std::vector<std::string> problems = matrix.Problems(injection, run);
    if (!problems.empty()) {
      ++failed;
      std::ostringstream message;
      message << machine.name << ": " << injection.rule.call << "(" << sim::ToUtf8(injection.rule.subject_contains)
              << ") failing with " << injection.rule.error << (lasting ? " for good from" : " at") << " journal entry "
              << injection.index << " (skip " << injection.rule.skip << "):\n";
      for (const std::string& problem : problems) {
        message << "  " << problem << "\n";
      }
      if (failed <= 3) {
        message << "run log:\n" << run.log.value_or("<no log>") << "\n";
      }
      ADD_FAILURE() << message.str();
    }
  }
  std::ostringstream figures;
  figures << machine.name << (lasting ? " (lasting faults)" : " (single faults)") << ": " << clean.calls.size()
          << " calls in the clean run, " << injections.size() << " faults injected, " << completed
          << " runs completed, " << matrix.log_checks() << " log lines checked, " << failed
          << " runs with problems; by call:";
  for (const auto& [call, count] : per_call) {
    figures << " " << call << "x" << count;
  }
  std::cout << figures.str() << "\n";
  ::testing::Test::RecordProperty("figures", figures.str());
}

TEST_P(FaultMatrixTest, EveryPlatformCallFailingOnceInTurn) { RunMatrix(GetParam(), false); }

TEST_P(FaultMatrixTest, EveryCallAndSubjectFailingForGoodInTurn) { RunMatrix(GetParam(), true); }

INSTANTIATE_TEST_SUITE_P(Machines, FaultMatrixTest, ::testing::ValuesIn(kMachines),
                         [](const ::testing::TestParamInfo<MatrixMachine>& param_info) {
                           return param_info.param.name;
                         });

}  // namespace
