// The GEDCOM reader in four stages: decoding, the header pass, the record pass that creates records,
// copies tag values and builds display names, and the passes that link what only the whole file tells.
// The record pass is split at level-0 lines into parts read on threads of their own. A survey of the
// parts first lists every person's and family's identifier, so the arrays are sized once and indexed
// by identifier text before a record is read: each part then writes its records in place and resolves
// references to persons and families as it reads them, by exact text, so the model never holds a link
// that is not an index. The result does not depend on the number of parts.
#include "app/core/GedcomReader.h"

#include "app/core/GDate.h"
#include "app/core/UnitFunc.h"
#include "platform/CodePage.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTime>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <iterator>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// ---------------------------------------------------------------- decoding

enum class Encoding { Ansi, Utf8Bom, Utf16 };

// The file as the passes read it. In Ansi and Utf8Bom mode the lines stay raw bytes (`bytes`, shared
// with the caller's buffer, never copied), decoded one at a time: Ansi lines as Windows-1251 or, once the
// header asks for it, as UTF-8; Utf8Bom lines always as UTF-8. In Utf16 mode `text` holds the decoded
// file. Positions are offsets into `bytes` or `text`; no list of lines is built, so a line costs nothing
// until it is read (a file of blank lines costs no memory per line).
struct Source {
  Encoding enc = Encoding::Ansi;
  QByteArray bytes;
  QString text;
  qsizetype begin = 0;  // where the first line starts (after a UTF-8 mark)
  // A UTF-8 mark read as Windows-1251 text (U+043F first): the first line then reads as "0 HEAD".
  bool markAsHead = false;
  // The bytes are pages of the reader's own: what the record pass has passed is given back (GiveBack).
  bool release = false;

  qsizetype Size() const { return enc == Encoding::Utf16 ? text.size() : bytes.size(); }
  // The unit at a position (a byte in Ansi and Utf8Bom mode), for the scans of line breaks and levels.
  char16_t At(qsizetype pos) const {
    return enc == Encoding::Utf16 ? text[pos].unicode() : char16_t(static_cast<unsigned char>(bytes.constData()[pos]));
  }
};

// Gives the whole pages inside [from, to) of a buffer of pages back to the system; they read as zeros
// afterwards, so only bytes that no pass reads again are given back.
void GiveBack(const QByteArray& bytes, qsizetype from, qsizetype to) {
#ifdef MADV_DONTNEED
  static const auto page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
  const auto base = reinterpret_cast<std::uintptr_t>(bytes.constData());
  const std::uintptr_t b = (base + std::uintptr_t(from) + page - 1) / page * page;
  const std::uintptr_t e = (base + std::uintptr_t(to)) / page * page;
  if (b < e) ::madvise(reinterpret_cast<void*>(b), e - b, MADV_DONTNEED);
#else
  (void)bytes, (void)from, (void)to;
#endif
}

// Whether a character is more than a blank or control character (the trimming of a line's text).
inline bool Visible(char16_t c) { return c > 0x20; }

// Walks the lines of [pos, end) of a source. Lines end at CR, LF or CR LF; pos must be a line start.
class LineCursor {
 public:
  LineCursor(const Source& s, qsizetype pos, qsizetype end) : s_(s), pos_(pos), end_(end) {}

  // The next line, blank or not: its start, its length and whether it holds a visible character.
  bool Next(qsizetype& start, qsizetype& length, bool& text) {
    if (pos_ >= end_) return false;
    start = pos_;
    text = false;
    if (s_.enc == Encoding::Utf16) {
      const char16_t* p = reinterpret_cast<const char16_t*>(s_.text.constData());
      qsizetype i = pos_;
      for (; i < end_ && p[i] != u'\r' && p[i] != u'\n'; ++i) text = text || p[i] > 0x20;
      return Finish(p, i, length);
    }
    const auto* p = reinterpret_cast<const unsigned char*>(s_.bytes.constData());
    qsizetype i = pos_;
    for (; i < end_ && p[i] != '\r' && p[i] != '\n'; ++i) text = text || p[i] > 0x20;
    return Finish(p, i, length);
  }

  // The next line with a visible character; blank lines change no state of any pass.
  bool NextText(qsizetype& start, qsizetype& length) {
    bool text = false;
    while (Next(start, length, text))
      if (text) return true;
    return false;
  }

  qsizetype Position() const { return pos_; }

 private:
  template <typename Unit>
  bool Finish(const Unit* p, qsizetype i, qsizetype& length) {
    length = i - pos_;
    // A line break pair CR LF counts once; the whole source is looked at, so a range that ends between
    // the two never makes the LF a line of its own.
    const qsizetype size = s_.Size();
    if (i < size && p[i] == '\r' && i + 1 < size && p[i + 1] == '\n') ++i;
    pos_ = i < size ? i + 1 : i;
    return true;
  }

  const Source& s_;
  qsizetype pos_, end_;
};

QString DecodeUtf16(const QByteArray& b, bool bigEndian, qsizetype skip) {
  const qsizetype units = (b.size() - skip) / 2;
  QString s(units, Qt::Uninitialized);
  const auto* p = reinterpret_cast<const unsigned char*>(b.constData()) + skip;
  char16_t* o = reinterpret_cast<char16_t*>(s.data());
  for (qsizetype i = 0; i < units; ++i) {
    const unsigned hi = bigEndian ? p[2 * i] : p[2 * i + 1];
    const unsigned lo = bigEndian ? p[2 * i + 1] : p[2 * i];
    o[i] = char16_t((hi << 8) | lo);
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
// The decoder keeps its own state, so each thread uses its own.
void DecodeUtf8Into(QByteArrayView b, QString& out, QStringDecoder& decoder) {
  out.resize(b.size());
  QChar* end = decoder.appendToBuffer(out.data(), b);
  out.truncate(end - out.constData());
}


// Decodes by the byte-order mark, else as Windows-1251. A file with a UTF-8 mark whose content is not
// UTF-8 is read as Windows-1251; a mark read that way ("п" first) turns the first line into "0 HEAD".
// Files without a mark that begin with "0" followed by a zero byte (or the reverse) are UTF-16 written
// without a mark: a GEDCOM file always begins with the digit 0.
Source Decode(const QByteArray& bytes) {
  Source l;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
  const qsizetype n = bytes.size();
  if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF &&
      platform::IsValidUtf8(std::string_view(bytes.constData() + 3, static_cast<std::size_t>(n - 3)))) {
    // Line breaks never occur inside a UTF-8 sequence, so decoding line by line gives the same text as
    // decoding the whole file, without holding a second copy of it.
    l.enc = Encoding::Utf8Bom;
    l.bytes = bytes;
    l.begin = 3;
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
    // 0xEF is U+043F in Windows-1251: the first byte of a UTF-8 mark read as Windows-1251 text.
    l.markAsHead = n > 0 && p[0] == 0xEF;
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
// The record pass gives the bytes it has read back in steps of this size.
constexpr qsizetype kGiveBackStep = 256 * 1024;

// ---------------------------------------------------------------- reader state

enum class RecType { None, Indi, Fam, Note, Marr, Hyper };

// The family references of a hyperlink record, kept as text until the records they name are known.
struct HyperRefs {
  QString famc;
  std::vector<QString> fams;
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
// The hash is deliberately not noexcept: the standard containers then keep each key's hash beside it and
// compare hashes before texts, instead of hashing every text met on a bucket's chain again.
struct ViewHash {
  using is_transparent = void;
  std::size_t operator()(QStringView v) const {
    return std::hash<std::u16string_view>{}(std::u16string_view(v.utf16(), std::size_t(v.size())));
  }
};
struct ViewEq {
  using is_transparent = void;
  bool operator()(QStringView a, QStringView b) const noexcept { return a == b; }
};

// An open-addressing hash table from texts to values, for the reader's hot lookups: one probe run over a
// flat array with each key's hash beside it, instead of a chain of separately allocated nodes. Keys are
// views: whoever inserts keeps the text alive and unchanged while the table is used. Inserting never
// replaces, so the first value given for a text stays. Reads from several threads at once are safe once
// no thread inserts.
template <typename V>
class TextMap {
 public:
  void Reserve(std::size_t n) {
    if (n * 2 > slots_.size()) Rehash(n * 2);
  }

  const V* Find(QStringView key) const {
    if (slots_.empty()) return nullptr;
    const std::size_t h = Hash(key);
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (s.size < 0) return nullptr;
      if (s.hash == h && QStringView(s.data, s.size) == key) return &s.value;
    }
  }

  // The value stored for key, after storing value for it when it had none; true when stored now.
  std::pair<V*, bool> Insert(QStringView key, const V& value) {
    if ((count_ + 1) * 2 > slots_.size()) Rehash(std::max<std::size_t>(16, slots_.size() * 2));
    const std::size_t h = Hash(key);
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (s.size < 0) {
        s = Slot{key.utf16(), key.size(), h, value};
        ++count_;
        return {&s.value, true};
      }
      if (s.hash == h && QStringView(s.data, s.size) == key) return {&s.value, false};
    }
  }

 private:
  struct Slot {
    const char16_t* data = nullptr;
    qsizetype size = -1;  // -1: an empty slot
    std::size_t hash = 0;
    V value{};
  };

  static std::size_t Hash(QStringView v) {
    return std::hash<std::u16string_view>{}(std::u16string_view(v.utf16(), std::size_t(v.size())));
  }

  void Rehash(std::size_t want) {
    std::size_t size = 16;
    while (size < want) size *= 2;
    std::vector<Slot> old(size);
    old.swap(slots_);
    mask_ = size - 1;
    for (const Slot& s : old) {
      if (s.size < 0) continue;
      std::size_t i = s.hash & mask_;
      while (slots_[i].size >= 0) i = (i + 1) & mask_;
      slots_[i] = s;
    }
  }

  std::vector<Slot> slots_;
  std::size_t count_ = 0, mask_ = 0;
};

// Texts that repeat across a tree (surnames, given names, places, sexes, date parts) are stored once and
// shared by every record that holds them: a large tree then costs one allocation per distinct text
// instead of one per field. One pool per thread: a pool is never shared.
class StringPool {
 public:
  QString Intern(QStringView v) {
    if (v.isEmpty()) return QString();
    if (const std::size_t* k = map_.Find(v)) return texts_[*k];
    // The map's key is a view of the stored text's buffer, which stays in place when the list grows.
    texts_.push_back(v.toString());
    map_.Insert(QStringView(texts_.back()), texts_.size() - 1);
    return texts_.back();
  }
  void Intern(QString& s) {
    if (!s.isEmpty()) s = Intern(QStringView(s));
  }

 private:
  std::vector<QString> texts_;
  TextMap<std::size_t> map_;
};

// The parsed date of a date text; equal texts parse alike, so a text met again is not parsed again and
// its parts are shared. One cache per thread, like the pool it fills. The cache holds a bounded number of
// dates and starts afresh when full: dates that repeat (years alone, common qualifiers) are found again
// at once, while a tree of mostly distinct days costs no more memory than its own dates.
class DateCache {
 public:
  DateCache(StringPool& pool, const TDateContext& ctx) : pool_(pool), ctx_(ctx) {}

  // The reference lives until the next call.
  const TDATES& Date(QStringView text) {
    if (const std::size_t* k = map_.Find(text)) return dates_[*k];
    TDATES d = GDate_RDates(text.toString(), ctx_);
    // Qualifiers, years and calendars repeat across dates; equal parts of one date share one buffer.
    for (QString* part : {&d.STYPE, &d.YEARS, &d.CALEN}) pool_.Intern(*part);
    if (d.NORM == d.ORIG) d.NORM = d.ORIG;
    if (d.SORT2 == d.SORT1) d.SORT2 = d.SORT1;
    if (dates_.size() == kMax) {
      dates_.clear();
      map_ = TextMap<std::size_t>();
    }
    if (dates_.empty()) {
      dates_.reserve(kMax);
      map_.Reserve(kMax);
    }
    dates_.push_back(std::move(d));
    // The key is the date's own text as read (ORIG is the text given), whose buffer stays in place.
    const TDATES& stored = dates_.back();
    if (QStringView(stored.ORIG) == text) map_.Insert(QStringView(stored.ORIG), dates_.size() - 1);
    return stored;
  }

 private:
  static constexpr std::size_t kMax = 4096;
  StringPool& pool_;
  const TDateContext& ctx_;
  std::vector<TDATES> dates_;
  TextMap<std::size_t> map_;
};

// Identifier text -> record index; the first record of an identifier wins. The keys are views into the
// records' own identifier texts, which stay unchanged (and in place) while the map is used.
using IdIndex = TextMap<std::int64_t>;

// The record a reference names, 0 for an empty reference or one that names no record.
std::int64_t Lookup(const IdIndex& map, QStringView ref) {
  if (ref.isEmpty()) return 0;
  const std::int64_t* k = map.Find(ref);
  return k ? *k : 0;
}

// Builds an index over field(records[k]) for k >= 1, the first of equal texts kept.
template <typename Record, typename Field>
IdIndex BuildIndex(const std::vector<Record>& records, Field field) {
  IdIndex index;
  index.Reserve(records.size());
  for (std::size_t k = 1; k < records.size(); ++k) index.Insert(QStringView(field(records[k])), std::int64_t(k));
  return index;
}

QStringDecoder NewUtf8Decoder() {
  return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
}

// The trimmed text of the line at [s, s + n); a view into the source's text or into holder.
QStringView LineText(const Source& l, qsizetype s, qsizetype n, QString& holder, bool decodeUtf8,
                     QStringDecoder& decoder) {
  if (l.markAsHead && s == 0) return u"0 HEAD";
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
    DecodeUtf8Into(raw, holder, decoder);
  else
    DecodeAnsiInto(raw, holder);  // ASCII reads the same in both decodings
  return TrimView(holder);
}

// The kind of record a level-0 line starts: by the first two characters of its identifier (the line's
// second word) in upper case; "@I" with "_INDI" anywhere on the line is a hyperlink record.
RecType Classify(const Line& ln) {
  const QStringView id = ln.tag;
  if (id.size() < 2 || id[0] != u'@') return RecType::None;
  char16_t kind = id[1].unicode();
  if (kind >= 0x80) {
    const QString upper = id.mid(1, 1).toString().toUpper();  // e.g. U+0131 is "I" in upper case
    kind = upper.size() == 1 ? upper[0].unicode() : 0;
  } else if (kind >= u'a' && kind <= u'z') {
    kind = char16_t(kind - 0x20);
  }
  switch (kind) {
    case u'I':
      return ln.text.contains(u"_INDI") ? RecType::Hyper : RecType::Indi;
    case u'F':
      return RecType::Fam;
    case u'N':
      return RecType::Note;
    case u'M':
      return RecType::Marr;
    default:
      return RecType::None;
  }
}

// The start of the first line after position p (p itself when it is the end).
qsizetype NextLineStart(const Source& src, qsizetype p) {
  const qsizetype n = src.Size();
  while (p < n && src.At(p) != u'\r' && src.At(p) != u'\n') ++p;
  if (p < n && src.At(p) == u'\r' && p + 1 < n && src.At(p + 1) == u'\n') ++p;
  return std::min(n, p + 1);
}

// Whether the first visible unit of a line with text is the digit 0: only such a line can be level 0.
bool MayBeLevel0(const Source& src, qsizetype s) {
  if (src.markAsHead && s == 0) return true;
  while (!Visible(src.At(s))) ++s;
  return src.At(s) == u'0';
}

// A part of the record pass: the lines [from, to), which begin at a level-0 line (or at the record pass's
// first line), so that no record spans two parts and each part is read on its own thread.
struct Chunk {
  qsizetype from = 0, to = 0;
  // Found by the survey: lines with text, and the identifiers of the persons and families in order.
  std::int64_t lines = 0;
  std::vector<QString> indiIds, famIds;
  // Where the part's first person and family go in aIndi and aFam.
  std::int64_t indiBase = 0, famBase = 0;
  // Read by the record pass: the smaller records, appended to the model in the order of the parts.
  std::vector<TNOTE> notes;
  std::vector<TMarr> marrs;
  std::vector<TINDI_> hypers;
  std::vector<HyperRefs> hyperRefs;
  bool associations = false;
  // Lines read so far, for the progress shown by the calling thread.
  std::atomic<std::int64_t> done{0};
};

// Counts a part's lines and lists its persons and families, so that the model's arrays are sized once and
// each part writes its records in place.
void Survey(const Source& src, bool utf8, Chunk& c) {
  LineCursor cur(src, c.from, c.to);
  QString holder;
  QStringDecoder decoder = NewUtf8Decoder();
  qsizetype s = 0, n = 0;
  while (cur.NextText(s, n)) {
    ++c.lines;
    if (!MayBeLevel0(src, s)) continue;
    const Line ln(LineText(src, s, n, holder, utf8, decoder));
    if (ln.level != 0) continue;
    const RecType type = Classify(ln);
    if (type == RecType::Indi)
      c.indiIds.push_back(ln.tag.toString());
    else if (type == RecType::Fam)
      c.famIds.push_back(ln.tag.toString());
  }
}

// Runs task(k) for k in [0, n) on n threads while the calling thread calls tick() about every 20 ms (the
// window's progress, its events and its Stop stay on it); without a tick a single task runs on the calling
// thread. Rethrows the first failure of a task once every task has ended.
template <typename Task>
void RunTasks(int n, const Task& task, const std::function<void()>& tick = {}) {
  if (n <= 0) return;
  if (n == 1 && !tick) {
    task(0);
    return;
  }
  std::mutex mu;
  std::condition_variable cv;
  int running = n;
  std::exception_ptr failure;
  const auto body = [&](int k) {
    std::exception_ptr error;
    try {
      task(k);
    } catch (...) {
      error = std::current_exception();
    }
    const std::lock_guard<std::mutex> lock(mu);
    if (error && !failure) failure = error;
    --running;
    cv.notify_one();
  };
  std::vector<std::thread> threads;
  threads.reserve(std::size_t(n));
  for (int k = 0; k < n; ++k) {
    try {
      threads.emplace_back(body, k);
    } catch (const std::system_error&) {
      body(k);  // no thread to be had: the task runs here
    }
  }
  {
    std::unique_lock<std::mutex> lock(mu);
    while (running > 0) {
      if (cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return running == 0; })) break;
      if (tick) {
        lock.unlock();
        tick();
        lock.lock();
      }
    }
  }
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
}

// Runs task(begin, end) over [first, last) split into n ranges, as RunTasks does.
template <typename Task>
void ForRanges(int n, std::int64_t first, std::int64_t last, const Task& task) {
  const std::int64_t count = std::max<std::int64_t>(0, last - first);
  n = int(std::max<std::int64_t>(1, std::min<std::int64_t>(n, count / 4096 + 1)));
  RunTasks(n, [&](int k) { task(first + count * k / n, first + count * (k + 1) / n); });
}


// What every thread of the record pass reads and no thread changes, and the arrays they fill (each
// thread only at the indexes of its own part).
struct Shared {
  const Source& src;
  bool utf8 = false;       // the UTF-8 decision
  bool kestrelin = false;  // birth places cut at the first comma
  bool genoPro = false;    // surnames by the GenoPro rules
  const QString& tmpl;
  const TDateContext& ctx;
  const TDATES& emptyDate;
  const IdIndex& indiIndex;
  const IdIndex& famIndex;
  std::vector<TINDI>& persons;
  std::vector<TFAM>& families;
  // Set by the calling thread when the user stops the read; each part then ends at its next poll.
  const std::atomic<bool>& stop;
};

// Display names: surnames, first name and patronymic, the display name; runs on each person once its
// record is complete (nothing it reads is set by linking).
void BuildNames(TINDI& p, const Shared& sh, StringPool& pool);

// Reads one part of the record pass: creates its records, copies tag values, resolves the references
// to persons and families through the identifier indexes, and builds each person's names.
class ChunkParser {
 public:
  ChunkParser(const Shared& sh, Chunk& c) : sh_(sh), c_(c), dates_(pool_, sh.ctx), decoder_(NewUtf8Decoder()) {}

  void Run() {
    LineCursor cur(sh_.src, c_.from, c_.to);
    std::int64_t nextIndi = c_.indiBase, nextFam = c_.famBase, lines = 0;
    RecType type = RecType::None;
    QString holder, holder2;
    qsizetype s = 0, n = 0;
    // The part's first page may hold the end of the part before it, whose last line break is looked at
    // from there: it is never given back.
    qsizetype given = c_.from + 1;
    while (cur.NextText(s, n)) {
      if (++lines % 128 == 0) {
        // A stopped read is thrown away whole, so the record in hand is simply left.
        if (sh_.stop.load(std::memory_order_relaxed)) return;
        c_.done.store(lines, std::memory_order_relaxed);
        // The lines before the current one are read (each was decoded into a buffer of its own).
        if (sh_.src.release && cur.Position() - given >= kGiveBackStep) {
          GiveBack(sh_.src.bytes, given, s);
          given = s;
        }
      }
      // With the UTF-8 decision every line is decoded, except the continuation lines of a note record:
      // those are joined first and decoded as a whole, so a character split by CONC survives.
      Line ln(LineText(sh_.src, s, n, holder, sh_.utf8 && type != RecType::Note, decoder_));
      QStringView undecoded = ln.text;
      if (sh_.utf8 && ln.level == 0) {
        undecoded = LineText(sh_.src, s, n, holder, false, decoder_);
        ln = Line(LineText(sh_.src, s, n, holder2, true, decoder_));
      }
      if (ln.level < 0 || ln.level > 3) continue;
      if (ln.level == 0) {
        EndRecord();
        t1_ = t2_ = t3_ = tOther;
        type = StartRecord(ln, undecoded, nextIndi, nextFam);
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
    EndRecord();
    c_.done.store(lines, std::memory_order_relaxed);
  }

 private:
  void EndRecord() {
    if (p_) BuildNames(*p_, sh_, pool_);
    p_ = nullptr;
    f_ = nullptr;
  }

  // undecoded: the same line before UTF-8 decoding (note texts are decoded once they are joined).
  RecType StartRecord(const Line& ln, QStringView undecoded, std::int64_t& nextIndi, std::int64_t& nextFam) {
    const RecType type = Classify(ln);
    switch (type) {
      case RecType::Indi:
        // The identifier as the survey read it from the same line.
        p_ = &sh_.persons[std::size_t(nextIndi)];
        p_->INDI = std::move(c_.indiIds[std::size_t(nextIndi++ - c_.indiBase)]);
        famcSet_ = false;
        break;
      case RecType::Fam:
        f_ = &sh_.families[std::size_t(nextFam)];
        f_->FAM = std::move(c_.famIds[std::size_t(nextFam++ - c_.famBase)]);
        break;
      case RecType::Hyper: {
        TINDI_ h;
        h.INDI_ = ln.tag.toString();
        c_.hypers.push_back(std::move(h));
        c_.hyperRefs.emplace_back();
        break;
      }
      case RecType::Note: {
        TNOTE note;
        note.NOTE = ln.tag.toString();
        // A note written on its record line ("0 @N1@ NOTE text") begins with that text.
        const Line rest(Line(undecoded).value);
        if (rest.text.startsWith(u"NOTE") && (rest.text.size() == 4 || rest.text[4] == u' '))
          note.TEXT = rest.text.mid(5).left(kRecordMax).toString();
        c_.notes.push_back(std::move(note));
        break;
      }
      case RecType::Marr: {
        TMarr r;
        r.ID = ln.tag.toString();
        c_.marrs.push_back(std::move(r));
        break;
      }
      case RecType::None:
        break;
    }
    return type;
  }

  static void AppendCont(QString& field, const QString& value) {
    field += QStringLiteral("\r\n");
    field += value;
  }

  void IndiLine(const Line& ln) {
    TINDI& p = *p_;
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
        // The first reference wins; a line without one does not count.
        if (!famcSet_ && !ln.value.isEmpty()) {
          famcSet_ = true;
          p.FAMC = Lookup(sh_.famIndex, ln.value.left(kPersonMax));
        }
      } else if (tag == tNOTE) {
        p.NOTE = val();
      } else if (tag == tASSO) {
        TASSO a;
        a.INDI = val();
        const std::int64_t t = Lookup(sh_.indiIndex, a.INDI);
        a.ID = t < std::numeric_limits<std::int32_t>::max() ? std::int32_t(t) : 0;
        p.ASSO.push_back(std::move(a));
        c_.associations = true;
      } else if (tag == tEVEN) {
        TEVEN e;
        e.EVEN = val();
        p.EVEN.push_back(std::move(e));
      } else if (tag == tFAMS) {
        p.FAMS.push_back(Lookup(sh_.famIndex, ln.value.left(kPersonMax)));
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
          if (p.BIRT_DATE.ORIG.isEmpty()) p.BIRT_DATE = dates_.Date(ln.value.left(kPersonMax));
        } else if (tag == tPLAC) {
          p.BIRT_PLAC = sh_.kestrelin ? pool_.Intern(SplitPart(1, val(), u',')) : pooled();
        } else if (tag == tNOTE) {
          p.BIRT_NOTE = val();
        }
      } else if (t1_ == tDEAT) {
        if (tag == tDATE)
          p.DEAT_DATE = dates_.Date(ln.value.left(kPersonMax));
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
        if (tag == tDATE) p.EDIT = dates_.Date(ln.value.left(kPersonMax)).DDATE;
      } else if (t1_ == tASSO) {
        if (tag == tRELA && !p.ASSO.empty()) p.ASSO.back().RELA = pooled();
      } else if (t1_ == tEVEN) {
        if (p.EVEN.empty()) return;
        TEVEN& e = p.EVEN.back();
        if (tag == tTYPE)
          e.TYP_ = pooled();
        else if (tag == tDATE)
          e.DATE = dates_.Date(ln.value.left(kPersonMax));
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
    TFAM& f = *f_;
    const Tag tag = ln.code;
    auto val = [&] { return ln.Value(kPersonMax); };
    auto pooled = [&] { return pool_.Intern(ln.value.left(kPersonMax)); };
    if (ln.level == 1) {
      // The last husband and wife lines win, even without a reference (which names no one).
      if (tag == tHUSB)
        f.HUSB = Lookup(sh_.indiIndex, ln.value.left(kPersonMax));
      else if (tag == tWIFE)
        f.WIFE = Lookup(sh_.indiIndex, ln.value.left(kPersonMax));
      else if (tag == tMARR)
        f.MARR = QStringLiteral("x");
      else if (ln.text == u"1 RELATION Marriage")
        f.MARR = QStringLiteral("x");
      else if (tag == tUNIONS)
        f.MARR = ln.Word(3).left(kPersonMax);
      else if (tag == tCHIL)
        f.CHIL.push_back(Lookup(sh_.indiIndex, ln.value.left(kPersonMax)));
      return;
    }
    if (ln.level == 2) {
      if (t1_ == tMARR) {
        if (tag == tDATE)
          f.MARR_DATE = dates_.Date(ln.value.left(kPersonMax));
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
        if (tag == tDATE) f.CHAN = dates_.Date(ln.value.left(kPersonMax)).DDATE;
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
    TNOTE& n = c_.notes.back();
    if (ln.code == tCONC)
      n.TEXT += ln.Value(kRecordMax);
    else if (ln.code == tCONT)
      AppendCont(n.TEXT, ln.Value(kRecordMax));
  }

  void MarrLine(const Line& ln) {
    if (ln.level != 1) return;
    TMarr& r = c_.marrs.back();
    if (ln.code == tDATE)
      r.DATE = ln.Value(kRecordMax);
    else if (ln.code == tPLAC)
      r.PLAC = ln.Value(kRecordMax);
  }

  void HyperLine(const Line& ln) {
    if (ln.level != 1) return;
    TINDI_& h = c_.hypers.back();
    HyperRefs& refs = c_.hyperRefs.back();
    if (ln.code == tINDIVIDUALINTERNALHYPERLINK)
      h.INDI = ln.Word(3).left(kPersonMax);
    else if (ln.code == tFAMC)
      refs.famc = ln.Value(kPersonMax);
    else if (ln.code == tFAMS)
      refs.fams.push_back(ln.Value(kPersonMax));
  }

  const Shared& sh_;
  Chunk& c_;
  StringPool pool_;
  DateCache dates_;
  QStringDecoder decoder_;
  Tag t1_ = tOther, t2_ = tOther, t3_ = tOther;
  TINDI* p_ = nullptr;  // the current person, when the current record is one
  TFAM* f_ = nullptr;   // the current family, when the current record is one
  bool famcSet_ = false;
};

// First name and patronymic from the given names.
void SplitGiven(TINDI& p) {
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

void BuildNames(TINDI& p, const Shared& sh, StringPool& pool) {
  QString s = SplitPart(2, p.NAME, u'/');
  s.remove(u'(' + p.SURN + u')');
  s = TrimCtl(s);
  if (!p.SURN2.isEmpty() || (sh.genoPro && p.SEX == u"F")) {
    p.SURN1 = p.SURN2;
    p.SURN0 = p.SURN;
  } else if (sh.genoPro && p.SEX == u"M") {
    p.SURN1 = p.SURN;
  } else if (!s.isEmpty() && !sh.genoPro) {
    p.SURN1 = s;
    if (p.SEX == u"M" && p.SURN.isEmpty()) p.SURN = s;
  }
  if (p.SEX == u"F" && p.SURN0.isEmpty()) p.SURN0 = p.SURN;
  if (p.GIVN.isEmpty()) p.GIVN = TrimCtl(SplitPart(1, p.NAME, u'/'));
  SplitGiven(p);
  for (QString* part : {&p.GIVN, &p.SURN, &p.SURN0, &p.SURN1, &p.FIRS1, &p.PATR1}) pool.Intern(*part);
  p.FIO1 = FormatFullName(p.SURN1, p.FIRS1, p.PATR1, p.SURN0, sh.tmpl);
  if (p.BIRT_DATE.ORIG.isEmpty()) p.BIRT_DATE = sh.emptyDate;
  if (p.DEAT == u"+" && p.DEAT_DATE.ORIG.isEmpty()) p.DEAT_DATE = sh.emptyDate;
  p.iPr = -1;
  p.iPot = -1;
}

// The whole read: decoding and the header pass on the calling thread, the record pass split at level-0
// lines over worker threads, then linking of what only the whole file can tell (notes, marriage records,
// hyperlink records, association back links).
class Reader {
 public:
  // releasable: the bytes are pages of the reader's own, given back as the record pass passes them.
  Reader(Model& m, const GedProgress& progress, const QString& tmpl, int threads, bool releasable = false)
      : m_(m), progress_(progress), tmpl_(tmpl), threads_(threads), releasable_(releasable), ctx_(TDateContext::Now()) {}

  void Run(const QByteArray& bytes) {
    Source src = Decode(bytes);
    // A UTF-16 file is read from its decoded text alone.
    if (releasable_ && src.enc == Encoding::Utf16) GiveBack(bytes, 0, bytes.size());
    src.release = releasable_ && src.enc != Encoding::Utf16;
    m_.GedHead = THEAD{};
    m_.aMarr.assign(1, TMarr{});
    std::int64_t headerLines = 0;
    const qsizetype start = HeaderPass(src, headerLines);
    const bool utf8 = src.enc == Encoding::Ansi && m_.GedHead.CHAR == u"UTF-8";
    if (utf8) {
      m_.GedHead.SOUR = DecodeUtf8Again(m_.GedHead.SOUR);
      m_.GedHead.NAME = DecodeUtf8Again(m_.GedHead.NAME);
      m_.GedHead.DATE = DecodeUtf8Again(m_.GedHead.DATE);
    }
    m_.Clear();

    // The survey: the parts, their lines and their persons and families.
    std::vector<Chunk> chunks(Cut(src, start, utf8));
    const int parts = int(chunks.size());
    for (std::size_t k = 0; k < chunks.size(); ++k) {
      chunks[k].from = cuts_[k];
      chunks[k].to = cuts_[k + 1];
    }
    RunTasks(parts, [&](int k) { Survey(src, utf8, chunks[std::size_t(k)]); });
    std::int64_t persons = 1, families = 1, total = headerLines;
    for (Chunk& c : chunks) {
      c.indiBase = persons;
      c.famBase = families;
      persons += std::int64_t(c.indiIds.size());
      families += std::int64_t(c.famIds.size());
      total += c.lines;
    }
    Progress(0, std::max<std::int64_t>(0, total - 1));
    if (Stopped()) return;

    // The arrays are sized once and the identifiers indexed before a record is read, so the record pass
    // links persons and families as it reads them. The index keys are views of the surveyed identifier
    // texts, whose buffers stay in place when each part moves them into its records.
    IdIndex indiIndex, famIndex;
    const auto index = [&](IdIndex& map, std::int64_t size, auto ids) {
      map.Reserve(std::size_t(size));
      std::int64_t k = 1;  // in file order, so the first record of an identifier wins
      for (const Chunk& c : chunks)
        for (const QString& id : c.*ids) map.Insert(QStringView(id), k++);
    };
    RunTasks(parts > 1 ? 4 : 1, [&](int k) {
      if (k == 0 || parts == 1) m_.aIndi.resize(std::size_t(persons));
      if (k == 1 || parts == 1) m_.aFam.resize(std::size_t(families));
      if (k == 2 || parts == 1) index(indiIndex, persons, &Chunk::indiIds);
      if (k == 3 || parts == 1) index(famIndex, families, &Chunk::famIds);
    });
    const TDATES emptyDate = GDate_RDates(QString(), ctx_);
    const Shared sh{src, utf8, m_.GedHead.SOUR == u"Kestrelin", m_.GedHead.SOUR == u"GenoPro", tmpl_, ctx_,
                    emptyDate, indiIndex, famIndex, m_.aIndi, m_.aFam, stop_};
    // The parts run on threads of their own even when there is one, so that this thread keeps the gauge,
    // the window's events and its Stop live through the whole pass.
    RunTasks(
        parts, [&](int k) { ChunkParser(sh, chunks[std::size_t(k)]).Run(); },
        [&] {
          if (stop_.load(std::memory_order_relaxed)) return;
          std::int64_t done = headerLines;
          for (const Chunk& c : chunks) done += c.done.load(std::memory_order_relaxed);
          // Position 0 stays the mark of a pass's start.
          if (done > 0) Progress(std::min(done, total - 1), total - 1);
        });
    if (Stopped()) return;
    Progress(std::max<std::int64_t>(0, total - 1), std::max<std::int64_t>(0, total - 1));
    if (Stopped()) return;

    bool associations = false;
    for (Chunk& c : chunks) {
      std::move(c.notes.begin(), c.notes.end(), std::back_inserter(m_.aNote));
      std::move(c.marrs.begin(), c.marrs.end(), std::back_inserter(m_.aMarr));
      std::move(c.hypers.begin(), c.hypers.end(), std::back_inserter(m_.aIndi_));
      std::move(c.hyperRefs.begin(), c.hyperRefs.end(), std::back_inserter(hyperRefs_));
      associations = associations || c.associations;
    }
    chunks.clear();

    const auto n = std::int64_t(m_.aIndi.size());
    const auto m = std::int64_t(m_.aFam.size());
    Progress(0, n - 1);
    if (Stopped()) return;
    if (utf8) ForRanges(Threads(), 1, std::int64_t(m_.aNote.size()), [&](std::int64_t b, std::int64_t e) {
      for (std::int64_t k = b; k < e; ++k) m_.aNote[std::size_t(k)].TEXT = DecodeUtf8Again(m_.aNote[std::size_t(k)].TEXT);
    });
    MergeHyperlinks(famIndex);
    ResolveNotes();
    if (associations) AddAssociationBackLinks();
    Progress(n - 1, n - 1);
    if (Stopped()) return;
    Progress(0, m - 1);
    ResolveMarriages();
    Progress(m - 1, m - 1);
    if (Stopped()) return;
    // Names were built with each person's record; element 0 gets them here.
    Progress(0, n - 1);
    StringPool pool;
    BuildNames(m_.aIndi[0], sh, pool);
    Progress(n - 1, n - 1);
    // A stop at the very last call comes too late to save any work: the read is complete.
    m_.AbortFlag = false;
  }

 private:
  // Progress goes to the caller, whose window may set the model's AbortFlag meanwhile (Stop, Esc).
  void Progress(std::int64_t pos, std::int64_t max) {
    if (progress_) progress_(pos, max);
    if (m_.AbortFlag) stop_.store(true, std::memory_order_relaxed);
  }

  // Whether the user stopped the read; a stopped read leaves the model empty, as a new one (no part of a
  // file whose records were read on several threads at once makes a consistent tree), with AbortFlag set.
  bool Stopped() {
    if (!stop_.load(std::memory_order_relaxed)) return false;
    m_.Reset();
    m_.AbortFlag = true;
    return true;
  }

  int Threads() const {
    if (threads_ > 0) return threads_;
    const unsigned hw = std::thread::hardware_concurrency();
    return int(std::clamp<unsigned>(hw, 1, 64));
  }

  // Splits [start, end) into parts that begin at level-0 lines: as many as threads, or fewer for a small
  // file (a thread is worth it for about half a megabyte), each cut moved forward to the next level-0 line.
  std::size_t Cut(const Source& src, qsizetype start, bool utf8) {
    const qsizetype end = src.Size();
    qsizetype parts = Threads();
    if (threads_ <= 0) parts = std::clamp<qsizetype>((end - start) / (512 * 1024), 1, parts);
    cuts_.assign(1, start);
    QString holder;
    QStringDecoder decoder = NewUtf8Decoder();
    for (qsizetype k = 1; k < parts; ++k) {
      qsizetype at = std::max(start + (end - start) * k / parts, cuts_.back());
      if (at >= end) break;
      LineCursor cur(src, NextLineStart(src, at), end);
      qsizetype s = 0, n = 0;
      at = end;
      while (cur.NextText(s, n)) {
        if (MayBeLevel0(src, s) && Line(LineText(src, s, n, holder, utf8, decoder)).level == 0) {
          at = s;
          break;
        }
      }
      if (at >= end) break;
      if (at > cuts_.back()) cuts_.push_back(at);
    }
    cuts_.push_back(end);
    return cuts_.size() - 1;
  }

  // Reads the header; returns where the record pass starts and counts the header's lines.
  qsizetype HeaderPass(const Source& src, std::int64_t& lines) {
    Tag tag0 = tOther;
    QString holder;
    QStringDecoder decoder = NewUtf8Decoder();
    LineCursor cur(src, src.begin, src.Size());
    qsizetype s = 0, n = 0;
    bool text = false, first = true;
    while (cur.Next(s, n, text)) {
      // Blank lines change nothing, except that the first line is the file's first line whatever it holds.
      if (!text && !first) continue;
      first = false;
      const Line ln(LineText(src, s, n, holder, false, decoder));
      if (ln.level == 0) tag0 = ln.code;
      if (tag0 != tHEAD) return s;
      ++lines;
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
    return src.Size();
  }

  // Hyperlink records add their family links to every person of their target identifier: a family in
  // which the person is a child (the last record that names one wins) and families where the person is a
  // spouse, after the person's own. They resolve to families themselves too, for whoever reads them later.
  void MergeHyperlinks(const IdIndex& famIndex) {
    if (m_.aIndi_.size() <= 1) return;
    std::unordered_map<QStringView, std::vector<std::size_t>, ViewHash, ViewEq> byTarget;
    for (std::size_t h = 1; h < m_.aIndi_.size(); ++h) {
      TINDI_& rec = m_.aIndi_[h];
      const HyperRefs& refs = hyperRefs_[h - 1];
      rec.FAMC = Lookup(famIndex, refs.famc);
      for (const QString& r : refs.fams) rec.FAMS.push_back(Lookup(famIndex, r));
      byTarget[QStringView(rec.INDI)].push_back(h);
    }
    for (std::size_t i = 1; i < m_.aIndi.size(); ++i) {
      TINDI& p = m_.aIndi[i];
      const auto it = byTarget.find(QStringView(p.INDI));
      if (it == byTarget.end()) continue;
      for (std::size_t h : it->second) {
        const TINDI_& rec = m_.aIndi_[h];
        if (!hyperRefs_[h - 1].famc.isEmpty()) p.FAMC = rec.FAMC;
        p.FAMS.insert(p.FAMS.end(), rec.FAMS.begin(), rec.FAMS.end());
      }
    }
  }

  // Note fields that name a note record ("@N3@") get its text; a reference without a record keeps its text.
  void ResolveNotes() {
    if (m_.aNote.size() <= 1) return;
    const IdIndex noteIndex = BuildIndex(m_.aNote, [](const TNOTE& n) -> const QString& { return n.NOTE; });
    const auto resolve = [&](QString& field) {
      if (!field.startsWith(u'@')) return;
      const std::int64_t k = Lookup(noteIndex, field);
      if (k > 0) field = m_.aNote[std::size_t(k)].TEXT;
    };
    ForRanges(Threads(), 1, std::int64_t(m_.aIndi.size()), [&](std::int64_t b, std::int64_t e) {
      for (std::int64_t i = b; i < e; ++i) {
        TINDI& p = m_.aIndi[std::size_t(i)];
        resolve(p.NOTE);
        resolve(p.BIRT_NOTE);
        resolve(p.DEAT_NOTE);
        for (TEVEN& ev : p.EVEN) resolve(ev.NOTE);
      }
    });
    for (std::size_t f = 1; f < m_.aFam.size(); ++f) resolve(m_.aFam[f].MARR_NOTE);
  }

  // Back links: every association gets its counterpart on the target, so associations are symmetric.
  // The pairs (holder, named person) already present are kept in a set, so that many persons naming one
  // person cost linear time, not a scan of that person's growing list per link.
  void AddAssociationBackLinks() {
    const auto n = std::int64_t(m_.aIndi.size());
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

  // A family whose MARR names a marriage record ("@M3@") takes its date and place; no match changes nothing.
  void ResolveMarriages() {
    if (m_.aMarr.size() <= 1) return;
    const IdIndex marrIndex = BuildIndex(m_.aMarr, [](const TMarr& r) -> const QString& { return r.ID; });
    StringPool pool;
    DateCache dates(pool, ctx_);
    for (std::size_t f = 1; f < m_.aFam.size(); ++f) {
      TFAM& fam = m_.aFam[f];
      if (!fam.MARR.startsWith(u'@')) continue;
      const std::int64_t k = Lookup(marrIndex, fam.MARR);
      if (k == 0) continue;
      const TMarr& r = m_.aMarr[std::size_t(k)];
      fam.MARR_DATE = dates.Date(r.DATE);
      fam.MARR_PLAC = r.PLAC;
    }
  }

  Model& m_;
  const GedProgress& progress_;
  QString tmpl_;
  int threads_;
  bool releasable_;
  TDateContext ctx_;
  std::vector<qsizetype> cuts_;
  std::vector<HyperRefs> hyperRefs_;
  std::atomic<bool> stop_{false};
};

}  // namespace

void Ged_IndiFromBytes(Model& model, const QByteArray& bytes, const GedProgress& progress,
                       const QString& nameTemplate, int threads) {
  Reader(model, progress, nameTemplate, threads).Run(bytes);
}

namespace {

// The bytes of a file read whole. When the file's size holds while it is read, they sit in anonymous pages
// of their own, which the record pass gives back to the system as it passes them (a large file then does
// not stay in memory beside the tree made from it); otherwise in a QByteArray that grew with the file.
class FileBytes {
 public:
  FileBytes() = default;
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  ~FileBytes() {
    bytes = QByteArray();
    if (pages_) ::munmap(pages_, mapped_);
  }

  // Pages for size bytes; false when none are to be had (the caller then reads into bytes alone).
  bool Map(std::size_t size) {
    if (size == 0) return false;
    void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return false;
    pages_ = p;
    mapped_ = size;
    return true;
  }
  char* Pages() const { return static_cast<char*>(pages_); }
  // The read is complete in the pages: bytes views them without a copy.
  void UsePages(std::size_t filled) { bytes = QByteArray::fromRawData(Pages(), qsizetype(filled)); }
  // The file grew: its bytes move into bytes, which owns them, and the pages go.
  void LeavePages(std::size_t filled) {
    bytes = QByteArray(Pages(), qsizetype(filled));
    ::munmap(pages_, mapped_);
    pages_ = nullptr;
  }
  bool Releasable() const { return pages_ != nullptr; }

  QByteArray bytes;

 private:
  void* pages_ = nullptr;
  std::size_t mapped_ = 0;
};

// Reads a whole regular file. Anything else (a directory, a FIFO, a device such as /dev/zero, also behind a
// link) is refused before a byte is read: opening a FIFO would wait for a writer, a device could be endless.
// The descriptor is opened without blocking and checked with fstat, so the check and the read see one file.
bool ReadRegularFile(const QString& path, FileBytes& file, bool& opened) {
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
  const auto readInto = [fd](char* at, std::size_t n, bool& ok) -> qsizetype {
    for (;;) {
      const ssize_t r = ::read(fd, at, n);
      if (r >= 0) return r;
      if (errno != EINTR) {
        ok = false;
        return 0;
      }
    }
  };
  bool ok = true;
  qsizetype filled = 0;
  const auto size = std::size_t(st.st_size);
  if (file.Map(size)) {
    for (qsizetype r = 1; ok && r > 0 && std::size_t(filled) < size;) {
      r = readInto(file.Pages() + filled, size - std::size_t(filled), ok);
      filled += r;
    }
    char probe = 0;
    if (!ok || std::size_t(filled) < size || readInto(&probe, 1, ok) == 0) {
      file.UsePages(std::size_t(filled));
      ::close(fd);
      return ok;
    }
    file.LeavePages(std::size_t(filled));
    file.bytes.append(probe);
    filled += 1;
  }
  QByteArray& out = file.bytes;
  for (;;) {
    if (filled == out.size()) {
      char probe = 0;
      if (readInto(&probe, 1, ok) == 0) break;
      out.resize(out.size() + std::max<qsizetype>(out.size() / 2, 4096));
      out[filled++] = probe;
      continue;
    }
    const qsizetype r = readInto(out.data() + filled, std::size_t(out.size() - filled), ok);
    if (r == 0) break;
    filled += r;
  }
  ::close(fd);
  out.truncate(filled);
  return ok;
}

}  // namespace

void Ged_Indi(Model& model, const QString& path, const GedProgress& progress, const QString& nameTemplate) {
  FileBytes file;
  bool opened = false;
  const bool read = ReadRegularFile(path, file, opened);
  if (!opened) throw EGedcomRead(EGedcomRead::OpenFailed, path);
  if (!read) throw EGedcomRead(EGedcomRead::ReadFailed, path);
  Reader(model, progress, nameTemplate, 0, file.Releasable()).Run(file.bytes);
}
