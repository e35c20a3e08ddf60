// Starting a long-lived helper service (the PDF renderer) that outlives the
// call and is not the caller's child: the server never waits for it, and its
// end never leaves a zombie in the server.
//
// Thread safety: may be called from several threads at once.
#pragma once

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace vantrel {

// Starts argv[0] (a path; no PATH search, no shell) with `argv` in a new
// session, with /dev/null as standard input and output and standard error
// kept, through an intermediate process that ends at once (the program is
// adopted by init). Returns when the program has been executed: kNotFound
// when it does not exist, kIoError when it cannot be started.
Status StartDetachedProcess(const std::vector<std::string>& argv);

}  // namespace vantrel
