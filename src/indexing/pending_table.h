// The pending-document table: image documents waiting to be handed to the
// engine as one index job.
//
// One table serves the whole server; documents of one index at a time (the
// flush empties it before another index adds). A table holds at most
// kMaxPendingDocuments documents, or stops taking more once its texts pass
// kMaxPendingBytes (or smaller limits it was given): Add reports that the
// table must be flushed.
//
// The batch kind says where the documents come from: reported changes (true)
// or a scan of the start-up catch-up (false).
//
// Thread safety: none; the task thread is its only user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine.h"

namespace vantrel {

inline constexpr size_t kMaxPendingDocuments = 10000;
inline constexpr uint64_t kMaxPendingBytes = 10'000'000;

struct PendingDocument {
  std::string text;      // private copy of the document
  std::string file_key;  // "03Sport\img.jpg"
  uint32_t time = 0;     // file time stamp
};

class PendingTable {
 public:
  // Smaller limits make smaller jobs (tests of full tables; the first jobs
  // of a bulk build).
  explicit PendingTable(size_t max_documents = kMaxPendingDocuments,
                        uint64_t max_bytes = kMaxPendingBytes)
      : max_documents_(max_documents), max_bytes_(max_bytes) {}

  size_t max_documents() const { return max_documents_; }
  uint64_t max_bytes() const { return max_bytes_; }
  // Sets the limits; a table already past them is full at the next Add.
  void SetLimits(size_t max_documents, uint64_t max_bytes) {
    max_documents_ = max_documents;
    max_bytes_ = max_bytes;
  }

  // Empties the table and sets the batch kind.
  void Reset(bool from_changes);

  // Copies a document into the table. Returns true when the table is now
  // full (max_documents() documents, or texts above max_bytes()) and must be
  // flushed before the next Add.
  bool Add(std::string_view text, std::string_view file_key, uint32_t time);

  size_t size() const { return documents_.size(); }
  bool empty() const { return documents_.empty(); }
  uint64_t bytes() const { return bytes_; }
  bool from_changes() const { return from_changes_; }
  const std::vector<PendingDocument>& documents() const { return documents_; }

  // Releases the documents; the batch kind stays.
  void Clear();

  // A data source over the table for one index job. `on_percent` (may be
  // empty) is called with the share of documents handed over, in per cent,
  // each time that value changes. The source refers to the table, which must
  // not change while the job runs.
  EngineDataSource DataSource(std::function<void(int percent)> on_percent);

 private:
  size_t max_documents_ = kMaxPendingDocuments;
  uint64_t max_bytes_ = kMaxPendingBytes;
  std::vector<PendingDocument> documents_;
  uint64_t bytes_ = 0;
  bool from_changes_ = false;
  size_t cursor_ = 0;
  int last_percent_ = -1;
};

}  // namespace vantrel
