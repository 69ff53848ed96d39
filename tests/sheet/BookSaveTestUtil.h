// Helpers of the save-layer tests: scratch folders, whole-file reads, and running the independent
// checkers (python3, unzip, xmllint, soffice) as child processes. Header only.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

inline std::filesystem::path MakeTestDir(const std::string& tag) {
  static int counter = 0;
  const auto base = std::filesystem::temp_directory_path() /
                    ("trevolan-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(base);
  std::filesystem::create_directories(base);
  return base;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::vector<std::string> ListDir(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Exit status of a shell command (-1 when it could not run).
inline int RunCommand(const std::string& command) {
  const int rc = std::system(command.c_str());
  if (rc == -1 || !WIFEXITED(rc)) return -1;
  return WEXITSTATUS(rc);
}

inline bool HaveProgram(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null 2>&1") == 0;
}

inline const char* PythonPath() { return "/usr/bin/python3"; }

inline bool HavePython() { return ::access(PythonPath(), X_OK) == 0; }

inline bool HaveOpenpyxl() {
  return HavePython() && RunCommand(std::string(PythonPath()) + " -c 'import openpyxl' >/dev/null 2>&1") == 0;
}

inline std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

// Runs the command and returns what it printed on standard output.
inline std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    std::array<char, 4096> buf{};
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    ::pclose(p);
  }
  return out;
}

// Runs a python3 script with arguments; returns its standard output (errors go to the test log).
inline std::string RunPython(const std::string& script, const std::vector<std::string>& args) {
  const auto dir = MakeTestDir("py");
  const std::string file = (dir / "check.py").string();
  WriteFile(file, script);
  std::string command = std::string(PythonPath()) + " " + ShellQuote(file);
  for (const auto& a : args) command += " " + ShellQuote(a);
  std::string out = Capture(command);
  std::filesystem::remove_all(dir);
  return out;
}

// ---------------------------------------------------------------------------------------------------
// A workbook shaped like the marriage list: six styles, a bold centred frozen header, fills, hair
// borders, Cyrillic text, "&", markup and line breaks. Created at a fixed time.

#include "sheet/shevrix.h"

struct MarriageBookShape {
  std::vector<std::u16string> Header{u"Муж", u"Жена", u"Дата & место", u"Лет"};
  std::vector<std::vector<std::u16string>> Rows{
      {u"Иванов Иван*", u"Петрова Мария", u"1880, Київ", u"1880-1875"},
      {u"Сидоров & сын", u"<B>Анна</B>", u"первая\r\nвторая строка", u"12"},
      {u"Smith <John>", u"O'Neil \"Kate\"", u"a\nb", u""},
      {u"Ёжиков", u"", u"&amp; stays", u"3"},
  };
  std::vector<int> RowStyles{2, 3, 4, 0};
  std::vector<int> WidthPix{120, 140, 100, 40};
};

inline void MakeMarriageBook(TSHEVRIX& book, const MarriageBookShape& shape = MarriageBookShape()) {
  book.DocumentProperties().Created = EncodeDateTime(2024, 3, 5, 7, 8, 9, 0);
  book.Sheets().SetCount(1);
  TZStyles& styles = book.Styles();
  styles.SetCount(6);
  TZStyle& s0 = *styles.Items(0);
  s0.Font.Name = u"Tahoma";
  s0.Font.SetSize(9);
  s0.Alignment.WrapText = true;
  for (int i = 0; i < 4; ++i) {
    s0.Border.Border(i)->LineStyle = ZEContinuous;
    s0.Border.Border(i)->SetWeight(1);
    s0.Border.Border(i)->Color = 0xC0C0C0;
  }
  for (int i = 1; i < 6; ++i) styles.Items(i)->Assign(s0);
  TZStyle& s1 = *styles.Items(1);
  s1.Font.Style |= fsBold;
  s1.Alignment.Horizontal = ZHCenter;
  s1.Alignment.Vertical = ZVCenter;
  for (int i = 0; i < 4; ++i) s1.Border.Border(i)->Color = 0;
  const TColor fills[] = {0xCCFFCC, 0xE0FFFF, 0xFFFFCC, 0xCCCCFF};
  for (int i = 2; i < 6; ++i) {
    styles.Items(i)->CellPattern = ZPSolid;
    styles.Items(i)->BGColor = fills[i - 2];
  }
  TZSheet& sheet = *book.Sheets().Sheet(0);
  sheet.SetTitle(u"Marriages");
  sheet.SheetOptions().SplitHorizontalMode = ZSplitFrozen;
  sheet.SheetOptions().SplitHorizontalValue = 1;
  sheet.SetRowCount(static_cast<int>(shape.Rows.size()) + 1);
  sheet.SetColCount(static_cast<int>(shape.Header.size()));
  for (int c = 0; c < sheet.ColCount(); ++c) {
    sheet.Cell(c, 0)->SetData(shape.Header[c]);
    sheet.Cell(c, 0)->SetCellStyle(1);
    sheet.Columns(c)->SetWidthPix(shape.WidthPix[c]);
  }
  for (std::size_t r = 0; r < shape.Rows.size(); ++r)
    for (int c = 0; c < sheet.ColCount(); ++c) {
      TZCell& cell = *sheet.Cell(c, static_cast<int>(r) + 1);
      cell.SetData(shape.Rows[r][c]);
      cell.SetCellStyle(shape.RowStyles[r]);
    }
  sheet.Cell(3, 1)->SetCellStyle(5);
}
