#include "search/search_statistics.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "search/search_log.h"

namespace vantrel {
namespace {

TEST(SearchStatistics, DaysAndAverages) {
  SearchStatistics stats;
  EXPECT_EQ(SearchLoadLine(ComputeSearchLoad(stats)),
            "0 Search/day, 0.0000 Sec. Average Search Time, 0 Average Hits/Search");
  for (int i = 0; i < 10; ++i) RecordSearch(&stats, 0.5, 7, DayKey(2026, 100));
  for (int i = 0; i < 10; ++i) RecordSearch(&stats, 0.25, 3, DayKey(2026, 101));
  EXPECT_EQ(stats.days, 2u);
  SearchLoad load = ComputeSearchLoad(stats);
  EXPECT_EQ(load.searches_per_day, 10u);
  EXPECT_DOUBLE_EQ(load.average_seconds, 0.375);
  EXPECT_EQ(load.average_hits, 5u);
  EXPECT_EQ(SearchLoadLine(load),
            "10 Search/day, 0.3750 Sec. Average Search Time, 5 Average Hits/Search");

  // 31 December and 1 January are two days: the year is part of the key.
  SearchStatistics turn;
  RecordSearch(&turn, 1, 1, DayKey(1999, 364));
  RecordSearch(&turn, 1, 1, DayKey(2000, 0));
  EXPECT_EQ(turn.days, 2u);
  EXPECT_EQ(turn.last_day, 100000u);
  EXPECT_EQ(DayKey(1999, 364), 99364u);
}

TEST(SearchStatistics, ClearedBookCountsANewDay) {
  SearchStatisticsBook book;
  book.Record(3, 1.0, 4, 126010);
  book.Clear(3);
  EXPECT_EQ(book.Get(3), SearchStatistics{});
  SearchStatistics after = book.Record(3, 1.0, 4, 126010);
  EXPECT_EQ(after.days, 1u);
  EXPECT_EQ(after.searches, 1u);
  // Index numbers outside the book are ignored.
  EXPECT_EQ(book.Record(32, 1.0, 4, 1), SearchStatistics{});
  EXPECT_EQ(book.Get(-1), SearchStatistics{});
}

TEST(SearchStatistics, BookLosesNoUpdate) {
  SearchStatisticsBook book;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&book] {
      for (int i = 0; i < 5000; ++i) book.Record(1, 0.001, 2, 126000);
    });
  }
  for (std::thread& t : threads) t.join();
  SearchStatistics s = book.Get(1);
  EXPECT_EQ(s.searches, 40000u);
  EXPECT_EQ(s.hits, 80000u);
  EXPECT_EQ(s.days, 1u);
  EXPECT_NEAR(s.seconds, 40.0, 1e-6);
}

TEST(SearchStatistics, RecordMessageRoundTripAndApply) {
  SearchRecord r{2, 77, 0.125, 126045};
  std::string bytes = EncodeSearchRecord(r);
  ASSERT_EQ(bytes.size(), kSearchRecordSize);
  EXPECT_EQ(DecodeSearchRecord(bytes), r);
  EXPECT_FALSE(DecodeSearchRecord(bytes.substr(1)));
  EXPECT_FALSE(DecodeSearchRecord(bytes + "x"));

  Configuration config;
  config.indexes.resize(2);
  EXPECT_FALSE(ApplySearchRecord(&config, r));  // no index 2
  r.index = 1;
  ASSERT_TRUE(ApplySearchRecord(&config, r));
  EXPECT_EQ(config.indexes[1].statistics.searches, 1u);
  EXPECT_EQ(config.indexes[1].statistics.hits, 77u);
  EXPECT_EQ(config.indexes[1].statistics.last_day, 126045u);
  // A damaged time is not added.
  r.seconds = -5;
  ASSERT_TRUE(ApplySearchRecord(&config, r));
  EXPECT_DOUBLE_EQ(config.indexes[1].statistics.seconds, 0.125);
  r.index = -1;
  EXPECT_FALSE(ApplySearchRecord(&config, r));
}

TEST(SearchStatistics, ContentTotalsAndLines) {
  std::vector<IndexContent> indexes(3);
  indexes[0] = {true, 2, 100, 5, 10, 1000};
  indexes[1] = {false, 4, 999, 9, 99, 9999};  // not active: never counted
  indexes[2] = {true, 1, 50, -20, 3, 500};
  ContentTotals all = ComputeContentTotals(indexes, -1);
  EXPECT_EQ(all.indexes, 2);
  EXPECT_EQ(all.files, 150);
  EXPECT_EQ(all.image_folders, 3);
  EXPECT_EQ(all.sub_folders, 13);
  EXPECT_EQ(all.words, 1500);
  EXPECT_EQ(all.unused, 0);  // -15 shows as 0
  EXPECT_EQ(DisksLine(all), "150 Files, 3 Folders, 13 Subfolders");
  EXPECT_EQ(TotalDatabaseLine(all), "2 Index Files, 0 Unused DB entries, 1500 Words");

  ContentTotals one = ComputeContentTotals(indexes, 0);
  EXPECT_EQ(one.indexes, 1);
  EXPECT_EQ(IndexDatabaseLine(one), "5 Unused DB entries, 1000 Words");
  EXPECT_EQ(ComputeContentTotals(indexes, 1).indexes, 0);
  EXPECT_EQ(ComputeContentTotals(indexes, 7).files, 0);

  EXPECT_EQ(StatisticsTitle("Pictures"), "Statistics for Index:  Pictures");
}

TEST(SearchStatistics, MemoryFigures) {
  MemoryFigures m = MakeMemoryFigures(3 * 1048576, 1 * 1048576, 0);
  EXPECT_EQ(m.load_percent, 75);
  EXPECT_EQ(MemoryLine(m), "3.0 MB Used Memory, 1.0 MB Free Memory , 75% Memory Load");
  EXPECT_EQ(MakeMemoryFigures(0, 0, 0).load_percent, 0);
  MemoryFigures real = ReadMemoryFigures(DefaultFileSystem());
  EXPECT_GT(real.used_bytes, 0u);
  EXPECT_GT(real.free_bytes, 0u);
  EXPECT_LE(real.load_percent, 100);
}

TEST(SearchLog, LinesKeepLongTextsWhole) {
  std::string query(600, 'q');
  SearchLogFigures f;
  f.query = query;
  f.option_bits = 0x1A;
  f.active_searches = 3;
  f.date_mode = 1;
  f.restrict_flag = 1;
  f.merge_flag = 0;
  f.hits_found = 12;
  f.seconds = 0.0456;
  EXPECT_EQ(SearchEventLine(f),
            "Search " + query + " 1a 3 1 1 0   12 Hits found in  0.046 Seconds");
  EXPECT_EQ(LastSearchLine("boats AND harbour", 2, 1.5),
            "boats AND harbour  2 Hits found in  1.500 Seconds");
  EXPECT_EQ(QueryEventLine(query, 0, 0),
            "Search " + query.substr(0, 32) + "  0 Hits found in  0.000 Seconds");
  EXPECT_EQ(QueryLogText("short"), "short");
}

// The failure side file and the posted record take only what they wrote.
TEST(EngineFailures, SideFileAndRecordCodecs) {
  EXPECT_EQ(EncodeEngineFailureFile(42), "engine failures 42\n");
  EXPECT_EQ(DecodeEngineFailureFile("engine failures 42\n"), std::optional<uint32_t>(42));
  EXPECT_EQ(DecodeEngineFailureFile("engine failures 7\r\n"), std::optional<uint32_t>(7));
  for (const char* bad : {"", "engine failures \n", "engine failures -1", "engine failures 9x",
                          "engine failures 99999999999", "failures 3", "engine failures 1 2"}) {
    EXPECT_EQ(DecodeEngineFailureFile(bad), std::nullopt) << bad;
  }
  EXPECT_EQ(DecodeEngineFailureFile("engine failures " + std::string(60, '1')), std::nullopt);
  // The side file lives in the data folder, not beside it under a name with a backslash.
  EXPECT_EQ(EngineFailureFilePath("/srv/idx"), "/srv/idx/VT_DATA/ENGFAIL.DAT");

  const EngineFailureRecord r{31, 0xFFFFFFF0u};
  EXPECT_EQ(DecodeEngineFailureRecord(EncodeEngineFailureRecord(r)), r);
  EXPECT_EQ(DecodeEngineFailureRecord(EncodeEngineFailureRecord({32, 1})), std::nullopt);
  EXPECT_EQ(DecodeEngineFailureRecord(EncodeEngineFailureRecord({-1, 1})), std::nullopt);
  EXPECT_EQ(DecodeEngineFailureRecord(std::string(7, '\0')), std::nullopt);

  // The first failure of an index adds to the stored count, once.
  SearchStatisticsBook book;
  int reads = 0;
  auto stored = [&reads]() -> uint32_t { ++reads; return 5; };
  EXPECT_EQ(book.RecordEngineFailure(2, stored), 6u);
  EXPECT_EQ(book.RecordEngineFailure(2, stored), 7u);
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(book.EngineFailures(2), 7u);
  EXPECT_EQ(book.RecordEngineFailure(40, stored), 0u);
}

}  // namespace
}  // namespace vantrel
