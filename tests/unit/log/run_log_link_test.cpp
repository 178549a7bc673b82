// The temporary directory can be shared with other users. A "$vornalet.log"
// that is a link is removed and replaced, never followed: what it points to
// keeps its content.
#include <gtest/gtest.h>

#include <functional>

#include "src/log/run_log.h"
#include "tests/support/sim_fixture.h"

namespace {

using testing_support::LogLines;

constexpr char16_t kTarget[] = u"C:\\Users\\Victim\\Documents\\thesis.txt";
constexpr char kTargetContent[] = "years of work";

class RunLogLinkTest : public testing_support::SimTest {
 protected:
  std::u16string LogPath() const { return machine.process.temp_path + u"$vornalet.log"; }
  void WriteOneLine() {
    OpenRunLog();
    LogText(TEXT("Getting product code..."), nullptr);
    CloseRunLog();
  }
};

TEST_F(RunLogLinkTest, ALinkInPlaceOfTheLogIsReplacedNotFollowed) {
  struct Case {
    const char* name;
    std::function<void(sim::Machine&, const std::u16string&)> plant;
  };
  const Case cases[] = {
      {"symbolic link to a file",
       [](sim::Machine& m, const std::u16string& log) {
         m.files.MakeLink(log, IO_REPARSE_TAG_SYMLINK, kTarget, /*directory=*/false);
       }},
      {"second name of the file",
       [](sim::Machine& m, const std::u16string& log) { m.files.MakeHardLink(kTarget, log); }},
      {"junction to its directory",
       [](sim::Machine& m, const std::u16string& log) {
         m.files.MakeLink(log, IO_REPARSE_TAG_MOUNT_POINT, u"C:\\Users\\Victim\\Documents");
       }},
      {"symbolic link to its directory",
       [](sim::Machine& m, const std::u16string& log) {
         m.files.MakeLink(log, IO_REPARSE_TAG_SYMLINK, u"C:\\Users\\Victim\\Documents");
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine fresh;
    sim::ScopedMachine selected(fresh);
    fresh.files.MakeFile(kTarget, kTargetContent);
    const std::u16string log = fresh.process.temp_path + u"$vornalet.log";
    c.plant(fresh, log);
    OpenRunLog();
    LogText(TEXT("Getting product code..."), nullptr);
    CloseRunLog();
    EXPECT_EQ(fresh.files.ReadFile(kTarget).value_or("<gone>"), kTargetContent);
    EXPECT_EQ(fresh.files.ReadFile(log).value_or("<no log>"), LogLines({"Getting product code..."}));
    std::shared_ptr<sim::FsNode> node = fresh.files.Find(log);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->reparse_tag, 0U);
    EXPECT_EQ(node->link_count, 1U);
    EXPECT_EQ(fresh.handles.OpenCount(), 0U);
  }
}

TEST_F(RunLogLinkTest, ALinkThatCannotBeRemovedLeavesTheRunWithoutALog) {
  machine.files.MakeFile(kTarget, kTargetContent);
  machine.files.MakeLink(LogPath(), IO_REPARSE_TAG_SYMLINK, kTarget, /*directory=*/false)->undeletable = true;
  EXPECT_FALSE(OpenRunLog());
  LogText(TEXT("Getting product code..."), nullptr);
  CloseRunLog();
  EXPECT_EQ(machine.files.ReadFile(kTarget).value_or("<gone>"), kTargetContent);
  EXPECT_EQ(machine.journal.Count("WriteFile"), 0U);
  ExpectNoOpenHandles();
}

TEST_F(RunLogLinkTest, AnOrdinaryEarlierLogIsEmptiedInPlace) {
  machine.files.MakeFile(LogPath(), "an earlier run\r\n");
  WriteOneLine();
  EXPECT_EQ(LogBytes(), LogLines({"Getting product code..."}));
  EXPECT_EQ(machine.journal.Count("DeleteFileW"), 0U);
}

}  // namespace
