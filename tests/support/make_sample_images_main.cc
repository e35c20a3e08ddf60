// make_sample_images FOLDER: writes a small archive of captioned sample
// pictures (JPEG, TIFF in both byte orders, EPS, a picture with an image-info
// trailer) into FOLDER, in a few sub-folders, for the demo. Existing files
// are replaced; nothing else in FOLDER is touched.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "support/image_builders.h"

namespace {

using vantrel::IptcDataset;

struct Sample {
  const char* path;
  const char* headline;
  const char* caption;
  const char* city;
  const char* country;
  std::vector<const char*> keywords;
};

std::vector<IptcDataset> Datasets(const Sample& s) {
  std::vector<IptcDataset> d;
  d.push_back({2, 105, s.headline});
  d.push_back({2, 120, s.caption});
  d.push_back({2, 90, s.city});
  d.push_back({2, 101, s.country});
  d.push_back({2, 80, "Vantrel Demo"});
  d.push_back({2, 55, "20240615"});
  for (const char* k : s.keywords) d.push_back({2, 25, k});
  return d;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]) == "--help") {
    std::fprintf(stderr, "Usage: make_sample_images FOLDER\n"
                         "Writes captioned sample pictures for the Vantrel demo into FOLDER.\n");
    return argc == 2 ? 0 : 2;
  }
  const std::string root = argv[1];
  vantrel::FileSystem* fs = vantrel::DefaultFileSystem();

  const std::vector<Sample> jpegs = {
      {"sport/final-whistle.jpg", "Final whistle", "Players celebrate the cup win at the stadium.",
       "Hamburg", "Germany", {"football", "cup", "celebration"}},
      {"sport/marathon.jpg", "City marathon", "Runners cross the bridge at kilometre 30.",
       "Berlin", "Germany", {"marathon", "running"}},
      {"news/harbour-fire.jpg", "Harbour fire", "Fire boats fight a blaze in the old harbour.",
       "Rotterdam", "Netherlands", {"fire", "harbour", "emergency"}},
      {"news/election-night.jpg", "Election night", "Supporters wait for the first results.",
       "Wien", "\xC3\x96sterreich", {"election", "politics"}},
      {"culture/opera.jpg", "Opening night", "The orchestra takes its bow after the premiere.",
       "Z\xC3\xBCrich", "Switzerland", {"opera", "music", "premiere"}},
  };
  int written = 0;
  auto write = [&](const std::string& rel, const std::string& bytes) {
    std::string path = root + "/" + rel;
    std::string folder = path.substr(0, path.rfind('/'));
    vantrel::Status made = fs->CreateFolders(folder);
    vantrel::Status saved = made.ok() ? fs->WriteFileAtomic(path, bytes) : made;
    if (!saved.ok()) {
      std::fprintf(stderr, "make_sample_images: %s\n", saved.ToString().c_str());
      return false;
    }
    ++written;
    return true;
  };

  // Captions are single-byte text, as most IPTC writers store them.
  const vantrel::CodePage& code_page = vantrel::CodePage::Default();
  for (const Sample& s : jpegs) {
    std::vector<IptcDataset> d = Datasets(s);
    for (IptcDataset& x : d) x.value = code_page.FromUtf8(x.value);
    if (!write(s.path, vantrel::MakeJpegWithIptc(d))) return 1;
  }
  Sample tiff{"scans/negative-017.tif", "Archive scan", "Scanned negative from 1968.",
              "Paris", "France", {"archive", "scan"}};
  vantrel::TiffOptions little;
  little.big_endian = false;
  if (!write(tiff.path, vantrel::MakeTiffWithIptc(Datasets(tiff)))) return 1;
  if (!write("scans/negative-018.tif", vantrel::MakeTiffWithIptc(Datasets(tiff), little))) return 1;
  Sample eps{"graphics/map.eps", "Route map", "Map of the marathon route.", "Berlin", "Germany",
             {"map", "marathon"}};
  if (!write(eps.path, vantrel::MakeEpsWithIptc(Datasets(eps)))) return 1;
  if (!write("graphics/plain.jpg", vantrel::MakeJpeg())) return 1;

  std::printf("make_sample_images: %d pictures in %s\n", written, root.c_str());
  return 0;
}
