// The machine's published shares and volumes, and the client-side names of a
// local folder that follow from them.
//
// Windows clients reach a folder through a Samba share ("\\SRV\PICS\Sport"),
// Macintosh clients through a volume ("Pictures:Sport"). Both tables come
// from Samba's configuration file (smb.conf): every share section with a
// `path` is a share; the shares that load the `fruit` VFS module (the ones
// macOS clients mount as volumes) are also the volumes. The computer name is
// the `netbios name` of [global], else the host name (up to its first '.') in
// capitals.
//
// The look-up takes the first entry, in file order, whose root is the folder
// itself or one of the folders above it (root compared over its length without
// regard to ASCII case, and ending at a path separator of the folder), even
// when a later entry's root would match more of the path.
//
// Thread safety: the functions keep no state; a SambaVolumeNamer holds only
// its settings and reads the file anew at every look-up, so it may be used
// from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/volume_namer.h"
#include "platform/file_system.h"

namespace vantrel {

// Most shares (and, separately, volumes) taken from the file.
inline constexpr size_t kMaxShareEntries = 64;
// Longest share name and root taken, in bytes; longer ones are left out.
inline constexpr size_t kMaxShareTextLength = 127;
// Largest smb.conf read; a larger file counts as holding no shares.
inline constexpr size_t kMaxSmbConfBytes = 4 << 20;

// One share or volume: its name and the local folder it publishes (a native
// path without trailing '/', except the root "/").
struct ShareEntry {
  std::string name;
  std::string root;
  bool operator==(const ShareEntry&) const = default;
};

struct ShareTables {
  std::string computer_name;
  std::vector<ShareEntry> shares;   // in file order, at most kMaxShareEntries
  std::vector<ShareEntry> volumes;  // the shares with the fruit module, same limit
};

// Reads the tables out of the text of an smb.conf. `host_name` gives the
// computer name when [global] sets no `netbios name`. Never fails: lines it
// cannot read are ignored. Sections [global], [homes] and [printers] and
// printable shares are not shares; parameter names are matched as Samba does
// (without regard to case and blanks); `directory` is taken as `path`, `vfs
// object` as `vfs objects`; `vfs objects` set in [global] holds for the shares
// that set none; a share whose `available` is no is left out; a section that
// appears twice is one share.
ShareTables ParseSmbConf(std::string_view text, std::string_view host_name);

// The path of the smb.conf to read: $VANTREL_SMB_CONF, else
// /etc/samba/smb.conf.
std::string SmbConfPath();

// Reads the tables from `smb_conf` through `fs`. A missing or unreadable file
// gives no shares and no volumes (the computer name still follows `host_name`).
ShareTables LoadShareTables(FileSystem* fs, const std::string& smb_conf,
                            std::string_view host_name);

// The Windows share path of the native folder `path`: "\\" computer "\" share,
// then, when the folder lies below the share's root, "\" and the rest of the
// path with '\' separators. "" when no share covers it.
std::string WindowsSharePath(const ShareTables& tables, std::string_view path);

// The Macintosh volume path of `path`: the volume name, then, below the root,
// ":" and the rest of the path; every '\' and '/' of the result becomes ':'.
// "" when no volume covers it.
std::string MacVolumePath(const ShareTables& tables, std::string_view path);

// The names from Samba's configuration, read anew for every folder.
class SambaVolumeNamer final : public VolumeNamer {
 public:
  // `fs` must outlive the namer. Defaults: SmbConfPath() and the machine's
  // host name (platform/host_name.h).
  explicit SambaVolumeNamer(FileSystem* fs);
  SambaVolumeNamer(FileSystem* fs, std::string smb_conf, std::string host_name);

  std::string WindowsShareName(const std::string& path) override;
  std::string MacVolumeName(const std::string& path) override;

 private:
  FileSystem* fs_;
  std::string smb_conf_;
  std::string host_name_;
};

}  // namespace vantrel
