// The kinship detector page ("Детектор родства"): two persons chosen by the buttons beside their fields
// or by dragging a row of the person list onto a field (an empty field stands for the current person),
// the search, the link list (ComboBox3) and the chosen link shown three ways on the page's own page
// control PageControl2: the tree TreeView3 ("Дерево"), the text line RichEdit2 ("Текст") and the
// picture Image1, shown zoomed in Image5 ("Картинка"). The search runs as a long run: the page's buttons
// are disabled and the toolbar's "Прервать" stops it. The search and the drawing are headless
// (app/charts/Kinship.h, KinshipPicture.h).
#pragma once

#include "app/charts/Kinship.h"
#include "app/window/ReportPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

class TKinshipPage : public TRichTextPage {
 public:
  TKinshipPage(TPageHost& host, QWidget* tab)
      : TRichTextPage(host, tab, QStringLiteral("RichEdit2"), QStringLiteral("LinkPersons")) {}
  void Build() override;
  void FormShow() override { k_.LinkChain.clear(); }
  void Run() override { Link2PersGedcom(); }
  // The report menu's item: the current person becomes the first person; the search does not run.
  void ReportMenuItem() override { N51Click(); }
  void FileLoaded() override;
  void Print() override;
  void Save() override;

  void SpeedButton14Click();  // "Создать": shows the page and searches
  void Link2PersGedcom();     // the search for the two persons
  void SpeedButton15Click();  // first person := the current row
  void SpeedButton16Click();  // second person := the current row
  void SpeedButton17Click();  // exchanges the two persons
  void SpeedButton18Click();  // clears the first person
  void SpeedButton19Click();  // clears the second person
  void N51Click();
  void ComboBox3Change(int index);
  void ComboBox2Change();     // zoom
  void ReScalelink2Pers();
  // "Разбить для Портретной" / "Разбить для Альбомной": the tree's picture cut into page-sized files.
  void MenuItemSplitClick(bool landscape);

  // The persons of the fields: person indexes, 0 when the field is empty (the current person).
  std::int64_t FirstPerson() const { return first_; }
  std::int64_t SecondPerson() const { return second_; }
  void SetFirstPerson(std::int64_t p);
  void SetSecondPerson(std::int64_t p);
  // The chain or entry on show (the person set of the group edit tools).
  const QString& LinkChain() const { return k_.LinkChain; }
  const TKinship& Kinship() const { return k_; }
  TKinshipOptions Options() const;
  const QImage& Picture() const { return k_.Picture; }  // Image1, full size
  // The subpage of PageControl2 on show: 0 tree, 1 text, 2 picture.
  int SubPage() const { return PageControl2->currentIndex(); }
  // Accepts a drag exactly when it carries a row of the person list.
  static bool AcceptsPersonDrag(const QObject* source, const QMimeData* mime);

  QLineEdit *Edit6 = nullptr, *Edit7 = nullptr;
  QToolButton *SpeedButton14 = nullptr, *SpeedButton15 = nullptr, *SpeedButton16 = nullptr,
              *SpeedButton17 = nullptr, *SpeedButton18 = nullptr, *SpeedButton19 = nullptr;
  QSpinBox* SpinEdit14 = nullptr;
  QCheckBox *CheckBox15 = nullptr, *CheckBox24 = nullptr, *CheckBox23 = nullptr, *CheckBox13 = nullptr,
            *CheckBox22 = nullptr, *CheckBox21 = nullptr, *CheckBox20 = nullptr, *CheckBox19 = nullptr,
            *CheckBox12 = nullptr, *CheckBox25 = nullptr, *CheckBox8 = nullptr, *CheckBox57 = nullptr;
  QComboBox *ComboBox2 = nullptr, *ComboBox3 = nullptr;
  QTabWidget* PageControl2 = nullptr;
  QTreeWidget* TreeView3 = nullptr;
  QTextEdit* RichEdit2 = nullptr;
  QScrollArea* ScrollBox2 = nullptr;
  QLabel* Image5 = nullptr;
  QToolButton *PrintButton = nullptr, *SaveButton = nullptr;
  QMenu* PopupMenu8 = nullptr;
  QAction *MenuItem3 = nullptr, *MenuItem4 = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowPersons();
  void ShowLink();
  void SetControlsEnabled(bool enabled);

  TKinship k_;
  std::int64_t first_ = 0, second_ = 0;
};
