#include "core/name_presence.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <string>

namespace vantrel {
namespace {

constexpr size_t kFirstCapacity = 1024;
// Probes started ahead of the one being answered in ContainsMany.
constexpr size_t kProbesAhead = 16;

// A final mix (the one of SplitMix64): every input bit moves every output bit.
uint64_t Mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  return x;
}

// The high and low halves of the full product, folded.
uint64_t MultiplyFold(uint64_t a, uint64_t b) {
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

uint64_t Word(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// Differ from one process to the next, so that names cannot be made to
// share a fingerprint on purpose.
struct Secrets {
  uint64_t seed;
  uint64_t word;  // taken into the first word of each 16 bytes
};

const Secrets& ProcessSecrets() {
  static const Secrets secrets = [] {
    const uint64_t clock =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const uint64_t seed = Mix(clock ^ reinterpret_cast<uintptr_t>(&secrets));
    // Odd and never 0, whatever the seed.
    return Secrets{seed, Mix(seed + 0x9E3779B97F4A7C15ull) | 1};
  }();
  return secrets;
}

uint64_t Word32(const char* p) {
  uint32_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

// Sixteen bytes per multiplication: the first word with the secret, the
// second with the state, so that the state chain takes half the steps of
// one word at a time. A name cannot zero a factor on purpose without knowing
// the secret or the state. The last sixteen bytes are read whole, over the
// block before them, and shorter names in two overlapping words (or three
// bytes): never a partial copy, whose read would wait for its writes. The
// caller mixes in the length, which tells apart the names these readings
// could confuse.
uint64_t HashBytes(std::string_view bytes, uint64_t h, uint64_t secret) {
  const char* p = bytes.data();
  const size_t n = bytes.size();
  if (n > 16) {
    const char* last = p + n - 16;
    for (; p < last; p += 16) h = MultiplyFold(Word(p) ^ secret, Word(p + 8) ^ h);
    return MultiplyFold(Word(last) ^ secret, Word(last + 8) ^ h);
  }
  uint64_t a = 0, b = 0;
  if (n >= 8) {
    a = Word(p);
    b = Word(p + n - 8);
  } else if (n >= 4) {
    a = Word32(p);
    b = Word32(p + n - 4);
  } else if (n > 0) {
    a = uint64_t{static_cast<unsigned char>(p[0])} << 16 |
        uint64_t{static_cast<unsigned char>(p[n / 2])} << 8 | static_cast<unsigned char>(p[n - 1]);
  }
  return MultiplyFold(a ^ secret, b ^ h);
}

}  // namespace

uint64_t ExpandedNameFingerprint(std::string_view name, uint32_t time) {
  constexpr uint64_t kOther = 0xE7037ED1A0B428DBull;
  const Secrets& secrets = ProcessSecrets();
  uint64_t h = secrets.seed ^ (uint64_t{name.size()} * kOther);
  h = HashBytes(name, h, secrets.word);
  const uint64_t fingerprint = Mix(MultiplyFold(h ^ time, kOther));
  return fingerprint == 0 ? 1 : fingerprint;
}

uint64_t NameFingerprint(std::string_view last, std::string_view folder, uint32_t time) {
  char expanded[512];
  if (folder.size() + last.size() > sizeof expanded) {
    std::string joined(folder);
    joined.append(last);
    return ExpandedNameFingerprint(joined, time);
  }
  std::memcpy(expanded, folder.data(), folder.size());
  std::memcpy(expanded + folder.size(), last.data(), last.size());
  return ExpandedNameFingerprint(std::string_view(expanded, folder.size() + last.size()), time);
}

void NamePresence::Insert(uint64_t fingerprint) {
  if (Place(fingerprint)) ++repeats_;
}

bool NamePresence::Place(uint64_t fingerprint) {
  if ((size_ + 1) * 4 > capacity_ * 3) Grow();
  const size_t mask = capacity_ - 1;
  size_t s = SlotOf(fingerprint);
  bool met = false;
  for (; slots_[s] != 0; s = (s + 1) & mask) met = met || slots_[s] == fingerprint;
  slots_[s] = fingerprint;
  ++size_;
  return met;
}

bool NamePresence::Erase(uint64_t fingerprint) {
  if (size_ == 0) return false;
  const size_t mask = capacity_ - 1;
  size_t s = SlotOf(fingerprint);
  while (slots_[s] != fingerprint) {
    if (slots_[s] == 0) return false;
    s = (s + 1) & mask;
  }
  // Shift back every later slot of the run that may sit at or before the
  // freed one, so that no probe meets a hole before its fingerprint.
  size_t hole = s;
  for (size_t next = (hole + 1) & mask; slots_[next] != 0; next = (next + 1) & mask) {
    const size_t home = SlotOf(slots_[next]);
    // `next` may move to `hole` when its home does not lie in (hole, next].
    const bool home_between =
        hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
    if (home_between) continue;
    slots_[hole] = slots_[next];
    hole = next;
  }
  slots_[hole] = 0;
  --size_;
  if (Contains(fingerprint)) --repeats_;
  return true;
}

bool NamePresence::Contains(uint64_t fingerprint) const {
  if (size_ == 0) return false;
  const size_t mask = capacity_ - 1;
  for (size_t s = SlotOf(fingerprint);; s = (s + 1) & mask) {
    if (slots_[s] == fingerprint) return true;
    if (slots_[s] == 0) return false;
  }
}

void NamePresence::ContainsMany(std::span<const uint64_t> fingerprints,
                                std::span<bool> present) const {
  if (size_ == 0) {
    std::fill(present.begin(), present.end(), false);
    return;
  }
  for (size_t i = 0; i < fingerprints.size(); ++i) {
    if (i + kProbesAhead < fingerprints.size()) {
      __builtin_prefetch(&slots_[SlotOf(fingerprints[i + kProbesAhead])]);
    }
    present[i] = Contains(fingerprints[i]);
  }
}

void NamePresence::Clear() {
  slots_.reset();
  capacity_ = 0;
  size_ = 0;
  repeats_ = 0;
  shift_ = 64;
}

void NamePresence::Grow() {
  const size_t old_capacity = capacity_;
  std::unique_ptr<uint64_t[]> old = std::move(slots_);
  capacity_ = old_capacity == 0 ? kFirstCapacity : old_capacity * 2;
  shift_ = 64 - std::countr_zero(capacity_);
  slots_ = std::make_unique<uint64_t[]>(capacity_);  // zeroed: all empty
  size_ = 0;
  for (size_t s = 0; s < old_capacity; ++s) {
    if (old[s] != 0) Place(old[s]);
  }
}

}  // namespace vantrel
