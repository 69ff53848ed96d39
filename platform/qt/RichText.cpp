#include "platform/qt/RichText.h"

#include <QTextCursor>

#include "platform/qt/Controls.h"

namespace platform {

TRichEdit::TRichEdit(QWidget* parent, const QString& name) : QTextEdit(parent) {
  setObjectName(name);
  setReadOnly(true);
  setAcceptRichText(true);
}

void InsertRich(QTextEdit* pane, const QString& text, int color, int styles, bool atEnd, int backColor) {
  if (!pane) return;
  QTextCursor c(pane->document());
  c.movePosition(atEnd ? QTextCursor::End : QTextCursor::Start);
  QTextCharFormat f;
  f.setForeground(ColorFromWin(color));
  f.setFontWeight((styles & fsBold) ? QFont::Bold : QFont::Normal);
  f.setFontItalic((styles & fsItalic) != 0);
  f.setFontUnderline((styles & fsUnderline) != 0);
  f.setFontStrikeOut((styles & fsStrikeOut) != 0);
  if (backColor >= 0) {
    f.setBackground(ColorFromWin(backColor));
    f.setFontFamilies({QStringLiteral("Courier New")});
    f.setFontPointSize(10);
  }
  QString t = text;
  t.replace(QLatin1String("\r\n"), QString(QChar::ParagraphSeparator));
  t.replace(QLatin1Char('\n'), QChar::ParagraphSeparator);
  t.replace(QLatin1Char('\r'), QChar::ParagraphSeparator);
  c.insertText(t, f);
}

}  // namespace platform
