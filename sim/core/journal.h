// The journal: every platform call the cleaner made, with its main argument
// and its result, in order, so that tests can state which calls happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct CallRecord {
  std::string call;        // the platform name, "RegOpenKeyExW"
  std::u16string subject;  // the main argument: a path, a name, a code
  std::int64_t result;     // the call's result, or the error code of a failed BOOL call
};

class Journal {
 public:
  void Record(std::string_view call, std::u16string_view subject, std::int64_t result);
  const std::vector<CallRecord>& calls() const { return calls_; }
  std::size_t Count(std::string_view call) const;
  std::size_t Count(std::string_view call, std::u16string_view subject) const;
  // The calls of the given names, in order, as "Name(subject)=result" lines.
  std::vector<std::string> Trace(const std::vector<std::string>& names) const;
  void Clear() { calls_.clear(); }

 private:
  std::vector<CallRecord> calls_;
};

}  // namespace sim
