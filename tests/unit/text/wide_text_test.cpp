// The bounded text helpers either do the whole job or leave the target as
// it was; a canary unit past the capacity shows that nothing is written
// beyond it.
#include "src/text/wide_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr WCHAR kCanary = 0xCAFE;

struct Buffer {
  WCHAR units[8];
  explicit Buffer(const char16_t* start) {
    for (WCHAR& unit : units) {
      unit = kCanary;
    }
    std::u16string text(start);
    for (std::size_t i = 0; i <= text.size(); ++i) {
      units[i] = text.c_str()[i];
    }
  }
  std::u16string Text() const { return std::u16string(units); }
};

TEST(TextCopyTest, CopiesWholeTextOrLeavesTargetUntouched) {
  struct Case {
    const char16_t* source;
    std::size_t cch_target;
    bool copied;
    const char16_t* after;
  };
  const Case cases[] = {
      {u"abc", 7, true, u"abc"},      {u"abcdef", 7, true, u"abcdef"},  // six units and the terminator fill 7
      {u"abcdefg", 7, false, u"old"}, {u"", 7, true, u""},
      {u"a", 1, false, u"old"},       {u"a", 0, false, u"old"},
  };
  for (const Case& c : cases) {
    Buffer target(u"old");
    EXPECT_EQ(TextCopy(target.units, c.cch_target, c.source), c.copied);
    EXPECT_EQ(target.Text(), c.after);
    EXPECT_EQ(target.units[7], kCanary);
  }
}

TEST(TextAppendTest, AppendsWholeTextOrLeavesTargetUntouched) {
  struct Case {
    const char16_t* start;
    const char16_t* source;
    bool appended;
    const char16_t* after;
  };
  const Case cases[] = {
      {u"ab", u"cd", true, u"abcd"},
      {u"ab", u"cdefg", false, u"ab"},  // "abcdefg" needs 8 units with its terminator
      {u"ab", u"cdef", true, u"abcdef"},
      {u"", u"", true, u""},
  };
  for (const Case& c : cases) {
    Buffer target(c.start);
    EXPECT_EQ(TextAppend(target.units, 7, c.source), c.appended);
    EXPECT_EQ(target.Text(), c.after);
    EXPECT_EQ(target.units[7], kCanary);
  }
}

TEST(TextAppendTest, RefusesATargetThatDoesNotEndWithinItsCapacity) {
  WCHAR target[4] = {u'a', u'b', u'c', u'd'};
  EXPECT_FALSE(TextAppend(target, 4, TEXT("")));
  EXPECT_EQ(target[3], u'd');
}

TEST(TextHelpersTest, NullPointersAreRefused) {
  WCHAR target[4] = {u'x', 0, 0, 0};
  EXPECT_FALSE(TextCopy(nullptr, 4, TEXT("a")));
  EXPECT_FALSE(TextCopy(target, 4, nullptr));
  EXPECT_FALSE(TextAppend(target, 4, nullptr));
  EXPECT_EQ(target[0], u'x');
  EXPECT_EQ(TextLength(nullptr), 0U);
  EXPECT_FALSE(TextEquals(nullptr, TEXT("")));
}

TEST(TextHelpersTest, LengthWithinStopsAtTheLimit) {
  const WCHAR unterminated[3] = {u'a', u'b', u'c'};
  std::size_t cch = 99;
  EXPECT_FALSE(TextLengthWithin(unterminated, 3, &cch));
  EXPECT_EQ(cch, 99U);
  EXPECT_TRUE(TextLengthWithin(TEXT("ab"), 3, &cch));
  EXPECT_EQ(cch, 2U);
  EXPECT_TRUE(TextEquals(TEXT("Ab"), TEXT("Ab")));
  EXPECT_FALSE(TextEquals(TEXT("Ab"), TEXT("ab")));
  EXPECT_FALSE(TextEquals(TEXT("Ab"), TEXT("Abc")));
}

}  // namespace
