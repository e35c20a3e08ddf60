// VolumeNamer: how the configuration learns the client-side names of a folder.
//
// When an image folder (or the offline folder of an index) is added, the
// server looks up the Windows share path and the Macintosh volume path under
// which clients reach that folder. The look-up itself belongs to the catalogue
// (share and volume tables); the configuration only needs this interface.
//
// Thread safety: implementations say so themselves; NullVolumeNamer is
// stateless and may be used from any thread.
#pragma once

#include <string>

namespace vantrel {

class VolumeNamer {
 public:
  virtual ~VolumeNamer() = default;

  // The Windows share path of the native folder `path` ("\\SRV\SHARE\rest"),
  // or "" when no share covers it.
  virtual std::string WindowsShareName(const std::string& path) = 0;

  // The Macintosh volume path of `path` ("Volume:rest"), or "" when no volume
  // covers it.
  virtual std::string MacVolumeName(const std::string& path) = 0;
};

// Knows no shares and no volumes: every name is empty.
class NullVolumeNamer final : public VolumeNamer {
 public:
  std::string WindowsShareName(const std::string&) override { return ""; }
  std::string MacVolumeName(const std::string&) override { return ""; }
};

}  // namespace vantrel
