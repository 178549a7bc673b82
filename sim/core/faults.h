// Faults to inject: a rule makes a platform call fail with a given error
// code, optionally only for a subject that contains a given text, after
// letting a number of matching calls through.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct FaultRule {
  std::string call;                 // platform name, "DeleteFileW"
  std::u16string subject_contains;  // empty: any subject; compared without regard to case
  int skip = 0;                     // matching calls let through first
  int times = 1;                    // failures to inject; negative: every matching call
  std::uint32_t error = 0;          // the code the call fails with
};

class Faults {
 public:
  void Add(FaultRule rule) { rules_.push_back(std::move(rule)); }
  void Clear() { rules_.clear(); }
  // The error code to fail this call with, if a rule fires for it.
  std::optional<std::uint32_t> Take(std::string_view call, std::u16string_view subject);
  std::size_t fired() const { return fired_; }

 private:
  std::vector<FaultRule> rules_;
  std::size_t fired_ = 0;
};

}  // namespace sim
