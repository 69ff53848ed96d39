#include "app/window/DescendantsPage.h"
#include "app/window/PageControls.h"

#include "platform/qt/FlowLayout.h"

#include <QHBoxLayout>

#include "app/core/Model.h"

#include <algorithm>

void TDescendantsPage::Build() {
  QWidget* page = Tab();
  auto* layout = new QVBoxLayout(page);
  BuildBar(layout, QStringLiteral("SpeedButton7"), QStringLiteral("SpeedButton8"),
           QStringLiteral("PrintButtonDescendants"), QStringLiteral("SaveButtonDescendants"));
  auto* opts = new platform::TFlowLayout;
  layout->addLayout(opts);
  RadioGroup16 = new platform::TRadioGroup(page, QStringLiteral("RadioGroup16"));
  RadioGroup16->SetItems({QStringLiteral("Без номеров"), QStringLiteral("Последовательн."), QStringLiteral("д'Абовилля"),
                          QStringLiteral("Коновалова")});
  RadioGroup16->SetItemIndex(0);
  platform::SetHelpKeyword(RadioGroup16, QStringLiteral("Numbering"));
  opts->addWidget(RadioGroup16);
  RadioGroup6 = new platform::TRadioGroup(page, QStringLiteral("RadioGroup6"));
  RadioGroup6->SetItems({QStringLiteral("Все"), QStringLiteral("Мужчины"), QStringLiteral("Женщины"), QStringLiteral("Род")});
  RadioGroup6->SetItemIndex(0);
  platform::SetHelpKeyword(RadioGroup6, QStringLiteral("LineFilter"));
  opts->addWidget(RadioGroup6);
  auto* fill = new platform::TPanel(page, QStringLiteral("Panel61"));
  platform::SetControlTag(fill, 1);
  auto* fl = new QVBoxLayout(fill);
  CheckBox17 = AddCheck(fill, fl, QStringLiteral("CheckBox17"), QStringLiteral("Прим.к персоне"), QStringLiteral("PersonNote"));
  CheckBox18 = AddCheck(fill, fl, QStringLiteral("CheckBox18"), QStringLiteral("Место события"), QStringLiteral("EventPlace"));
  CheckBox16 = AddCheck(fill, fl, QStringLiteral("CheckBox16"), QStringLiteral("Прим.к событию"), QStringLiteral("EventNote"));
  CheckBox14 = AddCheck(fill, fl, QStringLiteral("CheckBox14"), QStringLiteral("Причина смерти"), QStringLiteral("DeathCause"));
  opts->addWidget(fill);
  auto* labels = new platform::TPanel(page, QStringLiteral("Panel62"));
  platform::SetControlTag(labels, 1);
  auto* ll = new QVBoxLayout(labels);
  auto edit = [&](const QString& name, const QString& text) {
    auto* e = new QLineEdit(text, labels);
    e->setObjectName(name);
    e->setMaximumWidth(60);
    ll->addWidget(e);
    return e;
  };
  Edit3 = edit(QStringLiteral("Edit3"), QStringLiteral("род."));
  Edit4 = edit(QStringLiteral("Edit4"), QStringLiteral("бр."));
  Edit5 = edit(QStringLiteral("Edit5"), QStringLiteral("ум."));
  opts->addWidget(labels);
  opts->addStretch();
  BuildTree(layout, QStringLiteral("TreeView2"));
  connect(CreateButton, &QToolButton::clicked, this, [this] { RunCommand(host(), [this] { SpeedButton7Click(); }); });
}

void TDescendantsPage::FormShow() {
  for (QLineEdit* e : {Edit3, Edit4, Edit5}) e->setFixedHeight(18);
}

namespace {
// Keys and built-in texts of the birth, marriage and death abbreviations.
const char* const kAbbrevKeys[3] = {"AbbrevBirth", "AbbrevMarriage", "AbbrevDeath"};
const char* const kAbbrevTexts[3] = {"род.", "бр.", "ум."};
}  // namespace

void TDescendantsPage::LanguageChanged() {
  QLineEdit* edits[3] = {Edit3, Edit4, Edit5};
  for (int i = 0; i < 3; ++i) {
    const QString builtIn = QString::fromUtf8(kAbbrevTexts[i]);
    const QString now = host().Lang(QLatin1String(kAbbrevKeys[i]), builtIn);
    // A text the user typed stays; one of the defaults becomes the default of the new language.
    const QString text = edits[i]->text();
    if (text == builtIn || (!abbrevs_[i].isEmpty() && text == abbrevs_[i])) edits[i]->setText(now);
    abbrevs_[i] = now;
  }
}

void TDescendantsPage::SpeedButton7Click() {
  if (host().Busy()) return;  // the model is being read
  host().ShowPage(Tab());
  SxPotGedcom();
}

void TDescendantsPage::SxPotGedcom() {
  TDescendantOptions o;
  o.Numbering = static_cast<TNumbering>(std::clamp(RadioGroup16->ItemIndex(), 0, 3));
  o.Filter = static_cast<TLineFilter>(std::clamp(RadioGroup6->ItemIndex(), 0, 3));
  o.PersonNote = CheckBox17->isChecked();
  o.EventPlace = CheckBox18->isChecked();
  o.EventNote = CheckBox16->isChecked();
  o.DeathCause = CheckBox14->isChecked();
  o.BirthLabel = Edit3->text();
  o.MarrLabel = Edit4->text();
  o.DeathLabel = Edit5->text();
  o.WordWife = host().Lang(QStringLiteral("*B"), QStringLiteral("Жена"));
  o.WordWifeUnmarried = host().Lang(QStringLiteral("*W"), QStringLiteral("Супруга"));
  o.WordHusband = host().Lang(QStringLiteral("*A"), QStringLiteral("Муж"));
  o.WordHusbandUnmarried = host().Lang(QStringLiteral("*H"), QStringLiteral("Супруг"));
  const std::int64_t p = host().CurrentPerson();
  TTreeNodes nodes;
  TBusyCursor busy;
  // A long build shows its progress and stops on "Прервать" or Esc.
  const TLongRun run(host());
  const std::int64_t most = std::int64_t(1.5 * double(host().model().aIndi.size()));
  const bool built = ::SxPotGedcom(host().model(), descendants_, nodes, p > 0 ? QString::number(p) : QString(), o,
                                   [this, most](std::int64_t entries) { return !host().Progress(entries, most); });
  Show(nodes, built);
}
