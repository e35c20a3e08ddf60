#include "console/console_api_search.h"

namespace vantrel {

ApiReply SearchFromConsole(ApiContext&, const ApiParams&) {
  return Refused(501, "searching from the console is not available in this build");
}

}  // namespace vantrel
