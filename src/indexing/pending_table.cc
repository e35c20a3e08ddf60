#include "indexing/pending_table.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/document_name.h"

namespace vantrel {

void PendingTable::Reset(bool from_changes) {
  Clear();
  from_changes_ = from_changes;
}

bool PendingTable::Add(std::string_view text, std::string_view file_key, uint32_t time) {
  PendingDocument& doc = documents_.emplace_back();
  doc.text.assign(text);
  doc.file_key.assign(file_key);
  doc.time = time;
  bytes_ += text.size();
  return documents_.size() >= max_documents_ || bytes_ > max_bytes_;
}

void PendingTable::Clear() {
  documents_.clear();
  documents_.shrink_to_fit();
  bytes_ = 0;
  cursor_ = 0;
  last_percent_ = -1;
}

EngineDataSource PendingTable::DataSource(std::function<void(int percent)> on_percent) {
  EngineDataSource source;
  source.rewind = [this] {
    cursor_ = 0;
    last_percent_ = -1;
    return true;
  };
  source.next_document = [this, on_percent = std::move(on_percent)](EngineDocument* out) {
    if (cursor_ >= documents_.size()) return -1;
    const PendingDocument& doc = documents_[cursor_++];
    const int percent = static_cast<int>(cursor_ * 100 / documents_.size());
    if (percent != last_percent_) {
      last_percent_ = percent;
      if (on_percent) on_percent(percent);
    }
    out->name = FormatDocumentName(doc.time, doc.file_key);
    out->text_length = static_cast<uint32_t>(doc.text.size());
    // Each document reads from its own position.
    auto position = std::make_shared<size_t>(0);
    const std::string* text = &doc.text;
    out->seek = [position, text](uint32_t at) { *position = std::min<size_t>(at, text->size()); };
    out->read = [position, text](char* buffer, size_t size) {
      size_t n = std::min(size, text->size() - *position);
      std::memcpy(buffer, text->data() + *position, n);
      *position += n;
      return n;
    };
    return 0;
  };
  return source;
}

}  // namespace vantrel
