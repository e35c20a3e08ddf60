#include "core/event_log.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/log_files.h"
#include "gtest/gtest.h"
#include "platform/file_system.h"
#include "platform/mutex.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

LogStamp Stamp(int year, int month, int day, std::string date, std::string time = "14:05:09") {
  LogStamp stamp;
  stamp.year = year;
  stamp.month = month;
  stamp.day = day;
  stamp.short_date = std::move(date);
  stamp.time_text = std::move(time);
  return stamp;
}

// A clock that the test sets.
class FakeClock {
 public:
  void Set(LogStamp stamp) {
    MutexLock lock(&mu_);
    stamp_ = std::move(stamp);
  }
  LogClock AsClock() {
    return [this] {
      MutexLock lock(&mu_);
      return stamp_;
    };
  }

 private:
  Mutex mu_;
  LogStamp stamp_ GUARDED_BY(mu_) = Stamp(2026, 3, 6, "03/06/26");
};

std::string ReadAll(const std::string& path) {
  StatusOr<std::string> data = DefaultFileSystem()->ReadFile(path);
  return data.ok() ? *data : std::string("<missing>");
}

class EventLogTest : public ::testing::Test {
 protected:
  EventLog::Options MakeOptions(FileSystem* fs = DefaultFileSystem()) {
    EventLog::Options options;
    options.fs = fs;
    options.default_folder = dir_.path();
    options.clock = clock_.AsClock();
    options.on_file_error = [this](const Status& status) {
      ++errors_;
      EXPECT_FALSE(status.ok());
    };
    return options;
  }

  TempDir dir_;
  FakeClock clock_;
  std::atomic<int> errors_{0};
};

TEST(EventLineTest, LineIsDateTimeTwoBlanksMessageCutTo249) {
  LogStamp stamp = Stamp(2026, 3, 6, "03/06/26");
  EXPECT_EQ(EventLog::FormatLine(stamp, "Vantrel Started"), "03/06/26 14:05:09  Vantrel Started");
  EXPECT_EQ(EventLog::FormatLine(stamp, ""), "03/06/26 14:05:09  ");
  // The prefix takes 19 characters.
  std::string fits(249 - 19, 'm');
  EXPECT_EQ(EventLog::FormatLine(stamp, fits).size(), 249u);
  EXPECT_EQ(EventLog::FormatLine(stamp, fits + "xyz"), "03/06/26 14:05:09  " + fits);
  EXPECT_EQ(EventLog::FormatLine(stamp, std::string("ab\0cd", 5)), "03/06/26 14:05:09  ab");
}

TEST(LogFileNameTest, DailyNamesReplaceWhatAFileNameCannotHold) {
  struct Case {
    std::string date;
    std::string name;
  };
  const std::vector<Case> cases = {
      {"03/06/26", "03_06_26"},
      {"06.03.2026", "06.03.2026"},
      {"2026-03-06", "2026-03-06"},
      {"a\"b*c<d>e?f|g", "a_b_c_d_e_f_g"},
      {"\x01\x1f x", "__ x"},
      {std::string("1\0002", 3), "1_2"},
      {"1:2:3", "1:2_3"},  // ':' stays only as the second character
      {":ab", "_ab"},
      {"\\x", "\\x"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(DailyPeriodName(c.date), c.name) << c.date;
}

TEST(LogFileNameTest, WeeklyNamesCountWeeksOfTheMonth) {
  struct Case {
    int year, month, day;
    std::string name;
  };
  const std::vector<Case> cases = {
      {2026, 3, 1, "202603_WEEK01"},   {2026, 3, 6, "202603_WEEK01"},
      {2026, 3, 7, "202603_WEEK02"},   {2026, 3, 13, "202603_WEEK02"},
      {2026, 3, 14, "202603_WEEK03"},  {2026, 3, 27, "202603_WEEK04"},
      {2026, 3, 28, "202603_WEEK05"},  {2026, 3, 31, "202603_WEEK05"},
      {2026, 12, 31, "202612_WEEK05"}, {2027, 1, 1, "202701_WEEK01"},
      {1999, 2, 28, "199902_WEEK05"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WeeklyPeriodName(c.year, c.month, c.day), c.name) << c.name;
  }
  LogStamp stamp = Stamp(2026, 12, 31, "12/31/26");
  EXPECT_EQ(LogFileName(kEventLogUseFile, stamp), "VTLOG_202612_WEEK05.TXT");
  EXPECT_EQ(LogFileName(kEventLogUseFile | kEventLogDaily, stamp), "VTLOG_12_31_26.TXT");
}

TEST(LogFileNameTest, PathsBelowTheLogFolder) {
  LogStamp stamp = Stamp(2026, 3, 6, "03/06/26");
  const uint32_t daily = kEventLogUseFile | kEventLogDaily;
  EXPECT_EQ(LogFilePath("/var/log/vt", "/srv/start", daily, stamp),
            "/var/log/vt/VTLOG_03_06_26.TXT");
  EXPECT_EQ(LogFilePath("/var/log/vt//", "/srv/start", daily, stamp),
            "/var/log/vt/VTLOG_03_06_26.TXT");
  EXPECT_EQ(LogFilePath("", "/srv/start", daily, stamp), "/srv/start/VTLOG_03_06_26.TXT");
  EXPECT_EQ(LogFilePath("logs", "/srv/start", daily, stamp), "/srv/start/logs/VTLOG_03_06_26.TXT");
  EXPECT_EQ(LogFilePath("/", "/srv/start", 0, stamp), "/VTLOG_202603_WEEK01.TXT");
}

TEST_F(EventLogTest, KeepsTheLast512Lines) {
  EventLog log(MakeOptions());
  log.SetOptions(kEventLogDaily, "");  // no log file
  for (int i = 1; i <= 512; ++i) {
    EXPECT_FALSE(log.Append("event " + std::to_string(i))) << i;
  }
  EXPECT_EQ(log.size(), 512u);
  EXPECT_TRUE(log.Append("event 513"));
  EXPECT_EQ(log.size(), 512u);
  EXPECT_EQ(log.Line(0), "03/06/26 14:05:09  event 2");
  EXPECT_EQ(log.Line(511), "03/06/26 14:05:09  event 513");
  EXPECT_EQ(log.Line(512), "");
  std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), 512u);
  EXPECT_EQ(lines.front(), log.Line(0));
  EXPECT_EQ(lines.back(), log.Line(511));
  EXPECT_FALSE(DefaultFileSystem()->Exists(log.CurrentLogFilePath()));
}

TEST_F(EventLogTest, SetLinesFromTheConfigurationFile) {
  EventLog log(MakeOptions());
  std::vector<std::string> lines;
  for (int i = 0; i < 600; ++i) lines.push_back("line " + std::to_string(i));
  lines.back() = std::string(300, 'z');
  lines[598] = std::string("before\0after", 12);
  lines[597] = std::string(249, 'k');
  log.SetLines(lines);
  ASSERT_EQ(log.size(), 512u);
  EXPECT_EQ(log.Line(0), "line 88");  // the newest 512 stay
  EXPECT_EQ(log.Line(509), std::string(249, 'k'));
  EXPECT_EQ(log.Line(510), "before");
  EXPECT_EQ(log.Line(511), std::string(249, 'z'));
  // What comes back out is what the configuration file saves.
  std::vector<std::string> out = log.Lines();
  log.SetLines(out);
  EXPECT_EQ(log.Lines(), out);
  EXPECT_TRUE(log.Append("next"));
  EXPECT_EQ(log.Line(0), "line 89");
}

TEST_F(EventLogTest, DailyFileGetsEachLineWithOneLineFeed) {
  EventLog log(MakeOptions());
  log.SetOptions(kEventLogUseFile | kEventLogDaily, dir_.Path("logs/deeper"));
  log.Append("Vantrel Started");
  clock_.Set(Stamp(2026, 3, 6, "03/06/26", "14:05:10"));
  log.Append("Database Process Task Started ");
  std::string path = dir_.Path("logs/deeper/VTLOG_03_06_26.TXT");
  EXPECT_EQ(log.CurrentLogFilePath(), path);
  EXPECT_EQ(ReadAll(path),
            "03/06/26 14:05:09  Vantrel Started\n"
            "03/06/26 14:05:10  Database Process Task Started \n");

  // The next day starts a new file; clearing the list leaves the files alone.
  clock_.Set(Stamp(2026, 3, 7, "03/07/26"));
  log.Append("next day");
  EXPECT_EQ(ReadAll(dir_.Path("logs/deeper/VTLOG_03_07_26.TXT")), "03/07/26 14:05:09  next day\n");
  log.Clear();
  EXPECT_EQ(log.size(), 0u);
  EXPECT_NE(ReadAll(path), "<missing>");
  EXPECT_EQ(errors_, 0);
}

TEST_F(EventLogTest, WeeklyFilesSplitAtTheWeekOfTheMonth) {
  EventLog log(MakeOptions());
  log.SetOptions(kEventLogUseFile, dir_.path());
  clock_.Set(Stamp(2026, 3, 6, "03/06/26"));
  log.Append("sixth");
  clock_.Set(Stamp(2026, 3, 7, "03/07/26"));
  log.Append("seventh");
  clock_.Set(Stamp(2026, 3, 31, "03/31/26"));
  log.Append("thirty-first");
  EXPECT_EQ(ReadAll(dir_.Path("VTLOG_202603_WEEK01.TXT")), "03/06/26 14:05:09  sixth\n");
  EXPECT_EQ(ReadAll(dir_.Path("VTLOG_202603_WEEK02.TXT")), "03/07/26 14:05:09  seventh\n");
  EXPECT_EQ(ReadAll(dir_.Path("VTLOG_202603_WEEK05.TXT")), "03/31/26 14:05:09  thirty-first\n");
}

TEST_F(EventLogTest, LogFileKeepsTheWholeLineAndAppendsToEarlierContent) {
  ASSERT_TRUE(dir_.WriteFile("VTLOG_03_06_26.TXT", "earlier\n"));
  EventLog log(MakeOptions());
  log.SetOptions(kEventLogUseFile | kEventLogDaily, "");  // empty: the start directory
  std::string message(400, 'q');
  log.Append(message);
  EXPECT_EQ(log.Line(0).size(), 249u);
  EXPECT_EQ(ReadAll(dir_.Path("VTLOG_03_06_26.TXT")),
            "earlier\n03/06/26 14:05:09  " + message + "\n");
}

TEST_F(EventLogTest, UnwritableLogFileIsReportedOnceAndKeepsTheList) {
  FaultFileSystem faulty(DefaultFileSystem());
  faulty.FailWritesMatching("*VTLOG_*");
  EventLog log(MakeOptions(&faulty));
  log.SetOptions(kEventLogUseFile | kEventLogDaily, dir_.path());
  log.Append("one");
  log.Append("two");
  log.Append("three");
  EXPECT_EQ(log.size(), 3u);
  EXPECT_EQ(errors_, 1);
  EXPECT_FALSE(DefaultFileSystem()->Exists(log.CurrentLogFilePath()));

  faulty.ClearFaults();
  log.Append("four");
  EXPECT_EQ(ReadAll(log.CurrentLogFilePath()), "03/06/26 14:05:09  four\n");
  faulty.FailWritesMatching("*VTLOG_*");
  log.Append("five");
  EXPECT_EQ(errors_, 2) << "a new failure after a success is reported again";
  EXPECT_EQ(log.size(), 5u);
}

TEST_F(EventLogTest, LogFolderThatIsAFileOrHasNoFileSystem) {
  ASSERT_TRUE(dir_.WriteFile("blocker", "x"));
  EventLog log(MakeOptions());
  log.SetOptions(kEventLogUseFile | kEventLogDaily, dir_.Path("blocker/sub"));
  log.Append("cannot be written");
  EXPECT_EQ(log.size(), 1u);
  EXPECT_EQ(errors_, 1);

  EventLog no_fs(MakeOptions(nullptr));
  no_fs.SetOptions(kEventLogUseFile, "/nowhere");
  EXPECT_FALSE(no_fs.Append("still listed"));
  EXPECT_EQ(no_fs.size(), 1u);
  EXPECT_EQ(errors_, 2);
}

TEST_F(EventLogTest, ConcurrentAppendsKeepListAndFileInOneOrder) {
  EventLog log(MakeOptions());
  log.SetOptions(kEventLogUseFile | kEventLogDaily, dir_.path());
  constexpr int kThreads = 4;
  constexpr int kPerThread = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kPerThread; ++i) {
        log.Append("t" + std::to_string(t) + " " + std::to_string(i));
      }
    });
  }
  // Readers run alongside the writers.
  for (int i = 0; i < 50; ++i) EXPECT_LE(log.Lines().size(), size_t{kThreads * kPerThread});
  for (std::thread& thread : threads) thread.join();

  std::string content = ReadAll(log.CurrentLogFilePath());
  std::vector<std::string> file_lines;
  size_t start = 0;
  for (size_t nl; (nl = content.find('\n', start)) != std::string::npos; start = nl + 1) {
    file_lines.push_back(content.substr(start, nl - start));
  }
  EXPECT_EQ(start, content.size()) << "every line ends with a line feed";
  ASSERT_EQ(file_lines.size(), size_t{kThreads * kPerThread});
  EXPECT_EQ(log.Lines(), file_lines);
  // Each thread's lines keep their own order.
  for (int t = 0; t < kThreads; ++t) {
    int next = 0;
    std::string tag = "  t" + std::to_string(t) + " ";
    for (const std::string& line : file_lines) {
      size_t at = line.find(tag);
      if (at == std::string::npos) continue;
      EXPECT_EQ(line.substr(at + tag.size()), std::to_string(next)) << line;
      ++next;
    }
    EXPECT_EQ(next, kPerThread);
  }
  EXPECT_EQ(errors_, 0);
}

TEST(EventLogOptionTest, TaskSendsOptionalLinesOnlyWhenTheirBitIsSet) {
  EXPECT_TRUE(EventLog::ShouldLog(0, 0));
  EXPECT_FALSE(EventLog::ShouldLog(kEventLogDefaultFlags, kEventLogSearches));
  EXPECT_TRUE(EventLog::ShouldLog(kEventLogSearches, kEventLogSearches));
  EXPECT_FALSE(EventLog::ShouldLog(kEventLogSearches, kEventLogFilesAdded));
  EXPECT_TRUE(EventLog::ShouldLog(kEventLogFilesAdded | kEventLogUseFile, kEventLogFilesAdded));
}

}  // namespace
}  // namespace vantrel
