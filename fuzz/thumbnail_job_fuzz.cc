// libFuzzer target: the thumbnail job record decoder (the renderer reads
// records from its socket). A record that decodes must encode to the same
// bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "pdf/thumbnail_job.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vantrel::StatusOr<vantrel::ThumbnailJob> job = vantrel::DecodeThumbnailJob(bytes);
  if (!job.ok()) return 0;
  vantrel::StatusOr<std::string> again = vantrel::EncodeThumbnailJob(*job);
  if (!again.ok()) std::abort();
  // Bytes after a field's NUL are not kept; the decoded fields are.
  vantrel::StatusOr<vantrel::ThumbnailJob> twice = vantrel::DecodeThumbnailJob(*again);
  if (!twice.ok() || !(*twice == *job)) std::abort();
  return 0;
}
