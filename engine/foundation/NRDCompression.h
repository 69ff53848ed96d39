// Compression dispatch: one pair of whole-buffer routines that compress and decompress engine data
// with zlib, bzip2 or the engine's PPM method, chosen by an algorithm and a mode byte 0..9 (the
// deflate level for ZLIB, the block size in 100,000-byte units for BZIP, the level for PPM).
// The routines never raise: they report success as a Boolean, and the caller raises its own error.
// Output buffers are owned by the caller. Decompression never produces more than the expected size
// the caller gives (PPM requires one); without one it stops at a fixed ceiling.
// Thread safety: ZLIB and BZIP share nothing but the last error text; PPM serialises itself.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

}  // namespace nrd
