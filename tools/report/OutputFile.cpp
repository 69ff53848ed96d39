#include "tools/report/OutputFile.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <stdexcept>

void CheckOutputFile(const QString& out, const QString& input) {
  if (QFileInfo(out).fileName().startsWith(QLatin1Char('.')) && QFileInfo(out).completeBaseName().isEmpty())
    throw std::runtime_error(QStringLiteral("%1: the output file needs a name before its extension").arg(out).toStdString());
  try {
    CheckTargetFile(QFile::encodeName(out).toStdString(), QFile::encodeName(input).toStdString());
  } catch (const EZxZipGen& e) {
    throw std::runtime_error(OutputFaultText(e.Fault(), e.Errno(), out).toStdString());
  }
}

QString OutputFaultText(TZxFileFault fault, int err, const QString& out) {
  const QString reason = err ? QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err)) : QString();
  switch (fault) {
    case TZxFileFault::ffNotRegular:
      return QStringLiteral("%1 is not a regular file; nothing was written").arg(out);
    case TZxFileFault::ffSameAsInput:
      return QStringLiteral("%1 is the family tree being read; nothing was written").arg(out);
    case TZxFileFault::ffCreate:
      return QStringLiteral("cannot create a file beside %1%2").arg(out, reason);
    case TZxFileFault::ffWrite:
      return QStringLiteral("cannot write %1%2; the old file is unchanged").arg(out, reason);
    case TZxFileFault::ffReplace:
      return QStringLiteral("cannot replace %1%2; the old file is unchanged").arg(out, reason);
    case TZxFileFault::ffNone:
      break;
  }
  return QStringLiteral("cannot write %1").arg(out);
}
