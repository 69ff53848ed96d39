// Numbers for the record ids of an ".at4" file: each distinct id (a single-byte text, compared by its
// bytes) gets the next number from 0 in the order first seen. Ids of up to 15 bytes, the usual
// 10-character ones among them, are packed into a fixed 16-byte key found through one open-addressing
// table, so a lookup hashes two words and compares two words, without a node per id; longer ids go
// to a map of texts, so any id is found.
// Not thread-safe; a lookup while another thread adds is undefined.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

class TAt4IdIndex {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  // Room for n ids without growing.
  void Reserve(std::size_t n);
  // The id's number, given the next one when the id is new; second: whether it was new.
  std::pair<std::uint32_t, bool> Add(std::string_view id);
  // The id's number, or kNone.
  std::uint32_t Find(std::string_view id) const;
  // Asks the processor to bring the id's place in the table near, for an Add or Find of it soon: a
  // loop that calls this some ids ahead waits for memory far less. Changes nothing.
  void Prefetch(std::string_view id) const;
  std::size_t Size() const { return count_; }
  // Every id with its number, in no particular order.
  void ForEach(const std::function<void(const std::string& id, std::uint32_t number)>& f) const;

 private:
  struct Key {
    std::uint64_t lo = 0, hi = 0;  // the bytes; the top byte of hi is the length + 1 (0: no packed id)
    bool operator==(const Key& o) const { return lo == o.lo && hi == o.hi; }
  };
  static constexpr std::size_t kPacked = 15;
  static Key Pack(std::string_view id);
  static std::string Unpack(const Key& k);
  static std::size_t Hash(const Key& k);
  void Grow(std::size_t slots);
  // The slot holding key's number, or the free slot where it would go.
  std::size_t Probe(const Key& k) const;

  // The table holds numbers only (4 bytes a slot), the keys lie by number: a table for hundreds of
  // thousands of ids stays small enough for the processor's cache.
  std::vector<std::uint32_t> slots_;  // a power of two in size, at most half full; kNone: free
  std::vector<Key> keys_;             // by number; a zero key for a long id
  std::size_t packed_ = 0;
  std::unordered_map<std::string, std::uint32_t> long_;
  std::uint32_t count_ = 0;
};
