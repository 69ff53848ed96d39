// The LIKE matcher of expressions: a pattern compiled once ("%" any run, "_" one character, an
// optional escape character making the next one literal) and matched against many values.
//
// Cost: the pattern is cut at its "%" runs into pieces; the first piece is tried at the start, the
// last at the end and each piece between at its leftmost place after the previous one, which is the
// right choice because a "%" absorbs whatever lies between. Each piece is sought with a bit-parallel
// scan (one machine word per 64 pattern characters) over the value, and every value character is
// read by one scan only, so a match costs O(n * ceil(w / 64)) steps for a value of n characters
// whose longest piece has w characters: linear for every piece up to 64 characters, whatever the
// number of pieces. Characters are compared as the engine's single-character LIKE comparison does
// (equal code, equal upper case when case-insensitive, or equal under the locale collation); each
// distinct value character is compared with the pattern once and the result is kept.
// Not thread-safe (the kept comparisons are state of the matcher).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace nrd::sql {

template <typename C>
class TLikeMatcher {
 public:
  // `escape` 0 means no escape character.
  TLikeMatcher(std::basic_string_view<C> pattern, C escape, bool useEscape, bool caseInsensitive);

  bool Matches(std::basic_string_view<C> value);

  // Work done by Matches since construction: value characters scanned times mask words touched,
  // plus characters compared in place. Lets tests see that the work grows with the value, not with
  // the value times the pattern.
  std::uint64_t Steps() const { return FSteps; }

  // The compiled pattern's identity, to reuse a matcher for the same pattern.
  bool IsFor(std::basic_string_view<C> pattern, C escape, bool useEscape, bool caseInsensitive) const {
    return caseInsensitive == FCaseInsensitive && useEscape == FUseEscape && escape == FEscape &&
           pattern == std::basic_string_view<C>(FPatternText);
  }

 private:
  struct Piece {
    std::vector<C> chars;        // the pattern characters; a "_" position holds 0 and is marked in `any`
    std::vector<bool> any;       // true where the piece has "_"
    std::size_t words = 0;       // 64-bit words of the piece's bit masks
  };
  using Masks = std::vector<std::uint64_t>;

  // The bit mask of the piece positions that character `c` satisfies (kept per character).
  const std::uint64_t* MaskOf(std::size_t piece, C c);
  bool Equal(C a, C b) const;
  // The piece at exactly value[from, from + length).
  bool PieceAt(std::size_t piece, std::basic_string_view<C> value, std::size_t from);
  // The end of the leftmost occurrence of the piece in value[from, limit), or npos.
  std::size_t FindPiece(std::size_t piece, std::basic_string_view<C> value, std::size_t from, std::size_t limit);

  std::basic_string<C> FPatternText;
  C FEscape;
  bool FUseEscape;
  bool FCaseInsensitive;
  std::vector<Piece> FPieces;
  bool FHasAny = false;  // the pattern has a "%"
  bool FLeadingAny = false, FTrailingAny = false;
  // Per piece: the masks of the characters met so far.
  std::vector<std::unordered_map<C, Masks>> FMaskCache;
  std::vector<std::uint64_t> FState;
  std::uint64_t FSteps = 0;
};

extern template class TLikeMatcher<char>;
extern template class TLikeMatcher<char16_t>;

}  // namespace nrd::sql
