// The engine's own PPM compressor: prediction by partial matching with information inheritance
// (PPMd variant G family: sub-allocator with unit free lists, SEE and binary-context tables, a
// carry-less range coder), working on whole memory buffers.
//
// Stream layout (little-endian):
//   offset 0, 4 bytes: header word. bits 0-3 = model order - 1, bits 4-11 = model memory in MB - 1,
//                      bits 12-15 = variant letter - 'A' (6, "G"), bits 16-31 = 0.
//   offset 4, ...    : range-coder output for the input bytes and the end-of-data symbol,
//                      ending with the coder's 4-byte flush.
// The stream stores neither the plain size nor a checksum: the caller supplies the plain size.
//
// Model state lives in a per-call object; one process-wide lock still serialises the calls.
// Decoding never writes past the caller's expected size and ends in failure (never a loop or an
// out-of-bounds access) on a damaged stream.
// Errors: both routines raise std::runtime_error ("PPM Compression error", "PPM Decompression error",
// "PPM DecpmpressBuf: OutSize must be set"); the compression dispatch turns them into False.
#pragma once

#include <cstdint>
#include <vector>

namespace nrd {

// Order and model memory of a level 1..9 (levels below 1 count as 1, above 9 as 9).
struct TPPMLevelParams {
  int Order;
  int MemoryMB;
};
TPPMLevelParams PPMLevelParams(int Level);

// The stream's header word for an order (1..16) and memory size (1..256 MB), variant "G".
std::uint32_t PPMHeaderWord(int Order, int MemoryMB);

// Compresses InSize bytes (InSize >= 1) at Level. OutBuf receives exactly OutSize bytes.
// Raises std::runtime_error on failure.
void PPMCompressBuffer(const void* InBuf, std::int32_t InSize, std::vector<std::uint8_t>& OutBuf, int Level,
                       std::int32_t& OutSize);

// Decompresses a stream. On entry OutSize is the expected plain size (> 0); decoding that would
// produce more bytes fails. On return OutSize is the number of bytes decoded and OutBuf holds them.
// Raises std::runtime_error on failure (bad header, damaged stream, too much output, no memory).
void PPMDecompressBuffer(const void* InBuf, std::int32_t InSize, std::vector<std::uint8_t>& OutBuf,
                         std::int32_t& OutSize);

}  // namespace nrd
