// The shipped translation files themselves: their transliteration tables give the letters of each
// variant ("ISO9", "ГОСТ", "Другой") under the program's variant rule.
#include <gtest/gtest.h>

#include <string>

#include <QFile>
#include <QTemporaryDir>

#include "app/core/trans.h"
#include "platform/qt/IniFile.h"

namespace {

struct Case {
  const char* name;
  const char* iso;
  const char* gost;
  const char* other;
};

// GOST: ё e, й i, щ shch, ъ ie, ь dropped, ю iu, я ia. A value with three forms gives "ГОСТ" its first
// (ISO) form, so these letters carry two forms, and "Другой" takes the GOST form for them.
const Case kCases[] = {
    {"Щукин", "Ŝukin", "Shchukin", "Shchukin"},
    {"ЩУКИН", "ŜUKIN", "SHCHUKIN", "SHCHUKIN"},
    {"Юрьев", "Ûrʹev", "Iurev", "Iurev"},
    {"Ёлкин", "Ëlkin", "Elkin", "Elkin"},
    {"Майя", "Majâ", "Maiia", "Maiia"},
    {"Подъячев", "Podʺâčev", "Podieiachev", "Podieiachev"},
    {"Евгений Хрущёв", "Evgenij Hruŝëv", "Evgenii Khrushchev", "Yevgenii Khrushchev"},
    {"Зайцева Анна", "Zajceva Anna", "Zaitseva Anna", "Zaitseva Anna"},
};

TEST(ShippedTranslations, TransliterationTablesGiveEachVariant) {
  for (const char* file : {"English.lng", "Ukrainian.lng"}) {
    // A copy: lookups may write missing keys back.
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(file));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TREVOLAN_SOURCE_DIR "/LNG/") + QLatin1String(file), path));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    platform::TIniFile ini(path);
    for (const Case& c : kCases) {
      const QString name = QString::fromUtf8(c.name);
      EXPECT_EQ(Transliterate(&ini, name, 1).toStdString(), c.iso) << file << " " << c.name;
      EXPECT_EQ(Transliterate(&ini, name, 2).toStdString(), c.gost) << file << " " << c.name;
      EXPECT_EQ(Transliterate(&ini, name, 3).toStdString(), c.other) << file << " " << c.name;
    }
  }
}

}  // namespace
