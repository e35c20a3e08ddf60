#include "support/temp_dir.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vantrel {
namespace {

int RemoveOne(const char* path, const struct stat* /*st*/, int type, struct FTW* /*ftw*/) {
  if (type == FTW_DP) {
    ::rmdir(path);
  } else {
    ::unlink(path);
  }
  return 0;
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string root = (base != nullptr && base[0] == '/') ? base : "/tmp";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::string templ = root + "/vantrel-test-XXXXXX";
  if (::mkdtemp(templ.data()) == nullptr) {
    std::perror("TempDir: mkdtemp");
    std::abort();
  }
  path_ = templ;
}

TempDir::~TempDir() {
  // Depth-first, never following symbolic links out of the folder.
  ::nftw(path_.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::Path(std::string_view relative) const {
  std::string p = path_;
  p += '/';
  p.append(relative);
  return p;
}

bool TempDir::MakeFolder(std::string_view relative) const {
  std::string full = Path(relative);
  for (size_t pos = path_.size() + 1; pos <= full.size(); ++pos) {
    if (pos == full.size() || full[pos] == '/') {
      std::string level = full.substr(0, pos);
      if (::mkdir(level.c_str(), 0755) != 0) {
        struct stat st;
        if (::stat(level.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
      }
    }
  }
  return true;
}

bool TempDir::WriteFile(std::string_view relative, std::string_view data) const {
  size_t slash = relative.find_last_of('/');
  if (slash != std::string_view::npos && !MakeFolder(relative.substr(0, slash))) return false;
  std::string full = Path(relative);
  std::FILE* f = std::fopen(full.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace vantrel
