// TempDir: a fresh, empty folder for one test, removed with everything in it
// when the object goes away.
//
// The folder is created under $TMPDIR (or /tmp) with a unique name. Tests use
// it with DefaultFileSystem() or wrap that in a FaultFileSystem.
// Thread safety: one object per test; the path may be read from any thread.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

class TempDir {
 public:
  TempDir();  // aborts the test program when no folder can be made
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // Absolute native path, without a trailing '/'.
  const std::string& path() const { return path_; }

  // path() + "/" + relative.
  std::string Path(std::string_view relative) const;

  // Writes `data` into path()/relative, creating missing folders on the way.
  // Returns false on failure.
  bool WriteFile(std::string_view relative, std::string_view data) const;

  // Creates path()/relative and the folders above it.
  bool MakeFolder(std::string_view relative) const;

 private:
  std::string path_;
};

}  // namespace vantrel
