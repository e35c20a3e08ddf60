// The segments of a bulk build: an index filled from nothing (a first start,
// a rebuild), whose documents need not be searchable before the build ends.
//
// A commit into a large database rewrites the B-tree blocks of every term it
// touches, so the commits of an index built job by job grow with it. In a
// bulk build the add jobs write into small databases beside the shards,
// segments, and commit only those: a job adds to the newest segment until it
// holds EngineOptions::segment_documents documents, then starts the next. At
// the end every shard and its segments are compacted into one database.
// (The compaction keeps each segment's part of a term's posting list as a
// chunk of its own; segments too small would leave every rare term in
// many chunks and slow the searches that read many terms.)
//
// A bulk job writes into a group of `lanes` segments with consecutive
// numbers at once (the lanes): a document goes to lane
// ShardOf(name, shards * lanes) / shards of its shard, one thread per lane
// and shard, so the work is shared by more threads than there are cores. A
// name goes to the same lane in every job, so a later job replaces it in
// the same segment, or writes it into a later group.
//
// Files, for each local shard S (a shard folder, or the engine folder itself
// for an index of one database) and the engine folder E:
//   S/vtseg/<k>   segment k of that shard: a Xapian database;
//   E/vtsegs      the committed segments, one line "segment <k>" each,
//                 rewritten (temporary file, sync, rename) once every shard
//                 committed the segments of a new group, which are added
//                 in one write. This is the commit point of the job that
//                 starts a group: a segment not listed is thrown away. A job
//                 that adds to a listed group commits as a job on the shards
//                 does (shard_writer.h).
// The merge (engine.cc) stages each shard compacted with its committed
// segments, commits the stagings with the swap mark (shard_swap.h), deletes
// the record, finishes the swap while searches are held back, and deletes
// the segment folders last. After a crash:
//   - without a swap mark, every staging is thrown away and the committed
//     segments are merged again;
//   - with a swap mark and a record, the swap was the merge of exactly the
//     recorded segments (every other swap merges first, under the same
//     writer lock): it is finished, and the record and segments go.
// A name written in more than one segment of a build keeps only its last
// document (DropRepeatedNames).
//
// Thread safety: plain functions; the caller holds the folder's writer lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

inline constexpr char kSegmentsFolderName[] = "vtseg";
inline constexpr char kSegmentRecordFile[] = "vtsegs";
// More segments than any build makes; a record listing more is damaged.
inline constexpr size_t kMaxSegments = 1u << 20;

// "S/vtseg/<k>".
std::string SegmentFolder(const std::string& shard, uint32_t segment);

// The record's text and its parse: kCorruption unless every line is
// "segment <k>" with 1 <= k, in ascending order, at most kMaxSegments lines.
std::string FormatSegmentRecord(const std::vector<uint32_t>& segments);
StatusOr<std::vector<uint32_t>> ParseSegmentRecord(std::string_view text);

bool HasSegmentRecord(FileSystem* fs, const std::string& folder);
// The committed segments of the index in `folder`; none without a record.
StatusOr<std::vector<uint32_t>> ReadSegmentRecord(FileSystem* fs, const std::string& folder);
// Adds segments first .. first + count - 1 to the record in one write (the
// commit point of a bulk job that starts a group).
Status RecordSegments(FileSystem* fs, const std::string& folder, uint32_t first, uint32_t count);
Status DeleteSegmentRecord(FileSystem* fs, const std::string& folder);

// The number for the next segment: above every recorded one and every
// segment folder of `shards`.
StatusOr<uint32_t> NextSegmentNumber(FileSystem* fs, const std::vector<std::string>& shards,
                                     const std::vector<uint32_t>& recorded);

// The lanes of a bulk job over `shards` shards: `wanted` when it is not 0,
// else enough that shards * lanes reaches twice `cores`, at most
// kMaxBulkLanes.
inline constexpr uint32_t kMaxBulkLanes = 4;
uint32_t BulkLanes(uint32_t wanted, size_t shards, unsigned cores);

// The database folders of a bulk job writing the group of `lanes` segments
// from `first`: lane-major, so that folder ShardOf(name, shards * lanes) of
// the list is in the name's shard (ShardOf(name, shards)).
std::vector<std::string> SegmentGroupFolders(const std::vector<std::string>& shards,
                                             uint32_t first, uint32_t lanes);

// True when the group of `lanes` segments from `first` is the newest of
// `recorded` and `shard`'s part of its first segment holds fewer than
// `limit` documents (a bulk job then adds to it).
bool SegmentGroupHasRoom(const std::string& shard, const std::vector<uint32_t>& recorded,
                         uint32_t first, uint32_t lanes, uint32_t limit);

// The folders of `shard`'s segments among `recorded` that hold a database,
// in segment order.
std::vector<std::string> RecordedSegmentFolders(FileSystem* fs, const std::string& shard,
                                                const std::vector<uint32_t>& recorded);

// Deletes every segment folder of `shards` not in `keep` (each database's
// version file first, so that a deletion cut short leaves no database), and
// the segments folder once empty.
Status DeleteSegments(FileSystem* fs, const std::vector<std::string>& shards,
                      const std::vector<uint32_t>& keep);

// Stages every shard of `shards` compacted together with its segments among
// `recorded`, in segment order after the shard's own documents
// (StageDatabase of index_files.h; nothing is committed). The shards are
// staged side by side, each on a thread of its own.
Status StageMergedShards(FileSystem* fs, const std::vector<std::string>& shards,
                         const std::vector<uint32_t>& recorded);

// Makes every document name occur in one database of `sources` at most: a
// name found in several keeps the document of the last, and is deleted from
// the others (each commits). Names are the id terms of the documents
// (IdTermForName), checked against each document's stored name.
Status DropRepeatedNames(const std::vector<std::string>& sources);

}  // namespace vantrel
