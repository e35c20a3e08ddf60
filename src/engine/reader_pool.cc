#include "engine/reader_pool.h"

#include <algorithm>
#include <thread>

namespace vantrel {
namespace {

constexpr int kOpenAttempts = 40;
constexpr auto kRetryPause = std::chrono::milliseconds(25);
constexpr size_t kIdlePerFolder = 8;
constexpr unsigned kRemoteConnectMs = 2000;
constexpr unsigned kRemoteReplyMs = 10000;

// Why a shard folder has no version file now: kNotFound when there is no
// database, Ok when a swap is replacing it (try again).
Status WhyNoVersion(FileSystem* fs, const std::string& index, const std::string& shard) {
  if (!fs->IsFolder(index) || !fs->IsFolder(shard)) return Status::NotFound("no index in " + index);
  // Only a staging folder tells a swap from no database.
  if (fs->IsFolder(shard + "/" + kStagingFolderName)) return Status::Ok();
  // A swap may have ended between the two looks: its version file is there now.
  if (ReadDatabaseVersion(fs, shard).ok()) return Status::Ok();
  return Status::NotFound("no index in " + index);
}

}  // namespace

std::chrono::milliseconds ReaderPool::RetryPause(int failures) {
  const int doublings = std::clamp(failures - 1, 0, 6);
  return std::min(std::chrono::milliseconds(1000) * (1 << doublings), std::chrono::milliseconds(60000));
}

void ReaderPool::AddRemoteShards(Reader* reader) {
  const Clock::time_point now = Clock::now();
  Clock::time_point retry_at = Clock::time_point::max();
  for (const std::string& url : reader->settings.remotes) {
    {
      MutexLock lock(&mu_);
      RemoteState& state = remotes_[url];
      if (state.failures > 0 && now < state.retry_at) {
        reader->missing.push_back(url);
        retry_at = std::min(retry_at, state.retry_at);
        continue;
      }
    }
    std::string host;
    unsigned port = 0;
    bool joined = false;
    if (ParseRemoteShard(url, &host, &port)) {
      try {
        reader->db.add_database(
            Xapian::Remote::open(host, port, kRemoteReplyMs, kRemoteConnectMs));
        joined = true;
      } catch (const Xapian::Error&) {
      }
    }
    MutexLock lock(&mu_);
    RemoteState& state = remotes_[url];
    if (joined) {
      state = RemoteState{};
      continue;
    }
    ++state.failures;
    state.retry_at = Clock::now() + RetryPause(state.failures);
    reader->missing.push_back(url);
    retry_at = std::min(retry_at, state.retry_at);
  }
  reader->retry_at = retry_at;
}

StatusOr<std::unique_ptr<ReaderPool::Reader>> ReaderPool::Acquire(const std::string& folder) {
  std::string last_error = "the database did not stay the same while it was opened";
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(kRetryPause);
    StatusOr<ShardSettings> settings = ReadShardSettings(fs_, folder);
    if (!settings.ok()) return settings.status();
    const std::vector<std::string> shards = LocalShardFolders(*settings, folder);
    std::vector<DatabaseVersion> versions;
    bool swapping = false;
    for (const std::string& shard : shards) {
      StatusOr<DatabaseVersion> version = ReadDatabaseVersion(fs_, shard);
      if (version.ok()) {
        versions.push_back(*version);
        continue;
      }
      VANTREL_RETURN_IF_ERROR(WhyNoVersion(fs_, folder, shard));
      swapping = true;
      break;
    }
    if (swapping) {
      last_error = "the index in " + folder + " is being replaced";
      continue;
    }
    if (std::unique_ptr<Reader> idle = TakeIdle(folder, *settings, versions)) return idle;
    auto reader = std::make_unique<Reader>();
    try {
      reader->shard_folders = shards;
      for (const std::string& shard : shards) {
        reader->local_shards.emplace_back(shard, Xapian::DB_BACKEND_GLASS);
        reader->db.add_database(reader->local_shards.back());
      }
    } catch (const Xapian::DatabaseNotFoundError& e) {
      last_error = e.get_description();
      continue;
    } catch (const Xapian::DatabaseError& e) {
      // Opening / corruption errors while files are swapped; retried.
      last_error = e.get_description();
      continue;
    } catch (const Xapian::Error& e) {
      return Status::IoError("cannot open the index in " + folder + ": " + e.get_description());
    }
    bool same = true;
    for (size_t i = 0; i < shards.size() && same; ++i) {
      StatusOr<DatabaseVersion> after = ReadDatabaseVersion(fs_, shards[i]);
      same = after.ok() && *after == versions[i];
    }
    if (!same) continue;
    reader->versions = std::move(versions);
    reader->settings = std::move(*settings);
    AddRemoteShards(reader.get());
    return reader;
  }
  return Status::Unavailable("cannot open the index in " + folder + ": " + last_error);
}

void ReaderPool::ReadTables(const Reader& reader, TaskPool* pool) {
  const std::vector<Xapian::Database>& shards = reader.local_shards;
  if (shards.empty() || !DenseEnough(shards)) return;
  reader.times.resize(shards.size());
  reader.lengths.resize(shards.size());
  RunEach(static_cast<uint32_t>(shards.size()), pool, [&](uint32_t s) {
    if (!reader.times[s].has_value()) reader.times[s] = ReadTimeTable(shards[s]);
    if (!reader.lengths[s].has_value()) reader.lengths[s] = ReadLengthTable(shards[s]);
  });
}

bool ReaderPool::OpenViews(const Reader& reader, size_t count) {
  while (reader.views.size() < count) {
    Xapian::Database view;
    for (size_t i = 0; i < reader.shard_folders.size(); ++i) {
      Xapian::Database shard(reader.shard_folders[i], Xapian::DB_BACKEND_GLASS);
      const Xapian::Database& opened = reader.local_shards[i];
      if (shard.get_revision() != opened.get_revision() || shard.get_uuid() != opened.get_uuid()) {
        reader.views.clear();
        return false;
      }
      view.add_database(shard);
    }
    reader.views.push_back(std::move(view));
  }
  return true;
}

std::unique_ptr<ReaderPool::Reader> ReaderPool::TakeIdle(
    const std::string& folder, const ShardSettings& settings,
    const std::vector<DatabaseVersion>& versions) {
  MutexLock lock(&mu_);
  auto it = idle_.find(folder);
  if (it == idle_.end()) return nullptr;
  std::vector<std::unique_ptr<Reader>>& readers = it->second;
  while (!readers.empty()) {
    std::unique_ptr<Reader> r = std::move(readers.back());
    readers.pop_back();
    if (r->versions == versions && r->settings == settings &&
        (r->missing.empty() || Clock::now() < r->retry_at)) {
      return r;
    }
    // A reader of another state: closed when `r` goes out of scope.
  }
  return nullptr;
}

void ReaderPool::Release(const std::string& folder, std::unique_ptr<Reader> reader) {
  if (!reader) return;
  MutexLock lock(&mu_);
  std::vector<std::unique_ptr<Reader>>& readers = idle_[folder];
  if (readers.size() < kIdlePerFolder) readers.push_back(std::move(reader));
}

void ReaderPool::NoteRemoteFailure(const std::string& folder) {
  std::vector<std::unique_ptr<Reader>> closing;
  MutexLock lock(&mu_);
  auto it = idle_.find(folder);
  if (it != idle_.end()) closing.swap(it->second);
}

void ReaderPool::Clear() {
  std::map<std::string, std::vector<std::unique_ptr<Reader>>> closing;
  {
    MutexLock lock(&mu_);
    closing.swap(idle_);
  }
}

}  // namespace vantrel
