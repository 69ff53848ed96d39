// The person card page ("Инфо о персоне"): the card of the current person in RichEdit5, rebuilt after
// every move of the person list and when "ID Gedcom" is toggled. Each relative's line is a link: the
// hand cursor shows over it and a click makes that relative the current person of the list, which
// rebuilds the card. Printed and saved (RTF, with the chart picture) through the window's shared paths.
// The card itself is built headless (app/charts/PersonCard.h).
#pragma once

#include "app/charts/PersonCard.h"
#include "app/window/ReportPage.h"

#include <QCheckBox>
#include <QTextEdit>

class TPersonCardPage : public TRichTextPage {
 public:
  TPersonCardPage(TPageHost& host, QWidget* tab)
      : TRichTextPage(host, tab, QStringLiteral("RichEdit5"), QStringLiteral("Info")) {}
  void Build() override;
  void PersonChanged() override { PersInfo(); }
  void FileLoaded() override { PersInfo(); }
  void LanguageChanged() override { PersInfo(); }  // the card's labels follow the language at once

  void PersInfo();              // the card of the current person
  void CheckBoxIDgedcomClick() { PersInfo(); }
  // The link under a point of RichEdit5's viewport: the hand cursor when there is one.
  void RichEdit5MouseMove(const QPoint& pos);
  // A click at a point of the viewport: follows the link there, if any. True when it moved the list.
  bool RichEdit5Click(const QPoint& pos);
  const TPersonCard& Card() const { return card_; }

  QTextEdit* RichEdit5 = nullptr;
  QCheckBox* CheckBoxIDgedcom = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TPersonCard card_;
};
