// An ini file with the profile semantics the program's settings and translation files rely on:
// sections and keys compare without regard to case; values are trimmed; every write reaches the disk at once
// (unless a batch is open, see BeginUpdate). The file keeps the encoding it was read in: a UTF-16 LE or UTF-8
// byte-order mark decides; otherwise UTF-8 when the bytes are valid UTF-8, else Windows-1251. New files are
// written as UTF-8 without a mark. Reading never throws: a missing or unreadable file reads as empty.
// Main thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace platform {

class TIniFile {
 public:
  enum class Encoding { Utf8, Utf8Bom, Utf16Le, Cp1251 };

  explicit TIniFile(const QString& fileName);

  const QString& FileName() const { return fileName_; }
  Encoding FileEncoding() const { return encoding_; }
  bool Exists() const;

  QString ReadString(const QString& section, const QString& key, const QString& def) const;
  // Decimal (or "0x"/"$" hexadecimal) integer; anything else gives `def`.
  int ReadInteger(const QString& section, const QString& key, int def) const;
  bool ReadBool(const QString& section, const QString& key, bool def) const;
  bool ValueExists(const QString& section, const QString& key) const;
  bool SectionExists(const QString& section) const;
  QStringList ReadSection(const QString& section) const;  // the keys, in file order

  // Writes return false when the file cannot be written (the value stays in memory).
  bool WriteString(const QString& section, const QString& key, const QString& value);
  bool WriteInteger(const QString& section, const QString& key, int value);
  bool WriteBool(const QString& section, const QString& key, bool value);
  bool EraseKey(const QString& section, const QString& key);

  // Between BeginUpdate and EndUpdate writes are kept in memory; EndUpdate writes the file once.
  void BeginUpdate() { ++batch_; }
  bool EndUpdate();

  // Encodes/decodes a file's bytes by the rules above (exposed for tests).
  static QString Decode(const QByteArray& bytes, Encoding* encoding);
  static QByteArray Encode(const QString& text, Encoding encoding);

 private:
  struct Entry { QString key, value; };
  struct Section { QString name; std::vector<Entry> entries; };
  const Section* FindSection(const QString& name) const;
  Section* FindSection(const QString& name);
  const Entry* FindEntry(const QString& section, const QString& key) const;
  bool Flush();
  void Parse(const QString& text);

  QString fileName_;
  Encoding encoding_ = Encoding::Utf8;
  std::vector<Section> sections_;
  QStringList prefix_;  // lines before the first section, kept as they are
  int batch_ = 0;
  bool dirty_ = false;
};

}  // namespace platform
