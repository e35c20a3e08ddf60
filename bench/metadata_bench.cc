// Throughput of the data-fork caption readers on a warm page cache.
//
// Makes a corpus with the image builders in a temporary folder (by default
// 20,000 JPEG files with APP13 captions and 2,000 each of TIFF, EPS and
// image-info trailer files), then measures files per second on one core:
//   readers  OpenImageData + ReadPhotoshopCaption/ReadEpsCaption/
//            ReadTiffCaption + CloseImageData (the trailer files through the
//            trailer reader, as the document builder reads them first)
//   floor    open, map and scan for FF ED, nothing else
//   exiv2    `exiv2 -q -pi` over the same files, in batches of 500
//   extended the readers plus what the document builder does after them
//            (IIM character sets, embedded XMP, the sidecar look-up against
//            the folder's listing as a scan hands it over), over the
//            APP13-only JPEGs (also with the sidecar names tried on disk, as
//            for single-file changes, and without sidecars) and over as many
//            JPEGs that carry a 4 KB XMP packet in APP1 beside the APP13,
//            compared with `exiv2 -q -px` over the latter
//   headers  the JPEG readers plus the picture-header read that an index
//            with header dimensions on adds for files without a trailer
//            (the APP13-only corpus before and after), and 2,000 PNG files
//            (IHDR, pHYs, eXIf, raw iptc profile) through the header reader
// Usage: metadata_bench [JPEG_COUNT [OTHER_COUNT]]
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "metadata/caption_record.h"
#include "metadata/eps_reader.h"
#include "metadata/image_data_view.h"
#include "metadata/image_header.h"
#include "metadata/image_info_trailer.h"
#include "metadata/photoshop_reader.h"
#include "metadata/tiff_reader.h"
#include "metadata/xmp_caption.h"
#include "metadata/xmp_sources.h"
#include "platform/file_system.h"
#include "scan/folder_scanner.h"
#include "support/image_builders.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vantrel;

std::vector<IptcDataset> CaptionFor(int i) {
  return {{2, 120, "Caption of sample image number " + std::to_string(i) + ", a harbour at dusk"},
          {2, 105, "Headline " + std::to_string(i)},
          {2, 25, "harbour"},
          {2, 25, "dusk"},
          {2, 25, "boats"},
          {2, 80, "Staff Photographer"},
          {2, 110, "Vantrel Bench"},
          {2, 55, "20240102"}};
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One file's caption, through the readers in the order the document builder
// tries them.
void ReadCaption(std::string_view data, const std::string& path, CaptionRecord& r) {
  if (!ReadPhotoshopCaption(r, data, path) && !ReadEpsCaption(data, path, r)) {
    (void)ReadTiffCaption(data, path, r);
  }
}

// Every file through the readers, as the document builder calls them.
int ReadAll(const std::vector<std::string>& files) {
  int captions = 0;
  ImageDataView view;
  for (const std::string& path : files) {
    CaptionRecord r;
    if (!OpenImageData(view, path)) continue;
    std::string_view data = view.data();
    ReadCaption(data, path, r);
    CloseImageData(view);
    captions += r.iptc_length() > 0;
  }
  return captions;
}

// How the extended pass looks for sidecars.
enum class SidecarLookup {
  kNone,     // not at all
  kOpens,    // each sidecar name tried on disk (single-file changes, inspect)
  kListing,  // only names the folder's listing shows (scans)
};

// The listing of the corpus folder, as the scan made it before the readers
// ran; each extended pass in kListing mode turns it into the sorted file
// names the scan hands to the builder (that cost is timed).
std::vector<FolderEntry> g_listing;

// ReadAll, then the character set and XMP steps of the document builder
// (with the sidecar look-up of `lookup`).
int ReadAllExtendedWith(const std::vector<std::string>& files, SidecarLookup lookup) {
  int captions = 0;
  ImageDataView view;
  const MetadataSwitches all_on;
  std::shared_ptr<const ListedFileNames> names;
  if (lookup == SidecarLookup::kListing) names = ListedFileNamesOf(g_listing);
  for (const std::string& path : files) {
    CaptionRecord r;
    if (!OpenImageData(view, path)) continue;
    std::string_view data = view.data();
    ReadCaption(data, path, r);
    CaptionExtras extras;
    extras.embedded = ReadEmbeddedXmp(data);
    CloseImageData(view);
    extras.fs = lookup != SidecarLookup::kNone ? DefaultFileSystem() : nullptr;
    extras.picture_path = path;
    extras.listed_files = names.get();
    ExtendCaption(r, extras, all_on);
    captions += r.iptc_length() > 0;
  }
  return captions;
}

int ReadAllExtended(const std::vector<std::string>& files) {
  return ReadAllExtendedWith(files, SidecarLookup::kListing);
}
int ReadAllSidecarOpens(const std::vector<std::string>& files) {
  return ReadAllExtendedWith(files, SidecarLookup::kOpens);
}
int ReadAllNoSidecar(const std::vector<std::string>& files) {
  return ReadAllExtendedWith(files, SidecarLookup::kNone);
}

// A 4 KB XMP packet with the caption values of sample `i`, padded as
// writers pad packets for editing in place.
std::string XmpPacketFor(int i) {
  std::string p =
      "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>\n"
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'>\n"
      "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>\n"
      " <rdf:Description rdf:about=''\n"
      "  xmlns:dc='http://purl.org/dc/elements/1.1/'\n"
      "  xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'>\n"
      "  <dc:description><rdf:Alt><rdf:li xml:lang='x-default'>Caption of sample image number " +
      std::to_string(i) +
      ", a harbour at dusk</rdf:li></rdf:Alt></dc:description>\n"
      "  <dc:subject><rdf:Bag><rdf:li>harbour</rdf:li><rdf:li>dusk</rdf:li><rdf:li>boats</rdf:li>"
      "</rdf:Bag></dc:subject>\n"
      "  <dc:creator><rdf:Seq><rdf:li>Staff Photographer</rdf:li></rdf:Seq></dc:creator>\n"
      "  <photoshop:Headline>Headline " +
      std::to_string(i) +
      "</photoshop:Headline>\n"
      "  <photoshop:Credit>Vantrel Bench</photoshop:Credit>\n"
      "  <photoshop:City>Hamburg</photoshop:City>\n"
      "  <photoshop:DateCreated>2024-01-02</photoshop:DateCreated>\n"
      " </rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n";
  const std::string end = "<?xpacket end='w'?>";
  while (p.size() + end.size() + 100 < 4096) p += std::string(99, ' ') + "\n";
  return p + end;
}

// The JPEG of sample `i` with an APP1 XMP segment behind its SOI.
std::string JpegWithXmpFor(int i) {
  const std::string jpeg = MakeJpegWithIptc(CaptionFor(i));
  const std::string payload = std::string(kJpegXmpId) + XmpPacketFor(i);
  const size_t length = payload.size() + 2;
  std::string app1 = "\xFF\xE1";
  app1 += static_cast<char>(length >> 8);
  app1 += static_cast<char>(length & 0xFF);
  return jpeg.substr(0, 2) + app1 + payload + jpeg.substr(2);
}

int ReadTrailers(const std::vector<std::string>& files) {
  int captions = 0;
  for (const std::string& path : files) {
    TrailerWindow w;
    if (!ReadImageInfoTrailer(*DefaultFileSystem(), path, 1, &w)) continue;
    CaptionRecord r;
    captions += InstallIptcBlock(r, w.block);
  }
  return captions;
}

// Opens, maps and finds FF ED: the least any reader of these files does.
int Floor(const std::vector<std::string>& files) {
  int found = 0;
  for (const std::string& path : files) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
      size_t size = static_cast<size_t>(st.st_size);
      void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
      if (p != MAP_FAILED) {
        const unsigned char* d = static_cast<const unsigned char*>(p);
        for (size_t i = 0; i + 1 < size; ++i) {
          if (d[i] == 0xFF && d[i + 1] == 0xED) {
            ++found;
            break;
          }
        }
        ::munmap(p, size);
      }
    }
    ::close(fd);
  }
  return found;
}

int Exiv2(const std::vector<std::string>& files, const char* print = "-pi") {
  const size_t kBatch = 500;
  int runs = 0;
  for (size_t i = 0; i < files.size(); i += kBatch) {
    std::string cmd = std::string("exiv2 -q ") + print;
    for (size_t k = i; k < files.size() && k < i + kBatch; ++k) cmd += " '" + files[k] + "'";
    cmd += " > /dev/null 2>&1";
    if (std::system(cmd.c_str()) == 0) ++runs;
  }
  return runs;
}

// The picture-header read of one file through the file system, as the
// document builder does it.
ImageHeaderFacts HeaderOf(const std::string& path, uint64_t size) {
  FileSystem& fs = *DefaultFileSystem();
  return ReadImageHeaderFromFile(
      [&](uint64_t offset, size_t length, std::string* out) {
        StatusOr<std::string> r = fs.ReadFileRange(path, offset, length);
        if (!r.ok()) return false;
        *out = std::move(*r);
        return true;
      },
      size);
}

// ReadAll plus the header read of each file from the same mapped data, as
// the document builder does when it runs the caption readers; the count of
// files whose header gave a size.
int ReadAllWithHeaders(const std::vector<std::string>& files) {
  int sized = 0;
  ImageDataView view;
  for (const std::string& path : files) {
    CaptionRecord r;
    if (!OpenImageData(view, path)) continue;
    std::string_view data = view.data();
    ReadCaption(data, path, r);
    sized += ReadImageHeader(data).has_size;
    CloseImageData(view);
  }
  return sized;
}

// PNG pictures: the header read gives size, date and the IIM block.
int ReadPngs(const std::vector<std::string>& files) {
  int captions = 0;
  for (const std::string& path : files) {
    StatusOr<FileInfo> info = DefaultFileSystem()->Stat(path);
    if (!info.ok()) continue;
    const ImageHeaderFacts facts = HeaderOf(path, info->size);
    CaptionRecord r;
    captions += !facts.iim.empty() && InstallIptcBlock(r, facts.iim);
  }
  return captions;
}

std::vector<std::string> WritePngs(const std::string& dir, int count) {
  std::vector<std::string> files;
  const std::string exif = MakeExifTiff({.x_resolution = 300, .date_original = "2024:01:02 03:04:05"});
  for (int i = 0; i < count; ++i) {
    files.push_back(dir + "/png" + std::to_string(i) + ".png");
    WriteFile(files.back(),
              MakePng({.width = 3000,
                       .height = 2000,
                       .chunks = {MakePngChunk("eXIf", exif),
                                  MakePngIptcChunk(MakeIptcBlock(CaptionFor(i)))}}));
  }
  return files;
}

// Best of three timed passes, after one warm-up pass.
double FilesPerSecond(const std::vector<std::string>& files,
                      const std::function<int(const std::vector<std::string>&)>& pass, int* result,
                      int passes = 3) {
  *result = pass(files);
  double best = 0;
  for (int p = 0; p < passes; ++p) {
    auto start = Clock::now();
    *result = pass(files);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    best = std::max(best, files.size() / seconds);
  }
  return best;
}

void HeaderRates(const std::string& dir, const std::vector<std::string>& jpegs, double jpeg_rate,
                 int png_count) {
  int n = 0;
  const double with_headers = FilesPerSecond(jpegs, ReadAllWithHeaders, &n);
  std::printf("readers + headers:  %9.0f files/s  (%d sized; %.1f %% below the readers alone)\n",
              with_headers, n, 100.0 * (1.0 - with_headers / jpeg_rate));
  const std::vector<std::string> pngs = WritePngs(dir, png_count);
  const double png_rate = FilesPerSecond(pngs, ReadPngs, &n);
  std::printf("headers, PNG:       %9.0f files/s  (%d captions)\n", png_rate, n);
}

}  // namespace

int main(int argc, char** argv) {
  int jpeg_count = argc > 1 ? std::atoi(argv[1]) : 20000;
  int other_count = argc > 2 ? std::atoi(argv[2]) : 2000;
  char pattern[] = "/tmp/vantrel_metadata_bench_XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string dir = pattern;
  std::vector<std::string> jpegs, xmp_jpegs, tiffs, epss, trailers;
  for (int i = 0; i < jpeg_count; ++i) {
    jpegs.push_back(dir + "/img" + std::to_string(i) + ".jpg");
    WriteFile(jpegs.back(), MakeJpegWithIptc(CaptionFor(i)));
    xmp_jpegs.push_back(dir + "/xmp" + std::to_string(i) + ".jpg");
    WriteFile(xmp_jpegs.back(), JpegWithXmpFor(i));
  }
  for (int i = 0; i < other_count; ++i) {
    tiffs.push_back(dir + "/img" + std::to_string(i) + ".tif");
    WriteFile(tiffs.back(), MakeTiffWithIptc(CaptionFor(i)));
    epss.push_back(dir + "/img" + std::to_string(i) + ".eps");
    WriteFile(epss.back(), MakeEpsWithIptc(CaptionFor(i)));
    trailers.push_back(dir + "/trl" + std::to_string(i) + ".jpg");
    WriteFile(trailers.back(),
              AppendTrailer(MakeJpeg(), {{1, MakeIptcBlock(CaptionFor(i))},
                                         {2, MakeImageInfoBlock(3000, 2000, 3, 300000)}}));
  }
  std::printf("corpus: %d JPEG, %d TIFF, %d EPS, %d trailer files in %s\n", jpeg_count, other_count,
              other_count, other_count, dir.c_str());

  int n = 0;
  double jpeg_rate = FilesPerSecond(jpegs, ReadAll, &n);
  std::printf("readers, JPEG:      %9.0f files/s  (%d captions)\n", jpeg_rate, n);
  double floor_rate = FilesPerSecond(jpegs, Floor, &n);
  std::printf("floor, JPEG:        %9.0f files/s  (%d with FF ED)\n", floor_rate, n);
  std::printf("readers / floor:    %9.2f\n", jpeg_rate / floor_rate);
  StatusOr<std::vector<FolderEntry>> listing = DefaultFileSystem()->ListFolder(dir);
  if (listing.ok()) g_listing = std::move(*listing);
  double extended_rate = FilesPerSecond(jpegs, ReadAllExtended, &n);
  std::printf("extended, JPEG:     %9.0f files/s  (%d captions; %.1f %% below the readers)\n",
              extended_rate, n, 100.0 * (1.0 - extended_rate / jpeg_rate));
  double opens_rate = FilesPerSecond(jpegs, ReadAllSidecarOpens, &n);
  std::printf("  sidecars by opens:%9.0f files/s  (%.1f %% below the readers)\n", opens_rate,
              100.0 * (1.0 - opens_rate / jpeg_rate));
  double no_sidecar_rate = FilesPerSecond(jpegs, ReadAllNoSidecar, &n);
  std::printf("  without sidecars: %9.0f files/s  (%.1f %% below the readers)\n", no_sidecar_rate,
              100.0 * (1.0 - no_sidecar_rate / jpeg_rate));
  double xmp_rate = FilesPerSecond(xmp_jpegs, ReadAllExtended, &n);
  std::printf("extended, JPEG+XMP: %9.0f files/s  (%d captions)\n", xmp_rate, n);
  double tiff_rate = FilesPerSecond(tiffs, ReadAll, &n);
  std::printf("readers, TIFF:      %9.0f files/s  (%d captions)\n", tiff_rate, n);
  double eps_rate = FilesPerSecond(epss, ReadAll, &n);
  std::printf("readers, EPS:       %9.0f files/s  (%d captions)\n", eps_rate, n);
  double trailer_rate = FilesPerSecond(trailers, ReadTrailers, &n);
  std::printf("trailer reader:     %9.0f files/s  (%d captions)\n", trailer_rate, n);
  HeaderRates(dir, jpegs, jpeg_rate, other_count);

  if (std::system("command -v exiv2 > /dev/null 2>&1") == 0) {
    double exiv2_rate =
        FilesPerSecond(jpegs, [](const std::vector<std::string>& f) { return Exiv2(f); }, &n, 1);
    std::printf("exiv2 -q -pi, JPEG: %9.0f files/s  (%d batches ok)\n", exiv2_rate, n);
    std::printf("readers / exiv2:    %9.2f\n", jpeg_rate / exiv2_rate);
    const double exiv2_xmp_rate =
        FilesPerSecond(xmp_jpegs, [](const std::vector<std::string>& f) { return Exiv2(f, "-px"); },
                       &n, 1);
    std::printf("exiv2 -q -px, JPEG+XMP: %5.0f files/s  (%d batches ok)\n", exiv2_xmp_rate, n);
    std::printf("extended / exiv2 -px: %7.2f\n", xmp_rate / exiv2_xmp_rate);
  } else {
    std::printf("exiv2 not installed: no comparison\n");
  }
  std::filesystem::remove_all(dir);
  return 0;
}
