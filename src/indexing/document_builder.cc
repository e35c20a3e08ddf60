// BuildImageDocument: the per-file step of scans and change passes.
//
// The browse lists tell the life of a file: a change first removes its
// TIMELIST and CHARLIST entries (a new time stamp then gives new entries), a
// file enters TIMELIST and CHARLIST before its contents are read, and enters
// the indexed list once its document went to the engine. A file that
// disappeared keeps only its indexed-list entry, which maintenance later
// turns into a removal from the engine. A file that cannot be read gets no
// entries at all until it can.
//
// While the index reads XMP, an XMP sidecar ("<name>.xmp") gets no document
// and no list entries; a change of it (made, written or removed) composes
// its pictures again (see metadata/xmp_sources.h for the names).

#include "indexing/document_builder.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "core/list_lock_table.h"
#include "core/log_files.h"
#include "core/text_table.h"
#include "indexing/folder_keys.h"
#include "metadata/xmp_sources.h"
#include "platform/code_page.h"
#include "platform/file_streams.h"
#include "platform/file_time.h"
#include "platform/paths.h"
#include "scan/folder_scanner.h"
#include "scan/skip_log.h"

namespace vantrel {
namespace {

// A notice of a contents problem closes by itself after this long.
inline constexpr int kProblemNoticeMs = 10000;

// The lists of one index, each operation under the index's list lock.
class IndexLists {
 public:
  IndexLists(TaskContext& task, int index)
      : table_(task.list_locks() != nullptr ? task.list_locks() : &ListLocks()),
        index_(index),
        runtime_(task.indexes[index]) {}

  LockedBrowseList timelist() { return Locked(&runtime_.timelist); }
  LockedBrowseList charlist() { return Locked(&runtime_.charlist); }
  LockedBrowseList dirlist() { return Locked(&runtime_.dirlist); }
  LockedBrowseList indexed() { return Locked(&runtime_.indexed); }

 private:
  LockedBrowseList Locked(BrowseList* list) { return LockedBrowseList(table_, index_, list); }
  ListLockTable* table_;
  int index_;
  IndexRuntime& runtime_;
};

// Adds an entry; a list that thereby receives its first entry is set to
// `order`. A refused entry (list full, name too long) is left out: the
// document is still built.
void AddEntry(LockedBrowseList list, std::string_view key, uint32_t time, uint32_t value,
              int order) {
  if (!list.Add(key, time, value, kNoExtra).ok()) return;
  if (list.Count() == 1) (void)list.SetOrder(order);
}

uint32_t StampOf(const StatusOr<FileInfo>& info) {
  return info.ok() ? FileTimeStampFromWinFileTime(info->modified) : 0;
}

void ReportTextProblem(TaskContext& task, const std::string& path) {
  const std::string message = TextProblemMessage(path);
  if (task.notices() != nullptr) {
    task.notices()->ShowNotice(Text(TextId::IDS_ERROR), message, kProblemNoticeMs);
  }
  task.LogFromTask(message);
}

// Steps 1 to 5 of a change: returns false when the file needs no document
// (a folder, a hidden file, a file that is gone, or a current one).
bool ApplyChange(TaskContext& task, IndexLists& lists, FileSystem& fs, const BuildRequest& request,
                 uint32_t time) {
  const StatusOr<FileInfo> info = fs.Stat(request.native_path);
  if (info.ok() && info->is_folder) return false;
  const std::string_view name = LastComponent(request.native_path, kNativeSeparator);
  const bool hidden = !name.empty() && name[0] == '.';
  if (time != 0 && info.ok() && hidden) return false;

  if (std::optional<uint32_t> removed = lists.charlist().Remove(request.file_key, 0)) {
    lists.timelist().Remove(request.file_key, *removed);
  }
  if (time == 0 || !info.ok()) {
    task.PostStatus(StatusMessage::Text(kStatusFileIndexed, request.native_path));
    return false;
  }

  const std::string folder_key(FolderKeyOf(request.file_key));
  const uint32_t folder_time =
      StampOf(fs.Stat(std::string(FolderPart(request.native_path, kNativeSeparator))));
  LockedBrowseList dirlist = lists.dirlist();
  dirlist.Remove(folder_key, 0);
  (void)dirlist.Add(folder_key, folder_time, 0, kNoExtra);
  (void)dirlist.SetOrder(kOrderName);

  return !lists.timelist().Lookup(request.file_key, time).has_value();
}

// A file that could not be opened stays out of TIMELIST and CHARLIST (the
// entries this pass made are taken back), so a later pass tries it again;
// one that still exists is logged (once until it is read).
void LeaveUnreadFile(IndexLists& lists, FileSystem& fs, const SkipReporter& skips,
                     const BuildRequest& request, uint32_t time, bool listed_now) {
  if (listed_now) {
    lists.timelist().Remove(request.file_key, time);
    lists.charlist().Remove(request.file_key, time);
  }
  if (fs.Exists(request.native_path)) {
    skips.Skipped(request.native_path, "Cannot read file, not indexed");
  }
}

void Build(TaskContext& task, const DocumentServices& services, const DocumentOptions& base,
           const BuildRequest& request);

// The document read ahead when it was composed for this very file, time
// stamp and type code; else the file composed now.
ComposedDocument ComposeOrTakeAhead(const DocumentFile& file, const DocumentOptions& options,
                                    uint32_t type_code, const ComposedAhead* ahead) {
  if (ahead != nullptr && ahead->type_code == type_code && ahead->file.time == file.time &&
      ahead->file.native_path == file.native_path && ahead->file.file_key == file.file_key) {
    return ahead->doc;
  }
  return ComposeImageDocumentWithType(file, options, type_code);
}

// The pictures beside sidecar `request` whose sidecar it is, as requests to
// compose them again.
std::vector<BuildRequest> SidecarPictures(FileSystem& fs, const BuildRequest& request) {
  std::vector<BuildRequest> pictures;
  const std::string folder(FolderPart(request.native_path, kNativeSeparator));
  const std::string_view key_folder = FolderPart(request.file_key, kKeySeparator);
  StatusOr<std::vector<FolderEntry>> entries = fs.ListFolder(folder);
  if (!entries.ok()) return pictures;
  const std::shared_ptr<const ListedFileNames> files = ListedFileNamesOf(*entries);
  for (const FolderEntry& entry : *entries) {
    if (entry.is_folder || IsXmpSidecarName(entry.name)) continue;
    const std::string path = folder + kNativeSeparator + entry.name;
    const std::vector<std::string> sidecars = XmpSidecarPaths(path);
    if (std::find(sidecars.begin(), sidecars.end(), request.native_path) == sidecars.end()) continue;
    BuildRequest picture = request;
    picture.native_path = path;
    picture.file_key = (key_folder.empty() ? request.file_key.substr(0, 2)
                                           : std::string(key_folder) + kKeySeparator) +
                       CodePage::Default().FromUtf8(entry.name);
    picture.time = 0;
    picture.change = false;
    picture.ahead = nullptr;
    picture.folder_files = files;
    pictures.push_back(std::move(picture));
  }
  return pictures;
}

// True when `request` names a sidecar (and the index reads XMP): the
// sidecar gets no document; when it changed, its pictures are composed again
// (their indexed-list entries are dropped first, so the unchanged picture
// is not passed over as current).
bool TakeSidecar(TaskContext& task, const DocumentServices& services,
                 const DocumentOptions& options, const BuildRequest& request) {
  if (!options.switches.xmp || !IsXmpSidecarName(request.native_path)) return false;
  if (!request.change) return true;
  FileSystem& fs = options.fs != nullptr ? *options.fs : *DefaultFileSystem();
  for (const BuildRequest& picture : SidecarPictures(fs, request)) {
    const uint32_t time = StampOf(fs.Stat(picture.native_path));
    IndexLists(task, picture.index).indexed().Remove(picture.file_key, time);
    Build(task, services, options, picture);
  }
  return true;
}

void Build(TaskContext& task, const DocumentServices& services, const DocumentOptions& base,
           const BuildRequest& request) {
  const DocumentOptions options = IndexDocumentOptions(task, request.index, base);
  if (TakeSidecar(task, services, options, request)) return;
  FileSystem& fs = options.fs != nullptr ? *options.fs : *DefaultFileSystem();
  FileStreams& streams = options.streams != nullptr ? *options.streams : *DefaultFileStreams();
  IndexLists lists(task, request.index);

  uint32_t time = request.time;
  if (time == 0) {
    const StatusOr<FileInfo> info = fs.Stat(request.native_path);
    if (info.ok() && !info->is_folder) time = StampOf(info);
  }
  if (request.change) {
    if (!ApplyChange(task, lists, fs, request, time)) return;
  } else if (fs.IsFolder(request.native_path)) {
    return;
  }

  const uint32_t type_code = DocumentTypeCode(request.native_path, streams, options.switches);
  const bool listed_now = !lists.timelist().Lookup(request.file_key, time);
  if (listed_now) {
    AddEntry(lists.timelist(), request.file_key, time, type_code, kOrderTime);
    AddEntry(lists.charlist(), request.file_key, time, type_code, kOrderName);
  }
  if (lists.indexed().Lookup(request.file_key, time)) return;

  DocumentFile file;
  file.native_path = request.native_path;
  file.file_key = request.file_key;
  file.time = time;
  file.folder_files = request.folder_files;
  ComposedDocument doc = ComposeOrTakeAhead(file, options, type_code, request.ahead);
  const SkipReporter skips{services.skip_log,
                           [&task](const std::string& line) { task.LogFromTask(line); }};
  if (!doc.opened) {
    LeaveUnreadFile(lists, fs, skips, request, time, listed_now);
    return;
  }
  skips.Taken(request.native_path);
  if (doc.is_pdf && services.queue_thumbnail) {
    services.queue_thumbnail(request.index, request.native_path, request.file_key,
                             request.native_root, time, doc.type_code);
  }
  if (doc.text_problem) ReportTextProblem(task, request.native_path);

  task.PostStatus(StatusMessage::Number(kStatusOperation, 2));
  if (services.add_document) {
    services.add_document(request.index, doc.text, request.file_key, time);
  }
  task.PostStatus(StatusMessage::Text(kStatusFileIndexed, request.native_path));
  AddEntry(lists.indexed(), request.file_key, time, 0, kOrderTime);
  // The PDF's text follows its document (read apart from the indexing).
  if (doc.is_pdf && !options.pdf_text && services.queue_pdf_text) {
    services.queue_pdf_text(request.index, request.native_path, request.file_key, time);
  }

  if (services.post_statistics) services.post_statistics(request.index);
  task.PostStatus(StatusMessage::Empty(kStatusStepDone));
  if (request.change) {
    task.LogFromTask(Text(TextId::IDS_LINELABEL13) + " " + request.native_path,
                     kEventLogFilesAdded);
  }
}

}  // namespace

std::string TextProblemMessage(std::string_view path) {
  std::string message = Text(TextId::IDS_TEXTPROBLEM);
  message += " : ";
  message += path;
  return message;
}

DocumentOptions IndexDocumentOptions(const TaskContext& task, int index,
                                     const DocumentOptions& base) {
  DocumentOptions options = base;
  if (index >= 0 && static_cast<size_t>(index) < task.config.indexes.size()) {
    const IndexDefinition& def = task.config.indexes[static_cast<size_t>(index)];
    options.read_document_info = def.doc_info != 0;
    options.convert_mac_text = def.mac_text != 0;
    options.empty_fields = static_cast<EmptyFieldMode>(def.empty_fields);
    options.switches = MetadataSwitches::FromStoredBits(def.metadata_switches);
  }
  return options;
}

std::optional<ComposedAhead> ComposeAhead(const DocumentFile& file,
                                          const DocumentOptions& options) {
  if (options.switches.xmp && IsXmpSidecarName(file.native_path)) return std::nullopt;
  FileStreams& streams = options.streams != nullptr ? *options.streams : *DefaultFileStreams();
  ComposedAhead ahead;
  ahead.file = file;
  ahead.type_code = DocumentTypeCode(file.native_path, streams, options.switches);
  ahead.doc = ComposeImageDocumentWithType(file, options, ahead.type_code);
  return ahead;
}

void BuildImageDocument(TaskContext& task, const DocumentServices& services,
                        const DocumentOptions& options, const BuildRequest& request) {
  if (request.index < 0 || request.index >= kMaxIndexes) return;
  try {
    Build(task, services, options, request);
  } catch (const std::exception&) {
    // Nothing may escape to the indexing thread; the file is tried again by
    // the next scan, as it did not reach the indexed list.
    try {
      ReportTextProblem(task, request.native_path);
    } catch (const std::exception&) {
    }
  }
}

}  // namespace vantrel
