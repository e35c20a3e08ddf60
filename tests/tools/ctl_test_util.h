// Runs vantrelctl commands in-process on a temporary start directory.
#pragma once

#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "core/config_file.h"
#include "gtest/gtest.h"
#include "support/temp_dir.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_config_store.h"

namespace vantrel {

// Names every folder after its path, so tests see that a look-up happened.
class PathNamer : public VolumeNamer {
 public:
  std::string WindowsShareName(const std::string& path) override { return "\\\\SRV" + path; }
  std::string MacVolumeName(const std::string& path) override { return "Vol" + path; }
};

class CtlTest : public ::testing::Test {
 protected:
  CtlTest() {
    env_.out = &out_;
    env_.err = &err_;
    env_.fs = DefaultFileSystem();
    env_.namer = &namer_;
    env_.current_dir = dir_.path();
  }

  // Runs `vantrelctl --dir <temp> ARGS...`; output lands in out_/err_.
  int Run(std::initializer_list<std::string> args) {
    std::vector<std::string> all = {"--dir", dir_.path()};
    all.insert(all.end(), args);
    out_.str("");
    err_.str("");
    return RunVantrelctl(all, env_);
  }

  Configuration Load() {
    ConfigLoad load = LoadConfiguration(*DefaultFileSystem(), ConfigPathIn(dir_.path()), namer_);
    EXPECT_TRUE(load.status.ok()) << load.status.ToString();
    EXPECT_TRUE(load.warnings.empty());
    return load.config;
  }

  std::string FileBytes() {
    StatusOr<std::string> b = DefaultFileSystem()->ReadFile(ConfigPathIn(dir_.path()));
    return b.ok() ? *b : std::string();
  }

  // A folder below the temporary directory, created.
  std::string Folder(const std::string& relative) {
    EXPECT_TRUE(dir_.MakeFolder(relative));
    return dir_.Path(relative);
  }

  TempDir dir_;
  PathNamer namer_;
  std::ostringstream out_;
  std::ostringstream err_;
  CtlEnv env_;
};

}  // namespace vantrel
