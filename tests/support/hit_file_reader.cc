#include "support/hit_file_reader.h"

#include <thread>

#include "platform/file_system.h"

namespace vantrel {
namespace {

constexpr size_t kHeaderSize = 408;
constexpr size_t kRecordHeaderSize = 16;

uint32_t U32At(const std::string& b, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

}  // namespace

std::vector<std::string> HitFileView::keys() const {
  std::vector<std::string> k;
  for (const HitFileRecord& r : records) k.push_back(r.key);
  return k;
}

HitFileView ParseHitBytes(std::string bytes) {
  HitFileView v;
  v.present = true;
  v.bytes = std::move(bytes);
  if (v.bytes.size() < kHeaderSize) return v;
  v.count = U32At(v.bytes, 0);
  v.found = U32At(v.bytes, 4);
  size_t at = kHeaderSize;
  for (uint32_t i = 0; i < v.count && at + kRecordHeaderSize <= v.bytes.size(); ++i) {
    HitFileRecord r;
    const uint32_t len = U32At(v.bytes, at);
    r.time = U32At(v.bytes, at + 4);
    r.type = U32At(v.bytes, at + 8);
    r.number = U32At(v.bytes, at + 12);
    if (len == 0 || len > v.bytes.size() - at - kRecordHeaderSize) break;
    r.key = v.bytes.substr(at + kRecordHeaderSize, len - 1);
    at += kRecordHeaderSize + len;
    v.records.push_back(std::move(r));
  }
  v.complete = v.records.size() == v.count && (v.count == 0 || U32At(v.bytes, 8) == kHeaderSize);
  return v;
}

HitFileView ReadHitFile(const std::string& path) {
  StatusOr<std::string> bytes = DefaultFileSystem()->ReadFile(path);
  if (!bytes.ok()) return HitFileView{};
  return ParseHitBytes(std::move(*bytes));
}

HitFileView WaitForHitFile(const std::string& request_path, const std::string& hit_path,
                           std::chrono::milliseconds limit) {
  FileSystem* fs = DefaultFileSystem();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  HitFileView last;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!fs->Exists(request_path)) {
      last = ReadHitFile(hit_path);
      if (last.complete) return last;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return last;
}

}  // namespace vantrel
