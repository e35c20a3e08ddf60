#include "engine/reader_pool.h"

#include <chrono>
#include <thread>

namespace vantrel {
namespace {

constexpr int kOpenAttempts = 40;
constexpr auto kRetryPause = std::chrono::milliseconds(25);
constexpr size_t kIdlePerFolder = 8;

}  // namespace

StatusOr<std::unique_ptr<ReaderPool::Reader>> ReaderPool::Acquire(const std::string& folder) {
  std::string last_error = "the database did not stay the same while it was opened";
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(kRetryPause);
    StatusOr<DatabaseVersion> version = ReadDatabaseVersion(fs_, folder);
    if (!version.ok()) {
      if (!fs_->IsFolder(folder)) return Status::NotFound("no index in " + folder);
      // No version file: no database, or a swap is replacing it. Only a
      // staging folder tells the second case; without one there is no index.
      if (!fs_->IsFolder(folder + "/" + kStagingFolderName)) {
        // A swap may have ended between the two looks: its version file is
        // there now.
        if (ReadDatabaseVersion(fs_, folder).ok()) continue;
        return Status::NotFound("no index in " + folder);
      }
      last_error = "the index in " + folder + " is being replaced";
      continue;
    }
    {
      MutexLock lock(&mu_);
      auto it = idle_.find(folder);
      if (it != idle_.end()) {
        std::vector<std::unique_ptr<Reader>>& readers = it->second;
        while (!readers.empty()) {
          std::unique_ptr<Reader> r = std::move(readers.back());
          readers.pop_back();
          if (r->version == *version) return r;
          // A stale reader: closed when `r` goes out of scope.
        }
      }
    }
    auto reader = std::make_unique<Reader>();
    try {
      reader->db = Xapian::Database(folder, Xapian::DB_BACKEND_GLASS);
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
    StatusOr<DatabaseVersion> after = ReadDatabaseVersion(fs_, folder);
    if (!after.ok() || !(*after == *version)) continue;
    reader->version = *version;
    return reader;
  }
  return Status::Unavailable("cannot open the index in " + folder + ": " + last_error);
}

void ReaderPool::Release(const std::string& folder, std::unique_ptr<Reader> reader) {
  if (!reader) return;
  MutexLock lock(&mu_);
  std::vector<std::unique_ptr<Reader>>& readers = idle_[folder];
  if (readers.size() < kIdlePerFolder) readers.push_back(std::move(reader));
}

void ReaderPool::Clear() {
  std::map<std::string, std::vector<std::unique_ptr<Reader>>> closing;
  {
    MutexLock lock(&mu_);
    closing.swap(idle_);
  }
}

}  // namespace vantrel
