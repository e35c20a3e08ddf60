// PDF picture benchmark.
//
//   thumbnail_bench [--pdfs N] [--dir FOLDER] [--keep] [--no-pictures]
//
// 1. Pictures per second: N (default 500) generated PDFs of 1 to 20 pages of
//    text, each sent as a thumbnail job through the renderer link to a real
//    vantrel-render (started by the link), one after another as the server's
//    thumbnail thread does; every job makes a thumbnail and up to three
//    previews (300 and 800 pixels).
// 2. The indexing rate of a folder of the same PDFs (the start-up catch-up of
//    one index, PDF text included), once alone and once while the thumbnail
//    thread (lowest priority) renders the jobs that indexing queues.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/index_folders.h"
#include "core/config_file.h"
#include "core/list_lock_table.h"
#include "indexing/engine_holder.h"
#include "indexing/index_pipeline.h"
#include "pdf/pdf_text.h"
#include "pdf/renderer_link.h"
#include "pdf/thumbnail_service.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "support/pdf_builder.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vantrel;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// PDF i: 1 to 20 pages of a few lines of text.
std::string BenchPdf(int i) {
  PdfDocumentPlan plan;
  plan.info = {{"Title", "Report " + std::to_string(i)}};
  const int pages = 1 + (i * 7) % 20;
  for (int p = 0; p < pages; ++p) {
    PdfPagePlan page;
    for (int line = 0; line < 30; ++line) {
      page.runs.push_back(PdfTextRun{72, 720.0 - 20 * line,
                                     "Line " + std::to_string(line) + " of page " +
                                         std::to_string(p + 1) + " in report " + std::to_string(i),
                                     11});
    }
    plan.pages.push_back(page);
  }
  return BuildPdf(plan);
}

// Writes N PDFs into images/ (50 per folder); returns the pictures they make.
int MakePdfs(const std::string& images, int count) {
  int pictures = 0;
  for (int i = 0; i < count; ++i) {
    const std::string folder = images + "/f" + std::to_string(i / 50);
    std::filesystem::create_directories(folder);
    const std::string bytes = BenchPdf(i);
    DefaultFileSystem()->WriteFile(folder + "/r" + std::to_string(i) + ".pdf", bytes).IgnoreError();
    pictures += 1 + std::min(3, 1 + (i * 7) % 20);
  }
  return pictures;
}

Configuration MakeConfig(const std::string& work) {
  Configuration config;
  IndexDefinition def = NewIndexDefinition("Bench", work + "/index").value();
  // No nightly optimization in the middle of a measurement.
  def.optimize_hour = 24;
  def.active = 1;
  def.image_folders[0].path = OfflineFolderOf(work + "/index");
  def.image_folders[1].path = work + "/images";
  config.indexes.push_back(def);
  config.pdf.folder = work + "/pics";
  return config;
}

// Each part talks to a renderer of its own (`name`), started by the thread
// that sends the jobs, so that it runs at that thread's priority.
RendererLinkOptions LinkOptions(const std::string& work, const std::string& name) {
  RendererLinkOptions link;
  link.socket_path = work + "/start/" + name + ".sock";
  link.renderer_program = VANTREL_RENDER_BINARY;
  return link;
}

std::unique_ptr<TaskContext> NewTask(const std::string& work) {
  TaskEnvironment env;
  env.fs = DefaultFileSystem();
  env.start_dir = work + "/start";
  env.list_locks = &ListLocks();
  auto task = std::make_unique<TaskContext>(env);
  task->config = MakeConfig(work);
  return task;
}

// Part 1: every PDF's job through the link, one after another.
void MeasurePictures(const std::string& work, int pdfs, int pictures) {
  std::filesystem::remove_all(work + "/pics");
  std::filesystem::create_directories(work + "/pics");
  auto task = NewTask(work);
  SocketRendererLink link(LinkOptions(work, "pictures"));
  ThumbnailService service(&link);
  for (int i = 0; i < pdfs; ++i) {
    const std::string rel = "f" + std::to_string(i / 50) + "/r" + std::to_string(i) + ".pdf";
    std::string key = "01" + rel;
    key[key.find('/')] = '\\';
    service.Queue(*task, ThumbnailRequest{0, work + "/images/" + rel, key, work + "/images", 1, 0});
  }
  // The renderer is started by the first job; its start-up is timed too.
  const auto start = Clock::now();
  int jobs = 0;
  while (service.MakeNext(*task)) ++jobs;
  const double s = Seconds(start, Clock::now());
  std::printf("pictures: %d jobs, %d pictures in %.1f s: %.1f pictures/s, %.1f PDFs/s\n", jobs,
              pictures, s, pictures / s, jobs / s);
}

// Part 2: the start-up catch-up of one index over the PDFs.
double MeasureIndexing(const std::string& work, bool with_renderer) {
  FileSystem* fs = DefaultFileSystem();
  std::filesystem::remove_all(work + "/index");
  std::filesystem::remove_all(work + "/pics");
  std::filesystem::create_directories(work + "/index");
  std::filesystem::create_directories(work + "/pics");
  EngineHolder engine(fs);
  if (!engine.WriteFieldCatalogue(work + "/start").ok() || !engine.Start(work + "/start").ok()) {
    std::fprintf(stderr, "engine start failed\n");
    std::exit(1);
  }
  auto task = NewTask(work);
  PrepareIndexFolders(&task->config, fs, nullptr);
  PdfTextOptions text = PdfTextOptions::FromEnvironment();
  text.helper_path = VANTREL_PDFTEXT_BINARY;
  PdfTextExtractor extractor(text);
  SocketRendererLink link(LinkOptions(work, "indexing"));
  ThumbnailService thumbnails(&link);
  PipelineOptions options;
  options.engine = &engine;
  options.fs = fs;
  options.pdf_text = [&](const std::string& path, const std::atomic<bool>* cancel) {
    return extractor.Extract(path, cancel);
  };
  if (with_renderer) {
    options.queue_thumbnail = [&](TaskContext& t, const ThumbnailRequest& r) {
      thumbnails.Queue(t, r);
    };
  }
  Pipeline pipeline(options);
  std::thread thread;
  if (with_renderer) {
    thread = std::thread([&] {
      SetCurrentThreadLowestPriority().IgnoreError();
      while (!task->stop) {
        if (!thumbnails.MakeNext(*task)) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
  }
  const auto start = Clock::now();
  pipeline.StartUpIndex(*task, 0);
  // The texts follow their documents at update passes, as in the server.
  while (!pipeline.WaitForPdfTexts(std::chrono::milliseconds(200))) pipeline.RunUpdateJob(*task);
  pipeline.RunUpdateJob(*task);
  const double s = Seconds(start, Clock::now());
  const size_t indexed = task->Locked(0, &task->indexes[0].indexed).Count();
  const size_t waiting = task->Locked(-1, &task->thumbnail_queue).Count();
  task->stop = true;
  if (thread.joinable()) thread.join();
  std::printf("indexing %s: %zu PDFs in %.1f s: %.1f PDFs/s%s\n",
              with_renderer ? "with the renderer" : "alone", indexed, s, indexed / s,
              with_renderer ? (" (" + std::to_string(waiting) + " jobs still queued)").c_str()
                            : "");
  engine.Stop();
  return indexed / s;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  int pdfs = 500;
  std::string work;
  bool keep = false;
  bool pictures_part = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--pdfs") == 0 && i + 1 < argc) {
      pdfs = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
      work = argv[++i];
    } else if (std::strcmp(argv[i], "--keep") == 0) {
      keep = true;
    } else if (std::strcmp(argv[i], "--no-pictures") == 0) {
      pictures_part = false;
    } else {
      std::fprintf(stderr,
                   "usage: thumbnail_bench [--pdfs N] [--dir FOLDER] [--keep] [--no-pictures]\n");
      return 2;
    }
  }
  if (work.empty()) {
    work = std::filesystem::temp_directory_path().string() + "/vantrel-thumbnail-bench-" +
           std::to_string(getpid());
  }
  std::filesystem::create_directories(work + "/start");
  const int pictures = MakePdfs(work + "/images", pdfs);
  if (pictures_part) MeasurePictures(work, pdfs, pictures);
  const double alone = MeasureIndexing(work, false);
  const double with = MeasureIndexing(work, true);
  std::printf("indexing rate with the renderer: %.0f %% of the rate alone\n", 100.0 * with / alone);
  if (!keep) std::filesystem::remove_all(work);
  return 0;
}
