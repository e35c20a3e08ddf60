// vantrelctl index set N shards / remote-shard: kept in the engine folder's
// shard settings, never in the configuration file.
#include <string>

#include <gtest/gtest.h>

#include "core/config_file.h"
#include "engine/shard_layout.h"
#include "tools/ctl_commands.h"
#include "ctl_test_util.h"

namespace vantrel {
namespace {

class CtlShardSettingsTest : public CtlTest {};

TEST_F(CtlShardSettingsTest, ShardCountAndRemoteShardsGoToTheEngineFolder) {
  const std::string idx = Folder("data/news");
  ASSERT_EQ(Run({"index", "add", "News", idx}), kCtlOk) << err_.str();
  const std::string config = FileBytes();
  ASSERT_EQ(Run({"index", "set", "0", "shards", "3"}), kCtlOk) << err_.str();
  ASSERT_EQ(Run({"index", "set", "0", "remote-shard", "tcp://archive-2:7000"}), kCtlOk);
  ASSERT_EQ(Run({"index", "set", "0", "remote-shard", "tcp://archive-2:7000"}), kCtlOk);  // once
  ASSERT_EQ(Run({"index", "set", "0", "remote-shard", "tcp://10.0.0.9:7001"}), kCtlOk);
  EXPECT_EQ(FileBytes(), config);
  StatusOr<ShardSettings> s = ReadShardSettings(DefaultFileSystem(), EngineFolderOf(idx));
  ASSERT_TRUE(s.ok()) << s.status().ToString();
  EXPECT_EQ(s->next_count, 3u);
  EXPECT_EQ(s->layout, 0u);
  EXPECT_EQ(s->remotes, (std::vector<std::string>{"tcp://archive-2:7000", "tcp://10.0.0.9:7001"}));

  for (const char* bad : {"9", "-1", "x"}) {
    EXPECT_EQ(Run({"index", "set", "0", "shards", bad}), kCtlUsage) << bad;
  }
  for (const char* bad : {"archive:7000", "tcp://a/b:1", "tcp://a:0", "tcp://a"}) {
    EXPECT_EQ(Run({"index", "set", "0", "remote-shard", bad}), kCtlUsage) << bad;
  }
  ASSERT_EQ(Run({"index", "set", "0", "remote-shard", "off"}), kCtlOk);
  s = ReadShardSettings(DefaultFileSystem(), EngineFolderOf(idx));
  ASSERT_TRUE(s.ok());
  EXPECT_TRUE(s->remotes.empty());
  EXPECT_EQ(s->next_count, 3u);
}

}  // namespace
}  // namespace vantrel
