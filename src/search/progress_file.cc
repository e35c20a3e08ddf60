#include "search/progress_file.h"

#include <utility>

namespace vantrel {

std::string EncodeProgressFile(uint32_t accepted) {
  std::string out(kProgressFileSize, '\0');
  for (size_t i = 0; i < kProgressFileSize; ++i) {
    out[i] = static_cast<char>((accepted >> (8 * i)) & 0xFF);
  }
  return out;
}

std::optional<uint32_t> DecodeProgressFile(std::string_view bytes) {
  if (bytes.size() != kProgressFileSize) return std::nullopt;
  uint32_t v = 0;
  for (size_t i = 0; i < kProgressFileSize; ++i) {
    v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  }
  return v;
}

Status WriteProgressFile(FileSystem* fs, const std::string& path, uint32_t accepted) {
  // Through OpenForWrite rather than WriteFile: a new file gets the mode that
  // lets the clients' group delete it.
  StatusOr<std::unique_ptr<WritableFile>> file = fs->OpenForWrite(path, kSharedFileMode);
  if (!file.ok()) return file.status();
  Status written = (*file)->Append(EncodeProgressFile(accepted));
  Status closed = (*file)->Close();
  return written.ok() ? closed : written;
}

ProgressFileWriter::ProgressFileWriter(FileSystem* fs, std::string path)
    : fs_(fs), path_(std::move(path)) {}

ProgressFileWriter::~ProgressFileWriter() {
  if (file_) file_->Close().IgnoreError();
}

Status ProgressFileWriter::Write(uint32_t accepted) {
  const std::string bytes = EncodeProgressFile(accepted);
  if (!file_ && !in_place_failed_) {
    // An older file of another size is replaced whole once; after that the
    // file holds exactly four bytes and is written over in place.
    StatusOr<FileInfo> info = fs_->Stat(path_);
    if (info.ok() && info->size != kProgressFileSize) {
      VANTREL_RETURN_IF_ERROR(WriteProgressFile(fs_, path_, accepted));
    }
    StatusOr<std::unique_ptr<WritableFile>> opened = fs_->OpenForOverwrite(path_, kSharedFileMode);
    if (opened.ok()) {
      file_ = std::move(opened.value());
    } else {
      in_place_failed_ = true;
    }
  }
  if (!file_) return WriteProgressFile(fs_, path_, accepted);
  Status written = file_->WriteAt(0, bytes);
  if (!written.ok()) {
    file_->Close().IgnoreError();
    file_.reset();
    in_place_failed_ = true;
    return WriteProgressFile(fs_, path_, accepted);
  }
  return written;
}

}  // namespace vantrel
