#include "platform/qt/RtfWriter.h"

#include "platform/qt/TargetFile.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QUrl>
#include <QVariant>

#include <cmath>
#include <vector>

namespace platform {

namespace {

class Tables {
 public:
  int Color(const QColor& c) {
    const QRgb rgb = c.rgb() & 0xFFFFFFu;
    for (size_t i = 0; i < colors_.size(); ++i)
      if (colors_[i] == rgb) return int(i) + 1;  // index 0 is the automatic colour
    colors_.push_back(rgb);
    return int(colors_.size());
  }
  int Font(const QString& face) {
    const QString f = face.isEmpty() ? QStringLiteral("Arial") : face;
    const int i = fonts_.indexOf(f);
    if (i >= 0) return i;
    fonts_ << f;
    return int(fonts_.size()) - 1;
  }
  QByteArray Header() const {
    QByteArray out = "{\\rtf1\\ansi\\ansicpg1251\\deff0\\uc1{\\fonttbl";
    for (int i = 0; i < fonts_.size(); ++i) {
      out += "{\\f" + QByteArray::number(i) + "\\fnil\\fcharset204 ";
      out += Escape(fonts_[i]);
      out += ";}";
    }
    out += "}\r\n{\\colortbl ;";
    for (QRgb c : colors_) {
      out += "\\red" + QByteArray::number(qRed(c)) + "\\green" + QByteArray::number(qGreen(c)) + "\\blue" +
             QByteArray::number(qBlue(c)) + ";";
    }
    out += "}\r\n";
    return out;
  }
  static QByteArray Escape(const QString& text) {
    QByteArray out;
    for (const QChar ch : text) {
      const ushort u = ch.unicode();
      if (u == '\\' || u == '{' || u == '}') {
        out += '\\';
        out += char(u);
      } else if (u == '\t') {
        out += "\\tab ";
      } else if (u == 0x2028 || u == '\n') {
        out += "\\line ";
      } else if (u == 0x2029 || u == '\r') {
        out += "\\par ";
      } else if (u < 0x20) {
        // other control characters carry no text
      } else if (u < 0x80) {
        out += char(u);
      } else {
        // RTF numbers are signed 16-bit; each UTF-16 unit of a surrogate pair is written in turn.
        out += "\\u" + QByteArray::number(int(short(u))) + "?";
      }
    }
    return out;
  }

 private:
  std::vector<QRgb> colors_;
  QStringList fonts_;
};

int Twips(double px) { return int(std::lround(px * 15.0)); }

QByteArray Picture(const QTextDocument& doc, const QTextImageFormat& f) {
  const QVariant res = doc.resource(QTextDocument::ImageResource, QUrl(f.name()));
  QImage image = res.value<QImage>();
  if (image.isNull()) return {};
  QByteArray png;
  QBuffer buf(&png);
  buf.open(QIODevice::WriteOnly);
  if (!image.save(&buf, "PNG")) return {};
  const int w = f.width() > 0 ? int(std::lround(f.width())) : image.width();
  const int h = f.height() > 0 ? int(std::lround(f.height())) : image.height();
  QByteArray out = "{\\pict\\pngblip\\picw" + QByteArray::number(image.width()) + "\\pich" +
                   QByteArray::number(image.height()) + "\\picwgoal" + QByteArray::number(Twips(w)) +
                   "\\pichgoal" + QByteArray::number(Twips(h)) + "\r\n";
  const QByteArray hex = png.toHex();
  for (qsizetype i = 0; i < hex.size(); i += 128) out += hex.mid(i, 128) + "\r\n";
  out += "}";
  return out;
}

}  // namespace

QByteArray DocumentToRtf(const QTextDocument& doc) {
  Tables t;
  t.Font(doc.defaultFont().family());
  QByteArray body;
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
    const QTextBlockFormat bf = block.blockFormat();
    body += "\\pard";
    if (bf.topMargin() > 0) body += "\\sb" + QByteArray::number(Twips(bf.topMargin()));
    if (bf.bottomMargin() > 0) body += "\\sa" + QByteArray::number(Twips(bf.bottomMargin()));
    if (bf.alignment() & Qt::AlignHCenter) body += "\\qc";
    body += ' ';
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment frag = it.fragment();
      if (!frag.isValid()) continue;
      const QTextCharFormat cf = frag.charFormat();
      if (cf.isImageFormat()) {
        body += Picture(doc, cf.toImageFormat());
        continue;
      }
      QByteArray ctl = "{";
      const QFont font = cf.font();
      ctl += "\\f" + QByteArray::number(t.Font(font.family()));
      const double pt = cf.fontPointSize() > 0 ? cf.fontPointSize() : doc.defaultFont().pointSizeF();
      if (pt > 0) ctl += "\\fs" + QByteArray::number(int(std::lround(pt * 2)));
      if (cf.hasProperty(QTextFormat::ForegroundBrush))
        ctl += "\\cf" + QByteArray::number(t.Color(cf.foreground().color()));
      if (cf.hasProperty(QTextFormat::BackgroundBrush) && cf.background().style() != Qt::NoBrush)
        ctl += "\\highlight" + QByteArray::number(t.Color(cf.background().color()));
      if (cf.fontWeight() >= QFont::Bold) ctl += "\\b";
      if (cf.fontItalic()) ctl += "\\i";
      if (cf.fontUnderline()) ctl += "\\ul";
      if (cf.fontStrikeOut()) ctl += "\\strike";
      body += ctl + ' ' + Tables::Escape(frag.text()) + "}";
    }
    body += "\\par\r\n";
  }
  return t.Header() + body + "}\r\n";
}

QString WriteRtfFile(const QString& fileName, const QTextDocument& doc) {
  const QByteArray rtf = DocumentToRtf(doc);
  TTargetFile target(fileName);
  if (const QString refused = target.Open(); !refused.isEmpty()) return refused;
  QFile f(target.TempPath());
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(rtf) != rtf.size() || !f.flush())
    return QStringLiteral("Cannot write %1: %2").arg(fileName, f.errorString());
  f.close();
  if (f.error() != QFileDevice::NoError) return QStringLiteral("Cannot write %1: %2").arg(fileName, f.errorString());
  return target.Commit();
}

}  // namespace platform
