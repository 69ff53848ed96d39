#include "app/charts/KinshipPicture.h"

#include "app/charts/PersonCard.h"
#include "app/charts/RotatedText.h"
#include "app/core/UnitFunc.h"

#include <QTextCursor>

#include <algorithm>
#include <cmath>

namespace {

using platform::TCanvas;

constexpr int kRow = 150;
constexpr TColor kRed = 0x0000FF;   // RGB(255, 0, 0)
constexpr TColor kBlue = 0xFF0000;  // RGB(0, 0, 255)

int Nearest(double v) { return int(std::nearbyint(v)); }

// The scale at which a picture of w x h stays inside the pixel budget.
double BudgetScale(qint64 w, qint64 h) {
  if (w <= 0 || h <= 0 || w * h <= kKinshipPixelBudget) return 1.0;
  return std::sqrt(double(kKinshipPixelBudget) / (double(w) * double(h)));
}

// Picture coordinates to canvas coordinates.
struct TScaled {
  TCanvas& c;
  double s;
  int operator()(double v) const { return Nearest(v * s); }
  void Line(int x1, int y1, int x2, int y2) const { c.Line((*this)(x1), (*this)(y1), (*this)(x2), (*this)(y2)); }
  void Polyline(std::initializer_list<QPoint> pts) const {
    std::vector<QPoint> out;
    for (const QPoint& p : pts) out.emplace_back((*this)(p.x()), (*this)(p.y()));
    c.Polyline(out);
  }
};

// A white picture of w x h (at the budget's scale), with the font and the pen of the kinship pictures.
double Prepare(TCanvas& c, int w, int h) {
  const double s = BudgetScale(w, h);
  // Sizes round down, so that a scaled picture never exceeds the budget.
  c.SetSize(std::max(1, int(w * s)), std::max(1, int(h * s)));
  c.BrushColor = platform::clWhite;
  c.BrushStyle = platform::TBrushStyle::Solid;
  c.FillRect(0, 0, c.Width(), c.Height());
  c.Font = platform::TCanvasFont{};
  c.Font.Name = QStringLiteral("Arial");
  c.Font.Height = platform::TCanvasFont::HeightFromPoints(-15);
  c.Font.Weight = 700;
  c.PenWidth = 1;
  c.PenColor = platform::clGray;
  c.PenMode = platform::TPenMode::MaskNotPen;
  return s;
}

int ImageOf(const QString& sex) { return sex == QLatin1String("F") ? 2 : 1; }

void AddRun(QTextDocument& doc, const QString& text, TColor color, bool bold, bool atEnd) {
  InsertRich(&doc, text, color, bold ? fsBold : fsNone, atEnd);
}

QString OneLine(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral(" ")); }

}  // namespace

QStringList KinshipZoomItems() {
  return {QStringLiteral("100%"), QStringLiteral("75%"), QStringLiteral("60%"), QStringLiteral("50%"),
          QStringLiteral("40%"),  QStringLiteral("33%"), QStringLiteral("25%"), QStringLiteral("20%")};
}

void PersPaint(TCanvas& c, int iX, int iLevel, int iSex, const QString& sText, double scale) {
  const TScaled S{c, scale};
  const int y = iLevel * kRow;
  const QImage& frame = PersonFrame(iSex == 1);
  if (scale == 1.0)
    c.StretchDraw(QRect(iX, y + 15, frame.width(), frame.height()), frame, false);
  else
    c.StretchDraw(QRect(S(iX), S(y + 15), std::max(1, S(frame.width())), std::max(1, S(frame.height()))), frame, true);
  const int fontHeight = c.Font.Height;
  if (scale != 1.0) c.Font.Height = std::max(1, Nearest(fontHeight * scale));
  c.TransparentText = true;
  QString text = sText;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  const QRect box(S(iX + 10), S(y + 20), std::max(1, S(iX + 260) - S(iX + 10)), std::max(1, S(y + 100) - S(y + 20)));
  const int h = c.DrawTextCentered(box, text, true);
  const int up = Nearest((box.top() + h - S(y) - 120 * scale) / 2.0);
  c.DrawTextCentered(QRect(box.left(), box.top() - up, box.width(), h + 2), text, false);
  c.Font.Height = fontHeight;
}

void Link2PersPaint(const Model& m, TKinship& k, const QString& entry, const TKinshipOptions& o) {
  platform::TImageCanvas c;
  Link2PersPaint(m, k, entry, o, c);
  k.Picture = c.Image();
}

void Link2PersPaint(const Model& m, TKinship& k, const QString& entry, const TKinshipOptions& o, TCanvas& canvas) {
  (void)m;
  k.Text.clear();
  k.Tree.Clear();
  k.LinkChain.clear();
  k.Picture = QImage();
  const bool up = entry == QLatin1String(".");     // B is an ancestor of A (or A itself)
  const bool down = entry == QLatin1String("..");  // A is an ancestor of B
  const bool common = !up && !down;
  const int position = k.ItemIndex + 1;

  // A's line, from the ancestor down to A.
  int previous = -1;
  int a = 0;
  if (!down) {
    QString t = up ? QString::number(k.B) : entry;
    QSet<QString> drawn;
    for (size_t i = k.aLinkPersA.size(); i-- > 0;) {
      const TPers& e = k.aLinkPersA[i];
      if (e.ID != t) continue;
      if (t == entry && !PlaceHasLink(e.Place, position)) continue;
      // On data with a loop another entry of the same person may lead back to someone already drawn;
      // the entry's own line always leads down to the start person without that.
      if (KinshipLineHas(k.aLinkPersA, i, drawn)) continue;
      drawn.insert(e.ID);
      k.LinkChain = e.ID + QLatin1Char(';') + k.LinkChain;
      previous = k.Tree.Add(previous, e.Name);
      k.Tree[previous].StateImage = ImageOf(e.sex);
      k.Tree[previous].Expanded = true;
      a = k.Tree[previous].Level;
      t = e.ID0;
    }
  }
  // B's line, from below the ancestor down to B.
  int b = a;
  {
    previous = k.Tree.Empty() ? -1 : 0;
    QString t = down ? QString::number(k.A) : entry;
    QSet<QString> drawn;
    for (size_t i = k.aLinkPersB.size(); i-- > 0;) {
      const TPers& e = k.aLinkPersB[i];
      if (e.ID != t) continue;
      const bool ancestor = t == entry;
      if (ancestor && !PlaceHasLink(e.Place, position)) continue;
      if (KinshipLineHas(k.aLinkPersB, i, drawn)) continue;
      drawn.insert(e.ID);
      if (!ancestor || k.Tree.Empty()) {
        k.LinkChain += e.ID + QLatin1Char(';');
        previous = k.Tree.Add(previous, e.Name);
        k.Tree[previous].StateImage = ImageOf(e.sex);
        k.Tree[previous].Expanded = true;
        b = std::max(b, k.Tree[previous].Level);
      }
      t = e.ID0;
    }
  }
  if (k.Tree.Empty()) return;

  const double s = Prepare(canvas, 600, (b + 1) * kRow);
  const TScaled S{canvas, s};
  const bool named = o.RelationName || o.RelationCode;
  const std::vector<int> order = k.Tree.PreOrder();
  bool second = false;
  int iLen = 0;
  int prevImage = 0;
  int prevLevel = 0;
  for (size_t i = 0; i < order.size(); ++i) {
    TTreeNode& node = k.Tree[order[i]];
    const int L = node.Level;
    int x = (i == 0 && common) ? 165 : 20;
    if (!second && i >= 2 && L <= prevLevel) {
      second = true;
      iLen = a;
    }
    if (second) x = 320;
    QString text = node.Text;
    if (named) {
      const QString name = second ? LinkName(iLen, L, node.StateImage, prevImage, k.Words, o)
                                  : LinkName(0, a - L, node.StateImage, prevImage, k.Words, o);
      if (!name.isEmpty()) text += QStringLiteral("\r\n") + name;
    }
    if (x == 165) {
      const int y = L * kRow;
      S.Line(150, y + 150, 450, y + 150);
      S.Line(150, y + 150, 150, y + 250);
      S.Line(450, y + 150, 450, y + 250);
      S.Line(300, y + 150, 300, y + 120);
    } else if (L >= 2 || (!common && i > 0)) {
      S.Line(x + 130, L * kRow - 18, x + 130, L * kRow + 15);
    }
    PersPaint(canvas, x, L, node.StateImage, text, s);
    node.Text = OneLine(text);
    // The text line reads from A through the ancestor to B: A's line is put before what is there, B's
    // line after it. From an ancestor A the tree already runs from A to B, so it is written in order.
    const TColor color = node.StateImage == 2 ? kRed : kBlue;
    if (second || down) {
      if (i > 0) AddRun(k.Text, QStringLiteral(" > "), 0, false, true);
      AddRun(k.Text, node.Text, color, true, true);
    } else {
      if (i > 0) AddRun(k.Text, QStringLiteral(" > "), 0, false, false);
      AddRun(k.Text, node.Text, color, true, false);
    }
    prevImage = node.StateImage;
    prevLevel = L;
  }
}

void Link2PersPaintExGedcom(const Model& m, TKinship& k, const QString& chain, const TKinshipOptions& o) {
  platform::TImageCanvas c;
  Link2PersPaintExGedcom(m, k, chain, o, c);
  k.Picture = c.Image();
}

void Link2PersPaintExGedcom(const Model& m, TKinship& k, const QString& chain, const TKinshipOptions& o,
                            TCanvas& canvas) {
  k.Text.clear();
  k.Tree.Clear();
  k.Picture = QImage();
  const QString codes = ChainCodes(chain);
  const std::vector<std::int64_t> persons = ChainPersons(chain);
  if (persons.empty()) return;

  // Layout: a step to a child goes one row up, to a parent one row down; the column moves on at a
  // spouse step and where the path turns between up and down.
  int pos = 0, top = 0, bottom = 0, column = 0;
  QChar before = QLatin1Char('0');
  for (const QChar c : codes) {
    if (c == QLatin1Char('1')) --pos;
    if (c == QLatin1Char('2')) ++pos;
    top = std::min(top, pos);
    bottom = std::max(bottom, pos);
    if (c == QLatin1Char('5') || (c == QLatin1Char('1') && before == QLatin1Char('2')) ||
        (c == QLatin1Char('2') && before == QLatin1Char('1')))
      column += 300;
    before = c;
  }
  const double s = Prepare(canvas, column + 300, (bottom - top + 1) * kRow);
  const TScaled S{canvas, s};

  auto code = [&](int k1) -> QChar { return k1 >= 1 && k1 <= codes.size() ? codes[k1 - 1] : QChar(); };
  auto turn = [&](int k1, int k2) {
    const QChar c1 = code(k1), c2 = code(k2);
    return (c1 == QLatin1Char('2') && c2 == QLatin1Char('1')) || (c1 == QLatin1Char('1') && c2 == QLatin1Char('2'));
  };
  int x = 0, r = -top, px = 0, pr = 0;
  const int n = int(persons.size());
  for (int i = 1; i <= n; ++i) {
    const std::int64_t p = persons[size_t(i - 1)];
    TPers e;
    FillLinkEntry(m, e, p, o);
    const int sex = ImageOf(e.sex);
    const QString text = e.Name + QStringLiteral("\r\n") + PathCodeToLinkName(codes, i, sex, k.Words, o);
    if (i > 1) {
      const int xs = x + 130, pxs = px + 130;
      if (x == px && r > pr)
        S.Line(xs, pr * kRow + 131, xs, r * kRow + 15);
      else if (x == px && r < pr)
        S.Line(xs, pr * kRow + 15, xs, r * kRow + 75);
      else if (r == pr)
        S.Line(px + 268, r * kRow + 75, x, r * kRow + 75);
      else if (r > pr)
        S.Polyline({QPoint(pxs, pr * kRow + 131), QPoint(pxs, pr * kRow + 150), QPoint(xs, pr * kRow + 150),
                    QPoint(xs, r * kRow + 15)});
      else
        S.Polyline({QPoint(pxs, pr * kRow + 15), QPoint(pxs, r * kRow + 150), QPoint(xs, r * kRow + 150),
                    QPoint(xs, r * kRow + 131)});
    }
    PersPaint(canvas, x, r, sex, text, s);
    px = x;
    pr = r;
    const QChar c = code(i);
    if (c == QLatin1Char('1')) --r;
    if (c == QLatin1Char('2')) ++r;
    if (c == QLatin1Char('5'))
      x += 300;
    else if (!c.isNull() && (turn(i, i + 1) || turn(i - 1, i)))
      x += 150;
  }

  for (int i = 0; i < n; ++i) {
    const TINDI& P = persons[size_t(i)] > 0 && persons[size_t(i)] < std::int64_t(m.aIndi.size())
                         ? m.aIndi[size_t(persons[size_t(i)])]
                         : m.aIndi.front();
    if (i > 0) AddRun(k.Text, QStringLiteral(" > "), 0, false, true);
    AddRun(k.Text, P.FIO1, P.SEX == QLatin1String("F") ? kRed : kBlue, true, true);
  }
}

int KinshipZoomPercent(const QString& zoomText, const QSize& picture, const QSize& box) {
  if (picture.width() <= 0 || picture.height() <= 0) return 0;
  bool ok = false;
  int percent = zoomText.section(QLatin1Char('%'), 0, 0).trimmed().toInt(&ok);
  if (!ok) percent = 0;
  if (percent == 0) {
    percent = zoomText == kKinshipZoomFitHeight ? Nearest(double(box.height()) / picture.height() * 100.0)
                                                : Nearest(double(box.width()) / picture.width() * 100.0);
  }
  percent = std::clamp(percent, kKinshipMinZoom, kKinshipMaxZoom);
  // The zoomed copy keeps inside the budget too.
  while (percent > kKinshipMinZoom &&
         qint64(picture.width()) * percent / 100 * (qint64(picture.height()) * percent / 100) > kKinshipPixelBudget)
    --percent;
  return percent;
}

QImage ReScalelink2Pers(const QImage& picture, const QString& zoomText, const QSize& box) {
  const int percent = KinshipZoomPercent(zoomText, picture.size(), box);
  if (percent <= 0 || picture.isNull()) return {};
  const int w = std::max(1, int(qint64(picture.width()) * percent / 100));
  const int h = std::max(1, int(qint64(picture.height()) * percent / 100));
  return picture.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}
