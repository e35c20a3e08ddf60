#include "support/mac_builders.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "metadata/iim_codec.h"

namespace vantrel::mac_test {

std::string Be16(uint16_t v) {
  std::string s(2, '\0');
  s[0] = static_cast<char>(v >> 8);
  s[1] = static_cast<char>(v);
  return s;
}

std::string Be32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (24 - 8 * i));
  return s;
}

std::string Iim(int dataset, std::string_view value, int record) {
  std::string s;
  s += '\x1c';
  s += static_cast<char>(record);
  s += static_cast<char>(dataset);
  s += Be16(static_cast<uint16_t>(value.size()));
  s += value;
  return s;
}

std::string IimBlock(const std::vector<std::pair<int, std::string>>& datasets) {
  std::string s = Iim(0, std::string("\x00\x02", 2));
  for (const auto& [n, v] : datasets) s += Iim(n, v);
  return s;
}

Datasets DatasetList(std::string_view block) {
  Datasets out;
  for (const IimDataset& d : WalkDatasets(block)) {
    if (d.dataset != 0) out.emplace_back(d.dataset, std::string(d.value));
  }
  return out;
}

ResourceForkBuilder& ResourceForkBuilder::Add(std::string_view data) {
  data_ += Be32(static_cast<uint32_t>(data.size()));
  data_ += data;
  return *this;
}

ResourceForkBuilder& ResourceForkBuilder::AddRaw(std::string_view bytes) {
  data_ += bytes;
  return *this;
}

std::string ResourceForkBuilder::Build() const {
  const uint32_t data_offset = 256;
  const uint32_t map_offset = data_offset + static_cast<uint32_t>(data_.size());
  // Map: copy of the header, handle, file ref, attributes, type list offset,
  // name list offset, number of types - 1 (none).
  std::string header =
      Be32(data_offset) + Be32(map_offset) + Be32(static_cast<uint32_t>(data_.size())) + Be32(30);
  std::string map = header + Be32(0) + Be16(0) + Be16(0) + Be16(28) + Be16(30) + Be16(0xFFFF);
  std::string fork = header;
  fork.resize(data_offset, '\0');
  fork += data_;
  fork += map;
  return fork;
}

std::string AnpaResource(std::string_view iptc) { return "ANPA" + std::string(iptc); }

std::string Photoshop30Fork(std::string_view iptc) {
  return ResourceForkBuilder().Add("Adobe Photoshop 3.0").Add(iptc).Build();
}

std::string Photoshop25Entry(int record, int dataset, std::string_view value) {
  std::string s;
  s += static_cast<char>(record);
  s += static_cast<char>(dataset);
  s += std::string(2, '\0');
  s += Be32(static_cast<uint32_t>(value.size()));
  s += value;
  return s;
}

std::string Photoshop25Fork(const std::vector<std::string>& entries) {
  ResourceForkBuilder b;
  for (const std::string& e : entries) b.Add(e);
  return b.Build();
}

std::string TextResourceFork(std::string_view text) {
  // A small binary resource (a stand-in for a preview) first.
  std::string binary("\x00\x11\x02\xff\x0c\x00\xff\xfe\x00\x00\x00\x48\x00\x00", 14);
  return ResourceForkBuilder().Add(binary).Add(text).Build();
}

std::string BlankResourceFork() {
  // macOS's empty fork: no resource data, a 30-byte map at 256, and the text
  // in the reserved part of the header.
  std::string header = Be32(256) + Be32(256) + Be32(0) + Be32(30);
  std::string fork = header;
  fork += "This resource fork intentionally left blank   ";
  fork.resize(256, '\0');
  fork += header + Be32(0) + Be16(0) + Be16(0) + Be16(28) + Be16(30);
  fork.resize(286, '\0');
  return fork;
}

std::string FinderInfo(std::string_view type, std::string_view creator) {
  std::string s(32, '\0');
  s.replace(0, std::min<size_t>(4, type.size()), type.substr(0, 4));
  s.replace(4, std::min<size_t>(4, creator.size()), creator.substr(0, 4));
  s.resize(32, '\0');
  return s;
}

std::string AfpInfoStream(std::string_view type, std::string_view creator, bool trailing_nul) {
  std::string s = std::string("AFP\0", 4) + Be32(0x00010000) + std::string(8, '\0') +
                  FinderInfo(type, creator) + std::string(12, '\0');
  if (trailing_nul) s += '\0';
  return s;
}

std::string AppleDouble(const std::vector<std::pair<uint32_t, std::string>>& entries,
                        bool reverse_data, uint32_t version) {
  std::string head = Be32(0x00051607) + Be32(version) + std::string(16, '\0') +
                     Be16(static_cast<uint16_t>(entries.size()));
  size_t offset = head.size() + 12 * entries.size();
  std::vector<size_t> offsets(entries.size());
  std::string data;
  for (size_t k = 0; k < entries.size(); ++k) {
    size_t e = reverse_data ? entries.size() - 1 - k : k;
    offsets[e] = offset + data.size();
    data += entries[e].second;
  }
  for (size_t k = 0; k < entries.size(); ++k) {
    head += Be32(entries[k].first) + Be32(static_cast<uint32_t>(offsets[k])) +
            Be32(static_cast<uint32_t>(entries[k].second.size()));
  }
  return head + data;
}

std::string MacOsSidecar(std::string_view type, std::string_view creator,
                         std::string_view resource_fork) {
  // macOS keeps extended attributes in an "ATTR" block behind the Finder info.
  std::string finder = FinderInfo(type, creator) + std::string(2, '\0') + "ATTR" +
                       Be32(0x0055d9b0) + std::string(64, '\0');
  finder.resize(3760, '\0');
  return AppleDouble({{9, finder}, {2, std::string(resource_fork)}});
}

std::string NetatalkMetadata(std::string_view type, std::string_view creator) {
  // Netatalk's layout: date info (8), Finder info (9), AFP file info (14)...
  return AppleDouble(
      {{8, std::string(16, '\0')}, {9, FinderInfo(type, creator)}, {14, std::string(4, '\0')}});
}

std::string DatasetLines(const std::vector<std::pair<int, std::string>>& datasets, char end) {
  std::string s;
  for (size_t k = 0; k < datasets.size(); ++k) {
    if (k > 0) s += '\r';
    s += "2:" + std::to_string(datasets[k].first) + " Label    " + datasets[k].second + end;
  }
  return s;
}

std::string IptcEntries(const std::vector<std::pair<int, std::string>>& datasets, int record) {
  std::string s;
  for (const auto& [n, v] : datasets) {
    s += "IPTC:" + std::to_string(record) + ":" + std::to_string(n) + "  " + v + "\r";
  }
  return s;
}

std::string MacBinaryHeader(std::string_view name, std::string_view type) {
  std::string h(128, '\0');
  h[1] = static_cast<char>(std::min<size_t>(name.size(), 63));
  h.replace(2, std::min<size_t>(name.size(), 63), name.substr(0, 63));
  h.resize(128, '\0');
  h.replace(65, 4, FinderInfo(type, "ttxt").substr(0, 4));
  h.replace(69, 4, "ttxt");
  h.resize(128, '\0');
  return h;
}

bool SetXattr(const std::string& path, const std::string& name, std::string_view value) {
  return setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) == 0;
}

bool UserXattrsSupported(const std::string& folder) {
  std::string probe = folder + "/.xattr_probe";
  { std::ofstream(probe) << "x"; }
  bool ok = setxattr(probe.c_str(), "user.vantrel.probe", "1", 1, 0) == 0;
  unlink(probe.c_str());
  return ok;
}

}  // namespace vantrel::mac_test
