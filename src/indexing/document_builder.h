// The image document builder: one plain-text document per image file.
//
// For every file of an image folder the builder writes an image document
// (attribute groups " QxQ... value ZqZ ", caption groups, the caption markers,
// the date groups and the name and folder groups), keeps the file's entries
// in TIMELIST, CHARLIST, DIRLIST and the indexed list in step, and hands the
// document to the pending-document table through `DocumentServices`.
//
// Two levels:
//   ComposeImageDocument  the document text of one file, nothing else (used
//                         by the builder and by `vantrelctl inspect`);
//   BuildImageDocument    the whole per-file step: list checks, composing,
//                         status messages, the hand-over, the indexed list,
//                         statistics and the "Indexing File" log line.
//
// Documents are code-page text. Full paths in the document (file name,
// folder path and folder name groups) are the native paths, converted to
// the code page.
//
// Thread safety: BuildImageDocument runs on the thread that indexes the
// index; every list operation takes the index's list lock for that one
// operation. ComposeImageDocument is reentrant.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/task_context.h"
#include "metadata/caption_text.h"
#include "metadata/metadata_switches.h"
#include "platform/file_system.h"
#include "scan/skip_log.h"

namespace vantrel {

class FileStreams;

// The size of the document buffer; PDF text is cut to kMaxPdfTextBytes so the
// groups after it fit.
inline constexpr size_t kDocumentCapacity = 262144;
inline constexpr size_t kMaxPdfTextBytes = 261144;

// What a document is composed with.
struct DocumentOptions {
  FileSystem* fs = nullptr;        // DefaultFileSystem() when null
  FileStreams* streams = nullptr;  // DefaultFileStreams() when null (Finder type, Mac streams)
  bool read_document_info = true;  // the index's document-info option
  bool convert_mac_text = false;   // the index's Macintosh text conversion option
  EmptyFieldMode empty_fields = EmptyFieldMode::kCommon;
  // The index's metadata switches (what is read beyond IIM and trailers).
  MetadataSwitches switches;
  // The text of a PDF file (its information entries and page words), or ""
  // when it has none or cannot be read. Not asked when empty.
  std::function<std::string(const std::string& native_path)> pdf_text;
  // Opening the file: attempts in all, and the pause between two.
  int open_attempts = 20;
  std::chrono::milliseconds open_pause{20};
};

// One file to compose.
struct DocumentFile {
  std::string native_path;  // the file
  std::string file_key;     // "03Sport\img.jpg" (code page, '\')
  uint32_t time = 0;        // file time stamp; 0: read from the file
  // The sorted file names of the file's folder from the listing that found
  // it: sidecar names not among them are not looked for on disk. Null: they
  // are.
  std::shared_ptr<const std::vector<std::string>> folder_files = nullptr;
};

struct ComposedDocument {
  bool opened = false;     // false: the file could not be opened (no document)
  std::string text;        // the document, zero bytes replaced by blanks
  uint32_t type_code = 0;  // four characters, first in the highest byte; 0 unknown
  bool is_pdf = false;
  // A fault while reading the contents was caught: the first byte became a
  // blank and the document holds the groups written before it plus the tail.
  bool text_problem = false;
  uint32_t time = 0;  // the time stamp the dates were formed from
};

// Composes the document of one file (steps from the type code to the tail
// groups). Tries to open the file up to 20 times, 20 ms apart.
ComposedDocument ComposeImageDocument(const DocumentFile& file, const DocumentOptions& options);

// The same with the type code already decided (DocumentTypeCode); the first
// bytes of the file may still make it EPSF or "PDF ".
ComposedDocument ComposeImageDocumentWithType(const DocumentFile& file,
                                              const DocumentOptions& options, uint32_t type_code);

// The type code of a file before its contents are read: from the extension of
// `native_path` (PNG and WebP too when the index reads image headers), else
// the Finder type of its Macintosh streams (0 when none).
uint32_t DocumentTypeCode(const std::string& native_path, FileStreams& streams,
                          const MetadataSwitches& switches);

// The warning logged (and shown) when a file's contents could not be turned
// into groups: "Problem with the text in file : <path>".
std::string TextProblemMessage(std::string_view path);

// What the builder hands on.
struct DocumentServices {
  // Adds a finished document to the pending-document table of index `index`.
  std::function<void(int index, std::string_view text, std::string_view file_key,
                     uint32_t time)>
      add_document;
  // Queues the thumbnail job of a PDF file. May be empty.
  std::function<void(int index, const std::string& native_path, std::string_view file_key,
                     const std::string& native_root, uint32_t time, uint32_t type_code)>
      queue_thumbnail;
  // Posts the index statistics record (status message 23) of index `index`.
  std::function<void(int index)> post_statistics;
  // Asks for the text of a PDF file whose document was handed on without it
  // (DocumentOptions::pdf_text empty); the text follows as a second document
  // of the same name (see indexing/pdf_text_queue.h). May be empty.
  std::function<void(int index, const std::string& native_path, std::string_view file_key,
                     uint32_t time)>
      queue_pdf_text;
  // Remembers which unreadable files were logged, so each is logged once
  // until it is read. Null: every failed read is logged. Not owned.
  SkipLog* skip_log = nullptr;
};

// A file's document composed ahead of its build, on a reader thread (see
// indexing/document_readers.h): what was composed, for which file, time stamp
// and type code. The build uses it only when all three are the ones it
// decided itself, and composes the file again otherwise, so a document read
// ahead is the one an inline build would have composed.
struct ComposedAhead {
  DocumentFile file;
  uint32_t type_code = 0;
  ComposedDocument doc;
};

// One file to build.
struct BuildRequest {
  int index = 0;
  std::string native_path;
  std::string file_key;
  std::string native_root;  // the image folder's root
  uint32_t time = 0;        // 0: read from the file
  bool change = false;      // called for a reported change (not a scan)
  // The document read ahead for this file, or null. Not owned.
  const ComposedAhead* ahead = nullptr;
  // The file names of the listing that found the file (ScannedEntry); null
  // when it was not found by listing its folder.
  std::shared_ptr<const std::vector<std::string>> folder_files;
};

// `base` with the four per-index fields (document info, Mac text, empty
// fields, metadata switches) of index `index` of `task.config`.
DocumentOptions IndexDocumentOptions(const TaskContext& task, int index,
                                     const DocumentOptions& base);

// What a reader composes ahead for a scanned file: its type code and
// document, as BuildImageDocument would compose them with `options` (from
// IndexDocumentOptions). Nothing for a file that gets no document of its own
// (an XMP sidecar while the index reads XMP). Reentrant.
std::optional<ComposedAhead> ComposeAhead(const DocumentFile& file,
                                          const DocumentOptions& options);

// The per-file step of scans and change passes. Uses task.indexes[index]'s
// lists, posts status messages and the log line through `task`. The four
// per-index fields of `options` (document info, Mac text, empty fields,
// metadata switches) are taken from task.config.indexes[index]; the rest
// from `options`.
// Status messages 2, the "Indexing File" line and the contents-problem
// warning name the file by its native path. Folders are never indexed; an
// index number outside 0..31 does nothing. Never throws.
void BuildImageDocument(TaskContext& task, const DocumentServices& services,
                        const DocumentOptions& options, const BuildRequest& request);

}  // namespace vantrel
