// Rich-text panes: a read-only text pane and coloured, styled inserts at its end or start.
// Colours are Windows values (0x00BBGGRR); a background colour of -1 means none, otherwise the inserted
// text is also set in "Courier New" at 10 points. Main thread only.
#pragma once

#include <QString>
#include <QTextEdit>

namespace platform {

enum TFontStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

class TRichEdit : public QTextEdit {
  Q_OBJECT
 public:
  explicit TRichEdit(QWidget* parent = nullptr, const QString& name = QString());
};

// Inserts `text` (CR LF and LF start new paragraphs) with the colour and style, at the end when `atEnd`,
// else at the start of the document.
void InsertRich(QTextEdit* pane, const QString& text, int color, int styles, bool atEnd, int backColor = -1);
inline void AppendRichText(QTextEdit* pane, const QString& text, int color, int styles, bool atEnd = true) {
  InsertRich(pane, text, color, styles, atEnd, -1);
}

}  // namespace platform
