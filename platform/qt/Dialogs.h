// The dialogs the commands open: save (file name and the 1-based index of the chosen filter),
// print (true when confirmed), colour, and a message box for what went wrong.
// Filters use the "Caption|*.ext|Caption|*.ext" form. TQtDialogs shows the real Qt dialogs;
// TFakeDialogs answers from queues and keeps the messages, for tests.
#pragma once

#include "platform/qt/Canvas.h"

#include <QString>
#include <QStringList>

#include <deque>

class QWidget;

namespace platform {

class TPageSink;

// The extension ("bmp") of the filter pair at filterIndex (1-based) of a "Caption|*.ext|..." filter.
QString FilterExtension(const QString& filter, int filterIndex);
// fileName with that extension added when the name has none of its own (a name ending in "." takes it too).
QString WithFilterExtension(const QString& fileName, const QString& filter, int filterIndex);

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  // false when cancelled; else fileName and filterIndex (1-based) are set.
  virtual bool Save(const QString& filter, QString& fileName, int& filterIndex) = 0;
  // The print dialog for the job that `printer` will run; false when cancelled.
  virtual bool Print(TPageSink& printer) = 0;
  virtual bool Color(TColor& color) = 0;
  virtual void Message(const QString& text) = 0;
};

// "Caption|*.ext|Caption2|*.e2" as Qt's "Caption (*.ext);;Caption2 (*.e2)".
QString QtFilter(const QString& filter);

class TQtDialogs : public TDialogs {
 public:
  explicit TQtDialogs(QWidget* parent) : parent_(parent) {}
  bool Save(const QString& filter, QString& fileName, int& filterIndex) override;
  bool Print(TPageSink& printer) override;
  bool Color(TColor& color) override;
  void Message(const QString& text) override;

 private:
  QWidget* parent_;
};

class TFakeDialogs : public TDialogs {
 public:
  struct SaveAnswer {
    QString fileName;  // empty: cancelled
    int filterIndex = 1;
  };
  bool Save(const QString& filter, QString& fileName, int& filterIndex) override;
  bool Print(TPageSink& printer) override;
  bool Color(TColor& color) override;
  void Message(const QString& text) override { messages << text; }

  std::deque<SaveAnswer> saves;   // consumed one per Save; empty queue = cancel
  std::deque<bool> prints;        // consumed one per Print; empty queue = cancel
  std::deque<TColor> colors;      // consumed one per Color; empty queue = cancel
  QStringList filters;            // the filter of every Save asked
  QList<int> openedOn;            // the filter index every Save opened on
  QStringList messages;
  int printAsked = 0;
};

}  // namespace platform
