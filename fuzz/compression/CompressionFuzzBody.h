// One fuzz input against the decompressors and the compressed BLOB chain loader. Shared by the
// libFuzzer target and the test that replays the kept corpus.
// Input: byte 0 picks the case (mod 5):
//   0-2  decompress with ZLIB, BZIP or PPM; bytes 1-3 give the expected size (1..1 MiB; bit 7 of
//        byte 3 asks ZLIB for an unknown size); the stream starts at byte 4.
//   3    a BLOB: bytes 1-32 are the descriptor (block size folded to at most 64 KiB), byte 33 bit 0
//        asks for repair, the rest is the host stream; the BLOB is read in 4 KB pieces, appended to
//        and cut.
//   4    round trip of the bytes after byte 1 with the algorithm and mode of byte 1; a mismatch traps.
// Only ENRDException may leave the engine; anything else (or a sanitizer report) is a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/foundation/NRDCompression.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/foundation/NRDTypes.h"

namespace compression_fuzz {

inline void Decompress(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return;
  const auto alg = nrd::TNRDCompressionAlgorithm(1 + data[0] % 5);
  std::int32_t expected = 1 + (data[1] | (data[2] << 8) | ((data[3] & 0x0F) << 16));
  if (alg == nrd::acaZLIB && (data[3] & 0x80)) expected = 0;
  std::vector<std::uint8_t> out;
  std::int32_t outSize = expected;
  const bool ok = nrd::DecompressBuffer(alg, data + 4, std::int32_t(size - 4), out, outSize);
  if (ok && (outSize <= 0 || std::size_t(outSize) != out.size() || (expected > 0 && outSize > expected)))
    __builtin_trap();
  if (!ok && (outSize != 0 || !out.empty())) __builtin_trap();
}

inline void Blob(const std::uint8_t* data, std::size_t size) {
  if (size < 34) return;
  nrd::TNRDBLOBDescriptor d = nrd::TNRDBLOBDescriptor::Decode(data + 1);
  d.BlockSize = d.BlockSize < 0 ? d.BlockSize : d.BlockSize % 65536;
  const bool repair = data[33] & 1;
  nrd::TNRDMemoryStream host;
  if (size > 34) host.Write(data + 34, std::int32_t(size - 34));
  try {
    nrd::TNRDCompressedBLOBStream blob(host, d, false, repair);
    std::vector<std::uint8_t> piece(4096);
    std::int64_t total = 0;
    try {
      for (;;) {
        const std::int32_t got = blob.Read(piece.data(), 4096);
        if (got < 0 || got > 4096) __builtin_trap();
        if (got == 0) break;
        total += got;
        if (total > blob.Size() + std::int64_t(host.Size())) __builtin_trap();
      }
    } catch (const nrd::ENRDException&) {
    }
    try {
      blob.Seek(0, nrd::TSeekOrigin::soEnd);
      blob.Write(data, std::int32_t(size < 100 ? size : 100));
      blob.SetSize(blob.Size() / 2);
      blob.Seek(0, nrd::TSeekOrigin::soBeginning);
      blob.Read(piece.data(), 4096);
    } catch (const nrd::ENRDException&) {
    }
  } catch (const nrd::ENRDException&) {
  }
}

inline void RoundTrip(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return;
  const auto alg = nrd::TNRDCompressionAlgorithm(1 + data[1] % 3);
  const auto mode = std::uint8_t(alg == nrd::acaPPM ? 1 + (data[1] >> 2) % 3 : 1 + (data[1] >> 2) % 9);
  const std::uint8_t* in = data + 2;
  const std::int32_t n = std::int32_t(size - 2);
  std::vector<std::uint8_t> packed;
  std::int32_t packedSize = 0;
  if (!nrd::CompressBuffer(alg, mode, in, n, packed, packedSize)) __builtin_trap();
  std::vector<std::uint8_t> plain;
  std::int32_t plainSize = n;
  if (!nrd::DecompressBuffer(alg, packed.data(), packedSize, plain, plainSize)) __builtin_trap();
  if (plainSize != n || std::memcmp(plain.data(), in, std::size_t(n)) != 0) __builtin_trap();
}

inline int CompressionFuzzOne(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > (1u << 20)) return 0;
  switch (data[0] % 5) {
    case 0:
    case 1:
    case 2:
      Decompress(data, size);
      break;
    case 3:
      Blob(data, size);
      break;
    default:
      RoundTrip(data, size);
      break;
  }
  return 0;
}

}  // namespace compression_fuzz
