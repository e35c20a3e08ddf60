// Builders for the bytes that Macintosh clients leave beside image files:
// IIM datasets, resource forks in every caption form the readers recognise,
// AppleDouble files (sidecars and netatalk metadata), AFP info records, the
// "TEXT" stream forms, and helpers to put them into extended attributes of
// test files.
//
// Thread safety: plain functions and value builders.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_streams.h"

namespace vantrel::mac_test {

// Streams held in memory, for readers tested without a file system.
class FakeFileStreams : public FileStreams {
 public:
  void Put(const std::string& path, MacStream stream, std::string bytes,
           StreamPlace place = StreamPlace::kDosStreamXattr) {
    streams_[{path, stream}] = StreamContents{std::move(bytes), place};
  }
  StatusOr<StreamContents> OpenStream(const std::string& path, MacStream stream) override {
    ++opened_;
    auto it = streams_.find({path, stream});
    if (it == streams_.end()) return Status::NotFound(path);
    return it->second;
  }
  int opened() const { return opened_; }

 private:
  std::map<std::pair<std::string, MacStream>, StreamContents> streams_;
  int opened_ = 0;
};

std::string Be16(uint16_t v);
std::string Be32(uint32_t v);

// One IIM dataset with a standard length.
std::string Iim(int dataset, std::string_view value, int record = 2);
// 2:00 (00 02) followed by the given datasets in the given order.
std::string IimBlock(const std::vector<std::pair<int, std::string>>& datasets);
// (number, value) of every dataset of `block` other than x:00, in block order.
using Datasets = std::vector<std::pair<int, std::string>>;
Datasets DatasetList(std::string_view block);

// A resource fork: data offset 256, the map right behind the data area.
class ResourceForkBuilder {
 public:
  // One resource: a four-byte length, then `data`.
  ResourceForkBuilder& Add(std::string_view data);
  // Bytes put into the data area as they are (no length in front).
  ResourceForkBuilder& AddRaw(std::string_view bytes);
  // The whole fork: 16-byte header, zeros to 256, data area, a minimal map.
  std::string Build() const;
  // Offset of the resource map in the built fork.
  size_t map_offset() const { return 256 + data_.size(); }

 private:
  std::string data_;
};

// "ANPA" followed by IPTC bytes: the data of an 'ANPA' resource.
std::string AnpaResource(std::string_view iptc);
// A fork holding "Adobe Photoshop 3.0" in one resource and `iptc` in the next.
std::string Photoshop30Fork(std::string_view iptc);
// The data of one Photoshop 2.5 caption resource.
std::string Photoshop25Entry(int record, int dataset, std::string_view value);
// A fork made of Photoshop 2.5 caption resources.
std::string Photoshop25Fork(const std::vector<std::string>& entries);
// A fork with a binary resource, then `text` as the last resource before the map.
std::string TextResourceFork(std::string_view text);
// The 286-byte fork macOS writes when a file has none.
std::string BlankResourceFork();

// The 32-byte Finder info: type, creator, then zeros.
std::string FinderInfo(std::string_view type, std::string_view creator);
// A Samba AFP info stream: the 60-byte record (+ a NUL with trailing_nul).
std::string AfpInfoStream(std::string_view type, std::string_view creator,
                          bool trailing_nul = false);

// An AppleDouble file. Entries are listed in the table in the given order;
// with `reverse_data` their bytes are laid out in the opposite order, so
// that readers must use the table.
std::string AppleDouble(const std::vector<std::pair<uint32_t, std::string>>& entries,
                        bool reverse_data = false, uint32_t version = 0x00020000);
// The sidecar macOS writes: entry 9 (Finder info followed by an "ATTR"
// block, far longer than 32 bytes), then entry 2 (the resource fork).
std::string MacOsSidecar(std::string_view type, std::string_view creator,
                         std::string_view resource_fork);
// The blob of user.org.netatalk.Metadata: AppleDouble v2 with entry 9.
std::string NetatalkMetadata(std::string_view type, std::string_view creator);

// "TEXT" stream forms.
// "2:<n> <label>    <value><end>" entries joined by CR.
std::string DatasetLines(const std::vector<std::pair<int, std::string>>& datasets, char end = ' ');
// "IPTC:<record>:<n>  <value>\r" entries.
std::string IptcEntries(const std::vector<std::pair<int, std::string>>& datasets, int record = 2);
// A 128-byte MacBinary header for a file named `name` of type `type`.
std::string MacBinaryHeader(std::string_view name, std::string_view type);

// Extended attributes of test files.
bool SetXattr(const std::string& path, const std::string& name, std::string_view value);
// True when the file system of `folder` stores user extended attributes.
bool UserXattrsSupported(const std::string& folder);

}  // namespace vantrel::mac_test
