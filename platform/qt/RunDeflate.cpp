#include "platform/qt/RunDeflate.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <queue>
#include <utility>

namespace platform {

namespace {

// Deflate's length symbols: 257 + k covers lengths kLengthBase[k] .. with kLengthExtra[k] extra bits.
constexpr int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// The order in which the code length code's lengths are written.
constexpr int kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

struct LengthCode {
  std::uint16_t symbol;
  std::uint8_t extraBits;
  std::uint8_t extraValue;
};

// Length 3 .. 258 -> its symbol and extra bits.
const std::array<LengthCode, 256>& LengthCodes() {
  static const std::array<LengthCode, 256> table = [] {
    std::array<LengthCode, 256> t{};
    for (int k = 0; k < 29; ++k) {
      const int last = k == 28 ? 258 : (k == 27 ? 257 : kLengthBase[k + 1] - 1);
      for (int len = kLengthBase[k]; len <= last; ++len)
        t[std::size_t(len - 3)] = {std::uint16_t(257 + k), std::uint8_t(kLengthExtra[k]), std::uint8_t(len - kLengthBase[k])};
    }
    return t;
  }();
  return table;
}

// Huffman code lengths for `n` symbols of the given counts, none longer than `limit`. Counts are
// halved until the tree fits; with two or more counted symbols the code is complete.
void CodeLengths(const std::uint32_t* counts, int n, int limit, std::uint8_t* lengths) {
  std::vector<std::uint64_t> f(counts, counts + n);
  std::fill(lengths, lengths + n, 0);
  for (;;) {
    using Node = std::pair<std::uint64_t, int>;
    std::priority_queue<Node, std::vector<Node>, std::greater<Node>> heap;
    std::vector<int> parent(std::size_t(2 * n), -1);
    for (int s = 0; s < n; ++s)
      if (f[std::size_t(s)] > 0) heap.push({f[std::size_t(s)], s});
    if (heap.empty()) return;
    if (heap.size() == 1) {
      lengths[heap.top().second] = 1;
      return;
    }
    int next = n;
    while (heap.size() > 1) {
      const Node a = heap.top();
      heap.pop();
      const Node b = heap.top();
      heap.pop();
      parent[std::size_t(a.second)] = next;
      parent[std::size_t(b.second)] = next;
      heap.push({a.first + b.first, next++});
    }
    // Inner nodes are made after their children: depths from the root down.
    std::vector<int> depth(std::size_t(next), 0);
    for (int i = next - 2; i >= 0; --i)
      if (parent[std::size_t(i)] >= 0) depth[std::size_t(i)] = depth[std::size_t(parent[std::size_t(i)])] + 1;
    int longest = 0;
    for (int s = 0; s < n; ++s)
      if (f[std::size_t(s)] > 0) longest = std::max(longest, depth[std::size_t(s)]);
    if (longest <= limit) {
      for (int s = 0; s < n; ++s) lengths[s] = f[std::size_t(s)] > 0 ? std::uint8_t(depth[std::size_t(s)]) : 0;
      return;
    }
    for (std::uint64_t& c : f)
      if (c > 0) c = std::max<std::uint64_t>(1, c >> 1);
  }
}

// Canonical codes of the lengths, bit-reversed for an output written from the lowest bit.
void CanonicalCodes(const std::uint8_t* lengths, int n, std::uint16_t* codes) {
  int count[16] = {};
  for (int s = 0; s < n; ++s) ++count[lengths[s]];
  count[0] = 0;
  int nextCode[16] = {};
  int code = 0;
  for (int bits = 1; bits < 16; ++bits) {
    code = (code + count[bits - 1]) << 1;
    nextCode[bits] = code;
  }
  for (int s = 0; s < n; ++s) {
    const int len = lengths[s];
    if (len == 0) continue;
    const int c = nextCode[len]++;
    int reversed = 0;
    for (int b = 0; b < len; ++b) reversed |= ((c >> b) & 1) << (len - 1 - b);
    codes[s] = std::uint16_t(reversed);
  }
}

// How many bytes from data[from] on equal `value` (at most size - from).
std::size_t RunLength(const unsigned char* data, std::size_t from, std::size_t size, unsigned char value) {
  std::size_t j = from;
  if constexpr (std::endian::native == std::endian::little) {
    const std::uint64_t pattern = 0x0101010101010101ull * value;
    while (j + 8 <= size) {
      std::uint64_t word;
      std::memcpy(&word, data + j, 8);
      const std::uint64_t diff = word ^ pattern;
      if (diff != 0) return j + std::size_t(std::countr_zero(diff) / 8) - from;
      j += 8;
    }
  }
  while (j < size && data[j] == value) ++j;
  return j - from;
}

}  // namespace

TRunDeflater::TRunDeflater(std::vector<unsigned char>& out) : out_(out) { tokens_.reserve(kBlockTokens); }

void TRunDeflater::Add(const unsigned char* data, std::size_t size) {
  std::size_t i = 0;
  while (i < size) {
    if (prev_ >= 0 && data[i] == prev_) {
      const std::size_t run = RunLength(data, i, size, data[i]);
      Run(run);
      i += run;
    } else {
      Literal(data[i]);
      prev_ = data[i];
      ++i;
    }
  }
}

void TRunDeflater::Run(std::size_t length) {
  // Matches of 3 .. 258 bytes; a rest shorter than 3 goes as literals of the same byte.
  while (length >= 3) {
    const std::size_t part = std::min<std::size_t>(length, 258);
    tokens_.push_back(std::uint16_t(0x8000 | (part - 3)));
    ++freq_[LengthCodes()[part - 3].symbol];
    if (tokens_.size() == kBlockTokens) Block(false);
    length -= part;
  }
  for (; length > 0; --length) Literal(static_cast<unsigned char>(prev_));
}

void TRunDeflater::Block(bool final) {
  std::array<std::uint32_t, kLitLen> counts = freq_;
  counts[256] = 1;  // the end of the block
  if (tokens_.empty()) counts[0] = 1;  // a code needs two symbols
  std::uint8_t litLengths[kLitLen];
  std::uint16_t litCodes[kLitLen] = {};
  CodeLengths(counts.data(), kLitLen, 15, litLengths);
  CanonicalCodes(litLengths, kLitLen, litCodes);
  int nlit = kLitLen;
  while (nlit > 257 && litLengths[nlit - 1] == 0) --nlit;
  // One distance code, distance 1, of one bit.
  const std::uint8_t distLength = 1;

  // The code lengths are written with a code of their own (symbols 0 .. 15, no repeat symbols).
  std::uint32_t clCounts[19] = {};
  for (int s = 0; s < nlit; ++s) ++clCounts[litLengths[s]];
  ++clCounts[distLength];
  int used = 0;
  for (std::uint32_t c : clCounts) used += c > 0;
  if (used < 2) ++clCounts[clCounts[0] > 0 ? 1 : 0];
  std::uint8_t clLengths[19];
  std::uint16_t clCodes[19] = {};
  CodeLengths(clCounts, 19, 7, clLengths);
  CanonicalCodes(clLengths, 19, clCodes);
  int nclen = 19;
  while (nclen > 4 && clLengths[kCodeLengthOrder[nclen - 1]] == 0) --nclen;

  Bits(final ? 1 : 0, 1);
  Bits(2, 2);  // dynamic Huffman codes
  Bits(std::uint32_t(nlit - 257), 5);
  Bits(0, 5);  // one distance code
  Bits(std::uint32_t(nclen - 4), 4);
  for (int k = 0; k < nclen; ++k) Bits(clLengths[kCodeLengthOrder[k]], 3);
  for (int s = 0; s < nlit; ++s) Bits(clCodes[litLengths[s]], clLengths[litLengths[s]]);
  Bits(clCodes[distLength], clLengths[distLength]);

  const auto& lengthCodes = LengthCodes();
  for (const std::uint16_t t : tokens_) {
    if (t < 0x8000) {
      Bits(litCodes[t], litLengths[t]);
    } else {
      const LengthCode& lc = lengthCodes[t & 0xFF];
      Bits(litCodes[lc.symbol], litLengths[lc.symbol]);
      if (lc.extraBits > 0) Bits(lc.extraValue, lc.extraBits);
      Bits(0, distLength);  // distance 1: the only distance code, whose code is 0
    }
  }
  Bits(litCodes[256], litLengths[256]);
  tokens_.clear();
  freq_.fill(0);
}

void TRunDeflater::AlignToByte() {
  while (fill_ > 0) {
    out_.push_back(static_cast<unsigned char>(acc_));
    acc_ >>= 8;
    fill_ -= 8;
  }
  acc_ = 0;
  fill_ = 0;
}

void TRunDeflater::Finish(bool last) {
  if (last || !tokens_.empty()) Block(last);
  if (!last) {
    // An empty stored block: three header bits, the rest of the byte, then LEN 0 and NLEN 0xFFFF.
    Bits(0, 3);
    AlignToByte();
    for (unsigned char b : {0x00, 0x00, 0xFF, 0xFF}) out_.push_back(b);
  }
  AlignToByte();
}

}  // namespace platform
