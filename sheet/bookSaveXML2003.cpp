#include "sheet/bookSaveXML2003.h"

#include <cmath>

#include "sheet/bookZip.h"
#include "sheet/booksavecommon.h"
#include "sheet/shevrixutils.h"

namespace {

constexpr char16_t kNsSpreadsheet[] = u"urn:schemas-microsoft-com:office:spreadsheet";
constexpr char16_t kNsOffice[] = u"urn:schemas-microsoft-com:office:office";
constexpr char16_t kNsExcel[] = u"urn:schemas-microsoft-com:office:excel";
constexpr char16_t kNsHtml[] = u"http://www.w3.org/TR/REC-html40";

std::shared_ptr<TZBookSave> CreateXml2003From(const TZBookSave& source) {
  return std::make_shared<TZxXml2003Saver>(source);
}

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }
std::u16string Dec(long long v) { return Ascii(std::to_string(v)); }
const char16_t* Bool1(bool v) { return v ? u"1" : u"0"; }
// Built by appending: the literal-plus-string operator trips a false -Wrestrict of GCC 12 when inlined.
std::u16string Prefixed(const char16_t* prefix, const std::u16string& text) {
  std::u16string out(prefix);
  out += text;
  return out;
}
std::u16string Color(TColor c) { return Prefixed(u"#", ColorToHexRGB(c)); }
// Whether a style is written with an Interior element (its fill differs from the default style's).
bool HasInterior(const TZStyle& s, const TZStyle& def) {
  return s.BGColor != def.BGColor || s.CellPattern != def.CellPattern || s.PatternColor != def.PatternColor;
}

std::u16string StyleRef(int index) { return Prefixed(u"s", Dec(static_cast<long long>(index) + 20)); }

// The twentieths of a point of a moveable split given in pixels.
long long SplitTwips(int pixels) { return std::llround(RoundHalfEven(PixelsToPoints(pixels, 0.265) * 20)); }

class TXml2003Writer {
 public:
  TXml2003Writer(const TSHEVRIX& book, TZXMLWriterH& xml) : FBook(book), FXml(xml) {}

  void Write(const TZPageList& pages, const std::string& bom, const std::u16string& encodingName) {
    WriteXmlDeclaration(FXml, encodingName, bom);
    {
      TZAttributesH a;
      a.Add(u"progid", u"Excel.Sheet");
      FXml.WriteInstruction(u"mso-application", a, true, true);
    }
    {
      TZAttributesH a;
      a.Add(u"xmlns", kNsSpreadsheet);
      a.Add(u"xmlns:o", kNsOffice);
      a.Add(u"xmlns:x", kNsExcel);
      a.Add(u"xmlns:ss", kNsSpreadsheet);
      a.Add(u"xmlns:html", kNsHtml);
      FXml.WriteTagNode(u"Workbook", a, true, true, true);
    }
    WriteDocumentProperties();
    WriteStyles();
    for (int i = 0; i < pages.Count(); ++i)
      WriteWorksheet(*FBook.Sheets().Sheet(pages.SheetIndexes[i]), pages.Titles[i]);
  }

 private:
  void Text(const char16_t* tag, const std::u16string& text) { FXml.WriteTag(tag, text, true, false, true); }

  void Open(const char16_t* tag, const TZAttributesH& a, bool closeOnOwnLine = true) {
    FXml.WriteTagNode(tag, a, true, closeOnOwnLine, true);
  }

  void Empty(const char16_t* tag, const TZAttributesH& a) { FXml.WriteEmptyTag(tag, a, true, true); }

  void WriteDocumentProperties() {
    const auto& p = FBook.DocumentProperties();
    TZAttributesH a;
    a.Add(u"xmlns", kNsOffice);
    Open(u"DocumentProperties", a);
    Text(u"Author", p.Author);
    Text(u"LastAuthor", p.LastAuthor);
    Text(u"Created", DateTimeToIsoUtcText(p.Created));
    Text(u"Company", p.Company);
    Text(u"Version", p.Version);
    Text(u"NameOfApplication", GeneratorName());
    FXml.WriteEndTagNode();

    TZAttributesH b;
    b.Add(u"xmlns", kNsExcel);
    Open(u"ExcelWorkbook", b);
    Text(u"WindowHeight", Dec(p.WindowHeight));
    Text(u"WindowWidth", Dec(p.WindowWidth));
    Text(u"WindowTopX", Dec(p.WindowTopX));
    Text(u"WindowTopY", Dec(p.WindowTopY));
    if (p.ModeR1C1) FXml.WriteEmptyTag(u"RefModeR1C1", true, true);
    Text(u"ProtectStructure", u"False");
    Text(u"ProtectWindows", u"False");
    FXml.WriteEndTagNode();
  }

  // ------------------------------------------------------------------------------------------------
  // Styles: the default style against fixed values, every other style against the default style.

  void WriteStyles() {
    const TZStyles& styles = FBook.Styles();
    TZAttributesH a;
    Open(u"Styles", a);
    WriteStyle(styles.DefaultStyle(), nullptr, u"Default", u"Normal");
    // Styles without an Interior element come first, each group in index order: a reader gives a style
    // without one the fill of the style element before it, so no filled style may precede one. Cells
    // refer to styles by their IDs, so the order of the elements means nothing else.
    for (const bool filled : {false, true})
      for (int i = 0; i < styles.Count(); ++i)
        if (HasInterior(*styles.Items(i), styles.DefaultStyle()) == filled)
          WriteStyle(*styles.Items(i), &styles.DefaultStyle(), StyleRef(i), u"");
    FXml.WriteEndTagNode();
  }

  void WriteStyle(const TZStyle& s, const TZStyle* def, const std::u16string& id, const std::u16string& name) {
    TZAttributesH a;
    a.Add(u"ss:ID", id);
    if (!name.empty()) a.Add(u"ss:Name", name);
    Open(u"Style", a);

    // Alignment
    {
      const TZAlignment& al = s.Alignment;
      TZAlignment fixed;
      const TZAlignment& base = def ? def->Alignment : fixed;
      TZAttributesH x;
      if (al.Horizontal != base.Horizontal) x.Add(u"ss:Horizontal", HorizontalAlignmentName(al.Horizontal));
      if (al.Vertical != base.Vertical) x.Add(u"ss:Vertical", VerticalAlignmentName(al.Vertical));
      if (al.Indent != base.Indent) x.Add(u"ss:Indent", Dec(al.Indent));
      const int rotate = NormalizeRotation(al.Rotate);
      if (rotate != (def ? NormalizeRotation(base.Rotate) : 0)) x.Add(u"ss:Rotate", Dec(rotate));
      if (al.ShrinkToFit != base.ShrinkToFit) x.Add(u"ss:ShrinkToFit", Bool1(al.ShrinkToFit));
      if (al.VerticalText != base.VerticalText) x.Add(u"ss:VerticalText", Bool1(al.VerticalText));
      if (al.WrapText) x.Add(u"ss:WrapText", u"1");
      if (x.Count() > 0) Empty(u"Alignment", x);
    }

    // Borders
    {
      static const char16_t* const kPositions[6] = {u"Left", u"Top", u"Right", u"Bottom", u"DiagonalLeft",
                                                    u"DiagonalRight"};
      bool opened = false;
      for (int i = 0; i < 6; ++i) {
        const TZBorderStyle& line = *s.Border.Border(i);
        // A continuous line of weight 0 is a thin line (weight 1 here), as in the XLSX writer.
        const int weight = line.LineStyle == ZEContinuous && line.Weight() == 0 ? 1 : line.Weight();
        TZAttributesH x;
        x.Add(u"ss:Position", kPositions[i]);
        const TColor baseColor = def ? def->Border.Border(i)->Color : clBlack;
        const TZBorderType baseStyle = def ? def->Border.Border(i)->LineStyle : ZENone;
        if (line.Color != baseColor) x.Add(u"ss:Color", Color(line.Color));
        if (line.LineStyle != baseStyle) x.Add(u"ss:LineStyle", BorderLineName(line.LineStyle));
        if (weight != 0) x.Add(u"ss:Weight", Dec(weight));
        if (x.Count() <= 1) continue;
        if (!opened) {
          TZAttributesH none;
          Open(u"Borders", none);
          opened = true;
        }
        Empty(u"Border", x);
      }
      if (opened) FXml.WriteEndTagNode();
    }

    // Font: always written.
    {
      const TFont& f = s.Font;
      TZAttributesH x;
      x.Add(u"ss:FontName", f.Name);
      x.Add(u"x:CharSet", Dec(f.Charset));
      auto flag = [&](TFontStyle bit, const char16_t* attr) {
        if ((f.Style & bit) != 0 && (def == nullptr || (def->Font.Style & bit) == 0)) x.Add(attr, u"1");
      };
      flag(fsBold, u"ss:Bold");
      const TColor baseColor = def ? ColorToRGB(def->Font.Color) : clBlack;
      if (ColorToRGB(f.Color) != baseColor) x.Add(u"ss:Color", Color(f.Color));
      flag(fsItalic, u"ss:Italic");
      if (f.Size() != (def ? def->Font.Size() : 10)) x.Add(u"ss:Size", Dec(f.Size()));
      flag(fsStrikeOut, u"ss:StrikeThrough");
      const bool under = (f.Style & fsUnderline) != 0;
      const bool baseUnder = def ? (def->Font.Style & fsUnderline) != 0 : false;
      if (under != baseUnder) x.Add(u"ss:Underline", under ? u"Single" : u"None");
      Empty(u"Font", x);
    }

    // Interior
    {
      TZAttributesH x;
      const TColor baseBg = def ? def->BGColor : clWindow;
      const TZCellPattern basePattern = def ? def->CellPattern : ZPNone;
      const TColor basePatternColor = def ? def->PatternColor : clWindow;
      if (s.BGColor != baseBg) x.Add(u"ss:Color", Color(s.BGColor));
      if (s.CellPattern != basePattern) x.Add(u"ss:Pattern", CellPatternName(s.CellPattern));
      if (s.PatternColor != basePatternColor) x.Add(u"ss:PatternColor", Color(s.PatternColor));
      if (x.Count() > 0) Empty(u"Interior", x);
    }

    // NumberFormat
    if (!FBook.Styles().DefaultStyle().NumberFormat().empty()) {
      const std::u16string base = def ? def->NumberFormat() : u"General";
      if (s.NumberFormat() != base) {
        TZAttributesH x;
        x.Add(u"ss:Format", s.NumberFormat());
        Empty(u"NumberFormat", x);
      }
    }

    // Protection
    {
      TZAttributesH x;
      if (s.HideFormula != (def ? def->HideFormula : false)) x.Add(u"x:HideFormula", Bool1(s.HideFormula));
      if (s.Protect != (def ? def->Protect : true)) x.Add(u"ss:Protected", Bool1(s.Protect));
      if (x.Count() > 0) Empty(u"Protection", x);
    }
    FXml.WriteEndTagNode();
  }

  // ------------------------------------------------------------------------------------------------
  // Worksheets

  bool StyleInTable(int index) const { return index >= 0 && index < FBook.Styles().Count(); }

  void WriteWorksheet(const TZSheet& sheet, const std::u16string& title) {
    {
      TZAttributesH a;
      a.Add(u"ss:Name", title);
      if (sheet.Protect()) a.Add(u"ss:Protected", u"1");
      if (sheet.RightToLeft()) a.Add(u"ss:RightToLeft", u"1");
      Open(u"Worksheet", a);
    }
    const TZSheetPrintTitles& rowTitles = sheet.RowsToRepeat();
    const TZSheetPrintTitles& colTitles = sheet.ColsToRepeat();
    if (rowTitles.Active() || colTitles.Active()) {
      std::u16string refers = u"=";
      if (colTitles.Active()) refers += colTitles.ToString();
      if (rowTitles.Active()) {
        if (colTitles.Active()) refers += u",";
        refers += rowTitles.ToString();
      }
      TZAttributesH none;
      Open(u"Names", none, false);
      TZAttributesH a;
      a.Add(u"ss:Name", u"Print_Titles");
      a.Add(u"ss:RefersTo", refers);
      Empty(u"NamedRange", a);
      FXml.WriteEndTagNode();
    }

    const int cols = sheet.ColCount();
    const int rows = sheet.RowCount();
    {
      TZAttributesH a;
      a.Add(u"ss:ExpandedColumnCount", Dec(cols));
      a.Add(u"ss:ExpandedRowCount", Dec(rows));
      if (RoundTo2(sheet.DefaultColWidth()) != 48.0)
        a.Add(u"ss:DefaultColumnWidth", FormatDecimal(sheet.DefaultColWidth(), 5));
      if (RoundTo2(sheet.DefaultRowHeight()) != 12.75)
        a.Add(u"ss:DefaultRowHeight", FormatDecimal(sheet.DefaultRowHeight(), 5));
      a.Add(u"x:FullRows", u"1");
      a.Add(u"x:FullColumns", u"1");
      Open(u"Table", a);
    }

    bool skippedColumn = false;
    for (int c = 0; c < cols; ++c) {
      const TZColOptions& col = *sheet.Columns(c);
      TZAttributesH a;
      if (RoundTo2(col.Width()) != RoundTo2(sheet.DefaultColWidth()))
        a.Add(u"ss:Width", FormatDecimal(col.Width(), 5));
      if (StyleInTable(col.StyleID)) a.Add(u"ss:StyleID", StyleRef(col.StyleID));
      if (!col.AutoFitWidth()) a.Add(u"ss:AutoFitWidth", u"0");
      if (col.Hidden) a.Add(u"ss:Hidden", u"1");
      if (a.Count() == 0) {
        skippedColumn = true;
        continue;
      }
      if (skippedColumn) a.Insert(0, u"ss:Index", Dec(c + 1));
      skippedColumn = false;
      Empty(u"Column", a);
    }

    for (int r = 0; r < rows; ++r) WriteRow(sheet, r);
    FXml.WriteEndTagNode();  // Table

    WriteWorksheetOptions(sheet);
    WritePageBreaks(sheet);
    FXml.WriteEndTagNode();  // Worksheet
  }

  void WriteRow(const TZSheet& sheet, int r) {
    const TZRowOptions& row = *sheet.Rows(r);
    TZAttributesH rowAttrs;
    rowAttrs.Add(u"ss:Index", Dec(r + 1));
    if (RoundTo2(row.Height()) != RoundTo2(sheet.DefaultRowHeight()))
      rowAttrs.Add(u"ss:Height", FormatDecimal(row.Height(), 5));
    if (StyleInTable(row.StyleID)) rowAttrs.Add(u"ss:StyleID", StyleRef(row.StyleID));
    if (!row.AutoFitHeight()) rowAttrs.Add(u"ss:AutoFitHeight", u"0");
    if (row.Hidden) rowAttrs.Add(u"ss:Hidden", u"1");
    bool rowOpen = false;
    auto openRow = [&] {
      if (!rowOpen) Open(u"Row", rowAttrs);
      rowOpen = true;
    };
    if (rowAttrs.Count() > 1) openRow();

    const TZMergeCells& merges = sheet.MergeCells();
    const TZSheetPrintTitles& rowTitles = sheet.RowsToRepeat();
    const TZSheetPrintTitles& colTitles = sheet.ColsToRepeat();
    const bool rowInTitles = rowTitles.Active() && r >= rowTitles.From() && r <= rowTitles.Till();
    const int cols = sheet.ColCount();
    bool previousSkipped = false;
    for (int c = 0; c < cols; ++c) {
      const TZCell& cell = *sheet.Cell(c, r);
      const int area = merges.Count() > 0 ? merges.InMergeRange(c, r) : -1;
      if (area >= 0 && merges.InLeftTopCorner(c, r) != area) {
        previousSkipped = true;
        continue;
      }
      TZAttributesH a;
      if (previousSkipped) a.Add(u"ss:Index", Dec(c + 1));
      if (area >= 0) {
        const TRect rect = merges.Items(area);
        if (rect.Right - rect.Left > 0) a.Add(u"ss:MergeAcross", Dec(rect.Right - rect.Left));
        if (rect.Bottom - rect.Top > 0) a.Add(u"ss:MergeDown", Dec(rect.Bottom - rect.Top));
      }
      // The workbook keeps formulas in A1 notation; readers take ss:Formula as R1C1.
      if (!cell.Formula().empty()) a.Add(u"ss:Formula", FormulaA1ToR1C1(cell.Formula(), c, r));
      if (!cell.HRef().empty()) {
        a.Add(u"ss:HRef", cell.HRef());
        if (!cell.HRefScreenTip().empty()) a.Add(u"x:HRefScreenTip", cell.HRefScreenTip());
      }
      if (StyleInTable(cell.CellStyle())) a.Add(u"ss:StyleID", StyleRef(cell.CellStyle()));

      const bool hasData = !cell.Data().empty() || !cell.Formula().empty();
      const bool inTitles = rowInTitles || (colTitles.Active() && c >= colTitles.From() && c <= colTitles.Till());
      const bool content = hasData || c == cols - 1 || inTitles || cell.ShowComment();
      if (!content) {
        if (a.Count() == 0 || (a.Count() == 1 && previousSkipped)) {
          previousSkipped = true;
          continue;
        }
        openRow();
        Empty(u"Cell", a);
        previousSkipped = false;
        continue;
      }
      openRow();
      previousSkipped = false;
      if (!hasData && !inTitles && !cell.ShowComment()) {
        Empty(u"Cell", a);
        continue;
      }
      Open(u"Cell", a);
      if (inTitles) {
        TZAttributesH n;
        n.Add(u"ss:Name", u"Print_Titles");
        Empty(u"NamedCell", n);
      }
      if (hasData) {
        std::u16string value;
        const TZCellType type = WrittenCellType(cell, value);
        bool kept = false;
        const std::u16string text = CorrectMarkupText(value, kept);
        TZAttributesH d;
        d.Add(u"ss:Type", CellTypeName(type));
        if (kept) d.Add(u"xmlns", kNsHtml);
        FXml.WriteTag(u"ss:Data", text, d, true, false, false);
      }
      if (cell.ShowComment()) {
        TZAttributesH m;
        if (!cell.CommentAuthor().empty()) m.Add(u"ss:Author", cell.CommentAuthor());
        if (cell.AlwaysShowComment()) m.Add(u"ss:ShowAlways", u"1");
        Open(u"Comment", m);
        bool kept = false;
        const std::u16string text = CorrectMarkupText(cell.Comment(), kept);
        TZAttributesH d;
        if (kept) d.Add(u"xmlns", kNsHtml);
        FXml.WriteTag(u"ss:Data", text, d, true, false, false);
        FXml.WriteEndTagNode();
      }
      FXml.WriteEndTagNode();  // Cell
    }
    if (rowOpen) FXml.WriteEndTagNode();
  }

  void WriteWorksheetOptions(const TZSheet& sheet) {
    const TZSheetOptions& o = sheet.SheetOptions();
    TZAttributesH root;
    root.Add(u"xmlns", kNsExcel);
    Open(u"WorksheetOptions", root);

    TZAttributesH none;
    Open(u"PageSetup", none);
    {
      TZAttributesH a;
      if (!o.PortraitOrientation) a.Add(u"x:Orientation", u"Landscape");
      if (o.CenterHorizontal) a.Add(u"x:CenterHorizontal", u"1");
      if (o.CenterVertical) a.Add(u"x:CenterVertical", u"1");
      if (o.StartPageNumber != 1) a.Add(u"x:StartPageNumber", Dec(o.StartPageNumber));
      if (a.Count() > 0) Empty(u"Layout", a);
    }
    {
      TZAttributesH a;
      a.Add(u"x:Bottom", FormatDecimal(o.MarginBottom / 25.4, 15));
      a.Add(u"x:Left", FormatDecimal(o.MarginLeft / 25.4, 15));
      a.Add(u"x:Right", FormatDecimal(o.MarginRight / 25.4, 15));
      a.Add(u"x:Top", FormatDecimal(o.MarginTop / 25.4, 15));
      Empty(u"PageMargins", a);
    }
    auto headerFooter = [&](const char16_t* tag, const std::u16string& data, std::uint16_t margin) {
      if (data.empty()) return;
      TZAttributesH a;
      if (margin != 13) a.Add(u"x:Margin", FormatDecimal(margin / 25.4, 2));
      a.Add(u"x:Data", data);
      Empty(tag, a);
    };
    headerFooter(u"Header", o.HeaderData(), o.HeaderMargin());
    headerFooter(u"Footer", o.FooterData(), o.FooterMargin());
    FXml.WriteEndTagNode();  // PageSetup

    if (o.PaperSize != 0) {
      Open(u"Print", none);
      FXml.WriteEmptyTag(u"ValidPrinterInfo", true, true);
      Text(u"PaperSizeIndex", Dec(o.PaperSize));
      Text(u"HorizontalResolution", u"600");
      Text(u"VerticalResolution", u"600");
      FXml.WriteEndTagNode();
    }
    if (sheet.Selected()) FXml.WriteEmptyTag(u"Selected", true, true);

    const bool hMode = o.SplitHorizontalMode != ZSplitNone;
    const bool vMode = o.SplitVerticalMode != ZSplitNone;
    if ((hMode || vMode) && (o.SplitHorizontalValue != 0 || o.SplitVerticalValue != 0)) {
      const bool hFrozen = o.SplitHorizontalMode == ZSplitFrozen;
      const bool vFrozen = o.SplitVerticalMode == ZSplitFrozen;
      if (hFrozen || vFrozen) {
        FXml.WriteEmptyTag(u"FreezePanes", true, true);
        FXml.WriteEmptyTag(u"FrozenNoSplit", true, true);
      }
      auto value = [](TZSplitMode mode, int v) -> long long {
        return mode == ZSplitFrozen ? static_cast<long long>(v) : SplitTwips(v);
      };
      if (hMode && o.SplitHorizontalValue != 0) {
        const auto v = Dec(value(o.SplitHorizontalMode, o.SplitHorizontalValue));
        Text(u"SplitHorizontal", v);
        if (hFrozen) Text(u"TopRowBottomPane", v);
      }
      if (vMode && o.SplitVerticalValue != 0) {
        const auto v = Dec(value(o.SplitVerticalMode, o.SplitVerticalValue));
        Text(u"SplitVertical", v);
        if (vFrozen) Text(u"LeftColumnRightPane", v);
      }
      if (hFrozen && vFrozen) Text(u"ActivePane", u"0");
      else if (hFrozen) Text(u"ActivePane", u"2");
      else if (vFrozen) Text(u"ActivePane", u"1");
    }
    if (o.ActiveCol != 0 || o.ActiveRow != 0) {
      Open(u"Panes", none);
      Open(u"Pane", none);
      Text(u"Number", u"3");
      if (o.ActiveRow != 0) Text(u"ActiveRow", Dec(o.ActiveRow));
      if (o.ActiveCol != 0) Text(u"ActiveCol", Dec(o.ActiveCol));
      FXml.WriteEndTagNode();
      FXml.WriteEndTagNode();
    }
    if (sheet.TabColor() != clWindow) Text(u"TabColorIndex", Dec(sheet.TabColor()));
    FXml.WriteEndTagNode();  // WorksheetOptions
  }

  void WritePageBreaks(const TZSheet& sheet) {
    TZAttributesH none;
    bool opened = false;
    auto openBreaks = [&] {
      if (opened) return;
      TZAttributesH a;
      a.Add(u"xmlns", kNsExcel);
      Open(u"PageBreaks", a);
      opened = true;
    };
    auto group = [&](int count, auto breaked, const char16_t* groupTag, const char16_t* itemTag,
                     const char16_t* posTag) {
      bool groupOpen = false;
      for (int i = 1; i < count; ++i) {
        if (!breaked(i)) continue;
        if (!groupOpen) {
          openBreaks();
          Open(groupTag, none);
          groupOpen = true;
        }
        Open(itemTag, none);
        Text(posTag, Dec(i));
        FXml.WriteEndTagNode();
      }
      if (groupOpen) FXml.WriteEndTagNode();
    };
    group(
        sheet.ColCount(), [&](int i) { return sheet.Columns(i)->Breaked; }, u"ColBreaks", u"ColBreak", u"Column");
    group(
        sheet.RowCount(), [&](int i) { return sheet.Rows(i)->Breaked; }, u"RowBreaks", u"RowBreak", u"Row");
    if (opened) FXml.WriteEndTagNode();
  }

  const TSHEVRIX& FBook;
  TZXMLWriterH& FXml;
};

// Writes the document for a prepared page list; false when the writer cannot start on the stream.
bool WriteDocument(const TSHEVRIX& book, TZStream* stream, const TZPageList& pages, const std::string& bom,
                   const std::u16string& encodingName, const TAnsiToCPConverter& converter) {
  TZXMLWriterH xml;
  xml.SetTabLength(1);
  xml.SetTextConverter(converter);
  if (!xml.BeginSaveToStream(stream)) return false;
  TXml2003Writer(book, xml).Write(pages, bom, encodingName);
  xml.EndSaveTo();
  return true;
}

}  // namespace

const TZBookSaveClass TZxXml2003Saver::Class{"TZxXml2003Saver", &TZxXml2003Saver::FormatNames, &CreateXml2003From};

std::vector<std::string> TZxXml2003Saver::FormatNames() {
  std::vector<std::string> names;
  for (const auto& name :
       SplitAtChar(u".XML*SpreadsheetML*Excel XML*XMLSS*XML SS*Microsoft Office 2003 XML*Office 2003 XML*"
                   u"application/vnd.ms-excel*application/xml",
                   u'*'))
    names.push_back(Utf16ToXmlUtf8(name));
  return names;
}

int TZxXml2003Saver::InternalSave() {
  Finished();
  return SaveBookAsSpreadsheetMLToFile(*Book(), File(), PageNumbers(), PageTitles(), BOMBytes(),
                                       Utf8ToUtf16(CharSet()), Conv());
}

int SaveBookAsSpreadsheetMLToStream(const TSHEVRIX& book, TZStream* stream, const std::vector<int>& sheetIndexes,
                                    const std::vector<std::u16string>& titles, const std::string& bom,
                                    const std::u16string& encodingName, const TAnsiToCPConverter& converter) {
  TZPageList pages;
  if (!PreparePageList(book, sheetIndexes, titles, pages)) return 2;
  if (stream == nullptr) return 1;
  WriteDocument(book, stream, pages, bom, encodingName, converter);
  return 0;
}

int SaveBookAsSpreadsheetMLToFile(const TSHEVRIX& book, const std::string& fileName,
                                  const std::vector<int>& sheetIndexes, const std::vector<std::u16string>& titles,
                                  const std::string& bom, const std::u16string& encodingName,
                                  const TAnsiToCPConverter& converter) {
  // The page list comes first: with nothing to write the old file is not touched.
  TZPageList pages;
  if (!PreparePageList(book, sheetIndexes, titles, pages)) return 2;
  std::unique_ptr<TZxTargetFile> file;
  try {
    file = std::make_unique<TZxTargetFile>(fileName);
  } catch (const EZxZipGen&) {
    return 1;
  }
  try {
    WriteDocument(book, file.get(), pages, bom, encodingName, converter);
  } catch (...) {
    file->Abandon();
    throw;
  }
  file->Commit();
  return 0;
}
