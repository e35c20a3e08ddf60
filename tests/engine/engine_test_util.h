// Helpers for engine tests: image documents as the document builder writes
// them, a data source over a vector, and an engine in a temporary home.
#pragma once

#include <gtest/gtest.h>
#include <xapian.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/document_name.h"
#include "engine/engine.h"
#include "support/temp_dir.h"

namespace vantrel::engine_test {

// " QxQB5002 JPEG ZqZ "
inline std::string Attr(const char* marker, const std::string& value) {
  return " " + std::string(marker) + " " + value + " ZqZ ";
}

// "QxQ120 value value ZqZ "
inline std::string Caption(int dataset, const std::vector<std::string>& values) {
  char head[16];
  std::snprintf(head, sizeof head, "QxQ%03i ", dataset);
  std::string out = head;
  for (const std::string& v : values) out += v + " ";
  return out + "ZqZ ";
}

struct TestDoc {
  std::string name;
  std::string text;
};

// A JPEG document with caption groups, shaped like the builder's output.
inline TestDoc ImageDoc(uint32_t time, const std::string& key, const std::string& captions,
                        const std::string& orientation = "LANDSCAPE") {
  std::string text = Attr("QxQB5002", "JPEG") + Attr("QxQH5008", "001000") +
                     Attr("QxQN5014", key.rfind("00", 0) == 0 ? "OFFLINE" : "ONLINE") +
                     Attr("QxQA5001", "RGB Lab") + Attr("QxQC5003", "0110") +
                     Attr("QxQM5013", orientation);
  text += captions.empty() ? " xnocap " : captions;
  std::string file = key.substr(key.rfind('\\') + 1);
  text += Attr("QxQO5015", "19990302") + Attr("QxQP5016", "19990302") + " " +
          Attr("QxQJ5010", file) + Attr("QxQL5012", "D:\\Pictures\\" + key.substr(2, key.rfind('\\') - 2)) +
          Attr("QxQK5011", "Sport");
  return TestDoc{FormatDocumentName(time, key), text};
}

// What `run` threw, by kind: "modified" (DatabaseModifiedError), a Xapian
// error's type, "bad_alloc", or "nothing".
inline std::string Thrown(const std::function<void()>& run) {
  try {
    run();
  } catch (const Xapian::DatabaseModifiedError&) {
    return "modified";
  } catch (const Xapian::Error& e) {
    return e.get_type();
  } catch (const std::bad_alloc&) {
    return "bad_alloc";
  }
  return "nothing";
}

// A data source over documents; `fail_after` >= 0 makes next_document fail
// once that many documents were handed out.
class VectorSource {
 public:
  explicit VectorSource(std::vector<TestDoc> docs, int fail_after = -1)
      : docs_(std::move(docs)), fail_after_(fail_after) {
    source_.rewind = [this] {
      next_ = 0;
      return true;
    };
    source_.next_document = [this](EngineDocument* d) {
      if (fail_after_ >= 0 && next_ >= static_cast<size_t>(fail_after_)) return -2;
      if (next_ >= docs_.size()) return -1;
      const TestDoc& doc = docs_[next_++];
      auto pos = std::make_shared<size_t>(0);
      d->name = doc.name;
      d->text_length = static_cast<uint32_t>(doc.text.size());
      d->seek = [pos](uint32_t p) { *pos = p; };
      d->read = [pos, &doc](char* buf, size_t n) {
        size_t k = std::min(n, doc.text.size() - std::min(*pos, doc.text.size()));
        std::copy_n(doc.text.data() + *pos, k, buf);
        *pos += k;
        return k;
      };
      return 0;
    };
  }
  EngineDataSource* source() { return &source_; }

 private:
  std::vector<TestDoc> docs_;
  int fail_after_;
  size_t next_ = 0;
  EngineDataSource source_;
};

// One add job of `docs` into the index in `folder`, created when missing;
// with `bulk`, a job of a bulk build.
inline Status AddDocuments(Engine* engine, const std::string& folder, std::vector<TestDoc> docs,
                           bool bulk = false) {
  VectorSource source(std::move(docs));
  IndexJob job;
  job.index_folder = folder;
  job.create = true;
  job.add = true;
  job.bulk = bulk;
  job.data_source = source.source();
  return engine->RunIndexJob(job);
}

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.WriteFile("Fields.Dat", FieldCatalogue::StandardText()));
    StartEngine();
  }

  void StartEngine() {
    engine_.reset();
    EngineStartOptions options;
    options.home_folder = home_.path();
    StatusOr<std::unique_ptr<Engine>> e = Engine::Start(options);
    ASSERT_TRUE(e.ok()) << e.status().ToString();
    engine_ = std::move(*e);
  }

  std::string Folder() const { return home_.Path("idx"); }

  Status Add(std::vector<TestDoc> docs, bool create = true, int fail_after = -1) {
    VectorSource source(std::move(docs), fail_after);
    IndexJob job;
    job.index_folder = Folder();
    job.create = create;
    job.add = true;
    job.data_source = source.source();
    return engine_->RunIndexJob(job);
  }

  struct Result {
    std::vector<std::string> names;  // sorted
    std::vector<std::pair<std::string, int32_t>> hits;  // in delivery order
    std::string error;
  };

  Result Search(const std::string& query, uint32_t flags = 0, int fuzziness = 0,
                int32_t max_hits = -1) {
    Result r;
    SearchJob job;
    job.query = query;
    job.index_folder = Folder();
    job.flags = flags;
    job.fuzziness = fuzziness;
    job.max_hits = max_hits;
    // Every search that delivers hits first says how many, and how long
    // their names are, before the first.
    std::optional<std::pair<uint64_t, uint64_t>> announced;
    uint64_t name_bytes = 0;
    job.message_callback = [&](const EngineMessage& m) {
      if (m.code == kMessageHitsComing) {
        EXPECT_FALSE(announced.has_value()) << query;
        EXPECT_TRUE(r.hits.empty()) << query;
        announced.emplace(m.count, m.name_bytes);
      }
      if (m.code != kMessageFoundDocument) return;
      r.hits.emplace_back(std::string(m.name), m.score);
      name_bytes += m.name.size();
    };
    StatusOr<SearchOutcome> out = engine_->RunSearchJob(job);
    EXPECT_TRUE(out.ok()) << query << ": " << out.status().ToString();
    if (out.ok()) r.error = out->error;
    if (!r.hits.empty() || announced) {
      EXPECT_EQ(announced, std::make_pair(uint64_t{r.hits.size()}, name_bytes)) << query;
    }
    for (const auto& h : r.hits) r.names.push_back(h.first);
    std::sort(r.names.begin(), r.names.end());
    return r;
  }

  TempDir home_;
  std::unique_ptr<Engine> engine_;
};

}  // namespace vantrel::engine_test
