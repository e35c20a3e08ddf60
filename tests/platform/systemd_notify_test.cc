#include "platform/systemd_notify.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/fake_notify_socket.h"
#include "support/temp_dir.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;

TEST(SystemdNotifyTest, SendsReadyStatusChangesAndStoppingToTheNotifySocket) {
  if (!SystemdNotifyBuiltIn()) GTEST_SKIP() << "built without libsystemd";
  TempDir dir;
  FakeNotifySocket manager(dir.Path("notify"));
  ASSERT_TRUE(manager.ok());

  NotifyReady("Running");
  EXPECT_EQ(manager.Receive(milliseconds(10000)), "READY=1\nSTATUS=Running");

  // A repeated text is sent once; a line break cannot add an assignment.
  NotifyStatus("Indexing File");
  NotifyStatus("Indexing File");
  NotifyStatus("Search\nMAINPID=1");
  EXPECT_EQ(manager.Receive(milliseconds(10000)), "STATUS=Indexing File");
  EXPECT_EQ(manager.Receive(milliseconds(10000)), "STATUS=Search MAINPID=1");

  NotifyStopping("Now stopping");
  EXPECT_EQ(manager.Receive(milliseconds(10000)), "STOPPING=1\nSTATUS=Now stopping");
  EXPECT_EQ(manager.Receive(milliseconds(100)), std::nullopt);
}

TEST(SystemdNotifyTest, JournalLinesCarryThePriorityOtherLinesTheProgramName) {
  EXPECT_EQ(StandardErrorLine(LogPriority::kError, "cannot save", true), "<3>cannot save\n");
  EXPECT_EQ(StandardErrorLine(LogPriority::kWarning, "[Error] x", true), "<4>[Error] x\n");
  EXPECT_EQ(StandardErrorLine(LogPriority::kInfo, "started", true), "<6>started\n");
  EXPECT_EQ(StandardErrorLine(LogPriority::kInfo, "started", false), "vantrel: started\n");
  // A text cannot forge a priority or a second line.
  EXPECT_EQ(StandardErrorLine(LogPriority::kInfo, "<0>a\nb\r\tc", true), "<6><0>a b  c\n");
  // Very long texts are cut at a character boundary.
  std::string long_text(8191, 'a');
  long_text += "\xC3\xA9";
  EXPECT_EQ(StandardErrorLine(LogPriority::kInfo, long_text, true),
            "<6>" + std::string(8191, 'a') + "\n");
}

TEST(SystemdNotifyTest, JournalStreamMustNameTheDeviceAndInode) {
  EXPECT_TRUE(NamesJournalStream("8:123", 8, 123));
  for (const char* other : {"8:124", "9:123", "", "8", "8:", ":123", "x:123", "8:123x", "8:-1",
                            "8:123:4", "99999999999999999999:123"}) {
    EXPECT_FALSE(NamesJournalStream(other, 8, 123)) << other;
  }
}

}  // namespace
}  // namespace vantrel
