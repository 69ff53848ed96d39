#include "platform/qt/PageSink.h"

#include <QPrinter>
#include <QTextDocument>

namespace platform {

TPrinterSink::TPrinterSink(QPrinter& printer) : printer_(printer) {}

TPrinterSink::~TPrinterSink() {
  if (painter_) painter_->end();
}

QSize TPrinterSink::PageSize() const { return QSize(printer_.width(), printer_.height()); }

bool TPrinterSink::Landscape() const { return printer_.pageLayout().orientation() == QPageLayout::Landscape; }

bool TPrinterSink::BeginDoc(const QString& title) {
  error_.clear();
  printer_.setDocName(title);
  painter_ = std::make_unique<QPainter>();
  if (!painter_->begin(&printer_)) {
    painter_.reset();
    error_ = QStringLiteral("The printer could not start the job");
    return false;
  }
  return true;
}

bool TPrinterSink::NewPage() {
  if (!painter_ || !printer_.newPage()) {
    error_ = QStringLiteral("The printer could not start a new page");
    return false;
  }
  return true;
}

void TPrinterSink::StretchDraw(const QRect& dest, const QImage& image) {
  if (!painter_) return;
  painter_->setRenderHint(QPainter::SmoothPixmapTransform, true);
  painter_->drawImage(dest, image);
}

bool TPrinterSink::EndDoc() {
  if (!painter_) return false;
  const bool ok = painter_->end();
  painter_.reset();
  if (!ok || printer_.printerState() == QPrinter::Error || printer_.printerState() == QPrinter::Aborted) {
    error_ = QStringLiteral("The print job failed");
    return false;
  }
  return true;
}

bool TPrinterSink::PrintDocument(const QTextDocument& doc, const QString& title) {
  error_.clear();
  printer_.setDocName(title);
  doc.print(&printer_);
  if (printer_.printerState() == QPrinter::Error || printer_.printerState() == QPrinter::Aborted) {
    error_ = QStringLiteral("The print job failed");
    return false;
  }
  return true;
}

bool TRecordingPageSink::BeginDoc(const QString& title) {
  if (failBegin) return false;
  calls << QStringLiteral("BeginDoc %1").arg(title);
  return true;
}

bool TRecordingPageSink::NewPage() {
  calls << QStringLiteral("NewPage");
  return true;
}

void TRecordingPageSink::StretchDraw(const QRect& dest, const QImage& image) {
  calls << QStringLiteral("StretchDraw %1,%2,%3,%4 from %5x%6")
               .arg(dest.left()).arg(dest.top()).arg(dest.right() + 1).arg(dest.bottom() + 1)
               .arg(image.width()).arg(image.height());
  images.push_back(image.copy());
}

bool TRecordingPageSink::EndDoc() {
  calls << QStringLiteral("EndDoc");
  return true;
}

bool TRecordingPageSink::PrintDocument(const QTextDocument& doc, const QString& title) {
  if (failBegin) return false;
  calls << QStringLiteral("PrintDocument %1: %2").arg(title, doc.toPlainText());
  return true;
}

}  // namespace platform
