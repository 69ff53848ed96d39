// Markup-preserving escaping of cell and note texts: well-formed, properly nested pairs of the formatting
// tags the format defines stay markup, everything else becomes escaped text. The result is always
// well-formed element content.
#include <cstdint>
#include <string>
#include <vector>

#include "sheet/shevrix.h"

namespace {

// Tag and attribute names are kept only when built of ASCII letters, digits, '_', '-' and '.': every XML
// parser accepts those, while the wider name tables of newer XML editions are not known to older parsers.
bool IsNameStartChar(std::uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }

bool IsNameChar(std::uint32_t c) { return IsNameStartChar(c) || c == '-' || c == '.' || (c >= '0' && c <= '9'); }

// A name without a colon.
bool IsNCName(const std::u16string& s, std::size_t from, std::size_t to) {
  if (from >= to) return false;
  std::size_t i = from;
  bool first = true;
  while (i < to) {
    std::uint32_t c = s[i++];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i >= to || s[i] < 0xDC00 || s[i] > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i++] - 0xDC00);
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    if (first ? !IsNameStartChar(c) : !IsNameChar(c)) return false;
    first = false;
  }
  return true;
}

// The formatting elements the format defines inside a cell's data (in the HTML namespace, optionally
// written with the workbook's "html" prefix). Readers show nothing of the text inside any other element,
// so every other tag is escaped and stays visible as text.
bool IsDefinedTag(const std::u16string& name) {
  static const char16_t* const kTags[] = {u"B", u"I", u"U", u"S", u"Sub", u"Sup", u"Font", u"Span"};
  const std::u16string local = name.rfind(u"html:", 0) == 0 ? name.substr(5) : name;
  if (!IsNCName(local, 0, local.size())) return false;
  for (const char16_t* tag : kTags)
    if (local == tag) return true;
  return false;
}

// The attributes the format defines for those elements: the font's colour, face, size, character set
// and family.
bool IsDefinedAttribute(const std::u16string& tag, const std::u16string& name) {
  static const char16_t* const kFontAttributes[] = {u"html:Color", u"html:Face", u"html:Size", u"x:CharSet",
                                                    u"x:Family"};
  if (tag != u"Font" && tag != u"html:Font") return false;
  for (const char16_t* attribute : kFontAttributes)
    if (name == attribute) return true;
  return false;
}

bool IsBlank(char16_t c) { return c == u'\t' || c == u'\n' || c == u'\r' || c == u' '; }

// The text with the characters XML forbids dropped and lone surrogates replaced by U+FFFD.
std::u16string CleanText(const std::u16string& text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t u = text[i];
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        out.push_back(u);
        out.push_back(text[++i]);
      } else {
        out.push_back(0xFFFD);
      }
      continue;
    }
    if (u >= 0xDC00 && u <= 0xDFFF) {
      out.push_back(0xFFFD);
      continue;
    }
    if (IsXmlAllowedChar(u)) out.push_back(u);
  }
  return out;
}

// Appends one character of cleaned text by the library's one escaping rule (XmlEscapeOf), CR as a
// reference; with asAttribute TAB, LF and CR become references too.
void AppendEscaped(char16_t c, bool asAttribute, std::u16string& out) {
  const char* reference = c < 0x80 ? XmlEscapeOf(c, asAttribute, true) : nullptr;
  if (reference == nullptr) {
    out.push_back(c);
    return;
  }
  for (; *reference != 0; ++reference) out.push_back(static_cast<char16_t>(*reference));
}

}  // namespace

void ParseMarkupTag(const std::u16string& text, std::size_t& position, StackData& entry) {
  const std::size_t start = position;
  const std::size_t gt = text.find(u'>', start + 1);
  if (gt == std::u16string::npos) {
    entry.isBad = true;
    entry.RawTag = text.substr(start);
    position = text.empty() ? 0 : text.size() - 1;
    return;
  }

  std::u16string t;             // token being read
  bool nameTaken = false;
  std::u16string a;             // attribute name read as a bare word, or the name of the value being read
  int v = 0;                    // 0 none, 1 after '=', 2 inside a quoted value
  char16_t quote = 0;           // the quote that opened the value
  bool afterValue = false;      // a value just closed: a blank or the end must follow
  std::vector<std::u16string> names;
  bool bad = false;

  auto takeName = [&]() {
    if (!IsDefinedTag(t)) return false;
    entry.TagName = t;
    entry.RawTag += t;
    t.clear();
    nameTaken = true;
    return true;
  };

  for (std::size_t i = start + 1; i <= gt && !bad; ++i) {
    const char16_t c = text[i];
    if (v == 2 && c != quote && c != u'&' && c != u'<' && c != u'>' && c != u'=') {
      t.push_back(c);  // blanks, the other quote, slashes and the rest belong to the value
      continue;
    }
    if (IsBlank(c)) {
      afterValue = false;
      if (!nameTaken) {
        if (t.empty() || !takeName()) {
          bad = true;
          break;
        }
      } else if (!t.empty()) {
        if (entry.isClose || !a.empty() || v != 0) {
          bad = true;
          break;
        }
        a = t;
        entry.RawTag += t;
        t.clear();
      }
      entry.RawTag.push_back(c);
      continue;
    }
    switch (c) {
      case u'"':
      case u'\'':
        if (v == 0 || (v == 1 && !t.empty())) {
          bad = true;
        } else if (v == 1) {
          v = 2;
          quote = c;
          entry.RawTag.push_back(c);
        } else {  // closing quote of the value
          entry.RawTag += t;
          entry.RawTag.push_back(c);
          t.clear();
          a.clear();
          v = 0;
          afterValue = true;
        }
        break;
      case u'&':
        if (v == 2)
          KeepOrEscapeAmpersand(text, i + 1, t);
        else
          bad = true;
        break;
      case u'/':
        if (!nameTaken) {
          if (!t.empty() || entry.isClose) {
            bad = true;
          } else {
            entry.RawTag.push_back(c);
            entry.isClose = true;
          }
        } else if (afterValue || entry.isClose) {
          bad = true;
        } else {
          t.push_back(c);
        }
        break;
      case u'<':
        if (v == 2)
          t.append(u"&lt;");
        else
          bad = true;
        break;
      case u'=': {
        if (v != 0 || !nameTaken || entry.isClose || afterValue || (!t.empty() && !a.empty())) {
          bad = true;
          break;
        }
        std::u16string name = t.empty() ? a : t;
        if (!IsDefinedAttribute(entry.TagName, name)) {
          bad = true;
          break;
        }
        for (const auto& n : names) {
          if (n == name) {
            bad = true;
            break;
          }
        }
        if (bad) break;
        names.push_back(name);
        entry.RawTag += t;
        entry.RawTag.push_back(u'=');
        t.clear();
        a = name;
        v = 1;
        break;
      }
      case u'>':
        if (v != 0 || !a.empty()) {
          bad = true;
        } else if (!t.empty()) {
          if (nameTaken || !takeName()) bad = true;
        } else if (!nameTaken) {
          bad = true;  // no name at all
        }
        if (!bad) entry.RawTag.push_back(c);
        break;
      default:
        if (afterValue) {
          bad = true;
        } else {
          t.push_back(c);
        }
    }
  }
  if (bad) {
    entry.isBad = true;
    entry.RawTag = text.substr(start, gt - start + 1);
  }
  position = gt;
}

std::u16string CorrectMarkupText(const std::u16string& source, bool& kept) {
  const std::u16string text = CleanText(source);
  std::u16string pending;  // P
  std::u16string result;   // R
  kept = false;
  struct Entry {
    StackData data;
    std::u16string source;  // the tag as it stood in the text
  };
  std::vector<Entry> stack;

  auto writeAsText = [&](Entry& e) {
    pending = e.data.TextBeforeTag;
    pending += EscapeXmlText(e.source, true);
  };

  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = text[i];
    switch (c) {
      case u'\n':
        // A line break (LF, or CR LF as one) is written as the reference of LF, so that it survives
        // whatever a reader does with raw line ends.
        if (i == 0 || text[i - 1] != u'\r') AppendEscaped(u'\n', true, pending);
        break;
      case u'\r':
        if (i + 1 < n && text[i + 1] == u'\n')
          AppendEscaped(u'\n', true, pending);
        else
          AppendEscaped(c, false, pending);  // a lone CR as a reference: a parser would read a raw one as LF
        break;
      case u'&': KeepOrEscapeAmpersand(text, i + 1, pending); break;
      case u'<': {
        Entry e;
        e.data.TextBeforeTag = std::move(pending);
        e.data.RawTag.assign(1, u'<');
        pending.clear();
        const std::size_t start = i;
        ParseMarkupTag(text, i, e.data);
        e.source = text.substr(start, i - start + 1);
        if (e.data.isBad) {
          writeAsText(e);
        } else if (!e.data.isClose) {
          stack.push_back(std::move(e));
        } else if (stack.empty() || stack.back().data.TagName != e.data.TagName) {
          writeAsText(e);
        } else {
          Entry open = std::move(stack.back());
          stack.pop_back();
          std::u16string pieces = std::move(open.data.TextBeforeTag);
          pieces += open.data.RawTag;
          pieces += open.data.Content;
          pieces += e.data.TextBeforeTag;
          pieces += e.data.RawTag;
          if (stack.empty())
            result += pieces;
          else
            stack.back().data.Content += pieces;
          kept = true;
        }
        break;
      }
      default:
        AppendEscaped(c, false, pending);
    }
  }
  // Elements left open: their own tag becomes text, their completed children stay markup.
  for (Entry& e : stack) {
    result += e.data.TextBeforeTag;
    result += EscapeXmlText(e.source, true);
    result += e.data.Content;
  }
  result += pending;
  return result;
}

std::u16string CorrectMarkupText(const std::u16string& text) {
  bool kept = false;
  return CorrectMarkupText(text, kept);
}
