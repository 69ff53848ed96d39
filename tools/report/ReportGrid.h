// Shared by the grid report words: a client dataset's shown rows as tab-separated lines, the column
// titles first, each cell as the grid shows it (line breaks removed; tabs become blanks).
#pragma once

#include <QTextStream>

#include <vector>

#include "app/reports/Marriages.h"
#include "platform/qt/ClientDataSet.h"

inline void PrintGridRows(QTextStream& out, const platform::TClientDataSet& cds, const std::vector<TReportColumn>& columns) {
  auto cell = [](QString s) {
    s.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
    s.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return s;
  };
  QStringList titles;
  std::vector<int> fields;
  for (const TReportColumn& c : columns) {
    titles << cell(c.title);
    fields.push_back(cds.FieldIndex(c.field));
  }
  out << titles.join(QLatin1Char('\t')) << '\n';
  for (int pos = 0; pos < cds.RecordCount(); ++pos) {
    QStringList values;
    for (int f : fields) values << (f < 0 ? QString() : cell(cds.ValueAt(pos, f).toString()));
    out << values.join(QLatin1Char('\t')) << '\n';
  }
}
