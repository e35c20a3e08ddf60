// File keys as an archive's look, for the list benchmarks: two-digit volume
// folder, topic, year, event folder and a camera-style file name that is
// unique by its number, e.g. "03Sport\2024\Match 17\IMG_0123456.JPG".
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace vantrel::bench {

// A file key with its time stamp.
struct TimedKey {
  std::string name;
  uint32_t time;
};

// The key of file `number`, written with `digits` digits (6 or 7).
inline std::string ArchiveFileKey(std::mt19937& rng, size_t number, int digits) {
  static const char* kTopics[] = {"Sport", "News", "Politics", "Culture", "Nature",
                                  "People", "Archive", "Travel"};
  // Drawn one by one: the order of a call's arguments is not fixed.
  const unsigned folder = static_cast<unsigned>(rng() % 31 + 1);
  const char* topic = kTopics[rng() % 8];
  const unsigned year = static_cast<unsigned>(2000 + rng() % 25);
  const unsigned event = static_cast<unsigned>(rng() % 200);
  char buf[128];
  std::snprintf(buf, sizeof buf, "%02u%s\\%u\\Match %u\\IMG_%0*zu.JPG", folder, topic, year, event,
                digits, number);
  return buf;
}

}  // namespace vantrel::bench
