// A GEDCOM file's lines, kept so that they save back byte for byte; see GedLines.h.
#include "sources/GedLines.h"

#include "platform/CodePage.h"
#include "sources/GroupEdit.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Error(const QString& what, const QString& path) {
  return what + QStringLiteral(" \"") + path + QStringLiteral("\": ") + QString::fromLocal8Bit(std::strerror(errno));
}

// UTF-8 bytes as text; a mark at the start of a line is kept as a character, so it is written back.
QString FromUtf8(const char* data, qsizetype n) {
  QStringDecoder d(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
  return d(QByteArrayView(data, n));
}

// Trimmed bytes of a line, for the header test.
QByteArray Trimmed(const QByteArray& b) { return b.trimmed(); }

}  // namespace

TGedLines TGedLines::Load(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    throw EGroupEdit(QStringLiteral("Не удалось открыть файл \"%1\"").arg(path));
  QByteArray bytes = f.readAll();
  if (f.error() != QFileDevice::NoError)
    throw EGroupEdit(QStringLiteral("Не удалось прочитать файл \"%1\"").arg(path));
  return Decode(bytes);
}

TGedLines TGedLines::FromBytes(const QByteArray& bytes) { return Decode(bytes); }

TGedLines TGedLines::Decode(const QByteArray& bytes) {
  TGedLines g;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
  const qsizetype n = bytes.size();
  // Lines of a text or a byte string, each with its break.
  const auto split = [&g](const auto& seq, auto&& add) {
    const qsizetype len = seq.size();
    qsizetype start = 0;
    int crlf = 0, lf = 0, cr = 0;
    for (qsizetype i = 0; i < len; ++i) {
      const auto c = seq[i];
      if (c != '\r' && c != '\n') continue;
      Break b = bLf;
      qsizetype end = i;
      if (c == '\r' && i + 1 < len && seq[i + 1] == '\n') {
        b = bCrLf;
        ++i;
        ++crlf;
      } else if (c == '\r') {
        b = bCr;
        ++cr;
      } else {
        ++lf;
      }
      add(start, end - start);
      g.breaks_.push_back(b);
      start = i + 1;
    }
    if (start < len) {
      add(start, len - start);
      g.breaks_.push_back(bNone);
    }
    g.usual_ = crlf >= lf && crlf >= cr ? bCrLf : lf >= cr ? bLf : bCr;
    if (crlf == 0 && lf == 0 && cr == 0) g.usual_ = bCrLf;
  };

  if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF &&
      platform::IsValidUtf8(std::string_view(bytes.constData() + 3, static_cast<std::size_t>(n - 3)))) {
    g.enc_ = Encoding::Utf8Bom;
    g.bom_ = true;
    const QByteArray body = bytes.mid(3);
    split(body, [&](qsizetype s, qsizetype len) { g.lines_.push_back(FromUtf8(body.constData() + s, len)); });
    return g;
  }
  const bool le = (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) || (n >= 2 && p[0] == '0' && p[1] == 0);
  const bool be = !le && ((n >= 2 && p[0] == 0xFE && p[1] == 0xFF) || (n >= 2 && p[0] == 0 && p[1] == '0'));
  if (le || be) {
    g.enc_ = le ? Encoding::Utf16Le : Encoding::Utf16Be;
    g.bom_ = p[0] == 0xFF || p[0] == 0xFE;
    const qsizetype skip = g.bom_ ? 2 : 0;
    const qsizetype units = (n - skip) / 2;
    QString text(units, Qt::Uninitialized);
    for (qsizetype i = 0; i < units; ++i) {
      const unsigned a = p[skip + 2 * i], b = p[skip + 2 * i + 1];
      text[i] = QChar(char16_t(le ? (b << 8 | a) : (a << 8 | b)));
    }
    if ((n - skip) % 2) g.tail_ = bytes.right(1);
    split(text, [&](qsizetype s, qsizetype len) { g.lines_.push_back(text.mid(s, len)); });
    return g;
  }

  // Single bytes: the raw lines first.
  std::vector<QByteArray> raw;
  split(bytes, [&](qsizetype s, qsizetype len) { raw.push_back(bytes.mid(s, len)); });
  bool utf8 = false;
  for (std::size_t i = 1; i < raw.size(); ++i) {
    const QByteArray t = Trimmed(raw[i]);
    if (t.startsWith("0 ")) break;
    if (t.startsWith("1 CHAR ") && t.mid(7).trimmed() == "UTF-8") utf8 = true;
  }
  if (utf8) {
    // A writer that cut long values into CONC lines by bytes may have split a two-byte character: its
    // first byte ends the line before, its second begins the CONC value. The byte moves to the CONC line.
    std::vector<QByteArray> mended = raw;
    bool moved = false;
    for (std::size_t i = 1; i < mended.size(); ++i) {
      QByteArray& line = mended[i];
      QByteArray& before = mended[i - 1];
      if (line.size() < 8 || line.mid(2, 5) != "CONC " || before.isEmpty()) continue;
      const auto pc = static_cast<unsigned char>(before.back());
      const auto cc = static_cast<unsigned char>(line[7]);
      if (pc >= 0xC2 && pc <= 0xDF && cc >= 0x80 && cc <= 0xBF) {
        line.insert(7, char(pc));
        before.chop(1);
        moved = true;
      }
    }
    bool valid = true;
    for (const QByteArray& l : mended)
      valid = valid && platform::IsValidUtf8(std::string_view(l.constData(), static_cast<std::size_t>(l.size())));
    if (valid) {
      g.enc_ = Encoding::Utf8;
      g.mended_ = moved;
      for (const QByteArray& l : mended) g.lines_.push_back(FromUtf8(l.constData(), l.size()));
      return g;
    }
  }
  g.enc_ = Encoding::Ansi;
  for (const QByteArray& l : raw) {
    const std::u16string u = platform::Cp1251ToUtf16(std::string_view(l.constData(), std::size_t(l.size())));
    g.lines_.push_back(QString::fromUtf16(u.data(), qsizetype(u.size())));
  }
  return g;
}

void TGedLines::Insert(std::size_t i, const QString& text) {
  lines_.insert(lines_.begin() + std::ptrdiff_t(i), text);
  // A line added after a last line without a break gives that line the usual break.
  if (i == breaks_.size() && i > 0 && breaks_[i - 1] == bNone) breaks_[i - 1] = usual_;
  breaks_.insert(breaks_.begin() + std::ptrdiff_t(i), i == breaks_.size() && i > 0 ? bNone : usual_);
}

void TGedLines::Erase(std::size_t i) {
  // The last line's missing break stays missing.
  if (i + 1 == lines_.size() && i > 0 && breaks_[i] == bNone) breaks_[i - 1] = bNone;
  lines_.erase(lines_.begin() + std::ptrdiff_t(i));
  breaks_.erase(breaks_.begin() + std::ptrdiff_t(i));
}

void TGedLines::Splice(const std::vector<std::pair<std::size_t, std::vector<QString>>>& edits) {
  std::vector<QString> lines;
  std::vector<Break> breaks;
  lines.reserve(lines_.size() + edits.size());
  breaks.reserve(lines_.size() + edits.size());
  std::size_t e = 0;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    while (e < edits.size() && edits[e].first < i) ++e;
    if (e == edits.size() || edits[e].first != i) {
      lines.push_back(std::move(lines_[i]));
      breaks.push_back(breaks_[i]);
      continue;
    }
    const std::vector<QString>& with = edits[e].second;
    if (with.empty()) {
      // A last line without a break leaves the line before it without one.
      if (i + 1 == lines_.size() && breaks_[i] == bNone && !breaks.empty()) breaks.back() = bNone;
      continue;
    }
    for (std::size_t k = 0; k < with.size(); ++k) {
      lines.push_back(with[k]);
      breaks.push_back(k + 1 == with.size() ? breaks_[i] : usual_);
    }
  }
  lines_ = std::move(lines);
  breaks_ = std::move(breaks);
}

QByteArray TGedLines::Bytes() const {
  QByteArray out;
  const auto breakText = [](Break b) -> const char* {
    switch (b) {
      case bLf: return "\n";
      case bCrLf: return "\r\n";
      case bCr: return "\r";
      default: return "";
    }
  };
  const auto put16 = [&](char16_t u) {
    if (enc_ == Encoding::Utf16Le) {
      out.append(char(u & 0xFF));
      out.append(char(u >> 8));
    } else {
      out.append(char(u >> 8));
      out.append(char(u & 0xFF));
    }
  };
  if (enc_ == Encoding::Utf8Bom) out.append("\xEF\xBB\xBF");
  if ((enc_ == Encoding::Utf16Le || enc_ == Encoding::Utf16Be) && bom_) put16(0xFEFF);
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const QString& l = lines_[i];
    const char* br = breakText(breaks_[i]);
    switch (enc_) {
      case Encoding::Utf8:
      case Encoding::Utf8Bom: {
        // A lone surrogate cannot be written as UTF-8 (it could only come from an edit).
        for (qsizetype k = 0; k < l.size(); ++k) {
          const QChar c = l[k];
          if (c.isHighSurrogate() && k + 1 < l.size() && l[k + 1].isLowSurrogate()) {
            ++k;
          } else if (c.isSurrogate()) {
            throw EGroupEdit(QStringLiteral("Строку нельзя записать в UTF-8: %1").arg(l));
          }
        }
        out.append(l.toUtf8());
        out.append(br);
        break;
      }
      case Encoding::Utf16Le:
      case Encoding::Utf16Be:
        for (QChar c : l) put16(c.unicode());
        for (const char* b = br; *b; ++b) put16(char16_t(*b));
        break;
      case Encoding::Ansi: {
        for (QChar c : l) {
          bool ok = false;
          const std::uint8_t b = platform::UnitToCp1251(c.unicode(), &ok);
          if (!ok)
            throw EGroupEdit(QStringLiteral("Строку нельзя записать в кодировке файла (Windows-1251): %1").arg(l));
          out.append(char(b));
        }
        out.append(br);
        break;
      }
    }
  }
  out.append(tail_);
  return out;
}

QString GedBackupName(const QString& path, int n) {
  const QFileInfo fi(path);
  const QString suffix = fi.suffix();
  const QString stem = suffix.isEmpty() ? path : path.left(path.size() - suffix.size() - 1);
  return stem + QStringLiteral(".ged.~") + QString::number(n);
}

namespace {

// Writes all bytes to fd; false with errno on failure.
bool WriteAll(int fd, const char* data, qsizetype n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, data, std::size_t(n));
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += w;
    n -= w;
  }
  return true;
}

void SyncFolder(const QString& path) {
  const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
  const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

}  // namespace

QString SaveReplacing(const QString& path, const QByteArray& bytes, const std::function<bool()>& noBackup,
                      const std::function<void(int)>& step) {
  const QByteArray target = QFile::encodeName(path);
  struct stat st {};
  if (::stat(target.constData(), &st) != 0) throw EGroupEdit(Error(QStringLiteral("Нет файла"), path));
  QFile original(path);
  if (!original.open(QIODevice::ReadOnly)) throw EGroupEdit(Error(QStringLiteral("Не удалось открыть файл"), path));
  const QByteArray old = original.readAll();
  if (original.error() != QFileDevice::NoError)
    throw EGroupEdit(Error(QStringLiteral("Не удалось прочитать файл"), path));
  original.close();
  const mode_t mode = st.st_mode & 07777;

  // The backup: the first name that does not exist, taken by exclusive creation.
  QString backup;
  for (int n = 1; n <= 500 && backup.isNull(); ++n) {
    const QString name = GedBackupName(path, n);
    const QByteArray b = QFile::encodeName(name);
    const int fd = ::open(b.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode | S_IRUSR | S_IWUSR);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      throw EGroupEdit(Error(QStringLiteral("Не удалось создать резервную копию"), name));
    }
    const bool ok = WriteAll(fd, old.constData(), old.size()) && ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    if (!ok) {
      ::unlink(b.constData());
      errno = err;
      throw EGroupEdit(Error(QStringLiteral("Не удалось записать резервную копию"), name));
    }
    backup = name;
  }
  if (backup.isNull()) {
    if (!noBackup || !noBackup()) return {};
    backup = QStringLiteral("");
  }
  if (step) step(1);

  // The new content beside the original, then renamed over it.
  const QFileInfo fi(path);
  QByteArray tmpl = QFile::encodeName(fi.absolutePath() + QStringLiteral("/.") + fi.fileName() + QStringLiteral(".XXXXXX"));
  const int fd = ::mkstemp(tmpl.data());
  if (fd < 0) throw EGroupEdit(Error(QStringLiteral("Не удалось создать временный файл рядом с"), path));
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, bytes.constData(), bytes.size()) && ::fsync(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(tmpl.constData());
    errno = err;
    throw EGroupEdit(Error(QStringLiteral("Не удалось записать временный файл рядом с"), path));
  }
  try {
    if (step) step(2);
  } catch (...) {
    ::unlink(tmpl.constData());
    throw;
  }
  if (::rename(tmpl.constData(), target.constData()) != 0) {
    err = errno;
    ::unlink(tmpl.constData());
    errno = err;
    throw EGroupEdit(Error(QStringLiteral("Не удалось заменить файл"), path));
  }
  SyncFolder(path);
  if (step) step(3);
  return backup;
}
