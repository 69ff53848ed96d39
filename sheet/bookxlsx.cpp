#include "sheet/bookxlsx.h"

#include <cmath>
#include <functional>
#include <memory>

#include "sheet/booksavecommon.h"
#include "sheet/shevrixutils.h"

namespace {

constexpr char16_t kNsMain[] = u"http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr char16_t kNsRel[] = u"http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr char16_t kNsContentTypes[] = u"http://schemas.openxmlformats.org/package/2006/content-types";
constexpr char16_t kNsPackageRels[] = u"http://schemas.openxmlformats.org/package/2006/relationships";
constexpr char16_t kRelOfficeDocument[] =
    u"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
constexpr char16_t kRelExtendedProps[] =
    u"http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties";
constexpr char16_t kRelCoreProps[] =
    u"http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties";
constexpr char16_t kRelStyles[] = u"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles";
constexpr char16_t kRelWorksheet[] =
    u"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
constexpr char16_t kRelSharedStrings[] =
    u"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings";
constexpr char16_t kNsExtendedProps[] =
    u"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties";
constexpr char16_t kNsVariantTypes[] = u"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes";
constexpr char16_t kNsCoreProps[] = u"http://schemas.openxmlformats.org/package/2006/metadata/core-properties";
constexpr char16_t kNsDc[] = u"http://purl.org/dc/elements/1.1/";
constexpr char16_t kNsDcmiType[] = u"http://purl.org/dc/dcmitype/";
constexpr char16_t kNsDcTerms[] = u"http://purl.org/dc/terms/";
constexpr char16_t kNsXsi[] = u"http://www.w3.org/2001/XMLSchema-instance";
constexpr char16_t kTypeRelationships[] = u"application/vnd.openxmlformats-package.relationships+xml";

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }
std::u16string Dec(long long v) { return Ascii(std::to_string(v)); }
const char16_t* TrueFalse(bool v) { return v ? u"true" : u"false"; }

// Starts an XML writer on the stream with the layout every part uses; false when it cannot start.
bool BeginPart(TZXMLWriterH& xml, TZStream* stream, const TZXlsxPartOptions& options) {
  xml.SetTabLength(1);
  xml.SetTabSymbol(u' ');
  xml.SetTextConverter(options.Converter);
  if (!xml.BeginSaveToStream(stream)) return false;
  WriteXmlDeclaration(xml, options.EncodingName, options.BOM);
  return true;
}

// Attribute lists built from a table of pairs.
TZAttributesH Attrs(std::initializer_list<std::pair<const char16_t*, std::u16string>> pairs) {
  TZAttributesH a;
  for (const auto& [name, value] : pairs) a.Add(name, value, false);
  return a;
}

void Open(TZXMLWriterH& xml, const char16_t* tag, const TZAttributesH& a) { xml.WriteTagNode(tag, a, true, true, true); }
void Empty(TZXMLWriterH& xml, const char16_t* tag, const TZAttributesH& a) { xml.WriteEmptyTag(tag, a, true, true); }

// The style at a position: 0 the default style, k the book's style k - 1.
const TZStyle& StyleAt(const TSHEVRIX& book, int position) {
  return position == 0 ? book.Styles().DefaultStyle() : *book.Styles().Items(position - 1);
}

bool SameFont(const TFont& a, const TFont& b) {
  return a.Color == b.Color && a.Height() == b.Height() && a.Name == b.Name && a.Pitch == b.Pitch &&
         a.Size() == b.Size() && a.Style == b.Style;
}

bool SameFill(const TZStyle& a, const TZStyle& b) {
  return a.BGColor == b.BGColor && a.PatternColor == b.PatternColor && a.CellPattern == b.CellPattern;
}

// Marks every position -2 (first of its kind) or the style index of the earlier equal position; returns
// the number of distinct elements.
int Deduplicate(const TSHEVRIX& book, std::vector<int>& ids, const std::function<bool(int, int)>& same) {
  const int positions = static_cast<int>(ids.size());
  std::fill(ids.begin(), ids.end(), -2);
  int distinct = 0;
  for (int p = 0; p < positions; ++p) {
    if (ids[p] != -2) continue;
    ++distinct;
    for (int q = p + 1; q < positions; ++q)
      if (ids[q] == -2 && same(p, q)) ids[q] = p - 1;
  }
  (void)book;
  return distinct;
}

const char16_t* PatternType(TZCellPattern pattern) {
  switch (pattern) {
    case ZPNone: return u"none";
    case ZPSolid: return u"solid";
    case ZPGray75: return u"darkGray";
    case ZPGray50: return u"mediumGray";
    case ZPGray25: return u"lightGray";
    case ZPGray125: return u"gray125";
    case ZPGray0625: return u"gray0625";
    case ZPHorzStripe: return u"darkHorizontal";
    case ZPVertStripe: return u"darkVertical";
    case ZPReverseDiagStripe: return u"darkDown";
    case ZPDiagStripe: return u"darkUp";
    case ZPDiagCross: return u"darkGrid";
    case ZPThickDiagCross: return u"darkTrellis";
    case ZPThinHorzStripe: return u"lightHorizontal";
    case ZPThinVertStripe: return u"lightVertical";
    case ZPThinReverseDiagStripe: return u"lightDown";
    case ZPThinDiagStripe: return u"lightUp";
    case ZPThinHorzCross: return u"lightGrid";
    case ZPThinDiagCross: return u"lightTrellis";
  }
  return u"solid";
}

// The border style name of a line, or null when the line is not drawn. Only names of the format's own
// list: there is no medium dotted line, so a dotted line is "dotted" at every weight. A continuous line
// of weight 0 is a thin line, as in the Excel 2003 XML writer.
const char16_t* BorderStyleName(const TZBorderStyle& line) {
  const int w = line.Weight();
  switch (line.LineStyle) {
    case ZENone: return nullptr;
    case ZEContinuous: return w == 0 ? u"thin" : w == 1 ? u"hair" : w == 2 ? u"medium" : u"thick";
    case ZEDot: return w == 0 ? nullptr : u"dotted";
    case ZEDash: return w == 0 ? nullptr : w == 1 ? u"dashed" : u"mediumDashed";
    case ZEDashDot: return w == 0 ? nullptr : w == 1 ? u"dashDot" : u"mediumDashDot";
    case ZEDashDotDot: return w == 0 ? nullptr : w == 1 ? u"dashDotDot" : u"mediumDashDotDot";
    case ZESlantDashDot: return u"slantDashDot";
    case ZEDouble: return u"double";
  }
  return nullptr;
}

const char16_t* HorizontalName(TZHorizontalAlignment h) {
  switch (h) {
    case ZHLeft: return u"left";
    case ZHCenter: return u"center";
    case ZHRight: return u"right";
    case ZHFill: return u"fill";
    case ZHJustify: return u"justify";
    case ZHDistributed: return u"distributed";
    default: return u"general";
  }
}

const char16_t* VerticalName(TZVerticalAlignment v) {
  switch (v) {
    case ZVTop: return u"top";
    case ZVCenter: return u"center";
    case ZVJustify: return u"justify";
    case ZVDistributed: return u"distributed";
    default: return u"bottom";
  }
}

std::u16string Argb(TColor c) { return u"00" + ColorToHexRGB(c); }

const char16_t* CellTypeCode(TZCellType type) {
  static const char16_t* const kTypes[] = {u"n", u"str", u"b", u"str", u"e"};
  const auto index = static_cast<unsigned>(type);
  return index < 5 ? kTypes[index] : u"str";
}

bool IsTextType(TZCellType type) { return type != ZENumber && type != ZEBoolean && type != ZEError; }

// The formula without the "=" that starts it in the book: the format stores formulas without it, and
// readers would show a second one.
std::u16string XlsxFormula(const std::u16string& formula) {
  return !formula.empty() && formula[0] == u'=' ? formula.substr(1) : formula;
}

bool IsTextBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// Blanks at either end, or line breaks and tabs inside, that a reader would otherwise be free to drop.
bool NeedsPreservedSpace(const std::u16string& text) {
  if (text.empty()) return false;
  if (IsTextBlank(text.front()) || IsTextBlank(text.back())) return true;
  for (char16_t c : text)
    if (c == u'\t' || c == u'\n' || c == u'\r') return true;
  return false;
}

// A new line and the indentation of an element at the depth, as the writer starts one.
std::string LineStart(TZXMLWriterH& xml, int depth) {
  if (!xml.NewLine()) return std::string();
  std::string out = xml.UnixNLSeparator() ? "\n" : "\r\n";
  const std::string tab = Utf16ToXmlUtf8(std::u16string(static_cast<std::size_t>(std::max(xml.TabLength(), 0)),
                                                        xml.TabSymbol()));
  for (int i = 0; i < depth; ++i) out += tab;
  return out;
}

void AppendAscii(std::string& out, const char16_t* text) {
  for (; *text != 0; ++text) out.push_back(static_cast<char>(*text));
}

// A literal "_xHHHH_" (four hexadecimal digits) at text[i]: readers of XLSX text decode it as the
// character HHHH, so it is written with its "_" escaped as "_x005F_".
bool LiteralEscapeAt(const std::u16string& text, std::size_t i) {
  if (i + 7 > text.size() || text[i] != u'_' || text[i + 1] != u'x' || text[i + 6] != u'_') return false;
  for (std::size_t k = i + 2; k < i + 6; ++k) {
    const char16_t h = text[k];
    if (!((h >= u'0' && h <= u'9') || (h >= u'A' && h <= u'F') || (h >= u'a' && h <= u'f'))) return false;
  }
  return true;
}

// Appends the text as UTF-8 element content, escaped by the library's one rule (XmlEscapeOf): markup
// characters as references, characters XML forbids dropped, a lone surrogate as U+FFFD, and with
// crAsReference a CR as a reference too. With cellText a literal "_xHHHH_" keeps its text.
void AppendEscapedUtf8(const std::u16string& text, std::string& out, bool crAsReference, bool cellText = false) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    if (cellText && text[i] == u'_' && LiteralEscapeAt(text, i)) out += "_x005F";
    std::uint32_t c = text[i++];
    if (c >= 0xD800 && c <= 0xDBFF && i < n && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00u);
    else if (c >= 0xD800 && c <= 0xDFFF)
      c = 0xFFFD;
    if (const char* reference = XmlEscapeOf(c, false, crAsReference)) {
      out += reference;  // "" for a character XML forbids: dropped
      continue;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    }
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}


void WriteXfs(TZXMLWriterH& xml, const TSHEVRIX& book, const char16_t* listTag, bool cellXfs,
              const std::vector<int>& fontIds, const std::vector<int>& fillIds, const std::vector<int>& borderIds) {
  const int positions = static_cast<int>(fontIds.size());
  Open(xml, listTag, Attrs({{u"count", Dec(positions)}}));
  for (int p = 0; p < positions; ++p) {
    const TZStyle& s = StyleAt(book, p);
    const TZAlignment& al = s.Alignment;
    const bool applyAlignment = al.WrapText || al.VerticalText || al.Rotate != 0 || al.Indent != 0 ||
                                al.ShrinkToFit || al.Vertical != ZVAutomatic || al.Horizontal != ZHAutomatic;
    TZAttributesH a = Attrs({{u"applyAlignment", TrueFalse(applyAlignment)},
                             {u"applyBorder", u"true"},
                             {u"applyFont", u"true"},
                             {u"applyProtection", u"true"},
                             {u"borderId", Dec(borderIds[p])},
                             {u"fillId", Dec(fillIds[p] + 2)},
                             {u"fontId", Dec(fontIds[p])},
                             {u"numFmtId", u"0"}});
    if (cellXfs) a.Add(u"xfId", u"0", false);
    Open(xml, u"xf", a);
    if (applyAlignment) {
      Empty(xml, u"alignment",
            Attrs({{u"horizontal", HorizontalName(al.Horizontal)},
                   {u"indent", Dec(al.Indent)},
                   {u"shrinkToFit", TrueFalse(al.ShrinkToFit)},
                   {u"textRotation", al.VerticalText ? std::u16string(u"255") : Dec(XlsxTextRotation(al.Rotate))},
                   {u"vertical", VerticalName(al.Vertical)},
                   {u"wrapText", TrueFalse(al.WrapText)}}));
    }
    Empty(xml, u"protection", Attrs({{u"hidden", TrueFalse(s.HideFormula)}, {u"locked", TrueFalse(s.Protect)}}));
    xml.WriteEndTagNode();
  }
  xml.WriteEndTagNode();
}

}  // namespace

void CompactStyleIds(std::vector<int>& ids, int lastStyleIndex) {
  // Ranks are collected apart from the entries: a rank written back into the array must never be
  // mistaken for the style index of a later position.
  const int positions = std::min(static_cast<int>(ids.size()), lastStyleIndex + 2);
  std::vector<int> rank(static_cast<std::size_t>(std::max(positions, 0)), -1);
  int counter = 0;
  for (int p = 0; p < positions; ++p)
    if (ids[p] == -2) rank[p] = counter++;
  for (int p = 0; p < positions; ++p) {
    if (ids[p] == -2) {
      ids[p] = rank[p];
    } else {
      const int first = ids[p] + 1;  // the position of the style index it repeats
      ids[p] = (first >= 0 && first < positions && rank[first] >= 0) ? rank[first] : 0;
    }
  }
}

int WriteXlsxStyles(const TSHEVRIX& book, TZStream* stream, const TZXlsxPartOptions& options) {
  TZXMLWriterH xml;
  if (!BeginPart(xml, stream, options)) return 2;
  const int positions = book.Styles().Count() + 1;
  const int lastStyle = positions - 2;
  std::vector<int> fontIds(positions), fillIds(positions), borderIds(positions);

  Open(xml, u"styleSheet", Attrs({{u"xmlns", kNsMain}}));

  // fonts
  const int fonts = Deduplicate(book, fontIds, [&](int p, int q) {
    return SameFont(StyleAt(book, p).Font, StyleAt(book, q).Font);
  });
  Open(xml, u"fonts", Attrs({{u"count", Dec(fonts)}}));
  for (int p = 0; p < positions; ++p) {
    if (fontIds[p] != -2) continue;
    const TFont& f = StyleAt(book, p).Font;
    Open(xml, u"font", TZAttributesH());
    Empty(xml, u"name", Attrs({{u"val", f.Name}}));
    Empty(xml, u"charset", Attrs({{u"val", Dec(f.Charset)}}));
    Empty(xml, u"sz", Attrs({{u"val", Dec(f.Size())}}));
    if (f.Color != clWindowText) Empty(xml, u"color", Attrs({{u"rgb", Argb(f.Color)}}));
    if (f.Style & fsBold) Empty(xml, u"b", Attrs({{u"val", u"true"}}));
    if (f.Style & fsItalic) Empty(xml, u"i", Attrs({{u"val", u"true"}}));
    if (f.Style & fsStrikeOut) Empty(xml, u"strike", Attrs({{u"val", u"true"}}));
    if (f.Style & fsUnderline) Empty(xml, u"u", Attrs({{u"val", u"single"}}));
    xml.WriteEndTagNode();
  }
  xml.WriteEndTagNode();

  // fills
  const int fills = Deduplicate(book, fillIds, [&](int p, int q) { return SameFill(StyleAt(book, p), StyleAt(book, q)); });
  Open(xml, u"fills", Attrs({{u"count", Dec(fills + 2)}}));
  for (const char16_t* fixed : {u"none", u"gray125"}) {
    Open(xml, u"fill", TZAttributesH());
    Empty(xml, u"patternFill", Attrs({{u"patternType", fixed}}));
    xml.WriteEndTagNode();
  }
  for (int p = 0; p < positions; ++p) {
    if (fillIds[p] != -2) continue;
    const TZStyle& s = StyleAt(book, p);
    Open(xml, u"fill", TZAttributesH());
    const TZAttributesH pattern = Attrs({{u"patternType", PatternType(s.CellPattern)}});
    const bool bgSet = s.BGColor != clWindow;
    const bool patternSet = s.PatternColor != clWindow;
    if (!bgSet && !patternSet) {
      Empty(xml, u"patternFill", pattern);
    } else {
      Open(xml, u"patternFill", pattern);
      const bool plain = s.CellPattern == ZPNone || s.CellPattern == ZPSolid;
      if (bgSet) Empty(xml, u"fgColor", Attrs({{u"rgb", Argb(plain ? s.BGColor : s.PatternColor)}}));
      if (patternSet) Empty(xml, u"bgColor", Attrs({{u"rgb", Argb(plain ? s.PatternColor : s.BGColor)}}));
      xml.WriteEndTagNode();
    }
    xml.WriteEndTagNode();
  }
  xml.WriteEndTagNode();

  // borders
  const int borders = Deduplicate(book, borderIds, [&](int p, int q) {
    return StyleAt(book, p).Border.IsEqual(StyleAt(book, q).Border);
  });
  Open(xml, u"borders", Attrs({{u"count", Dec(borders)}}));
  for (int p = 0; p < positions; ++p) {
    if (borderIds[p] != -2) continue;
    const TZBorder& b = StyleAt(book, p).Border;
    auto drawn = [](const TZBorderStyle& line) { return BorderStyleName(line) != nullptr; };
    Open(xml, u"border",
         Attrs({{u"diagonalDown", TrueFalse(drawn(b.DiagonalLeft()))},
                {u"diagonalUp", TrueFalse(drawn(b.DiagonalRight()))}}));
    const std::pair<const char16_t*, int> sides[] = {{u"left", 0}, {u"right", 2}, {u"top", 1}, {u"bottom", 3},
                                                     {u"diagonal", 4}};
    for (const auto& [tag, index] : sides) {
      const TZBorderStyle& line = *b.Border(index);
      const char16_t* style = BorderStyleName(line);
      TZAttributesH a;
      if (style != nullptr) a.Add(u"style", style, false);
      if (style != nullptr && line.Color != clBlack) {
        Open(xml, tag, a);
        Empty(xml, u"color", Attrs({{u"rgb", Argb(line.Color)}}));
        xml.WriteEndTagNode();
      } else {
        Empty(xml, tag, a);
      }
    }
    xml.WriteEndTagNode();
  }
  xml.WriteEndTagNode();

  CompactStyleIds(fontIds, lastStyle);
  CompactStyleIds(fillIds, lastStyle);
  CompactStyleIds(borderIds, lastStyle);
  WriteXfs(xml, book, u"cellStyleXfs", false, fontIds, fillIds, borderIds);
  WriteXfs(xml, book, u"cellXfs", true, fontIds, fillIds, borderIds);
  xml.EndSaveTo();
  return 0;
}

int WriteXlsxSharedStrings(TZStream* stream, const TZXlsxPartOptions& options) {
  TZXMLWriterH xml;
  if (!BeginPart(xml, stream, options)) return 2;
  Empty(xml, u"sst", Attrs({{u"count", u"0"}, {u"uniqueCount", u"0"}, {u"xmlns", kNsMain}}));
  xml.EndSaveTo();
  return 0;
}

int WriteXlsxPackageRels(TZStream* stream, const TZXlsxPartOptions& options) {
  TZXMLWriterH xml;
  if (!BeginPart(xml, stream, options)) return 2;
  Open(xml, u"Relationships", Attrs({{u"xmlns", kNsPackageRels}}));
  Empty(xml, u"Relationship", Attrs({{u"Id", u"rId1"}, {u"Type", kRelOfficeDocument}, {u"Target", u"xl/workbook.xml"}}));
  Empty(xml, u"Relationship", Attrs({{u"Id", u"rId2"}, {u"Type", kRelExtendedProps}, {u"Target", u"docProps/app.xml"}}));
  Empty(xml, u"Relationship", Attrs({{u"Id", u"rId3"}, {u"Type", kRelCoreProps}, {u"Target", u"docProps/core.xml"}}));
  xml.EndSaveTo();
  return 0;
}

int WriteXlsxWorkbookRels(TZStream* stream, int pageCount, const TZXlsxPartOptions& options) {
  TZXMLWriterH xml;
  if (!BeginPart(xml, stream, options)) return 2;
  Open(xml, u"Relationships", Attrs({{u"xmlns", kNsPackageRels}}));
  Empty(xml, u"Relationship", Attrs({{u"Id", u"rId1"}, {u"Type", kRelStyles}, {u"Target", u"styles.xml"}}));
  for (int i = 1; i <= pageCount; ++i)
    Empty(xml, u"Relationship",
          Attrs({{u"Id", u"rId" + Dec(i + 1)},
                 {u"Type", kRelWorksheet},
                 {u"Target", u"worksheets/sheet" + Dec(i) + u".xml"}}));
  Empty(xml, u"Relationship",
        Attrs({{u"Id", u"rId" + Dec(pageCount + 2)}, {u"Type", kRelSharedStrings}, {u"Target", u"sharedStrings.xml"}}));
  xml.EndSaveTo();
  return 0;
}

int WriteXlsxWorkbook(const std::vector<std::u16string>& titles, TZStream* stream, const TZXlsxPartOptions& options) {
  TZXMLWriterH xml;
  if (!BeginPart(xml, stream, options)) return 2;
  Open(xml, u"workbook", Attrs({{u"xmlns", kNsMain}, {u"xmlns:r", kNsRel}}));
  Empty(xml, u"fileVersion", Attrs({{u"appName", u"SHEVRIXlib"}}));
  Empty(xml, u"workbookPr", Attrs({{u"backupFile", u"false"}, {u"showObjects", u"all"}, {u"date1904", u"false"}}));
  Empty(xml, u"workbookProtection", TZAttributesH());
  Open(xml, u"bookViews", TZAttributesH());
  Empty(xml, u"workbookView",
        Attrs({{u"activeTab", u"0"},
               {u"firstSheet", u"0"},
               {u"showHorizontalScroll", u"true"},
               {u"showSheetTabs", u"true"},
               {u"showVerticalScroll", u"true"},
               {u"tabRatio", u"200"},
               {u"windowHeight", u"8192"},
               {u"windowWidth", u"16384"},
               {u"xWindow", u"0"},
               {u"yWindow", u"0"}}));
  xml.WriteEndTagNode();
  Open(xml, u"sheets", TZAttributesH());
  for (std::size_t i = 0; i < titles.size(); ++i)
    Empty(xml, u"sheet",
          Attrs({{u"name", titles[i]},
                 {u"sheetId", Dec(static_cast<long long>(i) + 1)},
                 {u"state", u"visible"},
                 {u"r:id", u"rId" + Dec(static_cast<long long>(i) + 2)}}));
  xml.WriteEndTagNode();
  Empty(xml, u"calcPr",
        Attrs({{u"iterateCount", u"100"}, {u"refMode", u"A1"}, {u"iterate", u"false"}, {u"iterateDelta", u"0.001"}}));
  xml.EndSaveTo();
  return 0;
}

int WriteXlsxContentTypes(TZStream* stream, int pageCount, const TZXlsxPartOptions& options) {
  TZXMLWriterH xml;
  if (!BeginPart(xml, stream, options)) return 2;
  Open(xml, u"Types", Attrs({{u"xmlns", kNsContentTypes}}));
  auto over = [&](const std::u16string& part, const char16_t* type) {
    Empty(xml, u"Override", Attrs({{u"PartName", part}, {u"ContentType", type}}));
  };
  over(u"/_rels/.rels", kTypeRelationships);
  over(u"/xl/_rels/workbook.xml.rels", kTypeRelationships);
  for (int i = 1; i <= pageCount; ++i)
    over(u"/xl/worksheets/sheet" + Dec(i) + u".xml",
         u"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml");
  over(u"/xl/workbook.xml", u"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml");
  over(u"/xl/styles.xml", u"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml");
  over(u"/xl/sharedStrings.xml", u"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml");
  over(u"/docProps/app.xml", u"application/vnd.openxmlformats-officedocument.extended-properties+xml");
  over(u"/docProps/core.xml", u"application/vnd.openxmlformats-package.core-properties+xml");
  xml.EndSaveTo();
  return 0;
}

int WriteXlsxAppProps(TZStream* stream, const TZXlsxPartOptions& options) {
  TZXMLWriterH xml;
  if (!BeginPart(xml, stream, options)) return 2;
  Open(xml, u"Properties", Attrs({{u"xmlns", kNsExtendedProps}, {u"xmlns:vt", kNsVariantTypes}}));
  xml.WriteTag(u"TotalTime", u"0", true, false, true);
  xml.WriteTag(u"Application", GeneratorName(), true, false, true);
  xml.EndSaveTo();
  return 0;
}

int WriteXlsxCoreProps(const TSHEVRIX& book, TZStream* stream, const TZXlsxPartOptions& options) {
  TZXMLWriterH xml;
  if (!BeginPart(xml, stream, options)) return 2;
  Open(xml, u"cp:coreProperties",
       Attrs({{u"xmlns:cp", kNsCoreProps},
              {u"xmlns:dc", kNsDc},
              {u"xmlns:dcmitype", kNsDcmiType},
              {u"xmlns:dcterms", kNsDcTerms},
              {u"xmlns:xsi", kNsXsi}}));
  const std::u16string created = DateTimeToIsoUtcText(book.DocumentProperties().Created);
  const TZAttributesH w3c = Attrs({{u"xsi:type", u"dcterms:W3CDTF"}});
  xml.WriteTag(u"dcterms:created", created, w3c, true, false, true);
  xml.WriteTag(u"dcterms:modified", created, w3c, true, false, true);
  xml.WriteTag(u"cp:revision", u"1", true, false, true);
  xml.EndSaveTo();
  return 0;
}

int WriteXlsxWorksheet(const TSHEVRIX& book, int sheetIndex, TZStream* stream, const TZXlsxPartOptions& options) {
  const TZSheet* sheetPtr = book.Sheets().Sheet(sheetIndex);
  if (sheetPtr == nullptr) return 2;
  const TZSheet& sheet = *sheetPtr;
  TZXMLWriterH xml;
  if (!BeginPart(xml, stream, options)) return 2;
  const int cols = sheet.ColCount();
  const int rows = sheet.RowCount();
  const int styleCount = book.Styles().Count();
  auto styleIndex = [&](int style) -> std::u16string {
    return (style >= -1 && style < styleCount) ? Dec(style + 1) : std::u16string(u"0");
  };

  Open(xml, u"worksheet", Attrs({{u"xmlns", kNsMain}, {u"xmlns:r", kNsRel}}));
  Open(xml, u"sheetPr", Attrs({{u"filterMode", u"false"}}));
  Empty(xml, u"pageSetUpPr", Attrs({{u"fitToPage", u"false"}}));
  xml.WriteEndTagNode();
  Empty(xml, u"dimension",
        Attrs({{u"ref", cols == 0 ? std::u16string(u"A1") : u"A1:" + ColumnLetters(cols - 1) + Dec(rows)}}));

  Open(xml, u"sheetViews", TZAttributesH());
  Open(xml, u"sheetView",
       Attrs({{u"colorId", u"64"},
              {u"defaultGridColor", u"true"},
              {u"rightToLeft", u"false"},
              {u"showFormulas", u"false"},
              {u"showGridLines", u"true"},
              {u"showOutlineSymbols", u"true"},
              {u"showRowColHeaders", u"true"},
              {u"showZeros", u"true"},
              {u"tabSelected", u"true"},
              {u"topLeftCell", u"A1"},
              {u"view", u"normal"},
              {u"windowProtection", u"false"},
              {u"workbookViewId", u"0"},
              {u"zoomScale", u"100"},
              {u"zoomScaleNormal", u"100"},
              {u"zoomScalePageLayoutView", u"100"}}));
  const TZSheetOptions& o = sheet.SheetOptions();
  if (o.SplitVerticalMode != ZSplitNone || o.SplitHorizontalMode != ZSplitNone) {
    TZAttributesH pane;
    auto split = [&](const char16_t* attr, TZSplitMode mode, int value) {
      if (mode == ZSplitFrozen && value != 0) pane.Add(attr, Dec(value), false);
      if (mode == ZSplitSplit)
        pane.Add(attr, Dec(std::llround(RoundHalfEven(PixelsToPoints(value, 0.265) * 20))), false);
    };
    split(u"xSplit", o.SplitVerticalMode, o.SplitVerticalValue);
    split(u"ySplit", o.SplitHorizontalMode, o.SplitHorizontalValue);
    if (o.SplitVerticalMode != ZSplitSplit && o.SplitHorizontalMode != ZSplitSplit && o.SplitVerticalValue <= 1000 &&
        o.SplitHorizontalValue <= 100)
      pane.Add(u"topLeftCell", ColumnLetters(o.SplitVerticalValue) + Dec(static_cast<long long>(o.SplitHorizontalValue) + 1),
               false);
    pane.Add(u"activePane", u"topLeft", false);
    const bool frozen = o.SplitVerticalMode == ZSplitFrozen || o.SplitHorizontalMode == ZSplitFrozen;
    pane.Add(u"state", frozen ? u"frozen" : u"split", false);
    Empty(xml, u"pane", pane);
  }
  const std::u16string active = ColumnLetters(o.ActiveCol) + Dec(static_cast<long long>(o.ActiveRow) + 1);
  Empty(xml, u"selection", Attrs({{u"activeCell", active}, {u"sqref", active}}));
  xml.WriteEndTagNode();  // sheetView
  xml.WriteEndTagNode();  // sheetViews

  if (cols > 0) {
    Open(xml, u"cols", TZAttributesH());
    for (int j = 0; j < cols; ++j) {
      const TZColOptions& col = *sheet.Columns(j);
      const bool last = j == cols - 1;
      TZAttributesH a = Attrs({{u"collapsed", u"false"},
                               {u"hidden", TrueFalse(col.Hidden)},
                               {u"max", (last && j + 1 <= 1025) ? std::u16string(u"1025") : Dec(j + 1)},
                               {u"min", Dec(j + 1)},
                               {u"style", styleIndex(col.StyleID)},
                               {u"width", FormatDecimal(col.WidthMM() * 5.14509803921569 / 10, 10)}});
      if (col.AutoFitWidth()) a.Add(u"bestFit", u"1", false);
      Empty(xml, u"col", a);
    }
    xml.WriteEndTagNode();
  }

  const TZMergeCells& merges = sheet.MergeCells();
  Open(xml, u"sheetData", TZAttributesH());
  // Pieces of every cell, made once: column letters, style numbers, and the line starts of the cell
  // (inside a row), of its children and of the text of an inline string.
  std::vector<std::string> letters(static_cast<std::size_t>(std::max(cols, 0)));
  for (int j = 0; j < cols; ++j) letters[static_cast<std::size_t>(j)] = Utf16ToXmlUtf8(ColumnLetters(j));
  std::vector<std::string> styleNumbers(static_cast<std::size_t>(styleCount) + 1);
  for (int i = 0; i <= styleCount; ++i) styleNumbers[static_cast<std::size_t>(i)] = std::to_string(i);
  const int rowDepth = xml.TagCount() + 1;
  const std::string cellIndent = LineStart(xml, rowDepth);
  const std::string childIndent = LineStart(xml, rowDepth + 1);
  const std::string textIndent = LineStart(xml, rowDepth + 2);
  std::string rowBytes;
  std::u16string value;
  const std::string rowIndent = LineStart(xml, rowDepth - 1);
  double lastHeightMM = -1;
  std::string heightText;
  for (int r = 0; r < rows; ++r) {
    const TZRowOptions& row = *sheet.Rows(r);
    const std::string rowNumber = std::to_string(r + 1);
    const bool customHeight = std::fabs(row.Height() - sheet.DefaultRowHeight()) > 0.001;
    if (cols == 0) {
      Open(xml, u"row",
           Attrs({{u"collapsed", u"false"},
                  {u"customFormat", u"false"},
                  {u"customHeight", TrueFalse(customHeight)},
                  {u"hidden", TrueFalse(row.Hidden)},
                  {u"ht", FormatDecimal(row.HeightMM() * 2.835, 2)},
                  {u"outlineLevel", u"0"},
                  {u"r", Dec(r + 1)}}));
      xml.WriteEndTagNode();
      continue;
    }
    // The row and its cells are put together as bytes and handed to the writer at once: the same bytes
    // the writer's element calls give, without attribute lists and two text conversions per cell.
    if (row.HeightMM() != lastHeightMM) {
      lastHeightMM = row.HeightMM();
      heightText = Utf16ToXmlUtf8(FormatDecimal(lastHeightMM * 2.835, 2));
    }
    rowBytes.clear();
    rowBytes += rowIndent;
    rowBytes += "<row collapsed=\"false\" customFormat=\"false\" customHeight=\"";
    rowBytes += customHeight ? "true" : "false";
    rowBytes += "\" hidden=\"";
    rowBytes += row.Hidden ? "true" : "false";
    rowBytes += "\" ht=\"";
    rowBytes += heightText;
    rowBytes += "\" outlineLevel=\"0\" r=\"";
    rowBytes += rowNumber;
    rowBytes += "\">";
    for (int j = 0; j < cols; ++j) {
      const TZCell& cell = *sheet.Cell(j, r);
      int style = cell.CellStyle();
      if (merges.Count() > 0) {
        const int area = merges.InMergeRange(j, r);
        if (area >= 0 && merges.InLeftTopCorner(j, r) != area) {
          const TRect rect = merges.Items(area);
          style = sheet.Cell(rect.Left, rect.Top)->CellStyle();
        }
      }
      const TZCellType type = WrittenCellType(cell, value);
      const std::u16string& rawFormula = cell.Formula();
      const bool hasFormula = rawFormula.size() > (rawFormula.empty() || rawFormula[0] != u'=' ? 0u : 1u);
      rowBytes += cellIndent;
      rowBytes += "<c r=\"";
      rowBytes += letters[static_cast<std::size_t>(j)];
      rowBytes += rowNumber;
      rowBytes += "\" s=\"";
      rowBytes += (style >= -1 && style < styleCount) ? styleNumbers[static_cast<std::size_t>(style + 1)] : "0";
      rowBytes += "\" t=\"";
      if (value.empty() && !hasFormula) {
        AppendAscii(rowBytes, CellTypeCode(type));
        rowBytes += "\"/>";
        continue;
      }
      if (!hasFormula && IsTextType(type)) {
        // Text as an inline string: the only form in which readers keep blanks at either end and CR.
        rowBytes += "inlineStr\">";
        rowBytes += childIndent;
        rowBytes += "<is>";
        rowBytes += textIndent;
        rowBytes += NeedsPreservedSpace(value) ? "<t xml:space=\"preserve\">" : "<t>";
        AppendEscapedUtf8(value, rowBytes, true, true);
        rowBytes += "</t>";
        rowBytes += childIndent;
        rowBytes += "</is>";
        rowBytes += cellIndent;
        rowBytes += "</c>";
        continue;
      }
      AppendAscii(rowBytes, CellTypeCode(type));
      rowBytes += "\">";
      if (hasFormula) {
        rowBytes += childIndent;
        rowBytes += "<f aca=\"false\">";
        AppendEscapedUtf8(XlsxFormula(rawFormula), rowBytes, false);
        rowBytes += "</f>";
      }
      if (!value.empty()) {
        rowBytes += childIndent;
        rowBytes += "<v>";
        AppendEscapedUtf8(value, rowBytes, false, true);  // a formula's text result is read like cell text
        rowBytes += "</v>";
      }
      rowBytes += cellIndent;
      rowBytes += "</c>";
    }
    rowBytes += rowIndent;
    rowBytes += "</row>";
    xml.WriteRaw(rowBytes, true, false);
  }
  xml.WriteEndTagNode();  // sheetData

  if (merges.Count() > 0) {
    Open(xml, u"mergeCells", Attrs({{u"count", Dec(merges.Count())}}));
    for (int i = 0; i < merges.Count(); ++i) {
      const TRect rect = merges.Items(i);
      Empty(xml, u"mergeCell",
            Attrs({{u"ref", ColumnLetters(rect.Left) + Dec(static_cast<long long>(rect.Top) + 1) + u":" +
                                ColumnLetters(rect.Right) + Dec(static_cast<long long>(rect.Bottom) + 1)}}));
    }
    xml.WriteEndTagNode();
  }
  Empty(xml, u"printOptions",
        Attrs({{u"headings", u"false"},
               {u"gridLines", u"false"},
               {u"gridLinesSet", u"true"},
               {u"horizontalCentered", TrueFalse(o.CenterHorizontal)},
               {u"verticalCentered", TrueFalse(o.CenterVertical)}}));
  Empty(xml, u"pageMargins",
        Attrs({{u"left", FormatDecimal(o.MarginLeft / 25.4, 10)},
               {u"right", FormatDecimal(o.MarginRight / 25.4, 10)},
               {u"top", FormatDecimal(o.MarginTop / 25.4, 10)},
               {u"bottom", FormatDecimal(o.MarginBottom / 25.4, 10)},
               {u"header", FormatDecimal(o.HeaderMargin() / 25.4, 10)},
               {u"footer", FormatDecimal(o.FooterMargin() / 25.4, 10)}}));
  Empty(xml, u"pageSetup",
        Attrs({{u"blackAndWhite", u"false"},
               {u"cellComments", u"none"},
               {u"copies", u"1"},
               {u"draft", u"false"},
               {u"firstPageNumber", u"1"},
               {u"fitToHeight", u"1"},
               {u"fitToWidth", u"1"},
               {u"horizontalDpi", u"300"},
               {u"orientation", o.PortraitOrientation ? u"portrait" : u"landscape"},
               {u"pageOrder", u"downThenOver"},
               {u"paperSize", Dec(o.PaperSize)},
               {u"scale", u"100"},
               {u"useFirstPageNumber", u"true"},
               {u"verticalDpi", u"300"}}));
  xml.EndSaveTo();
  return 0;
}

int SaveBookAsXlsx(const TSHEVRIX& book, const std::string& fileName, const std::vector<int>& sheetIndexes,
                   const std::vector<std::u16string>& titles, CZxZipGens zipGen, bool allowFolderOutput,
                   const std::string& bom, const std::u16string& encodingName, const TAnsiToCPConverter& converter) {
  TZPageList pages;
  if (!PreparePageList(book, sheetIndexes, titles, pages)) return 2;
  CZxZipGens cls = zipGen != nullptr ? zipGen : TZxZipGen::QueryZipGen(0);
  if (cls == nullptr) {
    if (!allowFolderOutput) throw EZxZipGen("No zip generators registered, folder output disabled.");
    cls = TZxZipGen::QueryDummyZipGen();
  }
  const TZXlsxPartOptions options{bom, encodingName, converter};
  std::unique_ptr<TZxZipGen> gen = cls->Create(fileName);
  try {
    auto part = [&](const char* name, const std::function<void(TZStream*)>& write) {
      TZxStream* stream = gen->NewStream(name);
      write(stream);
      gen->SealStream(stream);
    };
    part("xl\\styles.xml", [&](TZStream* s) { WriteXlsxStyles(book, s, options); });
    part("xl\\sharedStrings.xml", [&](TZStream* s) { WriteXlsxSharedStrings(s, options); });
    part("_rels\\.rels", [&](TZStream* s) { WriteXlsxPackageRels(s, options); });
    part("xl\\_rels\\workbook.xml.rels", [&](TZStream* s) { WriteXlsxWorkbookRels(s, pages.Count(), options); });
    for (int i = 0; i < pages.Count(); ++i) {
      const std::string name = "xl\\worksheets\\sheet" + std::to_string(i + 1) + ".xml";
      part(name.c_str(), [&](TZStream* s) { WriteXlsxWorksheet(book, pages.SheetIndexes[i], s, options); });
    }
    part("xl\\workbook.xml", [&](TZStream* s) { WriteXlsxWorkbook(pages.Titles, s, options); });
    part("[Content_Types].xml", [&](TZStream* s) { WriteXlsxContentTypes(s, pages.Count(), options); });
    part("docProps\\app.xml", [&](TZStream* s) { WriteXlsxAppProps(s, options); });
    part("docProps\\core.xml", [&](TZStream* s) { WriteXlsxCoreProps(book, s, options); });
    gen->SaveAndSeal();
  } catch (...) {
    // The package is abandoned; only the original error reaches the caller.
    if (gen->State() == TZxZipGenState::zgsAccepting) {
      try {
        gen->AbortAndDelete();
      } catch (...) {
      }
    }
    gen.reset();
    throw;
  }
  TZxZipGen::Free(gen);
  return 0;
}
