#include "server/request_intake.h"

#include "search/request_file.h"
#include "search/request_names.h"

namespace vantrel {

RequestIntake::RequestIntake(RequestIntakeOptions options) : options_(std::move(options)) {}

uint64_t RequestIntake::WholeRecordSize(const std::string& name) {
  return KindOfRequest(name) == RequestKind::kQuery ? kQueryRequestSize : kShortRequestSize;
}

std::chrono::steady_clock::time_point RequestIntake::Now() const {
  return options_.now ? options_.now() : std::chrono::steady_clock::now();
}

bool RequestIntake::Refresh(Seen* seen, std::chrono::steady_clock::time_point now) {
  StatusOr<FileInfo> info = options_.fs->Stat(seen->path);
  const bool present = info.ok() && !info->is_folder;
  const uint64_t size = present ? info->size : 0;
  const WinFileTime modified = present ? info->modified : 0;
  if (present != seen->present || size != seen->size || modified != seen->modified) {
    seen->present = present;
    seen->size = size;
    seen->modified = modified;
    seen->since = now;
    seen->taken = false;  // a new content, or a new file under the same name
  }
  return present;
}

bool RequestIntake::NoteComplete(int index, const std::string& name, const std::string& path) {
  MutexLock lock(&mu_);
  auto [it, added] = seen_.try_emplace(Key{index, name});
  Seen& seen = it->second;
  seen.path = path;
  const bool was_taken = !added && seen.taken;
  if (!Refresh(&seen, Now())) {
    // Gone already: the worker says what it finds (and nothing is kept).
    seen_.erase(it);
    return true;
  }
  // A close that comes after the file was taken as quiet, with nothing
  // written since, is the same request.
  if (was_taken && seen.taken) return false;
  seen.taken = true;
  return true;
}

void RequestIntake::NoteChanging(int index, const std::string& name, const std::string& path) {
  MutexLock lock(&mu_);
  Seen& seen = seen_[Key{index, name}];
  seen.path = path;
  const auto now = Now();
  Refresh(&seen, now);
  // A write that left size and time as they were (same size, a coarse
  // clock) still restarts the quiet period, unless the file was taken and
  // is unchanged (the notice of a write the intake has seen the end of).
  if (!seen.taken) seen.since = now;
}

void RequestIntake::NoteListed(int index, const std::string& name, const std::string& path) {
  MutexLock lock(&mu_);
  auto [it, added] = seen_.try_emplace(Key{index, name});
  it->second.path = path;
  Refresh(&it->second, Now());
}

std::vector<TakenRequest> RequestIntake::TakeQuietFiles() {
  std::vector<TakenRequest> taken;
  MutexLock lock(&mu_);
  const auto now = Now();
  // Files already taken are looked at only now and then, to forget those
  // that are gone; the others on every call.
  const bool sweep = now - last_sweep_ >= options_.sweep_period;
  if (sweep) last_sweep_ = now;
  for (auto it = seen_.begin(); it != seen_.end();) {
    Seen& seen = it->second;
    if (seen.taken && !sweep) {
      ++it;
      continue;
    }
    if (!Refresh(&seen, now)) {
      it = seen_.erase(it);
      continue;
    }
    if (!seen.taken && now - seen.since >= options_.quiet &&
        seen.size >= WholeRecordSize(it->first.second)) {
      seen.taken = true;
      taken.push_back({it->first.first, it->first.second});
    }
    ++it;
  }
  return taken;
}

void RequestIntake::Clear() {
  MutexLock lock(&mu_);
  seen_.clear();
}

}  // namespace vantrel
