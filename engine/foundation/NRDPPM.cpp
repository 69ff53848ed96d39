// PPM compressor: model, sub-allocator and range coder. See NRDPPM.h for the stream layout.
//
// Memory of one model (one call): a single block of the header's size. Raw history bytes grow
// upward from its start ("text"); contexts and state lists are carved in 12-byte units from the
// top part. All links inside the block are 32-bit offsets from its start (0 = none). When the
// units run out the model restarts from scratch; encoder and decoder restart at the same points.
#include "engine/foundation/NRDPPM.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>

#include <sys/mman.h>

#include "engine/foundation/NRDByteOrder.h"

namespace nrd {

namespace {

constexpr int kMaxOrder = 16;
constexpr int kMinOrder = 2;
constexpr std::uint32_t kUnitSize = 12;
constexpr int kNumIndexes = 38;
constexpr unsigned kIntBits = 7;
constexpr unsigned kPeriodBits = 7;
constexpr unsigned kTotBits = kIntBits + kPeriodBits;
constexpr unsigned kBinScale = 1u << kTotBits;
constexpr unsigned kMaxFreq = 124;
constexpr std::uint32_t kTop = 1u << 24;
constexpr std::uint32_t kBot = 1u << 15;
constexpr std::uint32_t kVariantG = 'G' - 'A';

const std::uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};
const std::uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};

const TPPMLevelParams kLevels[9] = {{2, 2},  {3, 3},  {4, 7},   {5, 16},  {7, 22},
                                    {8, 25}, {10, 40}, {13, 100}, {16, 100}};

// Raised inside the model when a stream is damaged or a count is out of range.
struct PpmFault {};

// One symbol of a context: 6 bytes, 2-byte aligned (successor split in halves).
struct State {
  std::uint8_t Symbol;
  std::uint8_t Freq;
  std::uint16_t SuccessorLow;
  std::uint16_t SuccessorHigh;
};
static_assert(sizeof(State) == 6);

// One context: 12 bytes (one unit). With one symbol the state sits inline at SummFreq.
struct Context {
  std::uint16_t NumStats;
  std::uint16_t SummFreq;
  std::uint32_t Stats;
  std::uint32_t Suffix;
};
static_assert(sizeof(Context) == kUnitSize);

// Secondary escape estimation cell.
struct See {
  std::uint16_t Summ;
  std::uint8_t Shift;
  std::uint8_t Count;
};

// Tables shared by every model; built once.
struct Tables {
  std::uint8_t Indx2Units[kNumIndexes];
  std::uint8_t Units2Indx[128];
  std::uint8_t NS2Indx[256];
  std::uint8_t NS2BSIndx[256];
  std::uint8_t HB2Flag[256];

  Tables() {
    unsigned k = 0;
    for (int i = 0; i < kNumIndexes; ++i) {
      unsigned step = i >= 12 ? 4u : unsigned(i >> 2) + 1u;
      do {
        Units2Indx[k++] = std::uint8_t(i);
      } while (--step);
      Indx2Units[i] = std::uint8_t(k);
    }
    NS2BSIndx[0] = 0 << 1;
    NS2BSIndx[1] = 1 << 1;
    std::memset(NS2BSIndx + 2, 2 << 1, 9);
    std::memset(NS2BSIndx + 11, 3 << 1, 256 - 11);
    unsigned i = 0;
    for (; i < 3; ++i) NS2Indx[i] = std::uint8_t(i);
    for (unsigned m = i, step = 1; i < 256; ++i) {
      NS2Indx[i] = std::uint8_t(m);
      if (--step == 0) step = (++m) - 2;
    }
    std::memset(HB2Flag, 0, 0x40);
    std::memset(HB2Flag + 0x40, 8, 0x100 - 0x40);
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

inline unsigned I2U(unsigned indx) { return T().Indx2Units[indx]; }
inline unsigned U2I(unsigned nu) { return T().Units2Indx[nu - 1]; }
inline std::uint32_t U2B(unsigned nu) { return nu * kUnitSize; }

// ---------------------------------------------------------------------------------------------
// Range coder (carry-less).

class RangeEncoder {
 public:
  explicit RangeEncoder(std::vector<std::uint8_t>& out) : out_(out) {}

  void Encode(std::uint32_t cum, std::uint32_t freq, std::uint32_t total) {
    range_ /= total;
    if (range_ == 0) throw PpmFault{};
    low_ += cum * range_;
    range_ *= freq;
    Normalize();
  }
  void EncodeBin(std::uint32_t cum, std::uint32_t freq) {
    range_ >>= kTotBits;
    low_ += cum * range_;
    range_ *= freq;
    Normalize();
  }
  void Flush() {
    for (int i = 0; i < 4; ++i) {
      out_.push_back(std::uint8_t(low_ >> 24));
      low_ <<= 8;
    }
  }

 private:
  void Normalize() {
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= kTop) {
        if (range_ >= kBot) break;
        range_ = (0u - low_) & (kBot - 1);
      }
      out_.push_back(std::uint8_t(low_ >> 24));
      low_ <<= 8;
      range_ <<= 8;
    }
  }
  std::vector<std::uint8_t>& out_;
  std::uint32_t low_ = 0;
  std::uint32_t range_ = 0xFFFFFFFFu;
};

class RangeDecoder {
 public:
  RangeDecoder(const std::uint8_t* p, const std::uint8_t* end) : p_(p), end_(end) {
    for (int i = 0; i < 4; ++i) Shift();
  }
  // Count within [0, total); a count at or past total means a damaged stream.
  std::uint32_t GetThreshold(std::uint32_t total) {
    range_ /= total;
    if (range_ == 0) throw PpmFault{};
    std::uint32_t count = (code_ - low_) / range_;
    if (count >= total) throw PpmFault{};
    return count;
  }
  std::uint32_t GetThresholdBin() {
    range_ >>= kTotBits;
    std::uint32_t count = (code_ - low_) / range_;
    if (count >= kBinScale) throw PpmFault{};
    return count;
  }
  void Decode(std::uint32_t cum, std::uint32_t freq) {
    low_ += cum * range_;
    range_ *= freq;
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= kTop) {
        if (range_ >= kBot) break;
        range_ = (0u - low_) & (kBot - 1);
      }
      Shift();
      range_ <<= 8;
      low_ <<= 8;
    }
  }

 private:
  // Past the end of input the byte read is -1, which sets every bit of the code register.
  void Shift() {
    if (p_ < end_)
      code_ = (code_ << 8) | *p_++;
    else
      code_ = 0xFFFFFFFFu;
  }
  const std::uint8_t* p_;
  const std::uint8_t* end_;
  std::uint32_t low_ = 0;
  std::uint32_t code_ = 0;
  std::uint32_t range_ = 0xFFFFFFFFu;
};

// ---------------------------------------------------------------------------------------------
// The model.

class Model {
 public:
  // The model block is mapped directly: pages cost only once the model touches them, so a large
  // memory setting on a short input stays cheap.
  Model(int maxOrder, std::uint32_t memSize) : maxOrder_(maxOrder), size_(memSize) {
    alignOffset_ = 4 - (memSize & 3);
    mapped_ = std::size_t(alignOffset_) + memSize + kUnitSize;
    void* p = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    mem_ = static_cast<std::uint8_t*>(p);
    RestartModel();
  }
  ~Model() { munmap(mem_, mapped_); }
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  // Codes one byte, or the end-of-data symbol when symbol < 0.
  void EncodeSymbol(RangeEncoder& rc, int symbol);
  // Decodes one symbol: 0..255, or -1 for end of data. Raises PpmFault on a damaged stream.
  int DecodeSymbol(RangeDecoder& rc);

 private:
  // Offsets and pointers.
  Context* Ctx(std::uint32_t ref) const { return reinterpret_cast<Context*>(mem_ + ref); }
  State* St(std::uint32_t ref) const { return reinterpret_cast<State*>(mem_ + ref); }
  std::uint32_t Ref(const void* p) const {
    return std::uint32_t(static_cast<const std::uint8_t*>(p) - mem_);
  }
  static std::uint32_t Successor(const State* s) {
    return std::uint32_t(s->SuccessorLow) | (std::uint32_t(s->SuccessorHigh) << 16);
  }
  static void SetSuccessor(State* s, std::uint32_t v) {
    s->SuccessorLow = std::uint16_t(v & 0xFFFF);
    s->SuccessorHigh = std::uint16_t(v >> 16);
  }
  static State* OneState(Context* c) { return reinterpret_cast<State*>(&c->SummFreq); }
  State* Stats(const Context* c) const { return St(c->Stats); }
  Context* Suffix(const Context* c) const { return Ctx(c->Suffix); }

  // Finds the state of `symbol` in c; the symbol must be there (every symbol of a context is in
  // its suffix). A miss means the model is inconsistent: fail instead of running off the list.
  State* FindState(Context* c, unsigned symbol) {
    if (c->NumStats == 1) {
      State* s = OneState(c);
      if (s->Symbol != symbol) throw PpmFault{};
      return s;
    }
    State* s = Stats(c);
    for (unsigned i = c->NumStats; i != 0; --i, ++s)
      if (s->Symbol == symbol) return s;
    throw PpmFault{};
  }

  // Sub-allocator.
  void InsertNode(std::uint32_t node, unsigned indx) {
    std::memcpy(mem_ + node, &freeList_[indx], 4);
    freeList_[indx] = node;
  }
  std::uint32_t RemoveNode(unsigned indx) {
    std::uint32_t node = freeList_[indx];
    std::memcpy(&freeList_[indx], mem_ + node, 4);
    return node;
  }
  void SplitBlock(std::uint32_t ptr, unsigned oldIndx, unsigned newIndx) {
    unsigned nu = I2U(oldIndx) - I2U(newIndx);
    ptr += U2B(I2U(newIndx));
    unsigned i = U2I(nu);
    if (I2U(i) != nu) {
      unsigned k = I2U(--i);
      InsertNode(ptr + U2B(k), nu - k - 1);
    }
    InsertNode(ptr, i);
  }
  void GlueFreeBlocks();
  std::uint32_t AllocUnitsRare(unsigned indx);
  std::uint32_t AllocUnits(unsigned indx) {
    if (freeList_[indx] != 0) return RemoveNode(indx);
    std::uint32_t numBytes = U2B(I2U(indx));
    if (numBytes <= hiUnit_ - loUnit_) {
      std::uint32_t r = loUnit_;
      loUnit_ += numBytes;
      return r;
    }
    return AllocUnitsRare(indx);
  }
  std::uint32_t AllocContext() {
    if (hiUnit_ != loUnit_) return hiUnit_ -= kUnitSize;
    if (freeList_[0] != 0) return RemoveNode(0);
    return AllocUnitsRare(0);
  }
  std::uint32_t ShrinkUnits(std::uint32_t oldPtr, unsigned oldNU, unsigned newNU) {
    unsigned i0 = U2I(oldNU);
    unsigned i1 = U2I(newNU);
    if (i0 == i1) return oldPtr;
    if (freeList_[i1] != 0) {
      std::uint32_t ptr = RemoveNode(i1);
      std::memmove(mem_ + ptr, mem_ + oldPtr, U2B(newNU));
      InsertNode(oldPtr, i0);
      return ptr;
    }
    SplitBlock(oldPtr, i0, i1);
    return oldPtr;
  }

  void RestartModel();
  std::uint32_t CreateSuccessors(bool skip);
  void UpdateModel();
  void Rescale();
  void NextContext() {
    std::uint32_t c = Successor(foundState_);
    if (orderFall_ == 0 && c > text_) {
      minContext_ = maxContext_ = Ctx(c);
    } else {
      UpdateModel();
    }
  }
  void Update1() {
    State* s = foundState_;
    s->Freq = std::uint8_t(s->Freq + 4);
    minContext_->SummFreq = std::uint16_t(minContext_->SummFreq + 4);
    if (s[0].Freq > s[-1].Freq) {
      std::swap(s[0], s[-1]);
      foundState_ = --s;
      if (s->Freq > kMaxFreq) Rescale();
    }
    NextContext();
  }
  void Update1_0() {
    prevSuccess_ = (2u * foundState_->Freq > minContext_->SummFreq) ? 1 : 0;
    runLength_ += int(prevSuccess_);
    minContext_->SummFreq = std::uint16_t(minContext_->SummFreq + 4);
    foundState_->Freq = std::uint8_t(foundState_->Freq + 4);
    if (foundState_->Freq > kMaxFreq) Rescale();
    NextContext();
  }
  void UpdateBin() {
    foundState_->Freq = std::uint8_t(foundState_->Freq + (foundState_->Freq < 128 ? 1 : 0));
    prevSuccess_ = 1;
    runLength_++;
    NextContext();
  }
  void Update2() {
    State* s = foundState_;
    s->Freq = std::uint8_t(s->Freq + 4);
    minContext_->SummFreq = std::uint16_t(minContext_->SummFreq + 4);
    if (s->Freq > kMaxFreq) Rescale();
    runLength_ = initRL_;
    UpdateModel();
  }
  std::uint16_t* BinSumm() {
    State* one = OneState(minContext_);
    if (one->Freq == 0 || one->Freq > 128) throw PpmFault{};
    hiBitsFlag_ = T().HB2Flag[foundState_->Symbol];
    unsigned col = prevSuccess_ + T().NS2BSIndx[Suffix(minContext_)->NumStats - 1] + hiBitsFlag_ +
                   2u * T().HB2Flag[one->Symbol] + ((unsigned(runLength_) >> 26) & 0x20);
    return &binSumm_[one->Freq - 1][col];
  }
  See* MakeEscFreq(unsigned numMasked, std::uint32_t& escFreq) {
    unsigned numStats = minContext_->NumStats;
    if (numStats == 256) {
      escFreq = 1;
      return &dummySee_;
    }
    if (numStats <= numMasked || numStats > 256) throw PpmFault{};
    unsigned nonMasked = numStats - numMasked;
    See* see = &see_[T().NS2Indx[nonMasked - 1]][0] +
               (int(nonMasked) < int(Suffix(minContext_)->NumStats) - int(numStats) ? 1 : 0) +
               2 * (minContext_->SummFreq < 11 * numStats ? 1 : 0) + 4 * (numMasked > nonMasked ? 1 : 0) +
               hiBitsFlag_;
    unsigned r = see->Summ >> see->Shift;
    see->Summ = std::uint16_t(see->Summ - r);
    escFreq = r + (r == 0 ? 1 : 0);
    return see;
  }
  static void SeeUpdate(See* see) {
    if (see->Shift < kPeriodBits && --see->Count == 0) {
      see->Summ = std::uint16_t(see->Summ << 1);
      see->Count = std::uint8_t(3 << see->Shift++);
    }
  }

  int maxOrder_;
  std::uint32_t size_;
  std::uint32_t alignOffset_;
  std::size_t mapped_ = 0;
  std::uint8_t* mem_ = nullptr;

  std::uint32_t text_ = 0, unitsStart_ = 0, loUnit_ = 0, hiUnit_ = 0;
  std::uint32_t glueCount_ = 0;
  std::uint32_t freeList_[kNumIndexes] = {};

  Context* minContext_ = nullptr;
  Context* maxContext_ = nullptr;
  State* foundState_ = nullptr;
  unsigned orderFall_ = 0, initEsc_ = 0, prevSuccess_ = 0, hiBitsFlag_ = 0;
  int runLength_ = 0, initRL_ = 0;

  std::uint16_t binSumm_[128][64] = {};
  See see_[25][16] = {};
  See dummySee_ = {};
};

// Start-up (and every restart when the units run out). What the start-up fixes is followed as
// stated: the root holds all 256 symbols at frequency 1 (sum 257), there is no earlier context
// (Suffix 0), OrderFall is the model order, and the run length starts at -min(order, 12) - 1.
// It departs from the stated start-up in two details, both kept on purpose because they decide
// the coded bytes and encoder and decoder must agree on them:
//  1. No chain of contexts up to the model order is built here: only the root exists, and the
//     longer contexts are created by the first coded symbols (CreateSuccessors/UpdateModel).
//  2. The binary-context probabilities come from the 8-entry initial escape table, spread over
//     the 64 columns of each row, and not from a 16-entry table; the 16-entry table (kExpEscape)
//     seeds the escape count of new contexts after a binary context escapes.
void Model::RestartModel() {
  std::memset(freeList_, 0, sizeof(freeList_));
  text_ = alignOffset_;
  hiUnit_ = text_ + size_;
  loUnit_ = unitsStart_ = hiUnit_ - size_ / 8 / kUnitSize * 7 * kUnitSize;
  glueCount_ = 0;

  orderFall_ = unsigned(maxOrder_);
  runLength_ = initRL_ = -(maxOrder_ < 12 ? maxOrder_ : 12) - 1;
  prevSuccess_ = 0;
  initEsc_ = 0;
  hiBitsFlag_ = 0;

  hiUnit_ -= kUnitSize;
  minContext_ = maxContext_ = Ctx(hiUnit_);
  minContext_->Suffix = 0;
  minContext_->NumStats = 256;
  minContext_->SummFreq = 256 + 1;
  foundState_ = St(loUnit_);
  minContext_->Stats = loUnit_;
  loUnit_ += U2B(256 / 2);
  for (unsigned i = 0; i < 256; ++i) {
    State* s = &foundState_[i];
    s->Symbol = std::uint8_t(i);
    s->Freq = 1;
    SetSuccessor(s, 0);
  }
  for (unsigned i = 0; i < 128; ++i)
    for (unsigned k = 0; k < 8; ++k) {
      std::uint16_t val = std::uint16_t(kBinScale - kInitBinEsc[k] / (i + 2));
      for (unsigned m = 0; m < 64; m += 8) binSumm_[i][k + m] = val;
    }
  for (unsigned i = 0; i < 25; ++i)
    for (unsigned k = 0; k < 16; ++k) {
      See* s = &see_[i][k];
      s->Shift = kPeriodBits - 4;
      s->Summ = std::uint16_t((5 * i + 10) << s->Shift);
      s->Count = 4;
    }
  dummySee_.Summ = 0;
  dummySee_.Shift = kPeriodBits;
  dummySee_.Count = 64;
}

// Joins neighbouring free blocks and sorts them back into the free lists.
void Model::GlueFreeBlocks() {
  struct Block {
    std::uint32_t ptr;
    std::uint32_t nu;
  };
  std::vector<Block> blocks;
  for (unsigned i = 0; i < kNumIndexes; ++i) {
    std::uint32_t n = freeList_[i];
    while (n != 0) {
      blocks.push_back({n, I2U(i)});
      std::memcpy(&n, mem_ + n, 4);
    }
    freeList_[i] = 0;
  }
  std::sort(blocks.begin(), blocks.end(), [](const Block& a, const Block& b) { return a.ptr < b.ptr; });
  std::size_t i = 0;
  while (i < blocks.size()) {
    std::uint32_t ptr = blocks[i].ptr;
    std::uint64_t nu = blocks[i].nu;
    std::size_t j = i + 1;
    while (j < blocks.size() && blocks[j].ptr == ptr + U2B(unsigned(nu))) {
      nu += blocks[j].nu;
      ++j;
      if (nu >= (1u << 20)) break;
    }
    i = j;
    std::uint32_t p = ptr;
    unsigned n = unsigned(nu);
    while (n > 128) {
      InsertNode(p, kNumIndexes - 1);
      n -= 128;
      p += U2B(128);
    }
    unsigned indx = U2I(n);
    if (I2U(indx) != n) {
      unsigned k = I2U(--indx);
      InsertNode(p + U2B(k), n - k - 1);
    }
    InsertNode(p, indx);
  }
  glueCount_ = 255;
}

std::uint32_t Model::AllocUnitsRare(unsigned indx) {
  if (glueCount_ == 0) {
    GlueFreeBlocks();
    if (freeList_[indx] != 0) return RemoveNode(indx);
  }
  unsigned i = indx;
  do {
    if (++i == kNumIndexes) {
      std::uint32_t numBytes = U2B(I2U(indx));
      glueCount_--;
      if (unitsStart_ - text_ > numBytes) {
        unitsStart_ -= numBytes;
        return unitsStart_;
      }
      return 0;
    }
  } while (freeList_[i] == 0);
  std::uint32_t r = RemoveNode(i);
  SplitBlock(r, i, indx);
  return r;
}

std::uint32_t Model::CreateSuccessors(bool skip) {
  Context* c = minContext_;
  std::uint32_t upBranch = Successor(foundState_);
  State* ps[kMaxOrder + 1];
  unsigned numPs = 0;
  if (!skip) ps[numPs++] = foundState_;

  while (c->Suffix) {
    c = Suffix(c);
    State* s = FindState(c, foundState_->Symbol);
    std::uint32_t successor = Successor(s);
    if (successor != upBranch) {
      c = Ctx(successor);
      if (numPs == 0) return Ref(c);
      break;
    }
    if (numPs >= kMaxOrder + 1) throw PpmFault{};
    ps[numPs++] = s;
  }

  State upState;
  upState.Symbol = mem_[upBranch];
  SetSuccessor(&upState, upBranch + 1);
  if (c->NumStats == 1) {
    upState.Freq = OneState(c)->Freq;
  } else {
    State* s = FindState(c, upState.Symbol);
    std::uint32_t cf = s->Freq - 1u;
    std::uint32_t s0 = c->SummFreq - c->NumStats - cf;
    std::uint32_t add = (2 * cf <= s0) ? (5 * cf > s0 ? 1u : 0u) : ((2 * cf + 3 * s0 - 1) / (2 * s0));
    upState.Freq = std::uint8_t(1 + add);
  }

  do {
    std::uint32_t c1ref = AllocContext();
    if (c1ref == 0) return 0;
    Context* c1 = Ctx(c1ref);
    c1->NumStats = 1;
    *OneState(c1) = upState;
    c1->Suffix = Ref(c);
    SetSuccessor(ps[--numPs], c1ref);
    c = c1;
  } while (numPs != 0);
  return Ref(c);
}

void Model::UpdateModel() {
  std::uint32_t fSuccessor = Successor(foundState_);
  const unsigned symbol = foundState_->Symbol;

  if (foundState_->Freq < kMaxFreq / 4 && minContext_->Suffix != 0) {
    Context* c = Suffix(minContext_);
    if (c->NumStats == 1) {
      State* s = OneState(c);
      if (s->Freq < 32) s->Freq++;
    } else {
      State* s = Stats(c);
      if (s->Symbol != symbol) {
        s = FindState(c, symbol);
        if (s[0].Freq >= s[-1].Freq) {
          std::swap(s[0], s[-1]);
          s--;
        }
      }
      if (s->Freq < kMaxFreq - 9) {
        s->Freq = std::uint8_t(s->Freq + 2);
        c->SummFreq = std::uint16_t(c->SummFreq + 2);
      }
    }
  }

  if (orderFall_ == 0) {
    std::uint32_t ctx = CreateSuccessors(true);
    if (ctx == 0) {
      RestartModel();
      return;
    }
    minContext_ = maxContext_ = Ctx(ctx);
    SetSuccessor(foundState_, ctx);
    return;
  }

  mem_[text_++] = std::uint8_t(symbol);
  std::uint32_t successor = text_;
  if (text_ >= unitsStart_) {
    RestartModel();
    return;
  }

  if (fSuccessor) {
    if (fSuccessor <= successor) {
      std::uint32_t cs = CreateSuccessors(false);
      if (cs == 0) {
        RestartModel();
        return;
      }
      fSuccessor = cs;
    }
    if (--orderFall_ == 0) {
      successor = fSuccessor;
      text_ -= (maxContext_ != minContext_) ? 1 : 0;
    }
  } else {
    SetSuccessor(foundState_, successor);
    fSuccessor = Ref(minContext_);
  }

  const unsigned ns = minContext_->NumStats;
  const unsigned s0 = minContext_->SummFreq - ns - (foundState_->Freq - 1u);
  const unsigned foundFreq = foundState_->Freq;

  for (Context* c = maxContext_; c != minContext_; c = Suffix(c)) {
    unsigned ns1 = c->NumStats;
    if (ns1 != 1) {
      if ((ns1 & 1) == 0) {
        unsigned oldNU = ns1 >> 1;
        unsigned i = U2I(oldNU);
        if (i != U2I(oldNU + 1)) {
          std::uint32_t ptr = AllocUnits(i + 1);
          if (ptr == 0) {
            RestartModel();
            return;
          }
          std::uint32_t oldPtr = c->Stats;
          std::memmove(mem_ + ptr, mem_ + oldPtr, U2B(oldNU));
          InsertNode(oldPtr, i);
          c->Stats = ptr;
        }
      }
      c->SummFreq = std::uint16_t(c->SummFreq + (2 * ns1 < ns ? 1 : 0) +
                                  2 * ((4 * ns1 <= ns ? 1 : 0) & (c->SummFreq <= 8 * ns1 ? 1 : 0)));
    } else {
      std::uint32_t sref = AllocUnits(0);
      if (sref == 0) {
        RestartModel();
        return;
      }
      State* s = St(sref);
      *s = *OneState(c);
      c->Stats = sref;
      if (s->Freq < kMaxFreq / 4 - 1)
        s->Freq = std::uint8_t(s->Freq << 1);
      else
        s->Freq = kMaxFreq - 4;
      c->SummFreq = std::uint16_t(s->Freq + initEsc_ + (ns > 3 ? 1 : 0));
    }
    std::uint32_t cf = 2 * std::uint32_t(foundFreq) * (c->SummFreq + 6u);
    std::uint32_t sf = std::uint32_t(s0) + c->SummFreq;
    if (cf < 6 * sf) {
      cf = 1 + (cf > sf ? 1 : 0) + (cf >= 4 * sf ? 1 : 0);
      c->SummFreq = std::uint16_t(c->SummFreq + 3);
    } else {
      cf = 4 + (cf >= 9 * sf ? 1 : 0) + (cf >= 12 * sf ? 1 : 0) + (cf >= 15 * sf ? 1 : 0);
      c->SummFreq = std::uint16_t(c->SummFreq + cf);
    }
    State* s = Stats(c) + ns1;
    SetSuccessor(s, successor);
    s->Symbol = std::uint8_t(symbol);
    s->Freq = std::uint8_t(cf);
    c->NumStats = std::uint16_t(ns1 + 1);
  }
  maxContext_ = minContext_ = Ctx(fSuccessor);
}

void Model::Rescale() {
  State* stats = Stats(minContext_);
  State* s = foundState_;
  if (s != stats) {
    State tmp = *s;
    do s[0] = s[-1];
    while (--s != stats);
    *s = tmp;
  }
  unsigned escFreq = minContext_->SummFreq - s->Freq;
  s->Freq = std::uint8_t(s->Freq + 4);
  unsigned adder = orderFall_ != 0 ? 1 : 0;
  s->Freq = std::uint8_t((s->Freq + adder) >> 1);
  unsigned sumFreq = s->Freq;

  unsigned i = minContext_->NumStats - 1u;
  do {
    escFreq -= (++s)->Freq;
    s->Freq = std::uint8_t((s->Freq + adder) >> 1);
    sumFreq += s->Freq;
    if (s[0].Freq > s[-1].Freq) {
      State* s1 = s;
      State tmp = *s1;
      do s1[0] = s1[-1];
      while (--s1 != stats && tmp.Freq > s1[-1].Freq);
      *s1 = tmp;
    }
  } while (--i);

  if (s->Freq == 0) {
    unsigned numStats = minContext_->NumStats;
    do {
      i++;
    } while ((--s)->Freq == 0);
    escFreq += i;
    minContext_->NumStats = std::uint16_t(minContext_->NumStats - i);
    if (minContext_->NumStats == 1) {
      State tmp = *stats;
      do {
        tmp.Freq = std::uint8_t(tmp.Freq - (tmp.Freq >> 1));
        escFreq >>= 1;
      } while (escFreq > 1);
      InsertNode(Ref(stats), U2I((numStats + 1) >> 1));
      *(foundState_ = OneState(minContext_)) = tmp;
      return;
    }
    unsigned n0 = (numStats + 1) >> 1;
    unsigned n1 = (minContext_->NumStats + 1u) >> 1;
    if (n0 != n1) minContext_->Stats = ShrinkUnits(Ref(stats), n0, n1);
  }
  minContext_->SummFreq = std::uint16_t(sumFreq + escFreq - (escFreq >> 1));
  foundState_ = Stats(minContext_);
}

void Model::EncodeSymbol(RangeEncoder& rc, int symbol) {
  std::uint8_t charMask[256];
  if (minContext_->NumStats != 1) {
    State* s = Stats(minContext_);
    if (s->Symbol == symbol) {
      rc.Encode(0, s->Freq, minContext_->SummFreq);
      foundState_ = s;
      Update1_0();
      return;
    }
    prevSuccess_ = 0;
    std::uint32_t sum = s->Freq;
    unsigned i = minContext_->NumStats - 1u;
    do {
      if ((++s)->Symbol == symbol) {
        rc.Encode(sum, s->Freq, minContext_->SummFreq);
        foundState_ = s;
        Update1();
        return;
      }
      sum += s->Freq;
    } while (--i);
    if (sum >= minContext_->SummFreq) throw PpmFault{};
    hiBitsFlag_ = T().HB2Flag[foundState_->Symbol];
    std::memset(charMask, 0xFF, sizeof(charMask));
    State* st = Stats(minContext_);
    for (unsigned k = 0; k < minContext_->NumStats; ++k) charMask[st[k].Symbol] = 0;
    rc.Encode(sum, minContext_->SummFreq - sum, minContext_->SummFreq);
  } else {
    std::uint16_t* prob = BinSumm();
    State* s = OneState(minContext_);
    if (s->Symbol == symbol) {
      rc.EncodeBin(0, *prob);
      *prob = std::uint16_t(*prob + (1u << kIntBits) - ((*prob + (1u << (kPeriodBits - 2))) >> kPeriodBits));
      foundState_ = s;
      UpdateBin();
      return;
    }
    rc.EncodeBin(*prob, kBinScale - *prob);
    *prob = std::uint16_t(*prob - ((*prob + (1u << (kPeriodBits - 2))) >> kPeriodBits));
    initEsc_ = kExpEscape[*prob >> 10];
    std::memset(charMask, 0xFF, sizeof(charMask));
    charMask[s->Symbol] = 0;
    prevSuccess_ = 0;
  }
  for (;;) {
    unsigned numMasked = minContext_->NumStats;
    do {
      orderFall_++;
      if (!minContext_->Suffix) {
        // Escape past the root: the end of data. A real byte always has a state in the root.
        if (symbol >= 0) throw PpmFault{};
        return;
      }
      minContext_ = Suffix(minContext_);
    } while (minContext_->NumStats == numMasked);

    std::uint32_t escFreq;
    See* see = MakeEscFreq(numMasked, escFreq);
    State* s = Stats(minContext_);
    std::uint32_t sum = 0;
    unsigned i = minContext_->NumStats;
    do {
      int cur = s->Symbol;
      if (cur == symbol) {
        std::uint32_t low = sum;
        State* s1 = s;
        do {
          sum += s->Freq & charMask[s->Symbol];
          s++;
        } while (--i);
        rc.Encode(low, s1->Freq, sum + escFreq);
        SeeUpdate(see);
        foundState_ = s1;
        Update2();
        return;
      }
      sum += s->Freq & charMask[cur];
      charMask[cur] = 0;
      s++;
    } while (--i);
    rc.Encode(sum, escFreq, sum + escFreq);
    see->Summ = std::uint16_t(see->Summ + sum + escFreq);
  }
}

int Model::DecodeSymbol(RangeDecoder& rc) {
  std::uint8_t charMask[256];
  if (minContext_->NumStats != 1) {
    State* s = Stats(minContext_);
    std::uint32_t count = rc.GetThreshold(minContext_->SummFreq);
    std::uint32_t hiCnt = s->Freq;
    if (count < hiCnt) {
      rc.Decode(0, s->Freq);
      foundState_ = s;
      int symbol = s->Symbol;
      Update1_0();
      return symbol;
    }
    prevSuccess_ = 0;
    unsigned i = minContext_->NumStats - 1u;
    do {
      if ((hiCnt += (++s)->Freq) > count) {
        rc.Decode(hiCnt - s->Freq, s->Freq);
        foundState_ = s;
        int symbol = s->Symbol;
        Update1();
        return symbol;
      }
    } while (--i);
    if (hiCnt >= minContext_->SummFreq) throw PpmFault{};
    hiBitsFlag_ = T().HB2Flag[foundState_->Symbol];
    rc.Decode(hiCnt, minContext_->SummFreq - hiCnt);
    std::memset(charMask, 0xFF, sizeof(charMask));
    State* st = Stats(minContext_);
    for (unsigned k = 0; k < minContext_->NumStats; ++k) charMask[st[k].Symbol] = 0;
  } else {
    std::uint16_t* prob = BinSumm();
    State* s = OneState(minContext_);
    if (rc.GetThresholdBin() < *prob) {
      rc.Decode(0, *prob);
      *prob = std::uint16_t(*prob + (1u << kIntBits) - ((*prob + (1u << (kPeriodBits - 2))) >> kPeriodBits));
      foundState_ = s;
      int symbol = s->Symbol;
      UpdateBin();
      return symbol;
    }
    rc.Decode(*prob, kBinScale - *prob);
    *prob = std::uint16_t(*prob - ((*prob + (1u << (kPeriodBits - 2))) >> kPeriodBits));
    initEsc_ = kExpEscape[*prob >> 10];
    std::memset(charMask, 0xFF, sizeof(charMask));
    charMask[s->Symbol] = 0;
    prevSuccess_ = 0;
  }
  for (;;) {
    unsigned numMasked = minContext_->NumStats;
    do {
      orderFall_++;
      if (!minContext_->Suffix) return -1;
      minContext_ = Suffix(minContext_);
    } while (minContext_->NumStats == numMasked);

    State* ps[256];
    unsigned num = 0;
    std::uint32_t hiCnt = 0;
    State* s = Stats(minContext_);
    for (unsigned k = minContext_->NumStats; k != 0; --k, ++s) {
      if (charMask[s->Symbol]) {
        ps[num++] = s;
        hiCnt += s->Freq;
      }
    }
    std::uint32_t escFreq;
    See* see = MakeEscFreq(numMasked, escFreq);
    std::uint32_t freqSum = escFreq + hiCnt;
    std::uint32_t count = rc.GetThreshold(freqSum);
    if (count < hiCnt) {
      std::uint32_t acc = 0;
      unsigned k = 0;
      for (;; ++k) {
        acc += ps[k]->Freq;
        if (acc > count) break;
      }
      s = ps[k];
      rc.Decode(acc - s->Freq, s->Freq);
      SeeUpdate(see);
      foundState_ = s;
      int symbol = s->Symbol;
      Update2();
      return symbol;
    }
    rc.Decode(hiCnt, escFreq);
    see->Summ = std::uint16_t(see->Summ + freqSum);
    for (unsigned k = 0; k < num; ++k) charMask[ps[k]->Symbol] = 0;
  }
}

std::mutex& PpmLock() {
  static std::mutex lock;
  return lock;
}

std::uint32_t ReadLE32(const std::uint8_t* p) { return GetLE32(p); }

}  // namespace

TPPMLevelParams PPMLevelParams(int Level) {
  Level = std::clamp(Level, 1, 9);
  return kLevels[Level - 1];
}

std::uint32_t PPMHeaderWord(int Order, int MemoryMB) {
  return std::uint32_t(Order - 1) | (std::uint32_t(MemoryMB - 1) << 4) | (kVariantG << 12);
}

void PPMCompressBuffer(const void* InBuf, std::int32_t InSize, std::vector<std::uint8_t>& OutBuf, int Level,
                       std::int32_t& OutSize) {
  OutSize = 0;
  OutBuf.clear();
  if (InSize <= 0 || InBuf == nullptr) throw std::runtime_error("PPM Compression error");
  const TPPMLevelParams params = PPMLevelParams(Level);
  std::lock_guard<std::mutex> guard(PpmLock());
  try {
    std::vector<std::uint8_t> out;
    out.reserve(std::size_t(InSize) + std::size_t(InSize) / 20 + 50);
    const std::uint32_t header = PPMHeaderWord(params.Order, params.MemoryMB);
    for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(header >> (8 * i)));
    Model model(params.Order, std::uint32_t(params.MemoryMB) << 20);
    RangeEncoder rc(out);
    const auto* p = static_cast<const std::uint8_t*>(InBuf);
    for (std::int32_t i = 0; i < InSize; ++i) model.EncodeSymbol(rc, p[i]);
    model.EncodeSymbol(rc, -1);
    rc.Flush();
    if (out.size() > std::size_t(INT32_MAX)) throw PpmFault{};
    OutSize = std::int32_t(out.size());
    OutBuf = std::move(out);
  } catch (const PpmFault&) {
    OutBuf.clear();
    OutSize = 0;
    throw std::runtime_error("PPM Compression error");
  } catch (const std::bad_alloc&) {
    OutBuf.clear();
    OutSize = 0;
    throw std::runtime_error("PPM Compression error");
  }
}

void PPMDecompressBuffer(const void* InBuf, std::int32_t InSize, std::vector<std::uint8_t>& OutBuf,
                         std::int32_t& OutSize) {
  OutBuf.clear();
  if (OutSize <= 0) {
    OutSize = 0;
    throw std::runtime_error("PPM DecpmpressBuf: OutSize must be set");
  }
  const std::int32_t expected = OutSize;
  OutSize = 0;
  if (InSize < 4 || InBuf == nullptr) throw std::runtime_error("PPM Decompression error");
  const auto* in = static_cast<const std::uint8_t*>(InBuf);
  const std::uint32_t header = ReadLE32(in);
  const int order = int(header & 0xF) + 1;
  const std::uint32_t memoryMB = ((header >> 4) & 0xFF) + 1;
  // The decoder starts from the header as written: the variant letter must be "G"; bits 16-31
  // are not looked at. An order below the variant's minimum (a header no encoder writes) is
  // refused rather than started.
  if (((header >> 12) & 0xF) != kVariantG || order < kMinOrder) throw std::runtime_error("PPM Decompression error");

  std::lock_guard<std::mutex> guard(PpmLock());
  try {
    std::vector<std::uint8_t> out(std::size_t(expected), 0);
    Model model(order, memoryMB << 20);
    RangeDecoder rc(in + 4, in + InSize);
    std::int32_t n = 0;
    for (;;) {
      int symbol = model.DecodeSymbol(rc);
      if (symbol < 0) break;
      if (n >= expected) throw PpmFault{};  // more bytes than the caller expects
      out[std::size_t(n++)] = std::uint8_t(symbol);
    }
    if (n <= 0) throw PpmFault{};
    out.resize(std::size_t(n));
    OutBuf = std::move(out);
    OutSize = n;
  } catch (const PpmFault&) {
    OutBuf.clear();
    OutSize = 0;
    throw std::runtime_error("PPM Decompression error");
  } catch (const std::bad_alloc&) {
    OutBuf.clear();
    OutSize = 0;
    throw std::runtime_error("PPM Decompression error");
  }
}

}  // namespace nrd
