// Save-layer workloads: a 50,000 x 12 table written as XLSX and as Excel 2003 XML through the export
// front end, and the zip layer alone deflating one large part. The peer comparison with libxlsxwriter is
// the separate program in peer/.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "bench/sheet/BenchTable.h"
#include "sheet/bookSave.h"
#include "sheet/bookZipArchive.h"

namespace {

std::string BenchFile(const char* name) {
  return (std::filesystem::temp_directory_path() / ("trevolan-bench-" + std::to_string(::getpid()) + name)).string();
}

void BM_BuildBook(benchmark::State& state) {
  for (auto _ : state) {
    TSHEVRIX book;
    BuildBenchBook(book);
    benchmark::DoNotOptimize(book.Sheets().Sheet(0)->Cell(0, 0));
  }
}

void SaveAs(benchmark::State& state, const char* name) {
  TSHEVRIX book;
  BuildBenchBook(book);
  const std::string file = BenchFile(name);
  for (auto _ : state) {
    if (TZBookSave::From(&book).Charset("utf-8").Save(file) != 0) state.SkipWithError("save failed");
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(file));
  std::filesystem::remove(file);
}

void BM_SaveXlsx(benchmark::State& state) { SaveAs(state, ".xlsx"); }
void BM_SaveXml2003(benchmark::State& state) { SaveAs(state, ".xml"); }

void BM_ZipOnePart(benchmark::State& state) {
  std::string part;
  for (int r = 0; r < 200000; ++r) part += "   <c r=\"A" + std::to_string(r) + "\" s=\"3\" t=\"str\"><v>" + BenchCellText(r + 1, r % 12) + "</v></c>\r\n";
  const std::string file = BenchFile(".zip");
  for (auto _ : state) {
    auto gen = TZxZipArchive::Create(file);
    TZxStream* s = gen->NewStream("xl/worksheets/sheet1.xml");
    s->Write(part);
    gen->SealStream(s);
    gen->SaveAndSeal();
    TZxZipGen::Free(gen);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(part.size()));
  std::filesystem::remove(file);
}

}  // namespace

BENCHMARK(BM_BuildBook)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_SaveXlsx)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SaveXml2003)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ZipOnePart)->Unit(benchmark::kMillisecond);
