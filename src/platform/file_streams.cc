#include "platform/file_streams.h"

#include <errno.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/served_folders.h"
#include "platform/unique_fd.h"

namespace vantrel {
namespace {

uint32_t ReadU32(std::string_view b, size_t at) {
  return (uint32_t{static_cast<uint8_t>(b[at])} << 24) |
         (uint32_t{static_cast<uint8_t>(b[at + 1])} << 16) |
         (uint32_t{static_cast<uint8_t>(b[at + 2])} << 8) |
         uint32_t{static_cast<uint8_t>(b[at + 3])};
}

uint16_t ReadU16(std::string_view b, size_t at) {
  return static_cast<uint16_t>((static_cast<uint8_t>(b[at]) << 8) |
                               static_cast<uint8_t>(b[at + 1]));
}

void PutU32(std::string& out, size_t at, uint32_t v) {
  out[at] = static_cast<char>(v >> 24);
  out[at + 1] = static_cast<char>(v >> 16);
  out[at + 2] = static_cast<char>(v >> 8);
  out[at + 3] = static_cast<char>(v);
}

// Samba's stream name for each stream.
const char* DosStreamName(MacStream stream) {
  switch (stream) {
    case MacStream::kResourceFork:
      return "AFP_Resource";
    case MacStream::kAfpInfo:
      return "AFP_AfpInfo";
    case MacStream::kText:
      return "TEXT";
  }
  return "";
}

enum class XattrResult { kFound, kMissing, kTooLarge };

// Reads attribute `name` of the open file `fd` into `out`. Anything but a
// successful read (no such attribute, no xattr support, no permission) counts
// as missing.
XattrResult ReadXattr(int fd, const std::string& name, std::string& out) {
  // The value may change between the size query and the read; retry a few times.
  for (int attempt = 0; attempt < 4; ++attempt) {
    ssize_t size = fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return XattrResult::kMissing;
    if (static_cast<size_t>(size) > kMaxStreamBytes) return XattrResult::kTooLarge;
    out.assign(static_cast<size_t>(size), '\0');
    if (size == 0) return XattrResult::kFound;
    ssize_t got = fgetxattr(fd, name.c_str(), out.data(), out.size());
    if (got >= 0) {
      out.resize(static_cast<size_t>(got));
      return XattrResult::kFound;
    }
    if (errno != ERANGE) return XattrResult::kMissing;
  }
  return XattrResult::kMissing;
}

// Stream names are case-insensitive on the Windows side; a client may have
// written "AFP_AFPINFO" or "text". Finds the attribute name that Samba used.
std::optional<std::string> FindDosStreamName(int fd, MacStream stream) {
  ssize_t size = flistxattr(fd, nullptr, 0);
  if (size <= 0 || static_cast<size_t>(size) > (1u << 20)) return std::nullopt;
  std::vector<char> names(static_cast<size_t>(size));
  ssize_t got = flistxattr(fd, names.data(), names.size());
  if (got <= 0) return std::nullopt;
  const std::string_view prefix = kDosStreamPrefix;
  const std::string_view suffix = kDosStreamSuffix;
  const std::string_view wanted = DosStreamName(stream);
  std::string_view all(names.data(), static_cast<size_t>(got));
  while (!all.empty()) {
    size_t end = all.find('\0');
    std::string_view name = all.substr(0, end);
    all = end == std::string_view::npos ? std::string_view() : all.substr(end + 1);
    if (name.size() != prefix.size() + wanted.size() + suffix.size()) continue;
    if (name.substr(0, prefix.size()) != prefix) continue;
    if (name.substr(name.size() - suffix.size()) != suffix) continue;
    std::string middle(name.substr(prefix.size(), wanted.size()));
    if (strcasecmp(middle.c_str(), std::string(wanted).c_str()) == 0) return std::string(name);
  }
  return std::nullopt;
}

// False when `path` has no extended attribute at all (or none can be read):
// most files have none, and one listing then answers for every stream name.
bool HasAnyXattr(const std::string& path) { return llistxattr(path.c_str(), nullptr, 0) > 0; }

// The file whose attributes are read, opened without following a link (not
// even above the file, below a served folder); -1 when that fails or the
// file is not a regular file.
class AttributeSource {
 public:
  explicit AttributeSource(const std::string& path)
      : fd_(OpenServedPath(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY)) {
    struct stat st;
    if (fd_.valid() && (fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode))) fd_.Reset();
  }
  int fd() const { return fd_.get(); }

 private:
  UniqueFd fd_;
};

// Reads a whole regular file of at most kMaxStreamBytes; a symbolic link
// counts as missing.
XattrResult ReadSidecar(const std::string& path, std::string& out) {
  int fd = OpenServedPath(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return XattrResult::kMissing;
  struct stat st;
  XattrResult result = XattrResult::kMissing;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    if (static_cast<uint64_t>(st.st_size) > kMaxStreamBytes) {
      result = XattrResult::kTooLarge;
    } else {
      out.assign(static_cast<size_t>(st.st_size), '\0');
      size_t done = 0;
      while (done < out.size()) {
        ssize_t n = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      out.resize(done);  // a file that shrank while read yields what was there
      result = XattrResult::kFound;
    }
  }
  close(fd);
  return result;
}

// A Samba AFP info stream: 60 bytes (61 with the trailing NUL that some Samba
// versions store) beginning with the signature.
std::optional<std::string> CheckAfpInfo(std::string bytes) {
  if (bytes.size() == kAfpInfoSize + 1) bytes.resize(kAfpInfoSize);
  if (bytes.size() != kAfpInfoSize) return std::nullopt;
  if (ReadU32(bytes, 0) != kAfpInfoSignature) return std::nullopt;
  return bytes;
}

std::optional<std::string> FinderInfoFromAppleDouble(std::string_view blob) {
  auto entry = FindAppleDoubleEntry(blob, kAppleDoubleFinderInfo);
  if (!entry || entry->size() < kFinderInfoSize) return std::nullopt;
  return MakeAfpInfo(entry->substr(0, kFinderInfoSize));
}

std::string EmptyIfBlank(std::string fork) {
  if (IsBlankResourceFork(fork)) fork.clear();
  return fork;
}

class PosixFileStreams : public FileStreams {
 public:
  StatusOr<StreamContents> OpenStream(const std::string& path, MacStream stream) override {
    std::string bytes;
    // Most files have no attributes: one call by name says so. Those that
    // have are read through a descriptor opened without following links.
    std::optional<AttributeSource> source;
    if (HasAnyXattr(path)) source.emplace(path);
    const int fd = source ? source->fd() : -1;
    const bool xattrs = fd >= 0;
    // 1. Samba vfs_streams_xattr.
    std::string name =
        std::string(kDosStreamPrefix) + DosStreamName(stream) + std::string(kDosStreamSuffix);
    XattrResult r = xattrs ? ReadXattr(fd, name, bytes) : XattrResult::kMissing;
    if (xattrs && r == XattrResult::kMissing) {
      if (auto other = FindDosStreamName(fd, stream)) r = ReadXattr(fd, *other, bytes);
    }
    if (r == XattrResult::kTooLarge) return TooLarge(path, stream);
    if (r == XattrResult::kFound) {
      if (stream == MacStream::kAfpInfo) {
        if (auto info = CheckAfpInfo(std::move(bytes))) {
          return StreamContents{std::move(*info), StreamPlace::kDosStreamXattr};
        }
      } else if (stream == MacStream::kResourceFork) {
        return StreamContents{EmptyIfBlank(std::move(bytes)), StreamPlace::kDosStreamXattr};
      } else {
        return StreamContents{std::move(bytes), StreamPlace::kDosStreamXattr};
      }
    }
    if (stream == MacStream::kText) return Missing(path, stream);

    // 2. Samba vfs_fruit, netatalk mode.
    if (xattrs && stream == MacStream::kResourceFork) {
      r = ReadXattr(fd, kNetatalkResourceFork, bytes);
      if (r == XattrResult::kTooLarge) return TooLarge(path, stream);
      if (r == XattrResult::kFound) {
        return StreamContents{EmptyIfBlank(std::move(bytes)), StreamPlace::kNetatalkXattr};
      }
    } else if (xattrs) {
      r = ReadXattr(fd, kNetatalkMetadata, bytes);
      if (r == XattrResult::kFound) {
        if (auto info = FinderInfoFromAppleDouble(bytes)) {
          return StreamContents{std::move(*info), StreamPlace::kNetatalkXattr};
        }
      }
    }

    // 3. The AppleDouble sidecar.
    r = ReadSidecar(AppleDoubleSidecarPath(path), bytes);
    if (r == XattrResult::kTooLarge) return TooLarge(path, stream);
    if (r == XattrResult::kFound) {
      if (stream == MacStream::kResourceFork) {
        if (auto fork = FindAppleDoubleEntry(bytes, kAppleDoubleResourceFork)) {
          return StreamContents{EmptyIfBlank(std::string(*fork)), StreamPlace::kAppleDouble};
        }
      } else if (auto info = FinderInfoFromAppleDouble(bytes)) {
        return StreamContents{std::move(*info), StreamPlace::kAppleDouble};
      }
    }
    return Missing(path, stream);
  }

 private:
  static Status Missing(const std::string& path, MacStream stream) {
    return Status::NotFound(path + ": no " + MacStreamName(stream) + " stream");
  }
  static Status TooLarge(const std::string& path, MacStream stream) {
    return Status::ResourceExhausted(path + ": " + MacStreamName(stream) + " stream larger than " +
                                     std::to_string(kMaxStreamBytes) + " bytes");
  }
};

}  // namespace

const char* StreamPlaceName(StreamPlace place) {
  switch (place) {
    case StreamPlace::kNone:
      return "none";
    case StreamPlace::kDosStreamXattr:
      return "xattr user.DosStream";
    case StreamPlace::kNetatalkXattr:
      return "xattr user.org.netatalk";
    case StreamPlace::kAppleDouble:
      return "AppleDouble ._ file";
  }
  return "none";
}

const char* MacStreamName(MacStream stream) { return DosStreamName(stream); }

std::optional<std::string_view> FindAppleDoubleEntry(std::string_view blob, uint32_t entry_id) {
  if (blob.size() < kAppleDoubleHeaderSize) return std::nullopt;
  uint32_t magic = ReadU32(blob, 0);
  if (magic != kAppleDoubleMagic && magic != kAppleSingleMagic) return std::nullopt;
  size_t count = ReadU16(blob, 24);
  // The table must lie inside the blob; a count that claims more is refused.
  if (count > (blob.size() - kAppleDoubleHeaderSize) / kAppleDoubleEntrySize) return std::nullopt;
  for (size_t k = 0; k < count; ++k) {
    size_t at = kAppleDoubleHeaderSize + k * kAppleDoubleEntrySize;
    if (ReadU32(blob, at) != entry_id) continue;
    uint64_t offset = ReadU32(blob, at + 4);
    uint64_t length = ReadU32(blob, at + 8);
    if (offset > blob.size() || length > blob.size() - offset) return std::nullopt;
    return blob.substr(static_cast<size_t>(offset), static_cast<size_t>(length));
  }
  return std::nullopt;
}

std::string MakeAfpInfo(std::string_view finder_info) {
  std::string record(kAfpInfoSize, '\0');
  PutU32(record, 0, kAfpInfoSignature);
  PutU32(record, 4, kAfpInfoVersion);
  size_t n = std::min(finder_info.size(), kFinderInfoSize);
  std::memcpy(record.data() + kAfpInfoFinderInfoOffset, finder_info.data(), n);
  return record;
}

bool IsBlankResourceFork(std::string_view fork) {
  return fork.size() == kBlankResourceForkSize &&
         fork.find(kBlankResourceForkText) != std::string_view::npos;
}

std::string AppleDoubleSidecarPath(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "._" + path;
  return path.substr(0, slash + 1) + "._" + path.substr(slash + 1);
}

FileStreams* DefaultFileStreams() {
  static PosixFileStreams* streams = new PosixFileStreams();
  return streams;
}

}  // namespace vantrel
