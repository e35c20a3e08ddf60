// Running the independent metadata tools (exiftool, exiv2) from tests: files
// that they write are read back by Vantrel's readers, and files that Vantrel's
// builders make are read back by them. Tests skip when a tool is absent.
//
// Thread safety: plain functions; each runs one child process.
#pragma once

#include <string>
#include <vector>

namespace vantrel::tool_test {

inline constexpr const char* kExiftool = "/usr/bin/exiftool";
inline constexpr const char* kExiv2 = "/usr/bin/exiv2";

// True when `tool` is an executable file.
bool Installed(const char* tool);

// The standard output of a shell command ("" when it could not be run).
std::string RunCommand(const std::string& command);

// Runs exiftool in place on `file` ("-q -overwrite_original", then `args`,
// one argument each, handed over on standard input: no shell quoting, any
// byte but a line end). Its output is discarded; false when it could not be
// run or failed.
bool RunExiftool(const std::string& file, const std::vector<std::string>& args);

}  // namespace vantrel::tool_test
