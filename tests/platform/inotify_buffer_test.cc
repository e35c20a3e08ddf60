#include "platform/inotify_buffer.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>

#include <cstring>
#include <string>
#include <vector>

namespace vantrel {
namespace {

// Appends one record the way the kernel lays it out: header, then `name`
// padded with NULs to `padded` bytes (the len field says `padded`).
void Append(std::vector<std::byte>& buffer, int32_t wd, uint32_t mask, uint32_t cookie,
            std::string_view name, uint32_t padded) {
  uint32_t fields[4] = {static_cast<uint32_t>(wd), mask, cookie, padded};
  const auto* header = reinterpret_cast<const std::byte*>(fields);
  buffer.insert(buffer.end(), header, header + sizeof fields);
  std::vector<std::byte> body(padded, std::byte{0});
  if (padded > 0) std::memcpy(body.data(), name.data(), std::min<size_t>(name.size(), padded));
  buffer.insert(buffer.end(), body.begin(), body.end());
}

void AppendU32s(std::vector<std::byte>& buffer, std::initializer_list<uint32_t> values) {
  for (uint32_t v : values) {
    const auto* p = reinterpret_cast<const std::byte*>(&v);
    buffer.insert(buffer.end(), p, p + 4);
  }
}

TEST(ParseInotifyBufferTest, DecodesKernelLayout) {
  std::vector<std::byte> buffer;
  Append(buffer, 3, IN_CREATE, 0, "a.jpg", 16);
  Append(buffer, -1, IN_Q_OVERFLOW, 0, "", 0);
  Append(buffer, 7, IN_MOVED_FROM | IN_ISDIR, 42, "folder", 8);
  Append(buffer, 8, IN_MOVED_TO, 42, "\xFF\xFEraw", 32);  // not UTF-8: bytes kept

  InotifyParseResult r = ParseInotifyBuffer(buffer);
  ASSERT_EQ(r.records.size(), 4u);
  EXPECT_EQ(r.leftover_bytes, 0u);
  EXPECT_EQ(r.records[0].wd, 3);
  EXPECT_EQ(r.records[0].mask, uint32_t{IN_CREATE});
  EXPECT_EQ(r.records[0].name, "a.jpg");
  EXPECT_EQ(r.records[1].wd, -1);
  EXPECT_EQ(r.records[1].name, "");
  EXPECT_EQ(r.records[2].cookie, 42u);
  EXPECT_EQ(r.records[2].mask, uint32_t{IN_MOVED_FROM | IN_ISDIR});
  EXPECT_EQ(r.records[2].name, "folder");
  EXPECT_EQ(r.records[3].name, "\xFF\xFEraw");

  // A name that fills its whole length has no terminator.
  buffer.clear();
  Append(buffer, 1, IN_DELETE, 0, "exactly8", 8);
  Append(buffer, 2, IN_DELETE, 0, "next", 4);
  r = ParseInotifyBuffer(buffer);
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_EQ(r.records[0].name, "exactly8");
  EXPECT_EQ(r.records[1].name, "next");
  EXPECT_EQ(r.leftover_bytes, 0u);
}

TEST(ParseInotifyBufferTest, DamagedBuffersStopAtTheLastWholeRecord) {
  struct Case {
    const char* what;
    std::vector<std::byte> tail;  // appended after one good record
    size_t leftover;
  };
  std::vector<Case> cases;
  cases.push_back({"nothing after", {}, 0});
  {
    std::vector<std::byte> t(10, std::byte{0});
    cases.push_back({"header cut short", t, 10});
  }
  {
    std::vector<std::byte> t;
    AppendU32s(t, {5, IN_CREATE, 0, 64});  // says 64 name bytes, has 3
    t.resize(t.size() + 3, std::byte{'a'});
    cases.push_back({"name cut short", t, 19});
  }
  {
    std::vector<std::byte> t;
    AppendU32s(t, {5, IN_CREATE, 0, 0xFFFFFFFFu});  // a length that would wrap
    cases.push_back({"huge length", t, 16});
  }
  {
    std::vector<std::byte> t;
    AppendU32s(t, {5, IN_CREATE, 0, 0xFFFFFFF0u});
    t.resize(t.size() + 32, std::byte{'b'});
    cases.push_back({"length near the top", t, 48});
  }
  for (const Case& c : cases) {
    std::vector<std::byte> buffer;
    Append(buffer, 9, IN_CLOSE_WRITE, 0, "good", 16);
    buffer.insert(buffer.end(), c.tail.begin(), c.tail.end());
    InotifyParseResult r = ParseInotifyBuffer(buffer);
    ASSERT_EQ(r.records.size(), 1u) << c.what;
    EXPECT_EQ(r.records[0].name, "good") << c.what;
    EXPECT_EQ(r.leftover_bytes, c.leftover) << c.what;
  }
}

TEST(ParseInotifyBufferTest, EmptyAndUnalignedBuffers) {
  EXPECT_TRUE(ParseInotifyBuffer({}).records.empty());
  EXPECT_EQ(ParseInotifyBuffer({}).leftover_bytes, 0u);

  // The decoder must not assume the kernel's alignment.
  std::vector<std::byte> buffer(1, std::byte{0});
  Append(buffer, 4, IN_ATTRIB, 0, "odd", 4);
  Append(buffer, 5, IN_ATTRIB, 0, "odder", 12);
  InotifyParseResult r = ParseInotifyBuffer(std::span<const std::byte>(buffer).subspan(1));
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_EQ(r.records[0].wd, 4);
  EXPECT_EQ(r.records[1].name, "odder");
}

TEST(ChangeActionForMaskTest, MapsEventsToActions) {
  struct Case {
    uint32_t mask;
    ChangeAction action;
  } cases[] = {
      {IN_CREATE, ChangeAction::kAdded},
      {IN_CREATE | IN_ISDIR, ChangeAction::kAdded},
      {IN_DELETE, ChangeAction::kRemoved},
      {IN_CLOSE_WRITE, ChangeAction::kModified},
      {IN_MODIFY, ChangeAction::kModified},
      {IN_ATTRIB | IN_ISDIR, ChangeAction::kModified},
      {IN_MOVED_FROM, ChangeAction::kRenamedOld},
      {IN_MOVED_TO | IN_ISDIR, ChangeAction::kRenamedNew},
      {IN_MODIFY | IN_MOVED_TO, ChangeAction::kRenamedNew},
      {IN_DELETE_SELF, ChangeAction::kNone},
      {IN_MOVE_SELF, ChangeAction::kNone},
      {IN_IGNORED, ChangeAction::kNone},
      {IN_Q_OVERFLOW, ChangeAction::kNone},
      {IN_CLOSE_NOWRITE, ChangeAction::kNone},
      {IN_OPEN | IN_ACCESS, ChangeAction::kNone},
      {0, ChangeAction::kNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChangeActionForMask(c.mask), c.action) << std::hex << c.mask;
  }
}

}  // namespace
}  // namespace vantrel
