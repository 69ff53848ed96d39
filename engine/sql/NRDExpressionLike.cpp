// The LIKE matcher: pieces between "%" runs, each sought by a bit-parallel scan.
#include "engine/sql/NRDExpressionLike.h"

#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDTypesRoutines.h"

namespace nrd::sql {

namespace {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

}  // namespace

template <typename C>
TLikeMatcher<C>::TLikeMatcher(std::basic_string_view<C> pattern, C escape, bool useEscape, bool caseInsensitive)
    : FPatternText(pattern), FEscape(escape), FUseEscape(useEscape), FCaseInsensitive(caseInsensitive) {
  // The same reading of the pattern as the engine's LIKE: an escape character before another
  // character makes that one literal; a trailing escape character is an ordinary character.
  Piece current;
  bool sawAny = false;
  auto close = [&] {
    if (current.chars.empty()) return;
    current.words = (current.chars.size() + 63) / 64;
    FPieces.push_back(std::move(current));
    current = Piece();
  };
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const C c = pattern[i];
    if (useEscape && c == escape && i + 1 < pattern.size()) {
      current.chars.push_back(pattern[++i]);
      current.any.push_back(false);
    } else if (c == C('%')) {
      if (i == 0) FLeadingAny = true;
      sawAny = true;
      close();
    } else if (c == C('_')) {
      current.chars.push_back(C(0));
      current.any.push_back(true);
    } else {
      current.chars.push_back(c);
      current.any.push_back(false);
    }
  }
  FTrailingAny = !pattern.empty() && sawAny && current.chars.empty();
  close();
  FMaskCache.resize(FPieces.size());
  FHasAny = sawAny;
}

template <typename C>
bool TLikeMatcher<C>::Equal(C a, C b) const {
  if (a == b) return true;
  const unsigned flags = SORT_STRINGSORT | (FCaseInsensitive ? NORM_IGNORECASE : 0u);
  if constexpr (sizeof(C) == 1) {
    if (FCaseInsensitive && AnsiUpperChar(a) == AnsiUpperChar(b)) return true;
    return CompareStringA(LOCALE_USER_DEFAULT, flags, &a, 1, &b, 1) == CSTR_EQUAL;
  } else {
    if (FCaseInsensitive && WideUpperChar(a) == WideUpperChar(b)) return true;
    return WideCompareStringProc(LOCALE_USER_DEFAULT, flags, &a, 1, &b, 1) == CSTR_EQUAL;
  }
}

template <typename C>
const std::uint64_t* TLikeMatcher<C>::MaskOf(std::size_t piece, C c) {
  auto& cache = FMaskCache[piece];
  auto it = cache.find(c);
  if (it != cache.end()) return it->second.data();
  const Piece& p = FPieces[piece];
  Masks m(p.words, 0);
  for (std::size_t j = 0; j < p.chars.size(); ++j)
    if (p.any[j] || Equal(c, p.chars[j])) m[j / 64] |= std::uint64_t{1} << (j % 64);
  return cache.emplace(c, std::move(m)).first->second.data();
}

template <typename C>
bool TLikeMatcher<C>::PieceAt(std::size_t piece, std::basic_string_view<C> value, std::size_t from) {
  const Piece& p = FPieces[piece];
  if (from > value.size() || value.size() - from < p.chars.size()) return false;
  for (std::size_t j = 0; j < p.chars.size(); ++j) {
    ++FSteps;
    if (!p.any[j] && !Equal(value[from + j], p.chars[j])) return false;
  }
  return true;
}

template <typename C>
std::size_t TLikeMatcher<C>::FindPiece(std::size_t piece, std::basic_string_view<C> value, std::size_t from,
                                       std::size_t limit) {
  const Piece& p = FPieces[piece];
  const std::size_t k = p.chars.size();
  if (limit < from || limit - from < k) return kNotFound;
  // Shift-And: bit j of the state is set when the piece's first j + 1 characters end at the
  // current value character.
  const std::size_t words = p.words;
  FState.assign(words, 0);
  const std::size_t lastWord = (k - 1) / 64;
  const std::uint64_t lastBit = std::uint64_t{1} << ((k - 1) % 64);
  for (std::size_t i = from; i < limit; ++i) {
    const std::uint64_t* mask = MaskOf(piece, value[i]);
    FSteps += words;
    std::uint64_t carry = 1;  // a match may start at every character
    for (std::size_t w = 0; w < words; ++w) {
      const std::uint64_t s = FState[w];
      FState[w] = ((s << 1) | carry) & mask[w];
      carry = s >> 63;
    }
    if (FState[lastWord] & lastBit) return i + 1;
  }
  return kNotFound;
}

template <typename C>
bool TLikeMatcher<C>::Matches(std::basic_string_view<C> value) {
  const std::size_t n = value.size();
  if (!FHasAny) {
    if (FPieces.empty()) return n == 0;
    return FPieces[0].chars.size() == n && PieceAt(0, value, 0);
  }
  if (FPieces.empty()) return true;  // only "%"
  std::size_t first = 0, last = FPieces.size();  // the pieces still to place: [first, last)
  std::size_t pos = 0, end = n;
  if (!FLeadingAny) {
    if (!PieceAt(0, value, 0)) return false;
    pos = FPieces[0].chars.size();
    first = 1;
  }
  if (!FTrailingAny && last > first) {
    const std::size_t k = FPieces[last - 1].chars.size();
    if (end - pos < k || !PieceAt(last - 1, value, n - k)) return false;
    end = n - k;
    --last;
  }
  for (std::size_t i = first; i < last; ++i) {
    pos = FindPiece(i, value, pos, end);
    if (pos == kNotFound) return false;
  }
  return true;
}

template class TLikeMatcher<char>;
template class TLikeMatcher<char16_t>;

}  // namespace nrd::sql
