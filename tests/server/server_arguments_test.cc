// The server's command line: the reader count of the start-up catch-up is
// taken in its range and refused with a clear message outside it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "indexing/document_readers.h"
#include "server/server_app.h"

namespace vantrel {
namespace {

TEST(ServerArgumentsTest, DocumentReadersAreTakenInTheirRangeOnly) {
  EXPECT_EQ(ParseServerArguments({}).document_readers, 0);  // the pipeline's default
  ServerArguments one = ParseServerArguments({"--no-console", "--document-readers", "1"});
  EXPECT_TRUE(one.error.empty()) << one.error;
  EXPECT_EQ(one.document_readers, 1);
  EXPECT_TRUE(one.no_console);
  EXPECT_EQ(ParseServerArguments({"--document-readers", "64"}).document_readers, 64);
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--document-readers"},
                                             {"--document-readers", "0"},
                                             {"--document-readers", "65"},
                                             {"--document-readers", "4x"},
                                             {"--document-readers", ""},
                                             {"--document-readers", "--verbose"}}) {
    const ServerArguments parsed = ParseServerArguments(bad);
    EXPECT_EQ(parsed.error, "--document-readers needs a number from 1 to 64") << bad.back();
  }
  EXPECT_NE(ServerUsage().find("--document-readers N"), std::string::npos);
}

}  // namespace
}  // namespace vantrel
