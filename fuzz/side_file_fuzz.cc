// Fuzz target: the small files the server keeps inside an index folder, which
// the file share exposes to clients: a backup's completion mark (VTCOMPLETE)
// and the engine failure count (ENGFAIL.DAT), plus the engine failure status
// record. Every accepted mark names plain files (at most one folder above
// them, a shard's number), and a decoded count or record encodes back to
// what was decoded.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/database_copy.h"
#include "search/search_statistics.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1 << 20)) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);

  vantrel::StatusOr<std::vector<vantrel::MarkedFile>> mark =
      vantrel::ParseCompleteMark(bytes, "VTCOMPLETE");
  if (mark.ok()) {
    for (const vantrel::MarkedFile& f : *mark) {
      std::string_view name = f.name;
      const size_t slash = name.find('/');
      if (slash != std::string_view::npos) {
        const std::string_view shard = name.substr(0, slash);
        if (shard.empty() || shard.size() > 1 || shard[0] < '0' || shard[0] > '9') {
          __builtin_trap();
        }
        name = name.substr(slash + 1);
      }
      if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        __builtin_trap();
      }
    }
  }

  if (std::optional<uint32_t> count = vantrel::DecodeEngineFailureFile(bytes)) {
    if (vantrel::DecodeEngineFailureFile(vantrel::EncodeEngineFailureFile(*count)) != count) {
      __builtin_trap();
    }
  }
  if (auto record = vantrel::DecodeEngineFailureRecord(bytes)) {
    if (record->index < 0 || record->index > 31) __builtin_trap();
    if (vantrel::EncodeEngineFailureRecord(*record) != bytes) __builtin_trap();
  }
  return 0;
}
