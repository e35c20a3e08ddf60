// vantrelctl pdf render FILE: makes the thumbnail and previews of one PDF
// file of an image folder, as the server's renderer does, and prints where
// they went.
#include <algorithm>

#include "pdf/render_service.h"
#include "pdf/renderer_link.h"
#include "pdf/thumbnail_queue.h"
#include "platform/code_page.h"
#include "tools/ctl_args.h"
#include "tools/ctl_commands.h"
#include "tools/ctl_config_store.h"

namespace vantrel {
namespace {

constexpr char kPdfRenderHelp[] =
    "Usage: vantrelctl pdf render FILE\n"
    "\n"
    "Makes the thumbnail (TN1) and previews (PV1 to PV3) of the PDF file FILE,\n"
    "which lies in an image folder of an index, below the PDF folder with the\n"
    "PDF settings, through the renderer program vantrel-render (VANTREL_RENDER,\n"
    "else beside vantrelctl), and prints the pictures made.\n";

// The image folder of any index that holds `path` (the longest such folder),
// with the index's Mac text option; nothing when none does.
struct HomeFolder {
  std::string root;
  uint32_t mac_text = 0;
};

std::optional<HomeFolder> FindImageFolder(const Configuration& config, const std::string& path) {
  std::optional<HomeFolder> best;
  for (const IndexDefinition& def : config.indexes) {
    for (const ImageFolderEntry& folder : def.image_folders) {
      std::string root = folder.path;
      while (root.size() > 1 && root.back() == '/') root.pop_back();
      if (root.empty() || path.size() <= root.size() + 1) continue;
      const bool inside = path.compare(0, root.size(), root) == 0 &&
                          (root == "/" || path[root.size()] == '/');
      if (inside && (!best || root.size() > best->root.size())) {
        best = HomeFolder{root, def.mac_text};
      }
    }
  }
  return best;
}

}  // namespace

int CmdPdfRender(const CtlCall& call, const CtlEnv& env) {
  const std::string cmd = "pdf render";
  StatusOr<ParsedArgs> args = ParseArgs(call.args, {}, {});
  if (!args.ok()) return UsageError(env, cmd, args.status().message());
  if (args->help) {
    *env.out << kPdfRenderHelp;
    return kCtlOk;
  }
  if (args->positional.size() != 1) return UsageError(env, cmd, "give one PDF file");
  std::optional<std::string> file = ResolvePath(env.current_dir, args->positional[0]);
  if (!file || !env.fs->Exists(*file)) {
    return UsageError(env, cmd, "no file \"" + args->positional[0] + "\"");
  }
  std::optional<Configuration> config = ReadConfig(env, call.dir);
  if (!config) return kCtlFailed;
  if (!PdfSetupValid(env.fs, config->pdf)) {
    *env.err << "error: the PDF folder is not set or does not exist; see \"vantrelctl pdf set\"\n";
    return kCtlFailed;
  }
  std::optional<HomeFolder> home = FindImageFolder(*config, *file);
  if (!home) {
    *env.err << "error: " << *file << " lies in no image folder of an index\n";
    return kCtlFailed;
  }
  const CodePage& cp = CodePage::Default();
  std::string relative = cp.FromUtf8(std::string_view(*file).substr(home->root.size() + 1));
  StatusOr<ThumbnailJob> job = MakeThumbnailJob(env.fs, cp, config->pdf, home->mac_text, *file,
                                                home->root == "/" ? "" : home->root, relative);
  if (!job.ok()) {
    *env.err << "error: " << job.status().message() << "\n";
    return kCtlFailed;
  }
  RenderServiceOptions render;
  render.program = RendererLinkOptions::ForStartDirectory(call.dir).renderer_program;
  RenderJobOutcome outcome = RunJobInChild(render, EncodeThumbnailJob(*job).value());
  if (!outcome.done) {
    *env.err << "error: no pictures for " << *file << ": " << outcome.report << "\n";
    return kCtlFailed;
  }
  *env.out << outcome.written;
  return kCtlOk;
}

}  // namespace vantrel
