// A print job: pages of a known size in device pixels, pictures stretched onto them, or a whole
// rich-text document. TPrinterSink prints through a QPrinter (a real printer or a PDF file);
// TRecordingPageSink is the test double that writes one text line per call.
// Every call that can fail says so; nothing is reported printed after a failure.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

class QPrinter;
class QTextDocument;

namespace platform {

class TPageSink {
 public:
  virtual ~TPageSink() = default;
  // The printable area of one page in device pixels.
  virtual QSize PageSize() const = 0;
  virtual bool Landscape() const = 0;
  virtual bool BeginDoc(const QString& title) = 0;
  virtual bool NewPage() = 0;
  // REQUIRES: a job begun with BeginDoc.
  virtual void StretchDraw(const QRect& dest, const QImage& image) = 0;
  virtual bool EndDoc() = 0;
  // Prints a document as its own job.
  virtual bool PrintDocument(const QTextDocument& doc, const QString& title) = 0;
  // Why the last call failed.
  virtual QString LastError() const = 0;
};

class TPrinterSink : public TPageSink {
 public:
  explicit TPrinterSink(QPrinter& printer);
  ~TPrinterSink() override;
  QSize PageSize() const override;
  bool Landscape() const override;
  bool BeginDoc(const QString& title) override;
  bool NewPage() override;
  void StretchDraw(const QRect& dest, const QImage& image) override;
  bool EndDoc() override;
  bool PrintDocument(const QTextDocument& doc, const QString& title) override;
  QString LastError() const override { return error_; }
  QPrinter& Printer() { return printer_; }

 private:
  QPrinter& printer_;
  std::unique_ptr<QPainter> painter_;
  QString error_;
};

class TRecordingPageSink : public TPageSink {
 public:
  QSize PageSize() const override { return page; }
  bool Landscape() const override { return landscape; }
  bool BeginDoc(const QString& title) override;
  bool NewPage() override;
  void StretchDraw(const QRect& dest, const QImage& image) override;
  bool EndDoc() override;
  bool PrintDocument(const QTextDocument& doc, const QString& title) override;
  QString LastError() const override { return failBegin ? QStringLiteral("printer not ready") : QString(); }

  QSize page{2480, 3508};
  bool landscape = false;
  bool failBegin = false;  // makes BeginDoc and PrintDocument fail
  QStringList calls;
  std::vector<QImage> images;  // copies of what StretchDraw received
};

}  // namespace platform
