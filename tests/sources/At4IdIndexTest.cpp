// The id numbers of the ".at4" reader against a map of texts: the same number for the same bytes,
// new numbers in the order first seen, ids of every length (empty, packed, one byte too long to pack,
// long), bytes that a packed key could confuse (NUL, a trailing blank, 0xFF), and growth far past the
// reserved room.
#include "sources/At4IdIndex.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <unordered_map>

namespace {

TEST(At4IdIndex, NumbersLikeAMapOfTextsForIdsOfEveryLength) {
  using namespace std::string_literals;
  const std::string fixed[] = {""s,        "\0"s,       "\0\0"s,          "a"s,           "a\0"s,          "a "s,
                               "A"s,       "I000000001"s, "I000000001 "s, "I00000000"s,   "\xFF"s,         "\xFF\xFF"s,
                               std::string(15, 'x'), std::string(15, '\0'), std::string(16, 'x'), std::string(16, '\0'),
                               std::string(14, 'x') + "\xFF", std::string(40, 'y')};
  TAt4IdIndex index;
  std::unordered_map<std::string, std::uint32_t> expected;
  const auto add = [&](const std::string& id) {
    const auto [number, added] = index.Add(id);
    const auto [it, isNew] = expected.try_emplace(id, std::uint32_t(expected.size()));
    ASSERT_EQ(added, isNew) << '"' << id << '"';
    ASSERT_EQ(number, it->second) << '"' << id << '"';
  };
  EXPECT_EQ(index.Find("x"), TAt4IdIndex::kNone);  // empty, never sized
  for (const std::string& id : fixed) add(id);
  for (const std::string& id : fixed) add(id);  // again: the same numbers, nothing new
  // Many ids of one shape, far past the first table: every one keeps its number through the growth.
  std::uint64_t s = 7;
  for (int i = 0; i < 20000; ++i) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    const int len = int((s >> 40) % 20);
    std::string id = "I" + std::to_string(s >> 44);
    id.resize(std::size_t(len), '0');
    add(id);
  }
  ASSERT_EQ(index.Size(), expected.size());
  for (const auto& [id, number] : expected) ASSERT_EQ(index.Find(id), number) << '"' << id << '"';
  EXPECT_EQ(index.Find("not an id"), TAt4IdIndex::kNone);
  EXPECT_EQ(index.Find(std::string(15, 'z')), TAt4IdIndex::kNone);
  EXPECT_EQ(index.Find(std::string(17, 'z')), TAt4IdIndex::kNone);
  // Every id comes back with its number, once.
  std::map<std::string, std::uint32_t> seen;
  index.ForEach([&](const std::string& id, std::uint32_t number) { EXPECT_TRUE(seen.emplace(id, number).second); });
  const std::map<std::string, std::uint32_t> all(expected.begin(), expected.end());
  EXPECT_EQ(seen, all);
}

TEST(At4IdIndex, ReservedRoomHoldsTheIdsAndMoreStillFit) {
  TAt4IdIndex index;
  index.Reserve(100);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(index.Add("P" + std::to_string(i)).first, std::uint32_t(i));
  index.Reserve(10);  // never shrinks
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(index.Find("P" + std::to_string(i)), std::uint32_t(i));
}

}  // namespace
