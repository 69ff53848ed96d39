// Code page, collation and case mapping of the engine's run-time layer.
#include "engine/foundation/NRDText.h"

#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include <unicode/uchar.h>
#include <unicode/ucol.h>

#include "platform/CodePage.h"

namespace nrd {

namespace {

struct CodePageTables {
  char16_t toWide[256];
  std::uint16_t toAnsi[65536];  // byte + 1, 0 when the unit is not in the code page
  char upper[256];
  char lower[256];
};

std::unique_ptr<CodePageTables> BuildTables(const char16_t (&table)[256]) {
  auto t = std::make_unique<CodePageTables>();
  std::memset(t->toAnsi, 0, sizeof t->toAnsi);
  for (int b = 255; b >= 0; --b) {
    t->toWide[b] = table[b];
    t->toAnsi[table[b]] = static_cast<std::uint16_t>(b + 1);
  }
  for (int b = 0; b < 256; ++b) {
    char16_t u = u_toupper(table[b]) <= 0xFFFF ? static_cast<char16_t>(u_toupper(table[b])) : table[b];
    char16_t l = u_tolower(table[b]) <= 0xFFFF ? static_cast<char16_t>(u_tolower(table[b])) : table[b];
    t->upper[b] = t->toAnsi[u] ? static_cast<char>(t->toAnsi[u] - 1) : static_cast<char>(b);
    t->lower[b] = t->toAnsi[l] ? static_cast<char>(t->toAnsi[l] - 1) : static_cast<char>(b);
  }
  return t;
}

std::unique_ptr<CodePageTables> Cp1251Tables() {
  char16_t table[256];
  for (int b = 0; b < 256; ++b) table[b] = platform::Cp1251ToUnit(static_cast<std::uint8_t>(b));
  return BuildTables(table);
}

// Tables are replaced only at start-up; old ones are kept alive so that no reader sees freed memory.
std::vector<std::unique_ptr<CodePageTables>>& AllTables() {
  static std::vector<std::unique_ptr<CodePageTables>> all;
  return all;
}
std::atomic<const CodePageTables*> gTables{nullptr};

const CodePageTables& Tables() {
  const CodePageTables* t = gTables.load(std::memory_order_acquire);
  if (t == nullptr) {
    static const CodePageTables* initial = [] {
      AllTables().push_back(Cp1251Tables());
      return AllTables().back().get();
    }();
    const CodePageTables* expected = nullptr;
    gTables.compare_exchange_strong(expected, initial);
    t = gTables.load(std::memory_order_acquire);
  }
  return *t;
}

std::atomic<int> gDefaultLocale{1049};

const char* LocaleName(int lcid) {
  if (lcid == LOCALE_USER_DEFAULT || lcid == LOCALE_SYSTEM_DEFAULT || lcid == 0) lcid = gDefaultLocale.load();
  switch (lcid) {
    case 1049: return "ru_RU";
    case 1058: return "uk_UA";
    case 1059: return "be_BY";
    case 1087: return "kk_KZ";
    case 1033: return "en_US";
    case 2057: return "en_GB";
    case 1031: return "de_DE";
    case 1036: return "fr_FR";
    case 1045: return "pl_PL";
    case 1029: return "cs_CZ";
    case 1040: return "it_IT";
    case 3082: return "es_ES";
    case LOCALE_INVARIANT: return "";
    default: return nullptr;
  }
}

struct CollatorEntry {
  int lcid;
  bool ignoreCase;
  bool ignoreNonSpace;
  UCollator* collator;
};

class CollatorCache {
 public:
  ~CollatorCache() {
    for (auto& e : entries_) ucol_close(e.collator);
  }
  UCollator* Get(int lcid, bool ignoreCase, bool ignoreNonSpace) {
    int effective = (lcid == LOCALE_USER_DEFAULT || lcid == LOCALE_SYSTEM_DEFAULT || lcid == 0) ? gDefaultLocale.load() : lcid;
    for (auto& e : entries_)
      if (e.lcid == effective && e.ignoreCase == ignoreCase && e.ignoreNonSpace == ignoreNonSpace) return e.collator;
    const char* name = LocaleName(effective);
    if (name == nullptr) return nullptr;
    UErrorCode status = U_ZERO_ERROR;
    UCollator* c = ucol_open(name, &status);
    if (U_FAILURE(status) || c == nullptr) return nullptr;
    // String sort: punctuation and symbols take part in the order.
    ucol_setAttribute(c, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    ucol_setAttribute(c, UCOL_STRENGTH,
                      ignoreNonSpace ? UCOL_PRIMARY : ignoreCase ? UCOL_SECONDARY : UCOL_TERTIARY, &status);
    if (ignoreNonSpace && !ignoreCase) ucol_setAttribute(c, UCOL_CASE_LEVEL, UCOL_ON, &status);
    ucol_setAttribute(c, UCOL_NORMALIZATION_MODE, UCOL_OFF, &status);
    // Scripts in the platform's order (Latin before Cyrillic), not the locale's own reordering.
    ucol_setReorderCodes(c, nullptr, 0, &status);
    if (U_FAILURE(status)) {
      ucol_close(c);
      return nullptr;
    }
    entries_.push_back({effective, ignoreCase, ignoreNonSpace, c});
    return c;
  }

 private:
  std::vector<CollatorEntry> entries_;
};

UCollator* CollatorFor(int lcid, unsigned flags) {
  thread_local CollatorCache cache;
  return cache.Get(lcid, (flags & NORM_IGNORECASE) != 0, (flags & NORM_IGNORENONSPACE) != 0);
}

int ToResult(UCollationResult r) {
  return r == UCOL_LESS ? CSTR_LESS_THAN : r == UCOL_EQUAL ? CSTR_EQUAL : CSTR_GREATER_THAN;
}

template <typename C> int Length(const C* text, int length) {
  if (text == nullptr) return 0;
  if (length >= 0) return length;
  int n = 0;
  while (text[n] != 0) ++n;
  return n;
}

}  // namespace

void SetAnsiCodePage(const char16_t (&table)[256]) {
  Tables();  // make sure the default exists first
  AllTables().push_back(BuildTables(table));
  gTables.store(AllTables().back().get(), std::memory_order_release);
}

void ResetAnsiCodePage() {
  AllTables().push_back(Cp1251Tables());
  gTables.store(AllTables().back().get(), std::memory_order_release);
}

char16_t AnsiCharToWide(std::uint8_t byte) { return Tables().toWide[byte]; }

std::uint8_t WideCharToAnsi(char16_t unit, bool* ok) {
  std::uint16_t v = Tables().toAnsi[unit];
  if (ok) *ok = v != 0;
  return v ? static_cast<std::uint8_t>(v - 1) : static_cast<std::uint8_t>('?');
}

std::u16string AnsiToWide(std::string_view text) {
  const CodePageTables& t = Tables();
  std::u16string r(text.size(), u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) r[i] = t.toWide[static_cast<std::uint8_t>(text[i])];
  return r;
}

std::string WideToAnsi(std::u16string_view text) {
  const CodePageTables& t = Tables();
  std::string r(text.size(), '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint16_t v = t.toAnsi[text[i]];
    r[i] = v ? static_cast<char>(v - 1) : '?';
  }
  return r;
}

bool IsAnsiRepresentable(std::u16string_view text) {
  const CodePageTables& t = Tables();
  for (char16_t c : text)
    if (t.toAnsi[c] == 0) return false;
  return true;
}

void SetDefaultLocale(int localeId) { gDefaultLocale.store(localeId); }
int DefaultLocale() { return gDefaultLocale.load(); }

int CompareStringW(int locale, unsigned flags, const char16_t* text1, int length1, const char16_t* text2,
                   int length2) {
  int n1 = Length(text1, length1), n2 = Length(text2, length2);
  UCollator* c = CollatorFor(locale, flags);
  if (c == nullptr) return 0;
  if (n1 == n2 && (n1 == 0 || std::memcmp(text1, text2, static_cast<std::size_t>(n1) * 2) == 0)) return CSTR_EQUAL;
  return ToResult(ucol_strcoll(c, reinterpret_cast<const UChar*>(text1), n1, reinterpret_cast<const UChar*>(text2), n2));
}

int CompareStringA(int locale, unsigned flags, const char* text1, int length1, const char* text2, int length2) {
  int n1 = Length(text1, length1), n2 = Length(text2, length2);
  UCollator* c = CollatorFor(locale, flags);
  if (c == nullptr) return 0;
  if (n1 == n2 && (n1 == 0 || std::memcmp(text1, text2, static_cast<std::size_t>(n1)) == 0)) return CSTR_EQUAL;
  const CodePageTables& t = Tables();
  char16_t small1[256], small2[256];
  std::u16string big1, big2;
  char16_t* w1 = small1;
  char16_t* w2 = small2;
  if (n1 > 256) {
    big1.resize(static_cast<std::size_t>(n1));
    w1 = big1.data();
  }
  if (n2 > 256) {
    big2.resize(static_cast<std::size_t>(n2));
    w2 = big2.data();
  }
  for (int i = 0; i < n1; ++i) w1[i] = t.toWide[static_cast<std::uint8_t>(text1[i])];
  for (int i = 0; i < n2; ++i) w2[i] = t.toWide[static_cast<std::uint8_t>(text2[i])];
  return ToResult(ucol_strcoll(c, reinterpret_cast<const UChar*>(w1), n1, reinterpret_cast<const UChar*>(w2), n2));
}

int AnsiCompareText(std::string_view a, std::string_view b, bool caseInsensitive, int locale) {
  return CompareStringA(locale, SORT_STRINGSORT | (caseInsensitive ? NORM_IGNORECASE : 0u), a.data(),
                        static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
}

std::string AnsiSortKey(std::string_view text, bool caseInsensitive, int locale) {
  UCollator* c = CollatorFor(locale, SORT_STRINGSORT | (caseInsensitive ? NORM_IGNORECASE : 0u));
  if (c == nullptr) return std::string();
  const CodePageTables& t = Tables();
  std::u16string wide(text.size(), u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) wide[i] = t.toWide[static_cast<std::uint8_t>(text[i])];
  const auto* src = reinterpret_cast<const UChar*>(wide.data());
  const auto n = static_cast<std::int32_t>(wide.size());
  std::string key(64, '\0');
  std::int32_t needed = ucol_getSortKey(c, src, n, reinterpret_cast<std::uint8_t*>(key.data()), 64);
  if (needed > 64) {
    key.assign(static_cast<std::size_t>(needed), '\0');
    needed = ucol_getSortKey(c, src, n, reinterpret_cast<std::uint8_t*>(key.data()), needed);
  }
  // The key ends with a zero byte that takes no part in the order.
  key.resize(static_cast<std::size_t>(needed > 0 ? needed - 1 : 0));
  return key;
}

int WideCompareText(std::u16string_view a, std::u16string_view b, bool caseInsensitive, int locale) {
  return CompareStringW(locale, SORT_STRINGSORT | (caseInsensitive ? NORM_IGNORECASE : 0u), a.data(),
                        static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
}

char16_t WideUpperChar(char16_t c) {
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  UChar32 u = u_toupper(c);
  return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

char16_t WideLowerChar(char16_t c) {
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  UChar32 u = u_tolower(c);
  return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

std::int32_t CharUpperBuffW(char16_t* text, std::int32_t length) {
  for (std::int32_t i = 0; i < length; ++i) text[i] = WideUpperChar(text[i]);
  return length < 0 ? 0 : length;
}

std::int32_t CharLowerBuffW(char16_t* text, std::int32_t length) {
  for (std::int32_t i = 0; i < length; ++i) text[i] = WideLowerChar(text[i]);
  return length < 0 ? 0 : length;
}

std::u16string WideUpperCase(std::u16string_view text) {
  std::u16string r(text);
  CharUpperBuffW(r.data(), static_cast<std::int32_t>(r.size()));
  return r;
}

std::u16string WideLowerCase(std::u16string_view text) {
  std::u16string r(text);
  CharLowerBuffW(r.data(), static_cast<std::int32_t>(r.size()));
  return r;
}

char AnsiUpperChar(char c) { return Tables().upper[static_cast<std::uint8_t>(c)]; }
char AnsiLowerChar(char c) { return Tables().lower[static_cast<std::uint8_t>(c)]; }

std::string AnsiUpperCase(std::string_view text) {
  const CodePageTables& t = Tables();
  std::string r(text);
  for (char& c : r) c = t.upper[static_cast<std::uint8_t>(c)];
  return r;
}

bool AnsiSameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const CodePageTables& t = Tables();
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && t.upper[static_cast<std::uint8_t>(a[i])] != t.upper[static_cast<std::uint8_t>(b[i])])
      return false;
  return true;
}

std::string AnsiLowerCase(std::string_view text) {
  const CodePageTables& t = Tables();
  std::string r(text);
  for (char& c : r) c = t.lower[static_cast<std::uint8_t>(c)];
  return r;
}

}  // namespace nrd
