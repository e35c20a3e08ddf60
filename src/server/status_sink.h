// StatusSink: the console side of the status queue. The status pump hands
// every status message of the task to it, one at a time, in posting order.
//
// Thread safety: called from the status pump thread (and, for messages left
// when the task ends, from the task thread after the pump has stopped).
#pragma once

#include "core/status_message.h"

namespace vantrel {

class StatusSink {
 public:
  virtual ~StatusSink() = default;
  virtual void OnStatus(const StatusMessage& message) = 0;
};

}  // namespace vantrel
