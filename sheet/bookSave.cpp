#include "sheet/bookSave.h"

#include <iconv.h>
#include <sys/stat.h>

#include <cerrno>

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

bool IsUtf8CharsetName(const std::string& name) {
  const std::string n = NormalizeFormatName(name);
  return n == "UTF-8" || n == "UTF8";
}

namespace {

// One iconv conversion descriptor, shared by the copies of a converter.
class TIconv {
 public:
  explicit TIconv(const std::string& to) : cd_(::iconv_open(to.c_str(), "UTF-8")) {}
  ~TIconv() {
    if (Valid()) ::iconv_close(cd_);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // The UTF-8 piece in the target charset; a character the charset lacks becomes "&#N;".
  std::string Convert(const std::string& piece) {
    std::string out;
    std::size_t at = 0;
    ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    while (at < piece.size()) {
      const std::size_t stop = Run(piece, at, out);
      if (stop >= piece.size()) break;
      // The character at stop has no place in the charset (or is no UTF-8 at all): a reference.
      std::size_t length = 1;
      const std::uint32_t code = DecodeUtf8(piece, stop, length);
      const std::string reference = "&#" + std::to_string(code) + ";";
      std::size_t refAt = 0;
      Run(reference, refAt, out);
      at = stop + length;
    }
    Flush(out);
    return out;
  }

 private:
  // Converts from at until the end or the first character that cannot be converted; returns where it
  // stopped (at is advanced too).
  std::size_t Run(const std::string& in, std::size_t& at, std::string& out) {
    char buffer[4096];
    while (at < in.size()) {
      char* src = const_cast<char*>(in.data() + at);
      std::size_t srcLeft = in.size() - at;
      char* dst = buffer;
      std::size_t dstLeft = sizeof buffer;
      const std::size_t rc = ::iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
      out.append(buffer, static_cast<std::size_t>(dst - buffer));
      at = static_cast<std::size_t>(src - in.data());
      if (rc != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) continue;
      return at;  // EILSEQ or EINVAL
    }
    return in.size();
  }

  void Flush(std::string& out) {
    char buffer[64];
    char* dst = buffer;
    std::size_t dstLeft = sizeof buffer;
    ::iconv(cd_, nullptr, nullptr, &dst, &dstLeft);
    out.append(buffer, static_cast<std::size_t>(dst - buffer));
  }

  static std::uint32_t DecodeUtf8(const std::string& s, std::size_t at, std::size_t& length) {
    const auto b = static_cast<unsigned char>(s[at]);
    int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
    std::uint32_t code = extra == 3 ? b & 0x07 : extra == 2 ? b & 0x0F : extra == 1 ? b & 0x1F : b;
    length = 1;
    for (int i = 0; i < extra && at + length < s.size(); ++i, ++length) {
      const auto c = static_cast<unsigned char>(s[at + length]);
      if ((c & 0xC0) != 0x80) break;
      code = (code << 6) | (c & 0x3F);
    }
    if (b >= 0x80 && b < 0xC0) code = 0xFFFD;
    return code;
  }

  iconv_t cd_;
};

}  // namespace

TAnsiToCPConverter CharsetConverter(const std::string& name) {
  const std::string trimmed = NormalizeFormatName(name);
  auto iconv = std::make_shared<TIconv>(trimmed);
  if (trimmed.empty() || !iconv->Valid()) throw EZXSaveException("No converter for the charset " + name);
  return [iconv](const std::string& piece) { return iconv->Convert(piece); };
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
  // The bytes must be in the charset the declarations name: without a converter of the caller's, ours.
  if (!s.fConv && !IsUtf8CharsetName(s.fCharSet)) s.fConv = CharsetConverter(s.fCharSet);
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
