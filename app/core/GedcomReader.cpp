// The GEDCOM reader in four stages: decoding into lines, the header pass, the record pass that creates
// records and copies tag values, and the passes that resolve references and build display names.
// References are kept as identifier text during the record pass and resolved through hash maps by
// their exact text afterwards, so the model never holds a link that is not an index.
#include "app/core/GedcomReader.h"

#include "app/core/GDate.h"
#include "app/core/UnitFunc.h"
#include "platform/CodePage.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>
#include <QTime>

#include <array>
#include <cerrno>
#include <limits>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// ---------------------------------------------------------------- decoding

enum class Encoding { Ansi, Utf8Bom, Utf16 };

// The file split into lines. In Ansi and Utf8Bom mode the lines stay raw bytes (`bytes`, shared with the
// caller's buffer, never copied), decoded one at a time: Ansi lines as Windows-1251 or, once the header asks
// for it, as UTF-8; Utf8Bom lines always as UTF-8. In Utf16 mode `text` holds the decoded file.
struct Lines {
  Encoding enc = Encoding::Ansi;
  QByteArray bytes;
  QString text;
  std::vector<std::pair<qsizetype, qsizetype>> spans;  // start, length in `bytes` (Ansi) or `text`

  // The ASCII character at a position of the file (for quick scans of level-0 lines).
  char16_t At(qsizetype pos) const {
    return enc == Encoding::Utf16 ? text[pos].unicode() : char16_t(static_cast<unsigned char>(bytes.constData()[pos]));
  }
};

// Whether a character is more than a blank or control character (the trimming of a line's text).
inline bool Visible(char c) { return static_cast<unsigned char>(c) > 0x20; }
inline bool Visible(QChar c) { return c.unicode() > 0x20; }

// Splits t[from..] at CR, LF and CR LF. A line of blanks and control characters alone changes no state
// of any pass, so it gets no span (a file of blank lines then costs no memory per line); the first line
// keeps its span whatever it holds, as the header pass reads it as the file's first line.
template <typename Seq>
void SplitLines(Lines& l, const Seq& t, qsizetype from = 0) {
  const qsizetype n = t.size();
  l.spans.clear();
  qsizetype start = from;
  bool text = false;
  for (qsizetype i = from; i < n; ++i) {
    const auto c = t[i];
    if (c == u'\r' || c == u'\n') {
      if (text || l.spans.empty()) l.spans.emplace_back(start, i - start);
      if (c == u'\r' && i + 1 < n && t[i + 1] == u'\n') ++i;
      start = i + 1;
      text = false;
    } else if (!text && Visible(c)) {
      text = true;
    }
  }
  if (start < n && (text || l.spans.empty())) l.spans.emplace_back(start, n - start);
}

QString DecodeUtf16(const QByteArray& b, bool bigEndian, qsizetype skip) {
  const qsizetype units = (b.size() - skip) / 2;
  QString s(units, Qt::Uninitialized);
  const auto* p = reinterpret_cast<const unsigned char*>(b.constData()) + skip;
  for (qsizetype i = 0; i < units; ++i) {
    const unsigned hi = bigEndian ? p[2 * i] : p[2 * i + 1];
    const unsigned lo = bigEndian ? p[2 * i + 1] : p[2 * i];
    s[i] = QChar(char16_t((hi << 8) | lo));
  }
  return s;
}

// Decodes Windows-1251 bytes into out, reusing its buffer.
void DecodeAnsiInto(QByteArrayView b, QString& out) {
  static const auto kTable = [] {
    std::array<char16_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[std::size_t(i)] = platform::Cp1251ToUnit(std::uint8_t(i));
    return t;
  }();
  out.resize(b.size());
  char16_t* o = reinterpret_cast<char16_t*>(out.data());
  const auto* in = reinterpret_cast<const unsigned char*>(b.data());
  for (qsizetype i = 0; i < b.size(); ++i) o[i] = kTable[in[i]];
}

// Decodes one line of UTF-8 into out, reusing its buffer; the same text as QString::fromUtf8 of the line
// (each line on its own: no state is carried over, a leading mark is kept, bad bytes become U+FFFD).
void DecodeUtf8Into(QByteArrayView b, QString& out) {
  static QStringDecoder decoder(QStringDecoder::Utf8,
                                QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
  out.resize(b.size());
  QChar* end = decoder.appendToBuffer(out.data(), b);
  out.truncate(end - out.constData());
}

bool IsValidUtf8(QByteArrayView b) {
  const auto* p = reinterpret_cast<const unsigned char*>(b.data());
  const qsizetype n = b.size();
  qsizetype i = 0;
  while (i < n) {
    const unsigned c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    int len = 0;
    unsigned min = 0;
    if ((c & 0xE0) == 0xC0) {
      len = 1;
      min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 2;
      min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 3;
      min = 0x10000;
    } else {
      return false;
    }
    unsigned cp = c & (0x3F >> len);
    for (int k = 1; k <= len; ++k) {
      if (i + k >= n || (p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len + 1;
  }
  return true;
}

// Decodes by the byte-order mark, else as Windows-1251. A file with a UTF-8 mark whose content is not
// UTF-8 is read as Windows-1251; a mark read that way ("п" first) turns the first line into "0 HEAD".
// Files without a mark that begin with "0" followed by a zero byte (or the reverse) are UTF-16 written
// without a mark: a GEDCOM file always begins with the digit 0.
Lines Decode(const QByteArray& bytes) {
  Lines l;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
  const qsizetype n = bytes.size();
  if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF && IsValidUtf8(QByteArrayView(bytes).sliced(3))) {
    // Line breaks never occur inside a UTF-8 sequence, so decoding line by line gives the same text as
    // decoding the whole file, without holding a second copy of it.
    l.enc = Encoding::Utf8Bom;
    l.bytes = bytes;
  } else if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
    l.enc = Encoding::Utf16;
    l.text = DecodeUtf16(bytes, false, 2);
  } else if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) {
    l.enc = Encoding::Utf16;
    l.text = DecodeUtf16(bytes, true, 2);
  } else if (n >= 2 && p[0] == '0' && p[1] == 0) {
    l.enc = Encoding::Utf16;
    l.text = DecodeUtf16(bytes, false, 0);
  } else if (n >= 2 && p[0] == 0 && p[1] == '0') {
    l.enc = Encoding::Utf16;
    l.text = DecodeUtf16(bytes, true, 0);
  } else {
    l.enc = Encoding::Ansi;
    l.bytes = bytes;
  }
  if (l.enc == Encoding::Ansi)
    SplitLines(l, l.bytes);
  else if (l.enc == Encoding::Utf8Bom)
    SplitLines(l, l.bytes, 3);
  else
    SplitLines(l, l.text);
  // 0xEF is U+043F in Windows-1251: the first byte of a UTF-8 mark read as Windows-1251 text.
  // (Read through constData: a non-const access would copy the whole shared file buffer.)
  if (l.enc == Encoding::Ansi && !l.spans.empty() && l.spans[0].second > 0 &&
      static_cast<unsigned char>(l.bytes.constData()[l.spans[0].first]) == 0xEF) {
    // The mark stays in the buffer but the first line is read as the header line.
    l.bytes.replace(l.spans[0].first, l.spans[0].second, QByteArray("0 HEAD"));
    const qsizetype delta = 6 - l.spans[0].second;
    l.spans[0].second = 6;
    for (std::size_t i = 1; i < l.spans.size(); ++i) l.spans[i].first += delta;
  }
  return l;
}

// ---------------------------------------------------------------- one line

bool IsBlankOrCtl(QChar c) { return c.unicode() <= u' '; }

QStringView TrimView(QStringView v) {
  qsizetype b = 0;
  qsizetype e = v.size();
  while (b < e && IsBlankOrCtl(v[b])) ++b;
  while (e > b && IsBlankOrCtl(v[e - 1])) --e;
  return v.mid(b, e - b);
}


// The tags the rules name, as small codes: each line's tag is looked up once, then compared as a number.
enum Tag : std::uint8_t {
  tOther,
  tADOP,
  tASSO,
  tBIRT,
  tCAUS,
  tCHAN,
  tCHAR,
  tCHIL,
  tCONC,
  tCONT,
  tDATE,
  tDEAT,
  tEMAIL,
  tEVEN,
  tFAMC,
  tFAMS,
  tFAX,
  tFILE,
  tGIVN,
  tHEAD,
  tHUSB,
  tINDIVIDUALINTERNALHYPERLINK,
  tLAST2,
  tMARR,
  tMIDDLE,
  tNAME,
  tNOTE,
  tNPFX,
  tNSFX,
  tOBJE,
  tPHON,
  tPLAC,
  tPRIM,
  tRELA,
  tRESI,
  tSEX,
  tSOUR,
  tSURN,
  tTIME,
  tTITL,
  tTYPE,
  tUNIONS,
  tWIFE,
  tWWW,
  t_MARNM,
  t_UID,
};
constexpr struct {
  const char* text;
  Tag tag;
} kTags[] = {
    {"ADOP", tADOP},
    {"ASSO", tASSO},
    {"BIRT", tBIRT},
    {"CAUS", tCAUS},
    {"CHAN", tCHAN},
    {"CHAR", tCHAR},
    {"CHIL", tCHIL},
    {"CONC", tCONC},
    {"CONT", tCONT},
    {"DATE", tDATE},
    {"DEAT", tDEAT},
    {"EMAIL", tEMAIL},
    {"EVEN", tEVEN},
    {"FAMC", tFAMC},
    {"FAMS", tFAMS},
    {"FAX", tFAX},
    {"FILE", tFILE},
    {"GIVN", tGIVN},
    {"HEAD", tHEAD},
    {"HUSB", tHUSB},
    {"INDIVIDUALINTERNALHYPERLINK", tINDIVIDUALINTERNALHYPERLINK},
    {"LAST2", tLAST2},
    {"MARR", tMARR},
    {"MIDDLE", tMIDDLE},
    {"NAME", tNAME},
    {"NOTE", tNOTE},
    {"NPFX", tNPFX},
    {"NSFX", tNSFX},
    {"OBJE", tOBJE},
    {"PHON", tPHON},
    {"PLAC", tPLAC},
    {"PRIM", tPRIM},
    {"RELA", tRELA},
    {"RESI", tRESI},
    {"SEX", tSEX},
    {"SOUR", tSOUR},
    {"SURN", tSURN},
    {"TIME", tTIME},
    {"TITL", tTITL},
    {"TYPE", tTYPE},
    {"UNIONS", tUNIONS},
    {"WIFE", tWIFE},
    {"WWW", tWWW},
    {"_MARNM", t_MARNM},
    {"_UID", t_UID},
};

Tag TagCode(QStringView v) {
  if (v.size() < 3 || v.size() > 27) return tOther;
  for (const auto& t : kTags) {
    const char* p = t.text;
    if (p[0] != v[0].unicode()) continue;
    qsizetype i = 0;
    while (i < v.size() && p[i] && v[i].unicode() == char16_t(static_cast<unsigned char>(p[i]))) ++i;
    if (i == v.size() && p[i] == 0) return t.tag;
  }
  return tOther;
}

// A trimmed line taken apart: level (-1 when the line has no leading digits), tag (the second word),
// value (the text after the tag and one blank) and the third word.
struct Line {
  QStringView text;
  int level = -1;
  QStringView tag;
  Tag code = tOther;
  QStringView value;

  explicit Line(QStringView t) : text(t) {
    qsizetype i = 0;
    int lv = 0;
    while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') {
      if (lv < 1000) lv = lv * 10 + (t[i].unicode() - u'0');
      ++i;
    }
    if (i > 0) level = lv;
    // Second word: skip the first word, then blanks.
    qsizetype k = 0;
    while (k < t.size() && t[k] != u' ') ++k;
    while (k < t.size() && t[k] == u' ') ++k;
    qsizetype e = k;
    while (e < t.size() && t[e] != u' ') ++e;
    tag = t.mid(k, e - k);
    code = TagCode(tag);
    if (e < t.size()) value = t.mid(e + 1);
  }

  QString Value(qsizetype max) const { return value.left(max).toString(); }

  // Word n (1-based) of the line split at blanks, runs of blanks counting as one.
  QString Word(int n) const {
    qsizetype k = 0;
    int w = 0;
    while (k < text.size()) {
      while (k < text.size() && text[k] == u' ') ++k;
      if (k >= text.size()) break;
      qsizetype e = k;
      while (e < text.size() && text[e] != u' ') ++e;
      if (++w == n) return text.mid(k, e - k).toString();
      k = e;
    }
    return QString();
  }
};

constexpr qsizetype kPersonMax = 120;
constexpr qsizetype kRecordMax = 250;
constexpr qsizetype kHeaderMax = 100;

// ---------------------------------------------------------------- reader state

enum class RecType { None, Indi, Fam, Note, Marr, Hyper };

struct IndiRefs {
  QString famc;
  std::vector<QString> fams;
};
struct FamRefs {
  QString husb;
  QString wife;
  std::vector<QString> chil;
};

// The time of day of a "HH:MM[:SS[.zzz]]" text as a fraction of a day; false when unreadable.
bool ReadTimeOfDay(const QString& text, double& fraction) {
  static const char* const kFormats[] = {"H:m:s.z", "H:m:s", "H:m"};
  for (const char* f : kFormats) {
    const QTime t = QTime::fromString(text, QString::fromLatin1(f));
    if (t.isValid()) {
      fraction = t.msecsSinceStartOfDay() / 86400000.0;
      return true;
    }
  }
  return false;
}

void AddTime(TDateTime& dt, const QString& text) {
  double fraction = 0;
  // The time completes a known day only; an unreadable time is ignored and keeps the date.
  if (dt == kUnknownDate || dt == 0 || !ReadTimeOfDay(text, fraction)) return;
  dt += dt < 0 ? -fraction : fraction;
}

QString DecodeUtf8Again(const QString& ansiText) {
  const std::string bytes = platform::Utf16ToCp1251(
      std::u16string_view(reinterpret_cast<const char16_t*>(ansiText.utf16()), std::size_t(ansiText.size())));
  return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

// Hash and equality over QStringView, so the pools below are searched without building a QString.
struct ViewHash {
  using is_transparent = void;
  std::size_t operator()(QStringView v) const noexcept {
    return std::hash<std::u16string_view>{}(std::u16string_view(v.utf16(), std::size_t(v.size())));
  }
};
struct ViewEq {
  using is_transparent = void;
  bool operator()(QStringView a, QStringView b) const noexcept { return a == b; }
};

// Texts that repeat across a tree (surnames, given names, places, sexes, date parts) are stored once and
// shared by every record that holds them: a large tree then costs one allocation per distinct text
// instead of one per field.
class StringPool {
 public:
  QString Intern(QStringView v) {
    if (v.isEmpty()) return QString();
    const auto it = pool_.find(v);
    if (it != pool_.end()) return *it;
    return *pool_.insert(v.toString()).first;
  }
  void Intern(QString& s) {
    if (!s.isEmpty()) s = Intern(QStringView(s));
  }

 private:
  std::unordered_set<QString, ViewHash, ViewEq> pool_;
};

class Reader {
 public:
  Reader(Model& m, const GedProgress& progress, const QString& tmpl)
      : m_(m), progress_(progress), tmpl_(tmpl), ctx_(TDateContext::Now()) {}

  void Run(const QByteArray& bytes) {
    Lines lines = Decode(bytes);
    m_.GedHead = THEAD{};
    m_.aMarr.assign(1, TMarr{});
    const std::size_t start = HeaderPass(lines);
    utf8_ = lines.enc == Encoding::Ansi && m_.GedHead.CHAR == u"UTF-8";
    if (utf8_) {
      m_.GedHead.SOUR = DecodeUtf8Again(m_.GedHead.SOUR);
      m_.GedHead.NAME = DecodeUtf8Again(m_.GedHead.NAME);
      m_.GedHead.DATE = DecodeUtf8Again(m_.GedHead.DATE);
    }
    m_.Clear();
    indiRefs_.assign(1, IndiRefs{});
    famRefs_.assign(1, FamRefs{});
    hyperRefs_.assign(1, IndiRefs{});
    RecordPass(lines, start);
    lines = Lines{};
    if (utf8_) {
      for (TNOTE& n : m_.aNote) n.TEXT = DecodeUtf8Again(n.TEXT);
    }
    ResolvePersons();
    ResolveFamilies();
    NamePass();
  }

 private:
  void Progress(std::int64_t pos, std::int64_t max) {
    if (progress_) progress_(pos, max);
  }

  // The trimmed text of line i; a view into the file's text or into holder.
  static QStringView LineText(const Lines& l, std::size_t i, QString& holder, bool decodeUtf8) {
    const auto [s, n] = l.spans[i];
    if (l.enc == Encoding::Utf16) return TrimView(QStringView(l.text).mid(s, n));
    if (l.enc == Encoding::Utf8Bom) decodeUtf8 = true;
    QByteArrayView raw = QByteArrayView(l.bytes).sliced(s, n);
    qsizetype b = 0, e = raw.size();
    while (b < e && std::uint8_t(raw[b]) <= 0x20) ++b;
    while (e > b && std::uint8_t(raw[e - 1]) <= 0x20) --e;
    raw = raw.sliced(b, e - b);
    bool ascii = true;
    if (decodeUtf8)
      for (char c : raw) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (decodeUtf8 && !ascii)
      DecodeUtf8Into(raw, holder);
    else
      DecodeAnsiInto(raw, holder);  // ASCII reads the same in both decodings
    return TrimView(holder);
  }

  std::size_t HeaderPass(const Lines& l) {
    Tag tag0 = tOther;
    QString holder;
    for (std::size_t i = 0; i < l.spans.size(); ++i) {
      const Line ln(LineText(l, i, holder, false));
      if (ln.level == 0) tag0 = ln.code;
      if (tag0 != tHEAD) return i;
      if (ln.level == 1) {
        if (ln.code == tSOUR)
          m_.GedHead.SOUR = ln.Value(kHeaderMax);
        else if (ln.code == tCHAR)
          m_.GedHead.CHAR = ln.Value(kHeaderMax);
        else if (ln.code == tDATE)
          m_.GedHead.DATE = ln.Value(kHeaderMax);
      } else if (ln.level == 2 && ln.code == tNAME) {
        m_.GedHead.NAME = ln.Value(kHeaderMax);
      }
    }
    return l.spans.size();
  }

  // Reserves the record arrays from a quick count of level-0 lines, so they never grow by copying
  // (a person record is over a kilobyte; growth by doubling would touch twice the memory).
  void Reserve(const Lines& l, std::size_t start) {
    std::size_t persons = 0, families = 0;
    for (std::size_t i = start; i < l.spans.size(); ++i) {
      const auto [s, n] = l.spans[i];
      if (n < 4 || l.At(s) != u'0' || l.At(s + 1) != u' ' || l.At(s + 2) != u'@') continue;
      const char16_t kind = QChar(l.At(s + 3)).toUpper().unicode();
      persons += kind == u'I';
      families += kind == u'F';
    }
    m_.aIndi.reserve(persons + 1);
    indiRefs_.reserve(persons + 1);
    m_.aFam.reserve(families + 1);
    famRefs_.reserve(families + 1);
  }

  void RecordPass(const Lines& l, std::size_t start) {
    Reserve(l, start);
    const auto total = std::int64_t(l.spans.size());
    Progress(0, total > 0 ? total - 1 : 0);
    RecType type = RecType::None;
    QString holder, holder2;
    for (std::size_t i = start; i < l.spans.size(); ++i) {
      if (i % 100 == 0 && i > start) Progress(std::int64_t(i), total - 1);
      // With the UTF-8 decision every line is decoded, except the continuation lines of a note record:
      // those are joined first and decoded as a whole, so a character split by CONC survives.
      Line ln(LineText(l, i, holder, utf8_ && type != RecType::Note));
      QStringView undecoded = ln.text;
      if (utf8_ && ln.level == 0) {
        undecoded = LineText(l, i, holder, false);
        ln = Line(LineText(l, i, holder2, true));
      }
      if (ln.level < 0 || ln.level > 3) continue;
      if (ln.level == 0) {
        t1_ = t2_ = t3_ = tOther;
        type = StartRecord(ln, undecoded);
        continue;
      }
      const Tag tag = ln.code;
      if (ln.level == 1) {
        t1_ = tag;
        t2_ = tOther;
        t3_ = tOther;
      } else if (ln.level == 2) {
        t2_ = tag;
        t3_ = tOther;
      } else {
        t3_ = tag;
      }
      switch (type) {
        case RecType::Indi:
          IndiLine(ln);
          break;
        case RecType::Fam:
          FamLine(ln);
          break;
        case RecType::Note:
          NoteLine(ln);
          break;
        case RecType::Marr:
          MarrLine(ln);
          break;
        case RecType::Hyper:
          HyperLine(ln);
          break;
        case RecType::None:
          break;
      }
    }
  }

  // undecoded: the same line before UTF-8 decoding (note texts are decoded once they are joined).
  RecType StartRecord(const Line& ln, QStringView undecoded) {
    const QString id = ln.tag.toString();  // the identifier is the level-0 line's second word
    const QString kind = id.left(2).toUpper();
    if (kind == u"@I") {
      if (ln.text.contains(u"_INDI")) {
        TINDI_ h;
        h.INDI_ = id;
        m_.aIndi_.push_back(std::move(h));
        hyperRefs_.emplace_back();
        return RecType::Hyper;
      }
      m_.aIndi.emplace_back().INDI = id;
      indiRefs_.emplace_back();
      return RecType::Indi;
    }
    if (kind == u"@F") {
      m_.aFam.emplace_back().FAM = id;
      famRefs_.emplace_back();
      return RecType::Fam;
    }
    if (kind == u"@N") {
      TNOTE n;
      n.NOTE = id;
      // A note written on its record line ("0 @N1@ NOTE text") begins with that text.
      const Line rest(Line(undecoded).value);
      if (rest.text.startsWith(u"NOTE") && (rest.text.size() == 4 || rest.text[4] == u' '))
        n.TEXT = rest.text.mid(5).left(kRecordMax).toString();
      m_.aNote.push_back(std::move(n));
      return RecType::Note;
    }
    if (kind == u"@M") {
      TMarr r;
      r.ID = id;
      m_.aMarr.push_back(std::move(r));
      return RecType::Marr;
    }
    return RecType::None;
  }

  static void AppendCont(QString& field, const QString& value) {
    field += QStringLiteral("\r\n");
    field += value;
  }

  void IndiLine(const Line& ln) {
    TINDI& p = m_.aIndi.back();
    IndiRefs& refs = indiRefs_.back();
    const Tag tag = ln.code;
    auto val = [&] { return ln.Value(kPersonMax); };
    auto pooled = [&] { return pool_.Intern(ln.value.left(kPersonMax)); };
    if (ln.level == 1) {
      if (tag == tNAME) {
        if (!ln.value.startsWith(u"VARIATION")) p.NAME = val();
      } else if (tag == t_UID) {
        p._UID = val();
      } else if (tag == tSEX) {
        p.SEX = pool_.Intern(ln.value.left(1));
      } else if (tag == tDEAT) {
        p.DEAT = QStringLiteral("+");
      } else if (tag == tFAMC) {
        if (refs.famc.isEmpty()) refs.famc = val();
      } else if (tag == tNOTE) {
        p.NOTE = val();
      } else if (tag == tASSO) {
        TASSO a;
        a.INDI = val();
        p.ASSO.push_back(std::move(a));
      } else if (tag == tEVEN) {
        TEVEN e;
        e.EVEN = val();
        p.EVEN.push_back(std::move(e));
      } else if (tag == tFAMS) {
        refs.fams.push_back(val());
      }
      return;
    }
    if (ln.level == 2) {
      if (t1_ == tNAME) {
        if (tag == tGIVN)
          p.GIVN = pooled();
        else if (tag == t_MARNM || tag == tLAST2)
          p.SURN2 = ln.Word(3).left(kPersonMax);
        else if (tag == tSURN)
          p.SURN = pooled();
        else if (tag == tMIDDLE)
          p.PATR1 = pooled();
        else if (tag == tNSFX)
          p.NSFX = pooled();
        else if (tag == tNPFX)
          p.NPFX = pooled();
      } else if (t1_ == tBIRT) {
        if (tag == tDATE) {
          if (p.BIRT_DATE.ORIG.isEmpty()) p.BIRT_DATE = Date(ln.value.left(kPersonMax));
        } else if (tag == tPLAC) {
          p.BIRT_PLAC = m_.GedHead.SOUR == u"Kestrelin" ? pool_.Intern(SplitPart(1, val(), u',')) : pooled();
        } else if (tag == tNOTE) {
          p.BIRT_NOTE = val();
        }
      } else if (t1_ == tDEAT) {
        if (tag == tDATE)
          p.DEAT_DATE = Date(ln.value.left(kPersonMax));
        else if (tag == tPLAC)
          p.DEAT_PLAC = pooled();
        else if (tag == tCAUS)
          p.DEAT_CAUS = pooled();
        else if (tag == tNOTE)
          p.DEAT_NOTE = val();
      } else if (t1_ == tADOP) {
        if (tag == tFAMC) p.ADOP = SplitPart(2, val().left(10), u'@').mid(1);
      } else if (t1_ == tNOTE) {
        if (tag == tCONC)
          p.NOTE += val();
        else if (tag == tCONT)
          AppendCont(p.NOTE, val());
      } else if (t1_ == tRESI) {
        if (tag == tPLAC)
          p.RESI_PLAC = pooled();
        else if (tag == tEMAIL)
          p.RESI_EMAIL = val();
        else if (tag == tPHON)
          p.RESI_PHON = val();
        else if (tag == tFAX)
          p.RESI_FAX = val();
        else if (tag == tWWW)
          p.RESI_WWW = val();
      } else if (t1_ == tOBJE) {
        if (tag == tFILE)
          p.OBJE_FILE = val();
        else if (tag == tTITL)
          p.OBJE_TITL = val();
        else if (tag == tPRIM)
          p.OBJE_PRIM = ln.value.left(1).toString();
      } else if (t1_ == tCHAN) {
        if (tag == tDATE) p.EDIT = Date(ln.value.left(kPersonMax)).DDATE;
      } else if (t1_ == tASSO) {
        if (tag == tRELA && !p.ASSO.empty()) p.ASSO.back().RELA = pooled();
      } else if (t1_ == tEVEN) {
        if (p.EVEN.empty()) return;
        TEVEN& e = p.EVEN.back();
        if (tag == tTYPE)
          e.TYP_ = pooled();
        else if (tag == tDATE)
          e.DATE = Date(ln.value.left(kPersonMax));
        else if (tag == tPLAC)
          e.PLAC = pooled();
        else if (tag == tNOTE)
          e.NOTE = val();
      }
      return;
    }
    // Level 3.
    if (t2_ == tNOTE && (tag == tCONC || tag == tCONT)) {
      QString* field = nullptr;
      if (t1_ == tBIRT)
        field = &p.BIRT_NOTE;
      else if (t1_ == tDEAT)
        field = &p.DEAT_NOTE;
      else if (t1_ == tEVEN && !p.EVEN.empty())
        field = &p.EVEN.back().NOTE;
      if (field) {
        if (tag == tCONC)
          *field += val();
        else
          AppendCont(*field, val());
      }
    } else if (t1_ == tADOP && t2_ == tFAMC && tag == tADOP) {
      p.ADOP += u' ' + ln.value.left(4).toString();
    } else if (t1_ == tCHAN && t2_ == tDATE && tag == tTIME) {
      AddTime(p.EDIT, val());
    }
  }

  void FamLine(const Line& ln) {
    TFAM& f = m_.aFam.back();
    FamRefs& refs = famRefs_.back();
    const Tag tag = ln.code;
    auto val = [&] { return ln.Value(kPersonMax); };
    auto pooled = [&] { return pool_.Intern(ln.value.left(kPersonMax)); };
    if (ln.level == 1) {
      if (tag == tHUSB)
        refs.husb = val();
      else if (tag == tWIFE)
        refs.wife = val();
      else if (tag == tMARR)
        f.MARR = QStringLiteral("x");
      else if (ln.text == u"1 RELATION Marriage")
        f.MARR = QStringLiteral("x");
      else if (tag == tUNIONS)
        f.MARR = ln.Word(3).left(kPersonMax);
      else if (tag == tCHIL)
        refs.chil.push_back(val());
      return;
    }
    if (ln.level == 2) {
      if (t1_ == tMARR) {
        if (tag == tDATE)
          f.MARR_DATE = Date(ln.value.left(kPersonMax));
        else if (tag == tPLAC)
          f.MARR_PLAC = pooled();
        else if (tag == tNOTE)
          f.MARR_NOTE = val();
      } else if (t1_ == tOBJE) {
        if (tag == tFILE)
          f.OBJE_FILE = val();
        else if (tag == tTITL)
          f.OBJE_TITL = val();
        else if (tag == tPRIM)
          f.OBJE_PRIM = val();
      } else if (t1_ == tCHAN) {
        if (tag == tDATE) f.CHAN = Date(ln.value.left(kPersonMax)).DDATE;
      }
      return;
    }
    if (t1_ == tMARR && t2_ == tNOTE) {
      // A continued marriage note keeps its line breaks, as person notes do.
      if (tag == tCONC)
        f.MARR_NOTE += val();
      else if (tag == tCONT)
        AppendCont(f.MARR_NOTE, val());
    } else if (t1_ == tCHAN && t2_ == tDATE && tag == tTIME) {
      AddTime(f.CHAN, val());
    }
  }

  void NoteLine(const Line& ln) {
    if (ln.level != 1) return;
    TNOTE& n = m_.aNote.back();
    if (ln.code == tCONC)
      n.TEXT += ln.Value(kRecordMax);
    else if (ln.code == tCONT)
      AppendCont(n.TEXT, ln.Value(kRecordMax));
  }

  void MarrLine(const Line& ln) {
    if (ln.level != 1) return;
    TMarr& r = m_.aMarr.back();
    if (ln.code == tDATE)
      r.DATE = ln.Value(kRecordMax);
    else if (ln.code == tPLAC)
      r.PLAC = ln.Value(kRecordMax);
  }

  void HyperLine(const Line& ln) {
    if (ln.level != 1) return;
    TINDI_& h = m_.aIndi_.back();
    IndiRefs& refs = hyperRefs_.back();
    if (ln.code == tINDIVIDUALINTERNALHYPERLINK)
      h.INDI = ln.Word(3).left(kPersonMax);
    else if (ln.code == tFAMC)
      refs.famc = ln.Value(kPersonMax);
    else if (ln.code == tFAMS)
      refs.fams.push_back(ln.Value(kPersonMax));
  }

  // ---------------------------------------------------------------- resolution

  static std::int64_t Lookup(const QHash<QString, std::int64_t>& map, const QString& ref) {
    if (ref.isEmpty()) return 0;
    return map.value(ref, 0);
  }

  // The text of the note record named by ref; a reference without a record keeps its text.
  QString NoteText(const QString& ref) const {
    const auto it = noteIndex_.constFind(ref);
    return it == noteIndex_.cend() ? ref : m_.aNote[std::size_t(*it)].TEXT;
  }

  void ResolveNote(QString& field) const {
    if (field.startsWith(u'@')) field = NoteText(field);
  }

  void ResolvePersons() {
    const auto n = std::int64_t(m_.aIndi.size());
    indiIndex_.reserve(qsizetype(n));
    for (std::int64_t i = std::int64_t(m_.aIndi.size()) - 1; i >= 1; --i) {
      // insert() replaces, so walk backwards to keep the first person of an identifier.
      indiIndex_.insert(m_.aIndi[std::size_t(i)].INDI, i);
    }
    for (std::int64_t f = std::int64_t(m_.aFam.size()) - 1; f >= 1; --f)
      famIndex_.insert(m_.aFam[std::size_t(f)].FAM, f);
    for (std::int64_t k = std::int64_t(m_.aNote.size()) - 1; k >= 1; --k)
      noteIndex_.insert(m_.aNote[std::size_t(k)].NOTE, k);
    QHash<QString, std::vector<std::size_t>> hyperByTarget;
    for (std::size_t h = 1; h < m_.aIndi_.size(); ++h) hyperByTarget[m_.aIndi_[h].INDI].push_back(h);

    // Hyperlink records resolve to families too, for whoever reads them later.
    for (std::size_t h = 1; h < m_.aIndi_.size(); ++h) {
      m_.aIndi_[h].FAMC = Lookup(famIndex_, hyperRefs_[h].famc);
      for (const QString& r : hyperRefs_[h].fams) m_.aIndi_[h].FAMS.push_back(Lookup(famIndex_, r));
    }

    Progress(0, n - 1);
    for (std::int64_t i = 1; i < n; ++i) {
      if (i % 100 == 0) Progress(i, n - 1);
      TINDI& p = m_.aIndi[std::size_t(i)];
      IndiRefs& refs = indiRefs_[std::size_t(i)];
      if (!hyperByTarget.isEmpty()) {
        const auto it = hyperByTarget.constFind(p.INDI);
        if (it != hyperByTarget.cend()) {
          for (std::size_t h : *it) {
            if (!hyperRefs_[h].famc.isEmpty()) refs.famc = hyperRefs_[h].famc;
            for (const QString& r : hyperRefs_[h].fams) refs.fams.push_back(r);
          }
        }
      }
      p.FAMC = Lookup(famIndex_, refs.famc);
      p.FAMS.clear();
      p.FAMS.reserve(refs.fams.size());
      for (const QString& r : refs.fams) p.FAMS.push_back(Lookup(famIndex_, r));
      ResolveNote(p.NOTE);
      ResolveNote(p.BIRT_NOTE);
      ResolveNote(p.DEAT_NOTE);
      for (TEVEN& e : p.EVEN) ResolveNote(e.NOTE);
      for (TASSO& a : p.ASSO) {
        const std::int64_t t = Lookup(indiIndex_, a.INDI);
        a.ID = t < std::numeric_limits<std::int32_t>::max() ? std::int32_t(t) : 0;
      }
    }
    // Back links: every association gets its counterpart on the target, so associations are symmetric.
    // The pairs (holder, named person) already present are kept in a set, so that many persons naming one
    // person cost linear time, not a scan of that person's growing list per link.
    const auto pairKey = [](std::int64_t holder, std::int64_t named) {
      return (std::uint64_t(std::uint32_t(holder)) << 32) | std::uint32_t(named);
    };
    std::unordered_set<std::uint64_t> linkedPairs;
    for (std::int64_t i = 1; i < n; ++i)
      for (const TASSO& a : m_.aIndi[std::size_t(i)].ASSO)
        if (a.ID != 0) linkedPairs.insert(pairKey(i, a.ID));
    for (std::int64_t i = 1; i < n; ++i) {
      const std::size_t count = m_.aIndi[std::size_t(i)].ASSO.size();
      for (std::size_t k = 0; k < count; ++k) {
        const std::int32_t t = m_.aIndi[std::size_t(i)].ASSO[k].ID;
        if (t == 0 || t == i) continue;
        TINDI& target = m_.aIndi[std::size_t(t)];
        if (linkedPairs.insert(pairKey(t, i)).second) {
          TASSO back;
          back.ID = std::int32_t(i);
          back.INDI = m_.aIndi[std::size_t(i)].INDI;
          target.ASSO.push_back(std::move(back));
        }
      }
    }
  }

  void ResolveFamilies() {
    QHash<QString, std::size_t> marrIndex;
    for (std::size_t k = m_.aMarr.size(); k-- > 1;) marrIndex.insert(m_.aMarr[k].ID, k);
    const auto m = std::int64_t(m_.aFam.size());
    Progress(0, m - 1);
    for (std::int64_t f = 1; f < m; ++f) {
      if (f % 100 == 0) Progress(f, m - 1);
      TFAM& fam = m_.aFam[std::size_t(f)];
      const FamRefs& refs = famRefs_[std::size_t(f)];
      fam.HUSB = Lookup(indiIndex_, refs.husb);
      fam.WIFE = Lookup(indiIndex_, refs.wife);
      fam.CHIL.clear();
      fam.CHIL.reserve(refs.chil.size());
      for (const QString& r : refs.chil) fam.CHIL.push_back(Lookup(indiIndex_, r));
      ResolveNote(fam.MARR_NOTE);
      if (fam.MARR.startsWith(u'@')) {
        const auto it = marrIndex.constFind(fam.MARR);
        if (it != marrIndex.cend()) {
          const TMarr& r = m_.aMarr[*it];
          fam.MARR_DATE = Date(r.DATE);
          fam.MARR_PLAC = r.PLAC;
        }
      }
    }
  }

  void NamePass() {
    const TDATES emptyDate = GDate_RDates(QString(), ctx_);
    const QString& sour = m_.GedHead.SOUR;
    const bool genoPro = sour == u"GenoPro";
    const auto n = std::int64_t(m_.aIndi.size());
    for (std::int64_t i = 0; i < n; ++i) {
      if (i % 100 == 0) Progress(i, n - 1);
      TINDI& p = m_.aIndi[std::size_t(i)];
      QString s = SplitPart(2, p.NAME, u'/');
      s.remove(u'(' + p.SURN + u')');
      s = TrimCtl(s);
      if (!p.SURN2.isEmpty() || (genoPro && p.SEX == u"F")) {
        p.SURN1 = p.SURN2;
        p.SURN0 = p.SURN;
      } else if (genoPro && p.SEX == u"M") {
        p.SURN1 = p.SURN;
      } else if (!s.isEmpty() && !genoPro) {
        p.SURN1 = s;
        if (p.SEX == u"M" && p.SURN.isEmpty()) p.SURN = s;
      }
      if (p.SEX == u"F" && p.SURN0.isEmpty()) p.SURN0 = p.SURN;
      if (p.GIVN.isEmpty()) p.GIVN = TrimCtl(SplitPart(1, p.NAME, u'/'));
      SplitGiven(p);
      for (QString* part : {&p.GIVN, &p.SURN, &p.SURN0, &p.SURN1, &p.FIRS1, &p.PATR1}) pool_.Intern(*part);
      p.FIO1 = FormatFullName(p.SURN1, p.FIRS1, p.PATR1, p.SURN0, tmpl_);
      if (p.BIRT_DATE.ORIG.isEmpty()) p.BIRT_DATE = emptyDate;
      if (p.DEAT == u"+" && p.DEAT_DATE.ORIG.isEmpty()) p.DEAT_DATE = emptyDate;
      p.iPr = -1;
      p.iPot = -1;
    }
  }

  // First name and patronymic from the given names.
  static void SplitGiven(TINDI& p) {
    const QString& g = p.GIVN;
    if (!p.PATR1.isEmpty()) {
      p.FIRS1 = g;
      return;
    }
    const int words = PartCount(g, u' ');
    if (words == 1) {
      p.FIRS1 = g;
      p.PATR1.clear();
      return;
    }
    if (g.startsWith(u' ')) {
      p.PATR1 = g.mid(1, 30);
      p.FIRS1.clear();
      return;
    }
    const qsizetype close = g.indexOf(u')');
    if (words >= 3 && close >= 1) {
      const QString first = g.left(close + 1);
      if (g.count(u'(') >= 2) {
        p.FIRS1 = first;
        p.PATR1 = TrimCtl(g.mid(close + 1, 100));
        return;
      }
      if (!TrimCtl(g.mid(close + 1)).isEmpty()) {
        p.FIRS1 = first;
        p.PATR1 = TrimCtl(QString(g).remove(first));
        return;
      }
    }
    p.FIRS1 = SplitPart(1, g, u' ');
    const qsizetype blank = g.indexOf(u' ');
    p.PATR1 = blank < 0 ? QString() : TrimCtl(g.mid(blank, 100));
  }

  // The parsed date of a date text; equal texts parse alike, so each distinct text is parsed once and
  // its parts are shared.
  TDATES Date(QStringView text) {
    const auto it = dates_.find(text);
    if (it != dates_.end()) return it->second;
    TDATES d = GDate_RDates(text.toString(), ctx_);
    // Qualifiers, years and calendars repeat across dates; equal parts of one date share one buffer.
    for (QString* part : {&d.STYPE, &d.YEARS, &d.CALEN}) pool_.Intern(*part);
    if (d.NORM == d.ORIG) d.NORM = d.ORIG;
    if (d.SORT2 == d.SORT1) d.SORT2 = d.SORT1;
    return dates_.emplace(text.toString(), d).first->second;
  }

  Model& m_;
  const GedProgress& progress_;
  StringPool pool_;
  std::unordered_map<QString, TDATES, ViewHash, ViewEq> dates_;
  QString tmpl_;
  TDateContext ctx_;
  bool utf8_ = false;
  Tag t1_ = tOther, t2_ = tOther, t3_ = tOther;
  std::vector<IndiRefs> indiRefs_;
  std::vector<FamRefs> famRefs_;
  std::vector<IndiRefs> hyperRefs_;
  QHash<QString, std::int64_t> indiIndex_;
  QHash<QString, std::int64_t> famIndex_;
  QHash<QString, std::int64_t> noteIndex_;
};

}  // namespace

void Ged_IndiFromBytes(Model& model, const QByteArray& bytes, const GedProgress& progress,
                       const QString& nameTemplate) {
  Reader(model, progress, nameTemplate).Run(bytes);
}

namespace {

// Reads a whole regular file. Anything else (a directory, a FIFO, a device such as /dev/zero, also behind a
// link) is refused before a byte is read: opening a FIFO would wait for a writer, a device could be endless.
// The descriptor is opened without blocking and checked with fstat, so the check and the read see one file.
bool ReadRegularFile(const QString& path, QByteArray& out, bool& opened) {
  opened = false;
  const QByteArray native = QFile::encodeName(path);
  const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  opened = true;
  // The size is a hint: a file that grows or shrinks while it is read is read to its current end.
  out.resize(qsizetype(st.st_size));
  qsizetype filled = 0;
  bool ok = true;
  for (;;) {
    if (filled == out.size()) {
      char probe = 0;
      const ssize_t r = ::read(fd, &probe, 1);
      if (r == 0) break;
      if (r < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      out.resize(out.size() + std::max<qsizetype>(out.size() / 2, 4096));
      out[filled++] = probe;
      continue;
    }
    const ssize_t r = ::read(fd, out.data() + filled, std::size_t(out.size() - filled));
    if (r == 0) break;
    if (r < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    filled += r;
  }
  ::close(fd);
  out.truncate(filled);
  return ok;
}

}  // namespace

void Ged_Indi(Model& model, const QString& path, const GedProgress& progress, const QString& nameTemplate) {
  QByteArray bytes;
  bool opened = false;
  const bool read = ReadRegularFile(path, bytes, opened);
  if (!opened) throw EGedcomRead(EGedcomRead::OpenFailed, path);
  if (!read) throw EGedcomRead(EGedcomRead::ReadFailed, path);
  Ged_IndiFromBytes(model, bytes, progress, nameTemplate);
}
