// Forward-only XML writer, its attribute lists, escaping and the byte sinks.
#include "sheet/zxmlwriter.h"

#include <cerrno>
#include <cstring>

// ---------------------------------------------------------------------------------------------------------
// Streams

TZFileStream::~TZFileStream() {
  if (file_ != nullptr) std::fclose(file_);
}

bool TZFileStream::Open(const std::string& fileName) {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  file_ = std::fopen(fileName.c_str(), "wb");
  return file_ != nullptr;
}

void TZFileStream::Close() {
  if (file_ == nullptr) return;
  std::FILE* f = file_;
  file_ = nullptr;
  if (std::fclose(f) != 0) throw EZxError("Cannot write the file: " + std::string(std::strerror(errno)));
}

void TZFileStream::WriteBuffer(const void* data, std::size_t count) {
  if (file_ == nullptr) throw EZxError("The file is not open for writing");
  if (count == 0) return;
  if (std::fwrite(data, 1, count, file_) != count)
    throw EZxError("Cannot write the file: " + std::string(std::strerror(errno)));
}

void TZMemoryStream::WriteBuffer(const void* data, std::size_t count) {
  data_.append(static_cast<const char*>(data), count);
}

// ---------------------------------------------------------------------------------------------------------
// Character classes and encodings

bool IsXmlAllowedChar(std::uint32_t c) {
  if (c < 0x20) return c == 0x9 || c == 0xA || c == 0xD;
  if (c <= 0xD7FF) return true;
  if (c < 0xE000) return false;
  if (c <= 0xFFFD) return true;
  if (c < 0x10000) return false;
  return c <= 0x10FFFF;
}

namespace {

bool IsForbiddenByte(unsigned char b) { return b < 0x20 && b != 0x9 && b != 0xA && b != 0xD; }

// The code point at i (a lone surrogate gives U+FFFD); advances i past it.
std::uint32_t NextCodePoint(const std::u16string& s, std::size_t& i) {
  char16_t u = s[i++];
  if (u >= 0xD800 && u <= 0xDBFF) {
    if (i < s.size() && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
      std::uint32_t c = 0x10000 + ((static_cast<std::uint32_t>(u) - 0xD800) << 10) + (s[i] - 0xDC00);
      ++i;
      return c;
    }
    return 0xFFFD;
  }
  if (u >= 0xDC00 && u <= 0xDFFF) return 0xFFFD;
  return u;
}

void AppendUtf16(std::uint32_t c, std::u16string& out) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

const char* const kNamedEntities[] = {"amp;", "lt;", "gt;", "quot;", "apos;"};

// Whether the '&' at 0-based index amp starts a reference XML accepts. Works on byte and UTF-16 text.
template <typename Str>
bool IsKeptReference(const Str& text, std::size_t amp) {
  std::size_t i = amp + 1;
  const std::size_t n = text.size();
  if (i < n && text[i] == '#') {
    ++i;
    bool hex = false;
    if (i < n && text[i] == 'x') {
      hex = true;
      ++i;
    }
    std::uint32_t value = 0;
    std::size_t digits = 0;
    while (i < n && text[i] != ';') {
      auto ch = static_cast<std::uint32_t>(text[i]);
      std::uint32_t d;
      if (ch >= '0' && ch <= '9') {
        d = ch - '0';
      } else if (hex && ch >= 'a' && ch <= 'f') {
        d = ch - 'a' + 10;
      } else if (hex && ch >= 'A' && ch <= 'F') {
        d = ch - 'A' + 10;
      } else {
        return false;
      }
      value = value * (hex ? 16 : 10) + d;
      if (++digits > 8 || value > 0x10FFFF) return false;
      ++i;
    }
    return i < n && digits > 0 && IsXmlAllowedChar(value);
  }
  for (const char* name : kNamedEntities) {
    std::size_t len = std::strlen(name);
    if (amp + 1 + len > n) continue;
    bool same = true;
    for (std::size_t k = 0; k < len; ++k) {
      if (static_cast<std::uint32_t>(text[amp + 1 + k]) != static_cast<unsigned char>(name[k])) {
        same = false;
        break;
      }
    }
    if (same) return true;
  }
  return false;
}

}  // namespace

std::string Utf16ToXmlUtf8(const std::u16string& text) {
  // First the exact length, so short names stay in the string's inline storage.
  const std::size_t n = text.size();
  std::size_t length = 0;
  for (std::size_t k = 0; k < n; ++k) {
    const char16_t u = text[k];
    if (u < 0x80)
      length += IsForbiddenByte(static_cast<unsigned char>(u)) ? 0 : 1;
    else
      length += u < 0x800 ? 2 : 3;  // a surrogate pair: 4 bytes for 2 units
  }
  std::string out(length, '\0');
  char* p = out.data();
  std::size_t i = 0;
  while (i < n) {
    const char16_t u = text[i];
    if (u < 0x80) {
      ++i;
      if (!IsForbiddenByte(static_cast<unsigned char>(u))) *p++ = static_cast<char>(u);
      continue;
    }
    if (u < 0x800) {
      ++i;
      *p++ = static_cast<char>(0xC0 | (u >> 6));
      *p++ = static_cast<char>(0x80 | (u & 0x3F));
      continue;
    }
    std::uint32_t c = NextCodePoint(text, i);
    if (c == 0xFFFE || c == 0xFFFF) continue;
    if (c < 0x10000) {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *p++ = static_cast<char>(0xF0 | (c >> 18));
      *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
  return out;
}

std::u16string Utf8ToUtf16(const std::string& bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    int extra;
    std::uint32_t c;
    std::uint32_t minimum;
    if ((b & 0xE0) == 0xC0) {
      extra = 1, c = b & 0x1F, minimum = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, c = b & 0x0F, minimum = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, c = b & 0x07, minimum = 0x10000;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= n || (static_cast<unsigned char>(bytes[j]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (static_cast<unsigned char>(bytes[j]) & 0x3F);
    }
    if (!ok || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(0xFFFD);
      i = ok ? j : i + 1;
      continue;
    }
    AppendUtf16(c, out);
    i = j;
  }
  return out;
}

// ---------------------------------------------------------------------------------------------------------
// Escaping

void KeepOrEscapeAmpersand(const std::string& text, std::size_t position, std::string& destination) {
  if (position >= 1 && position <= text.size() && IsKeptReference(text, position - 1))
    destination.push_back('&');
  else
    destination.append("&amp;");
}

void KeepOrEscapeAmpersand(const std::u16string& text, std::size_t position, std::u16string& destination) {
  if (position >= 1 && position <= text.size() && IsKeptReference(text, position - 1))
    destination.push_back(u'&');
  else
    destination.append(u"&amp;");
}

const char* XmlEscapeOf(std::uint32_t c, bool attr, bool cr) {
  switch (c) {
    case '"': return "&quot;";
    case '\'': return "&apos;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '&': return "&amp;";
    case '\t': return attr ? "&#9;" : nullptr;
    case '\n': return attr ? "&#10;" : nullptr;
    case '\r': return attr || cr ? "&#13;" : nullptr;
    default: return IsXmlAllowedChar(c) ? nullptr : "";
  }
}

namespace {

bool NeedsEscape(unsigned char c, bool attr) { return c < 0x80 && XmlEscapeOf(c, attr, false) != nullptr; }

// attr: TAB, LF and CR become character references so that attribute normalisation keeps them.
std::string EscapeBytes(const std::string& text, bool allAmp, bool attr) {
  std::size_t first = 0;
  while (first < text.size() && !NeedsEscape(static_cast<unsigned char>(text[first]), attr)) ++first;
  if (first == text.size()) return text;
  std::string out;
  out.reserve(text.size() + 16);
  out.append(text, 0, first);
  for (std::size_t i = first; i < text.size(); ++i) {
    char c = text[i];
    if (!NeedsEscape(static_cast<unsigned char>(c), attr)) {
      out.push_back(c);
      continue;
    }
    if (c == '&' && !allAmp)
      KeepOrEscapeAmpersand(text, i + 1, out);
    else
      out.append(XmlEscapeOf(static_cast<unsigned char>(c), attr, false));
  }
  return out;
}

}  // namespace

std::string EscapeXmlText(const std::string& text, bool allAmp) { return EscapeBytes(text, allAmp, false); }

std::u16string EscapeXmlText(const std::u16string& text, bool allAmp) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 8);
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t at = i;
    std::uint32_t c = NextCodePoint(text, i);
    if (c == '&' && !allAmp) {
      KeepOrEscapeAmpersand(text, at + 1, out);
      continue;
    }
    const char* reference = XmlEscapeOf(c, false, false);
    if (reference == nullptr)
      AppendUtf16(c, out);
    else
      for (; *reference != 0; ++reference) out.push_back(static_cast<char16_t>(*reference));
  }
  return out;
}

std::size_t AnsiStrPos(const std::string& substring, const std::string& text) {
  if (substring.empty()) return 0;
  std::size_t p = text.find(substring);
  return p == std::string::npos ? 0 : p + 1;
}

// ---------------------------------------------------------------------------------------------------------
// Capacity rule shared by the attribute list and the tag stack.

namespace {

int NewCapacity(int n, int capacity) {
  if (n >= capacity) {
    if (n < 50) return 4 * n;
    if (n < 100) return 2 * n;
    return n + 20;
  }
  if (n > 50 && capacity - n > 200) return n + 100;
  return capacity;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// TZAttributes

// The capacity is bookkeeping of the growth rule; storage is reserved only when pairs arrive, so the
// short-lived lists the writer builds per element cost no allocation while empty.
TZAttributes::TZAttributes() = default;

void TZAttributes::Reserve(int n) {
  int capacity = NewCapacity(n, maxCount_);
  if (capacity == maxCount_) return;
  maxCount_ = capacity;
  if (n > 0 && static_cast<std::size_t>(capacity) > items_.capacity()) {
    items_.reserve(static_cast<std::size_t>(capacity));
  } else if (items_.capacity() > static_cast<std::size_t>(capacity)) {
    std::vector<TZAttrArray> smaller;
    smaller.reserve(static_cast<std::size_t>(capacity));
    for (auto& item : items_) smaller.push_back(std::move(item));
    items_.swap(smaller);
  }
}

int TZAttributes::FindName(const std::string& attrName) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i][0] == attrName) return static_cast<int>(i);
  return -1;
}

void TZAttributes::Add(const std::string& attrName, const std::string& value, bool testMatch) {
  if (attrName.empty()) return;
  if (testMatch) {
    int at = FindName(attrName);
    if (at >= 0) {
      items_[static_cast<std::size_t>(at)][1] = value;
      return;
    }
  }
  Reserve(Count() + 1);
  items_.push_back({attrName, value});
}

void TZAttributes::Add(const TZAttrArray& attr, bool testMatch) { Add(attr[0], attr[1], testMatch); }

void TZAttributes::Add(const std::vector<TZAttrArray>& attrs, bool testMatch) {
  for (const auto& attr : attrs) Add(attr[0], attr[1], testMatch);
}

void TZAttributes::Insert(int index, const std::string& attrName, const std::string& value, bool testMatch) {
  if (testMatch) {
    int at = FindName(attrName);
    if (at >= 0) {
      items_[static_cast<std::size_t>(at)][1] = value;
      return;
    }
  }
  if (index >= 0 && index < Count()) {
    if (attrName.empty()) return;
    Reserve(Count() + 1);
    items_.insert(items_.begin() + index, TZAttrArray{attrName, value});
  } else if (items_.empty()) {
    Add(attrName, value, testMatch);
  }
}

void TZAttributes::Insert(int index, const TZAttrArray& attr, bool testMatch) {
  Insert(index, attr[0], attr[1], testMatch);
}

void TZAttributes::DeleteItem(int index) {
  if (index < 0 || index >= Count()) return;
  items_.erase(items_.begin() + index);
  Reserve(Count());
}

void TZAttributes::Clear() {
  items_.clear();
  Reserve(0);
}

TZAttrArray TZAttributes::Items(int index) const {
  if (index < 0 || index >= Count()) return {};
  return items_[static_cast<std::size_t>(index)];
}

void TZAttributes::SetItems(int index, const TZAttrArray& attr) {
  if (index < 0 || index >= Count()) return;
  items_[static_cast<std::size_t>(index)] = attr;
}

std::string TZAttributes::ItemsByName(const std::string& attrName) const {
  int at = FindName(attrName);
  return at < 0 ? std::string() : items_[static_cast<std::size_t>(at)][1];
}

void TZAttributes::SetItemsByName(const std::string& attrName, const std::string& value) {
  Add(attrName, value, true);
}

std::string TZAttributes::ItemsByNum(int index) const {
  if (index < 0 || index >= Count()) return {};
  return items_[static_cast<std::size_t>(index)][1];
}

void TZAttributes::SetItemsByNum(int index, const std::string& value) {
  if (index < 0 || index >= Count()) return;
  items_[static_cast<std::size_t>(index)][1] = value;
}

std::string TZAttributes::ToString(char quote, bool checkEntity, bool addempty) const {
  if (quote != '"' && quote != '\'') quote = '"';
  std::string out;
  for (const auto& item : items_) {
    if (item[1].empty() && !addempty) continue;
    out.push_back(' ');
    out.append(item[0]);
    out.push_back('=');
    out.push_back(quote);
    if (checkEntity)
      out.append(EscapeBytes(item[1], true, true));
    else
      out.append(item[1]);
    out.push_back(quote);
  }
  return out;
}

void TZAttributes::Assign(const TZAttributes& source) {
  if (&source == this) return;
  items_.clear();
  Reserve(source.Count());
  for (const auto& item : source.items_) items_.push_back(item);
}

// ---------------------------------------------------------------------------------------------------------
// TZAttributesH

void TZAttributesH::Add(const std::u16string& attrName, const std::u16string& value, bool testMatch) {
  inner_.Add(Utf16ToXmlUtf8(attrName), Utf16ToXmlUtf8(value), testMatch);
}

void TZAttributesH::Add(const TZAttrArrayH& attr, bool testMatch) { Add(attr[0], attr[1], testMatch); }

void TZAttributesH::Add(const std::vector<TZAttrArrayH>& attrs, bool testMatch) {
  for (const auto& attr : attrs) Add(attr[0], attr[1], testMatch);
}

void TZAttributesH::Insert(int index, const std::u16string& attrName, const std::u16string& value,
                           bool testMatch) {
  inner_.Insert(index, Utf16ToXmlUtf8(attrName), Utf16ToXmlUtf8(value), testMatch);
}

void TZAttributesH::Insert(int index, const TZAttrArrayH& attr, bool testMatch) {
  Insert(index, attr[0], attr[1], testMatch);
}

TZAttrArrayH TZAttributesH::Items(int index) const {
  TZAttrArray item = inner_.Items(index);
  return {Utf8ToUtf16(item[0]), Utf8ToUtf16(item[1])};
}

void TZAttributesH::SetItems(int index, const TZAttrArrayH& attr) {
  inner_.SetItems(index, {Utf16ToXmlUtf8(attr[0]), Utf16ToXmlUtf8(attr[1])});
}

std::u16string TZAttributesH::ItemsByName(const std::u16string& attrName) const {
  return Utf8ToUtf16(inner_.ItemsByName(Utf16ToXmlUtf8(attrName)));
}

void TZAttributesH::SetItemsByName(const std::u16string& attrName, const std::u16string& value) {
  inner_.SetItemsByName(Utf16ToXmlUtf8(attrName), Utf16ToXmlUtf8(value));
}

std::u16string TZAttributesH::ItemsByNum(int index) const { return Utf8ToUtf16(inner_.ItemsByNum(index)); }

void TZAttributesH::SetItemsByNum(int index, const std::u16string& value) {
  inner_.SetItemsByNum(index, Utf16ToXmlUtf8(value));
}

std::u16string TZAttributesH::ToString(char16_t quote, bool checkEntity, bool addempty) const {
  char q = quote == u'\'' ? '\'' : '"';
  return Utf8ToUtf16(inner_.ToString(q, checkEntity, addempty));
}

// ---------------------------------------------------------------------------------------------------------
// TZXMLWriter

TZXMLWriter::TZXMLWriter() { tags_.reserve(static_cast<std::size_t>(maxTagCount_)); }

TZXMLWriter::~TZXMLWriter() {
  if (!inProcess_) return;
  try {
    EndSaveTo();  // a writer whose output failed only discards here
  } catch (...) {
    // An output error at destruction cannot be reported; what is left is discarded.
    buffer_.clear();
    stream_ = nullptr;
    inProcess_ = false;
  }
  ownFile_.reset();
}

bool TZXMLWriter::BeginSaveToStream(TZStream* stream) {
  if (inProcess_ || stream == nullptr) return false;
  buffer_.clear();
  stream_ = stream;
  destination_ = 0;
  failed_ = false;
  inProcess_ = true;
  return true;
}

bool TZXMLWriter::BeginSaveToFile(const std::string& fileName) {
  if (inProcess_) return false;
  auto file = std::make_unique<TZFileStream>();
  if (!file->Open(fileName)) return false;
  BeginSaveToStream(file.get());
  ownFile_ = std::move(file);
  destination_ = 1;
  return true;
}

bool TZXMLWriter::BeginSaveToString() {
  if (inProcess_) return false;
  buffer_.clear();
  destination_ = 2;
  stream_ = nullptr;
  failed_ = false;
  inProcess_ = true;
  return true;
}

void TZXMLWriter::EndSaveTo() {
  if (!inProcess_) return;
  if (failed_) {
    // The output already failed and that error was reported: stop without writing after it.
    buffer_.clear();
    tags_.clear();
    ResizeTags(0);
    stream_ = nullptr;
    inProcess_ = false;
    std::unique_ptr<TZFileStream> file = std::move(ownFile_);
    if (file) {
      try {
        file->Close();
      } catch (...) {
      }
    }
    return;
  }
  while (TagCount() > 0) WriteEndTagNode();
  if (newLine_) WriteToBuffer(nlSeparator_, true);
  FlushBuffer();
  if (ownFile_) {
    std::unique_ptr<TZFileStream> file = std::move(ownFile_);
    stream_ = nullptr;
    inProcess_ = false;
    file->Close();
  }
  stream_ = nullptr;
  inProcess_ = false;
}

void TZXMLWriter::FlushBuffer() {
  if (!inProcess_ || destination_ == 2 || stream_ == nullptr) return;
  if (buffer_.empty()) return;
  try {
    stream_->WriteBuffer(buffer_.data(), buffer_.size());
  } catch (...) {
    failed_ = true;
    throw;
  }
  buffer_.clear();
}

void TZXMLWriter::WriteToBuffer(const std::string& piece, bool useConverter) {
  if (useConverter && textConverter_) {
    try {
      buffer_.append(textConverter_(piece));
    } catch (...) {
      failed_ = true;
      throw;
    }
  } else {
    buffer_.append(piece);
  }
  if (destination_ != 2 && buffer_.size() >= static_cast<std::size_t>(maxBufferLength_)) FlushBuffer();
}

std::string TZXMLWriter::MakeIndent(int delta) const {
  int n = TagCount() + delta;
  std::string out;
  if (n <= 0 || tab_.empty()) return out;
  out.reserve(tab_.size() * static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) out.append(tab_);
  return out;
}

void TZXMLWriter::WriteFramedText(const std::string& prefix, const std::string& body, const std::string& suffix,
                                  bool startNewLine, int delta) {
  if (!inProcess_) return;
  if (!textConverter_) {
    // Without a converter the piece goes straight into the buffer.
    if (startNewLine && newLine_) {
      buffer_.append(nlSeparator_);
      for (int i = TagCount() + delta; i > 0; --i) buffer_.append(tab_);
    }
    buffer_.append(prefix).append(body).append(suffix);
    if (destination_ != 2 && buffer_.size() >= static_cast<std::size_t>(maxBufferLength_)) FlushBuffer();
    return;
  }
  std::string piece;
  if (startNewLine && newLine_) {
    piece = nlSeparator_;
    piece.append(MakeIndent(delta));
  }
  piece.reserve(piece.size() + prefix.size() + body.size() + suffix.size());
  piece.append(prefix).append(body).append(suffix);
  WriteToBuffer(piece, true);
}

void TZXMLWriter::ResizeTags(int n) {
  int capacity = NewCapacity(n, maxTagCount_);
  if (capacity == maxTagCount_) return;
  maxTagCount_ = capacity;
  if (static_cast<std::size_t>(capacity) > tags_.capacity()) {
    tags_.reserve(static_cast<std::size_t>(capacity));
  } else {
    std::vector<TagsProp> smaller;
    smaller.reserve(static_cast<std::size_t>(capacity));
    for (auto& t : tags_) smaller.push_back(std::move(t));
    tags_.swap(smaller);
  }
}

void TZXMLWriter::PushTag(const std::string& name, bool closeTagNewLine) {
  ResizeTags(TagCount() + 1);
  tags_.push_back(TagsProp{name, closeTagNewLine});
}

void TZXMLWriter::OpenTag(const std::string& tagName, const TZAttributes* attrs, bool startNewLine,
                          bool closeTagNewLine, bool checkEntity) {
  if (!inProcess_) return;
  std::string body = tagName;
  if (attrs != nullptr && attrs->Count() > 0) body.append(attrs->ToString(attributeQuote_, checkEntity, true));
  WriteFramedText("<", body, ">", startNewLine, 0);
  PushTag(tagName, closeTagNewLine);
}

void TZXMLWriter::WriteTagNode(const std::string& tagName, const TZAttributes& attrs, bool startNewLine,
                               bool closeTagNewLine, bool checkEntity) {
  OpenTag(tagName, &attrs, startNewLine, closeTagNewLine, checkEntity);
}

void TZXMLWriter::WriteTagNode(const std::string& tagName, const std::vector<TZAttrArray>& attrs,
                               bool startNewLine, bool closeTagNewLine, bool checkEntity) {
  TZAttributes list;
  list.Add(attrs, true);
  OpenTag(tagName, &list, startNewLine, closeTagNewLine, checkEntity);
}

void TZXMLWriter::WriteTagNode(const std::string& tagName, bool startNewLine, bool closeTagNewLine,
                               bool checkEntity) {
  OpenTag(tagName, &attributes_, startNewLine, closeTagNewLine, checkEntity);
}

void TZXMLWriter::WriteTagNode(const std::string& tagName, const TZAttributes& attrs) {
  WriteTagNode(tagName, attrs, true, false, true);
}

void TZXMLWriter::WriteTagNode(const std::string& tagName, const std::vector<TZAttrArray>& attrs) {
  WriteTagNode(tagName, attrs, true, false, true);
}

void TZXMLWriter::WriteTagNode(const std::string& tagName) { WriteTagNode(tagName, true, false, true); }

void TZXMLWriter::WriteEndTagNode() {
  if (!inProcess_ || tags_.empty()) return;
  WriteEndTagNode(true, tags_.back().CloseTagNewLine);
}

void TZXMLWriter::WriteEndTagNode(bool isForce, bool closeTagNewLine) {
  if (!inProcess_ || tags_.empty()) return;
  bool newLine = isForce ? closeTagNewLine : tags_.back().CloseTagNewLine;
  WriteFramedText("</", tags_.back().Name, ">", newLine, -1);
  tags_.pop_back();
  ResizeTags(TagCount());
}

void TZXMLWriter::WriteTagImpl(const std::string& tagName, const std::string& text, const TZAttributes* attrs,
                               bool startNewLine, bool closeTagNewLine, bool checkEntity) {
  if (!inProcess_) return;
  OpenTag(tagName, attrs, startNewLine, closeTagNewLine, checkEntity);
  WriteRaw(checkEntity ? EscapeXmlText(text, true) : text, true, closeTagNewLine);
  WriteEndTagNode();
}

void TZXMLWriter::WriteTag(const std::string& tagName, const std::string& text, const TZAttributes& attrs,
                           bool startNewLine, bool closeTagNewLine, bool checkEntity) {
  WriteTagImpl(tagName, text, &attrs, startNewLine, closeTagNewLine, checkEntity);
}

void TZXMLWriter::WriteTag(const std::string& tagName, const std::string& text,
                           const std::vector<TZAttrArray>& attrs, bool startNewLine, bool closeTagNewLine,
                           bool checkEntity) {
  TZAttributes list;
  list.Add(attrs, true);
  WriteTagImpl(tagName, text, &list, startNewLine, closeTagNewLine, checkEntity);
}

void TZXMLWriter::WriteTag(const std::string& tagName, const std::string& text, bool startNewLine,
                           bool closeTagNewLine, bool checkEntity) {
  WriteTagImpl(tagName, text, &attributes_, startNewLine, closeTagNewLine, checkEntity);
}

void TZXMLWriter::WriteTag(const std::string& tagName, const std::string& text, const TZAttributes& attrs) {
  WriteTag(tagName, text, attrs, true, false, true);
}

void TZXMLWriter::WriteTag(const std::string& tagName, const std::string& text,
                           const std::vector<TZAttrArray>& attrs) {
  WriteTag(tagName, text, attrs, true, false, true);
}

void TZXMLWriter::WriteTag(const std::string& tagName, const std::string& text) {
  WriteTag(tagName, text, true, false, true);
}

void TZXMLWriter::WriteEmptyImpl(const char* open, const char* close, const std::string& name,
                                 const TZAttributes* attrs, bool startNewLine, bool checkEntity) {
  if (!inProcess_) return;
  std::string body = name;
  if (attrs != nullptr) body.append(attrs->ToString(attributeQuote_, checkEntity, true));
  WriteFramedText(open, body, close, startNewLine, 0);
}

void TZXMLWriter::WriteEmptyTag(const std::string& tagName, const TZAttributes& attrs, bool startNewLine,
                                bool checkEntity) {
  WriteEmptyImpl("<", "/>", tagName, &attrs, startNewLine, checkEntity);
}

void TZXMLWriter::WriteEmptyTag(const std::string& tagName, const std::vector<TZAttrArray>& attrs,
                                bool startNewLine, bool checkEntity) {
  TZAttributes list;
  list.Add(attrs, true);
  WriteEmptyImpl("<", "/>", tagName, &list, startNewLine, checkEntity);
}

void TZXMLWriter::WriteEmptyTag(const std::string& tagName, bool startNewLine, bool checkEntity) {
  WriteEmptyImpl("<", "/>", tagName, &attributes_, startNewLine, checkEntity);
}

void TZXMLWriter::WriteEmptyTag(const std::string& tagName, const TZAttributes& attrs) {
  WriteEmptyTag(tagName, attrs, true, true);
}

void TZXMLWriter::WriteEmptyTag(const std::string& tagName, const std::vector<TZAttrArray>& attrs) {
  WriteEmptyTag(tagName, attrs, true, true);
}

void TZXMLWriter::WriteEmptyTag(const std::string& tagName) { WriteEmptyTag(tagName, true, true); }

void TZXMLWriter::WriteInstruction(const std::string& instructionName, const TZAttributes& attrs,
                                   bool startNewLine, bool checkEntity) {
  WriteEmptyImpl("<?", "?>", instructionName, &attrs, startNewLine, checkEntity);
}

void TZXMLWriter::WriteInstruction(const std::string& instructionName, const std::vector<TZAttrArray>& attrs,
                                   bool startNewLine, bool checkEntity) {
  TZAttributes list;
  list.Add(attrs, true);
  WriteEmptyImpl("<?", "?>", instructionName, &list, startNewLine, checkEntity);
}

void TZXMLWriter::WriteInstruction(const std::string& instructionName, bool startNewLine, bool checkEntity) {
  WriteEmptyImpl("<?", "?>", instructionName, &attributes_, startNewLine, checkEntity);
}

void TZXMLWriter::WriteInstruction(const std::string& instructionName, const TZAttributes& attrs) {
  WriteInstruction(instructionName, attrs, true, true);
}

void TZXMLWriter::WriteInstruction(const std::string& instructionName, const std::vector<TZAttrArray>& attrs) {
  WriteInstruction(instructionName, attrs, true, true);
}

void TZXMLWriter::WriteInstruction(const std::string& instructionName) {
  WriteInstruction(instructionName, true, true);
}

void TZXMLWriter::WriteCDATA(const std::string& cdata, bool correctCDATA, bool startNewLine) {
  if (!inProcess_) return;
  std::string text = cdata;
  if (correctCDATA) {
    // Replacing "]]>" by "]]&gt;" removes the match, so searching again from the start always ends.
    std::size_t p;
    while ((p = AnsiStrPos("]]>", text)) > 0) text.replace(p - 1, 3, "]]&gt;");
  }
  WriteFramedText("<![CDATA[", text, "]]>", startNewLine, 0);
}

void TZXMLWriter::WriteCDATA(const std::string& cdata) { WriteCDATA(cdata, true, true); }

void TZXMLWriter::WriteComment(const std::string& comment, bool startNewLine) {
  if (!inProcess_) return;
  std::string text = comment;
  std::size_t p = 0;
  while ((p = text.find("--", p)) != std::string::npos) text.replace(p, 2, "- -");
  WriteFramedText("<!-- ", text, " -->", startNewLine, 0);
}

void TZXMLWriter::WriteRaw(const std::string& text, bool useConverter, bool startNewLine) {
  if (!inProcess_) return;
  if (startNewLine && newLine_) WriteToBuffer(nlSeparator_, useConverter);
  WriteToBuffer(text, useConverter);
}

std::string TZXMLWriter::GetTag(int index) const {
  if (index < 0 || index >= TagCount()) return {};
  return tags_[static_cast<std::size_t>(index)].Name;
}

void TZXMLWriter::SetAttributeQuote(char quote) {
  if (quote == '"' || quote == '\'') attributeQuote_ = quote;
}

void TZXMLWriter::SetAttributes(const TZAttributes* attrs) {
  if (attrs != nullptr) attributes_.Assign(*attrs);
}

void TZXMLWriter::SetMaxBufferLength(int value) {
  if (value > 0 && !inProcess_) maxBufferLength_ = value;
}

void TZXMLWriter::SetTextConverter(TAnsiToCPConverter converter) {
  if (!inProcess_) textConverter_ = std::move(converter);
}

void TZXMLWriter::SetNewLine(bool value) {
  if (!inProcess_) newLine_ = value;
}

void TZXMLWriter::SetUnixNLSeparator(bool value) {
  if (inProcess_) return;
  unixNLSeparator_ = value;
  nlSeparator_ = value ? "\n" : "\r\n";
}

void TZXMLWriter::RebuildTab() { tab_.assign(static_cast<std::size_t>(tabLength_ > 0 ? tabLength_ : 0), tabSymbol_); }

void TZXMLWriter::SetTabSymbol(char symbol) {
  if (inProcess_ || (symbol != '\t' && symbol != ' ')) return;
  tabSymbol_ = symbol;
  RebuildTab();
}

void TZXMLWriter::SetTabLength(int value) {
  if (inProcess_ || value <= 0) return;
  tabLength_ = value;
  RebuildTab();
}

// ---------------------------------------------------------------------------------------------------------
// TZXMLWriterH

namespace {

// An array of pairs as the byte layer's list (a repeated name keeps its last value at its first place).
TZAttributes EncodePairs(const std::vector<TZAttrArrayH>& attrs) {
  TZAttributes list;
  for (const auto& a : attrs) list.Add(Utf16ToXmlUtf8(a[0]), Utf16ToXmlUtf8(a[1]), true);
  return list;
}

}  // namespace

TZXMLWriterH::TZXMLWriterH() = default;

void TZXMLWriterH::WriteTagNode(const std::u16string& tagName, const TZAttributesH& attrs, bool startNewLine,
                                bool closeTagNewLine, bool checkEntity) {
  if (!writer_.InProcess()) return;
  writer_.WriteTagNode(Utf16ToXmlUtf8(tagName), attrs.Inner(), startNewLine, closeTagNewLine, checkEntity);
}

void TZXMLWriterH::WriteTagNode(const std::u16string& tagName, const std::vector<TZAttrArrayH>& attrs,
                                bool startNewLine, bool closeTagNewLine, bool checkEntity) {
  if (!writer_.InProcess()) return;
  writer_.WriteTagNode(Utf16ToXmlUtf8(tagName), EncodePairs(attrs), startNewLine, closeTagNewLine, checkEntity);
}

void TZXMLWriterH::WriteTagNode(const std::u16string& tagName, bool startNewLine, bool closeTagNewLine,
                                bool checkEntity) {
  WriteTagNode(tagName, attributes_, startNewLine, closeTagNewLine, checkEntity);
}

void TZXMLWriterH::WriteTagNode(const std::u16string& tagName, const TZAttributesH& attrs) {
  WriteTagNode(tagName, attrs, true, false, true);
}

void TZXMLWriterH::WriteTagNode(const std::u16string& tagName, const std::vector<TZAttrArrayH>& attrs) {
  WriteTagNode(tagName, attrs, true, false, true);
}

void TZXMLWriterH::WriteTagNode(const std::u16string& tagName) { WriteTagNode(tagName, true, false, true); }

void TZXMLWriterH::WriteTag(const std::u16string& tagName, const std::u16string& text, const TZAttributesH& attrs,
                            bool startNewLine, bool closeTagNewLine, bool checkEntity) {
  if (!writer_.InProcess()) return;
  writer_.WriteTag(Utf16ToXmlUtf8(tagName), Utf16ToXmlUtf8(text), attrs.Inner(), startNewLine, closeTagNewLine,
                   checkEntity);
}

void TZXMLWriterH::WriteTag(const std::u16string& tagName, const std::u16string& text,
                            const std::vector<TZAttrArrayH>& attrs, bool startNewLine, bool closeTagNewLine,
                            bool checkEntity) {
  if (!writer_.InProcess()) return;
  writer_.WriteTag(Utf16ToXmlUtf8(tagName), Utf16ToXmlUtf8(text), EncodePairs(attrs), startNewLine,
                   closeTagNewLine, checkEntity);
}

void TZXMLWriterH::WriteTag(const std::u16string& tagName, const std::u16string& text, bool startNewLine,
                            bool closeTagNewLine, bool checkEntity) {
  WriteTag(tagName, text, attributes_, startNewLine, closeTagNewLine, checkEntity);
}

void TZXMLWriterH::WriteTag(const std::u16string& tagName, const std::u16string& text,
                            const TZAttributesH& attrs) {
  WriteTag(tagName, text, attrs, true, false, true);
}

void TZXMLWriterH::WriteTag(const std::u16string& tagName, const std::u16string& text,
                            const std::vector<TZAttrArrayH>& attrs) {
  WriteTag(tagName, text, attrs, true, false, true);
}

void TZXMLWriterH::WriteTag(const std::u16string& tagName, const std::u16string& text) {
  WriteTag(tagName, text, true, false, true);
}

void TZXMLWriterH::WriteEmptyTag(const std::u16string& tagName, const TZAttributesH& attrs, bool startNewLine,
                                 bool checkEntity) {
  if (!writer_.InProcess()) return;
  writer_.WriteEmptyTag(Utf16ToXmlUtf8(tagName), attrs.Inner(), startNewLine, checkEntity);
}

void TZXMLWriterH::WriteEmptyTag(const std::u16string& tagName, const std::vector<TZAttrArrayH>& attrs,
                                 bool startNewLine, bool checkEntity) {
  if (!writer_.InProcess()) return;
  writer_.WriteEmptyTag(Utf16ToXmlUtf8(tagName), EncodePairs(attrs), startNewLine, checkEntity);
}

void TZXMLWriterH::WriteEmptyTag(const std::u16string& tagName, bool startNewLine, bool checkEntity) {
  WriteEmptyTag(tagName, attributes_, startNewLine, checkEntity);
}

void TZXMLWriterH::WriteEmptyTag(const std::u16string& tagName, const TZAttributesH& attrs) {
  WriteEmptyTag(tagName, attrs, true, true);
}

void TZXMLWriterH::WriteEmptyTag(const std::u16string& tagName, const std::vector<TZAttrArrayH>& attrs) {
  WriteEmptyTag(tagName, attrs, true, true);
}

void TZXMLWriterH::WriteEmptyTag(const std::u16string& tagName) { WriteEmptyTag(tagName, true, true); }

void TZXMLWriterH::WriteInstruction(const std::u16string& instructionName, const TZAttributesH& attrs,
                                    bool startNewLine, bool checkEntity) {
  if (!writer_.InProcess()) return;
  writer_.WriteInstruction(Utf16ToXmlUtf8(instructionName), attrs.Inner(), startNewLine, checkEntity);
}

void TZXMLWriterH::WriteInstruction(const std::u16string& instructionName, const std::vector<TZAttrArrayH>& attrs,
                                    bool startNewLine, bool checkEntity) {
  if (!writer_.InProcess()) return;
  writer_.WriteInstruction(Utf16ToXmlUtf8(instructionName), EncodePairs(attrs), startNewLine, checkEntity);
}

void TZXMLWriterH::WriteInstruction(const std::u16string& instructionName, bool startNewLine, bool checkEntity) {
  WriteInstruction(instructionName, attributes_, startNewLine, checkEntity);
}

void TZXMLWriterH::WriteInstruction(const std::u16string& instructionName, const TZAttributesH& attrs) {
  WriteInstruction(instructionName, attrs, true, true);
}

void TZXMLWriterH::WriteInstruction(const std::u16string& instructionName,
                                    const std::vector<TZAttrArrayH>& attrs) {
  WriteInstruction(instructionName, attrs, true, true);
}

void TZXMLWriterH::WriteInstruction(const std::u16string& instructionName) {
  WriteInstruction(instructionName, true, true);
}

void TZXMLWriterH::WriteCDATA(const std::u16string& cdata, bool correctCDATA, bool startNewLine) {
  if (!writer_.InProcess()) return;
  writer_.WriteCDATA(Utf16ToXmlUtf8(cdata), correctCDATA, startNewLine);
}

void TZXMLWriterH::WriteCDATA(const std::u16string& cdata) { WriteCDATA(cdata, true, true); }

void TZXMLWriterH::WriteComment(const std::u16string& comment, bool startNewLine) {
  if (!writer_.InProcess()) return;
  writer_.WriteComment(Utf16ToXmlUtf8(comment), startNewLine);
}

void TZXMLWriterH::WriteRaw(const std::u16string& text, bool useConverter, bool startNewLine) {
  if (!writer_.InProcess()) return;
  writer_.WriteRaw(Utf16ToXmlUtf8(text), useConverter, startNewLine);
}

void TZXMLWriterH::WriteRaw(const std::string& bytes, bool useConverter, bool startNewLine) {
  writer_.WriteRaw(bytes, useConverter, startNewLine);
}

std::u16string TZXMLWriterH::Tags(int index) const { return Utf8ToUtf16(writer_.GetTag(index)); }

std::u16string TZXMLWriterH::Buffer() const { return Utf8ToUtf16(writer_.Buffer()); }

void TZXMLWriterH::SetAttributes(const TZAttributesH* attrs) {
  if (attrs != nullptr) attributes_.Assign(*attrs);
}

void TZXMLWriterH::SetAttributeQuote(char16_t quote) {
  if (quote == u'"' || quote == u'\'') writer_.SetAttributeQuote(static_cast<char>(quote));
}

void TZXMLWriterH::SetTabSymbol(char16_t symbol) {
  if (symbol == u'\t' || symbol == u' ') writer_.SetTabSymbol(static_cast<char>(symbol));
}
