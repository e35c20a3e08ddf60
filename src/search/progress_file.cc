#include "search/progress_file.h"

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
  return fs->WriteFile(path, EncodeProgressFile(accepted));
}

}  // namespace vantrel
