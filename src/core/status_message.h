// Status messages: what the database process task tells the console.
//
// A message carries a code and either nothing, a small integer, or a copy of
// its data (text, or the 540-byte index statistics record).
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

enum StatusCode32 : uint32_t {
  kStatusOperation = 0,      // operation line: a text, or a line-label number below 100
  kStatusFolderScanned = 1,  // "Last Folder Scanned:" text
  kStatusFileIndexed = 2,    // "Last File Indexed:" text
  kStatusLastSearch = 3,     // "Last Search:" text
  kStatusStepDone = 10,      // repaint the current status
  kStatusEventAdded = 20,
  kStatusEventsReset = 21,
  kStatusLogLine = 22,       // a line for the event list and the log file
  kStatusIndexStatistics = 23,  // index statistics record (540 bytes)
  // Not a status code of the queue: the task announces its relaunch after an
  // automatic optimization; the console logs "Vantrel Terminating" and saves.
  kStatusRelaunching = 1230,
};

struct StatusMessage {
  uint32_t code = 0;
  // Exactly one of the following is meaningful, chosen by the poster: data of
  // two or more bytes, or a small integer (what a length of 1 carries).
  std::string data;
  bool has_number = false;
  uint32_t number = 0;

  static StatusMessage Text(uint32_t code, std::string text) {
    StatusMessage m;
    m.code = code;
    m.data = std::move(text);
    return m;
  }
  static StatusMessage Number(uint32_t code, uint32_t n) {
    StatusMessage m;
    m.code = code;
    m.has_number = true;
    m.number = n;
    return m;
  }
  static StatusMessage Empty(uint32_t code) {
    StatusMessage m;
    m.code = code;
    return m;
  }
};

}  // namespace vantrel
