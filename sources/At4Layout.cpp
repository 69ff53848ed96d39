// The ".at4" full-name layout; see At4Layout.h.
#include "sources/At4Layout.h"

#include "sources/DbValues.h"

#include <QXmlStreamReader>

namespace {

// Entities a layout may expand to, at most: far above the few attributes of a real layout, far below
// what a document built to expand without end would make.
constexpr int kEntityExpansionLimit = 4096;

}  // namespace

std::vector<TFullName> ParseFullNameLayout(const QByteArray& utf16le, const QString& path) {
  if (utf16le.size() % 2 != 0)
    throw EAt4Read(EAt4Read::BadLayout, path, QStringLiteral("нечётное число байтов UTF-16"));
  QString text = dbvalues::Utf16LeBytes(utf16le.toStdString());
  if (text.startsWith(QChar(0xFEFF))) text.remove(0, 1);
  QXmlStreamReader xml(text);
  xml.setEntityExpansionLimit(kEntityExpansionLimit);
  std::vector<TFullName> out;
  int depth = 0;  // 1 inside the document element, 2 inside one of its children
  bool seenRoot = false;
  while (!xml.atEnd()) {
    const QXmlStreamReader::TokenType t = xml.readNext();
    if (t == QXmlStreamReader::StartElement) {
      ++depth;
      if (depth == 1) {
        seenRoot = true;
      } else if (depth == 2) {
        const QXmlStreamAttributes a = xml.attributes();
        TFullName f;
        f.fieldID = a.value(QLatin1String("fieldID")).toString();
        f.prefix = a.value(QLatin1String("prefix")).toString();
        f.suffix = a.value(QLatin1String("suffix")).toString();
        f.emptyval = a.value(QLatin1String("emptyval")).toString();
        f.abbr = a.value(QLatin1String("abbr")).toString();
        out.push_back(std::move(f));
      }
    } else if (t == QXmlStreamReader::EndElement) {
      --depth;
    }
  }
  if (xml.hasError())
    throw EAt4Read(EAt4Read::BadLayout, path,
                   xml.errorString() + QStringLiteral(" (%1:%2)").arg(xml.lineNumber()).arg(xml.columnNumber()));
  if (!seenRoot) throw EAt4Read(EAt4Read::BadLayout, path, QStringLiteral("нет корневого элемента"));
  return out;
}

std::vector<TFullName> LoadFullNameLayout(TDataModule2& dm) {
  const QString path = QString::fromStdString(dm.dbAT4.DatabaseFileName());
  nrd::TNRDQuery& q = dm.Query_TMP;
  q.Close();
  q.SetSQL("select fullname,id from global");
  try {
    q.Open();
  } catch (const std::exception&) {
    throw EAt4Read(EAt4Read::NotFamilyTree, path, QStringLiteral("global"));
  }
  if (q.Eof() || q.FieldCount() < 1 || q.Fields(0).IsNull()) {
    q.Close();
    throw EAt4Read(EAt4Read::BadLayout, path, QStringLiteral("global.fullname"));
  }
  const std::string bytes = q.Fields(0).AsBytes();
  q.Close();
  return ParseFullNameLayout(QByteArray(bytes.data(), qsizetype(bytes.size())), path);
}
