#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

TEST(IniDocumentTest, ReadsValuesLikeTheProfileFunctions) {
  const std::string text =
      "; comment=ignored\r\n"
      "orphan=before any section\r\n"
      "[IndexInfo]\r\n"
      "  TotalFiles =  42  \r\n"
      "quoted=\"  keeps blanks  \"\r\n"
      "single='x'\r\n"
      "half=\"open\r\n"
      "empty=\r\n"
      "eq=a=b\r\n"
      "garbage line\r\n"
      "TOTALFILES=second copy is ignored\r\n"
      "[ pdf_folder ]\n"
      "WIN_PATH=\\\\SERVER\\PDF\n"
      "[indexinfo]\r"
      "TotalFiles=in a later duplicate section\r";
  IniDocument doc = IniDocument::Parse(text);
  struct Case {
    const char* section;
    const char* key;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"INDEXINFO", "totalfiles", "42"},
      {"IndexInfo", "quoted", "  keeps blanks  "},
      {"IndexInfo", "single", "x"},
      {"IndexInfo", "half", "\"open"},
      {"IndexInfo", "empty", ""},
      {"IndexInfo", "eq", "a=b"},
      {"IndexInfo", "garbage line", std::nullopt},
      {"IndexInfo", "orphan", std::nullopt},
      {"IndexInfo", "WIN_PATH", std::nullopt},
      {"PDF_FOLDER", "win_path", "\\\\SERVER\\PDF"},
      {"pdf_folder", "TotalFiles", std::nullopt},
      {"missing", "x", std::nullopt},
      {"", "orphan", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(doc.Get(c.section, c.key), c.value) << c.section << "/" << c.key;
  }
  EXPECT_EQ(doc.Keys("indexinfo"),
            (std::vector<std::string>{"TotalFiles", "quoted", "single", "half", "empty", "eq"}));
  EXPECT_EQ(doc.Sections(), (std::vector<std::string>{"IndexInfo", "pdf_folder"}));
}

TEST(IniDocumentTest, SetKeepsEveryOtherLineAndWritesCrLf) {
  const std::string text =
      "; written by hand\n"
      "[A]\n"
      "one=1\n"
      "\n"
      "; trailing comment of A\n"
      "[B]\n"
      "x=y";  // no line end at the end of the file
  IniDocument doc = IniDocument::Parse(text);
  ASSERT_TRUE(doc.Set("a", "ONE", "uno"));   // replaced in place, own spelling kept
  ASSERT_TRUE(doc.Set("A", "two", "2"));     // after the last key of A
  ASSERT_TRUE(doc.Set("C", "z", ""));        // new section at the end
  EXPECT_EQ(doc.Serialize(),
            "; written by hand\r\n"
            "[A]\r\n"
            "one=uno\r\n"
            "two=2\r\n"
            "\r\n"
            "; trailing comment of A\r\n"
            "[B]\r\n"
            "x=y\r\n"
            "[C]\r\n"
            "z=\r\n");
  EXPECT_TRUE(doc.RemoveKey("a", "one"));
  EXPECT_FALSE(doc.RemoveKey("a", "one"));
  EXPECT_FALSE(doc.RemoveKey("none", "one"));
  EXPECT_EQ(doc.Get("A", "one"), std::nullopt);
  EXPECT_EQ(doc.Get("A", "two"), "2");
  // Parsing the output again gives the same document.
  EXPECT_EQ(IniDocument::Parse(doc.Serialize()).Serialize(), doc.Serialize());
}

TEST(IniDocumentTest, ValuesNeverBreakTheLineStructure) {
  IniDocument doc;
  const std::string nasty[] = {
      "two\r\nlines",   "cr\ronly",   "lf\nonly", std::string("nul\0byte", 8),
      "\n[Injected]\nk=v", "  outer blanks ", "\"quoted\"", "'single'", "\"", "",
  };
  for (size_t i = 0; i < std::size(nasty); ++i) {
    ASSERT_TRUE(doc.Set("S", "k" + std::to_string(i), nasty[i]));
  }
  IniDocument reread = IniDocument::Parse(doc.Serialize());
  EXPECT_EQ(reread.Sections(), std::vector<std::string>{"S"});
  EXPECT_EQ(reread.Keys("S").size(), std::size(nasty));
  EXPECT_EQ(reread.Get("S", "k0"), "two\\\\lines");
  EXPECT_EQ(reread.Get("S", "k1"), "cr\\only");
  EXPECT_EQ(reread.Get("S", "k3"), "nul\\byte");
  EXPECT_EQ(reread.Get("S", "k4"), "\\[Injected]\\k=v");
  // Values that reading would change are quoted so that they come back intact.
  EXPECT_EQ(reread.Get("S", "k5"), "  outer blanks ");
  EXPECT_EQ(reread.Get("S", "k6"), "\"quoted\"");
  EXPECT_EQ(reread.Get("S", "k7"), "'single'");
  EXPECT_EQ(reread.Get("S", "k8"), "\"");
  EXPECT_EQ(reread.Get("S", "k9"), "");
}

TEST(IniDocumentTest, RefusesUnwritableNames) {
  IniDocument doc;
  for (std::string_view key : {"", "  ", "a=b", "[k", ";k", "k\n"}) {
    EXPECT_FALSE(doc.Set("S", key, "v")) << key;
  }
  for (std::string_view section : {std::string_view("S]"), std::string_view("S\r\n[T"),
                                   std::string_view("S\0", 2)}) {
    EXPECT_FALSE(doc.Set(section, "k", "v")) << section;
  }
  EXPECT_EQ(doc.Serialize(), "");
}

// That any bytes parse and a second round trip changes nothing is the
// settings fuzz target's check; here: what odd lines mean.
TEST(IniDocumentTest, OddInputIsReadAsFarAsItMakesSense) {
  std::string long_line(1 << 20, 'v');
  EXPECT_EQ(IniDocument::Parse("[unterminated\nkey=value").Get("UNTERMINATED", "key"), "value");
  EXPECT_EQ(IniDocument::Parse("[]\nkey=value").Get("", "key"), "value");
  EXPECT_EQ(IniDocument::Parse("=no key").Get("", ""), std::nullopt);
  EXPECT_EQ(IniDocument::Parse("[S]\nk=" + long_line).Get("s", "K"), long_line);
  EXPECT_EQ(IniDocument::Parse(std::string("[S\0x]\nk\0=v\0w\n", 14))
                .Get(std::string_view("S\0x", 3), std::string_view("k\0", 2)),
            std::string("v\0w", 3));
}

class IniFileTest : public ::testing::Test {
 protected:
  FileSystem* fs_ = DefaultFileSystem();
  TempDir dir_;
};

TEST_F(IniFileTest, FirstWriteCreatesTheFile) {
  const std::string path = dir_.Path("INDEXINFO.INI");
  EXPECT_EQ(ReadIniString(fs_, path, "INDEXINFO", "TOTALFILES", "none"), "none");
  ASSERT_TRUE(WriteIniString(fs_, path, "INDEXINFO", "TOTALFILES", "12").ok());
  EXPECT_EQ(*fs_->ReadFile(path), "[INDEXINFO]\r\nTOTALFILES=12\r\n");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ASSERT_TRUE(WriteIniString(fs_, path, "indexinfo", "totalfiles", "13").ok());
  EXPECT_EQ(*fs_->ReadFile(path), "[INDEXINFO]\r\nTOTALFILES=13\r\n");
  EXPECT_EQ(ReadIniString(fs_, path, "IndexInfo", "TotalFiles", ""), "13");
  EXPECT_EQ(ReadIniString(fs_, path, "IndexInfo", "Other", "dflt"), "dflt");

  ASSERT_TRUE(DeleteIniKey(fs_, path, "INDEXINFO", "TOTALFILES").ok());
  EXPECT_EQ(*fs_->ReadFile(path), "[INDEXINFO]\r\n");
  EXPECT_TRUE(DeleteIniKey(fs_, dir_.Path("missing.ini"), "S", "k").ok());
  EXPECT_FALSE(fs_->Exists(dir_.Path("missing.ini")));

  EXPECT_EQ(WriteIniString(fs_, path, "S", "a=b", "v").code(), StatusCode::kInvalidArgument);
  // A missing folder is not created.
  EXPECT_FALSE(WriteIniString(fs_, dir_.Path("none/x.ini"), "S", "k", "v").ok());
}

TEST_F(IniFileTest, ConcurrentWritersLoseNoKey) {
  const std::string path = dir_.Path("WinPathInfo.ini");
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, &path, t] {
      for (int i = 0; i < 10; ++i) {
        const std::string key = "k" + std::to_string(t) + "_" + std::to_string(i);
        EXPECT_TRUE(WriteIniString(fs_, path, "MAP", key, std::to_string(i)).ok());
      }
    });
  }
  for (auto& t : threads) t.join();
  IniDocument doc = IniDocument::Parse(*fs_->ReadFile(path));
  EXPECT_EQ(doc.Keys("MAP").size(), 40u);
}

TEST_F(IniFileTest, FailedWriteKeepsTheOldFile) {
  const std::string path = dir_.Path("PathInfo.ini");
  ASSERT_TRUE(dir_.WriteFile("PathInfo.ini", "[PDF_FOLDER]\r\nWIN_PATH=old\r\n"));
  FaultFileSystem faulty(fs_);
  faulty.FailWritesMatching("*.ini");
  EXPECT_FALSE(WriteIniString(&faulty, path, "PDF_FOLDER", "WIN_PATH", "new").ok());
  EXPECT_EQ(*fs_->ReadFile(path), "[PDF_FOLDER]\r\nWIN_PATH=old\r\n");
  // An unreadable file is not replaced by one holding only the new key.
  faulty.ClearFaults();
  faulty.FailReadsMatching("*.ini");
  EXPECT_FALSE(WriteIniString(&faulty, path, "PDF_FOLDER", "MAC_PATH", "m").ok());
  EXPECT_EQ(ReadIniString(&faulty, path, "PDF_FOLDER", "WIN_PATH", "dflt"), "dflt");
  EXPECT_EQ(*fs_->ReadFile(path), "[PDF_FOLDER]\r\nWIN_PATH=old\r\n");
}

}  // namespace
}  // namespace vantrel
