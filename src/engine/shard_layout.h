// The shards of an index: where its documents live, which shard holds a
// document, and the small settings file that records both.
//
// An index's engine folder holds either
//   - one Xapian database in the folder itself (the layout of indexes made
//     before shards existed; it keeps working as one shard), or
//   - N databases in the sub-folders "0" .. "N-1" (1 <= N <= kMaxShards) and
//     the settings file "vtshards" beside them, whose line "layout N" says
//     that the folder is sharded and how many shards it has.
// The settings file also keeps the shard count for the next time the index
// is created ("shards K", set by `vantrelctl index set N shards K`) and the
// remote shards searched with the local ones ("remote tcp://host:port").
// The file is short text, one setting per line; unknown lines are kept out
// of the parse with an error, so a damaged file is reported, not guessed at.
//
// A document's shard is FNV-1a (64 bits) of its name's bytes modulo the
// shard count: stable across processes and machines, so replacing and
// removing a document finds the shard that holds it.
//
// Thread safety: plain functions; the caller serializes writers of one folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

inline constexpr char kShardSettingsFile[] = "vtshards";
inline constexpr uint32_t kMaxShards = 8;
inline constexpr size_t kMaxRemoteShards = 16;
// The B-tree block size of every database the engine creates or compacts.
// Larger blocks than Xapian's default of 8,192 bytes mean fewer block reads
// for a search that walks long posting and position lists; Xapian keeps a
// database's block size for its life, so indexes made with another size keep
// it until they are compacted.
inline constexpr unsigned kShardBlockSize = 16384;

struct ShardSettings {
  uint32_t layout = 0;     // shards of the current index; 0: one database in the folder
  uint32_t next_count = 0; // shards when the index is next created; 0: the machine's cores
  std::vector<std::string> remotes;  // "tcp://host:port", searched with the local shards
  bool operator==(const ShardSettings&) const = default;
};

// FNV-1a 64 of the name's bytes.
uint64_t ShardHash(std::string_view name);
// The shard of a document among `count` (>= 1) shards.
uint32_t ShardOf(std::string_view name, uint32_t count);

// The machine's cores, at least 1, at most kMaxShards.
uint32_t DefaultShardCount();

// Reads the settings of `folder`: default settings when the file is missing;
// kCorruption when a line is not one of the forms above or a value is out of
// range.
StatusOr<ShardSettings> ReadShardSettings(FileSystem* fs, const std::string& folder);
// Writes them atomically (synced).
Status WriteShardSettings(FileSystem* fs, const std::string& folder, const ShardSettings& s);
std::string FormatShardSettings(const ShardSettings& s);
StatusOr<ShardSettings> ParseShardSettings(std::string_view text);

// Writes the settings an index keeps when it is built again from nothing
// into the emptied engine folder `folder`: the shard count and the remote
// shards, without the layout. Nothing when there are none.
Status KeepShardSettings(FileSystem* fs, const std::string& folder, ShardSettings s);

// Splits "tcp://host:port"; false when the text is not of that form (host of
// letters, digits, '.', '-', ':' inside brackets; port 1..65535).
bool ParseRemoteShard(std::string_view url, std::string* host, unsigned* port);

// The database folders of the index in `folder`: {folder} for one database
// in the folder (or none yet), else folder/0 .. folder/N-1.
std::vector<std::string> LocalShardFolders(const ShardSettings& s, const std::string& folder);
std::string ShardFolder(const std::string& folder, uint32_t shard);

// True when `name` names a shard folder ("0" .. "7").
bool IsShardFolderName(std::string_view name);

// True when `folder` holds an index, sharded or not (a version file in it or
// in its first shard).
bool HoldsIndex(FileSystem* fs, const std::string& folder);

}  // namespace vantrel
