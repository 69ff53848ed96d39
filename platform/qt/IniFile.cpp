#include "platform/qt/IniFile.h"

#include <QFile>
#include <QSaveFile>
#include <QFileInfo>

#include "platform/CodePage.h"

namespace platform {

namespace {
// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no surrogates, nothing above U+10FFFF.
bool ValidUtf8(const QByteArray& b) {
  const auto* p = reinterpret_cast<const unsigned char*>(b.constData());
  const qsizetype n = b.size();
  for (qsizetype i = 0; i < n;) {
    const unsigned c = p[i];
    int len;
    unsigned cp;
    if (c < 0x80) { ++i; continue; }
    if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
    else return false;
    if (i + len > n) return false;
    for (int k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += len;
  }
  return true;
}
}  // namespace

QString TIniFile::Decode(const QByteArray& bytes, Encoding* encoding) {
  Encoding e;
  QString text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    e = Encoding::Utf16Le;
    const qsizetype n = (bytes.size() - 2) / 2;
    text.resize(n);
    for (qsizetype i = 0; i < n; ++i)
      text[i] = QChar(static_cast<char16_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                            (static_cast<unsigned char>(bytes[3 + 2 * i]) << 8)));
  } else if (bytes.startsWith("\xEF\xBB\xBF")) {
    e = Encoding::Utf8Bom;
    text = QString::fromUtf8(bytes.mid(3));
  } else if (ValidUtf8(bytes)) {
    e = Encoding::Utf8;
    text = QString::fromUtf8(bytes);
  } else {
    e = Encoding::Cp1251;
    const std::u16string u = Cp1251ToUtf16(std::string_view(bytes.constData(), bytes.size()));
    text = QString::fromStdU16String(u);
  }
  if (encoding) *encoding = e;
  return text;
}

QByteArray TIniFile::Encode(const QString& text, Encoding encoding) {
  switch (encoding) {
    case Encoding::Utf16Le: {
      QByteArray out("\xFF\xFE", 2);
      out.reserve(2 + text.size() * 2);
      for (QChar c : text) {
        out.append(static_cast<char>(c.unicode() & 0xFF));
        out.append(static_cast<char>(c.unicode() >> 8));
      }
      return out;
    }
    case Encoding::Utf8Bom:
      return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    case Encoding::Cp1251: {
      const std::string s = Utf16ToCp1251(text.toStdU16String());
      return QByteArray(s.data(), static_cast<qsizetype>(s.size()));
    }
    case Encoding::Utf8:
      break;
  }
  return text.toUtf8();
}

TIniFile::TIniFile(const QString& fileName) : fileName_(fileName) {
  QFile f(fileName_);
  if (f.open(QIODevice::ReadOnly)) Parse(Decode(f.readAll(), &encoding_));
}

bool TIniFile::Exists() const { return QFileInfo::exists(fileName_); }

void TIniFile::Parse(const QString& text) {
  const QStringList lines = text.split(QLatin1Char('\n'));
  Section* cur = nullptr;
  for (QString line : lines) {
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
    const QString t = line.trimmed();
    if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']'))) {
      const QString name = t.mid(1, t.size() - 2).trimmed();
      cur = FindSection(name);
      if (!cur) {
        sections_.push_back(Section{name, {}});
        cur = &sections_.back();
      }
      continue;
    }
    if (!cur) {
      if (!t.isEmpty()) prefix_ << line;
      continue;
    }
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (t.isEmpty() || eq <= 0) continue;
    const QString key = t.left(eq).trimmed();
    QString value = t.mid(eq + 1).trimmed();
    bool found = false;
    for (const Entry& e : cur->entries)
      if (e.key.compare(key, Qt::CaseInsensitive) == 0) found = true;  // the first one wins
    if (!found) cur->entries.push_back(Entry{key, value});
  }
}

const TIniFile::Section* TIniFile::FindSection(const QString& name) const {
  for (const Section& s : sections_)
    if (s.name.compare(name, Qt::CaseInsensitive) == 0) return &s;
  return nullptr;
}

TIniFile::Section* TIniFile::FindSection(const QString& name) {
  return const_cast<Section*>(static_cast<const TIniFile*>(this)->FindSection(name));
}

const TIniFile::Entry* TIniFile::FindEntry(const QString& section, const QString& key) const {
  const Section* s = FindSection(section);
  if (!s) return nullptr;
  for (const Entry& e : s->entries)
    if (e.key.compare(key, Qt::CaseInsensitive) == 0) return &e;
  return nullptr;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& def) const {
  const Entry* e = FindEntry(section, key.trimmed());
  if (!e) return def;
  QString v = e->value;
  // A value in matching quotes is read without them.
  if (v.size() >= 2 && ((v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"'))) ||
                        (v.startsWith(QLatin1Char('\'')) && v.endsWith(QLatin1Char('\'')))))
    v = v.mid(1, v.size() - 2);
  return v;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int def) const {
  QString s = ReadString(section, key, QString()).trimmed();
  if (s.isEmpty()) return def;
  bool ok = false;
  int v;
  if (s.startsWith(QLatin1Char('$')))
    v = s.mid(1).toInt(&ok, 16);
  else if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
    v = s.mid(2).toInt(&ok, 16);
  else
    v = s.toInt(&ok, 10);
  return ok ? v : def;
}

bool TIniFile::ReadBool(const QString& section, const QString& key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::ValueExists(const QString& section, const QString& key) const {
  return FindEntry(section, key) != nullptr;
}

bool TIniFile::SectionExists(const QString& section) const { return FindSection(section) != nullptr; }

QStringList TIniFile::ReadSection(const QString& section) const {
  QStringList out;
  if (const Section* s = FindSection(section))
    for (const Entry& e : s->entries) out << e.key;
  return out;
}

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
  Section* s = FindSection(section);
  if (!s) {
    sections_.push_back(Section{section, {}});
    s = &sections_.back();
  }
  const QString k = key.trimmed();
  // Line breaks would split the entry; values are single lines.
  QString v = value;
  v.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
  bool found = false;
  for (Entry& e : s->entries)
    if (e.key.compare(k, Qt::CaseInsensitive) == 0) {
      e.value = v;
      found = true;
      break;
    }
  if (!found) s->entries.push_back(Entry{k, v});
  dirty_ = true;
  return batch_ > 0 ? true : Flush();
}

bool TIniFile::WriteInteger(const QString& section, const QString& key, int value) {
  return WriteString(section, key, QString::number(value));
}

bool TIniFile::WriteBool(const QString& section, const QString& key, bool value) {
  return WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

bool TIniFile::EraseKey(const QString& section, const QString& key) {
  Section* s = FindSection(section);
  if (!s) return true;
  for (auto it = s->entries.begin(); it != s->entries.end(); ++it)
    if (it->key.compare(key, Qt::CaseInsensitive) == 0) {
      s->entries.erase(it);
      dirty_ = true;
      return batch_ > 0 ? true : Flush();
    }
  return true;
}

bool TIniFile::EndUpdate() {
  if (batch_ > 0) --batch_;
  return batch_ == 0 && dirty_ ? Flush() : true;
}

bool TIniFile::Flush() {
  QString text;
  for (const QString& l : prefix_) text += l + QLatin1String("\r\n");
  for (const Section& s : sections_) {
    text += QLatin1Char('[') + s.name + QLatin1String("]\r\n");
    for (const Entry& e : s.entries) text += e.key + QLatin1Char('=') + e.value + QLatin1String("\r\n");
  }
  QSaveFile f(fileName_);
  if (!f.open(QIODevice::WriteOnly)) return false;
  f.write(Encode(text, encoding_));
  if (!f.commit()) return false;
  dirty_ = false;
  return true;
}

}  // namespace platform
