// The directory part of a path is taken from the text alone.
#include "src/files/parent_directory.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr WCHAR kUntouched = 0x7777;

TEST(GetParentDirectoryTest, CutsAtTheLastBackslash) {
  struct Case {
    std::u16string path;
    bool result;
    std::u16string output;
  };
  const std::u16string dir259 = u"C:\\" + std::u16string(256, u'd');
  const std::u16string dir260 = u"C:\\" + std::u16string(257, u'd');
  const Case cases[] = {
      {u"C:\\D1\\D2\\f.exe", true, u"C:\\D1\\D2"},
      {u"C:\\D1\\D2\\", true, u"C:\\D1\\D2"},
      {u"C:\\f.exe", true, u"C:"},
      {u"\\f.exe", true, u""},
      {u"C:\\D1/D2/f.exe", true, u"C:"},  // only the backslash separates
      {dir259 + u"\\f", true, dir259},
      {dir260 + u"\\f", false, u""},
      {u"f.exe", false, u""},  // no directory part at all
      {u"", false, u""},
  };
  for (const Case& c : cases) {
    WCHAR output[MAX_PATH + 1];
    for (WCHAR& unit : output) {
      unit = kUntouched;
    }
    EXPECT_EQ(GetParentDirectory(c.path.c_str(), output), c.result) << c.path.size();
    EXPECT_EQ(std::u16string(output), c.output);
    EXPECT_EQ(output[MAX_PATH], kUntouched);
  }
}

TEST(GetParentDirectoryTest, NullPointersLeaveTheOutputUntouched) {
  WCHAR output[MAX_PATH] = {u'x', 0};
  EXPECT_FALSE(GetParentDirectory(nullptr, output));
  EXPECT_EQ(output[0], u'x');
  EXPECT_FALSE(GetParentDirectory(TEXT("C:\\a"), nullptr));
}

}  // namespace
