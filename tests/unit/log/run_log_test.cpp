// The run log's byte format, its line-by-line flushing, and its failures,
// none of which ever reaches the run.
#include "src/log/run_log.h"

#include <gtest/gtest.h>

#include "tests/support/sim_fixture.h"

namespace {

using testing_support::LogLines;

class RunLogTest : public testing_support::SimTest {
 protected:
  std::u16string LogPath() const { return machine.process.temp_path + u"$vornalet.log"; }
  // The file as another process sees it while the run goes on.
  std::string FileNow() const { return machine.files.ReadFile(LogPath()).value_or("<no file>"); }
};

TEST_F(RunLogTest, LinesHaveTheirExactBytes) {
  struct Case {
    const char* name;
    void (*write)();
    std::string bytes;
  };
  const Case cases[] = {
      {"text alone", [] { LogText(TEXT("Product was opened"), nullptr); }, "Product was opened\r\n"},
      {"empty argument keeps its space", [] { LogText(TEXT("Product path"), TEXT("")); }, "Product path \r\n"},
      {"argument", [] { LogText(TEXT("Set prodCode"), TEXT("{A}")); }, "Set prodCode {A}\r\n"},
      {"code 0 is not written", [] { LogCode(TEXT("Error"), 0); }, "Error\r\n"},
      {"code", [] { LogCode(TEXT("Error code is"), 5); }, "Error code is 5\r\n"},
      {"code unsigned", [] { LogCode(TEXT("Error"), 0xFFFFFFFF); }, "Error 4294967295\r\n"},
      {"code with zeros", [] { LogCode(TEXT("Error"), 1000); }, "Error 1000\r\n"},
      {"Latin-1 as one byte", [] { LogText(TEXT("Removing Dir"), TEXT("C:\\caf\u00e9")); },
       "Removing Dir C:\\caf\xe9\r\n"},
      {"LF inside becomes CR LF", [] { LogText(TEXT("a\nb"), TEXT("c\nd")); }, "a\r\nb c\r\nd\r\n"},
      {"CR LF inside becomes CR CR LF", [] { LogText(TEXT("a"), TEXT("b\r\nc")); }, "a b\r\r\nc\r\n"},
      {"lone CR unchanged", [] { LogText(TEXT("a\rb"), nullptr); }, "a\rb\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(OpenRunLog());
    c.write();
    CloseRunLog();
    EXPECT_EQ(LogBytes(), c.bytes);
  }
  ExpectNoOpenHandles();
}

// A unit that one byte cannot hold must not end the log: it is written as
// "?" and every later line still reaches the file.
TEST_F(RunLogTest, UnitsAboveLatin1AreWrittenAsQuestionMarks) {
  ASSERT_TRUE(OpenRunLog());
  LogText(TEXT("Removing Dir"), TEXT("C:\\\u0416\u0443\u043a"));
  LogText(TEXT("Deleting file"), TEXT("C:\\\u65e5\u672c\\\U0001F600.txt"));
  LogText(TEXT("OK"), nullptr);
  CloseRunLog();
  EXPECT_EQ(LogBytes(), LogLines({"Removing Dir C:\\???", "Deleting file C:\\??\\??.txt", "OK"}));
}

TEST_F(RunLogTest, EachLineIsInTheFileWhenTheWriterReturns) {
  ASSERT_TRUE(OpenRunLog());
  LogText(TEXT("Getting product code..."), nullptr);
  EXPECT_EQ(FileNow(), LogLines({"Getting product code..."}));
  LogCode(TEXT("Product not found"), 1607);
  EXPECT_EQ(FileNow(), LogLines({"Getting product code...", "Product not found 1607"}));
  EXPECT_EQ(machine.journal.Count("WriteFile"), 2U) << "one write per line";
  CloseRunLog();
  ExpectNoOpenHandles();
}

TEST_F(RunLogTest, AnEarlierLogIsEmptied) {
  machine.files.MakeFile(LogPath(), "an earlier run's lines\r\nand more\r\n");
  ASSERT_TRUE(OpenRunLog());
  LogText(TEXT("Using command line..."), nullptr);
  CloseRunLog();
  EXPECT_EQ(LogBytes(), LogLines({"Using command line..."}));
}

TEST_F(RunLogTest, OtherProcessesMayReadAndWriteTheLogWhileItIsOpen) {
  ASSERT_TRUE(OpenRunLog());
  HANDLE reader =
      CreateFileW(reinterpret_cast<const WCHAR*>(LogPath().c_str()), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  CloseHandle(reader);
  CloseRunLog();
}

// Every way the log can fail to open: the run writes nothing and goes on.
TEST_F(RunLogTest, ALogThatCannotBeOpenedDropsEveryLine) {
  struct Case {
    const char* name;
    void (*prepare)(sim::Machine&);
  };
  const Case cases[] = {
      {"temporary directory missing", [](sim::Machine& m) { m.process.temp_path = u"C:\\Users\\Nobody\\Temp\\"; }},
      {"a directory of that name",
       [](sim::Machine& m) { m.files.MakeDirectory(m.process.temp_path + u"$vornalet.log"); }},
      {"held by another process without sharing",
       [](sim::Machine& m) {
         m.files.MakeFile(m.process.temp_path + u"$vornalet.log", "theirs")->opens.push_back({GENERIC_READ, 0});
       }},
      {"read-only file",
       [](sim::Machine& m) {
         m.files.MakeFile(m.process.temp_path + u"$vornalet.log", "theirs")->attributes = FILE_ATTRIBUTE_READONLY;
       }},
      {"GetTempPathW fails", [](sim::Machine& m) { m.process.temp_path_error = ERROR_ACCESS_DENIED; }},
      {"name longer than 259 characters",
       [](sim::Machine& m) {
         m.process.temp_path = u"C:\\" + std::u16string(245, u't') + u"\\";  // 249 + 13 units
         m.files.MakeDirectory(m.process.temp_path);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Machine fresh;
    sim::ScopedMachine selected(fresh);
    c.prepare(fresh);
    const std::size_t writes_before = fresh.journal.Count("WriteFile");
    EXPECT_FALSE(OpenRunLog());
    LogText(TEXT("Getting product code..."), nullptr);
    LogCode(TEXT("Product not found"), 1607);
    CloseRunLog();
    EXPECT_EQ(fresh.journal.Count("WriteFile"), writes_before);
    EXPECT_EQ(fresh.handles.OpenCount(), 0U);
  }
}

TEST_F(RunLogTest, ATempPathThatJustFitsStillGivesALog) {
  machine.process.temp_path = u"C:\\" + std::u16string(242, u't') + u"\\";  // 246 + 13 = 259 units
  machine.files.MakeDirectory(machine.process.temp_path);
  EXPECT_TRUE(OpenRunLog());
  LogText(TEXT("OK"), nullptr);
  CloseRunLog();
  EXPECT_EQ(LogBytes(), "OK\r\n");
}

TEST_F(RunLogTest, AFullDiskKeepsTheLinesWrittenBeforeAndDropsTheRest) {
  ASSERT_TRUE(OpenRunLog());
  LogText(TEXT("Getting product code..."), nullptr);
  machine.files.free_bytes[u"C:"] = 10;
  LogText(TEXT("Product was found. Prodcode is"), TEXT("{3F2A9C41-7B6E-4D15-A8C2-59E0D4B7F613}"));
  LogText(TEXT("Product was opened"), nullptr);
  CloseRunLog();
  EXPECT_EQ(LogBytes(), LogLines({"Getting product code..."}));
  ExpectNoOpenHandles();
}

TEST_F(RunLogTest, AWriteRefusedByTheFileSystemFailsTheLog) {
  machine.faults.Add({"WriteFile", u"", 1, 1, ERROR_ACCESS_DENIED});
  ASSERT_TRUE(OpenRunLog());
  LogText(TEXT("first"), nullptr);
  LogText(TEXT("second"), nullptr);
  LogText(TEXT("third"), nullptr);
  CloseRunLog();
  // The cut line is handed over once more when the log closes.
  EXPECT_EQ(LogBytes(), LogLines({"first", "second"}));
  ExpectNoOpenHandles();
}

TEST_F(RunLogTest, WritesAfterCloseAreDropped) {
  ASSERT_TRUE(OpenRunLog());
  LogText(TEXT("last"), nullptr);
  CloseRunLog();
  LogText(TEXT("too late"), nullptr);
  CloseRunLog();
  EXPECT_EQ(LogBytes(), "last\r\n");
}

}  // namespace
