// Argument parsing for vantrelctl (see ctl_args.h).

#include "tools/ctl_args.h"

#include <cstdio>
#include <limits>

#include "platform/file_time.h"
#include "platform/local_time.h"

namespace vantrel {

StatusOr<ParsedArgs> ParseArgs(const std::vector<std::string>& args,
                               const std::set<std::string>& value_options,
                               const std::set<std::string>& flags) {
  ParsedArgs parsed;
  bool options_done = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    // Negative numbers ("-5") are values, not options.
    bool number = a.size() >= 2 && a[0] == '-' && a[1] >= '0' && a[1] <= '9';
    if (options_done || a.size() < 2 || a[0] != '-' || number) {
      parsed.positional.push_back(a);
      continue;
    }
    if (a == "--") {
      options_done = true;
      continue;
    }
    if (a == "--help" || a == "-h") {
      parsed.help = true;
      continue;
    }
    std::string name = a;
    std::optional<std::string> inline_value;
    size_t eq = a.find('=');
    if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = a.substr(0, eq);
      inline_value = a.substr(eq + 1);
    }
    if (value_options.count(name)) {
      if (parsed.options.count(name)) return Status::InvalidArgument(name + " is given twice");
      if (inline_value) {
        parsed.options[name] = *inline_value;
      } else if (i + 1 < args.size()) {
        parsed.options[name] = args[++i];
      } else {
        return Status::InvalidArgument(name + " needs a value");
      }
    } else if (flags.count(name)) {
      if (inline_value) return Status::InvalidArgument(name + " takes no value");
      if (parsed.flags.count(name)) return Status::InvalidArgument(name + " is given twice");
      parsed.flags.insert(name);
    } else {
      return Status::InvalidArgument("unknown option " + name);
    }
  }
  return parsed;
}

namespace {

// Digits only, no leading zeros (except "0" itself), at most 10 of them.
std::optional<uint64_t> ParseDigits(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  if (text.size() > 1 && text[0] == '0') return std::nullopt;
  uint64_t v = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(ch - '0');
  }
  return v;
}

}  // namespace

std::optional<int32_t> ParseStrictInt32(const std::string& text) {
  bool negative = !text.empty() && text[0] == '-';
  std::optional<uint64_t> digits = ParseDigits(negative ? text.substr(1) : text);
  if (!digits) return std::nullopt;
  if (negative) {
    if (*digits == 0) return std::nullopt;  // "-0" is not how %i prints 0
    if (*digits > uint64_t{1} << 31) return std::nullopt;
    return static_cast<int32_t>(-static_cast<int64_t>(*digits));
  }
  if (*digits > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return std::nullopt;
  return static_cast<int32_t>(*digits);
}

std::optional<uint32_t> ParseStrictUint32(const std::string& text) {
  std::optional<uint64_t> digits = ParseDigits(text);
  if (!digits || *digits > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(*digits);
}

std::optional<bool> ParseSwitch(const std::string& text) {
  if (text == "1" || text == "on" || text == "yes") return true;
  if (text == "0" || text == "off" || text == "no") return false;
  return std::nullopt;
}

std::optional<std::string> NormalizeAbsolutePath(const std::string& path) {
  if (path.empty() || path[0] != '/') return std::nullopt;
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(pos, slash - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    pos = slash + 1;
  }
  if (parts.empty()) return std::string("/");
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out;
}

std::optional<std::string> ResolvePath(const std::string& base, const std::string& path) {
  if (path.empty()) return std::nullopt;
  if (path[0] == '/') return NormalizeAbsolutePath(path);
  return NormalizeAbsolutePath(base + "/" + path);
}

std::string UtcStampText(uint32_t stamp) {
  LocalTimeParts t = UtcTime(UnixFromFileTimeStamp(stamp));
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

}  // namespace vantrel
