#include "app/reports/WorkbookExport.h"

#include <QFile>
#include <QFileInfo>

#include <stdexcept>

#include "app/core/trans.h"
#include "app/reports/Calendar.h"
#include "platform/qt/ClientDataSet.h"
#include "sheet/bookSave.h"
#include "sheet/bookZip.h"
#include "sheet/shevrix.h"

namespace {

std::u16string U16(const QString& s) { return s.toStdU16String(); }

// Style 0 and the header style 1 of both books; styles 2 to 5 start as copies of style 0.
void BaseStyles(TSHEVRIX& book) {
  book.Styles().SetCount(6);
  TZStyle& s0 = *book.Styles().Items(0);
  s0.Font.Name = u"Tahoma";
  s0.Font.SetSize(9);
  s0.Alignment.WrapText = true;
  for (TZBorderStyle* line : {&s0.Border.Left(), &s0.Border.Top(), &s0.Border.Right(), &s0.Border.Bottom()}) {
    line->LineStyle = ZEContinuous;
    line->SetWeight(1);
    line->Color = 0xC0C0C0;
  }
  for (int i = 1; i < 6; ++i) book.Styles().Items(i)->Assign(s0);
  TZStyle& s1 = *book.Styles().Items(1);
  s1.Font.Style |= fsBold;
  s1.Alignment.Horizontal = ZHCenter;
  s1.Alignment.Vertical = ZVCenter;
  for (TZBorderStyle* line : {&s1.Border.Left(), &s1.Border.Top(), &s1.Border.Right(), &s1.Border.Bottom()})
    line->Color = clBlack;
}

void Fill(TSHEVRIX& book, int style, TColor color) {
  TZStyle& s = *book.Styles().Items(style);
  s.CellPattern = ZPSolid;
  s.BGColor = color;
}

// The sheet with its header row; returns it.
TZSheet& HeaderSheet(TSHEVRIX& book, const char16_t* title, const platform::TClientDataSet& cds,
                     const std::vector<TReportColumn>& columns, int widthExtra) {
  book.Sheets().SetCount(1);
  TZSheet& sheet = *book.Sheets().Sheet(0);
  sheet.SetTitle(title);
  sheet.SheetOptions().SplitHorizontalMode = ZSplitFrozen;
  sheet.SheetOptions().SplitHorizontalValue = 1;
  sheet.SetRowCount(cds.RecordCount() + 1);
  sheet.SetColCount(static_cast<int>(columns.size()));
  for (std::size_t k = 0; k < columns.size(); ++k) {
    TZCell& c = *sheet.Cell(static_cast<int>(k), 0);
    c.SetData(U16(StripTitleMark(columns[k].title)));
    c.SetCellStyle(1);
    sheet.Columns(static_cast<int>(k))->SetWidthPix(columns[k].width + widthExtra);
  }
  return sheet;
}

std::vector<int> FieldsOf(const platform::TClientDataSet& cds, const std::vector<TReportColumn>& columns) {
  std::vector<int> fields;
  for (const TReportColumn& c : columns) fields.push_back(cds.FieldIndex(c.field));
  return fields;
}

QString Text(const platform::TClientDataSet& cds, int pos, int field) {
  return field < 0 ? QString() : cds.ValueAt(pos, field).toString();
}

std::optional<int> Number(const platform::TClientDataSet& cds, int pos, int field) {
  if (field < 0) return std::nullopt;
  const QVariant v = cds.ValueAt(pos, field);
  if (!v.isValid() || v.isNull() || v.toString().isEmpty()) return std::nullopt;
  return v.toInt();
}

}  // namespace

void BuildMarriageBook(TSHEVRIX& book, const platform::TClientDataSet& cds, const std::vector<TReportColumn>& columns) {
  BaseStyles(book);
  Fill(book, 2, 0xCCFFCC);
  Fill(book, 3, 0xE0FFFF);
  Fill(book, 4, 0xFFFFCC);
  Fill(book, 5, 0xCCCCFF);
  TZSheet& sheet = HeaderSheet(book, u"Marriages", cds, columns, 0);
  const std::vector<int> fields = FieldsOf(cds, columns);
  const int ok = cds.FieldIndex(QStringLiteral("Ok")), main = cds.FieldIndex(QStringLiteral("Main")),
            calc = cds.FieldIndex(QStringLiteral("DM_CALC"));
  for (int pos = 0; pos < cds.RecordCount(); ++pos) {
    const QString okText = Text(cds, pos, ok), mainText = Text(cds, pos, main), calcText = Text(cds, pos, calc);
    for (std::size_t k = 0; k < columns.size(); ++k) {
      TZCell& c = *sheet.Cell(static_cast<int>(k), pos + 1);
      c.SetData(U16(Text(cds, pos, fields[k])));
      c.SetCellStyle(MarriageCellStyle(okText, mainText, fields[k] >= 0 && fields[k] == calc, calcText));
    }
  }
}

void BuildInformerBook(TSHEVRIX& book, const platform::TClientDataSet& cds, const std::vector<TReportColumn>& columns) {
  BaseStyles(book);
  Fill(book, 2, 0xDDFFDD);
  Fill(book, 3, 0xFFDDFF);
  Fill(book, 4, 0xFFDDDD);
  TZStyle& s5 = *book.Styles().Items(5);
  s5.Font.Style |= fsBold;
  s5.Font.Color = 0x000080;
  TZSheet& sheet = HeaderSheet(book, u"Informer", cds, columns, 10);
  const std::vector<int> fields = FieldsOf(cds, columns);
  const int type = cds.FieldIndex(QStringLiteral("Type")), years = cds.FieldIndex(QStringLiteral("Years")),
            days = cds.FieldIndex(QStringLiteral("Days"));
  for (int pos = 0; pos < cds.RecordCount(); ++pos) {
    const QString typeText = Text(cds, pos, type);
    const std::optional<int> y = Number(cds, pos, years), d = Number(cds, pos, days);
    for (std::size_t k = 0; k < columns.size(); ++k) {
      TZCell& c = *sheet.Cell(static_cast<int>(k), pos + 1);
      c.SetData(U16(Text(cds, pos, fields[k])));
      c.SetCellStyle(CalendarCellStyle(typeText, columns[k].field, y, d));
    }
  }
}

void SaveWorkbook(TSHEVRIX& book, const QString& fileName, const QString& input) {
  // The library wants the folder in the name; a bare file name is in the current folder.
  const std::string path = QFile::encodeName(QFileInfo(fileName).absoluteFilePath()).toStdString();
  // Refused targets are refused before the package is made; the writer checks them again itself.
  CheckTargetFile(path, input.isEmpty() ? std::string() : QFile::encodeName(input).toStdString());
  const int rc = TZBookSave::From(&book).Charset("utf-8").Save(path);
  if (rc != 0)
    throw std::runtime_error("The workbook was not written: " + fileName.toStdString());
}

void MarriageToXLS(const platform::TClientDataSet& cds, const std::vector<TReportColumn>& columns, const QString& fileName,
                   const QString& input) {
  if (!cds.Active() || fileName.isEmpty()) return;
  TSHEVRIX book;
  BuildMarriageBook(book, cds, columns);
  SaveWorkbook(book, fileName, input);
}

void InformerToXLS(const platform::TClientDataSet& cds, const std::vector<TReportColumn>& columns, const QString& fileName,
                   const QString& input) {
  if (!cds.Active() || fileName.isEmpty()) return;
  TSHEVRIX book;
  BuildInformerBook(book, cds, columns);
  SaveWorkbook(book, fileName, input);
}
