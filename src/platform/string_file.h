// StringFile: a WritableFile that writes into memory, for building the bytes
// of a file format with the same code that writes the real file.
//
// Thread safety: one writer at a time.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "platform/file_system.h"

namespace vantrel {

class StringFile : public WritableFile {
 public:
  Status Append(std::string_view data) override {
    bytes_.append(data);
    return Status::Ok();
  }
  Status WriteAt(uint64_t offset, std::string_view data) override {
    if (offset == bytes_.size()) {
      bytes_.append(data);  // the usual case: the file grows at its end
      return Status::Ok();
    }
    if (bytes_.size() < offset + data.size()) bytes_.resize(offset + data.size());
    bytes_.replace(offset, data.size(), data);
    return Status::Ok();
  }
  // Room for `size` bytes, so that a file built piece by piece is not copied
  // as it grows.
  void Reserve(size_t size) { bytes_.reserve(size); }
  Status Sync() override { return Status::Ok(); }
  Status Close() override { return Status::Ok(); }
  // The bytes written so far; the file is empty afterwards.
  std::string Take() { return std::move(bytes_); }

 private:
  std::string bytes_;
};

}  // namespace vantrel
