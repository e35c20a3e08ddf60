// The real vantrel binary as a systemd service sees it: notifications on a
// fake NOTIFY_SOCKET, and standard error lines with journal priorities when
// JOURNAL_STREAM names the stream.
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "core/text_table.h"
#include "platform/systemd_notify.h"
#include "support/fake_notify_socket.h"
#include "support/temp_dir.h"
#include "server_process.h"

namespace vantrel {
namespace {

using std::chrono::milliseconds;

std::string Joined(const std::vector<std::string>& messages) {
  std::string all;
  for (const std::string& m : messages) all += "[" + m + "] ";
  return all;
}

TEST(SystemdServiceTest, NotifiesReadyStatusAndStoppingAndWritesJournalPriorities) {
  if (!SystemdNotifyBuiltIn()) GTEST_SKIP() << "built without libsystemd";
  TempDir dir;
  ASSERT_TRUE(MakeOneIndexStart(dir));
  ASSERT_TRUE(dir.WriteFile("images/2024/a.jpg", "not really a picture"));
  FakeNotifySocket manager(dir.Path("notify"));
  ASSERT_TRUE(manager.ok());

  // The server's standard error goes to this file; JOURNAL_STREAM names it,
  // as systemd names the journal's stream.
  const std::string err_path = dir.Path("server.log");
  ASSERT_TRUE(dir.WriteFile("server.log", ""));
  struct stat st;
  ASSERT_EQ(::stat(err_path.c_str(), &st), 0);
  const std::string stream = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  ASSERT_EQ(::setenv("JOURNAL_STREAM", stream.c_str(), 1), 0);
  ServerProcess server(dir.Path("start"), {"--no-console"}, err_path);
  ::unsetenv("JOURNAL_STREAM");

  std::vector<std::string> seen;
  ASSERT_TRUE(manager.WaitFor("READY=1", milliseconds(60000), &seen))
      << Joined(seen) << server.Output();
  // The operation line follows as the status, ending at "Ready" once the
  // start-up catch-up is done.
  EXPECT_TRUE(manager.WaitFor("STATUS=Ready", milliseconds(60000), &seen)) << Joined(seen);
  ASSERT_TRUE(server.WaitForOutput("Database Process Ready for Search", milliseconds(60000)))
      << server.Output();

  server.Signal(SIGTERM);
  EXPECT_TRUE(manager.WaitFor("STOPPING=1", milliseconds(60000), &seen)) << Joined(seen);
  EXPECT_EQ(server.WaitExit(milliseconds(60000)), 0) << server.Output();

  // Events at information priority, without the program name, which the
  // journal adds itself.
  const std::string out = server.Output();
  EXPECT_NE(out.find("<6>running in " + dir.Path("start") + " without console\n"),
            std::string::npos) << out;
  EXPECT_NE(out.find("<6>Database Process Ready for Search\n"), std::string::npos) << out;
  // Notices at warning priority: the start without a PDF folder gives one.
  EXPECT_NE(out.find("<4>[" + Text(TextId::IDS_PDFSUPPORT) + "] "), std::string::npos) << out;
  EXPECT_EQ(out.find("vantrel: "), std::string::npos) << out;
}

}  // namespace
}  // namespace vantrel
