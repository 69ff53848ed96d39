#include "app/window/ProblemsPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QSpinBox>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/core/Model.h"
#include "platform/qt/Controls.h"
#include "platform/qt/RichText.h"

namespace {

// The screen cursor of a run that lets the user work on: the arrow with the hourglass.
class TAppStartCursor {
 public:
  TAppStartCursor() { QApplication::setOverrideCursor(Qt::BusyCursor); }
  ~TAppStartCursor() { QApplication::restoreOverrideCursor(); }
  TAppStartCursor(const TAppStartCursor&) = delete;
  TAppStartCursor& operator=(const TAppStartCursor&) = delete;
};

}  // namespace

void TProblemsPage::Build() {
  QWidget* page = Tab();
  auto* layout = new QHBoxLayout(page);
  auto* left = new QVBoxLayout;
  layout->addLayout(left);

  SpeedButton11 = new QToolButton(page);
  SpeedButton11->setObjectName(QStringLiteral("SpeedButton11"));
  SpeedButton11->setText(QStringLiteral("Создать"));
  SpeedButton11->setToolButtonStyle(Qt::ToolButtonTextOnly);
  platform::SetHelpKeyword(SpeedButton11, QStringLiteral("Create"));
  left->addWidget(SpeedButton11);

  // The check boxes and spin edits are settings: their group carries a Tag. The table of controls gives
  // names, captions, keys, defaults and ranges, in page order; a spin edit stands beside its check box.
  auto* group = new QGroupBox(QStringLiteral("Проверять события"), page);
  group->setObjectName(QStringLiteral("GroupBox1"));
  platform::SetControlTag(group, 1);
  platform::SetHelpKeyword(group, QStringLiteral("CheckEventsGroup"));
  auto* grid = new QGridLayout(group);
  grid->setVerticalSpacing(2);
  left->addWidget(group);
  int row = -1, column = 1;
  controls_.clear();
  for (const TDetectorControl& c : DetectorControls()) {
    const QString name = QString::fromUtf16(c.name);
    if (c.min < c.max) {
      auto* spin = new QSpinBox(group);
      spin->setObjectName(name);
      spin->setRange(c.min, c.max);
      spin->setValue(c.def);
      grid->addWidget(spin, row, column++);
      controls_.push_back(spin);
      continue;
    }
    // CheckBox7 and CheckBox11 stand below the group, on the page itself (which carries a Tag too).
    const bool inGroup = !name.startsWith(u"CheckBox");
    auto* box = new QCheckBox(QString::fromUtf16(c.caption), inGroup ? static_cast<QWidget*>(group) : page);
    box->setObjectName(name);
    box->setChecked(c.def != 0);
    platform::SetHelpKeyword(box, QString::fromUtf16(c.helpKeyword));
    if (inGroup) {
      grid->addWidget(box, ++row, 0);
      column = 1;
    } else {
      left->addWidget(box);
    }
    controls_.push_back(box);
  }
  grid->setColumnStretch(0, 1);
  left->addStretch();

  RichEdit1 = new platform::TRichEdit(page, QStringLiteral("RichEdit1"));
  layout->addWidget(RichEdit1, 1);

  connect(SpeedButton11, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { SpeedButton11Click(); }); });
}

QWidget* TProblemsPage::Control(const QString& name) const {
  const std::vector<TDetectorControl>& table = DetectorControls();
  for (std::size_t i = 0; i < table.size() && i < controls_.size(); ++i)
    if (name == QString::fromUtf16(table[i].name)) return controls_[i];
  return nullptr;
}

QCheckBox* TProblemsPage::Box(const QString& name) const { return qobject_cast<QCheckBox*>(Control(name)); }

QSpinBox* TProblemsPage::Spin(const QString& name) const { return qobject_cast<QSpinBox*>(Control(name)); }

QCheckBox* TProblemsPage::Check(int n) const { return Box(QStringLiteral("Check%1").arg(n)); }

TDetectorOptions TProblemsPage::Options() const {
  TDetectorOptions o;
  const std::vector<TDetectorControl>& table = DetectorControls();
  for (std::size_t i = 0; i < table.size() && i < controls_.size(); ++i) {
    const auto* spin = qobject_cast<const QSpinBox*>(controls_[i]);
    const int value = spin ? spin->value() : int(static_cast<const QCheckBox*>(controls_[i])->isChecked());
    SetDetectorOption(o, QString::fromUtf16(table[i].name), value);
  }
  return o;
}

void TProblemsPage::SpeedButton11Click() {
  if (host().Busy()) return;  // a file is being read or another run is under way
  host().ShowPage(Tab());
  DetectorGedcom();
}

void TProblemsPage::DetectorGedcom() {
  // The messages are read afresh for every run, so that a newly chosen translation applies.
  const TCheckCatalogue cat =
      ReadCheckCatalogue([this](const QString& key, const QString& def) { return host().Lang(key, def); });
  const TDetectorOptions o = Options();
  TLongRun run(host());
  if (!run.Started()) return;
  {
    TAppStartCursor cursor;
    RichEdit1->clear();
    // The findings go into a document that no view shows yet, and the pane takes it when the run ends
    // (also a stopped one). A shown pane would lay out every line as it comes: on a large tree with many
    // findings that costs several times the run itself, while the pane lays a finished document out
    // lazily, as far as it is seen.
    auto* doc = new QTextDocument(RichEdit1);  // the pane deletes it with the next run's document
    doc->setDefaultFont(RichEdit1->document()->defaultFont());
    {
      TDetectorRichSink sink(doc);
      ::DetectorGedcom(host().model(), o, cat, QDate::currentDate(), sink,
                       [&](std::int64_t done, std::int64_t total) {
                         if (done % 100 == 0 || done + 1 == total) host().Progress(done, total);
                       });
    }
    RichEdit1->setDocument(doc);
  }
  host().OutputReady();
}
