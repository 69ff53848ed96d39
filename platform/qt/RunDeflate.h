// A deflate encoder for filtered picture rows: every byte is a literal or part of a run of the byte
// before it (a match at distance 1), in blocks with Huffman codes made from each block's own counts.
// Charts are mostly white, so their "Up"-filtered rows are long runs of zeros with short literal
// stretches where text is drawn; a run costs a few bits, and the run scan reads eight bytes at a time.
//
// The output is raw deflate (no zlib header or trailer) that any inflater reads. Several encoders'
// outputs written one after another form one stream when every one but the last ends with Finish(false)
// and the last with Finish(true). Plain C++, no Qt. One encoder belongs to one thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

class TRunDeflater {
 public:
  // Compressed bytes are appended to `out`, which must outlive the encoder.
  explicit TRunDeflater(std::vector<unsigned char>& out);

  // More bytes of the stream. A run is not carried over from one call to the next.
  void Add(const unsigned char* data, std::size_t size);
  // Ends this encoder's part on a byte boundary: with the stream's final block when `last`, else with
  // an empty stored block (a sync point), so another part may follow. No Add after Finish.
  void Finish(bool last);

 private:
  static constexpr std::size_t kBlockTokens = std::size_t(1) << 16;
  static constexpr int kLitLen = 286;

  void Literal(unsigned char b) {
    tokens_.push_back(b);
    ++freq_[b];
    if (tokens_.size() == kBlockTokens) Block(false);
  }
  void Run(std::size_t length);
  // Writes the tokens held as one block with codes of their own counts.
  void Block(bool final);
  void Bits(std::uint32_t value, int count) {
    acc_ |= std::uint64_t(value) << fill_;
    fill_ += count;
    if (fill_ >= 32) {
      for (int i = 0; i < 4; ++i) out_.push_back(static_cast<unsigned char>(acc_ >> (8 * i)));
      acc_ >>= 32;
      fill_ -= 32;
    }
  }
  void AlignToByte();

  std::vector<unsigned char>& out_;
  std::vector<std::uint16_t> tokens_;  // a literal byte, or 0x8000 | (run length - 3)
  std::array<std::uint32_t, kLitLen> freq_{};
  int prev_ = -1;  // the stream's last byte, -1 before the first
  std::uint64_t acc_ = 0;
  int fill_ = 0;
};

}  // namespace platform
