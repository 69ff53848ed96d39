#include "app/charts/PersonCard.h"

#include "app/charts/ChartFiles.h"
#include "app/core/UnitFunc.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextImageFormat>
#include <QUrl>

#include <cmath>

namespace {

using platform::TColor;

constexpr TColor kNavy = 0x800000;    // RGB(0, 0, 128)
constexpr TColor kMaroon = 0x000080;  // RGB(128, 0, 0)
constexpr TColor kBlack = 0x000000;

enum TRunStyle { rsPlain = 0, rsLabel = 1, rsLink = 2 };

int Nearest(double v) { return int(std::nearbyint(v)); }

QImage MakeFrame(bool male) {
  QImage img(kFrameWidth, kFrameHeight, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing, true);
  const QColor light = male ? QColor(0xEA, 0xF2, 0xFC) : QColor(0xFC, 0xEA, 0xF1);
  const QColor deep = male ? QColor(0xC9, 0xDC, 0xF5) : QColor(0xF5, 0xC9, 0xDA);
  const QColor edge = male ? QColor(0x4F, 0x7D, 0xC0) : QColor(0xC0, 0x4F, 0x7D);
  QLinearGradient fill(0, 0, 0, kFrameHeight);
  fill.setColorAt(0, light);
  fill.setColorAt(1, deep);
  QPainterPath path;
  path.addRoundedRect(QRectF(1.5, 1.5, kFrameWidth - 3, kFrameHeight - 3), 14, 14);
  p.fillPath(path, fill);
  p.setPen(QPen(edge, 2));
  p.drawPath(path);
  // A thin inner line, so that the frame reads as a card at small scales too.
  QPainterPath inner;
  inner.addRoundedRect(QRectF(6, 6, kFrameWidth - 12, kFrameHeight - 12), 10, 10);
  QColor soft = edge;
  soft.setAlpha(70);
  p.setPen(QPen(soft, 1));
  p.drawPath(inner);
  return img;
}

QString Tr(const char* key, const char16_t* def) {
  return ChartText(QString::fromLatin1(key), QString::fromUtf16(def));
}

// A label of the card from a kinship word: translations keep those words in lower case (other reports put
// them inside sentences), while the card's labels begin with a capital like "Father".
QString CardLabel(const char* key, const char16_t* def) {
  QString word = Tr(key, def);
  if (!word.isEmpty()) word[0] = word[0].toUpper();
  return word;
}

// Writes runs into the card's document; CR LF starts a new paragraph.
class TCardWriter {
 public:
  explicit TCardWriter(QTextDocument& doc) : cur_(&doc) { cur_.movePosition(QTextCursor::End); }

  void Put(const QString& text, TColor color, int style, std::int64_t link = -1) {
    QTextCharFormat f;
    f.setForeground(platform::ToQColor(color));
    f.setFontWeight((style & rsLabel) ? QFont::Bold : QFont::Normal);
    f.setFontUnderline((style & rsLink) != 0);
    if (link >= 0) {
      f.setAnchor(true);
      f.setAnchorHref(PersonAnchor(link));
    }
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    for (qsizetype i = 0; i < lines.size(); ++i) {
      if (i > 0) cur_.insertBlock();
      if (!lines[i].isEmpty()) cur_.insertText(lines[i], f);
    }
  }
  // A relative's line: the shown text as a link (none for a missing person), then the line break.
  void Link(TPersonCard& card, const QString& text, std::int64_t index, TColor color, int style) {
    if (index > 0) {
      Put(text, color, style | rsLink, index);
      card.Links.push_back({text, index});
      card.PersInfoLinks += text + QLatin1Char('=') + QString::number(index) + QLatin1Char(';');
    } else {
      Put(text, color, style);
    }
    Put(QStringLiteral("\r\n"), color, rsPlain);
  }
  void Picture(const QImage& image, const QString& name) {
    QTextDocument* doc = cur_.document();
    doc->addResource(QTextDocument::ImageResource, QUrl(name), image);
    QTextImageFormat f;
    f.setName(name);
    f.setWidth(image.width());
    f.setHeight(image.height());
    cur_.insertImage(f);
  }

 private:
  QTextCursor cur_;
};

const TINDI& PersonAt(const Model& m, std::int64_t p) {
  return p > 0 && p < std::int64_t(m.aIndi.size()) ? m.aIndi[size_t(p)] : m.aIndi.front();
}
const TFAM* FamilyAt(const Model& m, std::int64_t f) {
  return f > 0 && f < std::int64_t(m.aFam.size()) ? &m.aFam[size_t(f)] : nullptr;
}

// The relative text R(x).
QString RelativeText(const TINDI& x, const TPersonCardOptions& o) {
  QString r = x.DEAT == QLatin1String("+")
                  ? x.FIO1 + QStringLiteral(" (") + x.BIRT_DATE.NORM + QLatin1Char('-') + x.DEAT_DATE.NORM + QLatin1Char(')')
                  : x.FIO1 + QLatin1Char(' ') + x.BIRT_DATE.NORM;
  if (o.IdGedcom) r += QStringLiteral(" [") + x.INDI + QLatin1Char(']');
  return r;
}

// A person index that names a person, else 0.
std::int64_t Real(const Model& m, std::int64_t p) { return p > 0 && p < std::int64_t(m.aIndi.size()) ? p : 0; }

int g_pictureSerial = 0;

}  // namespace

const QImage& PersonFrame(bool male) {
  static const QImage kMale = MakeFrame(true);
  static const QImage kFemale = MakeFrame(false);
  return male ? kMale : kFemale;
}

QFont PersonCardFont() {
  QFont f(QStringLiteral("Tahoma"));
  f.setPointSizeF(9);
  return f;
}

QString PersonAnchor(std::int64_t index) { return QStringLiteral("person:") + QString::number(index); }

std::int64_t PersonOfAnchor(const QString& href) {
  if (!href.startsWith(QLatin1String("person:"))) return 0;
  bool ok = false;
  const qlonglong v = href.mid(7).toLongLong(&ok);
  return ok && v > 0 ? v : 0;
}

QString PersonCardPlainText(const QTextDocument& doc) {
  QString t = doc.toPlainText();
  t.remove(QChar::ObjectReplacementCharacter);
  return t;
}

void PersInfo(const Model& m, std::int64_t p, const TPersonCardOptions& o, QTextDocument& doc, TPersonCard& card) {
  card = TPersonCard{};
  doc.clear();
  doc.setDefaultFont(PersonCardFont());
  if (p <= 0 || p >= std::int64_t(m.aIndi.size())) return;
  const TINDI& P = m.aIndi[size_t(p)];
  TCardWriter w(doc);
  const QString crlf = QStringLiteral("\r\n");
  const QString colon = QStringLiteral(": ");

  // Name line.
  QString name = P.FIO1;
  if (o.IdGedcom) name += QStringLiteral(" (") + P.INDI + QLatin1Char(' ') + QString::number(p) + QLatin1Char(')');
  w.Put(name + crlf, P.SEX == QLatin1String("M") ? kNavy : kMaroon, rsLabel | rsLink);

  // Birth.
  w.Put(crlf, kBlack, rsPlain);
  w.Put(Tr("BrowseMarriage_4", u"Рождение") + colon, kBlack, rsLabel);
  w.Put(P.BIRT_DATE.NORM + QLatin1Char(' ') + P.BIRT_PLAC + crlf, kBlack, rsPlain);
  if (!P.BIRT_NOTE.isEmpty()) w.Put(P.BIRT_NOTE + crlf, kBlack, rsPlain);

  // Parents.
  const TFAM* parents = FamilyAt(m, P.FAMC);
  const std::int64_t father = parents ? Real(m, parents->HUSB) : 0;
  const std::int64_t mother = parents ? Real(m, parents->WIFE) : 0;
  w.Put(crlf, kBlack, rsPlain);
  w.Put(Tr("Father", u"Отец") + colon, kNavy, rsLabel);
  w.Link(card, RelativeText(PersonAt(m, father), o), father, kNavy, rsPlain);
  w.Put(Tr("Mother", u"Мать") + colon, kMaroon, rsLabel);
  w.Link(card, RelativeText(PersonAt(m, mother), o), mother, kMaroon, rsPlain);

  // Brothers and sisters.
  if (parents) {
    const QString brother = CardLabel("*PS", u"Брат");
    const QString sister = CardLabel("*PD", u"Сестра");
    for (std::int64_t c : parents->CHIL) {
      if (c == p) continue;
      const std::int64_t sib = Real(m, c);
      const TINDI& S = PersonAt(m, sib);
      platform::TColor color = kBlack;
      QString label = brother + QLatin1Char('/') + sister;
      if (S.SEX == QLatin1String("M")) {
        color = kNavy;
        label = brother;
      } else if (S.SEX == QLatin1String("F")) {
        color = kMaroon;
        label = sister;
      }
      w.Put(label + colon, color, rsLabel);
      w.Link(card, RelativeText(S, o), sib, color, rsPlain);
    }
  }

  // Marriages with spouse and children.
  for (std::int64_t fi : P.FAMS) {
    const TFAM* F = FamilyAt(m, fi);
    if (!F) continue;
    w.Put(crlf, kBlack, rsPlain);
    const bool married = !F->MARR.isEmpty();
    std::int64_t spouse;
    if (P.SEX == QLatin1String("M")) {
      spouse = Real(m, F->WIFE);
      w.Put((married ? CardLabel("*B", u"Жена") : CardLabel("*W", u"Супруга")) + colon, kMaroon, rsLabel);
      w.Link(card, RelativeText(PersonAt(m, spouse), o), spouse, kMaroon, rsPlain);
    } else {
      spouse = Real(m, F->HUSB);
      w.Put((married ? CardLabel("*A", u"Муж") : CardLabel("*H", u"Супруг")) + colon, kNavy, rsLabel);
      w.Link(card, RelativeText(PersonAt(m, spouse), o), spouse, kNavy, rsPlain);
    }
    if (married) {
      w.Put(Tr("Marriage", u"Брак") + colon, kBlack, rsLabel);
      QString line = F->MARR_DATE.NORM + QLatin1Char(' ') + F->MARR_PLAC;
      if (o.IdGedcom) line += QStringLiteral(" (") + F->FAM + QLatin1Char(')');
      w.Put(line + crlf, kBlack, rsPlain);
      if (!F->MARR_NOTE.isEmpty()) w.Put(F->MARR_NOTE + crlf, kBlack, rsPlain);
    } else if (o.IdGedcom) {
      w.Put(QLatin1Char('(') + F->FAM + QLatin1Char(')') + crlf, kBlack, rsPlain);
    }
    if (!F->CHIL.empty()) {
      w.Put(crlf, kBlack, rsPlain);
      w.Put(Tr("Children", u"Дети") + QStringLiteral(":") + crlf, kBlack, rsLabel);
      int j = 0;
      for (std::int64_t c : F->CHIL) {
        const std::int64_t child = Real(m, c);
        const TINDI& C = PersonAt(m, child);
        QString t = QString::number(++j) + QStringLiteral(". ") + C.FIRS1;
        t += C.DEAT == QLatin1String("+")
                 ? QStringLiteral(" (") + C.BIRT_DATE.NORM + QLatin1Char('-') + C.DEAT_DATE.NORM + QLatin1Char(')')
                 : QLatin1Char(' ') + C.BIRT_DATE.NORM;
        if (o.IdGedcom) t += QStringLiteral(" [") + C.INDI + QLatin1Char(']');
        w.Link(card, t, child, C.SEX == QLatin1String("M") ? kNavy : kMaroon, C.FAVOR.isEmpty() ? rsPlain : rsLabel);
      }
    }
  }

  // Death.
  if (!P.DEAT.isEmpty()) {
    w.Put(crlf, kBlack, rsPlain);
    w.Put(Tr("Death", u"Смерть") + colon, kBlack, rsLabel);
    w.Put(P.DEAT_DATE.NORM + QLatin1Char(' ') + P.DEAT_PLAC + crlf, kBlack, rsPlain);
    if (!P.DEAT_NOTE.isEmpty()) w.Put(P.DEAT_NOTE + crlf, kBlack, rsPlain);
  }

  // The chart, placed in the text.
  w.Put(crlf, kBlack, rsPlain);
  card.Chart = PersonCardChart(m, p);
  if (!card.Chart.isNull())
    w.Picture(card.Chart, QStringLiteral("trevolan-card-chart-%1.png").arg(++g_pictureSerial));
}

QImage PersonCardChart(const Model& m, std::int64_t p) {
  std::vector<TPers> a;
  FillTreeGenerations(m, a, p, 3);
  if (a.empty()) return {};
  platform::TImageCanvas c(600, 105);
  PaintTree(a, 3, c);
  return c.Image();
}

void PaintTree(std::vector<TPers>& a, int n, platform::TCanvas& c) {
  n = std::clamp(n, 1, 16);
  const double w0 = double(1 << (n - 1)) * 300.0;
  const double h0 = double(n - 1) * 150.0 + 140.0;
  double s = 1.0;
  if (c.Width() != 105)
    s = double(c.Width()) / w0;
  else if (c.Height() != 105)
    s = double(c.Height()) / h0;
  const int width = Nearest(w0 * s);
  c.SetSize(width, Nearest(h0 * s));
  c.FillRect(0, 0, c.Width(), c.Height());
  c.Font = platform::TCanvasFont{};
  c.Font.Name = QStringLiteral("Arial");
  c.Font.Height = platform::TCanvasFont::HeightFromPoints(Nearest(15 * s));
  c.PenWidth = 1;
  c.PenColor = platform::clGray;
  c.PenMode = platform::TPenMode::MaskNotPen;
  for (size_t k = 0; k < a.size(); ++k) {
    TPers& e = a[k];
    const int g = int(e.Place.size());
    if (g > n) break;
    if (g < 1) continue;
    const int cw = width / (1 << (g - 1));
    const int x = int(BinToInt(e.Place)) * cw + cw / 2;
    e.iX = x;
    const QString text = TrimCtl(TrimCtl(e.Name) + QStringLiteral("\r\n") + e.Date1 + e.Date2);
    PaintCell(x, g - 1, s, c, text, int(k), e.sex);
    if (k >= 1 && e.iPot >= 0 && size_t(e.iPot) < a.size()) PaintLink(x, a[size_t(e.iPot)].iX, s, c, g - 1);
  }
}

void PaintCell(int x, int level, double s, platform::TCanvas& c, const QString& text, int k, const QString& sex) {
  const int a = Nearest(150 * s);
  const int ch = Nearest(121 * s);
  const int w = Nearest(273 * s);
  const QRect cell(x - w / 2, level * a, w, ch);
  int frame = -1;  // 1 male, 0 female, -1 none
  if (sex == QLatin1String("M"))
    frame = 1;
  else if (sex == QLatin1String("F"))
    frame = 0;
  else if (sex.isEmpty())
    frame = k % 2 == 1 ? 1 : 0;
  if (frame >= 0) c.StretchDraw(cell, PersonFrame(frame == 1), true);
  c.TransparentText = true;
  // Line breaks inside a cell are drawn as breaks: CR LF becomes one line feed for the text layout.
  QString shown = text;
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  const int h = c.DrawTextCentered(cell, shown, true);
  if (h > ch)
    c.DrawTextCentered(QRect(cell.left(), cell.top(), w, std::max(1, ch - 5)), shown, false);
  else
    c.DrawTextCentered(QRect(cell.left(), cell.top() + Nearest((ch - h) / 2.0), w, h), shown, false);
}

void PaintLink(int x, int x0, double s, platform::TCanvas& c, int level) {
  const int a = Nearest(150 * s);
  const int ch = Nearest(121 * s);
  const int mid = level * a - (a - ch) / 2;
  c.Polyline({QPoint(x0, (level - 1) * a + ch), QPoint(x0, mid), QPoint(x, mid), QPoint(x, level * a)});
}
