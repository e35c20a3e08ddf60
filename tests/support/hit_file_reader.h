// A hit file as a client sees it, read straight from its bytes (without the
// server's own list code, so that tests of the server and of vantrelctl
// check the file against an independent reading).
//
// A hit file is a 408-byte header (record count, found count, skip table)
// and one record per hit: name length with its NUL, time, type, entry
// number, then the name. The server writes the skip table last, so a file
// whose counted records are all there and whose first skip entry is set
// reads `complete`.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

struct HitFileRecord {
  std::string key;
  uint32_t time = 0;
  uint32_t type = 0;
  uint32_t number = 0;
};

struct HitFileView {
  bool present = false;   // the file could be read
  bool complete = false;  // every counted record is there and the skip table is written
  std::string bytes;
  uint32_t count = 0;
  uint32_t found = 0;
  std::vector<HitFileRecord> records;  // in file order
  std::vector<std::string> keys() const;
};

HitFileView ParseHitBytes(std::string bytes);
HitFileView ReadHitFile(const std::string& path);

// Waits until `request_path` is gone and the hit file at `hit_path` reads
// complete; returns the last reading (complete == false on timeout).
HitFileView WaitForHitFile(const std::string& request_path, const std::string& hit_path,
                           std::chrono::milliseconds limit = std::chrono::milliseconds(20000));

}  // namespace vantrel
