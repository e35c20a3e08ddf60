// Argument parsing for vantrelctl commands: options, flags, positional words
// and the strict number and switch formats the settings accept.
//
// Thread safety: plain functions and values.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/status.h"

namespace vantrel {

struct ParsedArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // "--name" -> value
  std::set<std::string> flags;                 // "--name"
  bool help = false;                           // --help or -h was given

  bool Has(const std::string& flag) const { return flags.count(flag) > 0; }
  const std::string* Option(const std::string& name) const {
    auto it = options.find(name);
    return it == options.end() ? nullptr : &it->second;
  }
};

// Splits `args`: "--opt VALUE" and "--opt=VALUE" for names in
// `value_options`, "--flag" for names in `flags`, "--help"/"-h" always; "--"
// ends the options. "-" and negative numbers ("-5") are positional. kInvalidArgument for an unknown
// option, a missing value, a value given to a flag or an option given twice.
StatusOr<ParsedArgs> ParseArgs(const std::vector<std::string>& args,
                               const std::set<std::string>& value_options,
                               const std::set<std::string>& flags);

// A decimal integer written exactly as "%i"/"%u" prints it: digits with an
// optional leading '-' (signed only), no '+', no leading zeros, no blanks, in
// the range of the type.
std::optional<int32_t> ParseStrictInt32(const std::string& text);
std::optional<uint32_t> ParseStrictUint32(const std::string& text);

// "1"/"on"/"yes" and "0"/"off"/"no".
std::optional<bool> ParseSwitch(const std::string& text);

// A native absolute path made tidy: "." and ".." resolved, repeated and
// trailing slashes removed ("/" stays "/"). Nothing for a relative or empty
// path. Pure text work; the file system is not asked.
std::optional<std::string> NormalizeAbsolutePath(const std::string& path);

// `path` made absolute against `base` (itself absolute), then normalized.
std::optional<std::string> ResolvePath(const std::string& base, const std::string& path);

// A file time stamp as "YYYY-MM-DD hh:mm:ss" (UTC), as the commands print it.
std::string UtcStampText(uint32_t stamp);

}  // namespace vantrel
