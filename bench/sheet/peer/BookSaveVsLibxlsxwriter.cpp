// Our XLSX and Excel 2003 XML writers and libxlsxwriter writing the same 50,000 x 12 table, side by side.
// Each writer runs in a child process of its own, so its peak resident memory (from wait4) is its own;
// the time covers filling the writer's table and writing the file. Prints a table and the ratios of our
// XLSX writer to libxlsxwriter (targets: time at most 1.0x, memory at most 2x).
//
//   bench_sheet_vs_libxlsxwriter [rows] [runs]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/sheet/BenchTable.h"
#include "sheet/bookSave.h"

namespace {

struct Result {
  double ms = 0;
  double peakMB = 0;
  double fileKB = 0;
  bool ok = false;
};

int OurSave(const std::string& file, int rows) {
  TSHEVRIX book;
  BuildBenchBook(book, rows);
  return TZBookSave::From(&book).Charset("utf-8").Save(file);
}

int LibxlsxwriterSave(const std::string& file, int rows) {
  lxw_workbook* wb = workbook_new(file.c_str());
  if (wb == nullptr) return 1;
  lxw_worksheet* ws = workbook_add_worksheet(wb, "Marriages");
  lxw_format* header = workbook_add_format(wb);
  format_set_bold(header);
  format_set_align(header, LXW_ALIGN_CENTER);
  const unsigned fills[] = {0xCCFFCC, 0xFFFFE0, 0xCCFFFF, 0xFFCCCC};  // RGB
  lxw_format* formats[6] = {};
  for (int i = 0; i < 6; ++i) {
    lxw_format* f = i == 1 ? header : workbook_add_format(wb);
    format_set_font_name(f, "Tahoma");
    format_set_font_size(f, 9);
    format_set_text_wrap(f);
    format_set_border(f, LXW_BORDER_HAIR);
    if (i != 1) format_set_border_color(f, 0xC0C0C0);
    if (i >= 2) {
      format_set_pattern(f, LXW_PATTERN_SOLID);
      format_set_bg_color(f, fills[i - 2]);
    }
    formats[i] = f;
  }
  worksheet_freeze_panes(ws, 1, 0);
  worksheet_set_column(ws, 0, kBenchCols - 1, 13.6, nullptr);
  for (int r = 0; r <= rows; ++r) {
    lxw_format* f = formats[r == 0 ? 1 : BenchRowStyle(r)];
    for (int c = 0; c < kBenchCols; ++c)
      worksheet_write_string(ws, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c), BenchCellText(r, c).c_str(), f);
  }
  return workbook_close(wb) == LXW_NO_ERROR ? 0 : 1;
}

// Runs one writer in a child process; the child reports its time through a pipe.
Result Measure(int (*save)(const std::string&, int), const std::string& file, int rows) {
  Result result;
  int fds[2];
  if (::pipe(fds) != 0) return result;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    const auto start = std::chrono::steady_clock::now();
    const int rc = save(file, rows);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double out[2] = {ms, static_cast<double>(rc)};
    const ssize_t n = ::write(fds[1], out, sizeof out);
    ::_exit(n == static_cast<ssize_t>(sizeof out) ? 0 : 1);
  }
  ::close(fds[1]);
  double in[2] = {0, 1};
  const ssize_t n = ::read(fds[0], in, sizeof in);
  ::close(fds[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  if (n == static_cast<ssize_t>(sizeof in) && WIFEXITED(status) && WEXITSTATUS(status) == 0 && in[1] == 0) {
    result.ok = true;
    result.ms = in[0];
    result.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    std::error_code ec;
    result.fileKB = static_cast<double>(std::filesystem::file_size(file, ec)) / 1024.0;
  }
  std::filesystem::remove(file);
  return result;
}

// The best time and the largest peak of several runs.
Result Best(int (*save)(const std::string&, int), const std::string& file, int rows, int runs) {
  Result best;
  for (int i = 0; i < runs; ++i) {
    const Result r = Measure(save, file, rows);
    if (!r.ok) return r;
    if (!best.ok || r.ms < best.ms) {
      best.ms = r.ms;
      best.fileKB = r.fileKB;
    }
    best.peakMB = std::max(best.peakMB, r.peakMB);
    best.ok = true;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : kBenchRows;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const auto dir = std::filesystem::temp_directory_path();
  const std::string base = (dir / ("trevolan-peer-" + std::to_string(::getpid()))).string();
  std::printf("%d rows x %d columns, best of %d runs\n", rows, kBenchCols, runs);
  std::printf("%-22s %10s %12s %10s\n", "writer", "time ms", "peak RSS MB", "file KB");
  const Result ours = Best(&OurSave, base + ".xlsx", rows, runs);
  const Result ours2003 = Best(&OurSave, base + ".xml", rows, runs);
  const Result theirs = Best(&LibxlsxwriterSave, base + "-lxw.xlsx", rows, runs);
  auto line = [](const char* name, const Result& r) {
    if (!r.ok) std::printf("%-22s %10s\n", name, "failed");
    else std::printf("%-22s %10.1f %12.1f %10.1f\n", name, r.ms, r.peakMB, r.fileKB);
  };
  line("trevolan xlsx", ours);
  line("trevolan xml2003", ours2003);
  line("libxlsxwriter xlsx", theirs);
  if (ours.ok && theirs.ok)
    std::printf("xlsx ratio ours/libxlsxwriter: time %.2fx (target <= 1.0), memory %.2fx (target <= 2.0)\n",
                ours.ms / theirs.ms, ours.peakMB / theirs.peakMB);
  return ours.ok && ours2003.ok && theirs.ok ? 0 : 1;
}
