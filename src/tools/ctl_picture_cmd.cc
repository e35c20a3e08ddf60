// vantrelctl inspect: what the server reads from one picture, for answering
// "why does this picture not show up".

#include <string>

#include "metadata/file_report.h"
#include "metadata/mac_streams.h"
#include "platform/file_streams.h"
#include "tools/ctl_args.h"
#include "tools/ctl_commands.h"

namespace vantrel {
namespace {

constexpr char kHelp[] =
    "Usage: vantrelctl inspect FILE [--no-docinfo]\n"
    "\n"
    "Reads one picture as the server does and prints: its type code, which\n"
    "reader found its caption (image-info trailer, Photoshop, EPS, TIFF,\n"
    "resource fork, :TEXT stream, or none), every IPTC dataset of record 2 with\n"
    "its number, name and value, and the image-info values of a trailer.\n"
    "Streams beside the file (Samba xattrs, AppleDouble ._ files) are read too.\n"
    "  --no-docinfo  do not read the caption from the file's data when the\n"
    "                trailer has none (as an index with that option off)\n"
    "A relative FILE is taken from the current directory. Exit status 1 when\n"
    "the file cannot be read.\n";

}  // namespace

int CmdInspect(const CtlCall& call, const CtlEnv& env) {
  const std::string cmd = "inspect";
  StatusOr<ParsedArgs> args = ParseArgs(call.args, {}, {"--no-docinfo"});
  if (!args.ok()) return UsageError(env, cmd, args.status().message());
  if (args->help) {
    *env.out << kHelp;
    return kCtlOk;
  }
  if (args->positional.size() != 1) return UsageError(env, cmd, "give one FILE");
  std::optional<std::string> path = ResolvePath(env.current_dir, args->positional[0]);
  if (!path) return UsageError(env, cmd, "cannot use \"" + args->positional[0] + "\" as a file");

  InspectOptions options;
  options.fs = env.fs;
  options.read_document_info = !args->Has("--no-docinfo");
  options.mac_streams = InspectMacStreamsFor(*DefaultFileStreams());
  options.finder_type = InspectFinderTypeFor(*DefaultFileStreams());
  ImageFileDescription description = InspectImageFile(*path, options);
  *env.out << FormatImageFileDescription(description);
  return description.readable ? kCtlOk : kCtlFailed;
}

}  // namespace vantrel
