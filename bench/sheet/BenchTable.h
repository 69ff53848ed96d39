// The benchmark table of the save layer: R rows by C columns of short mixed Cyrillic and Latin texts,
// styled like the marriage list (a bold centred header, four fill colours, hair borders). The texts
// are a pure function of (row, column), so every writer gets the same table.
#pragma once

#include <cstdio>
#include <string>

#include "sheet/shevrix.h"

inline constexpr int kBenchRows = 50000;
inline constexpr int kBenchCols = 12;

// The UTF-8 text of a cell; row 0 is the header.
inline std::string BenchCellText(int row, int col) {
  static const char* const kNames[] = {"Иванов", "Petrenko", "Сидорова", "O'Neil & Co", "Ёжиков", "Smith"};
  static const char* const kHeader[] = {"Муж", "Жена", "Дата", "Место", "Лет", "Дети", "Отец", "Мать",
                                        "Note", "Source", "Код", "Итог"};
  if (row == 0) return kHeader[col % 12];
  char buf[96];
  switch (col % 4) {
    case 0: std::snprintf(buf, sizeof buf, "%s %d", kNames[(row + col) % 6], row); break;
    case 1: std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", 1700 + row % 300, 1 + row % 12, 1 + col); break;
    case 2: std::snprintf(buf, sizeof buf, "%s, %s", kNames[row % 6], kNames[col % 6]); break;
    default: std::snprintf(buf, sizeof buf, "%d", row * 7 + col); break;
  }
  return buf;
}

// The fill style (2..5) of a data row, 0 for every third row.
inline int BenchRowStyle(int row) { return row % 3 == 0 ? 0 : 2 + row % 4; }

inline std::u16string BenchUtf16(const std::string& utf8) { return Utf8ToUtf16(utf8); }

// The table as a workbook with the six styles of the marriage list.
inline void BuildBenchBook(TSHEVRIX& book, int rows = kBenchRows, int cols = kBenchCols) {
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
  styles.Items(1)->Font.Style |= fsBold;
  styles.Items(1)->Alignment.Horizontal = ZHCenter;
  const TColor fills[] = {0xCCFFCC, 0xE0FFFF, 0xFFFFCC, 0xCCCCFF};
  for (int i = 2; i < 6; ++i) {
    styles.Items(i)->CellPattern = ZPSolid;
    styles.Items(i)->BGColor = fills[i - 2];
  }
  TZSheet& sheet = *book.Sheets().Sheet(0);
  sheet.SetTitle(u"Marriages");
  sheet.SheetOptions().SplitHorizontalMode = ZSplitFrozen;
  sheet.SheetOptions().SplitHorizontalValue = 1;
  sheet.SetRowCount(rows + 1);
  sheet.SetColCount(cols);
  for (int c = 0; c < cols; ++c) sheet.Columns(c)->SetWidthPix(100);
  for (int r = 0; r <= rows; ++r) {
    const int style = r == 0 ? 1 : BenchRowStyle(r);
    for (int c = 0; c < cols; ++c) {
      TZCell& cell = *sheet.Cell(c, r);
      cell.SetData(BenchUtf16(BenchCellText(r, c)));
      cell.SetCellStyle(style);
    }
  }
}
