// Test helper: checks text with an independent XML parser (expat) and collects the character data.
#pragma once

#include <expat.h>

#include <string>

struct XmlParseResult {
  bool ok = false;
  std::string error;
  std::string text;  // character data of the document, UTF-8
  int elements = 0;
};

inline XmlParseResult ParseXml(const std::string& document) {
  XmlParseResult result;
  XML_Parser parser = XML_ParserCreate("UTF-8");
  XML_SetUserData(parser, &result);
  XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* s, int len) {
    static_cast<XmlParseResult*>(data)->text.append(s, static_cast<std::size_t>(len));
  });
  XML_SetStartElementHandler(parser, [](void* data, const XML_Char*, const XML_Char**) {
    ++static_cast<XmlParseResult*>(data)->elements;
  });
  if (XML_Parse(parser, document.data(), static_cast<int>(document.size()), 1) == XML_STATUS_OK) {
    result.ok = true;
  } else {
    result.error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                   std::to_string(XML_GetCurrentLineNumber(parser)) + " column " +
                   std::to_string(XML_GetCurrentColumnNumber(parser));
  }
  XML_ParserFree(parser);
  return result;
}
