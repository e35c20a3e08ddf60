// Task requests: what the console asks of the database process task.
#pragma once

#include <cstdint>

namespace vantrel {

enum TaskRequestCode : uint32_t {
  kRequestRebuild = 1,     // rebuild the chosen index(es) from scratch
  kRequestOptimize = 2,    // optimize the chosen index(es) now
  kRequestRescan = 3,      // forget the lists and scan every image folder again
  kRequestLogOptions = 4,  // the argument becomes the task's log option flags
};

struct TaskRequest {
  uint32_t code = 0;
  int32_t index = -1;  // -1: every index
  uint32_t argument = 0;
};

}  // namespace vantrel
