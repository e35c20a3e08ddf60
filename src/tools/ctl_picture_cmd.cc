// vantrelctl inspect: what the server reads from one picture, for answering
// "why does this picture not show up", and the image document the server
// would hand to the engine for it.

#include <string>

#include "indexing/document_builder.h"
#include "metadata/file_report.h"
#include "metadata/mac_streams.h"
#include "pdf/pdf_text.h"
#include "platform/code_page.h"
#include "platform/file_streams.h"
#include "platform/paths.h"
#include "tools/ctl_args.h"
#include "tools/ctl_commands.h"

namespace vantrel {
namespace {

constexpr char kHelp[] =
    "Usage: vantrelctl inspect FILE [--no-docinfo] [--key KEY | --root ROOT]\n"
    "                               [--empty-fields 0|1|2] [--mac-text]\n"
    "\n"
    "Reads one picture as the server does and prints: its type code, which\n"
    "reader found its caption (image-info trailer, Photoshop, EPS, TIFF,\n"
    "resource fork, :TEXT stream, or none), every IPTC dataset of record 2 with\n"
    "its number, name and value, and the image-info values of a trailer.\n"
    "Streams beside the file (Samba xattrs, AppleDouble ._ files) are read too.\n"
    "Then it prints the whole image document the server would index for the\n"
    "file (the text of a PDF file through the vantrel-pdftext helper).\n"
    "  --no-docinfo        do not read the caption from the file's data when the\n"
    "                      trailer has none (as an index with that option off)\n"
    "  --key KEY           the file key of the document (image folder number and\n"
    "                      path, e.g. 03Sport\\img.jpg); default 00 and the name\n"
    "  --root ROOT         the image folder FILE lies in: the key becomes 01 and\n"
    "                      FILE's path below ROOT\n"
    "  --empty-fields N    the index's empty-field mode (0 none, 1 the most\n"
    "                      common, 2 all; default 1)\n"
    "  --mac-text          convert caption text from the Macintosh character set\n"
    "A relative FILE is taken from the current directory. Exit status 1 when\n"
    "the file cannot be read.\n";

// The file key of the document: --key, else the path below --root in image
// folder 01, else the file name in folder 00.
StatusOr<std::string> DocumentKey(const ParsedArgs& args, const CtlEnv& env,
                                  const std::string& path) {
  if (const std::string* key = args.Option("--key")) {
    if (args.Option("--root") != nullptr) {
      return Status::InvalidArgument("give --key or --root, not both");
    }
    if (key->size() < 2) return Status::InvalidArgument("a file key begins with two digits");
    return *key;
  }
  const CodePage& cp = CodePage::Default();
  if (const std::string* root_arg = args.Option("--root")) {
    std::optional<std::string> root = ResolvePath(env.current_dir, *root_arg);
    if (!root) return Status::InvalidArgument("cannot use \"" + *root_arg + "\" as a folder");
    const std::string prefix = *root == "/" ? "/" : *root + "/";
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) {
      return Status::InvalidArgument("FILE does not lie below " + *root);
    }
    return "01" + KeyFromNativeRelative(cp, std::string_view(path).substr(prefix.size()));
  }
  return "00" + cp.FromUtf8(LastComponent(path));
}

}  // namespace

int CmdInspect(const CtlCall& call, const CtlEnv& env) {
  const std::string cmd = "inspect";
  StatusOr<ParsedArgs> args =
      ParseArgs(call.args, {"--key", "--root", "--empty-fields"}, {"--no-docinfo", "--mac-text"});
  if (!args.ok()) return UsageError(env, cmd, args.status().message());
  if (args->help) {
    *env.out << kHelp;
    return kCtlOk;
  }
  if (args->positional.size() != 1) return UsageError(env, cmd, "give one FILE");
  std::optional<std::string> path = ResolvePath(env.current_dir, args->positional[0]);
  if (!path) return UsageError(env, cmd, "cannot use \"" + args->positional[0] + "\" as a file");
  StatusOr<std::string> key = DocumentKey(*args, env, *path);
  if (!key.ok()) return UsageError(env, cmd, key.status().message());
  EmptyFieldMode empty_fields = EmptyFieldMode::kCommon;
  if (const std::string* mode = args->Option("--empty-fields")) {
    std::optional<uint32_t> n = ParseStrictUint32(*mode);
    if (!n || *n > 2) return UsageError(env, cmd, "--empty-fields takes 0, 1 or 2");
    empty_fields = static_cast<EmptyFieldMode>(*n);
  }

  InspectOptions options;
  options.fs = env.fs;
  options.read_document_info = !args->Has("--no-docinfo");
  options.mac_streams = InspectMacStreamsFor(*DefaultFileStreams());
  options.finder_type = InspectFinderTypeFor(*DefaultFileStreams());
  ImageFileDescription description = InspectImageFile(*path, options);
  *env.out << FormatImageFileDescription(description);
  if (!description.readable) return kCtlFailed;

  DocumentOptions document_options;
  document_options.fs = env.fs;
  document_options.streams = DefaultFileStreams();
  document_options.read_document_info = options.read_document_info;
  document_options.convert_mac_text = args->Has("--mac-text");
  document_options.empty_fields = empty_fields;
  PdfTextOptions pdf_options = PdfTextOptions::FromEnvironment();
  pdf_options.max_text_bytes = kMaxPdfTextBytes;
  pdf_options.log = [&env](const std::string& line) { *env.err << line << "\n"; };
  PdfTextExtractor pdf_text(pdf_options);
  document_options.pdf_text = [&pdf_text](const std::string& native_path) {
    return pdf_text.Extract(native_path);
  };
  DocumentFile file;
  file.native_path = *path;
  file.file_key = *key;
  ComposedDocument document = ComposeImageDocument(file, document_options);
  const CodePage& cp = CodePage::Default();
  *env.out << "\nImage document (file key " << cp.ToUtf8(*key) << "):\n";
  if (!document.opened) {
    *env.out << "Error: the file could not be opened\n";
    return kCtlFailed;
  }
  if (document.text_problem) *env.out << "Problem: " << TextProblemMessage(*path) << "\n";
  *env.out << "Length: " << document.text.size() << " bytes\n" << cp.ToUtf8(document.text) << "\n";
  return kCtlOk;
}

}  // namespace vantrel
