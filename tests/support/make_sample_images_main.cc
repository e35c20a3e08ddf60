// make_sample_images [--size WIDTHxHEIGHT] FOLDER: writes a small archive of
// captioned sample pictures (JPEG, TIFF in both byte orders, EPS) into
// FOLDER, in a few sub-folders, for the demo and the browser tests. The
// JPEGs are colour pictures (640x480 unless --size says otherwise) of a
// scene that fits their caption, the same on every run. Existing files are
// replaced; nothing else in FOLDER is touched.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/file_system.h"
#include "support/image_builders.h"
#include "support/sample_scenes.h"

namespace {

using vantrel::IptcDataset;

// The picture as a baseline JPEG (libjpeg, quality 85).
std::string EncodeJpeg(const vantrel::Picture& picture) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);  // errors end the program with a message
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(picture.width);
  cinfo.image_height = static_cast<JDIMENSION>(picture.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 85, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const size_t stride = static_cast<size_t>(picture.width) * 3;
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(picture.rgb.data() + cinfo.next_scanline * stride);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string out(reinterpret_cast<const char*>(buffer), size);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return out;
}

// `jpeg` with an APP13 segment ("Photoshop 3.0", resource 0x0404 holding
// the datasets) behind its JFIF segment, where captioning programs put it.
std::string WithIptc(const std::string& jpeg, const std::vector<IptcDataset>& datasets) {
  const std::string resources = vantrel::MakeIptcResources(vantrel::MakeIptcBlock(datasets));
  std::string body = std::string("Photoshop 3.0") + '\0' + resources;
  const size_t length = body.size() + 2;  // a few hundred bytes, far below 65535
  std::string segment = "\xFF\xED";
  segment += static_cast<char>(length >> 8);
  segment += static_cast<char>(length & 0xFF);
  segment += body;
  size_t at = 2;  // behind SOI
  if (jpeg.size() > 6 && static_cast<uint8_t>(jpeg[2]) == 0xFF &&
      static_cast<uint8_t>(jpeg[3]) == 0xE0) {
    at = 4 + ((static_cast<size_t>(static_cast<uint8_t>(jpeg[4])) << 8) |
              static_cast<uint8_t>(jpeg[5]));
  }
  return jpeg.substr(0, at) + segment + jpeg.substr(at);
}

// A stable seed for each file, so a scene's details differ between files
// and stay the same between runs.
uint32_t SeedOf(const std::string& text) {
  uint32_t h = 2166136261u;
  for (unsigned char ch : text) h = (h ^ ch) * 16777619u;
  return h;
}

struct Size {
  int width = 640;
  int height = 480;
};

// "WIDTHxHEIGHT" with both between 16 and 4000.
bool ParseSize(const std::string& text, Size* size) {
  int w = 0, h = 0;
  char extra = 0;
  if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &extra) != 2) return false;
  if (w < 16 || h < 16 || w > 4000 || h > 4000) return false;
  *size = Size{w, h};
  return true;
}

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
  std::vector<std::string> args(argv + 1, argv + argc);
  Size size;
  if (args.size() == 3 && args[0] == "--size") {
    if (!ParseSize(args[1], &size)) {
      std::fprintf(stderr, "make_sample_images: --size wants WIDTHxHEIGHT, 16 to 4000 each\n");
      return 2;
    }
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() != 1 || args[0] == "--help") {
    std::fprintf(stderr, "Usage: make_sample_images [--size WIDTHxHEIGHT] FOLDER\n"
                         "Writes captioned sample pictures for the Vantrel demo into FOLDER\n"
                         "(JPEGs of 640x480 unless --size says otherwise).\n");
    return args.size() == 1 ? 0 : 2;
  }
  const std::string root = args[0];
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
    std::string words = std::string(s.headline) + " " + s.caption;
    for (const char* k : s.keywords) words += std::string(" ") + k;
    for (IptcDataset& x : d) x.value = code_page.FromUtf8(x.value);
    const vantrel::Picture picture = vantrel::PaintScene(vantrel::ThemeForWords(words), size.width,
                                                         size.height, SeedOf(s.path));
    if (!write(s.path, WithIptc(EncodeJpeg(picture), d))) return 1;
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
  // A picture without a caption.
  const vantrel::Picture plain = vantrel::PaintScene(vantrel::SceneTheme::kLandscape, size.width,
                                                     size.height, SeedOf("graphics/plain.jpg"));
  if (!write("graphics/plain.jpg", EncodeJpeg(plain))) return 1;

  std::printf("make_sample_images: %d pictures in %s\n", written, root.c_str());
  return 0;
}
