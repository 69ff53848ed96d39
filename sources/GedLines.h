// A GEDCOM file as the group edit tools edit it: its lines as text, each with its own line break, in the
// encoding the file was written in, so that saving the lines unchanged gives back the very same bytes.
//
// Encodings: a UTF-8 byte-order mark (with valid UTF-8 after it), a UTF-16 mark (either order), UTF-16
// without a mark (the file begins with "0" and a zero byte, or the reverse), else single bytes. Single
// bytes are read as UTF-8 when the header says "1 CHAR UTF-8" and the bytes are valid UTF-8 (after
// mending characters that a writer split between a line and its CONC line, see Load), else as
// Windows-1251, in which every byte value round-trips.
//
// Writing (SaveReplacing) never leaves a half-written file in the original's place: the bytes go to a
// temporary file in the same folder, which is synced and renamed over the original; the backup copy is
// made first, synced, under a name taken with exclusive creation. Errors: EGroupEdit with the reason.
// Single thread.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

class TGedLines {
 public:
  enum class Encoding { Ansi, Utf8, Utf8Bom, Utf16Le, Utf16Be };

  // Reads the file. Throws EGroupEdit when it cannot be read.
  static TGedLines Load(const QString& path);
  // The same from bytes (tests).
  static TGedLines FromBytes(const QByteArray& bytes);

  // The file's bytes for the current lines. Throws EGroupEdit when a line holds a character the file's
  // encoding cannot hold (a Windows-1251 file and a character outside that code page).
  QByteArray Bytes() const;

  std::size_t Size() const { return lines_.size(); }
  const QString& Line(std::size_t i) const { return lines_[i]; }
  void SetLine(std::size_t i, const QString& text) { lines_[i] = text; }
  // Inserts a line before position i (i == Size() appends) with the file's usual line break.
  void Insert(std::size_t i, const QString& text);
  void Erase(std::size_t i);
  // Many edits in one pass: line i (a key) is replaced by the lines of its value (none: erased); added
  // lines get the file's usual break, the last of them the break the line had. Linear in the file.
  void Splice(const std::vector<std::pair<std::size_t, std::vector<QString>>>& edits);
  Encoding GetEncoding() const { return enc_; }
  // Whether lines were mended while loading (a split UTF-8 character moved to its CONC line).
  bool Mended() const { return mended_; }

 private:
  enum Break : unsigned char { bNone, bLf, bCrLf, bCr };
  static TGedLines Decode(const QByteArray& bytes);
  Encoding enc_ = Encoding::Ansi;
  bool bom_ = false;
  bool mended_ = false;
  Break usual_ = bCrLf;
  std::vector<QString> lines_;
  std::vector<Break> breaks_;
  QByteArray tail_;  // an odd last byte of a UTF-16 file
};

// The backup name N of a GEDCOM file: its extension replaced by ".ged.~N".
QString GedBackupName(const QString& path, int n);

// Replaces the file at path by `bytes`: copies the original to the first free backup name (1 to 500)
// and returns that name; with every name taken, `noBackup` decides (false: nothing is written and the
// result is null). Test hook: `step` is called with 1 after the backup, 2 after the temporary file is
// written and synced, 3 after the rename.
QString SaveReplacing(const QString& path, const QByteArray& bytes, const std::function<bool()>& noBackup,
                      const std::function<void(int)>& step = {});
