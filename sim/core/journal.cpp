#include "sim/core/journal.h"

#include <algorithm>

#include "sim/core/text.h"

namespace sim {

void Journal::Record(std::string_view call, std::u16string_view subject, std::int64_t result) {
  calls_.push_back(CallRecord{std::string(call), std::u16string(subject), result});
}

std::size_t Journal::Count(std::string_view call) const {
  return static_cast<std::size_t>(
      std::count_if(calls_.begin(), calls_.end(), [&](const CallRecord& r) { return r.call == call; }));
}

std::size_t Journal::Count(std::string_view call, std::u16string_view subject) const {
  return static_cast<std::size_t>(std::count_if(calls_.begin(), calls_.end(), [&](const CallRecord& r) {
    return r.call == call && EqualsIgnoringCase(r.subject, subject);
  }));
}

std::vector<std::string> Journal::Trace(const std::vector<std::string>& names) const {
  std::vector<std::string> lines;
  for (const CallRecord& r : calls_) {
    if (std::find(names.begin(), names.end(), r.call) != names.end()) {
      lines.push_back(r.call + "(" + ToUtf8(r.subject) + ")=" + std::to_string(r.result));
    }
  }
  return lines;
}

}  // namespace sim
