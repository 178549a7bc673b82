// Deleting the service account named in the product's settings: which
// values give a name, the log lines, the calls made and the accounts left.
#include "src/services/service_account.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "sim/core/text.h"
#include "src/log/run_log.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::LogLines;

constexpr char16_t kKey[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvathen\\Components\\34\\1093\\1.0.0.0";
constexpr char16_t kValueName[] = u"AutoCreatedServiceAccount";

const std::vector<std::string> kAccountCalls = {"RegOpenKeyExW", "RegQueryValueExW", "RegCloseKey", "NetUserDel"};

const std::string kOpen = "RegOpenKeyExW(" + sim::ToUtf8(kKey) + ")=0";
std::string Query(int result) {
  return "RegQueryValueExW(" + sim::ToUtf8(kKey) + "@" + sim::ToUtf8(kValueName) + ")=" + std::to_string(result);
}
const std::string kClose = "RegCloseKey(" + sim::ToUtf8(kKey) + ")=0";

std::vector<std::uint8_t> Bytes(std::u16string_view units) {
  std::vector<std::uint8_t> data;
  for (char16_t unit : units) {
    data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    data.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return data;
}

// Text with its terminator, as REG_SZ data.
std::vector<std::uint8_t> Terminated(std::u16string_view text) {
  std::vector<std::uint8_t> data = Bytes(text);
  data.push_back(0);
  data.push_back(0);
  return data;
}

void SetValue(sim::Machine& m, std::uint32_t type, std::vector<std::uint8_t> data) {
  m.registry.Create(kKey)->SetValue(sim::RegistryValue{kValueName, type, std::move(data)});
}

std::vector<std::string> AccountNames(const sim::Machine& m) {
  std::vector<std::string> names;
  for (const auto& [name, account] : m.accounts.accounts()) {
    names.push_back(sim::ToUtf8(account.name));
  }
  return names;
}

// 259 characters: with the terminator, exactly the 520-byte buffer.
const std::u16string kLongName = u"L" + std::u16string(258, u'x');
// The first 259 characters of a value that has no terminator within the
// buffer: an account of that name must never be deleted.
const std::u16string kCutName(259, u'y');

TEST(ServiceAccountTest, EachValueGivesItsOutcome) {
  struct Case {
    const char* name;
    std::function<void(sim::Machine&)> prepare;
    std::string log;
    std::vector<std::string> calls;
    std::vector<std::string> accounts_after;  // besides the unrelated "Tervani"
  };
  const std::string long8 = sim::ToUtf8(kLongName);
  const std::string cut8 = sim::ToUtf8(kCutName);
  const Case cases[] = {
      {"no key: silent", [](sim::Machine&) {}, "", {"RegOpenKeyExW(" + sim::ToUtf8(kKey) + ")=2"}, {"MvSrvSvc"}},
      {"key without the value: silent, key closed",
       [](sim::Machine& m) { m.registry.Create(kKey); },
       "",
       {kOpen, Query(2), kClose},
       {"MvSrvSvc"}},
      {"empty text: silent, no deletion",
       [](sim::Machine& m) { SetValue(m, REG_SZ, Terminated(u"")); },
       "",
       {kOpen, Query(0), kClose},
       {"MvSrvSvc"}},
      {"value without data: silent, no deletion",
       [](sim::Machine& m) { SetValue(m, REG_SZ, {}); },
       "",
       {kOpen, Query(0), kClose},
       {"MvSrvSvc"}},
      {"deleted",
       [](sim::Machine& m) { SetValue(m, REG_SZ, Terminated(u"MvSrvSvc")); },
       LogLines({"Deleting server service account MvSrvSvc", "OK"}),
       {kOpen, Query(0), kClose, "NetUserDel(MvSrvSvc)=0"},
       {}},
      {"text without its terminator fits: used",
       [](sim::Machine& m) { SetValue(m, REG_SZ, Bytes(u"MvSrvSvc")); },
       LogLines({"Deleting server service account MvSrvSvc", "OK"}),
       {kOpen, Query(0), kClose, "NetUserDel(MvSrvSvc)=0"},
       {}},
      {"account no longer exists: its code",
       [](sim::Machine& m) { SetValue(m, REG_SZ, Terminated(u"MvOldSvc")); },
       LogLines({"Deleting server service account MvOldSvc", "Error 2221"}),
       {kOpen, Query(0), kClose, "NetUserDel(MvOldSvc)=2221"},
       {"MvSrvSvc"}},
      {"deletion refused: its code",
       [](sim::Machine& m) {
         SetValue(m, REG_SZ, Terminated(u"MvSrvSvc"));
         m.accounts.Add(sim::Account{u"MvSrvSvc", true});
       },
       LogLines({"Deleting server service account MvSrvSvc", "Error 5"}),
       {kOpen, Query(0), kClose, "NetUserDel(MvSrvSvc)=5"},
       {"MvSrvSvc"}},
      {"without administrator rights the name is read, the deletion refused",
       [](sim::Machine& m) {
         SetValue(m, REG_SZ, Terminated(u"MvSrvSvc"));
         m.process.elevated = false;
       },
       LogLines({"Deleting server service account MvSrvSvc", "Error 5"}),
       {kOpen, Query(0), kClose, "NetUserDel(MvSrvSvc)=5"},
       {"MvSrvSvc"}},
      // The type is not looked at: a number's bytes 42 00 41 00 read as "BA".
      {"number: its bytes taken as text",
       [](sim::Machine& m) {
         SetValue(m, REG_DWORD, {0x42, 0x00, 0x41, 0x00});
         m.accounts.Add(sim::Account{u"BA", false});
       },
       LogLines({"Deleting server service account BA", "OK"}),
       {kOpen, Query(0), kClose, "NetUserDel(BA)=0"},
       {"MvSrvSvc"}},
      {"list of texts: the first one",
       [](sim::Machine& m) {
         std::vector<std::uint8_t> data = Terminated(u"MvSrvSvc");
         const std::vector<std::uint8_t> second = Terminated(u"Tervani");
         data.insert(data.end(), second.begin(), second.end());
         data.push_back(0);
         data.push_back(0);
         SetValue(m, REG_MULTI_SZ, data);
       },
       LogLines({"Deleting server service account MvSrvSvc", "OK"}),
       {kOpen, Query(0), kClose, "NetUserDel(MvSrvSvc)=0"},
       {}},
      {"259 characters with the terminator, 520 bytes: used whole",
       [](sim::Machine& m) {
         SetValue(m, REG_SZ, Terminated(kLongName));
         m.accounts.Add(sim::Account{kLongName, false});
       },
       LogLines({"Deleting server service account " + long8, "OK"}),
       {kOpen, Query(0), kClose, "NetUserDel(" + long8 + ")=0"},
       {"MvSrvSvc"}},
      {"520 bytes without a zero: no name, and the account its first 259 characters name stays",
       [](sim::Machine& m) {
         SetValue(m, REG_SZ, Bytes(std::u16string(260, u'y')));
         m.accounts.Add(sim::Account{kCutName, false});
       },
       "",
       {kOpen, Query(0), kClose},
       {"MvSrvSvc", cut8}},
      {"519 bytes without a zero: no name either",
       [](sim::Machine& m) {
         std::vector<std::uint8_t> data = Bytes(kCutName);
         data.push_back(u'y');
         SetValue(m, REG_SZ, data);
         m.accounts.Add(sim::Account{kCutName, false});
       },
       "",
       {kOpen, Query(0), kClose},
       {"MvSrvSvc", cut8}},
      // The odd last byte is zero and meets the zero-filled byte after it:
      // the name ends within the buffer and is whole.
      {"519 bytes whose last byte is zero: 259 characters, used",
       [](sim::Machine& m) {
         std::vector<std::uint8_t> data = Bytes(kCutName);
         data.push_back(0);
         SetValue(m, REG_SZ, data);
         m.accounts.Add(sim::Account{kCutName, false});
       },
       LogLines({"Deleting server service account " + cut8, "OK"}),
       {kOpen, Query(0), kClose, "NetUserDel(" + cut8 + ")=0"},
       {"MvSrvSvc"}},
      {"longer than the buffer: the read fails, silent",
       [](sim::Machine& m) { SetValue(m, REG_SZ, Terminated(std::u16string(300, u'z'))); },
       "",
       {kOpen, Query(234), kClose},
       {"MvSrvSvc"}},
      {"key cannot be opened: silent",
       [](sim::Machine& m) {
         SetValue(m, REG_SZ, Terminated(u"MvSrvSvc"));
         m.faults.Add({"RegOpenKeyExW", u"1093", 0, 1, ERROR_ACCESS_DENIED});
       },
       "",
       {"RegOpenKeyExW(" + sim::ToUtf8(kKey) + ")=5"},
       {"MvSrvSvc"}},
      {"read fails: silent, key closed",
       [](sim::Machine& m) {
         SetValue(m, REG_SZ, Terminated(u"MvSrvSvc"));
         m.faults.Add({"RegQueryValueExW", kValueName, 0, 1, ERROR_ACCESS_DENIED});
       },
       "",
       {kOpen, Query(5), kClose},
       {"MvSrvSvc"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine m;
    sim::ScopedMachine selected(m);
    m.accounts.Add(sim::Account{u"MvSrvSvc", false});
    m.accounts.Add(sim::Account{u"Tervani", false});
    c.prepare(m);
    ASSERT_TRUE(OpenRunLog());
    DeleteServiceAccount();
    CloseRunLog();
    EXPECT_EQ(m.files.ReadFile(m.process.temp_path + u"$vornalet.log").value_or("<no log>"), c.log);
    EXPECT_EQ(m.journal.Trace(kAccountCalls), c.calls);
    std::vector<std::string> expected_accounts = c.accounts_after;
    expected_accounts.push_back("Tervani");
    std::sort(expected_accounts.begin(), expected_accounts.end());
    EXPECT_EQ(AccountNames(m), expected_accounts);
    EXPECT_EQ(m.handles.OpenCount(), 0U) << ::testing::PrintToString(m.handles.Describe());
  }
}

// The buffer the name is read into is zero-filled and exactly 520 bytes:
// the read is offered 520 bytes, so that a 519- or 520-byte value fits and
// a longer one is refused rather than cut.
TEST(ServiceAccountTest, ReadIsOfferedTheWholeBufferAndNoMore) {
  struct Case {
    std::size_t cb_value;
    int query_result;
  };
  const Case cases[] = {{518, 0}, {520, 0}, {522, 234}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cb_value);
    sim::Machine m;
    sim::ScopedMachine selected(m);
    std::vector<std::uint8_t> data(c.cb_value, 0x41);
    data[c.cb_value - 1] = 0;
    data[c.cb_value - 2] = 0;
    SetValue(m, REG_BINARY, data);
    ASSERT_TRUE(OpenRunLog());
    DeleteServiceAccount();
    CloseRunLog();
    EXPECT_EQ(m.journal.Trace({"RegQueryValueExW"}), std::vector<std::string>{Query(c.query_result)});
    EXPECT_EQ(m.journal.Count("NetUserDel"), c.query_result == 0 ? 1U : 0U);
  }
}

}  // namespace
