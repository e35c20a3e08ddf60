#include "support/fault_file_system.h"

#include <fnmatch.h>

#include <utility>

namespace vantrel {
namespace {

bool MatchesAny(const std::vector<std::string>& patterns, const std::string& path) {
  for (const std::string& p : patterns) {
    if (::fnmatch(p.c_str(), path.c_str(), 0) == 0) return true;
  }
  return false;
}

Status Injected(const std::string& what, const std::string& path) {
  return Status::IoError("injected fault: " + what + " " + path);
}

class FaultWritableFile final : public WritableFile {
 public:
  FaultWritableFile(FaultFileSystem* owner, std::unique_ptr<WritableFile> base, std::string path)
      : owner_(owner), base_(std::move(base)), path_(std::move(path)) {}

  Status Append(std::string_view data) override {
    uint64_t allowed = data.size();
    Status s = owner_->CheckWrite(path_, data.size(), &allowed);
    if (allowed > 0) {
      VANTREL_RETURN_IF_ERROR(base_->Append(data.substr(0, static_cast<size_t>(allowed))));
    }
    return s;
  }
  Status WriteAt(uint64_t offset, std::string_view data) override {
    uint64_t allowed = data.size();
    Status s = owner_->CheckWrite(path_, data.size(), &allowed);
    if (allowed > 0) {
      VANTREL_RETURN_IF_ERROR(base_->WriteAt(offset, data.substr(0, static_cast<size_t>(allowed))));
    }
    return s;
  }
  Status Sync() override {
    VANTREL_RETURN_IF_ERROR(owner_->CheckWrite(path_, 0, nullptr));
    return owner_->skips_syncs() ? Status::Ok() : base_->Sync();
  }
  Status Close() override { return base_->Close(); }

 private:
  FaultFileSystem* const owner_;
  std::unique_ptr<WritableFile> base_;
  const std::string path_;
};

}  // namespace

FaultFileSystem::FaultFileSystem(FileSystem* base) : base_(base) {}

void FaultFileSystem::FailNthWrite(int n) {
  MutexLock lock(&mu_);
  fail_nth_ = n;
}

void FaultFileSystem::FillDiskAtNthWrite(int n) {
  MutexLock lock(&mu_);
  fill_disk_nth_ = n;
}

void FaultFileSystem::CrashAtNthWrite(int n) {
  MutexLock lock(&mu_);
  crash_nth_ = n;
}

void FaultFileSystem::SkipSyncs() {
  MutexLock lock(&mu_);
  skip_syncs_ = true;
}

bool FaultFileSystem::skips_syncs() const {
  MutexLock lock(&mu_);
  return skip_syncs_;
}

void FaultFileSystem::FailWritesMatching(std::string pattern) {
  MutexLock lock(&mu_);
  write_patterns_.push_back(std::move(pattern));
}

void FaultFileSystem::FailReadsMatching(std::string pattern) {
  MutexLock lock(&mu_);
  read_patterns_.push_back(std::move(pattern));
}

void FaultFileSystem::SetSpaceLimit(uint64_t bytes) {
  MutexLock lock(&mu_);
  space_limited_ = true;
  space_left_ = bytes;
}

void FaultFileSystem::ClearFaults() {
  MutexLock lock(&mu_);
  fail_nth_ = 0;
  fill_disk_nth_ = 0;
  crash_nth_ = 0;
  crashed_ = false;
  write_patterns_.clear();
  read_patterns_.clear();
  space_limited_ = false;
}

int FaultFileSystem::write_count() const {
  MutexLock lock(&mu_);
  return write_count_;
}

int FaultFileSystem::faults_injected() const {
  MutexLock lock(&mu_);
  return faults_;
}

std::vector<std::string> FaultFileSystem::written_paths() const {
  MutexLock lock(&mu_);
  return written_paths_;
}

Status FaultFileSystem::CheckWrite(const std::string& path, uint64_t bytes, uint64_t* allowed) {
  MutexLock lock(&mu_);
  ++write_count_;
  written_paths_.push_back(path);
  if (allowed != nullptr) *allowed = bytes;
  bool fail = false;
  if (fail_nth_ > 0 && --fail_nth_ == 0) fail = true;
  if (crash_nth_ > 0 && --crash_nth_ == 0) crashed_ = true;
  if (crashed_) fail = true;
  if (MatchesAny(write_patterns_, path)) fail = true;
  if (fail) {
    ++faults_;
    if (allowed != nullptr) *allowed = 0;
    return Injected("write", path);
  }
  if (fill_disk_nth_ > 0 && --fill_disk_nth_ == 0) {
    ++faults_;
    space_limited_ = true;
    space_left_ = 0;
    if (allowed != nullptr) *allowed = 0;
    return Status::ResourceExhausted("injected fault: disk full writing " + path);
  }
  if (space_limited_ && bytes > 0) {
    if (bytes > space_left_) {
      ++faults_;
      if (allowed != nullptr) *allowed = space_left_;
      space_left_ = 0;
      return Status::ResourceExhausted("injected fault: disk full writing " + path);
    }
    space_left_ -= bytes;
  }
  return Status::Ok();
}

Status FaultFileSystem::CheckRead(const std::string& path) {
  MutexLock lock(&mu_);
  if (MatchesAny(read_patterns_, path)) {
    ++faults_;
    return Injected("read", path);
  }
  return Status::Ok();
}

StatusOr<std::string> FaultFileSystem::ReadFile(const std::string& path, size_t max_bytes) {
  VANTREL_RETURN_IF_ERROR(CheckRead(path));
  return base_->ReadFile(path, max_bytes);
}

StatusOr<std::string> FaultFileSystem::ReadFileRange(const std::string& path, uint64_t offset,
                                                     size_t length) {
  VANTREL_RETURN_IF_ERROR(CheckRead(path));
  return base_->ReadFileRange(path, offset, length);
}

StatusOr<std::unique_ptr<WritableFile>> FaultFileSystem::OpenForWrite(const std::string& path,
                                                                      int mode) {
  VANTREL_RETURN_IF_ERROR(CheckWrite(path, 0, nullptr));
  auto file = base_->OpenForWrite(path, mode);
  if (!file.ok()) return file.status();
  return std::unique_ptr<WritableFile>(
      new FaultWritableFile(this, std::move(file).value(), path));
}

StatusOr<std::unique_ptr<WritableFile>> FaultFileSystem::OpenForOverwrite(
    const std::string& path, int mode) {
  VANTREL_RETURN_IF_ERROR(CheckWrite(path, 0, nullptr));
  auto file = base_->OpenForOverwrite(path, mode);
  if (!file.ok()) return file.status();
  return std::unique_ptr<WritableFile>(
      new FaultWritableFile(this, std::move(file).value(), path));
}

Status FaultFileSystem::AppendToFile(const std::string& path, std::string_view data) {
  uint64_t allowed = data.size();
  Status s = CheckWrite(path, data.size(), &allowed);
  if (s.ok()) return base_->AppendToFile(path, data);
  // A full disk takes what fits, like a real append.
  if (s.code() == StatusCode::kResourceExhausted && allowed > 0) {
    VANTREL_RETURN_IF_ERROR(
        base_->AppendToFile(path, data.substr(0, static_cast<size_t>(allowed))));
  }
  return s;
}

Status FaultFileSystem::WriteFileAtomic(const std::string& path, std::string_view data,
                                        int mode) {
  uint64_t allowed = data.size();
  // A failed atomic replacement leaves the old file; nothing reaches the base.
  VANTREL_RETURN_IF_ERROR(CheckWrite(path, data.size(), &allowed));
  return base_->WriteFileAtomic(path, data, mode);
}

Status FaultFileSystem::WriteFileAtomicDated(const std::string& path, std::string_view data,
                                             int mode, WinFileTime modified) {
  uint64_t allowed = data.size();
  VANTREL_RETURN_IF_ERROR(CheckWrite(path, data.size(), &allowed));
  return base_->WriteFileAtomicDated(path, data, mode, modified);
}

Status FaultFileSystem::WriteFile(const std::string& path, std::string_view data) {
  uint64_t allowed = data.size();
  Status s = CheckWrite(path, data.size(), &allowed);
  if (s.ok()) return base_->WriteFile(path, data);
  // A file written in place is created and torn when the disk fills up.
  if (s.code() == StatusCode::kResourceExhausted) {
    VANTREL_RETURN_IF_ERROR(base_->WriteFile(path, data.substr(0, static_cast<size_t>(allowed))));
  }
  return s;
}

StatusOr<FileInfo> FaultFileSystem::Stat(const std::string& path) {
  VANTREL_RETURN_IF_ERROR(CheckRead(path));
  return base_->Stat(path);
}

bool FaultFileSystem::Exists(const std::string& path) { return base_->Exists(path); }

bool FaultFileSystem::IsFolder(const std::string& path) { return base_->IsFolder(path); }

Status FaultFileSystem::DeleteFile(const std::string& path) {
  VANTREL_RETURN_IF_ERROR(CheckWrite(path, 0, nullptr));
  return base_->DeleteFile(path);
}

Status FaultFileSystem::Rename(const std::string& from, const std::string& to) {
  VANTREL_RETURN_IF_ERROR(CheckWrite(to, 0, nullptr));
  return base_->Rename(from, to);
}

Status FaultFileSystem::CopyFile(const std::string& from, const std::string& to) {
  uint64_t size = 0;
  if (auto info = base_->Stat(from); info.ok()) size = info->size;
  uint64_t allowed = size;
  // The base copies through a temporary file, so a failed copy leaves the
  // target as it was.
  VANTREL_RETURN_IF_ERROR(CheckWrite(to, size, &allowed));
  return base_->CopyFile(from, to);
}

Status FaultFileSystem::SyncFolder(const std::string& path) {
  VANTREL_RETURN_IF_ERROR(CheckWrite(path, 0, nullptr));
  return skips_syncs() ? Status::Ok() : base_->SyncFolder(path);
}

Status FaultFileSystem::SyncFile(const std::string& path) {
  VANTREL_RETURN_IF_ERROR(CheckWrite(path, 0, nullptr));
  return skips_syncs() ? Status::Ok() : base_->SyncFile(path);
}

Status FaultFileSystem::CreateFolders(const std::string& path) {
  VANTREL_RETURN_IF_ERROR(CheckWrite(path, 0, nullptr));
  return base_->CreateFolders(path);
}

Status FaultFileSystem::CreateSharedFolder(const std::string& path) {
  VANTREL_RETURN_IF_ERROR(CheckWrite(path, 0, nullptr));
  return base_->CreateSharedFolder(path);
}

Status FaultFileSystem::DeleteFolder(const std::string& path) {
  VANTREL_RETURN_IF_ERROR(CheckWrite(path, 0, nullptr));
  return base_->DeleteFolder(path);
}

Status FaultFileSystem::EmptyFolder(const std::string& path, bool recursive) {
  VANTREL_RETURN_IF_ERROR(CheckWrite(path, 0, nullptr));
  return base_->EmptyFolder(path, recursive);
}

StatusOr<std::vector<FolderEntry>> FaultFileSystem::ListFolder(const std::string& path) {
  VANTREL_RETURN_IF_ERROR(CheckRead(path));
  return base_->ListFolder(path);
}

bool FaultFileSystem::IsValidFolder(const std::string& path) {
  return base_->IsValidFolder(path);
}

StatusOr<uint64_t> FaultFileSystem::FreeSpace(const std::string& path) {
  VANTREL_RETURN_IF_ERROR(CheckRead(path));
  return base_->FreeSpace(path);
}

}  // namespace vantrel
