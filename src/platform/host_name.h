// The name of the machine the server runs on.
//
// Thread safety: may be called from any thread.
#pragma once

#include <string>

namespace vantrel {

// The host name as the system reports it (possibly with a domain part), or
// "" when it cannot be read.
std::string HostName();

}  // namespace vantrel
