// PackGuid: the packed form Windows Installer uses in key and value names.
#include "src/installer/packed_guid.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/core/text.h"
#include "sim/installer/installer.h"

namespace {

constexpr char16_t kCanary = u'#';

// The output buffer one unit larger than PackGuid may use, filled with a
// canary so that a write past position 32 shows.
struct Output {
  WCHAR units[kCchPackedGuid + 1];
  Output() {
    for (WCHAR& unit : units) {
      unit = kCanary;
    }
  }
  bool Untouched() const {
    for (WCHAR unit : units) {
      if (unit != kCanary) {
        return false;
      }
    }
    return true;
  }
};

TEST(PackGuidTest, PacksThe38CharacterTextUnitByUnit) {
  struct Case {
    const char16_t* guid_text;
    const char16_t* packed;
  };
  const Case cases[] = {
      {u"{5B1E6C3A-27D4-4F80-9A6E-C4D2873B1F05}", u"A3C6E1B54D7208F4A9E64C2D78B3F150"},
      {u"{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}", u"14C9A2F3E6B751D48A2C950E4D7B6F31"},
      // Letter case kept, character by character.
      {u"{5b1e6c3a-27d4-4f80-9a6e-c4d2873b1f05}", u"a3c6e1b54d7208f4a9e64c2d78b3f150"},
      {u"{5b1E6c3A-27d4-4F80-9a6E-c4D2873b1F05}", u"A3c6E1b54d7208F4a9E64c2D78b3F150"},
      // Braces and dashes are never read.
      {u"(5B1E6C3A_27D4x4F80y9A6E.C4D2873B1F05)", u"A3C6E1B54D7208F4A9E64C2D78B3F150"},
      // Characters that are not hexadecimal digits move like digits.
      {u"{ABCDEFGH-IJKL-MNOP-QRST-UVWXYZ012345}", u"HGFEDCBALKJIPONMRQTSVUXWZY103254"},
      {u"{\u00e9\u0416345678-9abc-def0-1234-56789abcdef0}", u"876543\u0416\u00e9cba90fed21436587a9cbed0f"},
  };
  for (const Case& c : cases) {
    Output output;
    EXPECT_TRUE(PackGuid(c.guid_text, output.units)) << sim::ToUtf8(c.guid_text);
    EXPECT_EQ(std::u16string(output.units), c.packed) << sim::ToUtf8(c.guid_text);
    EXPECT_EQ(output.units[kCchPackedGuid], kCanary) << "written past the terminator";
  }
}

// The packed form agrees with the simulated installer's, which names the
// keys of every machine image.
TEST(PackGuidTest, AgreesWithTheSimulatedInstaller) {
  const char16_t* codes[] = {u"{5B1E6C3A-27D4-4F80-9A6E-C4D2873B1F05}", u"{C7D81E22-4A93-4B6F-9E05-1D2C3B4A5F60}",
                             u"{8E4B2D10-6C3F-4A7E-B1D9-0F2E3C4D5A6B}"};
  for (const char16_t* code : codes) {
    Output output;
    ASSERT_TRUE(PackGuid(code, output.units));
    EXPECT_EQ(std::u16string(output.units), sim::PackedCode(code));
  }
}

TEST(PackGuidTest, AnyOtherLengthOrAMissingBufferFailsWithTheOutputUntouched) {
  const std::u16string guid = u"{5B1E6C3A-27D4-4F80-9A6E-C4D2873B1F05}";
  const std::u16string inputs[] = {
      guid.substr(1, 36),                   // without braces
      guid.substr(0, 37),                   // 37
      guid + u"}",                          // 39
      guid + u"{5B1E6C3A-27D4-4F80-9A6E",   // far too long
      u"",                                  // empty
      u"A3C6E1B54D7208F4A9E64C2D78B3F150",  // already packed
  };
  for (const std::u16string& input : inputs) {
    Output output;
    EXPECT_FALSE(PackGuid(input.c_str(), output.units)) << sim::ToUtf8(input);
    EXPECT_TRUE(output.Untouched()) << sim::ToUtf8(input);
  }
  Output output;
  EXPECT_FALSE(PackGuid(nullptr, output.units));
  EXPECT_TRUE(output.Untouched());
  EXPECT_FALSE(PackGuid(guid.c_str(), nullptr));
}

// The length is found within 39 units: a text with no terminator there is
// refused without reading further.
TEST(PackGuidTest, ReadsNoFurtherThanOnePastTheLength) {
  WCHAR unterminated[39];
  for (WCHAR& unit : unterminated) {
    unit = u'0';
  }
  Output output;
  EXPECT_FALSE(PackGuid(unterminated, output.units));
  EXPECT_TRUE(output.Untouched());
}

}  // namespace
