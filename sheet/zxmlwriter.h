// Forward-only XML writer of the spreadsheet library: no document tree, a stack of open tags for closing
// and indentation, a byte buffer flushed to a stream or file at a threshold (or kept whole for a string
// destination), escaping of text and attribute values, and an optional output converter applied to each
// written piece.
//
// Two layers: TZXMLWriter / TZAttributes work on byte strings; TZXMLWriterH / TZAttributesH take UTF-16
// strings and encode each one as UTF-8 before passing it down. The UTF-16 layer always yields text that an
// XML parser accepts: characters XML forbids (NUL, U+0001-U+0008, U+000B, U+000C, U+000E-U+001F, U+FFFE,
// U+FFFF) are dropped and a lone surrogate becomes U+FFFD.
//
// Also the byte sinks the library writes to (TZStream and two implementations).
// Errors: write failures of a stream raise EZxError; they reach the caller of the write operation or of
// EndSaveTo. Destructors never throw. A writer serves one thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// The library's own error: misuse, sizes beyond the formats' limits, failed writes of a stream.
class EZxError : public std::runtime_error {
 public:
  explicit EZxError(const std::string& message) : std::runtime_error(message) {}
};

// A conversion that cannot be made (text that is not a number, a value out of range).
class EZxConvertError : public EZxError {
 public:
  explicit EZxConvertError(const std::string& message) : EZxError(message) {}
};

// A byte sink. WriteBuffer writes all bytes or raises EZxError.
class TZStream {
 public:
  virtual ~TZStream() = default;
  virtual void WriteBuffer(const void* data, std::size_t count) = 0;
};

// A file opened for writing (created or truncated). Open reports failure as false and never raises;
// WriteBuffer on a closed stream or a failed write raises EZxError.
class TZFileStream : public TZStream {
 public:
  TZFileStream() = default;
  ~TZFileStream() override;
  TZFileStream(const TZFileStream&) = delete;
  TZFileStream& operator=(const TZFileStream&) = delete;

  bool Open(const std::string& fileName);
  bool IsOpen() const { return file_ != nullptr; }
  // Closes the file; raises EZxError when the last bytes could not be written.
  void Close();
  void WriteBuffer(const void* data, std::size_t count) override;

 private:
  std::FILE* file_ = nullptr;
};

// Collects the bytes in memory.
class TZMemoryStream : public TZStream {
 public:
  void WriteBuffer(const void* data, std::size_t count) override;
  const std::string& Data() const { return data_; }
  void Clear() { data_.clear(); }

 private:
  std::string data_;
};

// One attribute: element 0 the name, element 1 the value.
using TZAttrArray = std::array<std::string, 2>;
using TZAttrArrayH = std::array<std::u16string, 2>;

// The output converter: one written piece in, the bytes to buffer out. Empty means none.
using TAnsiToCPConverter = std::function<std::string(const std::string&)>;

// Ordered list of attributes (insertion order is output order); names compare byte for byte.
class TZAttributes {
 public:
  TZAttributes();

  // An empty name adds nothing. With testMatch, an existing name gets the new value in place.
  void Add(const std::string& attrName, const std::string& value, bool testMatch = true);
  void Add(const TZAttrArray& attr, bool testMatch = true);
  void Add(const std::vector<TZAttrArray>& attrs, bool testMatch = true);
  // With testMatch and an existing name: replaces the value. Else inserts at 0 <= index < Count, or adds
  // to an empty list; otherwise nothing happens.
  void Insert(int index, const std::string& attrName, const std::string& value, bool testMatch = true);
  void Insert(int index, const TZAttrArray& attr, bool testMatch = true);
  void DeleteItem(int index);
  void Clear();

  int Count() const { return static_cast<int>(items_.size()); }
  // Capacity by the growth rule of the list (initially 15).
  int MaxCount() const { return maxCount_; }
  // The pair, or an empty pair outside the range; writes outside the range are ignored.
  TZAttrArray Items(int index) const;
  void SetItems(int index, const TZAttrArray& attr);
  // The value of the first pair with that name, else empty; the write is Add with testMatch.
  std::string ItemsByName(const std::string& attrName) const;
  void SetItemsByName(const std::string& attrName, const std::string& value);
  std::string ItemsByNum(int index) const;
  void SetItemsByNum(int index, const std::string& value);

  // " name=qvalueq" per pair; pairs with an empty value are skipped unless addempty. A quote other than
  // '"' or '\'' is taken as '"'. With checkEntity the value is escaped (every '&'; TAB, LF, CR as
  // character references). Empty or starting with a blank.
  std::string ToString(char quote, bool checkEntity, bool addempty) const;
  std::string ToString(char quote, bool checkEntity) const { return ToString(quote, checkEntity, true); }
  std::string ToString(char quote) const { return ToString(quote, true, true); }
  std::string ToString(bool checkEntity) const { return ToString('"', checkEntity, true); }
  std::string ToString() const { return ToString('"', true, true); }

  void Assign(const TZAttributes& source);

 private:
  void Reserve(int n);
  int FindName(const std::string& attrName) const;

  std::vector<TZAttrArray> items_;
  int maxCount_ = 15;
};

// The same list for UTF-16 strings; holds the UTF-8 encodings in an inner TZAttributes.
class TZAttributesH {
 public:
  void Add(const std::u16string& attrName, const std::u16string& value, bool testMatch = true);
  void Add(const TZAttrArrayH& attr, bool testMatch = true);
  void Add(const std::vector<TZAttrArrayH>& attrs, bool testMatch = true);
  void Insert(int index, const std::u16string& attrName, const std::u16string& value, bool testMatch = true);
  void Insert(int index, const TZAttrArrayH& attr, bool testMatch = true);
  void DeleteItem(int index) { inner_.DeleteItem(index); }
  void Clear() { inner_.Clear(); }

  int Count() const { return inner_.Count(); }
  TZAttrArrayH Items(int index) const;
  void SetItems(int index, const TZAttrArrayH& attr);
  std::u16string ItemsByName(const std::u16string& attrName) const;
  void SetItemsByName(const std::u16string& attrName, const std::u16string& value);
  std::u16string ItemsByNum(int index) const;
  void SetItemsByNum(int index, const std::u16string& value);

  std::u16string ToString(char16_t quote, bool checkEntity, bool addempty) const;
  std::u16string ToString(char16_t quote, bool checkEntity) const { return ToString(quote, checkEntity, true); }
  std::u16string ToString(char16_t quote) const { return ToString(quote, true, true); }
  std::u16string ToString(bool checkEntity) const { return ToString(u'"', checkEntity, true); }
  std::u16string ToString() const { return ToString(u'"', true, true); }

  void Assign(const TZAttributesH& source) { inner_.Assign(source.inner_); }
  void Assign(const TZAttributes& source) { inner_.Assign(source); }

  TZAttributes& Inner() { return inner_; }
  const TZAttributes& Inner() const { return inner_; }

 private:
  TZAttributes inner_;
};

// One open tag of the writer's stack.
struct TagsProp {
  std::string Name;
  bool CloseTagNewLine = false;
};

// The byte-string writer. Idle until a Begin* succeeds; while idle every write does nothing. While
// writing, the layout setters (MaxBufferLength, NewLine, UnixNLSeparator, TabLength, TabSymbol,
// TextConverter) have no effect.
class TZXMLWriter {
 public:
  TZXMLWriter();
  // Ends a document still being written; a writer whose output failed discards what it holds instead.
  ~TZXMLWriter();
  TZXMLWriter(const TZXMLWriter&) = delete;
  TZXMLWriter& operator=(const TZXMLWriter&) = delete;

  // False when already writing or the stream is null. The stream must outlive the writing.
  bool BeginSaveToStream(TZStream* stream);
  // False when already writing or the file cannot be created.
  bool BeginSaveToFile(const std::string& fileName);
  bool BeginSaveToString();
  // Closes every open tag, writes a final new line (when NewLine), flushes, closes an own file, idles.
  // After an output error (already raised to the caller) it only discards what is left and idles.
  void EndSaveTo();
  void FlushBuffer();

  void WriteTagNode(const std::string& tagName, const TZAttributes& attrs, bool startNewLine, bool closeTagNewLine,
                    bool checkEntity);
  void WriteTagNode(const std::string& tagName, const std::vector<TZAttrArray>& attrs, bool startNewLine,
                    bool closeTagNewLine, bool checkEntity);
  void WriteTagNode(const std::string& tagName, bool startNewLine, bool closeTagNewLine, bool checkEntity);
  void WriteTagNode(const std::string& tagName, const TZAttributes& attrs);
  void WriteTagNode(const std::string& tagName, const std::vector<TZAttrArray>& attrs);
  void WriteTagNode(const std::string& tagName);

  void WriteEndTagNode();
  void WriteEndTagNode(bool isForce, bool closeTagNewLine);

  void WriteTag(const std::string& tagName, const std::string& text, const TZAttributes& attrs, bool startNewLine,
                bool closeTagNewLine, bool checkEntity);
  void WriteTag(const std::string& tagName, const std::string& text, const std::vector<TZAttrArray>& attrs,
                bool startNewLine, bool closeTagNewLine, bool checkEntity);
  void WriteTag(const std::string& tagName, const std::string& text, bool startNewLine, bool closeTagNewLine,
                bool checkEntity);
  void WriteTag(const std::string& tagName, const std::string& text, const TZAttributes& attrs);
  void WriteTag(const std::string& tagName, const std::string& text, const std::vector<TZAttrArray>& attrs);
  void WriteTag(const std::string& tagName, const std::string& text);

  void WriteEmptyTag(const std::string& tagName, const TZAttributes& attrs, bool startNewLine, bool checkEntity);
  void WriteEmptyTag(const std::string& tagName, const std::vector<TZAttrArray>& attrs, bool startNewLine,
                     bool checkEntity);
  void WriteEmptyTag(const std::string& tagName, bool startNewLine, bool checkEntity);
  void WriteEmptyTag(const std::string& tagName, const TZAttributes& attrs);
  void WriteEmptyTag(const std::string& tagName, const std::vector<TZAttrArray>& attrs);
  void WriteEmptyTag(const std::string& tagName);

  void WriteInstruction(const std::string& instructionName, const TZAttributes& attrs, bool startNewLine,
                        bool checkEntity);
  void WriteInstruction(const std::string& instructionName, const std::vector<TZAttrArray>& attrs,
                        bool startNewLine, bool checkEntity);
  void WriteInstruction(const std::string& instructionName, bool startNewLine, bool checkEntity);
  void WriteInstruction(const std::string& instructionName, const TZAttributes& attrs);
  void WriteInstruction(const std::string& instructionName, const std::vector<TZAttrArray>& attrs);
  void WriteInstruction(const std::string& instructionName);

  // With correctCDATA every "]]>" becomes "]]&gt;".
  void WriteCDATA(const std::string& cdata, bool correctCDATA, bool startNewLine);
  void WriteCDATA(const std::string& cdata);
  // "--" inside the comment is written "- -" so the comment stays well formed.
  void WriteComment(const std::string& comment, bool startNewLine);
  void WriteRaw(const std::string& text, bool useConverter, bool startNewLine);

  // Name of the open tag at that depth (0 the outermost); empty outside.
  std::string GetTag(int index) const;
  std::string Tags(int index) const { return GetTag(index); }

  char AttributeQuote() const { return attributeQuote_; }
  void SetAttributeQuote(char quote);
  TZAttributes& Attributes() { return attributes_; }
  void SetAttributes(const TZAttributes* attrs);
  int TagCount() const { return static_cast<int>(tags_.size()); }
  int MaxTagCount() const { return maxTagCount_; }
  const std::string& Buffer() const { return buffer_; }
  int MaxBufferLength() const { return maxBufferLength_; }
  void SetMaxBufferLength(int value);
  bool InProcess() const { return inProcess_; }
  const TAnsiToCPConverter& TextConverter() const { return textConverter_; }
  void SetTextConverter(TAnsiToCPConverter converter);
  bool NewLine() const { return newLine_; }
  void SetNewLine(bool value);
  bool UnixNLSeparator() const { return unixNLSeparator_; }
  void SetUnixNLSeparator(bool value);
  // The first character of the indentation step, NUL while the step is empty.
  char TabSymbol() const { return tab_.empty() ? '\0' : tab_[0]; }
  void SetTabSymbol(char symbol);
  int TabLength() const { return tabLength_; }
  void SetTabLength(int value);

 private:
  void WriteFramedText(const std::string& prefix, const std::string& body, const std::string& suffix,
                       bool startNewLine, int delta);
  std::string MakeIndent(int delta) const;
  void WriteToBuffer(const std::string& piece, bool useConverter);
  void PushTag(const std::string& name, bool closeTagNewLine);
  void ResizeTags(int n);
  void RebuildTab();
  void OpenTag(const std::string& tagName, const TZAttributes* attrs, bool startNewLine, bool closeTagNewLine,
               bool checkEntity);
  void WriteTagImpl(const std::string& tagName, const std::string& text, const TZAttributes* attrs,
                    bool startNewLine, bool closeTagNewLine, bool checkEntity);
  void WriteEmptyImpl(const char* open, const char* close, const std::string& name, const TZAttributes* attrs,
                      bool startNewLine, bool checkEntity);

  char attributeQuote_ = '"';
  TZAttributes attributes_;
  std::vector<TagsProp> tags_;
  int maxTagCount_ = 20;
  std::string buffer_;
  int maxBufferLength_ = 4096;
  bool inProcess_ = false;
  bool failed_ = false;
  TZStream* stream_ = nullptr;
  std::unique_ptr<TZFileStream> ownFile_;  // the file this writer opened
  TAnsiToCPConverter textConverter_;
  bool newLine_ = true;
  bool unixNLSeparator_ = false;
  std::string nlSeparator_ = "\r\n";
  std::string tab_;
  char tabSymbol_ = ' ';
  int tabLength_ = 0;
  std::uint8_t destination_ = 0;  // 0 caller's stream, 1 own file, 2 string
};

// The UTF-16 front end: every string argument but a file name is encoded as UTF-8 (forbidden characters
// dropped, lone surrogates replaced) and passed to the inner byte writer.
class TZXMLWriterH {
 public:
  TZXMLWriterH();
  ~TZXMLWriterH() = default;
  TZXMLWriterH(const TZXMLWriterH&) = delete;
  TZXMLWriterH& operator=(const TZXMLWriterH&) = delete;

  bool BeginSaveToStream(TZStream* stream) { return writer_.BeginSaveToStream(stream); }
  bool BeginSaveToFile(const std::string& fileName) { return writer_.BeginSaveToFile(fileName); }
  bool BeginSaveToString() { return writer_.BeginSaveToString(); }
  void EndSaveTo() { writer_.EndSaveTo(); }
  void FlushBuffer() { writer_.FlushBuffer(); }

  void WriteTagNode(const std::u16string& tagName, const TZAttributesH& attrs, bool startNewLine,
                    bool closeTagNewLine, bool checkEntity);
  void WriteTagNode(const std::u16string& tagName, const std::vector<TZAttrArrayH>& attrs, bool startNewLine,
                    bool closeTagNewLine, bool checkEntity);
  void WriteTagNode(const std::u16string& tagName, bool startNewLine, bool closeTagNewLine, bool checkEntity);
  void WriteTagNode(const std::u16string& tagName, const TZAttributesH& attrs);
  void WriteTagNode(const std::u16string& tagName, const std::vector<TZAttrArrayH>& attrs);
  void WriteTagNode(const std::u16string& tagName);

  void WriteEndTagNode() { writer_.WriteEndTagNode(); }
  void WriteEndTagNode(bool isForce, bool closeTagNewLine) { writer_.WriteEndTagNode(isForce, closeTagNewLine); }

  void WriteTag(const std::u16string& tagName, const std::u16string& text, const TZAttributesH& attrs,
                bool startNewLine, bool closeTagNewLine, bool checkEntity);
  void WriteTag(const std::u16string& tagName, const std::u16string& text, const std::vector<TZAttrArrayH>& attrs,
                bool startNewLine, bool closeTagNewLine, bool checkEntity);
  void WriteTag(const std::u16string& tagName, const std::u16string& text, bool startNewLine,
                bool closeTagNewLine, bool checkEntity);
  void WriteTag(const std::u16string& tagName, const std::u16string& text, const TZAttributesH& attrs);
  void WriteTag(const std::u16string& tagName, const std::u16string& text, const std::vector<TZAttrArrayH>& attrs);
  void WriteTag(const std::u16string& tagName, const std::u16string& text);

  void WriteEmptyTag(const std::u16string& tagName, const TZAttributesH& attrs, bool startNewLine,
                     bool checkEntity);
  void WriteEmptyTag(const std::u16string& tagName, const std::vector<TZAttrArrayH>& attrs, bool startNewLine,
                     bool checkEntity);
  void WriteEmptyTag(const std::u16string& tagName, bool startNewLine, bool checkEntity);
  void WriteEmptyTag(const std::u16string& tagName, const TZAttributesH& attrs);
  void WriteEmptyTag(const std::u16string& tagName, const std::vector<TZAttrArrayH>& attrs);
  void WriteEmptyTag(const std::u16string& tagName);

  void WriteInstruction(const std::u16string& instructionName, const TZAttributesH& attrs, bool startNewLine,
                        bool checkEntity);
  void WriteInstruction(const std::u16string& instructionName, const std::vector<TZAttrArrayH>& attrs,
                        bool startNewLine, bool checkEntity);
  void WriteInstruction(const std::u16string& instructionName, bool startNewLine, bool checkEntity);
  void WriteInstruction(const std::u16string& instructionName, const TZAttributesH& attrs);
  void WriteInstruction(const std::u16string& instructionName, const std::vector<TZAttrArrayH>& attrs);
  void WriteInstruction(const std::u16string& instructionName);

  void WriteCDATA(const std::u16string& cdata, bool correctCDATA, bool startNewLine);
  void WriteCDATA(const std::u16string& cdata);
  void WriteComment(const std::u16string& comment, bool startNewLine);
  // UTF-16 text, encoded as UTF-8.
  void WriteRaw(const std::u16string& text, bool useConverter, bool startNewLine);
  // Bytes passed on unchanged.
  void WriteRaw(const std::string& bytes, bool useConverter, bool startNewLine);

  std::u16string Tags(int index) const;
  // The unflushed output decoded from UTF-8; RawBuffer gives the bytes themselves.
  std::u16string Buffer() const;
  const std::string& RawBuffer() const { return writer_.Buffer(); }

  TZAttributesH& Attributes() { return attributes_; }
  void SetAttributes(const TZAttributesH* attrs);

  char16_t AttributeQuote() const { return static_cast<char16_t>(writer_.AttributeQuote()); }
  void SetAttributeQuote(char16_t quote);
  bool InProcess() const { return writer_.InProcess(); }
  int MaxBufferLength() const { return writer_.MaxBufferLength(); }
  void SetMaxBufferLength(int value) { writer_.SetMaxBufferLength(value); }
  bool NewLine() const { return writer_.NewLine(); }
  void SetNewLine(bool value) { writer_.SetNewLine(value); }
  int TabLength() const { return writer_.TabLength(); }
  void SetTabLength(int value) { writer_.SetTabLength(value); }
  char16_t TabSymbol() const { return static_cast<char16_t>(writer_.TabSymbol()); }
  void SetTabSymbol(char16_t symbol);
  int TagCount() const { return writer_.TagCount(); }
  const TAnsiToCPConverter& TextConverter() const { return writer_.TextConverter(); }
  void SetTextConverter(TAnsiToCPConverter converter) { writer_.SetTextConverter(std::move(converter)); }
  bool UnixNLSeparator() const { return writer_.UnixNLSeparator(); }
  void SetUnixNLSeparator(bool value) { writer_.SetUnixNLSeparator(value); }

  TZXMLWriter& Writer() { return writer_; }

 private:
  TZAttributesH attributes_;
  TZXMLWriter writer_;
};

// The library's one XML escaping rule, used by every escaper below and by the XLSX cell writer: what a
// character other than '&' becomes in XML this library writes. Returns the reference that replaces it,
// "" when XML forbids it (it is dropped), or nullptr when it is written as it is. With attr, TAB, LF and
// CR become references too (attribute-value normalisation would turn them into blanks); with cr, CR does
// (a conformant parser reads a raw CR as LF). '&' is the caller's: every one escaped, or as
// KeepOrEscapeAmpersand decides.
const char* XmlEscapeOf(std::uint32_t c, bool attr, bool cr);

// Escapes '"', '\'', '<', '>' and '&' (every '&' with allAmp, else as KeepOrEscapeAmpersand decides) and
// drops the characters XML forbids; the UTF-16 version also replaces lone surrogates with U+FFFD.
std::string EscapeXmlText(const std::string& text, bool allAmp);
std::u16string EscapeXmlText(const std::u16string& text, bool allAmp);

// Decides for the '&' at the 1-based position and appends to destination: the '&' itself when it starts
// "&amp;", "&lt;", "&gt;", "&quot;", "&apos;" or a character reference to a character XML allows;
// "&amp;" otherwise.
void KeepOrEscapeAmpersand(const std::string& text, std::size_t position, std::string& destination);
void KeepOrEscapeAmpersand(const std::u16string& text, std::size_t position, std::u16string& destination);

// 1-based position of the first occurrence of substring in text; 0 when none or substring is empty.
std::size_t AnsiStrPos(const std::string& substring, const std::string& text);

// UTF-16 to UTF-8 with the characters XML forbids dropped and lone surrogates as U+FFFD.
std::string Utf16ToXmlUtf8(const std::u16string& text);
// UTF-8 to UTF-16; malformed sequences become U+FFFD.
std::u16string Utf8ToUtf16(const std::string& bytes);
// True for a code point XML 1.0 allows in a document (after the drops above).
bool IsXmlAllowedChar(std::uint32_t codePoint);
