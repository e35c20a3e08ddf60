#include "engine/document_scores.h"

#include <algorithm>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>

namespace vantrel {
namespace {

// Delivers the chosen documents of one shard (found by its UUID in init):
// its listed ids, or every id up to its last for a whole shard (ids of
// deleted documents too: the query they filter matches none of those).
class ShardDocumentsSource : public Xapian::PostingSource {
 public:
  explicit ShardDocumentsSource(std::shared_ptr<const ShardDocuments> docs)
      : docs_(std::move(docs)) {}

  Xapian::PostingSource* clone() const override { return new ShardDocumentsSource(docs_); }

  void init(const Xapian::Database& db) override {
    list_ = &empty_;
    whole_ = false;
    last_ = 0;
    count_ = 0;
    const std::string uuid = db.get_uuid();
    for (size_t i = 0; i < docs_->uuids.size(); ++i) {
      if (docs_->uuids[i] != uuid) continue;
      if (docs_->whole[i]) {
        whole_ = true;
        last_ = db.get_lastdocid();
        count_ = db.get_doccount();
      } else {
        list_ = &docs_->ids[i];
        count_ = static_cast<Xapian::doccount>(list_->size());
      }
    }
    pos_ = 0;
    started_ = false;
    set_maxweight(0);
  }

  Xapian::doccount get_termfreq_min() const override { return count_; }
  Xapian::doccount get_termfreq_est() const override { return count_; }
  Xapian::doccount get_termfreq_max() const override { return whole_ ? last_ : count_; }

  void next(double) override {
    if (started_) ++pos_;
    started_ = true;
  }
  void skip_to(Xapian::docid did, double) override {
    if (!started_) pos_ = 0;
    started_ = true;
    if (whole_) {
      pos_ = std::max<size_t>(pos_, did == 0 ? 0 : did - 1);
      return;
    }
    if (pos_ < list_->size() && (*list_)[pos_] >= did) return;
    pos_ = static_cast<size_t>(std::lower_bound(list_->begin() + static_cast<std::ptrdiff_t>(pos_),
                                                list_->end(), did) -
                               list_->begin());
  }
  bool at_end() const override { return started_ && pos_ >= (whole_ ? last_ : list_->size()); }
  Xapian::docid get_docid() const override {
    return whole_ ? static_cast<Xapian::docid>(pos_ + 1) : (*list_)[pos_];
  }

 private:
  std::shared_ptr<const ShardDocuments> docs_;
  const std::vector<Xapian::docid>* list_ = &empty_;
  std::vector<Xapian::docid> empty_;
  bool whole_ = false;
  Xapian::docid last_ = 0;  // a whole shard's last document id
  Xapian::doccount count_ = 0;
  size_t pos_ = 0;  // in the list, or a whole shard's document id - 1
  bool started_ = false;
};

}  // namespace

Xapian::Query RestrictedQuery(const Xapian::Query& query,
                              std::shared_ptr<const ShardDocuments> docs) {
  Xapian::PostingSource* source = (new ShardDocumentsSource(std::move(docs)))->release();
  const Xapian::Query whole(Xapian::Query::OP_SCALE_WEIGHT, query, 1.0);
  return Xapian::Query(Xapian::Query::OP_FILTER, whole, Xapian::Query(source));
}

std::optional<std::vector<std::string>> ShardUuids(const Xapian::Database& db) {
  const std::string all = db.get_uuid();
  if (all.empty()) return std::nullopt;
  std::vector<std::string> uuids;
  size_t start = 0;
  while (true) {
    const size_t colon = all.find(':', start);
    uuids.push_back(all.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  std::set<std::string> distinct;
  for (const std::string& u : uuids) {
    if (u.empty() || !distinct.insert(u).second) return std::nullopt;
  }
  return uuids;
}

std::vector<double> ScoreDocuments(const Xapian::Database& db, const std::vector<std::string>& uuids,
                                   const Xapian::Query& query,
                                   const std::vector<Xapian::docid>& ids) {
  std::vector<double> weights(ids.size(), 0.0);
  if (ids.empty() || uuids.empty()) return weights;
  // A combined database numbers the documents of its n shards in turn:
  // document d of shard s is (d - 1) * n + s + 1.
  const Xapian::docid n = static_cast<Xapian::docid>(uuids.size());
  auto shards = std::make_shared<ShardDocuments>();
  shards->uuids = uuids;
  shards->ids.resize(uuids.size());
  shards->whole.assign(uuids.size(), false);
  for (Xapian::docid id : ids) {
    if (id == 0) continue;
    shards->ids[(id - 1) % n].push_back((id - 1) / n + 1);
  }
  for (std::vector<Xapian::docid>& list : shards->ids) {
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
  }
  Xapian::Enquire enquire(db);
  enquire.set_query(RestrictedQuery(query, std::move(shards)));
  const Xapian::MSet mset = enquire.get_mset(0, static_cast<Xapian::doccount>(ids.size()));
  std::unordered_map<Xapian::docid, double> found;
  found.reserve(mset.size());
  for (Xapian::MSetIterator it = mset.begin(); it != mset.end(); ++it) found[*it] = it.get_weight();
  for (size_t i = 0; i < ids.size(); ++i) {
    auto f = found.find(ids[i]);
    if (f != found.end()) weights[i] = f->second;
  }
  return weights;
}

}  // namespace vantrel
