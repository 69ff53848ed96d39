#include "platform/qt/MessageFormat.h"

namespace platform {

QString FormatMsg(const QString& pattern, const QStringList& args) {
  QString out;
  out.reserve(pattern.size());
  qsizetype next = 0;
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const QChar c = pattern[i];
    if (c == QLatin1Char('%') && i + 1 < pattern.size()) {
      const QChar d = pattern[i + 1];
      if (d == QLatin1Char('s')) {
        if (next < args.size()) out += args[next];
        ++next;
        ++i;
        continue;
      }
      if (d == QLatin1Char('%')) {
        out += QLatin1Char('%');
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

}  // namespace platform
