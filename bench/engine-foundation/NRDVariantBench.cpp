// Key comparison cost (ns per CompareKeyValues) for Int32, narrow text and wide text keys, and
// typed values set and read per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "engine/foundation/NRDVariant.h"

namespace {

using namespace nrd;

void BM_CompareKeyInt32(benchmark::State& state) {
  std::vector<std::int32_t> keys(1024);
  for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = static_cast<std::int32_t>(i * 2654435761u);
  std::size_t i = 0;
  for (auto _ : state) {
    const std::int32_t* a = &keys[i & 1023];
    const std::int32_t* b = &keys[(i + 1) & 1023];
    benchmark::DoNotOptimize(CompareKeyValues(a, b, bftSignedInt32, bftSignedInt32, false, false, -1, false,
                                              0x0400, 4, 4));
    ++i;
  }
}

std::vector<std::string> Surnames() {
  // Windows-1251 surnames of similar shape, as a B-tree page holds them.
  const char* base[] = {"\xC8\xE2\xE0\xED\xEE\xE2", "\xCF\xE5\xF2\xF0\xEE\xE2", "\xD1\xE8\xE4\xEE\xF0\xEE\xE2",
                        "\xCA\xEE\xE7\xEB\xEE\xE2", "\xC8\xE2\xE0\xED\xEE\xE2\xE0"};
  std::vector<std::string> r;
  for (int i = 0; i < 64; ++i) r.push_back(std::string(base[i % 5]) + std::to_string(i));
  return r;
}

void BM_CompareKeyNarrowText(benchmark::State& state) {
  auto names = Surnames();
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& a = names[i & 63];
    const std::string& b = names[(i + 7) & 63];
    benchmark::DoNotOptimize(CompareKeyValues(a.c_str(), b.c_str(), bftVarchar, bftVarchar, false, false, -1,
                                              state.range(0) != 0, 0x0400,
                                              static_cast<std::int32_t>(a.size() + 1),
                                              static_cast<std::int32_t>(b.size() + 1)));
    ++i;
  }
}

void BM_CompareKeyWideText(benchmark::State& state) {
  std::vector<std::u16string> names;
  for (const auto& s : Surnames()) {
    TNRDVariant v;
    v.SetAsAnsiString(s);
    names.push_back(v.AsWideString());
  }
  std::size_t i = 0;
  for (auto _ : state) {
    const std::u16string& a = names[i & 63];
    const std::u16string& b = names[(i + 7) & 63];
    benchmark::DoNotOptimize(CompareKeyValues(a.c_str(), b.c_str(), bftWideVarchar, bftWideVarchar, false, false,
                                              -1, false, 0x0400,
                                              static_cast<std::int32_t>((a.size() + 1) * 2),
                                              static_cast<std::int32_t>((b.size() + 1) * 2)));
    ++i;
  }
}

void BM_VariantSetReadInteger(benchmark::State& state) {
  TNRDVariant v(bftSignedInt32);
  std::int32_t n = 0;
  for (auto _ : state) {
    v.SetAsInteger(n++);
    benchmark::DoNotOptimize(v.AsInteger());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_VariantSetReadText(benchmark::State& state) {
  TNRDVariant v(bftVarchar);
  for (auto _ : state) {
    v.SetAsAnsiString("Ivanov");
    benchmark::DoNotOptimize(v.AsAnsiString());
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_VariantIntegerToDoubleRead(benchmark::State& state) {
  TNRDVariant v;
  v.SetAsInteger(12345);
  for (auto _ : state) benchmark::DoNotOptimize(v.AsDouble());
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_CompareKeyInt32);
BENCHMARK(BM_CompareKeyNarrowText)->Arg(0)->Arg(1);
BENCHMARK(BM_CompareKeyWideText);
BENCHMARK(BM_VariantSetReadInteger);
BENCHMARK(BM_VariantSetReadText);
BENCHMARK(BM_VariantIntegerToDoubleRead);
