// The simulated CommandLineToArgvW splits as the shell does: the program
// name by its own rules, then quotes and backslashes as documented.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/core/text.h"
#include "sim/process/process.h"

namespace {

TEST(SplitCommandLineTest, FollowsTheDocumentedRules) {
  struct Case {
    std::u16string line;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {u"prog a b", {"prog", "a", "b"}},
      {u"prog  a\t\tb  ", {"prog", "a", "b"}},
      {u"\"C:\\Pro gram\\x.exe\" a", {"C:\\Pro gram\\x.exe", "a"}},
      {u"C:\\dir\\\"x a", {"C:\\dir\\\"x", "a"}},  // the program name takes backslashes literally
      {u"p \"a b\" c", {"p", "a b", "c"}},
      {u"p a\\\\b", {"p", "a\\\\b"}},         // backslashes not before a quote are literal
      {u"p a\\\\\\\"b", {"p", "a\\\"b"}},     // 2n+1 backslashes and a quote: n and a literal quote
      {u"p \"a\\\\\" b", {"p", "a\\", "b"}},  // 2n backslashes and a quote: n, and the quote closes
      {u"p \"\" \"\"", {"p", "", ""}},
      {u"p a\"b c\"d", {"p", "ab cd"}},
      {u"p \"a\"\"b\" c", {"p", "a\"b c"}},  // two quotes inside quotes: a literal quote, quoting ends
      {u"p \"\"\"a\"\"\"", {"p", "\"a\""}},
      {u" a b", {"", "a", "b"}},  // a leading blank leaves the program name empty
      {u"p \"open", {"p", "open"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args;
    for (const std::u16string& arg : sim::SplitCommandLine(c.line)) {
      args.push_back(sim::ToUtf8(arg));
    }
    EXPECT_EQ(args, c.args) << sim::ToUtf8(c.line);
  }
}

}  // namespace
