// What the platform functions of the simulated machine share: recording a
// call in the journal and setting the last error.
#pragma once

#include <cstdint>
#include <string_view>

#include "sim/core/text.h"
#include "sim/machine.h"

namespace sim {

// Records a call that returns its error code directly.
template <typename Result>
Result Report(Machine& m, std::string_view call, std::u16string_view subject, Result result) {
  m.journal.Record(call, subject, static_cast<std::int64_t>(result));
  return result;
}

// Records a BOOL or handle call: success records 0, failure records the
// error code and sets it as the last error.
inline void ReportOutcome(Machine& m, std::string_view call, std::u16string_view subject, std::uint32_t error) {
  m.journal.Record(call, subject, error);
  if (error != 0) {
    m.process.last_error = error;
  }
}

inline std::u16string_view View(const char16_t* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

}  // namespace sim
