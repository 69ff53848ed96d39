// Compression dispatch: one pair of whole-buffer routines that compress and decompress engine data
// with zlib, bzip2 or the engine's PPM method, chosen by an algorithm and a mode byte 0..9 (the
// deflate level for ZLIB, the block size in 100,000-byte units for BZIP, the level for PPM).
// The routines never raise: they report success as a Boolean, and the caller raises its own error.
// Output buffers are owned by the caller. Decompression never produces more than the expected size
// the caller gives (PPM requires one); without one it stops at a fixed ceiling.
// Thread safety: ZLIB and BZIP share nothing but the last error text; PPM serialises itself.
//
// Also here: TNRDCompressedBLOBStream, one BLOB value seen as a plain byte stream while it is stored
// inside a host stream, raw or as a chain of independently compressed, checksummed blocks.
// Host layout of a compressed BLOB, from the descriptor's StartPosition, NumBlocks times:
//   0  CompressedSize      i32  bytes of compressed data after the header (> 0)
//   4  UncompressedSize    i32  plain bytes of the block: BlockSize, except 1..BlockSize for the last
//   8  Crc32               u32  CalcCRC32(0, plain bytes)
//   12 OffsetToNextHeader  i64  20 + CompressedSize
//   20 compressed data: one whole CompressBuffer output for the descriptor's algorithm and mode
// A raw BLOB (algorithm 0) is the plain bytes from StartPosition to the end of the host.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDStreams.h"
#include "engine/foundation/NRDTypes.h"

namespace nrd {

// Stored as one byte.
enum TNRDCompressionAlgorithm : std::uint8_t { acaNone = 0, acaZLIB = 1, acaBZIP = 2, acaPPM = 3 };

inline constexpr std::array<std::string_view, 4> CompressionAlgorithmNames = {"NONE", "ZLIB", "BZIP", "PPM"};

enum TNRDCompressionLevel : std::uint8_t { aclNone, aclFastest, aclNormal, aclMaximum };

struct TNRDCompression {
  TNRDCompressionAlgorithm CompressionAlgorithm = acaNone;
  std::uint8_t CompressionMode = 0;
  TNRDCompressionLevel CompressionLevel = aclNone;
};

// False at once (OutSize 0, nothing allocated) for acaNone, InSize <= 0 or an unknown algorithm.
// On success OutBuf holds exactly OutSize > 0 bytes.
bool CompressBuffer(TNRDCompressionAlgorithm Algorithm, std::uint8_t Mode, const void* InBuf, std::int32_t InSize,
                    std::vector<std::uint8_t>& OutBuf, std::int32_t& OutSize);

// On entry OutSize is the expected plain size (0 when unknown; PPM requires it). On success OutBuf
// holds OutSize > 0 plain bytes; on failure it is empty and OutSize is 0.
bool DecompressBuffer(TNRDCompressionAlgorithm Algorithm, const void* InBuf, std::int32_t InSize,
                      std::vector<std::uint8_t>& OutBuf, std::int32_t& OutSize);

// The reason of the last failed ZLIB call of the dispatch ("error -3" and the like); empty before.
std::string GetLastCompressionError();

// The first algorithm whose name equals Name in upper case; acaNone when none does.
TNRDCompressionAlgorithm GetCompressionAlgorithmByName(std::string_view Name);

// Plain bytes per block of a new compressed BLOB by mode: 0 -> 102,400; 1-3 -> 524,288;
// 4-6 -> 1,048,576; 7 and above -> 1,572,864.
std::int32_t BLOBBlockSizeForMode(std::uint8_t Mode);

// Largest block size a BLOB descriptor may name (64 MiB).
inline constexpr std::int32_t kMaxBLOBBlockSize = 64 << 20;

// Largest plain length of a BLOB value. A write whose end, or a size, would pass it raises
// kStreamPositionError (10091) before any byte is written: a gap far past the end would otherwise
// be filled with zero blocks one by one, and the stores keep a value's bytes in one 32-bit block.
inline constexpr std::int64_t kMaxBLOBSize = 2147483647;

// Every failure raises ENRDException with the native code of its place. Descriptors and block
// headers are checked against the host before anything is allocated; a damaged block fails only
// the reads that touch it. Writes append only. The stream keeps the last block it decompressed and
// drops it on every write and size change. The host stream is not owned and must outlive this one.
class TNRDCompressedBLOBStream : public TNRDStream {
 public:
  // ToCreate starts an empty BLOB (a compressed one given BlockSize 0 takes the size of its mode);
  // otherwise the chain (or the raw length) is loaded. With ToRepair a chain cut short or ending in
  // a damaged header keeps its complete blocks instead of failing (10082, 10084).
  TNRDCompressedBLOBStream(TStream& Stream, const TNRDBLOBDescriptor& BLOBDescriptor, bool ToCreate, bool ToRepair);
  ~TNRDCompressedBLOBStream() override = default;

  std::int32_t Read(void* Buffer, std::int32_t Count) override;
  // Appends at the end; a position inside the BLOB writes nothing and returns 0; a position past
  // the end first fills the gap with zero bytes.
  std::int32_t Write(const void* Buffer, std::int32_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t GetSize() override { return FUncompressedSize; }
  void SetSize(std::int64_t NewSize) override;

  // The descriptor as it stands after the last write or size change, for the owner to store.
  const TNRDBLOBDescriptor& BLOBDescriptor() const { return FBLOBDescriptor; }
  TStream& CompressedStream() const { return FCompressedStream; }
  double CompressionRate();
  TNRDCompressionAlgorithm CompressionAlgorithm() const { return FCompressionAlgorithm; }
  std::uint8_t CompressionMode() const { return FCompressionMode; }
  // The host stream's size.
  std::int64_t CompressedSize() { return FCompressedStream.Size(); }
  // Blocks of the chain and their host positions (for tools and tests).
  const TNRDCompressedStreamBlockHeadersArray& Headers() const { return FHeaders; }

 private:
  bool IsCompressed() const { return FCompressionAlgorithm != acaNone; }
  void LoadChain();
  // The plain bytes of block i (checked against its size and checksum).
  const std::vector<std::uint8_t>& ReadBlock(std::int64_t i);
  // Writes block i from n plain bytes at its recorded host position.
  void WriteBlock(std::int64_t i, const std::uint8_t* Data, std::int32_t n);
  void RefreshTotals();
  void DropCache() { FCachedBlock = -1; FCache.clear(); }

  bool FRepair;
  TNRDCompressedStreamBlockHeadersArray FHeaders;  // Positions: host position of each header
  std::int64_t FUncompressedSize = 0;
  std::int64_t FCompressedSize = 0;
  std::int64_t FStartPosition = 0;
  std::int64_t FCurrentHeader = 0;
  std::int64_t FPosition = 0;
  std::uint8_t FCompressionMode = 0;
  TNRDCompressionAlgorithm FCompressionAlgorithm = acaNone;
  double FCompressionRate = 0;
  TStream& FCompressedStream;
  TNRDBLOBDescriptor FBLOBDescriptor;

  std::int64_t FCachedBlock = -1;
  std::vector<std::uint8_t> FCache;
};

}  // namespace nrd
