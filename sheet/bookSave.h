// The export front end: the one way the application saves a workbook to a file.
//
//   int rc = TZBookSave::From(book).Charset("utf-8").Save("/path/Marriage.xlsx");
//
// From gives a chained handle (IZBookSave) to a saver bound to the book; setters return the handle;
// Save picks the file format from the file name's extension through the saver registry (each saver
// class lists the format names it answers to) and returns 0 written, 1 file not created, 2 nothing to
// write. ExportFormat gives a saver of an explicitly named format instead.
//
// A saver must end with Save or Discard. Release() drops a handle and raises the premature-destroying
// error when it was the last one of an unfinished saver; a handle that merely goes out of scope never
// throws (destructors never do) and then discards the export silently.
//
// Names: file names are UTF-8 paths; format names, encoding names and the BOM are byte strings; sheet
// titles are UTF-16. Errors: EZXSaveException for misuse; the writers' and the zip layer's errors pass
// through unchanged. Single-threaded; the registry is filled at start-up.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sheet/bookZip.h"
#include "sheet/shevrix.h"
#include "sheet/zxmlwriter.h"

class EZXSaveException : public EZxError {
 public:
  explicit EZXSaveException(const std::string& message) : EZxError(message) {}
};

// One sheet to export: its index in the book and the title to give it (empty: the sheet's own).
struct TZxPageInfo {
  std::u16string name;
  int no = 0;
};

class TZBookSave;
class IZBookSave;

// A class reference to a saver class: its name, its format names and its copying constructor.
struct TZBookSaveClass {
  const char* ClassName;
  std::vector<std::string> (*FormatNames)();
  std::shared_ptr<TZBookSave> (*CreateFrom)(const TZBookSave& source);
};
using CZBookSaves = const TZBookSaveClass*;

class TZBookSave {
 public:
  static const TZBookSaveClass Class;

  // A saver of the base class for the book; raises for a null book.
  static IZBookSave From(TSHEVRIX* book);

  // Construction: raises EZXSaveException for a null book.
  explicit TZBookSave(TSHEVRIX* book);
  // A saver with the settings of another (book, BOM, charset, converter, file, pages, generator).
  explicit TZBookSave(const TZBookSave& source);
  virtual ~TZBookSave() = default;
  TZBookSave& operator=(const TZBookSave&) = delete;

  // Runs the export; the base picks the saver by the file's extension.
  virtual int InternalSave();
  // The format names the class answers to; the base answers to none.
  static std::vector<std::string> FormatNames() { return {}; }

  // Registry of saver classes (registration order; no check of the class).
  static void Register(CZBookSaves cls);
  static void UnRegister(CZBookSaves cls);
  static const std::vector<CZBookSaves>& Registered();
  // The first registered class answering to the format name; raises when none does.
  static CZBookSaves FindFormat(const std::string& formatName);

  // Settings, as the handle sets them.
  TSHEVRIX* Book() const { return fBook; }
  const std::vector<TZxPageInfo>& PageList() const { return fPages; }
  const std::string& BOMBytes() const { return fBOM; }
  const std::string& CharSet() const { return fCharSet; }
  const TAnsiToCPConverter& Conv() const { return fConv; }
  const std::string& File() const { return FFile; }
  const std::string& Path() const { return FPath; }
  CZxZipGens ZipGen() const { return FZipGen; }
  bool DoNotDestroyMe() const { return FDoNotDestroyMe; }

 protected:
  // The page indexes and titles as the writers take them.
  std::vector<int> PageNumbers() const;
  std::vector<std::u16string> PageTitles() const;
  void Finished() { FDoNotDestroyMe = false; }

 private:
  friend class IZBookSave;

  TSHEVRIX* fBook;
  std::vector<TZxPageInfo> fPages;
  std::string fBOM;
  std::string fCharSet = "UTF-8";
  TAnsiToCPConverter fConv;
  std::string FFile;
  std::string FPath;
  CZxZipGens FZipGen = nullptr;
  bool FDoNotDestroyMe = true;
};

// The chained interface of a saver. Copies share the saver.
class IZBookSave {
 public:
  explicit IZBookSave(std::shared_ptr<TZBookSave> impl) : FImpl(std::move(impl)) {}
  IZBookSave(const IZBookSave&) = default;
  IZBookSave(IZBookSave&&) = default;
  IZBookSave& operator=(const IZBookSave&) = default;
  IZBookSave& operator=(IZBookSave&&) = default;
  ~IZBookSave() = default;

  // A new saver of the class that answers to the name (trimmed, ASCII case ignored); raises
  // "Doesn't know how to save the workbook as <name>" when none does.
  IZBookSave ExportFormat(const std::string& formatName) const;
  // Sets the target; raises "No such path: <folder>" when its folder does not exist.
  IZBookSave& ToFile(const std::string& fileName);
  IZBookSave& Pages(const std::vector<TZxPageInfo>& pages);
  IZBookSave& Pages(const std::vector<int>& sheetIndexes);
  IZBookSave& PageNames(const std::vector<std::u16string>& names);
  IZBookSave& Charset(const std::string& encodingName);
  IZBookSave& Converter(TAnsiToCPConverter converter);
  IZBookSave& Charset(const std::string& encodingName, TAnsiToCPConverter converter);
  // The MIME name of a Windows code page; raises for a code page without one. Without a converter of
  // the caller's, Save converts with ours (CharsetConverter).
  IZBookSave& Charset(int codePage);
  IZBookSave& BOM(const std::string& bytes);
  IZBookSave& ZipWith(CZxZipGens generator);
  IZBookSave& NoZip();
  int Save();
  int Save(const std::string& fileName);
  void Discard();
  // Drops this handle; raises the premature-destroying error when it was the last handle of a saver
  // that was neither saved nor discarded (the saver is freed first).
  void Release();

  TZBookSave* Impl() const { return FImpl.get(); }

 private:
  std::shared_ptr<TZBookSave> FImpl;
};

// The MIME charset name of a Windows code page from a fixed table, or empty when it has none.
std::string CodePageCharsetName(int codePage);

// True for the names of UTF-8 ("UTF-8", "utf8", any case, blanks around ignored).
bool IsUtf8CharsetName(const std::string& name);
// Our converter from UTF-8 to the charset (the C library's iconv tables): characters the charset lacks
// become XML character references. Raises EZXSaveException "No converter for the charset <name>" when
// the charset is unknown. Save takes it whenever the charset is not UTF-8 and no converter was given, so
// the bytes of the file always match the encoding its XML declarations name.
TAnsiToCPConverter CharsetConverter(const std::string& name);

// Trimmed of blanks, ASCII letters upper-cased.
std::string NormalizeFormatName(const std::string& name);
