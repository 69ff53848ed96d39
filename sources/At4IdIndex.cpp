// Numbers for record ids; see At4IdIndex.h.
#include "sources/At4IdIndex.h"

#include <cstring>

namespace {
std::uint64_t Load8(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
std::uint64_t Load4(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
std::uint64_t Byte(const char* p) { return static_cast<unsigned char>(*p); }
}  // namespace

// The bytes are read in fixed-size loads that stay inside the id (some bytes twice): with the length
// in the key, the key still stands for exactly one id, and no copy of a variable length is made.
TAt4IdIndex::Key TAt4IdIndex::Pack(std::string_view id) {
  const char* p = id.data();
  const std::size_t n = id.size();
  Key k;
  if (n >= 8) {
    // lo: bytes 0-7; hi: bytes n-7 to n-1 (those from 8 on, with some of lo's again).
    k.lo = Load8(p);
    k.hi = Load8(p + n - 8) >> 8;
  } else if (n >= 4) {
    k.lo = Load4(p) | Load4(p + n - 4) << 32;  // bytes 0-3 and n-4 to n-1
  } else if (n > 0) {
    k.lo = Byte(p) | Byte(p + n / 2) << 8 | Byte(p + n - 1) << 16;
  }
  k.hi |= std::uint64_t(n + 1) << 56;
  return k;
}

std::string TAt4IdIndex::Unpack(const Key& k) {
  const std::size_t n = std::size_t(k.hi >> 56) - 1;
  std::string id(n, '\0');
  const auto byte = [](std::uint64_t w, std::size_t i) { return char((w >> (8 * i)) & 0xFF); };
  if (n >= 8) {
    for (std::size_t i = 0; i < 8; ++i) id[i] = byte(k.lo, i);
    for (std::size_t i = 0; i < 7; ++i) id[n - 7 + i] = byte(k.hi, i);
  } else if (n >= 4) {
    for (std::size_t i = 0; i < 4; ++i) id[i] = byte(k.lo, i), id[n - 4 + i] = byte(k.lo, 4 + i);
  } else if (n > 0) {
    id[0] = byte(k.lo, 0), id[n / 2] = byte(k.lo, 1), id[n - 1] = byte(k.lo, 2);
  }
  return id;
}

namespace {
// A 64-bit finaliser: every input bit reaches every output bit.
std::uint64_t Mix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}
}  // namespace

std::size_t TAt4IdIndex::Hash(const Key& k) {
  // Ids of one file differ in a few bytes anywhere in either word: both words are mixed in full.
  return static_cast<std::size_t>(Mix(k.lo ^ Mix(k.hi)));
}

std::size_t TAt4IdIndex::Probe(const Key& k) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = Hash(k) & mask;; i = (i + 1) & mask) {
    const std::uint32_t n = slots_[i];
    if (n == kNone || keys_[n] == k) return i;
  }
}

void TAt4IdIndex::Grow(std::size_t slots) {
  slots_.assign(slots, kNone);
  for (std::uint32_t n = 0; n < keys_.size(); ++n)
    if (keys_[n].hi != 0) slots_[Probe(keys_[n])] = n;
}

void TAt4IdIndex::Reserve(std::size_t n) {
  std::size_t want = 16;
  while (want < 2 * n) want *= 2;
  if (want > slots_.size()) Grow(want);
  keys_.reserve(n);
}

std::pair<std::uint32_t, bool> TAt4IdIndex::Add(std::string_view id) {
  if (id.size() > kPacked) {
    const auto [it, added] = long_.try_emplace(std::string(id), count_);
    if (added) {
      keys_.push_back(Key{});
      ++count_;
    }
    return {it->second, added};
  }
  if (2 * (packed_ + 1) > slots_.size()) Grow(slots_.empty() ? 16 : 2 * slots_.size());
  const Key k = Pack(id);
  std::uint32_t& slot = slots_[Probe(k)];
  if (slot != kNone) return {slot, false};
  slot = count_++;
  keys_.push_back(k);
  ++packed_;
  return {slot, true};
}

std::uint32_t TAt4IdIndex::Find(std::string_view id) const {
  if (id.size() > kPacked) {
    const auto it = long_.find(std::string(id));
    return it == long_.end() ? kNone : it->second;
  }
  if (slots_.empty()) return kNone;
  return slots_[Probe(Pack(id))];
}

void TAt4IdIndex::Prefetch(std::string_view id) const {
  if (id.size() > kPacked || slots_.empty()) return;
  __builtin_prefetch(&slots_[Hash(Pack(id)) & (slots_.size() - 1)]);
}

void TAt4IdIndex::ForEach(const std::function<void(const std::string& id, std::uint32_t number)>& f) const {
  for (std::uint32_t n = 0; n < keys_.size(); ++n) {
    const Key& k = keys_[n];
    if (k.hi == 0) continue;
    f(Unpack(k), n);
  }
  for (const auto& [id, number] : long_) f(id, number);
}
