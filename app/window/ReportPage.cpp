#include "app/window/ReportPage.h"

#include <QApplication>
#include <QTextEdit>


TBusyCursor::TBusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
TBusyCursor::~TBusyCursor() { QApplication::restoreOverrideCursor(); }

void ReportCommandError(TPageHost& host, const char* what) { host.ShowError(QString::fromUtf8(what)); }

void ReportOutOfMemory(TPageHost& host) {
  host.ShowError(host.Lang(QStringLiteral("OutOfMemory"),
                           QStringLiteral("Недостаточно памяти, чтобы выполнить команду. Уменьшите число поколений или "
                                          "выберите другую персону.")));
}

// --- Rich-text pages ---

const QTextDocument* TRichTextPage::Document() const {
  const auto* edit = Tab()->findChild<QTextEdit*>(editName_);
  return edit ? edit->document() : nullptr;
}

void TRichTextPage::Print() {
  if (const QTextDocument* d = Document()) host().PrintRichText(*d, printTitle_);
}

void TRichTextPage::FileLoaded() {
  if (auto* edit = Tab()->findChild<QTextEdit*>(editName_)) edit->clear();
}

void TRichTextPage::Save() {
  if (const QTextDocument* d = Document()) host().SaveRichText(*d);
}
