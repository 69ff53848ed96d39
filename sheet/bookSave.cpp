#include "sheet/bookSave.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "sheet/bookSaveXLSX.h"
#include "sheet/bookSaveXML2003.h"

namespace {

std::vector<CZBookSaves>& SaverRegistry() {
  // Start-up order: the registry, then the XLSX saver, then the Excel 2003 XML saver.
  static std::vector<CZBookSaves> registry{&TZxXlsxSaver::Class, &TZxXml2003Saver::Class};
  return registry;
}

std::shared_ptr<TZBookSave> CreateBaseFrom(const TZBookSave& source) {
  return std::make_shared<TZBookSave>(source);
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

const TZBookSaveClass TZBookSave::Class{"TZBookSave", &TZBookSave::FormatNames, &CreateBaseFrom};

std::string NormalizeFormatName(const std::string& name) {
  const auto first = name.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = name.find_last_not_of(' ');
  std::string out = name.substr(first, last - first + 1);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::string CodePageCharsetName(int codePage) {
  static const std::map<int, std::string> table = [] {
    std::map<int, std::string> t;
    for (int cp = 1250; cp <= 1258; ++cp) t[cp] = "windows-" + std::to_string(cp);
    t[866] = "cp866";
    t[20866] = "koi8-r";
    for (int cp = 28591; cp <= 28605; ++cp)
      if (cp != 28602) t[cp] = "iso-8859-" + std::to_string(cp - 28590);
    t[65001] = "utf-8";
    return t;
  }();
  const auto it = table.find(codePage);
  return it == table.end() ? std::string() : it->second;
}

// ---------------------------------------------------------------------------------------------------
// The saver

TZBookSave::TZBookSave(TSHEVRIX* book) : fBook(book) {
  if (fBook == nullptr) throw EZXSaveException("Cannot export nil book. Do not use inherited TObject.Create");
}

TZBookSave::TZBookSave(const TZBookSave& source)
    : fBook(source.fBook),
      fPages(source.fPages),
      fBOM(source.fBOM),
      fCharSet(source.fCharSet),
      fConv(source.fConv),
      FFile(source.FFile),
      FPath(source.FPath),
      FZipGen(source.FZipGen),
      FDoNotDestroyMe(true) {
  if (fBook == nullptr) throw EZXSaveException("Cannot export nil book. Do not use inherited TObject.Create");
}

IZBookSave TZBookSave::From(TSHEVRIX* book) { return IZBookSave(std::make_shared<TZBookSave>(book)); }

void TZBookSave::Register(CZBookSaves cls) { SaverRegistry().push_back(cls); }

void TZBookSave::UnRegister(CZBookSaves cls) {
  auto& registry = SaverRegistry();
  const auto it = std::find(registry.begin(), registry.end(), cls);
  if (it != registry.end()) registry.erase(it);
}

const std::vector<CZBookSaves>& TZBookSave::Registered() { return SaverRegistry(); }

std::vector<int> TZBookSave::PageNumbers() const {
  std::vector<int> numbers;
  numbers.reserve(fPages.size());
  for (const auto& p : fPages) numbers.push_back(p.no);
  return numbers;
}

std::vector<std::u16string> TZBookSave::PageTitles() const {
  std::vector<std::u16string> titles;
  titles.reserve(fPages.size());
  for (const auto& p : fPages) titles.push_back(p.name);
  return titles;
}

int TZBookSave::InternalSave() {
  // The extension: from the last point after the last folder separator, point included.
  const auto separator = FFile.find_last_of("/\\");
  const auto point = FFile.find_last_of('.');
  std::string extension;
  if (point != std::string::npos && (separator == std::string::npos || point > separator))
    extension = FFile.substr(point);
  const std::shared_ptr<TZBookSave> saver = FindFormat(extension)->CreateFrom(*this);
  const int result = saver->InternalSave();
  saver->Finished();
  return result;
}

// ---------------------------------------------------------------------------------------------------
// The chained interface

CZBookSaves TZBookSave::FindFormat(const std::string& formatName) {
  const std::string wanted = NormalizeFormatName(formatName);
  for (CZBookSaves cls : Registered()) {
    if (cls == nullptr || cls->FormatNames == nullptr || cls->CreateFrom == nullptr) continue;
    for (const std::string& name : cls->FormatNames())
      if (NormalizeFormatName(name) == wanted) return cls;
  }
  throw EZXSaveException("Doesn't know how to save the workbook as " + formatName);
}

IZBookSave IZBookSave::ExportFormat(const std::string& formatName) const {
  return IZBookSave(TZBookSave::FindFormat(formatName)->CreateFrom(*FImpl));
}

IZBookSave& IZBookSave::ToFile(const std::string& fileName) {
  const auto separator = fileName.find_last_of('/');
  std::string folder;
  if (separator != std::string::npos) folder = separator == 0 ? std::string("/") : fileName.substr(0, separator);
  if (!IsFolder(folder)) throw EZXSaveException("No such path: " + folder);
  FImpl->FPath = folder;
  FImpl->FFile = fileName;
  return *this;
}

IZBookSave& IZBookSave::Pages(const std::vector<TZxPageInfo>& pages) {
  const int count = FImpl->fBook->Sheets().Count();
  for (const auto& p : pages)
    if (p.no < 0 || p.no >= count)
      throw EZXSaveException("There is no sheet #" + std::to_string(p.no) + " in the book");
  FImpl->fPages = pages;
  return *this;
}

IZBookSave& IZBookSave::Pages(const std::vector<int>& sheetIndexes) {
  const int count = FImpl->fBook->Sheets().Count();
  for (int no : sheetIndexes)
    if (no < 0 || no >= count) throw EZXSaveException("There is no sheet #" + std::to_string(no) + " in the workbook");
  std::vector<TZxPageInfo> pages;
  pages.reserve(sheetIndexes.size());
  for (int no : sheetIndexes) pages.push_back(TZxPageInfo{std::u16string(), no});
  FImpl->fPages = std::move(pages);
  return *this;
}

IZBookSave& IZBookSave::PageNames(const std::vector<std::u16string>& names) {
  if (names.size() != FImpl->fPages.size()) throw EZXSaveException("Sheets titles do not match sheet numbers");
  for (std::size_t i = 0; i < names.size(); ++i) FImpl->fPages[i].name = names[i];
  return *this;
}

IZBookSave& IZBookSave::Charset(const std::string& encodingName) {
  FImpl->fCharSet = encodingName;
  return *this;
}

IZBookSave& IZBookSave::Converter(TAnsiToCPConverter converter) {
  FImpl->fConv = std::move(converter);
  return *this;
}

IZBookSave& IZBookSave::Charset(const std::string& encodingName, TAnsiToCPConverter converter) {
  FImpl->fCharSet = encodingName;
  FImpl->fConv = std::move(converter);
  return *this;
}

IZBookSave& IZBookSave::Charset(int codePage) {
  const std::string name = CodePageCharsetName(codePage);
  if (name.empty()) throw EZXSaveException("No charset (MIME id) found for codepage " + std::to_string(codePage));
  FImpl->fCharSet = name;
  return *this;
}

IZBookSave& IZBookSave::BOM(const std::string& bytes) {
  FImpl->fBOM = bytes;
  return *this;
}

IZBookSave& IZBookSave::ZipWith(CZxZipGens generator) {
  FImpl->FZipGen = generator;
  return *this;
}

IZBookSave& IZBookSave::NoZip() {
  FImpl->FZipGen = TZxZipGen::QueryDummyZipGen();
  return *this;
}

int IZBookSave::Save() {
  TZBookSave& s = *FImpl;
  s.FDoNotDestroyMe = false;
  if (s.FZipGen == nullptr) s.FZipGen = TZxZipGen::QueryZipGen(0);
  if (s.fCharSet.empty()) s.fCharSet = "UTF-8";
  if (s.fPages.empty()) {
    const auto& sheets = s.fBook->Sheets();
    for (int i = 0; i < sheets.Count(); ++i) s.fPages.push_back(TZxPageInfo{sheets.Sheet(i)->Title(), i});
  }
  return s.InternalSave();
}

int IZBookSave::Save(const std::string& fileName) {
  ToFile(fileName);
  return Save();
}

void IZBookSave::Discard() { FImpl->FDoNotDestroyMe = false; }

void IZBookSave::Release() {
  if (!FImpl) return;
  const bool last = FImpl.use_count() == 1;
  const bool premature = last && FImpl->FDoNotDestroyMe;
  if (premature) FImpl->FDoNotDestroyMe = false;
  FImpl.reset();
  if (premature)
    throw EZXSaveException(
        "Premature exporter destroying: worksheet export process should end either with .Save or with .Discard.");
}
