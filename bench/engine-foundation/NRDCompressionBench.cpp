// Compression throughput and ratio of each algorithm at modes 1, 6 and 9 on a 10 MB text corpus
// (the sample GEDCOM files repeated with their numbers varied) and on 10 MB of binary records,
// and a 1 MB BLOB read back in 4 KB pieces. Counters: "ratio" = compressed / plain.
// Target: PPM at its default mode (6) gives a smaller output than bzip2 at mode 9 on the text; the
// "TextTarget" benchmark reports both sizes and ppm_smaller = 1 when it holds.
#include <benchmark/benchmark.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/foundation/NRDCompression.h"

namespace {

using namespace nrd;

constexpr std::size_t kCorpusSize = 10u << 20;

const std::vector<std::uint8_t>& TextCorpus() {
  static const std::vector<std::uint8_t> corpus = [] {
    std::string sample;
    const auto dir = std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "tests" / "data" / "gedcom";
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
      if (e.path().extension() != ".ged") continue;
      std::ifstream f(e.path(), std::ios::binary);
      sample.append(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    if (sample.empty()) sample = "0 @I1@ INDI\r\n1 NAME Ivan /Petrov/\r\n1 BIRT\r\n2 DATE 12 MAR 1885\r\n";
    std::mt19937 rng(2024);
    std::vector<std::uint8_t> out;
    out.reserve(kCorpusSize + sample.size());
    while (out.size() < kCorpusSize) {
      // Each copy gets its own numbers (identifiers, days, years), as a larger tree would.
      for (std::size_t i = 0; i < sample.size(); ++i) {
        const char c = sample[i];
        if (std::isdigit(static_cast<unsigned char>(c)) && rng() % 3 == 0)
          out.push_back(std::uint8_t('0' + rng() % 10));
        else
          out.push_back(std::uint8_t(c));
      }
    }
    out.resize(kCorpusSize);
    return out;
  }();
  return corpus;
}

const std::vector<std::uint8_t>& BinaryCorpus() {
  static const std::vector<std::uint8_t> corpus = [] {
    // Fixed-size records: a growing id, a small category, a day number, a double and some noise.
    std::mt19937 rng(7);
    std::vector<std::uint8_t> out;
    out.reserve(kCorpusSize);
    std::uint32_t id = 1000;
    while (out.size() < kCorpusSize) {
      std::uint8_t rec[32] = {};
      id += 1 + rng() % 3;
      std::memcpy(rec, &id, 4);
      rec[4] = std::uint8_t(rng() % 5);
      const std::int32_t day = 650000 + std::int32_t(rng() % 40000);
      std::memcpy(rec + 8, &day, 4);
      const double v = double(rng() % 100000) / 100.0;
      std::memcpy(rec + 16, &v, 8);
      for (int k = 24; k < 32; ++k) rec[k] = std::uint8_t(rng() % 4 == 0 ? rng() : 0);
      out.insert(out.end(), rec, rec + 32);
    }
    out.resize(kCorpusSize);
    return out;
  }();
  return corpus;
}

const std::vector<std::uint8_t>& Corpus(int which) { return which == 0 ? TextCorpus() : BinaryCorpus(); }

void BM_Compress(benchmark::State& state) {
  const auto alg = TNRDCompressionAlgorithm(state.range(0));
  const auto mode = std::uint8_t(state.range(1));
  const auto& in = Corpus(int(state.range(2)));
  std::vector<std::uint8_t> out;
  std::int32_t outSize = 0;
  for (auto _ : state) {
    if (!CompressBuffer(alg, mode, in.data(), std::int32_t(in.size()), out, outSize))
      state.SkipWithError("compression failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in.size()));
  state.counters["ratio"] = double(outSize) / double(in.size());
  state.SetLabel(std::string(CompressionAlgorithmNames[alg]) + (state.range(2) == 0 ? " text" : " binary"));
}

void BM_Decompress(benchmark::State& state) {
  const auto alg = TNRDCompressionAlgorithm(state.range(0));
  const auto mode = std::uint8_t(state.range(1));
  const auto& in = Corpus(int(state.range(2)));
  std::vector<std::uint8_t> packed;
  std::int32_t packedSize = 0;
  if (!CompressBuffer(alg, mode, in.data(), std::int32_t(in.size()), packed, packedSize)) {
    state.SkipWithError("compression failed");
    return;
  }
  std::vector<std::uint8_t> out;
  for (auto _ : state) {
    std::int32_t outSize = std::int32_t(in.size());
    if (!DecompressBuffer(alg, packed.data(), packedSize, out, outSize)) state.SkipWithError("decompression failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(in.size()));
  state.counters["ratio"] = double(packedSize) / double(in.size());
  state.SetLabel(std::string(CompressionAlgorithmNames[alg]) + (state.range(2) == 0 ? " text" : " binary"));
}

void Args(benchmark::internal::Benchmark* b) {
  for (int alg : {acaZLIB, acaBZIP, acaPPM})
    for (int mode : {1, 6, 9})
      for (int corpus : {0, 1}) b->Args({alg, mode, corpus});
  b->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
}

BENCHMARK(BM_Compress)->Apply(Args);
BENCHMARK(BM_Decompress)->Apply(Args);

// PPM at its default mode against bzip2 at mode 9 on the text corpus.
void BM_TextTarget(benchmark::State& state) {
  const auto& in = TextCorpus();
  std::vector<std::uint8_t> out;
  std::int32_t ppm = 0, bz = 0;
  for (auto _ : state) {
    CompressBuffer(acaPPM, 6, in.data(), std::int32_t(in.size()), out, ppm);
    CompressBuffer(acaBZIP, 9, in.data(), std::int32_t(in.size()), out, bz);
  }
  state.counters["ppm6_bytes"] = ppm;
  state.counters["bzip9_bytes"] = bz;
  state.counters["ppm_smaller"] = ppm > 0 && ppm < bz ? 1 : 0;
}
BENCHMARK(BM_TextTarget)->Unit(benchmark::kMillisecond)->Iterations(1);

// A 1 MB BLOB (mode 6, one block) read back in 4 KB pieces.
void BM_BLOBRead4K(benchmark::State& state) {
  const auto alg = TNRDCompressionAlgorithm(state.range(0));
  const std::vector<std::uint8_t> data(TextCorpus().begin(), TextCorpus().begin() + (1 << 20));
  TNRDMemoryStream host;
  TNRDBLOBDescriptor d;
  d.CompressionAlgorithm = alg;
  d.CompressionMode = 6;
  {
    TNRDCompressedBLOBStream blob(host, d, true, false);
    blob.Write(data.data(), std::int32_t(data.size()));
    d = blob.BLOBDescriptor();
  }
  std::vector<std::uint8_t> piece(4096);
  for (auto _ : state) {
    TNRDCompressedBLOBStream blob(host, d, false, false);
    std::int64_t total = 0;
    while (std::int32_t got = blob.Read(piece.data(), 4096)) total += got;
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(data.size()));
  state.SetLabel(std::string(CompressionAlgorithmNames[alg]));
}
BENCHMARK(BM_BLOBRead4K)->Arg(acaNone)->Arg(acaZLIB)->Arg(acaBZIP)->Arg(acaPPM)->Unit(benchmark::kMillisecond);

}  // namespace
