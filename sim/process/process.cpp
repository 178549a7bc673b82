#include "sim/process/process.h"

namespace sim {

void* Process::Allocate(std::size_t cb) {
  std::vector<std::uint64_t> block((cb + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t) + 1);
  void* memory = block.data();
  allocations_.emplace(memory, std::move(block));
  return memory;
}

bool Process::Free(void* memory) { return allocations_.erase(memory) == 1; }

namespace {

bool IsBlank(char16_t unit) { return unit == u' ' || unit == u'\t'; }

}  // namespace

// The program name comes first and follows rules of its own: quotes group
// and are dropped, backslashes are literal. Every later argument follows the
// documented rules: 2n backslashes before a quote give n backslashes and the
// quote opens or closes a quoted part; 2n+1 give n backslashes and a literal
// quote; other backslashes are literal. Inside a quoted part, two quotes give
// a literal quote and end the quoted part.
std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::u16string> args;
  std::size_t i = 0;
  std::u16string first;
  if (i < line.size() && line[i] == u'"') {
    ++i;
    while (i < line.size() && line[i] != u'"') {
      first += line[i++];
    }
    if (i < line.size()) {
      ++i;
    }
  } else {
    while (i < line.size() && !IsBlank(line[i])) {
      first += line[i++];
    }
  }
  args.push_back(first);
  while (i < line.size() && IsBlank(line[i])) {
    ++i;
  }
  while (i < line.size()) {
    std::u16string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      if (line[i] == u'\\') {
        std::size_t backslashes = 0;
        while (i < line.size() && line[i] == u'\\') {
          ++backslashes;
          ++i;
        }
        if (i < line.size() && line[i] == u'"') {
          arg.append(backslashes / 2, u'\\');
          if (backslashes % 2 == 1) {
            arg += u'"';
            ++i;
          }
        } else {
          arg.append(backslashes, u'\\');
        }
      } else if (line[i] == u'"') {
        ++i;
        if (quoted && i < line.size() && line[i] == u'"') {
          arg += u'"';
          ++i;
          quoted = false;
        } else {
          quoted = !quoted;
        }
      } else {
        arg += line[i++];
      }
    }
    args.push_back(arg);
    while (i < line.size() && IsBlank(line[i])) {
      ++i;
    }
  }
  return args;
}

}  // namespace sim
