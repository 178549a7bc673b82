#include "sim/core/faults.h"

#include "sim/core/text.h"

namespace sim {

std::optional<std::uint32_t> Faults::Take(std::string_view call, std::u16string_view subject) {
  for (FaultRule& rule : rules_) {
    if (rule.call != call || rule.times == 0) {
      continue;
    }
    if (!rule.subject_contains.empty() && Fold(subject).find(Fold(rule.subject_contains)) == std::u16string::npos) {
      continue;
    }
    if (rule.skip > 0) {
      --rule.skip;
      continue;
    }
    if (rule.times > 0) {
      --rule.times;
    }
    ++fired_;
    return rule.error;
  }
  return std::nullopt;
}

}  // namespace sim
