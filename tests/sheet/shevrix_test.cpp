// Tests of the workbook model: book, sheets, cells, sizes, merged areas, styles, options, print titles,
// conditional formats.
#include "sheet/shevrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(ZxBook, NewBookAndSheetGrid) {
  TSHEVRIX book;
  EXPECT_EQ(book.Sheets().Count(), 0);
  EXPECT_EQ(book.Sheets().Sheet(0), nullptr);
  book.Sheets().SetCount(1);
  TZSheet* sheet = book.Sheets().Sheet(0);
  ASSERT_NE(sheet, nullptr);
  EXPECT_EQ(sheet->Store(), &book);
  sheet->SetColCount(3);
  sheet->SetRowCount(5);
  int cells = 0;
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 5; ++r) {
      const TZCell* cell = sheet->Cell(c, r);
      ASSERT_NE(cell, nullptr);
      EXPECT_EQ(cell->CellStyle(), -1);
      EXPECT_EQ(cell->CellType(), ZEString);
      ++cells;
    }
  EXPECT_EQ(cells, 15);
  EXPECT_EQ(sheet->Cell(3, 0), nullptr);
  EXPECT_EQ(sheet->Cell(0, 5), nullptr);
  EXPECT_EQ(sheet->Cell(-1, 0), nullptr);
  EXPECT_EQ(sheet->ColCount(), 3);
  EXPECT_EQ(sheet->Columns(3), nullptr);
  EXPECT_EQ(sheet->Rows(5), nullptr);
  EXPECT_EQ(sheet->ColWidths(7), 0);
  sheet->SetColWidth(7, 10);  // ignored
  sheet->SetRowCount(-2);     // ignored
  EXPECT_EQ(sheet->RowCount(), 5);
  EXPECT_THROW(book.Sheets().SetCount(-1), EZxError);
}

TEST(ZxBook, GrowingAndShrinkingKeepsCellsAndReferences) {
  TSHEVRIX book;
  book.Sheets().SetCount(1);
  TZSheet& s = *book.Sheets().Sheet(0);
  s.SetColCount(2);
  s.SetRowCount(2);
  TZCell* kept = s.Cell(1, 1);
  kept->SetData(u"kept text longer than the inline buffer");
  TZRowOptions* row = s.Rows(1);
  TZColOptions* col = s.Columns(1);
  for (int i = 3; i < 300; i += 7) {
    s.SetColCount(i);
    s.SetRowCount(i * 3);
  }
  EXPECT_EQ(s.Cell(1, 1), kept);
  EXPECT_EQ(s.Rows(1), row);
  EXPECT_EQ(s.Columns(1), col);
  EXPECT_EQ(kept->Data(), u"kept text longer than the inline buffer");
  s.SetRowCount(1);
  s.SetRowCount(2);
  EXPECT_EQ(s.Cell(1, 1)->Data(), u"");  // the removed row came back empty
  s.Clear();
  EXPECT_EQ(s.RowCount(), 0);
  EXPECT_EQ(s.ColCount(), 0);
}

TEST(ZxBook, SizesBeyondTheFormatLimitsAreRefused) {
  TSHEVRIX book;
  book.Sheets().SetCount(1);
  TZSheet& s = *book.Sheets().Sheet(0);
  EXPECT_THROW(s.SetRowCount(kZMaxRows + 1), EZxError);
  EXPECT_THROW(s.SetColCount(kZMaxCols + 1), EZxError);
  EXPECT_EQ(s.RowCount(), 0);
  EXPECT_EQ(s.ColCount(), 0);
  EXPECT_THROW(s.MergeCells().AddRectXY(0, 0, kZMaxCols, 1), EZxError);
  EXPECT_EQ(s.MergeCells().Count(), 0);
  EXPECT_EQ(s.ColCount(), 0);
  s.SetColCount(kZMaxCols);  // the limit itself is allowed
  EXPECT_EQ(s.ColCount(), kZMaxCols);
}

TEST(ZxBook, ColumnAndRowSizes) {
  TSHEVRIX book;
  book.Sheets().SetCount(1);
  TZSheet& s = *book.Sheets().Sheet(0);
  s.SetColCount(1);
  s.SetDefaultColWidth(20);
  s.SetColCount(2);
  EXPECT_EQ(s.ColWidths(0), 48);
  EXPECT_EQ(s.ColWidths(1), 20);
  s.SetDefaultColWidth(10.125);
  EXPECT_DOUBLE_EQ(s.DefaultColWidth(), 10.12);
  s.SetDefaultColWidth(-1);
  s.SetDefaultColWidth(std::numeric_limits<double>::quiet_NaN());
  s.SetDefaultRowHeight(std::numeric_limits<double>::infinity());
  EXPECT_DOUBLE_EQ(s.DefaultColWidth(), 10.12);
  EXPECT_DOUBLE_EQ(s.DefaultRowHeight(), 12.75);

  TZColOptions* c = s.Columns(0);
  c->SetWidthPix(100);
  EXPECT_DOUBLE_EQ(c->Width(), 75.11);
  EXPECT_EQ(c->WidthPix(), 100);
  c->SetWidth(-3);
  c->SetWidth(std::numeric_limits<double>::quiet_NaN());
  EXPECT_DOUBLE_EQ(c->Width(), 75.11);
  c->SetWidthMM(10);
  EXPECT_DOUBLE_EQ(c->Width(), 28.34);
  EXPECT_DOUBLE_EQ(c->WidthMM(), 10.0);
  book.SetHorPixelSize(0.5);
  book.SetHorPixelSize(0);  // ignored
  EXPECT_EQ(c->WidthPix(), 20);  // 28.34 * 0.3528 / 0.5 = 19.99...
  c->SetWidth(1e12);
  EXPECT_THROW((void)c->WidthPix(), EZxConvertError);

  s.SetRowCount(1);
  TZRowOptions* r = s.Rows(0);
  EXPECT_DOUBLE_EQ(r->Height(), 12.75);
  r->SetHeightPix(20);
  EXPECT_DOUBLE_EQ(r->Height(), 15.02);
  EXPECT_TRUE(r->AutoFitHeight());
  r->SetAutoFitHeight(false);
  TZRowOptions copy(nullptr);
  copy.Assign(*r);
  EXPECT_FALSE(copy.AutoFitHeight());
  EXPECT_EQ(copy.HeightPix(), 20);  // no sheet: 0.265 mm per pixel
}

TEST(ZxBook, SizeConversionsRoundHalfToEven) {
  EXPECT_DOUBLE_EQ(RoundTo2(10.125), 10.12);
  EXPECT_DOUBLE_EQ(RoundTo2(10.375), 10.38);
  EXPECT_DOUBLE_EQ(PixelsToPoints(100, 0.265), 75.11);
  EXPECT_EQ(PointsToPixels(75.11, 0.265), 100);
  EXPECT_DOUBLE_EQ(PointsToMM(48), 16.93);
  EXPECT_DOUBLE_EQ(MMToPoints(25.4), 72.0);
  EXPECT_DOUBLE_EQ(MMToPoints(10), 28.34);
  EXPECT_THROW(PointsToPixels(std::numeric_limits<double>::quiet_NaN(), 0.265), EZxConvertError);
}

TEST(ZxBook, MergedAreas) {
  TSHEVRIX book;
  book.Sheets().SetCount(1);
  TZSheet& s = *book.Sheets().Sheet(0);
  s.SetColCount(2);
  s.SetRowCount(2);
  TZMergeCells& m = s.MergeCells();
  EXPECT_EQ(m.AddRectXY(2, 1, 0, 3), 0);
  EXPECT_EQ(m.Items(0), (TRect{0, 1, 2, 3}));
  EXPECT_EQ(s.ColCount(), 3);
  EXPECT_EQ(s.RowCount(), 4);
  struct Case {
    TRect r;
    int result;
  } cases[] = {
      {{4, 4, 4, 4}, 3},     // a single cell
      {{1, 0, 1, 1}, 2},     // touches the stored area's top edge
      {{-1, 0, 0, 0}, 1},    // negative
      {{5, 5, 6, 5}, 0},     // apart
      {{4, 6, 7, 6}, 0},     // below the last one
  };
  for (const auto& c : cases) EXPECT_EQ(m.AddRect(c.r), c.result) << c.r.Left << "," << c.r.Top;
  // Two crossing bands overlap although neither has a corner inside the other.
  TZMergeCells bands(nullptr);
  EXPECT_EQ(bands.AddRectXY(10, 0, 10, 20), 0);
  EXPECT_EQ(bands.AddRectXY(0, 10, 20, 10), 2);
  EXPECT_TRUE(AreasIntersect(TRect{10, 0, 10, 20}, TRect{0, 10, 20, 10}));
  EXPECT_FALSE(AreasIntersect(TRect{0, 0, 1, 1}, TRect{2, 0, 3, 1}));

  EXPECT_EQ(m.InLeftTopCorner(0, 1), 0);
  EXPECT_EQ(m.InLeftTopCorner(1, 1), -1);
  EXPECT_EQ(m.InMergeRange(2, 3), 0);
  EXPECT_EQ(m.InMergeRange(3, 3), -1);
  EXPECT_EQ(m.Items(99), TRect{});
  EXPECT_TRUE(m.DeleteItem(0));
  EXPECT_FALSE(m.DeleteItem(5));
  EXPECT_EQ(m.Count(), 2);
}

TEST(ZxCell, NumbersAndText) {
  TZCell c;
  c.SetAsDouble(0);
  EXPECT_EQ(c.Data(), u"0");
  EXPECT_EQ(c.CellType(), ZENumber);
  struct Case {
    double value;
    const char16_t* text;
  } cases[] = {
      {1234.5, u"1.23450000000000E+0003"},
      {-0.000125, u"-1.25000000000000E-0004"},
      {1.0 / 3.0, u"3.33333333333333E-0001"},
      {1e300, u"1.00000000000000E+0300"},
  };
  for (const auto& k : cases) {
    c.SetAsDouble(k.value);
    EXPECT_EQ(c.Data(), k.text);
    EXPECT_NEAR(c.AsDouble(), k.value, std::fabs(k.value) * 1e-14);
  }
  c.SetData(u"keep");
  EXPECT_THROW(c.SetAsDouble(std::numeric_limits<double>::quiet_NaN()), EZxConvertError);
  EXPECT_THROW(c.SetAsDouble(-std::numeric_limits<double>::infinity()), EZxConvertError);
  EXPECT_EQ(c.Data(), u"keep");
  for (const char16_t* bad : {u"abc", u"", u"1.5x", u"nan", u"inf", u"0x10", u"1e", u"."}) {
    c.SetData(bad);
    try {
      (void)c.AsDouble();
      ADD_FAILURE() << "no error";
    } catch (const EZxConvertError& e) {
      EXPECT_STREQ(e.what(), "ZxCell: Cannot cast data to number");
    }
  }
  c.SetData(u"  1.5e3");
  EXPECT_DOUBLE_EQ(c.AsDouble(), 1500);
  c.SetAsInteger(-42);
  EXPECT_EQ(c.Data(), u"-42");
  EXPECT_EQ(c.AsInteger(), -42);
  c.SetData(u"99999999999");
  EXPECT_THROW((void)c.AsInteger(), EZxConvertError);
  c.SetData(u"12.5");
  EXPECT_THROW((void)c.AsInteger(), EZxConvertError);
}

TEST(ZxCell, AssignCopiesAllFieldsAndClearResets) {
  TZCell a;
  a.SetData(u"d");
  a.SetFormula(u"=A1");
  a.SetHRef(u"http://example.org/");
  a.SetHRefScreenTip(u"tip");
  a.SetComment(u"note");
  a.SetCommentAuthor(u"me");
  a.SetAlwaysShowComment(true);
  a.SetShowComment(true);
  a.SetCellType(ZEDateTime);
  a.SetCellStyle(4);
  TZCell b;
  b.Assign(a);
  EXPECT_EQ(b.HRef(), u"http://example.org/");
  EXPECT_EQ(b.HRefScreenTip(), u"tip");
  EXPECT_EQ(b.Formula(), u"=A1");
  EXPECT_EQ(b.Comment(), u"note");
  EXPECT_EQ(b.CommentAuthor(), u"me");
  EXPECT_TRUE(b.AlwaysShowComment());
  EXPECT_TRUE(b.ShowComment());
  EXPECT_EQ(b.CellType(), ZEDateTime);
  EXPECT_EQ(b.CellStyle(), 4);
  a.SetHRef(u"");
  EXPECT_EQ(b.HRef(), u"http://example.org/");  // a deep copy
  b.Clear();
  EXPECT_EQ(b.Data(), u"");
  EXPECT_EQ(b.Formula(), u"");
  EXPECT_EQ(b.CellStyle(), -1);
  EXPECT_EQ(b.CellType(), ZEString);
  EXPECT_FALSE(b.ShowComment());
}

TEST(ZxBook, SheetAssignCopiesEverything) {
  TSHEVRIX book;
  book.Sheets().SetCount(2);
  TZSheet& a = *book.Sheets().Sheet(0);
  a.SetTitle(u"Лист");
  a.SetColCount(3);
  a.SetRowCount(4);
  a.SetDefaultColWidth(30);
  a.SetTabColor(clRed);
  a.SetProtect(true);
  a.SetSelected(true);
  a.Cell(2, 3)->SetData(u"last");
  a.Cell(2, 3)->SetCellStyle(1);
  a.Columns(1)->SetWidth(99);
  a.Rows(2)->Hidden = true;
  a.MergeCells().AddRectXY(0, 0, 1, 1);
  a.SheetOptions().SplitHorizontalMode = ZSplitFrozen;
  a.SheetOptions().SplitHorizontalValue = 1;
  a.RowsToRepeat().SetTill(1);
  a.RowsToRepeat().SetActive(true);
  a.ConditionalFormatting().Add(1, 1, 2, 2)->Add()->Value1 = u"5";
  TZSheet& b = *book.Sheets().Sheet(1);
  b.Assign(a);
  EXPECT_EQ(b.Title(), u"Лист");
  EXPECT_EQ(b.ColCount(), 3);
  EXPECT_EQ(b.RowCount(), 4);
  EXPECT_EQ(b.DefaultColWidth(), 30);
  EXPECT_EQ(b.TabColor(), clRed);
  EXPECT_TRUE(b.Protect());
  EXPECT_TRUE(b.Selected());
  EXPECT_EQ(b.Cell(2, 3)->Data(), u"last");
  EXPECT_EQ(b.Cell(2, 3)->CellStyle(), 1);
  EXPECT_EQ(b.ColWidths(1), 99);
  EXPECT_TRUE(b.Rows(2)->Hidden);
  EXPECT_EQ(b.MergeCells().Count(), 1);
  EXPECT_EQ(b.SheetOptions().SplitHorizontalMode, ZSplitFrozen);
  EXPECT_EQ(b.RowsToRepeat().ToString(), u"R1:R2");
  EXPECT_TRUE(b.ConditionalFormatting().IsEqual(a.ConditionalFormatting()));
  EXPECT_EQ(b.ConditionalFormatting().Items(0)->Areas().Items(0)->Width(), 2);

  TSHEVRIX copy;
  copy.Styles().SetCount(2);
  copy.Assign(book);
  EXPECT_EQ(copy.Sheets().Count(), 2);
  EXPECT_EQ(copy.Styles().Count(), 0);
  EXPECT_EQ(copy.Sheets().Sheet(1)->Store(), &copy);
  EXPECT_EQ(copy.Sheets().Sheet(1)->Cell(2, 3)->Data(), u"last");
}

TEST(ZxBook, DocumentPropertiesAndOptionsDefaults) {
  TSHEVRIX book;
  const auto& p = book.DocumentProperties();
  EXPECT_EQ(p.Author, u"none");
  EXPECT_EQ(p.Version, u"11.9999");
  EXPECT_EQ(p.WindowHeight, 20000);
  EXPECT_EQ(p.WindowTopX, 150);
  EXPECT_GT(p.Created, 40000.0);  // after 2009
  book.DefaultSheetOptions().MarginLeft = 7;
  book.Sheets().SetCount(1);
  book.DefaultSheetOptions().MarginLeft = 9;  // later changes do not reach the sheet
  const TZSheetOptions& o = book.Sheets().Sheet(0)->SheetOptions();
  EXPECT_EQ(o.MarginLeft, 7);
  EXPECT_EQ(o.MarginBottom, 25);
  EXPECT_EQ(o.MarginTop, 25);
  EXPECT_EQ(o.MarginRight, 20);
  EXPECT_EQ(o.PaperSize, 9);
  EXPECT_TRUE(o.PortraitOrientation);
  EXPECT_EQ(o.ScaleToPercent, 100);
  EXPECT_EQ(o.HeaderMargin(), 13);
  EXPECT_EQ(o.FooterMargin(), 13);
  EXPECT_EQ(o.SplitHorizontalMode, ZSplitNone);
  EXPECT_EQ(TZHeaderFooterMargins().Height, 7);

  TZSheetOptions x;
  x.SetHeaderMargin(10);
  EXPECT_EQ(x.HeaderMargins.Height, 10);
  EXPECT_EQ(x.HeaderMargins.MarginTopBottom, 13);
  EXPECT_EQ(x.FooterMargins.Height, 13);
  x.PaperWidth = 210;
  x.PaperHeight = 297;
  x.SetHeaderData(u"&P");
  TZSheetOptions y;
  y.Assign(x);
  EXPECT_EQ(y.PaperWidth, 210);
  EXPECT_EQ(y.PaperHeight, 297);
  EXPECT_EQ(y.HeaderData(), u"&P");
  EXPECT_TRUE(y.HeaderMargins.IsEqual(&x.HeaderMargins));
  EXPECT_FALSE(y.HeaderMargins.IsEqual(nullptr));
  EXPECT_TRUE(y.Header.IsEqual(&x.Header));
  y.Header.DataLeft = u"l";
  EXPECT_FALSE(y.Header.IsEqual(&x.Header));
}

TEST(ZxBook, PrintTitles) {
  TSHEVRIX book;
  book.Sheets().SetCount(1);
  TZSheet& s = *book.Sheets().Sheet(0);
  s.SetRowCount(5);
  s.SetColCount(1);
  TZSheetPrintTitles& rows = s.RowsToRepeat();
  EXPECT_EQ(rows.ToString(), u"");
  rows.SetFrom(0);
  rows.SetTill(1);
  rows.SetActive(true);
  EXPECT_EQ(rows.ToString(), u"R1:R2");
  EXPECT_THROW(rows.SetTill(5), EZxError);
  EXPECT_EQ(rows.Till(), 1);
  rows.SetActive(false);

  s.SetRowCount(1);
  try {
    rows.SetActive(true);
    ADD_FAILURE() << "no error";
  } catch (const EZxError& e) {
    EXPECT_STREQ(e.what(), "Invalid printable titles for the worksheet.");
  }
  EXPECT_FALSE(rows.Active());

  TZSheetPrintTitles& cols = s.ColsToRepeat();
  cols.SetFrom(3);
  cols.SetTill(1);  // accepted while inactive
  EXPECT_THROW(cols.SetActive(true), EZxError);
  EXPECT_FALSE(cols.Active());
  cols.SetFrom(0);
  cols.SetTill(0);
  cols.SetActive(true);
  EXPECT_EQ(cols.ToString(), u"C1:C1");

  try {
    TZSheetPrintTitles orphan(nullptr, false);
    ADD_FAILURE() << "no error";
  } catch (const EZxError& e) {
    EXPECT_STREQ(e.what(), "TZSheetPrintTitles requires an existing worksheet for owners.");
  }
}

TEST(ZxStyles, TableFindAddDelete) {
  TZStyles t;
  EXPECT_EQ(t.Count(), 0);
  EXPECT_EQ(t.Items(0), &t.DefaultStyle());
  EXPECT_EQ(t.Items(-1), &t.DefaultStyle());
  t.SetCount(6);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(t.Find(*t.Items(i)), -1);
  TZStyle plain;
  EXPECT_EQ(t.Add(plain, true), -1);
  EXPECT_EQ(t.Count(), 6);

  t.Items(2)->Font.Style = fsBold;
  t.Items(4)->Font.Style = fsBold;
  TZStyle bold;
  bold.Font.Style = fsBold;
  EXPECT_EQ(t.Find(bold), 2);
  EXPECT_EQ(t.Add(bold, true), 2);
  bold.Font.Charset = 204;  // the character set is not compared
  EXPECT_EQ(t.Find(bold), 2);
  bold.SetNumberFormat(u"general");  // number formats compare case-sensitively
  EXPECT_EQ(t.Find(bold), -2);
  EXPECT_EQ(t.Add(bold, true), 6);
  EXPECT_EQ(t.Add(bold, false), 7);

  EXPECT_EQ(t.DeleteStyle(7), 0);
  EXPECT_EQ(t.DeleteStyle(7), -1);
  EXPECT_EQ(t.Count(), 7);

  TZStyle red;
  red.BGColor = clRed;
  t.SetStyle(-2, red);
  EXPECT_EQ(t.DefaultStyle().BGColor, clWindow);
  t.SetStyle(-1, red);
  EXPECT_EQ(t.DefaultStyle().BGColor, clRed);
  t.SetCount(8);
  EXPECT_EQ(t.Items(7)->BGColor, clRed);  // new styles copy the default at that moment
  t.SetStyle(0, red);
  EXPECT_EQ(t.Items(0)->BGColor, clRed);

  TZStyles u;
  u.Assign(t);
  EXPECT_EQ(u.Count(), 8);
  EXPECT_TRUE(u.Items(2)->IsEqual(*t.Items(2)));
  EXPECT_TRUE(u.DefaultStyle().IsEqual(t.DefaultStyle()));
  t.Clear();
  EXPECT_EQ(t.Count(), 0);
  EXPECT_EQ(t.DefaultStyle().BGColor, clRed);
  EXPECT_THROW(t.SetCount(-1), EZxError);
}

TEST(ZxStyles, StyleEqualityCoversEachField) {
  TZStyle base;
  EXPECT_EQ(base.Font.Name, u"Arial");
  EXPECT_EQ(base.Font.Size(), 10);
  EXPECT_EQ(base.Font.Color, clBlack);
  EXPECT_EQ(base.NumberFormat(), u"General");
  EXPECT_TRUE(base.Protect);
  using Change = void (*)(TZStyle&);
  const Change changes[] = {
      [](TZStyle& s) { s.Border.Left().LineStyle = ZEDot; },
      [](TZStyle& s) { s.Border.DiagonalRight().SetWeight(1); },
      [](TZStyle& s) { s.Alignment.WrapText = true; },
      [](TZStyle& s) { s.Alignment.Rotate = 90; },
      [](TZStyle& s) { s.BGColor = clRed; },
      [](TZStyle& s) { s.PatternColor = clBlack; },
      [](TZStyle& s) { s.CellPattern = ZPSolid; },
      [](TZStyle& s) { s.SetNumberFormat(u"0.00"); },
      [](TZStyle& s) { s.Protect = false; },
      [](TZStyle& s) { s.HideFormula = true; },
      [](TZStyle& s) { s.Font.Color = clRed; },
      [](TZStyle& s) { s.Font.SetSize(12); },
      [](TZStyle& s) { s.Font.Name = u"arial"; },
      [](TZStyle& s) { s.Font.Pitch = fpFixed; },
      [](TZStyle& s) { s.Font.Style = fsItalic; },
  };
  for (std::size_t i = 0; i < sizeof changes / sizeof changes[0]; ++i) {
    TZStyle s;
    changes[i](s);
    EXPECT_FALSE(s.IsEqual(base)) << "change " << i;
    TZStyle copy;
    copy.Assign(s);
    EXPECT_TRUE(copy.IsEqual(s)) << "change " << i;
  }
}

TEST(ZxStyles, BordersAndWeights) {
  TZBorderStyle line;
  line.SetWeight(7);
  EXPECT_EQ(line.Weight(), 3);
  line.LineStyle = ZEDouble;
  TZBorder b;
  b.SetBorder(5, line);
  EXPECT_TRUE(b.DiagonalRight().IsEqual(line));
  TZBorder before;
  before.Assign(b);
  b.SetBorder(6, TZBorderStyle());
  EXPECT_TRUE(b.IsEqual(before));
  EXPECT_EQ(b.GetBorder(6), nullptr);
  EXPECT_EQ(b.Border(-1), nullptr);
  EXPECT_EQ(b.Border(0), &b.Left());
  TFont f;
  f.SetSize(10);
  EXPECT_EQ(f.Height(), -13);
  f.SetHeight(-16);
  EXPECT_EQ(f.Size(), 12);
}

TEST(ZxConditional, FormatsAreasAndConditions) {
  TZConditionalStyle s;
  EXPECT_EQ(s.Count(), 0);
  EXPECT_EQ(s.Areas().Count(), 1);
  EXPECT_TRUE(s.Areas().IsCellInArea(0, 0));
  EXPECT_FALSE(s.Areas().IsCellInArea(1, 0));

  s.SetCount(3);
  s.Items(1)->Value1 = u"x";
  s.Items(1)->ApplyStyleID = 4;
  s.SetCount(1);
  s.SetCount(2);
  EXPECT_EQ(s.Items(1)->Value1, u"");
  EXPECT_EQ(s.Items(1)->ApplyStyleID, -1);
  EXPECT_EQ(s.Items(1)->Condition, ZCFCellContentOperator);
  EXPECT_EQ(s.Capacity(), 3);
  s.SetCount(5);
  EXPECT_EQ(s.Capacity(), 5);
  s.SetCount(-1);
  EXPECT_EQ(s.Count(), 5);

  s.SetCount(2);
  s.Items(0)->Value1 = u"a";
  s.Items(1)->Value1 = u"b";
  s.Insert(2);  // equal to Count: nothing
  EXPECT_EQ(s.Count(), 2);
  TZConditionalStyleItem mid;
  mid.Value1 = u"m";
  s.Insert(1, &mid);
  ASSERT_EQ(s.Count(), 3);
  EXPECT_EQ(s.Items(0)->Value1, u"a");
  EXPECT_EQ(s.Items(1)->Value1, u"m");
  EXPECT_EQ(s.Items(2)->Value1, u"b");
  s.Delete(0);
  EXPECT_EQ(s.Count(), 2);
  EXPECT_EQ(s.Items(0)->Value1, u"m");
  EXPECT_EQ(s.Items(2), nullptr);
  EXPECT_EQ(s.Add(&mid)->Value1, u"m");

  TZConditionalStyle t;
  t.Assign(s);
  t.Areas().Add(3, 3, 2, 2);
  EXPECT_TRUE(t.IsEqual(s));  // areas are not compared
  EXPECT_TRUE(t.Areas().IsCellInArea(4, 4));
  EXPECT_FALSE(t.Areas().IsCellInArea(5, 4));
  EXPECT_FALSE(t.Areas().IsEqual(s.Areas()));
  t.Items(0)->ConditionOperator = ZCFOpGT;
  EXPECT_FALSE(t.IsEqual(s));

  TZConditionalAreaItem area(-1, 2, -5, 3);
  EXPECT_EQ(area.Column(), 0);
  EXPECT_EQ(area.Row(), 2);
  EXPECT_EQ(area.Width(), 1);
  EXPECT_EQ(area.Height(), 3);

  TZConditionalFormatting f;
  f.Add();
  EXPECT_TRUE(f.Delete(0));
  EXPECT_EQ(f.Count(), 0);
  EXPECT_FALSE(f.Delete(1));
  f.Add(&s);
  f.Add(2, 3, 4, 5);
  EXPECT_EQ(f.Items(1)->Areas().Items(0)->Row(), 3);
  EXPECT_EQ(f.Items(5), nullptr);
  TZConditionalFormatting g;
  g.Assign(f);
  EXPECT_TRUE(g.IsEqual(f));
  g.SetCount(1);
  EXPECT_FALSE(g.IsEqual(f));
  g.Clear();
  EXPECT_EQ(g.Count(), 0);
}

}  // namespace
