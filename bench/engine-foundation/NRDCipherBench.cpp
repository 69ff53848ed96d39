// Page encryption and decryption throughput of the eight page algorithms on 4056-byte pages. The key
// setup is done once per algorithm and password and reused across pages; a separate run measures the
// cost of building a cipher for every page.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/foundation/NRDCipherPage.h"

namespace {

constexpr int kPage = 4056;

std::vector<std::uint8_t> MakePage() {
  std::vector<std::uint8_t> page(kPage);
  for (int i = 0; i < kPage; ++i) page[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 131 + 7);
  return page;
}

void BM_PageEncrypt(benchmark::State& state) {
  const auto algorithm = static_cast<nrd::TNRDCryptoAlgorithm>(state.range(0));
  state.SetLabel(nrd::CryptoAlgorithmNames[algorithm]);
  nrd::TNRDPageCipher cipher(algorithm, "benchmark password");
  auto page = MakePage();
  for (auto _ : state) {
    cipher.EncryptPage(page.data(), kPage);
    benchmark::DoNotOptimize(page.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPage);
}

void BM_PageDecrypt(benchmark::State& state) {
  const auto algorithm = static_cast<nrd::TNRDCryptoAlgorithm>(state.range(0));
  state.SetLabel(nrd::CryptoAlgorithmNames[algorithm]);
  nrd::TNRDPageCipher cipher(algorithm, "benchmark password");
  auto page = MakePage();
  for (auto _ : state) {
    cipher.DecryptPage(page.data(), kPage);
    benchmark::DoNotOptimize(page.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPage);
}

// A cipher built for each page, as a one-shot call does it: key setup plus one page.
void BM_PageEncryptFreshCipher(benchmark::State& state) {
  const auto algorithm = static_cast<nrd::TNRDCryptoAlgorithm>(state.range(0));
  state.SetLabel(nrd::CryptoAlgorithmNames[algorithm]);
  auto page = MakePage();
  for (auto _ : state) {
    benchmark::DoNotOptimize(nrd::EncryptPageData(algorithm, page.data(), kPage, "benchmark password"));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kPage);
}

}  // namespace

BENCHMARK(BM_PageEncrypt)->DenseRange(0, 7);
BENCHMARK(BM_PageDecrypt)->DenseRange(0, 7);
BENCHMARK(BM_PageEncryptFreshCipher)->DenseRange(0, 7);
