// Fuzz body shared by the libFuzzer target and the corpus replay test: the input bytes, read as UTF-16
// units, go through the markup escaping and through the XML writer as text and as an attribute value; each
// result must parse as XML. Returns false (the fuzzer aborts) when one does not.
#pragma once

#include <expat.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "sheet/shevrix.h"
#include "sheet/zxmlwriter.h"

inline bool SheetMarkupParses(const std::string& document) {
  XML_Parser parser = XML_ParserCreate("UTF-8");
  bool ok = XML_Parse(parser, document.data(), static_cast<int>(document.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

inline bool SheetMarkupFuzzOne(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  text.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2)
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));

  bool kept = false;
  const std::u16string corrected = CorrectMarkupText(text, kept);
  const std::string cell = "<Data xmlns:html=\"h\" xmlns:ss=\"s\" xmlns:x=\"x\" xmlns:o=\"o\">" +
                           Utf16ToXmlUtf8(corrected) + "</Data>";
  if (!SheetMarkupParses(cell)) return false;

  TZXMLWriterH xml;
  xml.SetTabLength(1);
  xml.SetMaxBufferLength(7);
  if (!xml.BeginSaveToString()) return false;
  xml.WriteTagNode(u"Root", std::vector<TZAttrArrayH>{{u"v", text}}, true, true, true);
  xml.WriteTag(u"Plain", text);
  xml.WriteTag(u"Kept", corrected, std::vector<TZAttrArrayH>{{u"n", u"1"}}, true, false, false);
  xml.WriteCDATA(text);
  xml.WriteComment(text, true);
  xml.EndSaveTo();
  return SheetMarkupParses(xml.RawBuffer());
}
