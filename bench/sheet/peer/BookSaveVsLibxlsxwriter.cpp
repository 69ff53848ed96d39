// Our XLSX and Excel 2003 XML writers and libxlsxwriter writing the same 50,000 x 12 table, side by side,
// in one run. Each writer runs in a child process of its own, so its peak resident memory (from wait4) is
// its own. For our writers the building of the workbook is timed apart from the write; libxlsxwriter has no
// workbook to build apart (its cells are fed to the writer), so its time covers feeding and writing, in its
// default mode (the whole table held until the close) and in its constant-memory mode (each row flushed to
// a temporary file as the next one starts). Prints a table (with our peak once the workbook is built, so
// the memory of the write itself shows apart) and the ratio of our write to each mode (target: our write
// no slower than the constant-memory mode).
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

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Result {
  double buildMs = 0;      // building our workbook (0 for libxlsxwriter)
  double writeMs = 0;      // the write (for libxlsxwriter: feeding the cells and closing)
  double buildPeakMB = 0;  // peak resident memory once our workbook is built (0 for libxlsxwriter)
  double peakMB = 0;
  double fileKB = 0;
  bool ok = false;
};

// A writer run: returns 0 on success and fills the two times.
using Writer = int (*)(const std::string& file, int rows, double& buildMs, double& writeMs);

// The peak resident memory of this process so far, in MB.
double PeakMB() {
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

double gBuildPeakMB = 0;  // set by OurSave in the child

int OurSave(const std::string& file, int rows, double& buildMs, double& writeMs) {
  auto start = Clock::now();
  TSHEVRIX book;
  BuildBenchBook(book, rows);
  buildMs = MsSince(start);
  gBuildPeakMB = PeakMB();
  start = Clock::now();
  const int rc = TZBookSave::From(&book).Charset("utf-8").Save(file);
  writeMs = MsSince(start);
  return rc;
}

int LibxlsxwriterSave(const std::string& file, int rows, bool constantMemory, double& writeMs) {
  const auto start = Clock::now();
  lxw_workbook_options options = {};
  options.constant_memory = constantMemory ? LXW_TRUE : LXW_FALSE;
  lxw_workbook* wb = workbook_new_opt(file.c_str(), &options);
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
  const int rc = workbook_close(wb) == LXW_NO_ERROR ? 0 : 1;
  writeMs = MsSince(start);
  return rc;
}

int LxwDefault(const std::string& file, int rows, double& buildMs, double& writeMs) {
  buildMs = 0;
  return LibxlsxwriterSave(file, rows, false, writeMs);
}

int LxwConstantMemory(const std::string& file, int rows, double& buildMs, double& writeMs) {
  buildMs = 0;
  return LibxlsxwriterSave(file, rows, true, writeMs);
}

// Runs one writer in a child process; the child reports its times through a pipe.
Result Measure(Writer save, const std::string& file, int rows) {
  Result result;
  int fds[2];
  if (::pipe(fds) != 0) return result;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    double out[4] = {0, 0, 1, 0};
    out[2] = static_cast<double>(save(file, rows, out[0], out[1]));
    out[3] = gBuildPeakMB;
    const ssize_t n = ::write(fds[1], out, sizeof out);
    ::_exit(n == static_cast<ssize_t>(sizeof out) ? 0 : 1);
  }
  ::close(fds[1]);
  double in[4] = {0, 0, 1, 0};
  const ssize_t n = ::read(fds[0], in, sizeof in);
  ::close(fds[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  if (n == static_cast<ssize_t>(sizeof in) && WIFEXITED(status) && WEXITSTATUS(status) == 0 && in[2] == 0) {
    result.ok = true;
    result.buildMs = in[0];
    result.writeMs = in[1];
    result.buildPeakMB = in[3];
    result.peakMB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    std::error_code ec;
    result.fileKB = static_cast<double>(std::filesystem::file_size(file, ec)) / 1024.0;
  }
  std::filesystem::remove(file);
  return result;
}

// The best write time (and its build time) and the largest peak of several runs.
Result Best(Writer save, const std::string& file, int rows, int runs) {
  Result best;
  for (int i = 0; i < runs; ++i) {
    const Result r = Measure(save, file, rows);
    if (!r.ok) return r;
    if (!best.ok || r.writeMs < best.writeMs) {
      best.writeMs = r.writeMs;
      best.buildMs = r.buildMs;
      best.buildPeakMB = r.buildPeakMB;
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
  std::printf("%d rows x %d columns, best of %d runs (libxlsxwriter %s)\n", rows, kBenchCols, runs, LXW_VERSION);
  std::printf("%-36s %9s %9s %14s %12s %9s\n", "writer", "build ms", "write ms", "built peak MB", "peak RSS MB",
              "file KB");
  const Result ours = Best(&OurSave, base + ".xlsx", rows, runs);
  const Result ours2003 = Best(&OurSave, base + ".xml", rows, runs);
  const Result lxw = Best(&LxwDefault, base + "-lxw.xlsx", rows, runs);
  const Result lxwConst = Best(&LxwConstantMemory, base + "-lxwc.xlsx", rows, runs);
  auto line = [](const char* name, const Result& r) {
    if (!r.ok) std::printf("%-36s %9s\n", name, "failed");
    else
      std::printf("%-36s %9.1f %9.1f %14.1f %12.1f %9.1f\n", name, r.buildMs, r.writeMs, r.buildPeakMB, r.peakMB,
                  r.fileKB);
  };
  line("trevolan xlsx", ours);
  line("trevolan xml2003", ours2003);
  line("libxlsxwriter xlsx (default)", lxw);
  line("libxlsxwriter xlsx (constant_memory)", lxwConst);
  if (ours.ok && lxw.ok && lxwConst.ok) {
    std::printf("our xlsx write / libxlsxwriter default:         time %.2fx, memory %.2fx\n", ours.writeMs / lxw.writeMs,
                ours.peakMB / lxw.peakMB);
    std::printf("our xlsx write / libxlsxwriter constant_memory: time %.2fx (target <= 1.0), memory %.2fx\n",
                ours.writeMs / lxwConst.writeMs, ours.peakMB / lxwConst.peakMB);
    std::printf("our xlsx build + write / constant_memory:       time %.2fx\n",
                (ours.buildMs + ours.writeMs) / lxwConst.writeMs);
  }
  return ours.ok && ours2003.ok && lxw.ok && lxwConst.ok ? 0 : 1;
}
