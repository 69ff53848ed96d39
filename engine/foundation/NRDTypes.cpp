// Records, containers and bit routines of the engine's shared vocabulary.
#include "engine/foundation/NRDTypes.h"

#include <array>
#include <bit>
#include <cstring>
#include <algorithm>
#include <limits>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDStreams.h"

namespace nrd {

// ----- Record codecs ---------------------------------------------------------------------------
void TNRDPageItemID::Encode(std::uint8_t* p) const {
  PutLE32(p, static_cast<std::uint32_t>(PageNo));
  PutLE16(p + 4, PageItemNo);
}
TNRDPageItemID TNRDPageItemID::Decode(const std::uint8_t* p) {
  TNRDPageItemID r;
  r.PageNo = static_cast<std::int32_t>(GetLE32(p));
  r.PageItemNo = GetLE16(p + 4);
  return r;
}

void TNRDDateTime::Encode(std::uint8_t* p) const {
  PutLE32(p, static_cast<std::uint32_t>(Date));
  PutLE32(p + 4, static_cast<std::uint32_t>(Time));
}
TNRDDateTime TNRDDateTime::Decode(const std::uint8_t* p) {
  TNRDDateTime r;
  r.Date = static_cast<std::int32_t>(GetLE32(p));
  r.Time = static_cast<std::int32_t>(GetLE32(p + 4));
  return r;
}

void TNRDBLOBDescriptor::Encode(std::uint8_t* p) const {
  PutLE32(p, static_cast<std::uint32_t>(BlockSize));
  PutLE64(p + 4, static_cast<std::uint64_t>(NumBlocks));
  PutLE64(p + 12, static_cast<std::uint64_t>(UncompressedSize));
  PutLE64(p + 20, static_cast<std::uint64_t>(StartPosition));
  p[28] = CompressionAlgorithm;
  p[29] = CompressionMode;
  p[30] = Reserved[0];
  p[31] = Reserved[1];
}
TNRDBLOBDescriptor TNRDBLOBDescriptor::Decode(const std::uint8_t* p) {
  TNRDBLOBDescriptor r;
  r.BlockSize = static_cast<std::int32_t>(GetLE32(p));
  r.NumBlocks = static_cast<std::int64_t>(GetLE64(p + 4));
  r.UncompressedSize = static_cast<std::int64_t>(GetLE64(p + 12));
  r.StartPosition = static_cast<std::int64_t>(GetLE64(p + 20));
  r.CompressionAlgorithm = p[28];
  r.CompressionMode = p[29];
  r.Reserved[0] = p[30];
  r.Reserved[1] = p[31];
  return r;
}

void TNRDPartialTemporaryBLOBDescriptor::Encode(std::uint8_t* p) const {
  PutLE32(p, static_cast<std::uint32_t>(NumBlocks));
  PutLE64(p + 4, static_cast<std::uint64_t>(UncompressedSize));
  PutLE64(p + 12, static_cast<std::uint64_t>(CompressedSize));
}
TNRDPartialTemporaryBLOBDescriptor TNRDPartialTemporaryBLOBDescriptor::Decode(const std::uint8_t* p) {
  TNRDPartialTemporaryBLOBDescriptor r;
  r.NumBlocks = static_cast<std::int32_t>(GetLE32(p));
  r.UncompressedSize = static_cast<std::int64_t>(GetLE64(p + 4));
  r.CompressedSize = static_cast<std::int64_t>(GetLE64(p + 12));
  return r;
}

void TNRDCompressedStreamBlockHeader::Encode(std::uint8_t* p) const {
  PutLE32(p, static_cast<std::uint32_t>(CompressedSize));
  PutLE32(p + 4, static_cast<std::uint32_t>(UncompressedSize));
  PutLE32(p + 8, Crc32);
  PutLE64(p + 12, static_cast<std::uint64_t>(OffsetToNextHeader));
}
TNRDCompressedStreamBlockHeader TNRDCompressedStreamBlockHeader::Decode(const std::uint8_t* p) {
  TNRDCompressedStreamBlockHeader r;
  r.CompressedSize = static_cast<std::int32_t>(GetLE32(p));
  r.UncompressedSize = static_cast<std::int32_t>(GetLE32(p + 4));
  r.Crc32 = GetLE32(p + 8);
  r.OffsetToNextHeader = static_cast<std::int64_t>(GetLE64(p + 12));
  return r;
}

// ----- TNRDIntegerArray ------------------------------------------------------------------------
namespace {

[[noreturn]] void IndexError(std::int64_t index) {
  throw ERangeError(Format("List index out of bounds (%d)", {index}));
}

// The growth and shrink rule shared by both arrays. Returns the new allocation.
template <typename T>
T NextAllocation(T newSize, T itemCount, T allocItemCount, T& allocBy, T& deAllocBy, T maxAllocBy) {
  if (newSize > allocItemCount) {
    allocBy = std::min<T>(allocBy * 2, maxAllocBy);
    if (allocBy < 1) allocBy = 1;
    // Compared in 64 bits so that a huge step cannot overflow.
    if (static_cast<std::int64_t>(allocItemCount) + allocBy > static_cast<std::int64_t>(newSize))
      return allocItemCount + allocBy;
    return newSize;
  }
  if (newSize < itemCount && allocItemCount - newSize > deAllocBy) {
    deAllocBy = std::min<T>(deAllocBy * 2, maxAllocBy);
    return newSize;
  }
  return allocItemCount;
}

}  // namespace

TNRDIntegerArray::TNRDIntegerArray(std::int32_t size, std::int32_t defaultAllocBy, std::int32_t maximumAllocBy)
    : AllocBy(defaultAllocBy), deAllocBy(defaultAllocBy), MaxAllocBy(maximumAllocBy) {
  SetSize(size);
}

std::int32_t TNRDIntegerArray::CheckIndex(std::int32_t i) const {
  if (i < 0 || i >= ItemCount) IndexError(i);
  return i;
}

void TNRDIntegerArray::SetSize(std::int32_t newSize) {
  if (newSize < 0) IndexError(newSize);
  if (newSize == 0) {
    ItemCount = 0;
    AllocItemCount = 0;
    Items.clear();
    Items.shrink_to_fit();
    return;
  }
  std::int32_t alloc = NextAllocation<std::int32_t>(newSize, ItemCount, AllocItemCount, AllocBy, deAllocBy, MaxAllocBy);
  if (alloc != AllocItemCount) {
    Items.resize(static_cast<std::size_t>(alloc));
    AllocItemCount = alloc;
  }
  // Items that come into use read as 0, also inside an existing allocation.
  for (std::int32_t i = ItemCount; i < newSize; ++i) Items[static_cast<std::size_t>(i)] = 0;
  ItemCount = newSize;
}

void TNRDIntegerArray::Append(std::int32_t value) {
  SetSize(CheckedAdd32(ItemCount, 1));
  Items[static_cast<std::size_t>(ItemCount - 1)] = value;
}

void TNRDIntegerArray::Insert(std::int32_t itemNo, std::int32_t value) {
  if (itemNo < 0) IndexError(itemNo);
  SetSize(CheckedAdd32(ItemCount, 1));
  std::int32_t last = ItemCount - 1;
  if (itemNo >= last) {
    Items[static_cast<std::size_t>(last)] = value;
    return;
  }
  std::copy_backward(Items.begin() + itemNo, Items.begin() + last, Items.begin() + last + 1);
  Items[static_cast<std::size_t>(itemNo)] = value;
}

void TNRDIntegerArray::Delete(std::int32_t itemNo) {
  CheckIndex(itemNo);
  std::copy(Items.begin() + itemNo + 1, Items.begin() + ItemCount, Items.begin() + itemNo);
  SetSize(ItemCount - 1);
}

void TNRDIntegerArray::MoveTo(std::int32_t itemNo, std::int32_t newItemNo) {
  CheckIndex(itemNo);
  CheckIndex(newItemNo);
  if (itemNo == newItemNo) return;
  auto first = Items.begin();
  // The item ends on newItemNo; the items between shift one place toward its old index.
  if (itemNo < newItemNo)
    std::rotate(first + itemNo, first + itemNo + 1, first + newItemNo + 1);
  else
    std::rotate(first + newItemNo, first + itemNo, first + itemNo + 1);
}

void TNRDIntegerArray::CopyTo(std::vector<std::int32_t>& ar, std::int32_t itemNo, std::int32_t iCount) const {
  if (ItemCount == 0 || iCount <= 0) return;
  CheckIndex(itemNo);
  std::int32_t n = std::min(iCount, ItemCount - itemNo);
  if (static_cast<std::int64_t>(ar.size()) < n) ar.resize(static_cast<std::size_t>(n));
  std::copy(Items.begin() + itemNo, Items.begin() + itemNo + n, ar.begin());
}

void TNRDIntegerArray::Assign(const TNRDIntegerArray& v) {
  if (&v == this) return;
  SetSize(v.ItemCount);
  std::copy(v.Items.begin(), v.Items.begin() + v.ItemCount, Items.begin());
}

std::int32_t TNRDIntegerArray::IndexOf(std::int32_t value) const {
  for (std::int32_t i = 0; i < ItemCount; ++i)
    if (Items[static_cast<std::size_t>(i)] == value) return i;
  return -1;
}

// ----- TNRDCompressedStreamBlockHeadersArray ------------------------------------------------------
TNRDCompressedStreamBlockHeadersArray::TNRDCompressedStreamBlockHeadersArray() = default;

void TNRDCompressedStreamBlockHeadersArray::SetSize(std::int64_t newSize) {
  if (newSize < 0 || newSize > std::numeric_limits<std::int32_t>::max()) IndexError(newSize);
  if (newSize == 0) {
    ItemCount = 0;
    AllocItemCount = 0;
    Items.clear();
    Items.shrink_to_fit();
    Positions.clear();
    Positions.shrink_to_fit();
    return;
  }
  std::int64_t alloc = NextAllocation<std::int64_t>(newSize, ItemCount, AllocItemCount, AllocBy, DeAllocBy, MaxAllocBy);
  if (alloc != AllocItemCount) {
    Items.resize(static_cast<std::size_t>(alloc));
    Positions.resize(static_cast<std::size_t>(alloc));
    AllocItemCount = alloc;
  }
  for (std::int64_t i = ItemCount; i < newSize; ++i) {
    Items[static_cast<std::size_t>(i)] = TNRDCompressedStreamBlockHeader{};
    Positions[static_cast<std::size_t>(i)] = 0;
  }
  ItemCount = newSize;
}

void TNRDCompressedStreamBlockHeadersArray::AppendItem(const TNRDCompressedStreamBlockHeader& value, std::int64_t pos) {
  SetSize(ItemCount + 1);
  Items[static_cast<std::size_t>(ItemCount - 1)] = value;
  Positions[static_cast<std::size_t>(ItemCount - 1)] = pos;
}

std::int64_t TNRDCompressedStreamBlockHeadersArray::FindPosition(std::int64_t pos) const {
  if (ItemCount == 0) return 0;
  auto begin = Positions.begin();
  auto end = begin + ItemCount;
  auto it = std::upper_bound(begin, end, pos);  // first start beyond pos
  if (it == begin) return 0;
  return (it - begin) - 1;
}

// ----- TNRDBitsArray -----------------------------------------------------------------------------
namespace {

std::int32_t ByteCount(std::int32_t bits) { return static_cast<std::int32_t>((static_cast<std::int64_t>(bits) + 7) / 8); }

[[noreturn]] void BitError(int code, std::int32_t no, std::int32_t count) {
  throw ENRDException(code, "Invalid bit no = %d, number of bits = %d", {no, count});
}

}  // namespace

namespace {
// The set bits of each byte value, built once at compile time: bit arrays are made for every table
// open, and filling a table of their own cost more than the rest of their construction.
constexpr std::array<std::uint8_t, 256> kBitsTable = [] {
  std::array<std::uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    int n = 0;
    for (int b = i; b != 0; b >>= 1) n += b & 1;
    t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n);
  }
  return t;
}();
}  // namespace

TNRDBitsArray::TNRDBitsArray() = default;

TNRDBitsArray::~TNRDBitsArray() {
  if (FBits != nullptr) {
    try {
      GlobalMemoryManager().FreeAndNillMem(FBits);
    } catch (...) {
    }
  }
}

void TNRDBitsArray::SetSize(std::int32_t value) {
  if (value < 0) throw ERangeError(Format("Invalid number of bits = %d", {value}));
  if (value == 0) {
    if (FBits != nullptr) GlobalMemoryManager().FreeAndNillMem(FBits);
    FBitCount = 0;
    FNonZeroBitCount = 0;
    return;
  }
  std::int32_t bytes = ByteCount(value);
  if (FBits == nullptr)
    FBits = static_cast<std::uint8_t*>(GlobalMemoryManager().AllocMem(bytes));
  else if (bytes != ByteCount(FBitCount))
    GlobalMemoryManager().ReallocMemAndClearTail(FBits, bytes);
  if (value < FBitCount) {
    // Bits beyond the new size are cleared, so that a later growth brings back zeros and the
    // set-bit count stays true.
    if (value % 8 != 0) FBits[bytes - 1] &= static_cast<std::uint8_t>((1u << (value % 8)) - 1);
    std::int32_t count = 0;
    for (std::int32_t i = 0; i < bytes; ++i) count += kBitsTable[FBits[i]];
    FNonZeroBitCount = count;
  }
  FBitCount = value;
}

bool TNRDBitsArray::GetBit(std::int32_t bitNo) const {
  if (bitNo < 0 || bitNo >= FBitCount) BitError(10394, bitNo, FBitCount);
  return IsBitSetInBuffer(bitNo, FBits);
}

void TNRDBitsArray::SetBit(std::int32_t bitNo, bool value) {
  if (bitNo < 0 || bitNo >= FBitCount) BitError(10395, bitNo, FBitCount);
  bool old = IsBitSetInBuffer(bitNo, FBits);
  if (old == value) return;
  SetBitInBuffer(value, bitNo, FBits);
  FNonZeroBitCount += value ? 1 : -1;
}

void TNRDBitsArray::SetAllBits() {
  if (FBitCount == 0) return;
  std::int32_t bytes = ByteCount(FBitCount);
  std::memset(FBits, 0xFF, static_cast<std::size_t>(bytes));
  if (FBitCount % 8 != 0) FBits[bytes - 1] = static_cast<std::uint8_t>((1u << (FBitCount % 8)) - 1);
  FNonZeroBitCount = FBitCount;
}

std::int32_t TNRDBitsArray::GetBitNoByBitPosition(std::int32_t bitPosition) const {
  if (bitPosition < 0 || bitPosition >= FNonZeroBitCount) BitError(10428, bitPosition, FNonZeroBitCount);
  if (FNonZeroBitCount == FBitCount) return bitPosition;
  std::int32_t bytes = ByteCount(FBitCount);
  std::int32_t count = 0;
  for (std::int32_t i = 0; i < bytes; ++i) {
    std::int32_t c = kBitsTable[FBits[i]];
    if (count + c > bitPosition) {
      for (std::int32_t bit = 0; bit < 8; ++bit) {
        std::int32_t no = i * 8 + bit;
        if (no >= FBitCount) break;
        if ((FBits[i] >> bit) & 1) {
          if (count == bitPosition) return no;
          ++count;
        }
      }
      break;
    }
    count += c;
  }
  BitError(10428, bitPosition, FNonZeroBitCount);
}

std::int32_t TNRDBitsArray::GetBitPositionByBitNo(std::int32_t bitNo) const {
  if (bitNo < 0 || bitNo >= FBitCount) BitError(10429, bitNo, FBitCount);
  if (FNonZeroBitCount == FBitCount) return bitNo;
  std::int32_t whole = bitNo / 8;
  std::int32_t count = 0;
  for (std::int32_t i = 0; i < whole; ++i) count += kBitsTable[FBits[i]];
  std::uint8_t last = static_cast<std::uint8_t>(FBits[whole] & ((2u << (bitNo % 8)) - 1));
  count += kBitsTable[last];
  return count - 1;
}

std::int32_t TNRDBitsArray::CountSetBitsBelow(std::int32_t bitNo) const {
  if (bitNo < 0 || bitNo > FBitCount) BitError(10429, bitNo, FBitCount);
  if (FNonZeroBitCount == FBitCount) return bitNo;
  const std::int32_t whole = bitNo / 8;
  std::int32_t count = 0;
  for (std::int32_t i = 0; i < whole; ++i) count += kBitsTable[FBits[i]];
  if (bitNo % 8 != 0) count += kBitsTable[static_cast<std::uint8_t>(FBits[whole] & ((1u << (bitNo % 8)) - 1))];
  return count;
}

bool TNRDBitsArray::FindBit(bool value, std::int32_t& bitNo) const {
  std::int32_t bytes = ByteCount(FBitCount);
  const std::uint8_t skip = value ? 0x00 : 0xFF;
  for (std::int32_t i = 0; i < bytes; ++i) {
    if (FBits[i] == skip) continue;
    for (std::int32_t bit = 0; bit < 8; ++bit) {
      std::int32_t no = i * 8 + bit;
      if (no >= FBitCount) return false;
      if ((((FBits[i] >> bit) & 1) != 0) == value) {
        bitNo = no;
        return true;
      }
    }
  }
  return false;
}

namespace {
// Eight bytes of the buffer as one word, byte i in bits 8i..8i+7 whatever the host's byte order.
std::uint64_t LoadBitsWord(const std::uint8_t* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}
}  // namespace

// A search over a large, sparse array (an index search that kept a few records of many) skips
// empty stretches eight bytes at a time; bits beyond Size are 0, so a hit is always a real bit.
bool TNRDBitsArray::Find(bool restart, bool goForward, std::int32_t curBitNo, std::int32_t& foundBitNo) const {
  const std::int64_t start = restart ? (goForward ? 0 : static_cast<std::int64_t>(FBitCount) - 1)
                                     : static_cast<std::int64_t>(curBitNo) + (goForward ? 1 : -1);
  if (start < 0 || start >= FBitCount) return false;
  const auto from = static_cast<std::int32_t>(start);
  std::int32_t byte = from >> 3;
  const std::int32_t bytes = ByteCount(FBitCount);
  auto hit = [&](std::int64_t bitNo) {
    if (bitNo >= FBitCount) return false;
    foundBitNo = static_cast<std::int32_t>(bitNo);
    return true;
  };
  if (goForward) {
    const unsigned first = FBits[byte] & (0xFFu << (from & 7));
    if (first != 0) return hit(static_cast<std::int64_t>(byte) * 8 + std::countr_zero(first));
    for (++byte; byte < bytes && (byte & 7) != 0; ++byte)
      if (FBits[byte] != 0) return hit(static_cast<std::int64_t>(byte) * 8 + std::countr_zero(unsigned{FBits[byte]}));
    for (; byte + 8 <= bytes; byte += 8)
      if (const std::uint64_t w = LoadBitsWord(FBits + byte); w != 0)
        return hit(static_cast<std::int64_t>(byte) * 8 + std::countr_zero(w));
    for (; byte < bytes; ++byte)
      if (FBits[byte] != 0) return hit(static_cast<std::int64_t>(byte) * 8 + std::countr_zero(unsigned{FBits[byte]}));
    return false;
  }
  const unsigned first = FBits[byte] & ((2u << (from & 7)) - 1);
  if (first != 0) return hit(static_cast<std::int64_t>(byte) * 8 + std::bit_width(first) - 1);
  for (--byte; byte >= 0 && (byte & 7) != 7; --byte)
    if (FBits[byte] != 0) return hit(static_cast<std::int64_t>(byte) * 8 + std::bit_width(unsigned{FBits[byte]}) - 1);
  for (; byte >= 7; byte -= 8)
    if (const std::uint64_t w = LoadBitsWord(FBits + byte - 7); w != 0)
      return hit(static_cast<std::int64_t>(byte - 7) * 8 + std::bit_width(w) - 1);
  for (; byte >= 0; --byte)
    if (FBits[byte] != 0) return hit(static_cast<std::int64_t>(byte) * 8 + std::bit_width(unsigned{FBits[byte]}) - 1);
  return false;
}

void TNRDBitsArray::SaveToStream(TStream& stream) const {
  std::uint8_t head[4];
  PutLE32(head, static_cast<std::uint32_t>(FBitCount));
  WriteDataToStream(head, 4, stream, 10398);
  PutLE32(head, static_cast<std::uint32_t>(FNonZeroBitCount));
  WriteDataToStream(head, 4, stream, 10427);
  if (FBitCount > 0) {
    if (FBits == nullptr) throw ENRDException(10399, "Nil pointer occured");
    WriteDataToStream(FBits, ByteCount(FBitCount), stream, 10400);
  }
}

void TNRDBitsArray::LoadFromStream(TStream& stream) {
  SetSize(0);
  std::uint8_t head[4];
  ReadDataFromStream(head, 4, stream, 10401);
  std::int32_t size = static_cast<std::int32_t>(GetLE32(head));
  if (size < 0) throw ENRDException(10401, "Invalid number of bits = %d", {size});
  ReadDataFromStream(head, 4, stream, 10426);
  std::int32_t nonZero = static_cast<std::int32_t>(GetLE32(head));
  if (nonZero < 0 || nonZero > size)
    throw ENRDException(10426, "Invalid number of set bits = %d, number of bits = %d", {nonZero, size});
  if (size == 0) return;
  std::int32_t bytes = ByteCount(size);
  // Never allocate more than the stream can still deliver.
  std::int64_t position = stream.Position();
  std::int64_t left = stream.Size() - position;
  if (left < bytes)
    throw ENRDException(10402,
                        "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d",
                        {position, stream.Size(), bytes, std::max<std::int64_t>(left, 0)});
  auto* bits = static_cast<std::uint8_t*>(GlobalMemoryManager().AllocMem(bytes));
  try {
    ReadDataFromStream(bits, bytes, stream, 10402);
    if (size % 8 != 0) bits[bytes - 1] &= static_cast<std::uint8_t>((1u << (size % 8)) - 1);
    std::int32_t count = 0;
    for (std::int32_t i = 0; i < bytes; ++i) count += kBitsTable[bits[i]];
    if (count != nonZero)
      throw ENRDException(10426, "Invalid number of set bits = %d, number of bits set = %d", {nonZero, count});
  } catch (...) {
    GlobalMemoryManager().FreeAndNillMem(bits);
    throw;
  }
  FBits = bits;
  FBitCount = size;
  FNonZeroBitCount = nonZero;
}

// ----- TNRDSortedStringPtrArray ----------------------------------------------------------------
std::int32_t TNRDSortedStringPtrArray::Add(void* item) {
  FItems.push_back(item);
  return Count() - 1;
}
void* TNRDSortedStringPtrArray::Get(std::int32_t index) const {
  if (index < 0 || index >= Count()) IndexError(index);
  return FItems[static_cast<std::size_t>(index)];
}
void TNRDSortedStringPtrArray::Put(std::int32_t index, void* item) {
  if (index < 0 || index >= Count()) IndexError(index);
  FItems[static_cast<std::size_t>(index)] = item;
}
void TNRDSortedStringPtrArray::Insert(std::int32_t index, void* item) {
  if (index < 0 || index > Count()) IndexError(index);
  FItems.insert(FItems.begin() + index, item);
}
void TNRDSortedStringPtrArray::Delete(std::int32_t index) {
  if (index < 0 || index >= Count()) IndexError(index);
  FItems.erase(FItems.begin() + index);
}
void TNRDSortedStringPtrArray::Move(std::int32_t curIndex, std::int32_t newIndex) {
  if (curIndex == newIndex) return;
  void* item = Get(curIndex);
  if (newIndex < 0 || newIndex >= Count()) IndexError(newIndex);
  FItems.erase(FItems.begin() + curIndex);
  FItems.insert(FItems.begin() + newIndex, item);
}
std::int32_t TNRDSortedStringPtrArray::IndexOf(const void* item) const {
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i] == item) return static_cast<std::int32_t>(i);
  return -1;
}

std::string MakeUniqueName(std::string_view prefix) { return std::string(prefix) + GUIDToString(CreateGUID()); }

}  // namespace nrd
