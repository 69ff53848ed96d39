// CRC-32 throughput of the engine's CalcCRC32 against zlib's crc32 (bytes per second; the report
// shows GB/s), and the plain table loop for reference.
#include <benchmark/benchmark.h>

#include <vector>
#include <zlib.h>

#include "engine/foundation/NRDStreams.h"

namespace {

std::vector<unsigned char> Data(std::size_t n) {
  std::vector<unsigned char> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 31 + 7);
  return v;
}

void BM_CalcCRC32(benchmark::State& state) {
  auto data = Data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(nrd::CalcCRC32(0, data.data(), static_cast<std::int64_t>(data.size())));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_ZlibCrc32(benchmark::State& state) {
  auto data = Data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(crc32(0, data.data(), static_cast<uInt>(data.size())));
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_TableLoopCrc32(benchmark::State& state) {
  auto data = Data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::uint32_t crc = 0;
    for (unsigned char b : data) crc = nrd::CRC32Table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_MemoryStreamAppend(benchmark::State& state) {
  auto piece = Data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    nrd::TNRDMemoryStream s;
    for (int i = 0; i < 1000; ++i) s.Write(piece.data(), static_cast<std::int32_t>(piece.size()));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0) * 1000);
}

}  // namespace

BENCHMARK(BM_CalcCRC32)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_ZlibCrc32)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_TableLoopCrc32)->Arg(4096)->Arg(1 << 20);
BENCHMARK(BM_MemoryStreamAppend)->Arg(100);
