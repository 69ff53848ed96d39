// Saves a rich-text document as RTF, which Qt cannot write: a font and a colour table, per run
// bold, italic, underline, text colour, highlight and size, per paragraph the spacing before and
// after, every non-ASCII UTF-16 unit as \uN (so surrogate pairs stay two units in order), and
// pictures as PNG. Plain text without formatting comes out as plain paragraphs. The file is written whole
// or not at all (platform/qt/TargetFile.h).
#pragma once

#include <QByteArray>
#include <QString>

class QTextDocument;

namespace platform {

QByteArray DocumentToRtf(const QTextDocument& doc);
// Returns an empty string on success, else why the file could not be written.
QString WriteRtfFile(const QString& fileName, const QTextDocument& doc);

}  // namespace platform
