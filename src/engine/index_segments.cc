#include "engine/index_segments.h"

#include <xapian.h>

#include <algorithm>
#include <charconv>
#include <map>
#include <thread>

#include "engine/document_indexer.h"
#include "engine/index_files.h"
#include "engine/shard_layout.h"

namespace vantrel {
namespace {

// Big enough for kMaxSegments lines.
constexpr size_t kMaxRecordBytes = kMaxSegments * 20;
constexpr std::string_view kLinePrefix = "segment ";

std::string Join(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

Status IgnoreNotFound(Status s) { return s.IsNotFound() ? Status::Ok() : s; }

// A segment folder's name: decimal digits without a leading zero, 1 or more.
bool ParseSegmentName(std::string_view name, uint32_t* segment) {
  if (name.empty() || name.size() > 10 || name[0] == '0') return false;
  uint32_t value = 0;
  auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), value);
  if (ec != std::errc() || end != name.data() + name.size()) return false;
  *segment = value;
  return true;
}

Status RemoveSegment(FileSystem* fs, const std::string& segment) {
  VANTREL_RETURN_IF_ERROR(IgnoreNotFound(fs->DeleteFile(Join(segment, kVersionFileName))));
  VANTREL_RETURN_IF_ERROR(fs->EmptyFolder(segment, /*recursive=*/true));
  return fs->DeleteFolder(segment);
}

// Whether `term` is the id term of the document that holds it in `db`.
bool IsIdTermOf(const Xapian::Database& db, const std::string& term) {
  Xapian::PostingIterator p = db.postlist_begin(term);
  if (p == db.postlist_end(term)) return false;
  const std::string name = db.get_document(*p).get_value(kNameSlot);
  return IdTermForName(name) == term;
}

// Compacts `sources` into the empty folder `stage`, their documents in
// source order.
Status CompactInto(const std::vector<std::string>& sources, const std::string& stage) {
  try {
    Xapian::Database all;
    for (const std::string& s : sources) {
      all.add_database(Xapian::Database(s, Xapian::DB_BACKEND_GLASS));
    }
    all.compact(stage, 0, kShardBlockSize);
  } catch (const Xapian::Error& e) {
    return Status::IoError("merging the segments of " + sources.front() +
                           " failed: " + e.get_description());
  }
  return Status::Ok();
}

Status StageMergedShard(FileSystem* fs, const std::string& shard,
                        const std::vector<uint32_t>& recorded) {
  std::vector<std::string> sources{shard};
  for (std::string& s : RecordedSegmentFolders(fs, shard, recorded)) {
    sources.push_back(std::move(s));
  }
  VANTREL_RETURN_IF_ERROR(DropRepeatedNames(sources));
  return StageDatabase(fs, shard,
                       [&](const std::string& stage) { return CompactInto(sources, stage); });
}

}  // namespace

Status StageMergedShards(FileSystem* fs, const std::vector<std::string>& shards,
                         const std::vector<uint32_t>& recorded) {
  std::vector<Status> results(shards.size());
  std::vector<std::thread> threads;
  threads.reserve(shards.size());
  for (size_t i = 0; i < shards.size(); ++i) {
    threads.emplace_back([&, i] { results[i] = StageMergedShard(fs, shards[i], recorded); });
  }
  for (std::thread& t : threads) t.join();
  for (const Status& s : results) VANTREL_RETURN_IF_ERROR(s);
  return Status::Ok();
}

std::string SegmentFolder(const std::string& shard, uint32_t segment) {
  return Join(Join(shard, kSegmentsFolderName), std::to_string(segment));
}

std::string FormatSegmentRecord(const std::vector<uint32_t>& segments) {
  std::string text;
  for (uint32_t s : segments) {
    text.append(kLinePrefix);
    text.append(std::to_string(s));
    text.push_back('\n');
  }
  return text;
}

StatusOr<std::vector<uint32_t>> ParseSegmentRecord(std::string_view text) {
  std::vector<uint32_t> segments;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) {
      return Status::Corruption("the segment record ends inside a line");
    }
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    uint32_t segment = 0;
    if (line.substr(0, kLinePrefix.size()) != kLinePrefix ||
        !ParseSegmentName(line.substr(kLinePrefix.size()), &segment)) {
      return Status::Corruption("the segment record has a line that is not \"segment N\"");
    }
    if (!segments.empty() && segment <= segments.back()) {
      return Status::Corruption("the segment record is not in ascending order");
    }
    if (segments.size() == kMaxSegments) {
      return Status::Corruption("the segment record is too long");
    }
    segments.push_back(segment);
  }
  return segments;
}

bool HasSegmentRecord(FileSystem* fs, const std::string& folder) {
  return fs->Exists(Join(folder, kSegmentRecordFile));
}

StatusOr<std::vector<uint32_t>> ReadSegmentRecord(FileSystem* fs, const std::string& folder) {
  StatusOr<std::string> text = fs->ReadFile(Join(folder, kSegmentRecordFile), kMaxRecordBytes + 1);
  if (!text.ok()) {
    if (text.status().IsNotFound()) return std::vector<uint32_t>();
    return text.status();
  }
  if (text->size() > kMaxRecordBytes) return Status::Corruption("the segment record is too long");
  StatusOr<std::vector<uint32_t>> segments = ParseSegmentRecord(*text);
  if (!segments.ok()) {
    return Status::Corruption("cannot read " + Join(folder, kSegmentRecordFile) + ": " +
                              segments.status().message());
  }
  return segments;
}

Status RecordSegments(FileSystem* fs, const std::string& folder, uint32_t first, uint32_t count) {
  StatusOr<std::vector<uint32_t>> segments = ReadSegmentRecord(fs, folder);
  if (!segments.ok()) return segments.status();
  if (count == 0 || first == 0 || count > kMaxSegments || first > kMaxSegments - count ||
      (!segments->empty() && first <= segments->back())) {
    return Status::Internal("segments " + std::to_string(first) + " and on cannot be recorded");
  }
  for (uint32_t i = 0; i < count; ++i) segments->push_back(first + i);
  return fs->WriteFileAtomic(Join(folder, kSegmentRecordFile), FormatSegmentRecord(*segments),
                             0600);
}

Status DeleteSegmentRecord(FileSystem* fs, const std::string& folder) {
  VANTREL_RETURN_IF_ERROR(IgnoreNotFound(fs->DeleteFile(Join(folder, kSegmentRecordFile))));
  return fs->SyncFolder(folder);
}

StatusOr<uint32_t> NextSegmentNumber(FileSystem* fs, const std::vector<std::string>& shards,
                                     const std::vector<uint32_t>& recorded) {
  uint32_t highest = recorded.empty() ? 0 : recorded.back();
  for (const std::string& shard : shards) {
    const std::string segments = Join(shard, kSegmentsFolderName);
    if (!fs->IsFolder(segments)) continue;
    StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(segments);
    if (!entries.ok()) return entries.status();
    for (const FolderEntry& e : *entries) {
      uint32_t segment = 0;
      if (ParseSegmentName(e.name, &segment)) highest = std::max(highest, segment);
    }
  }
  if (highest >= kMaxSegments) return Status::ResourceExhausted("the index has too many segments");
  return highest + 1;
}

uint32_t BulkLanes(uint32_t wanted, size_t shards, unsigned cores) {
  if (wanted != 0) return std::min(wanted, kMaxBulkLanes);
  const size_t threads = 2 * static_cast<size_t>(std::max(cores, 1u));
  const size_t per_lane = std::max<size_t>(shards, 1);
  const size_t lanes = (threads + per_lane - 1) / per_lane;
  return static_cast<uint32_t>(std::clamp<size_t>(lanes, 1, kMaxBulkLanes));
}

std::vector<std::string> SegmentGroupFolders(const std::vector<std::string>& shards,
                                             uint32_t first, uint32_t lanes) {
  std::vector<std::string> folders;
  folders.reserve(shards.size() * lanes);
  for (uint32_t lane = 0; lane < lanes; ++lane) {
    for (const std::string& shard : shards) folders.push_back(SegmentFolder(shard, first + lane));
  }
  return folders;
}

bool SegmentGroupHasRoom(const std::string& shard, const std::vector<uint32_t>& recorded,
                         uint32_t first, uint32_t lanes, uint32_t limit) {
  if (lanes == 0 || recorded.size() < lanes) return false;
  const size_t start = recorded.size() - lanes;
  for (uint32_t i = 0; i < lanes; ++i) {
    if (recorded[start + i] != first + i) return false;
  }
  try {
    Xapian::Database db(SegmentFolder(shard, first), Xapian::DB_BACKEND_GLASS);
    return db.get_doccount() < limit;
  } catch (const Xapian::Error&) {
    // Unreadable: a new group is started, and the merge reports it.
  }
  return false;
}

std::vector<std::string> RecordedSegmentFolders(FileSystem* fs, const std::string& shard,
                                                const std::vector<uint32_t>& recorded) {
  std::vector<std::string> folders;
  for (uint32_t segment : recorded) {
    std::string folder = SegmentFolder(shard, segment);
    if (fs->Exists(Join(folder, kVersionFileName))) folders.push_back(std::move(folder));
  }
  return folders;
}

Status DeleteSegments(FileSystem* fs, const std::vector<std::string>& shards,
                      const std::vector<uint32_t>& keep) {
  for (const std::string& shard : shards) {
    const std::string segments = Join(shard, kSegmentsFolderName);
    if (!fs->IsFolder(segments)) continue;
    StatusOr<std::vector<FolderEntry>> entries = fs->ListFolder(segments);
    if (!entries.ok()) return entries.status();
    size_t kept = 0;
    for (const FolderEntry& e : *entries) {
      uint32_t segment = 0;
      const bool ours = e.is_folder && ParseSegmentName(e.name, &segment);
      if (ours && !std::binary_search(keep.begin(), keep.end(), segment)) {
        VANTREL_RETURN_IF_ERROR(RemoveSegment(fs, Join(segments, e.name)));
      } else {
        ++kept;
      }
    }
    if (kept == 0) VANTREL_RETURN_IF_ERROR(fs->DeleteFolder(segments));
  }
  return Status::Ok();
}

Status DropRepeatedNames(const std::vector<std::string>& sources) {
  if (sources.size() < 2) return Status::Ok();
  // The terms to delete, by source.
  std::map<size_t, std::vector<std::string>> drop;
  try {
    std::vector<Xapian::Database> dbs;
    Xapian::Database all;
    for (const std::string& s : sources) {
      dbs.emplace_back(s, Xapian::DB_BACKEND_GLASS);
      all.add_database(dbs.back());
    }
    // Id terms begin with 'Q', as do a few marker words; a term is a name
    // only where the document holding it is stored under that name.
    for (Xapian::TermIterator t = all.allterms_begin("Q"); t != all.allterms_end("Q"); ++t) {
      if (t.get_termfreq() < 2) continue;
      const std::string term = *t;
      bool kept = false;
      for (size_t i = dbs.size(); i-- > 0;) {
        if (!dbs[i].term_exists(term) || !IsIdTermOf(dbs[i], term)) continue;
        if (kept) drop[i].push_back(term);
        kept = true;
      }
    }
  } catch (const Xapian::Error& e) {
    return Status::IoError("reading the names of " + sources.front() +
                           " failed: " + e.get_description());
  }
  for (const auto& [source, terms] : drop) {
    try {
      Xapian::WritableDatabase db(sources[source], Xapian::DB_OPEN | Xapian::DB_BACKEND_GLASS);
      for (const std::string& term : terms) db.delete_document(term);
      db.commit();
      db.close();
    } catch (const Xapian::Error& e) {
      return Status::IoError("dropping repeated names from " + sources[source] +
                             " failed: " + e.get_description());
    }
  }
  return Status::Ok();
}

}  // namespace vantrel
