#include "core/config_file.h"

#include <sys/stat.h>

#include <cstring>
#include <random>
#include <string>

#include "gtest/gtest.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

namespace L = config_layout;

// ---- byte helpers for hand-built files -------------------------------------

void Put32(std::string* b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[off + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}
uint32_t Get32(const std::string& b, size_t off) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[off + i]);
  return v;
}
void PutStr(std::string* b, size_t off, const std::string& s) {
  std::memcpy(b->data() + off, s.data(), s.size());
}
void Fill(std::string* b, size_t off, size_t n, uint8_t seed) {
  for (size_t i = 0; i < n; ++i) (*b)[off + i] = static_cast<char>(seed + i * 7);
}
size_t Def(int i) { return L::kBlockSize + i * L::kDefinitionSize; }
size_t Slot(int i, int s) { return Def(i) + L::kImageFolders + s * L::kFolderEntrySize; }

// A well-formed file with `indexes` definitions and `events` lines. Every
// persistent field holds a recognisable value, every kept reserved area a
// pattern; runtime fields hold what the encoder writes (zero, -1 for the watch
// handles), so that decode + encode must give the same bytes back.
std::string BuildFile(int indexes, int events, uint32_t magic = L::kMagicCurrent) {
  std::string b(L::kBlockSize + indexes * L::kDefinitionSize + events * L::kEventLineSize, '\0');
  Fill(&b, L::kReservedIgnored, L::kReservedIgnoredSize, 1);
  for (int i = 0; i < 32; ++i) Put32(&b, L::kPerIndexWords + 4 * i, 1000 + i);
  Fill(&b, L::kReservedKept1, L::kReservedKept1Size, 2);
  PutStr(&b, L::kEditPassword, "secret");
  Put32(&b, L::kMagic, magic);
  Put32(&b, L::kIndexCount, indexes);
  Put32(&b, L::kLogFlags, 13);
  PutStr(&b, L::kLogFolder, "/var/log/vantrel");
  Put32(&b, L::kEventCount, events);
  Fill(&b, L::kReservedKept2, L::kReservedKept2Size, 3);
  PutStr(&b, L::kPdfSettings + L::kPdfFolder, "/srv/pdf");
  PutStr(&b, L::kPdfSettings + L::kPdfMacPath, "Pdf:");
  PutStr(&b, L::kPdfSettings + L::kPdfWinPath, "\\\\SRV\\PDF");
  Put32(&b, L::kPdfSettings + L::kPdfThumbnailSize, 120);
  Put32(&b, L::kPdfSettings + L::kPdfPreviewSize, 900);
  Put32(&b, L::kPdfSettings + L::kPdfLeadingPreview, 1);
  Fill(&b, L::kReservedKept3, L::kReservedKept3Size, 4);
  for (int i = 0; i < indexes; ++i) {
    size_t d = Def(i);
    PutStr(&b, d + L::kIndexName, "Index" + std::to_string(i));
    PutStr(&b, d + L::kIndexFolder, "/srv/idx" + std::to_string(i));
    PutStr(&b, d + L::kEngineFolder, "/srv/idx/VT_DATA/VT_INDEX");
    PutStr(&b, d + L::kListsFolder, "/srv/idx/VT_DATA/VT_LISTS");
    PutStr(&b, d + L::kSearchFolder, "/srv/idx/VT_SEARCH");
    Fill(&b, d + L::kPadding, L::kPaddingSize, 5);
    for (int s = 0; s < 32; ++s) {
      size_t e = Slot(i, s);
      if (s % 3 == 0) PutStr(&b, e + L::kFolderPath, "/img/" + std::to_string(s));
      PutStr(&b, e + L::kFolderMacVolume, "Vol:" + std::to_string(s));
      PutStr(&b, e + L::kFolderWinShare, "\\\\SRV\\S" + std::to_string(s));
      Put32(&b, e + L::kFolderWatchHandle, 0xffffffff);
      Put32(&b, e + L::kFolderIncludeSub, s % 2);
      Fill(&b, e + L::kFolderReserved, L::kFolderReservedSize, static_cast<uint8_t>(s));
    }
    Put32(&b, d + L::kSearchWatchHandle, 0xffffffff);
    Put32(&b, d + L::kDocumentCount, 777);
    Put32(&b, d + L::kSpaceWarning, 0);
    Put32(&b, d + L::kSpaceLimitMb, 55);
    Put32(&b, d + L::kBrowseLimitOn, 1);
    Put32(&b, d + L::kBrowseLimit, 5000);
    Fill(&b, d + L::kReservedDefKept1, L::kReservedDefKept1Size, 6);
    Fill(&b, d + L::kReservedDefKept2, L::kReservedDefKept2Size, 7);
    Put32(&b, d + L::kMacText, 1);
    Put32(&b, d + L::kDocInfo, 0);
    Put32(&b, d + L::kEmptyFields, 2);
    Put32(&b, d + L::kOptimizeHour, 24);
    Put32(&b, d + L::kUnusedThreshold, static_cast<uint32_t>(-3));
    Put32(&b, d + L::kActive, 1);
    Fill(&b, d + L::kReservedDefKept3, L::kReservedDefKept3Size, 8);
    Put32(&b, d + L::kSearchesServed, 42);
    Put32(&b, d + L::kHitsReturned, 4200);
    double secs = 12.5;
    std::memcpy(b.data() + d + L::kSearchSeconds, &secs, 8);
    Put32(&b, d + L::kSearchDays, 3);
    Put32(&b, d + L::kLastSearchDay, 126339);
  }
  for (int k = 0; k < events; ++k) {
    PutStr(&b, Def(indexes) + k * L::kEventLineSize, "event " + std::to_string(k));
  }
  return b;
}

// Names every folder after its path, so tests can see which path was asked.
class EchoNamer : public VolumeNamer {
 public:
  std::string WindowsShareName(const std::string& path) override { return "\\\\SRV" + path; }
  std::string MacVolumeName(const std::string& path) override { return "Mac" + path; }
};

ConfigLoad Decode(const std::string& bytes) {
  EchoNamer namer;
  return DecodeConfiguration(bytes, namer);
}

// ---- codec -----------------------------------------------------------------

TEST(ConfigCodecTest, HandBuiltFileDecodesAndRoundTripsByteExact) {
  const std::string file = BuildFile(2, 3);
  ConfigLoad load = Decode(file);
  ASSERT_TRUE(load.status.ok()) << load.status.ToString();
  EXPECT_TRUE(load.warnings.empty());
  const Configuration& c = load.config;
  EXPECT_EQ(c.edit_password, "secret");
  EXPECT_EQ(c.log_flags, 13u);
  EXPECT_EQ(c.log_folder, "/var/log/vantrel");
  EXPECT_EQ(c.per_index_words[31], 1031u);
  EXPECT_EQ(c.pdf.folder, "/srv/pdf");
  EXPECT_EQ(c.pdf.win_path, "\\\\SRV\\PDF");
  EXPECT_EQ(c.pdf.thumbnail_size, 120u);
  EXPECT_EQ(c.pdf.leading_preview, 1u);
  ASSERT_EQ(c.indexes.size(), 2u);
  const IndexDefinition& d = c.indexes[1];
  EXPECT_EQ(d.name, "Index1");
  EXPECT_EQ(d.index_folder, "/srv/idx1");
  EXPECT_EQ(d.image_folders[3].path, "/img/3");
  EXPECT_FALSE(d.image_folders[4].used());
  EXPECT_EQ(d.image_folders[4].mac_volume, "Vol:4");
  EXPECT_EQ(d.image_folders[5].include_subfolders, 1u);
  EXPECT_EQ(d.space_limit_mb, 55u);
  EXPECT_EQ(d.browse_limit, 5000u);
  EXPECT_EQ(d.empty_fields, 2u);
  EXPECT_EQ(d.optimize_hour, 24u);
  EXPECT_EQ(d.unused_threshold, -3);
  EXPECT_EQ(d.statistics.seconds, 12.5);
  EXPECT_EQ(d.statistics.last_day, 126339u);
  ASSERT_EQ(c.event_lines.size(), 3u);
  EXPECT_EQ(c.event_lines[2], "event 2");

  EXPECT_EQ(EncodeConfiguration(c), file);
}

TEST(ConfigCodecTest, RuntimeFieldsAndClearedWordsAreWrittenAsAfterLoad) {
  std::string dirty = BuildFile(1, 1);
  const std::string clean = dirty;
  // Runtime fields and the words cleared on load, as a running server left them.
  const size_t runtime_block[] = {
      L::kIndexSlots,     L::kReservedCleared1, L::kReservedCleared1 + 4, L::kWatcherThreadId,
      L::kStatusWindow,   L::kReservedCleared2, L::kReservedCleared2 + 4, L::kEventReferences + 40,
      L::kThumbnailQueue, L::kTaskContext};
  for (size_t off : runtime_block) Put32(&dirty, off, 0xdeadbeef);
  const size_t runtime_def[] = {L::kRuntimeLists,        L::kRuntimeLists + 16,
                                L::kSearchWatchArmed,    L::kSearchWatchOverlapped + 8,
                                L::kSearchWatchBuffer,   L::kSearchWatchHandle,
                                L::kSearchWatchBytes,    L::kReservedDefCleared1,
                                L::kStatisticsRecord,    L::kOptimizeDone,
                                L::kReservedDefCleared2, L::kReservedDefCleared2 + 4,
                                L::kRestartState};
  for (size_t off : runtime_def) Put32(&dirty, Def(0) + off, 0x12345678);
  const size_t runtime_slot[] = {L::kFolderChangeQueue,     L::kFolderWatchArmed,
                                 L::kFolderOverlapped + 16, L::kFolderBuffer,
                                 L::kFolderWatchHandle,     L::kFolderNotifyBytes};
  for (int s : {0, 17, 31}) {
    for (size_t off : runtime_slot) Put32(&dirty, Slot(0, s) + off, 0x0badf00d);
  }
  ConfigLoad load = Decode(dirty);
  ASSERT_TRUE(load.status.ok());
  EXPECT_EQ(EncodeConfiguration(load.config), clean);
}

// The first word of the definition's last reserved area holds the metadata
// switches; the 384 bytes after it stay as read, whatever the word becomes.
TEST(ConfigCodecTest, MetadataSwitchWordIsDecodedEditedAndWrittenBackAmongKeptBytes) {
  std::string file = BuildFile(1, 0);
  const size_t word = Def(0) + L::kReservedDefKept3;
  ConfigLoad plain = Decode(file);
  ASSERT_TRUE(plain.status.ok());
  EXPECT_EQ(plain.config.indexes[0].metadata_switches, Get32(file, word));

  Put32(&file, word, 0);  // as in every file written before the switches
  ConfigLoad load = Decode(file);
  EXPECT_EQ(load.config.indexes[0].metadata_switches, 0u);

  load.config.indexes[0].metadata_switches = 0x8000000Du;
  const std::string out = EncodeConfiguration(load.config);
  EXPECT_EQ(Get32(out, word), 0x8000000Du);
  EXPECT_EQ(out.substr(word + 4, L::kReservedDefKept3Size - 4),
            file.substr(word + 4, L::kReservedDefKept3Size - 4));
  EXPECT_EQ(Decode(out).config.indexes[0].metadata_switches, 0x8000000Du);
}

TEST(ConfigCodecTest, WrongMagicOrShortBlockGivesDefaultsAndFailure) {
  std::string wrong = BuildFile(1, 1, 12345);
  std::string short_block = BuildFile(0, 0).substr(0, L::kBlockSize - 1);
  for (const std::string& bytes : {wrong, short_block, std::string(), std::string(100, 'x')}) {
    ConfigLoad load = Decode(bytes);
    EXPECT_EQ(load.status.code(), StatusCode::kCorruption) << bytes.size();
    EXPECT_EQ(load.config, Configuration());
  }
}

TEST(ConfigCodecTest, PreviousLayoutMovesSlotsUpAndAddsOfflineFolder) {
  std::string file = BuildFile(1, 0, L::kMagicPrevious);
  for (int s = 0; s < 32; ++s)
    PutStr(&file, Slot(0, s) + L::kFolderPath, "/old/" + std::to_string(s) + '\0');
  ConfigLoad load = Decode(file);
  ASSERT_TRUE(load.status.ok());
  EXPECT_EQ(load.config.magic, L::kMagicPrevious);
  const IndexDefinition& d = load.config.indexes[0];
  EXPECT_EQ(d.image_folders[0].path, "/srv/idx0/OffLine");
  EXPECT_EQ(d.image_folders[0].windows_share, "\\\\SRV/srv/idx0/OffLine");
  EXPECT_EQ(d.image_folders[0].mac_volume, "Mac/srv/idx0/OffLine");
  EXPECT_EQ(d.image_folders[0].include_subfolders, 1u);
  for (int s = 1; s < 32; ++s) {
    EXPECT_EQ(d.image_folders[s].path, "/old/" + std::to_string(s - 1)) << s;
    EXPECT_EQ(d.image_folders[s].mac_volume, "Vol:" + std::to_string(s - 1)) << s;
  }
  for (const ImageFolderEntry& e : d.image_folders) EXPECT_NE(e.path, "/old/31");

  // The next save writes the current magic; loading that again converts nothing.
  std::string saved = EncodeConfiguration(load.config);
  EXPECT_EQ(Get32(saved, L::kMagic), L::kMagicCurrent);
  ConfigLoad again = Decode(saved);
  EXPECT_EQ(again.config.indexes[0].image_folders, d.image_folders);
}

TEST(ConfigCodecTest, CutFileKeepsWholeRecordsBeforeTheCut) {
  const std::string full = BuildFile(3, 4);
  const size_t events_at = Def(3);
  struct Case {
    size_t size;
    size_t indexes;
    size_t events;
  };
  const Case cases[] = {
      {L::kBlockSize, 0, 0},   {L::kBlockSize + 1, 0, 0},
      {Def(1) - 1, 0, 0},      {Def(1), 1, 0},
      {Def(2) + 100, 2, 0},    {events_at - 1, 2, 0},
      {events_at, 3, 0},       {events_at + 249, 3, 0},
      {events_at + 250, 3, 1}, {events_at + 3 * 250 + 10, 3, 3},
      {full.size() - 1, 3, 3},
  };
  for (const Case& c : cases) {
    ConfigLoad load = Decode(full.substr(0, c.size));
    EXPECT_TRUE(load.status.ok()) << c.size;
    EXPECT_EQ(load.config.indexes.size(), c.indexes) << c.size;
    EXPECT_EQ(load.config.event_lines.size(), c.events) << c.size;
    EXPECT_EQ(load.warnings.size(), 1u) << c.size;
    if (c.events > 0) {
      EXPECT_EQ(load.config.event_lines.back(), "event " + std::to_string(c.events - 1));
    }
  }
  ConfigLoad whole = Decode(full);
  EXPECT_TRUE(whole.warnings.empty());
  EXPECT_EQ(whole.config.event_lines.size(), 4u);
  // Bytes after the last event line are left unread, and said so.
  ConfigLoad longer = Decode(full + "xyz");
  EXPECT_EQ(longer.config.indexes.size(), 3u);
  EXPECT_EQ(longer.config.event_lines.size(), 4u);
  ASSERT_EQ(longer.warnings.size(), 1u);
  EXPECT_NE(longer.warnings[0].find("ignored 3 bytes"), std::string::npos) << longer.warnings[0];
}

TEST(ConfigCodecTest, CountsOutOfRangeAreClampedWithAWarning) {
  struct Case {
    uint32_t index_count;
    uint32_t event_count;
    size_t indexes;
    size_t events;
  };
  const Case cases[] = {
      {0x7fffffff, 0, 2, 0},                 // far too many indexes: only what the file holds
      {static_cast<uint32_t>(-5), 3, 0, 0},  // negative count: none; events then follow the block
      {2, 100000, 2, 3},
      {2, 0x80000000, 2, 0},
  };
  const std::string base = BuildFile(2, 3);
  for (const Case& c : cases) {
    std::string bytes = base;
    Put32(&bytes, L::kIndexCount, c.index_count);
    Put32(&bytes, L::kEventCount, c.event_count);
    ConfigLoad load = Decode(bytes);
    EXPECT_TRUE(load.status.ok());
    EXPECT_EQ(load.config.indexes.size(), c.indexes) << c.index_count;
    EXPECT_FALSE(load.warnings.empty());
    if (c.index_count == 2) {
      EXPECT_EQ(load.config.event_lines.size(), c.events);
    }
  }
}

TEST(ConfigCodecTest, AnyBytesDecodeWithoutFault) {
  const std::string base = BuildFile(2, 5);
  std::mt19937 rng(1234);
  for (int round = 0; round < 300; ++round) {
    std::string bytes = base;
    for (int k = 0; k < 20; ++k) bytes[rng() % bytes.size()] = static_cast<char>(rng());
    if (round % 3 == 0) Put32(&bytes, L::kIndexCount, rng());
    if (round % 5 == 0) Put32(&bytes, L::kEventCount, rng());
    if (round % 7 == 0) bytes.resize(L::kBlockSize + rng() % (bytes.size() - L::kBlockSize));
    Put32(&bytes, L::kMagic, round % 2 ? L::kMagicCurrent : L::kMagicPrevious);
    ConfigLoad load = Decode(bytes);
    ASSERT_TRUE(load.status.ok());
    EXPECT_LE(load.config.indexes.size(), 32u);
    EXPECT_LE(load.config.event_lines.size(), 512u);
    for (const std::string& line : load.config.event_lines) EXPECT_LE(line.size(), 249u);
    // What was decoded encodes, and decodes again, to the same bytes.
    std::string once = EncodeConfiguration(load.config);
    EXPECT_EQ(EncodeConfiguration(Decode(once).config), once);
  }
}

TEST(ConfigCodecTest, EventLinesAreCutTo249AndOnlyTheNewest512Kept) {
  Configuration c;
  c.event_lines = {std::string(249, 'a'), std::string(250, 'b'), std::string(400, 'c'), ""};
  ConfigLoad load = Decode(EncodeConfiguration(c));
  ASSERT_EQ(load.config.event_lines.size(), 4u);
  EXPECT_EQ(load.config.event_lines[0], std::string(249, 'a'));
  EXPECT_EQ(load.config.event_lines[1], std::string(249, 'b'));
  EXPECT_EQ(load.config.event_lines[2], std::string(249, 'c'));
  EXPECT_EQ(load.config.event_lines[3], "");

  // A stored line without a terminator loses its last byte.
  std::string file = BuildFile(0, 1);
  std::memset(file.data() + L::kBlockSize, 'z', L::kEventLineSize);
  EXPECT_EQ(Decode(file).config.event_lines[0], std::string(249, 'z'));

  c.event_lines.clear();
  for (int i = 0; i < 513; ++i) c.event_lines.push_back("line " + std::to_string(i));
  std::string bytes = EncodeConfiguration(c);
  EXPECT_EQ(Get32(bytes, L::kEventCount), 512u);
  load = Decode(bytes);
  ASSERT_EQ(load.config.event_lines.size(), 512u);
  EXPECT_EQ(load.config.event_lines.front(), "line 1");
  EXPECT_EQ(load.config.event_lines.back(), "line 512");
}

TEST(ConfigCodecTest, BrowseLimitRule) {
  struct Case {
    uint32_t on, limit, want_on, want_limit;
  };
  const Case cases[] = {{1, 2500, 0, 10000},
                        {2, 3000, 0, 10000},
                        {1, 3000, 1, 3000},
                        {0, 0, 0, 0},
                        {0, 999, 0, 10000}};
  for (const Case& c : cases) {
    std::string file = BuildFile(1, 0);
    Put32(&file, Def(0) + L::kBrowseLimitOn, c.on);
    Put32(&file, Def(0) + L::kBrowseLimit, c.limit);
    ConfigLoad load = Decode(file);
    EXPECT_EQ(load.config.indexes[0].browse_limit_on, c.want_on) << c.on << " " << c.limit;
    EXPECT_EQ(load.config.indexes[0].browse_limit, c.want_limit) << c.on << " " << c.limit;
    EXPECT_EQ(load.warnings.size(), c.want_limit != c.limit ? 1u : 0u);
  }
}

TEST(ConfigCodecTest, OverlongTextsAreCutToTheirFields) {
  Configuration c;
  c.edit_password = std::string(50, 'p');
  c.log_folder = std::string(400, 'l');
  IndexDefinition d;
  d.name = std::string(40, 'n');
  d.image_folders[3].path = std::string(300, 'f');
  c.indexes.push_back(d);
  std::string bytes = EncodeConfiguration(c);
  ASSERT_EQ(bytes.size(), L::kBlockSize + L::kDefinitionSize);
  EXPECT_EQ(bytes[L::kEditPassword + 35], '\0');
  EXPECT_EQ(bytes[L::kIndexCount], 1);  // the cut text did not spill over
  const Configuration& back = Decode(bytes).config;
  EXPECT_EQ(back.edit_password, std::string(35, 'p'));
  EXPECT_EQ(back.log_folder, std::string(299, 'l'));
  EXPECT_EQ(back.indexes[0].name, std::string(32, 'n'));
  EXPECT_EQ(back.indexes[0].image_folders[3].path, std::string(255, 'f'));
}

TEST(ConfigCodecTest, DefaultsAreTheDocumentedOnes) {
  Configuration c;
  c.edit_password = "x";
  c.indexes.emplace_back();
  c.event_lines.push_back("e");
  ResetToDefaults(&c);
  std::string bytes = EncodeConfiguration(c);
  ASSERT_EQ(bytes.size(), L::kBlockSize);
  EXPECT_EQ(Get32(bytes, L::kMagic), 45688u);
  EXPECT_EQ(Get32(bytes, L::kLogFlags), 2u);
  EXPECT_EQ(Get32(bytes, L::kPdfSettings + L::kPdfThumbnailSize), 300u);
  EXPECT_EQ(Get32(bytes, L::kPdfSettings + L::kPdfPreviewSize), 800u);
  EXPECT_EQ(Get32(bytes, L::kPdfSettings + L::kPdfLeadingPreview), 3u);
  EXPECT_EQ(Get32(bytes, L::kIndexCount), 0u);
  EXPECT_EQ(Get32(bytes, L::kEventCount), 0u);
  EXPECT_EQ(bytes[L::kEditPassword], '\0');
}

// ---- operations ------------------------------------------------------------

Configuration WithIndexes(int n) {
  Configuration c;
  EchoNamer namer;
  for (int i = 0; i < n; ++i) {
    StatusOr<IndexDefinition> def =
        NewIndexDefinition("I" + std::to_string(i), "/srv/i" + std::to_string(i));
    EXPECT_TRUE(def.ok());
    StatusOr<int> count = AddIndex(&c, *def, namer);
    EXPECT_TRUE(count.ok());
  }
  return c;
}

TEST(ConfigOpsTest, NewAndAddedIndexHaveDefaultsAndAnOfflineFolder) {
  StatusOr<IndexDefinition> def = NewIndexDefinition("News", "/srv/news/");
  ASSERT_TRUE(def.ok());
  EXPECT_EQ(CountImageFolders(Configuration(), 0), 0);
  def->active = 1;
  def->statistics.searches = 9;
  def->document_count = 5;
  Configuration c;
  EchoNamer namer;
  StatusOr<int> count = AddIndex(&c, *def, namer);
  ASSERT_TRUE(count.ok());
  EXPECT_EQ(*count, 1);
  const IndexDefinition& d = *IndexAt(c, 0);
  EXPECT_EQ(d.active, 0u);
  EXPECT_EQ(d.statistics, SearchStatistics());
  EXPECT_EQ(d.document_count, 0u);
  EXPECT_EQ(d.image_folders[0].path, "/srv/news/OffLine");
  EXPECT_EQ(d.image_folders[0].windows_share, "\\\\SRV/srv/news/OffLine");
  EXPECT_EQ(d.doc_info, 1u);
  EXPECT_EQ(d.empty_fields, 1u);
  EXPECT_EQ(d.optimize_hour, 4u);
  EXPECT_EQ(d.space_warning, 1u);
  EXPECT_EQ(d.space_limit_mb, 100u);
  EXPECT_EQ(d.browse_limit, 10000u);
  for (int s = 1; s < 32; ++s) EXPECT_EQ(d.image_folders[s].include_subfolders, 1u);
  EXPECT_EQ(CountImageFolders(c, 0), 1);
  EXPECT_EQ(IndexFolderOf(c, 0), "/srv/news/");
  EXPECT_EQ(IndexFolderOf(c, 1), "");
  EXPECT_EQ(IndexAt(c, 1), nullptr);
  EXPECT_EQ(IndexAt(c, -1), nullptr);

  IndexDefinition derived = d;
  DeriveIndexFolders(&derived);
  EXPECT_EQ(derived.engine_folder, "/srv/news/VT_DATA/VT_INDEX");
  EXPECT_EQ(derived.lists_folder, "/srv/news/VT_DATA/VT_LISTS");
  EXPECT_EQ(derived.search_folder, "/srv/news/VT_SEARCH");
}

TEST(ConfigOpsTest, BadIndexTextsAreRefused) {
  EXPECT_FALSE(NewIndexDefinition("", "/srv").ok());
  EXPECT_FALSE(NewIndexDefinition("x", "").ok());
  EXPECT_FALSE(NewIndexDefinition(std::string(33, 'n'), "/srv").ok());
  EXPECT_TRUE(NewIndexDefinition(std::string(32, 'n'), "/" + std::string(237, 'f')).ok());
  EXPECT_FALSE(NewIndexDefinition("x", "/" + std::string(238, 'f')).ok());
}

TEST(ConfigOpsTest, PathIsWithinComparesWholeComponents) {
  struct Case {
    const char* path;
    const char* folder;
    bool within;
  };
  const Case cases[] = {
      {"/srv/img/index", "/srv/img", true},
      {"/srv/img", "/srv/img/", true},
      {"/srv/img/", "/srv/img", true},
      {"/srv/images/index", "/srv/img", false},
      {"/srv/img", "/srv/img/index", false},
      {"/srv/Img/index", "/srv/img", false},
      {"/anything", "/", true},
      {"/srv/img", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PathIsWithin(c.path, c.folder), c.within) << c.path << " in " << c.folder;
  }
}

TEST(ConfigOpsTest, ThirtyThirdIndexIsRefused) {
  Configuration c = WithIndexes(32);
  EXPECT_EQ(IndexCount(c), 32);
  EchoNamer namer;
  StatusOr<int> r = AddIndex(&c, *NewIndexDefinition("x", "/x"), namer);
  EXPECT_EQ(r.status().code(), StatusCode::kResourceExhausted);
  EXPECT_EQ(IndexCount(c), 32);
}

TEST(ConfigOpsTest, DeleteIndexMovesLaterIndexesAndWordsDown) {
  Configuration c = WithIndexes(3);
  c.per_index_words = {};
  c.per_index_words[0] = 10;
  c.per_index_words[1] = 11;
  c.per_index_words[2] = 12;
  c.per_index_words[31] = 99;
  ASSERT_TRUE(DeleteIndex(&c, 0).ok());
  ASSERT_EQ(IndexCount(c), 2);
  EXPECT_EQ(IndexAt(c, 0)->name, "I1");
  EXPECT_EQ(IndexAt(c, 1)->name, "I2");
  EXPECT_EQ(c.per_index_words[0], 11u);
  EXPECT_EQ(c.per_index_words[1], 12u);
  EXPECT_EQ(c.per_index_words[30], 99u);
  EXPECT_EQ(c.per_index_words[31], 0u);
  EXPECT_FALSE(DeleteIndex(&c, 2).ok());
  EXPECT_FALSE(DeleteIndex(&c, -1).ok());
}

TEST(ConfigOpsTest, ImageFoldersTakeTheLowestFreeSlotAndCountOnlyUsedOnes) {
  Configuration c = WithIndexes(1);
  for (int k = 1; k <= 31; ++k) {
    StatusOr<int> slot = AddImageFolder(&c, 0, "/img/" + std::to_string(k), "w", "m", k != 5);
    ASSERT_TRUE(slot.ok());
    EXPECT_EQ(*slot, k);
  }
  EXPECT_EQ(AddImageFolder(&c, 0, "/img/x", "", "", true).status().code(),
            StatusCode::kResourceExhausted);
  EXPECT_EQ(CountImageFolders(c, 0), 32);

  // Remove the 3rd and 6th used slots (slots 3 and 6, counting the offline
  // folder as the 0th).
  ASSERT_TRUE(RemoveImageFolder(&c, 0, 6).ok());
  ASSERT_TRUE(RemoveImageFolder(&c, 0, 3).ok());
  EXPECT_EQ(CountImageFolders(c, 0), 30);
  EXPECT_EQ(c.indexes[0].image_folders[3].windows_share, "w");  // other fields stay
  // Positions now skip the free slots.
  EXPECT_EQ(UsedSlot(c, 0, 3), 4);
  EXPECT_EQ(UsedSlot(c, 0, 5), 7);
  EXPECT_EQ(GetImageFolder(c, 0, 4)->path, "/img/5");
  EXPECT_EQ(GetImageFolder(c, 0, 4)->include_subfolders, 0u);
  EXPECT_EQ(GetImageFolder(c, 0, 30), nullptr);
  EXPECT_EQ(UsedSlot(c, 1, 0), -1);
  EXPECT_EQ(RemoveImageFolder(&c, 0, 30).code(), StatusCode::kNotFound);

  // The next folder reuses the lowest free slot and so the old folder number.
  StatusOr<int> slot = AddImageFolder(&c, 0, "/img/new", "", "", true);
  ASSERT_TRUE(slot.ok());
  EXPECT_EQ(*slot, 3);
  EXPECT_EQ(c.indexes[0].image_folders[3].windows_share, "");

  ImageFolderEntry e;
  e.path = "/img/changed";
  e.mac_volume = "V:changed";
  e.include_subfolders = 0;
  ASSERT_TRUE(SetImageFolder(&c, 0, 1, e).ok());
  EXPECT_EQ(c.indexes[0].image_folders[1].path, "/img/changed");
  e.path.clear();
  EXPECT_FALSE(SetImageFolder(&c, 0, 1, e).ok());
  e.path = std::string(256, 'p');
  EXPECT_FALSE(SetImageFolder(&c, 0, 1, e).ok());
  EXPECT_EQ(SetImageFolder(&c, 0, 40, e).code(), StatusCode::kNotFound);
  EXPECT_FALSE(AddImageFolder(&c, 7, "/img", "", "", true).ok());
}

TEST(ConfigOpsTest, SettersRefuseTextsThatDoNotFit) {
  Configuration c;
  EXPECT_TRUE(SetEditPassword(&c, std::string(35, 'p')).ok());
  EXPECT_FALSE(SetEditPassword(&c, std::string(36, 'q')).ok());
  EXPECT_EQ(c.edit_password, std::string(35, 'p'));
  EXPECT_TRUE(SetLogFolder(&c, "/" + std::string(298, 'l')).ok());
  EXPECT_FALSE(SetLogFolder(&c, "/" + std::string(299, 'l')).ok());
  SetLogFlags(&c, kLogUseFile | kLogSearches);
  EXPECT_EQ(c.log_flags, 9u);

  PdfSettings pdf;
  pdf.folder = "/srv/pdf";
  pdf.thumbnail_size = 100;
  EXPECT_TRUE(SetPdfSettings(&c, pdf).ok());
  EXPECT_EQ(GetPdfSettings(c).folder, "/srv/pdf");
  pdf.preview_size = 99;
  EXPECT_FALSE(SetPdfSettings(&c, pdf).ok());
  pdf.preview_size = 800;
  pdf.leading_preview = 2;
  EXPECT_FALSE(SetPdfSettings(&c, pdf).ok());
  pdf.leading_preview = 1;
  pdf.win_path = std::string(256, 'w');
  EXPECT_FALSE(SetPdfSettings(&c, pdf).ok());
  EXPECT_EQ(GetPdfSettings(c).leading_preview, 3u);
}

// ---- file ------------------------------------------------------------------

TEST(ConfigFileTest, SaveAndLoadThroughTheFileSystem) {
  TempDir dir;
  FileSystem& fs = *DefaultFileSystem();
  EchoNamer namer;
  const std::string path = dir.Path("sub/folder/Vantrel CONFIGURATION DATA");

  ConfigLoad missing = LoadConfiguration(fs, path, namer);
  EXPECT_TRUE(missing.status.ok());
  EXPECT_FALSE(missing.file_found);
  EXPECT_EQ(missing.config, Configuration());

  Configuration c = WithIndexes(2);
  c.event_lines = {"Vantrel Started"};
  ASSERT_TRUE(SetEditPassword(&c, "pw").ok());
  ASSERT_TRUE(SaveConfiguration(fs, c, path).ok());
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ConfigLoad load = LoadConfiguration(fs, path, namer);
  ASSERT_TRUE(load.status.ok());
  EXPECT_TRUE(load.file_found);
  EXPECT_EQ(load.config, c);

  EXPECT_EQ(SaveConfiguration(fs, c, "").code(), StatusCode::kInvalidArgument);

  // A foreign file, or a folder in its place: defaults and a failure.
  ASSERT_TRUE(dir.WriteFile("cfg", "not a configuration"));
  load = LoadConfiguration(fs, dir.Path("cfg"), namer);
  EXPECT_EQ(load.status.code(), StatusCode::kCorruption);
  EXPECT_TRUE(load.file_found);
  EXPECT_EQ(load.config, Configuration());
  load = LoadConfiguration(fs, dir.Path("sub"), namer);
  EXPECT_FALSE(load.status.ok());
  EXPECT_TRUE(load.file_found);
}

TEST(ConfigFileTest, FailedSaveLeavesTheOldFileWhole) {
  TempDir dir;
  FileSystem& real = *DefaultFileSystem();
  const std::string path = dir.Path("Vantrel CONFIGURATION DATA");
  Configuration old_config = WithIndexes(1);
  ASSERT_TRUE(SaveConfiguration(real, old_config, path).ok());
  StatusOr<std::string> before = real.ReadFile(path);
  ASSERT_TRUE(before.ok());

  Configuration new_config = WithIndexes(3);
  // A failing write, and a disk that fills up in the middle of the file.
  for (int round = 0; round < 2; ++round) {
    FaultFileSystem faulty(&real);
    if (round == 0) {
      faulty.FailWritesMatching("*/Vantrel CONFIGURATION DATA");
    } else {
      faulty.SetSpaceLimit(L::kBlockSize + 1000);
    }
    Status s = SaveConfiguration(faulty, new_config, path);
    EXPECT_FALSE(s.ok()) << round;
    EXPECT_EQ(faulty.faults_injected(), 1) << round;
    StatusOr<std::string> after = real.ReadFile(path);
    ASSERT_TRUE(after.ok());
    EXPECT_EQ(*after, *before) << round;
  }
  StatusOr<std::vector<FolderEntry>> names = real.ListFolder(dir.path());
  ASSERT_TRUE(names.ok());
  EXPECT_EQ(names->size(), 1u);  // no temporary file left beside it
}

}  // namespace
}  // namespace vantrel
