// The expression layer's LIKE matcher: it agrees with the engine's reference LIKE on every pattern
// of a small alphabet, and its work grows with the value, not with value times pattern.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDText.h"
#include "engine/sql/NRDExpressionLike.h"

using namespace nrd;
using nrd::sql::TLikeMatcher;

namespace {

bool Like(const std::string& value, const std::string& pattern, bool ci = false, char escape = 0) {
  TLikeMatcher<char> m(pattern, escape, escape != 0, ci);
  return m.Matches(value);
}

}  // namespace

TEST(LikeMatcher, Cases) {
  struct Case {
    const char* value;
    const char* pattern;
    char escape;
    bool ci;
    bool expect;
  } const table[] = {
      {"", "", 0, false, true},
      {"a", "", 0, false, false},
      {"", "%", 0, false, true},
      {"", "_", 0, false, false},
      {"", "%%%", 0, false, true},
      {"abc", "abc", 0, false, true},
      {"abc", "ab", 0, false, false},
      {"ab", "abc", 0, false, false},
      {"abc", "a%", 0, false, true},
      {"abc", "%c", 0, false, true},
      {"abc", "%b%", 0, false, true},
      {"abc", "a%c", 0, false, true},
      {"ac", "a%c", 0, false, true},
      {"a", "a%a", 0, false, false},  // the two ends must not share a character
      {"aa", "a%a", 0, false, true},
      {"aaab", "%aab", 0, false, true},  // a piece that overlaps itself
      {"aaab", "%aab%", 0, false, true},
      {"abab", "%ab%ab%", 0, false, true},
      {"abab", "%ab%ab%ab%", 0, false, false},
      {"abc", "a_c", 0, false, true},
      {"abc", "___", 0, false, true},
      {"abc", "____", 0, false, false},
      {"xaybzc", "%a_b_c", 0, false, true},
      {"ABC", "a%", 0, false, false},
      {"ABC", "a%", 0, true, true},
      {"a%c", "a\\%c", '\\', false, true},
      {"abc", "a\\%c", '\\', false, false},
      {"a_c", "a\\_c", '\\', false, true},
      {"abc", "a\\_c", '\\', false, false},
      {"ab\\", "ab\\", '\\', false, true},  // a trailing escape character is an ordinary one
      {"a%", "a%%", '%', false, true},      // the escape character may be "%" itself
      {"ab", "a%%", '%', false, false},
  };
  for (const Case& c : table)
    EXPECT_EQ(Like(c.value, c.pattern, c.ci, c.escape), c.expect)
        << "'" << c.value << "' LIKE '" << c.pattern << "' escape " << c.escape << " ci " << c.ci;
}

// Random patterns and values over an alphabet that makes pieces overlap, against the reference.
TEST(LikeMatcher, AgreesWithTheReferenceMatcher) {
  std::mt19937 rng(7);
  const std::string valueChars = "aabAB";
  const std::string patternChars = "aab%_A\\";
  auto draw = [&](const std::string& alphabet, std::size_t maxLength) {
    std::string s(rng() % (maxLength + 1), ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    return s;
  };
  int mismatches = 0;
  for (int i = 0; i < 20000 && mismatches < 10; ++i) {
    const std::string value = draw(valueChars, 12);
    const std::string pattern = draw(patternChars, 8);
    const bool ci = (i & 1) != 0;
    const bool useEscape = (i & 2) != 0;
    const bool expect = MatchLikeAnsi(value, pattern, useEscape, '\\', ci);
    TLikeMatcher<char> m(pattern, '\\', useEscape, ci);
    const bool got = m.Matches(value);
    TLikeMatcher<char16_t> w(AnsiToWide(pattern), u'\\', useEscape, ci);
    const bool gotWide = w.Matches(AnsiToWide(value));
    if (got != expect || gotWide != expect) ++mismatches;
    EXPECT_EQ(got, expect) << "'" << value << "' LIKE '" << pattern << "' escape " << useEscape << " ci " << ci;
    EXPECT_EQ(gotWide, expect) << "wide '" << value << "' LIKE '" << pattern << "'";
  }
}

// Pieces longer than one machine word, and a matcher reused over many values.
TEST(LikeMatcher, LongPiecesAndReuse) {
  const std::string piece = std::string(70, 'a') + "b" + std::string(60, 'a');
  TLikeMatcher<char> m("%" + piece + "%", 0, false, false);
  EXPECT_TRUE(m.Matches(std::string(200, 'a') + piece + "zz"));
  EXPECT_FALSE(m.Matches(std::string(200, 'a') + "b" + std::string(59, 'a')));
  EXPECT_TRUE(m.Matches(piece));
  std::string nearMiss = piece;
  nearMiss[130] = 'c';
  EXPECT_FALSE(m.Matches(nearMiss));
  TLikeMatcher<char> u("%" + std::string(100, '_') + "x", 0, false, false);
  EXPECT_TRUE(u.Matches(std::string(100, 'q') + "x"));
  EXPECT_FALSE(u.Matches(std::string(99, 'q') + "x"));
}

// The worst case of a backtracking matcher: many short pieces that almost match everywhere. The
// work stays a small multiple of value plus pattern length.
TEST(LikeMatcher, ManyPiecesCostLinearWork) {
  struct Case {
    std::string value, pattern;
    bool expect;
  };
  std::string manyPieces;
  for (int i = 0; i < 5000; ++i) manyPieces += "%ab";
  const Case table[] = {
      {std::string(200000, 'a'), manyPieces + "%", false},
      {std::string(200000, 'a') + std::string(5000 * 2, 'b'), manyPieces + "%", false},
      {[] { std::string s; for (int i = 0; i < 100000; ++i) s += "ab"; return s; }(), manyPieces + "%c", false},
      {[] { std::string s; for (int i = 0; i < 100000; ++i) s += "ab"; return s; }(), manyPieces + "%", true},
      {std::string(200000, 'a'), "%" + std::string(5000, 'a') + "b%", false},
      {std::string(200000, 'a'), std::string(10000, '%') + "b", false},
  };
  for (const Case& c : table) {
    TLikeMatcher<char> m(c.pattern, 0, false, false);
    EXPECT_EQ(m.Matches(c.value), c.expect) << c.pattern.substr(0, 20);
    // A piece of w characters costs ceil(w / 64) mask words per value character.
    std::size_t longest = 0, run = 0;
    for (char ch : c.pattern) {
      run = ch == '%' ? 0 : run + 1;
      longest = std::max(longest, run);
    }
    const std::uint64_t words = (longest + 63) / 64;
    EXPECT_LE(m.Steps(), 2 * (c.value.size() * words + c.pattern.size())) << c.pattern.substr(0, 20);
  }
}
