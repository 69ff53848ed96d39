// Compression dispatch: see NRDCompression.h.
#include "engine/foundation/NRDCompression.h"

#include <algorithm>
#include <limits>
#include <mutex>

#include "engine/foundation/NRDBZip2.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDMemory.h"
#include "engine/foundation/NRDPPM.h"
#include "engine/foundation/NRDZlib.h"

namespace nrd {

namespace {

std::mutex& ErrorLock() {
  static std::mutex lock;
  return lock;
}

std::string& LastCompressionErrorText() {
  static std::string text;
  return text;
}

void SetLastError(const std::string& text) {
  std::lock_guard<std::mutex> guard(ErrorLock());
  LastCompressionErrorText() = text;
}

}  // namespace

bool CompressBuffer(TNRDCompressionAlgorithm Algorithm, std::uint8_t Mode, const void* InBuf, std::int32_t InSize,
                    std::vector<std::uint8_t>& OutBuf, std::int32_t& OutSize) {
  OutSize = 0;
  OutBuf.clear();
  if (Algorithm == acaNone || Algorithm > acaPPM || InSize <= 0 || InBuf == nullptr) return false;
  try {
    switch (Algorithm) {
      case acaZLIB:
        try {
          ZCompressBuffer(InBuf, InSize, OutBuf, Mode, OutSize);
        } catch (const std::exception& e) {
          SetLastError(e.what());
          throw;
        }
        break;
      case acaBZIP:
        BZCompressBuffer(InBuf, InSize, OutBuf, Mode, OutSize);
        break;
      case acaPPM:
        PPMCompressBuffer(InBuf, InSize, OutBuf, Mode, OutSize);
        break;
      default:
        return false;
    }
  } catch (...) {
    OutBuf.clear();
    OutSize = 0;
    return false;
  }
  if (OutSize <= 0) {
    OutBuf.clear();
    OutSize = 0;
    return false;
  }
  return true;
}

bool DecompressBuffer(TNRDCompressionAlgorithm Algorithm, const void* InBuf, std::int32_t InSize,
                      std::vector<std::uint8_t>& OutBuf, std::int32_t& OutSize) {
  const std::int32_t expected = OutSize;
  OutSize = 0;
  OutBuf.clear();
  if (Algorithm == acaNone || Algorithm > acaPPM || InSize <= 0 || InBuf == nullptr || expected < 0) return false;
  try {
    switch (Algorithm) {
      case acaZLIB: {
        std::string reason;
        if (!ZDecompressBuffer(InBuf, InSize, expected, OutSize, OutBuf, &reason) || OutSize <= 0) {
          SetLastError(reason.empty() ? std::string("error 0") : reason);
          OutBuf.clear();
          OutSize = 0;
          return false;
        }
        break;
      }
      case acaBZIP:
        BZDecompressBuffer(InBuf, InSize, expected, OutSize, OutBuf);
        break;
      case acaPPM:
        OutSize = expected;
        PPMDecompressBuffer(InBuf, InSize, OutBuf, OutSize);
        break;
      default:
        return false;
    }
  } catch (...) {
    OutBuf.clear();
    OutSize = 0;
    return false;
  }
  if (OutSize <= 0) {
    OutBuf.clear();
    OutSize = 0;
    return false;
  }
  return true;
}

std::string GetLastCompressionError() {
  std::lock_guard<std::mutex> guard(ErrorLock());
  return LastCompressionErrorText();
}

TNRDCompressionAlgorithm GetCompressionAlgorithmByName(std::string_view Name) {
  std::string upper(Name);
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  for (std::size_t i = 0; i < CompressionAlgorithmNames.size(); ++i)
    if (CompressionAlgorithmNames[i] == upper) return TNRDCompressionAlgorithm(i);
  return acaNone;
}

// ----- Compressed BLOB stream ------------------------------------------------------------------

namespace {

constexpr std::int64_t kHeaderSize = std::int64_t(TNRDCompressedStreamBlockHeader::kSize);
constexpr const char* kCannotSetPosition = "Cannot set stream position to %d. Position = %d, Size = %d";
constexpr const char* kTooSmall = "Stream size = %d too small. Should be at least = %d";
constexpr const char* kCannotReadFrom =
    "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes Read = %d";
constexpr const char* kInvalidDescriptor =
    "Invalid BLOB descriptor. BlockSize = %d, NumBlocks = %d, UncompressedSize = %d, StartPosition = %d, "
    "CompAlg = %d";
constexpr const char* kInvalidHeader =
    "Invalid block header %d. CompressedSize = %d, UncompressedSize = %d, OffsetToNextHeader = %d";

}  // namespace

std::int32_t BLOBBlockSizeForMode(std::uint8_t Mode) {
  if (Mode == 0) return 102400;
  if (Mode <= 3) return 524288;
  if (Mode <= 6) return 1048576;
  return 1572864;
}

TNRDCompressedBLOBStream::TNRDCompressedBLOBStream(TStream& Stream, const TNRDBLOBDescriptor& BLOBDescriptor,
                                                   bool ToCreate, bool ToRepair)
    : FRepair(ToRepair), FCompressedStream(Stream), FBLOBDescriptor(BLOBDescriptor) {
  TNRDBLOBDescriptor& d = FBLOBDescriptor;
  const std::int64_t hostSize = FCompressedStream.Size();
  // The descriptor is checked before anything is allocated.
  std::int32_t blockSize = d.BlockSize;
  if (d.CompressionAlgorithm != acaNone && ToCreate && blockSize == 0)
    blockSize = BLOBBlockSizeForMode(d.CompressionMode);
  const bool badBlockSize = d.CompressionAlgorithm != acaNone && (blockSize <= 0 || blockSize > kMaxBLOBBlockSize);
  if (d.CompressionAlgorithm > acaPPM || badBlockSize || d.StartPosition < 0 || d.NumBlocks < 0 ||
      d.UncompressedSize < 0 || (!ToCreate && d.StartPosition > hostSize))
    throw ENRDException(10084, kInvalidDescriptor,
                        {d.BlockSize, d.NumBlocks, d.UncompressedSize, d.StartPosition, int(d.CompressionAlgorithm)});
  d.BlockSize = blockSize;
  FCompressionAlgorithm = TNRDCompressionAlgorithm(d.CompressionAlgorithm);
  FCompressionMode = d.CompressionMode;
  FStartPosition = d.StartPosition;
  if (IsCompressed()) SetBlockSize(blockSize);

  SetStreamPosition(FCompressedStream, 10103, FStartPosition);
  if (IsCompressed()) {
    if (ToCreate) {
      d.NumBlocks = 0;
      d.UncompressedSize = 0;
    } else {
      LoadChain();
    }
  } else if (ToCreate) {
    d.UncompressedSize = 0;
    d.NumBlocks = 0;
    FUncompressedSize = 0;
  } else {
    FUncompressedSize = d.UncompressedSize;
    if (hostSize - FStartPosition < FUncompressedSize) {
      if (!ToRepair) throw ENRDException(10081, kTooSmall, {hostSize, FStartPosition + FUncompressedSize});
      FUncompressedSize = hostSize - FStartPosition;  // repair keeps what the host holds
    }
  }
  RefreshTotals();
  FPosition = 0;
  FCurrentHeader = 0;
}

void TNRDCompressedBLOBStream::LoadChain() {
  TNRDBLOBDescriptor& d = FBLOBDescriptor;
  const std::int64_t hostSize = FCompressedStream.Size();
  if (FCompressedStream.Position() != FStartPosition)
    throw ENRDException(10080, kCannotSetPosition, {FStartPosition, FCompressedStream.Position(), hostSize});
  FHeaders.SetSize(0);
  FUncompressedSize = 0;
  // Every block takes at least 21 bytes of the host, so the loop ends within the host's size.
  for (std::int64_t i = 0; i < d.NumBlocks; ++i) {
    const std::int64_t p = FCompressedStream.Position();
    auto cut = [&](int code, const char* msg, std::initializer_list<TVarRec> args) {
      if (!FRepair) throw ENRDException(code, msg, args);
      d.NumBlocks = i;
    };
    if (p < 0 || hostSize - p < kHeaderSize) {
      cut(10082, kTooSmall, {hostSize, p + kHeaderSize});
      break;
    }
    std::uint8_t raw[TNRDCompressedStreamBlockHeader::kSize];
    ReadDataFromStream(raw, std::int32_t(kHeaderSize), FCompressedStream, 10082);
    const TNRDCompressedStreamBlockHeader h = TNRDCompressedStreamBlockHeader::Decode(raw);
    const bool previousFull = i == 0 || FHeaders.Items[std::size_t(i - 1)].UncompressedSize == d.BlockSize;
    if (h.CompressedSize <= 0 || h.UncompressedSize <= 0 || h.UncompressedSize > d.BlockSize ||
        h.OffsetToNextHeader < kHeaderSize + h.CompressedSize || h.OffsetToNextHeader > hostSize - p ||
        !previousFull) {
      if (h.CompressedSize > 0 && hostSize - p - kHeaderSize < h.CompressedSize) {
        cut(10082, kTooSmall, {hostSize, p + kHeaderSize + h.CompressedSize});
      } else {
        cut(10084, kInvalidHeader, {i, h.CompressedSize, h.UncompressedSize, h.OffsetToNextHeader});
      }
      break;
    }
    FHeaders.AppendItem(h, p);
    FUncompressedSize += h.UncompressedSize;
    SetStreamPosition(FCompressedStream, 10083, p + h.OffsetToNextHeader);
  }
  d.NumBlocks = FHeaders.ItemCount;
}

void TNRDCompressedBLOBStream::RefreshTotals() {
  FBLOBDescriptor.UncompressedSize = FUncompressedSize;
  if (IsCompressed()) {
    FBLOBDescriptor.NumBlocks = FHeaders.ItemCount;
    FCompressedSize = 0;
    for (std::int64_t i = 0; i < FHeaders.ItemCount; ++i) FCompressedSize += FHeaders.Items[std::size_t(i)].CompressedSize;
  } else {
    FCompressedSize = FUncompressedSize;
  }
  CompressionRate();
}

double TNRDCompressedBLOBStream::CompressionRate() {
  if (IsCompressed() && FUncompressedSize > 0)
    FCompressionRate = (1.0 - double(FCompressedSize) / double(FUncompressedSize)) * 100.0;
  else
    FCompressionRate = 0;
  return FCompressionRate;
}

const std::vector<std::uint8_t>& TNRDCompressedBLOBStream::ReadBlock(std::int64_t i) {
  if (i == FCachedBlock) return FCache;
  DropCache();
  const TNRDCompressedStreamBlockHeader& h = FHeaders.Items[std::size_t(i)];
  const std::int64_t pos = FHeaders.Positions[std::size_t(i)] + kHeaderSize;
  TNRDMemoryPtr packed = NRDAllocMem(h.CompressedSize);
  if (FCompressedStream.Seek(pos, TSeekOrigin::soBeginning) != pos)
    throw ENRDException(10086, kCannotReadFrom, {pos, FCompressedStream.Size(), h.CompressedSize, 0});
  ReadDataFromStream(packed.get(), h.CompressedSize, FCompressedStream, 10086);
  std::vector<std::uint8_t> plain;
  std::int32_t plainSize = h.UncompressedSize;
  if (!DecompressBuffer(FCompressionAlgorithm, packed.get(), h.CompressedSize, plain, plainSize))
    throw ENRDException(10087, "Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d",
                        {int(FCompressionAlgorithm), h.CompressedSize, plainSize});
  if (plainSize != h.UncompressedSize)
    throw ENRDException(10088, "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
                        {plainSize, h.UncompressedSize});
  const std::uint32_t crc = CalcCRC32(0, plain.data(), plainSize);
  if (crc != h.Crc32)
    throw ENRDException(10089, "Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d", {crc, h.Crc32});
  FCache = std::move(plain);
  FCachedBlock = i;
  return FCache;
}

void TNRDCompressedBLOBStream::WriteBlock(std::int64_t i, const std::uint8_t* Data, std::int32_t n) {
  DropCache();
  TNRDCompressedStreamBlockHeader& h = FHeaders.Items[std::size_t(i)];
  std::vector<std::uint8_t> packed;
  std::int32_t packedSize = 0;
  if (!CompressBuffer(FCompressionAlgorithm, FCompressionMode, Data, n, packed, packedSize))
    throw ENRDException(10085, "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, OutSize = %d",
                        {int(FCompressionAlgorithm), int(FCompressionMode), n, packedSize});
  h.UncompressedSize = n;
  h.Crc32 = CalcCRC32(0, Data, n);
  h.CompressedSize = packedSize;
  h.OffsetToNextHeader = kHeaderSize + packedSize;
  std::uint8_t raw[TNRDCompressedStreamBlockHeader::kSize];
  h.Encode(raw);
  SetStreamPosition(FCompressedStream, 10099, FHeaders.Positions[std::size_t(i)]);
  WriteDataToStream(raw, std::int32_t(kHeaderSize), FCompressedStream, 10100);
  WriteDataToStream(packed.data(), packedSize, FCompressedStream, 10101);
}

std::int32_t TNRDCompressedBLOBStream::Read(void* Buffer, std::int32_t Count) {
  if (!IsCompressed()) {
    if (Count <= 0 || FPosition < 0) return 0;
    FCompressedStream.Seek(FStartPosition + FPosition, TSeekOrigin::soBeginning);
    const std::int32_t got = FCompressedStream.Read(Buffer, Count);
    FPosition = FCompressedStream.Position() - FStartPosition;
    return got;
  }
  if (Count <= 0 || FPosition < 0 || FPosition >= FUncompressedSize) return 0;
  const std::int32_t bs = FBLOBDescriptor.BlockSize;
  auto* out = static_cast<std::uint8_t*>(Buffer);
  std::int32_t delivered = 0;
  while (delivered < Count && FPosition < FUncompressedSize) {
    const std::int64_t block = FPosition / bs;
    const std::int64_t offset = FPosition % bs;
    if (block >= FHeaders.ItemCount) throw ENRDException(10090, "Cannot read from stream. ReadSize = %d", {0});
    FCurrentHeader = block;
    const std::vector<std::uint8_t>& plain = ReadBlock(block);
    // The block's own size bounds the piece, whatever the block size says.
    const std::int64_t piece =
        std::min({std::int64_t(bs) - offset, std::int64_t(Count - delivered), FUncompressedSize - FPosition,
                  std::int64_t(plain.size()) - offset});
    if (piece <= 0) throw ENRDException(10090, "Cannot read from stream. ReadSize = %d", {piece});
    std::copy_n(plain.data() + offset, piece, out + delivered);
    delivered += std::int32_t(piece);
    FPosition += piece;
  }
  return delivered;
}

std::int32_t TNRDCompressedBLOBStream::Write(const void* Buffer, std::int32_t Count) {
  if (!IsCompressed()) {
    if (Count <= 0 || FPosition < 0) return 0;
    if (FPosition > kMaxBLOBSize - Count || FPosition > std::numeric_limits<std::int64_t>::max() - FStartPosition - Count)
      RaisePastLimit(FPosition, Count, FUncompressedSize);
    FCompressedStream.Seek(FStartPosition + FPosition, TSeekOrigin::soBeginning);
    const std::int32_t put = FCompressedStream.Write(Buffer, Count);
    FPosition = FCompressedStream.Position() - FStartPosition;
    FUncompressedSize = FCompressedStream.Size() - FStartPosition;
    RefreshTotals();
    if (put > 0) FModified = true;
    return put;
  }
  if (Count <= 0 || FPosition < FUncompressedSize || Buffer == nullptr) {
    RefreshTotals();
    return 0;
  }
  if (FPosition > kMaxBLOBSize - Count) RaisePastLimit(FPosition, Count, FUncompressedSize);
  if (FPosition > FUncompressedSize) {
    const std::int64_t wanted = FPosition;
    SetSize(wanted);
    if (FPosition != wanted) throw ENRDException(10091, kCannotSetPosition, {wanted, FPosition, FUncompressedSize});
    if (FUncompressedSize != wanted)
      throw ENRDException(10092, "Invalid stream size = %d. Should be = %d", {FUncompressedSize, wanted});
  }
  DropCache();
  const auto* in = static_cast<const std::uint8_t*>(Buffer);
  const std::int32_t bs = FBLOBDescriptor.BlockSize;
  std::int32_t done = 0;
  const std::int64_t r = FUncompressedSize % bs;
  if (FHeaders.ItemCount > 0 && r > 0) {
    // Complete the partial last block and write it again at its own place.
    const std::int64_t last = FHeaders.ItemCount - 1;
    FCurrentHeader = last;
    std::vector<std::uint8_t> plain = ReadBlock(last);
    const std::int32_t n = std::int32_t(std::min<std::int64_t>(bs - r, Count));
    plain.insert(plain.end(), in, in + n);
    WriteBlock(last, plain.data(), std::int32_t(plain.size()));
    done = n;
  }
  if (done < Count) {
    std::int64_t next = FStartPosition;
    if (FHeaders.ItemCount > 0) {
      const std::int64_t last = FHeaders.ItemCount - 1;
      next = FHeaders.Positions[std::size_t(last)] + FHeaders.Items[std::size_t(last)].OffsetToNextHeader;
    }
    SetStreamPosition(FCompressedStream, 10102, next);
    while (done < Count) {
      const std::int32_t piece = std::min(bs, Count - done);
      FHeaders.AppendItem(TNRDCompressedStreamBlockHeader{}, FCompressedStream.Position());
      FCurrentHeader = FHeaders.ItemCount - 1;
      WriteBlock(FCurrentHeader, in + done, piece);
      done += piece;
    }
  }
  FUncompressedSize += Count;
  FPosition += Count;
  FModified = true;
  RefreshTotals();
  return Count;
}

void TNRDCompressedBLOBStream::SetSize(std::int64_t NewSize) {
  DropCache();
  if (NewSize < 0)
    throw ENRDException(10098, "Invalid extension size. NewSize = %d, UncompressedSize = %d, ExtensionSize = %d",
                        {NewSize, FUncompressedSize, NewSize - FUncompressedSize});
  if (NewSize > kMaxBLOBSize)
    throw ENRDException(kStreamPositionError, kCannotSetPosition, {NewSize, FPosition, FUncompressedSize});
  if (!IsCompressed()) {
    FCompressedStream.SetSize(FStartPosition + NewSize);
  } else if (NewSize > FUncompressedSize) {
    const std::int64_t keep = FPosition;
    const std::int32_t bs = FBLOBDescriptor.BlockSize;
    std::vector<std::uint8_t> zeros(std::size_t(bs), 0);
    FPosition = FUncompressedSize;
    try {
      while (FUncompressedSize < NewSize) {
        const std::int32_t piece = std::int32_t(std::min<std::int64_t>(bs, NewSize - FUncompressedSize));
        const std::int32_t put = Write(zeros.data(), piece);
        if (put != piece)
          throw ENRDException(
              10097, "Cannot write to stream. Position = %d, Stream size = %d, Block size = %d, Bytes Write = %d",
              {FPosition, FUncompressedSize, piece, put});
      }
    } catch (...) {
      FPosition = keep;
      throw;
    }
    FPosition = keep;
  } else if (NewSize < FUncompressedSize) {
    const std::int32_t bs = FBLOBDescriptor.BlockSize;
    const std::int64_t q = NewSize / bs;
    const std::int64_t r = NewSize % bs;
    if (r == 0) {
      FHeaders.SetSize(q);
    } else {
      std::vector<std::uint8_t> plain = ReadBlock(q);
      plain.resize(std::size_t(r));
      FHeaders.SetSize(q + 1);
      const std::int64_t pos = FHeaders.Positions[std::size_t(q)];
      FCompressedStream.SetSize(pos);
      if (FCompressedStream.Size() != pos)
        throw ENRDException(10093, "Invalid stream size = %d. Should be = %d", {FCompressedStream.Size(), pos});
      SetStreamPosition(FCompressedStream, 10094, pos);
      try {
        WriteBlock(q, plain.data(), std::int32_t(r));
      } catch (const ENRDException& e) {
        // The header or the data did not fit in the host.
        if (e.NativeError == 10100) throw ENRDException(10095, "Error writing to stream");
        if (e.NativeError == 10101) throw ENRDException(10096, "Error writing to stream");
        throw;
      }
    }
  }
  FUncompressedSize = NewSize;
  if (FPosition > FUncompressedSize) FPosition = FUncompressedSize;
  FModified = true;
  RefreshTotals();
}

std::int64_t TNRDCompressedBLOBStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  std::int64_t base = 0;
  if (Origin == TSeekOrigin::soCurrent) base = FPosition;
  if (Origin == TSeekOrigin::soEnd) base = FUncompressedSize;
  const std::int64_t target = SeekTarget(base, Offset, FPosition, FUncompressedSize);
  if (!IsCompressed()) {
    // The host position must not wrap either.
    const std::int64_t hostTarget = SeekTarget(FStartPosition, target, FPosition, FUncompressedSize);
    FCompressedStream.Seek(hostTarget, TSeekOrigin::soBeginning);
    FPosition = FCompressedStream.Position() - FStartPosition;
    return FPosition;
  }
  if (target <= 0) {
    FPosition = 0;
    FCurrentHeader = 0;
  } else {
    FPosition = target;
    if (FHeaders.ItemCount > 0)
      FCurrentHeader = std::min<std::int64_t>(target / FBLOBDescriptor.BlockSize, FHeaders.ItemCount - 1);
  }
  return FPosition;
}

}  // namespace nrd
