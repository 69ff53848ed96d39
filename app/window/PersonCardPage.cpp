#include "app/window/PersonCardPage.h"

#include "app/core/Model.h"
#include "platform/qt/Controls.h"
#include "platform/qt/RichText.h"

#include <QEvent>
#include <QMouseEvent>
#include <QVBoxLayout>

void TPersonCardPage::Build() {
  QWidget* page = Tab();
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(2, 2, 2, 2);
  RichEdit5 = new platform::TRichEdit(page, QStringLiteral("RichEdit5"));
  RichEdit5->setLineWrapMode(QTextEdit::NoWrap);
  RichEdit5->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit5->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit5->setFont(PersonCardFont());
  RichEdit5->viewport()->setMouseTracking(true);
  RichEdit5->viewport()->installEventFilter(this);
  layout->addWidget(RichEdit5, 1);
  // The check box is saved with the settings: its panel carries the saved tag.
  auto* bottom = new platform::TPanel(page, QStringLiteral("Panel60"));
  platform::SetControlTag(bottom, 1);
  bottom->setFrameShape(QFrame::NoFrame);
  auto* bl = new QHBoxLayout(bottom);
  bl->setContentsMargins(0, 0, 0, 0);
  CheckBoxIDgedcom = new QCheckBox(QStringLiteral("ID Gedcom"), bottom);
  CheckBoxIDgedcom->setObjectName(QStringLiteral("CheckBoxIDgedcom"));
  bl->addWidget(CheckBoxIDgedcom);
  bl->addStretch(1);
  layout->addWidget(bottom);
  connect(CheckBoxIDgedcom, &QCheckBox::toggled, this, [this] { RunCommand(host(), [this] { CheckBoxIDgedcomClick(); }); });
}

void TPersonCardPage::PersInfo() {
  TPersonCardOptions o;
  o.IdGedcom = CheckBoxIDgedcom->isChecked();
  // Filled while hidden from painting, so that the pane is drawn once.
  RichEdit5->setUpdatesEnabled(false);
  ::PersInfo(host().model(), host().CurrentPerson(), o, *RichEdit5->document(), card_);
  RichEdit5->setUpdatesEnabled(true);
}

void TPersonCardPage::RichEdit5MouseMove(const QPoint& pos) {
  const bool link = PersonOfAnchor(RichEdit5->anchorAt(pos)) > 0;
  RichEdit5->viewport()->setCursor(link ? Qt::PointingHandCursor : Qt::IBeamCursor);
}

bool TPersonCardPage::RichEdit5Click(const QPoint& pos) {
  const std::int64_t p = PersonOfAnchor(RichEdit5->anchorAt(pos));
  if (p <= 0 || p >= std::int64_t(host().model().aIndi.size())) return false;
  return host().LocatePerson(p);
}

bool TPersonCardPage::eventFilter(QObject* watched, QEvent* event) {
  if (RichEdit5 && watched == RichEdit5->viewport()) {
    if (event->type() == QEvent::MouseMove) {
      RichEdit5MouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
    } else if (event->type() == QEvent::MouseButtonRelease) {
      auto* me = static_cast<QMouseEvent*>(event);
      if (me->button() == Qt::LeftButton && !RichEdit5->textCursor().hasSelection()) {
        const QPoint pos = me->position().toPoint();
        bool moved = false;
        RunCommand(host(), [&] { moved = RichEdit5Click(pos); });
        if (moved) return true;
      }
    }
  }
  return TRichTextPage::eventFilter(watched, event);
}
