// INI files with private-profile semantics.
//
// The server writes small INI files that clients read ("INDEXINFO.INI",
// "PathInfo.ini", the path and volume mapping files) and reads its settings
// file. The rules are those of the classic profile functions:
//  - "[section]" lines open sections; "key=value" lines belong to the last
//    section opened. Section and key names are compared without regard to
//    case (CompareNoCase folding) after trimming blanks and tabs.
//  - The first matching section and, inside it, the first matching key win.
//  - A value is the rest of its line after '=', trimmed; one pair of matching
//    enclosing quotes (" or ') is removed, so a value may keep outer blanks.
//  - Lines starting with ';' are comments. Every other line (blank, garbage,
//    keys before the first section) is kept as it is and otherwise ignored.
//  - Lines end in CR LF, LF or a lone CR when read; files are written with
//    CR LF. A header without ']' names the section up to the end of the line.
//  - A missing file reads as empty; the first write creates it.
//
// IniDocument keeps every line, so that rewriting a file changes only the
// lines that were set or removed. It is a plain value: use one object from one
// thread at a time. ReadIniString and WriteIniString may be called from any
// thread; writes of this process are serialised, so two threads writing keys
// of the same file never lose each other's update.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

class IniDocument {
 public:
  // Parses any bytes; never fails (unreadable lines are kept as they are).
  static IniDocument Parse(std::string_view text);

  // The value of `key` in `section`; nullopt when either is missing.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  // Sets `key` in `section`: replaces the value of the first matching key, or
  // adds the key after the last key of the first matching section, or adds
  // the section at the end. CR, LF and NUL bytes in the value each become a
  // backslash, so a value is always one line; a value with outer blanks or
  // enclosing quotes is written inside double quotes so that Get returns it
  // unchanged. Returns false (and changes nothing) when the section or key
  // cannot be written as a name: an empty key, a key holding '=' or starting
  // with '[' or ';', a section holding ']', or either holding CR, LF or NUL.
  bool Set(std::string_view section, std::string_view key, std::string_view value);

  // Removes every line of `key` in the first matching section. Returns true
  // when one was there.
  bool RemoveKey(std::string_view section, std::string_view key);

  // Key names of the first matching section, in file order, each once.
  std::vector<std::string> Keys(std::string_view section) const;
  // Section names in file order, each once.
  std::vector<std::string> Sections() const;

  // The whole text, every line ended by CR LF.
  std::string Serialize() const;

 private:
  struct Line {
    enum class Kind { kOther, kSection, kKey };
    Kind kind = Kind::kOther;
    std::string text;  // the line as written, without its line end
    std::string name;  // section or key name, trimmed
    std::string value; // for keys: the value as Get returns it
  };

  static Line ParseLine(std::string_view text);
  // Index of the first header of `section`, or npos.
  size_t FindSection(std::string_view section) const;
  // Index one past the last line belonging to the section whose header is at `header`.
  size_t SectionEnd(size_t header) const;

  std::vector<Line> lines_;
};

// Reads `key` of `section` from the INI file at `path`. Returns
// `default_value` when the file, the section or the key is missing, and also
// when the file cannot be read (larger than 16 MiB, I/O error).
std::string ReadIniString(FileSystem* fs, const std::string& path, std::string_view section,
                          std::string_view key, std::string_view default_value);

// Sets `key` of `section` in the INI file at `path`, creating the file when
// it is missing, and replaces the file atomically (FileSystem::WriteFileAtomic,
// mode 0644): a failed write leaves the old file. Fails with kInvalidArgument
// for names that Set refuses, and with the file system's error otherwise (an
// unreadable existing file is not overwritten).
Status WriteIniString(FileSystem* fs, const std::string& path, std::string_view section,
                      std::string_view key, std::string_view value);

// Removes `key` of `section` from the file; OK when it was not there.
Status DeleteIniKey(FileSystem* fs, const std::string& path, std::string_view section,
                    std::string_view key);

}  // namespace vantrel
