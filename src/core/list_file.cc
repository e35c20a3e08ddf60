#include "core/list_file.h"

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "platform/string_file.h"
#include "platform/byte_order.h"

namespace vantrel {
namespace {

void PutU32(std::string* out, uint32_t v) {
  char b[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
               static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
  out->append(b, 4);
}

std::string EncodeSkipTable(const std::array<uint32_t, kListSkipEntries>& skip) {
  std::string out;
  out.reserve(kListSkipEntries * 4);
  for (uint32_t v : skip) PutU32(&out, v);
  return out;
}


}  // namespace

Status WriteListFile(const BrowseList& list, WritableFile* file,
                     const ListFileWriteOptions& options) {
  size_t n = list.Count();
  if (options.max_entries != 0 && options.max_entries < n) n = options.max_entries;

  std::array<uint32_t, kListSkipEntries> skip{};
  skip[0] = kListFileHeaderSize;
  std::string head;
  head.reserve(kListFileHeaderSize);
  PutU32(&head, static_cast<uint32_t>(n));
  PutU32(&head, options.second_word);
  head.append(kListSkipEntries * 4, '\0');
  VANTREL_RETURN_IF_ERROR(file->WriteAt(0, head));

  std::string buffer;
  buffer.reserve(kListWriteBufferSize + kListRecordHeaderSize + kMaxListNameLength + 1);
  uint64_t flushed = kListFileHeaderSize;  // file offset of buffer[0]
  uint32_t position = 0;
  Status status;
  list.ForEach(
      [&](const BrowseEntryView& v) {
        if (position % kListSkipInterval == 0 && position / kListSkipInterval < kListSkipEntries) {
          skip[position / kListSkipInterval] = static_cast<uint32_t>(flushed + buffer.size());
        }
        PutU32(&buffer, static_cast<uint32_t>(v.name_size() + 1));
        PutU32(&buffer, v.time);
        PutU32(&buffer, v.value);
        PutU32(&buffer, v.extra == kNoExtra ? position : v.extra);
        buffer.append(v.folder);
        buffer.append(v.last);
        buffer.push_back('\0');
        ++position;
        if (buffer.size() > kListWriteBufferSize) {
          status = file->WriteAt(flushed, buffer);
          if (!status.ok()) return false;
          flushed += buffer.size();
          buffer.clear();
        }
        return true;
      },
      n);
  VANTREL_RETURN_IF_ERROR(status);
  if (!buffer.empty()) VANTREL_RETURN_IF_ERROR(file->WriteAt(flushed, buffer));
  return file->WriteAt(kListSkipTableOffset, EncodeSkipTable(skip));
}

Status SaveListFileAtomic(const BrowseList& list, FileSystem* fs, const std::string& path,
                          const ListFileWriteOptions& options) {
  const std::string temp = path + ".new";
  Status status;
  {
    StatusOr<std::unique_ptr<WritableFile>> file = fs->OpenForWrite(temp);
    if (!file.ok()) return file.status();
    status = WriteListFile(list, file->get(), options);
    if (status.ok()) status = (*file)->Sync();
    Status closed = (*file)->Close();
    if (status.ok()) status = closed;
  }
  if (status.ok()) status = fs->Rename(temp, path);
  if (!status.ok()) fs->DeleteFile(temp).IgnoreError();
  return status;
}

Status SaveListFileInPlace(const BrowseList& list, FileSystem* fs, const std::string& path,
                           const ListFileWriteOptions& options) {
  StatusOr<std::unique_ptr<WritableFile>> file = fs->OpenForOverwrite(path);
  if (!file.ok()) return file.status();
  Status status = WriteListFile(list, file->get(), options);
  Status closed = (*file)->Close();
  return status.ok() ? closed : status;
}

std::string EncodeListFile(const BrowseList& list, const ListFileWriteOptions& options) {
  size_t size = kListFileHeaderSize;
  list.ForEach(
      [&size](const BrowseEntryView& v) {
        size += kListRecordHeaderSize + v.name_size() + 1;
        return true;
      },
      options.max_entries);
  StringFile file;
  file.Reserve(size);
  // Writing into a string cannot fail.
  WriteListFile(list, &file, options).IgnoreError();
  return file.Take();
}

Status DecodeListFile(std::string_view bytes, bool keep_extra, BrowseList* list,
                      ListFileHeader* header) {
  if (bytes.size() < 4) {
    return Status::Corruption("list file of " + std::to_string(bytes.size()) +
                              " bytes has no record count");
  }
  ListFileHeader h;
  h.count = static_cast<int32_t>(LoadLe32(bytes, 0));
  if (bytes.size() >= kListFileHeaderSize) {
    h.second_word = LoadLe32(bytes, 4);
    for (size_t k = 0; k < kListSkipEntries; ++k) {
      h.skip[k] = LoadLe32(bytes, kListSkipTableOffset + 4 * k);
    }
  }
  if (header != nullptr) *header = h;
  if (h.count < 1) return Status::Ok();
  if (bytes.size() < kListFileHeaderSize) {
    return Status::Corruption("list file of " + std::to_string(bytes.size()) +
                              " bytes is shorter than its 408-byte header");
  }

  const size_t count = static_cast<size_t>(h.count);
  // Never trust the count for memory: each record takes at least 17 bytes.
  std::vector<NewBrowseEntry> entries;
  entries.reserve(std::min(count, (bytes.size() - kListFileHeaderSize) /
                                      (kListRecordHeaderSize + 1)));
  std::array<uint32_t, kListSkipEntries> expected_skip{};
  expected_skip[0] = kListFileHeaderSize;
  Status damage;
  size_t offset = kListFileHeaderSize;
  for (size_t i = 0; i < count; ++i) {
    auto bad = [&](const std::string& what) {
      return Status::Corruption("list file record " + std::to_string(i) + " of " +
                                std::to_string(count) + " at offset " + std::to_string(offset) +
                                ": " + what + "; " + std::to_string(i) + " records kept");
    };
    if (bytes.size() - offset < kListRecordHeaderSize) {
      damage = bad("file ends inside the record header");
      break;
    }
    uint32_t name_len = LoadLe32(bytes, offset);
    if (name_len < 1 || name_len > kMaxListNameLength + 1) {
      damage = bad("name length " + std::to_string(name_len) + " outside 1..256");
      break;
    }
    if (bytes.size() - offset - kListRecordHeaderSize < name_len) {
      damage = bad("file ends inside the name");
      break;
    }
    std::string_view name = bytes.substr(offset + kListRecordHeaderSize, name_len - 1);
    if (bytes[offset + kListRecordHeaderSize + name_len - 1] != '\0') {
      damage = bad("name not terminated by a NUL byte");
      break;
    }
    if (name.find('\0') != std::string_view::npos) {
      damage = bad("NUL byte inside the name");
      break;
    }
    if (i % kListSkipInterval == 0 && i / kListSkipInterval < kListSkipEntries) {
      expected_skip[i / kListSkipInterval] = static_cast<uint32_t>(offset);
    }
    NewBrowseEntry e;
    e.name = name;
    e.time = LoadLe32(bytes, offset + 4);
    e.value = LoadLe32(bytes, offset + 8);
    e.extra = keep_extra ? LoadLe32(bytes, offset + 12) : kNoExtra;
    entries.push_back(e);
    offset += kListRecordHeaderSize + name_len;
  }

  Status added = list->AddBatch(entries);
  if (!added.ok()) return added;
  if (!damage.ok()) return damage;
  for (size_t k = 0; k < kListSkipEntries; ++k) {
    if (h.skip[k] != expected_skip[k]) {
      return Status::Corruption("list file skip table entry " + std::to_string(k) + " is " +
                                std::to_string(h.skip[k]) + ", expected " +
                                std::to_string(expected_skip[k]) + "; all " +
                                std::to_string(count) + " records kept");
    }
  }
  return Status::Ok();
}

Status LoadListFile(FileSystem* fs, const std::string& path, bool keep_extra, BrowseList* list,
                    ListFileHeader* header) {
  StatusOr<std::string> bytes = fs->ReadFileRange(path, 0, kMaxListFileBytes);
  if (!bytes.ok()) return bytes.status();
  Status s = DecodeListFile(*bytes, keep_extra, list, header);
  if (!s.ok() && s.code() == StatusCode::kCorruption) {
    return Status::Corruption(path + ": " + s.message());
  }
  return s;
}

}  // namespace vantrel
