#include "app/core/trans.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "platform/qt/IniFile.h"

namespace {

using platform::TIniFile;

struct LangFile {
  QTemporaryDir dir;
  QString path;
  explicit LangFile(const QByteArray& text) : path(dir.filePath("Test.lng")) {
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(text);
  }
};

TEST(Trans, GetLangStringLooksUpAndWritesBackDefaults) {
  LangFile lf("[Language]\r\nHello=Hi;there\r\nEmpty=\r\n[*Language]\r\n*A=husband\r\n");
  TIniFile ini(lf.path);
  EXPECT_EQ(GetLangString("Hello", &ini, "x"), "Hi\r\nthere");
  EXPECT_EQ(GetLangString("hello", &ini, "x"), "Hi\r\nthere");  // keys ignore case
  EXPECT_EQ(GetLangString("Empty", &ini, "Пусто"), "Пусто");      // empty counts as missing
  EXPECT_EQ(GetLangString("Two", &ini, "a\r\nb"), "a\r\nb");
  EXPECT_EQ(GetLangString("*A", &ini, "Муж"), "husband");
  EXPECT_EQ(GetLangString("*B", &ini, "Жена"), "");  // a missing star key: empty, not written
  EXPECT_EQ(GetLangString("_Hint", &ini, "hint"), "hint");
  EXPECT_EQ(GetLangString("", &ini, "d"), "d");
  EXPECT_EQ(GetLangString("Hello", nullptr, "d"), "d");
  EXPECT_EQ(GetLangString("None", &ini, ""), "");
  const TIniFile back(lf.path);
  EXPECT_EQ(back.ReadString("Language", "Empty", ""), "Пусто");
  EXPECT_EQ(back.ReadString("Language", "Two", ""), "a;b");
  EXPECT_FALSE(back.ValueExists("*Language", "*B"));
  EXPECT_FALSE(back.ValueExists("Language", "None"));
  EXPECT_FALSE(back.ValueExists("Language", "_Hint"));
}

TEST(Trans, TransliterateByTheTable) {
  LangFile lf("[Transliteration]\r\nщ=shh;shch;sch\r\nу=u\r\nк=k\r\nи=i\r\nн=n\r\nя=ja;ia\r\n1я=ja;ya\r\n");
  TIniFile ini(lf.path);
  struct Case { const char* text; int variant; const char* out; };
  const Case cases[] = {
      {"Щукин", 1, "Shhukin"}, {"ЩУКИН", 1, "SHHUKIN"}, {"щукин", 1, "shhukin"},
      {"Щукин", 2, "Shhukin"},  // the second variant is read from two-part values only
      {"Щукин", 3, "Schukin"},
      {"Яня", 2, "Yania"},       // word start uses the "1" form
      {"Щ", 1, "Shh"},           // a single letter counts as title case
      {"Щукин-2 Z", 1, "Shhukin-2 Z"},  // letters not in the table are copied
      {"", 1, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Transliterate(&ini, QString::fromUtf8(c.text), c.variant), QString::fromUtf8(c.out)) << c.text;
  EXPECT_EQ(Transliterate(nullptr, "Щукин", 1), "");
}

}  // namespace
