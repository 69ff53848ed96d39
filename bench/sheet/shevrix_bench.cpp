// Benchmarks of the spreadsheet library's core: XML writer throughput on a 50,000 x 12 book of Cyrillic
// text, and the workbook model's heap use per cell (filled and empty grids).
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>
#include <string>

#include "sheet/shevrix.h"
#include "sheet/zxmlwriter.h"

namespace {

constexpr int kRows = 50000;
constexpr int kCols = 12;

// Counts the bytes without keeping them.
class CountingStream : public TZStream {
 public:
  void WriteBuffer(const void*, std::size_t count) override { bytes += count; }
  std::size_t bytes = 0;
};

std::u16string CellText(int col, int row) {
  static const std::u16string words[] = {u"Иванов", u"Петрова", u"Сидоренко", u"Мария", u"Александр",
                                         u"Киев", u"Харьков", u"Одесса", u"венчание", u"рождение"};
  std::u16string s = words[(row + col) % 10];
  s += u' ';
  s += words[(row * 7 + col * 3) % 10];
  return s;
}

std::unique_ptr<TSHEVRIX> MakeBook() {
  auto book = std::make_unique<TSHEVRIX>();
  book->Sheets().SetCount(1);
  TZSheet& s = *book->Sheets().Sheet(0);
  s.SetColCount(kCols);
  s.SetRowCount(kRows);
  for (int c = 0; c < kCols; ++c)
    for (int r = 0; r < kRows; ++r) s.Cell(c, r)->SetData(CellText(c, r));
  return book;
}

// The element structure both workbook writers produce for a grid: row, cell, typed data with text.
void WriteSheet(const TZSheet& s, TZXMLWriterH& xml) {
  xml.WriteTagNode(u"Table", true, true, true);
  for (int r = 0; r < s.RowCount(); ++r) {
    xml.WriteTagNode(u"Row", std::vector<TZAttrArrayH>{{u"ss:Index", u"1"}}, true, true, true);
    for (int c = 0; c < s.ColCount(); ++c) {
      xml.WriteTagNode(u"Cell", true, true, false);
      xml.WriteTag(u"Data", s.Cell(c, r)->Data(), std::vector<TZAttrArrayH>{{u"ss:Type", u"String"}}, true, false,
                   true);
      xml.WriteEndTagNode();
    }
    xml.WriteEndTagNode();
  }
  xml.WriteEndTagNode();
}

void BM_XmlWriterCyrillicBook(benchmark::State& state) {
  auto book = MakeBook();
  std::size_t total = 0;
  for (auto _ : state) {
    CountingStream sink;
    TZXMLWriterH xml;
    xml.SetTabLength(1);
    xml.BeginSaveToStream(&sink);
    WriteSheet(*book->Sheets().Sheet(0), xml);
    xml.EndSaveTo();
    total += sink.bytes;
    benchmark::DoNotOptimize(sink.bytes);
  }
  state.SetBytesProcessed(static_cast<int64_t>(total));
  state.counters["MB_per_document"] = static_cast<double>(total) / static_cast<double>(state.iterations()) / 1e6;
}
BENCHMARK(BM_XmlWriterCyrillicBook)->Unit(benchmark::kMillisecond);

std::size_t HeapInUse() { return mallinfo2().uordblks; }

void BM_ModelMemoryPerFilledCell(benchmark::State& state) {
  double perCell = 0;
  for (auto _ : state) {
    std::size_t before = HeapInUse();
    auto book = MakeBook();
    std::size_t after = HeapInUse();
    perCell = static_cast<double>(after - before) / (kRows * kCols);
    benchmark::DoNotOptimize(book.get());
  }
  state.counters["bytes_per_cell"] = perCell;
  state.counters["sizeof_TZCell"] = sizeof(TZCell);
}
BENCHMARK(BM_ModelMemoryPerFilledCell)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ModelMemoryPerEmptyCell(benchmark::State& state) {
  double perCell = 0;
  for (auto _ : state) {
    std::size_t before = HeapInUse();
    TSHEVRIX book;
    book.Sheets().SetCount(1);
    TZSheet& s = *book.Sheets().Sheet(0);
    s.SetColCount(kCols);
    s.SetRowCount(kRows);
    std::size_t after = HeapInUse();
    // Rows carry their own options object; subtract them to see the cells alone.
    perCell = (static_cast<double>(after - before) - static_cast<double>(kRows) * sizeof(TZRowOptions)) /
              (kRows * kCols);
  }
  state.counters["bytes_per_empty_cell"] = perCell;
  state.counters["sizeof_TZCell"] = sizeof(TZCell);
}
BENCHMARK(BM_ModelMemoryPerEmptyCell)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
