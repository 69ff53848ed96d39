// The Qt stand-ins: ini file, client dataset, message formatter.
#include <gtest/gtest.h>

#include <QDir>
#include <cstdint>
#include <QFile>
#include <QTemporaryDir>

#include "platform/qt/ClientDataSet.h"
#include "platform/qt/IniFile.h"
#include "platform/qt/MessageFormat.h"

namespace {

using platform::TClientDataSet;
using platform::TIniFile;

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
}

TEST(IniFile, EncodingIsDetectedAndKeptOnWrite) {
  QTemporaryDir dir;
  const QString text = QStringLiteral("[Language]\r\nKey=Привет\r\n");
  struct Case { TIniFile::Encoding enc; QByteArray bytes; };
  const Case cases[] = {
      {TIniFile::Encoding::Utf16Le, TIniFile::Encode(text, TIniFile::Encoding::Utf16Le)},
      {TIniFile::Encoding::Utf8Bom, TIniFile::Encode(text, TIniFile::Encoding::Utf8Bom)},
      {TIniFile::Encoding::Utf8, text.toUtf8()},
      {TIniFile::Encoding::Cp1251, TIniFile::Encode(text, TIniFile::Encoding::Cp1251)},
  };
  int n = 0;
  for (const Case& c : cases) {
    const QString path = dir.filePath(QString::number(n++) + ".ini");
    WriteAll(path, c.bytes);
    TIniFile ini(path);
    EXPECT_EQ(ini.FileEncoding(), c.enc);
    EXPECT_EQ(ini.ReadString("language", "KEY", "-"), QStringLiteral("Привет"));
    ASSERT_TRUE(ini.WriteString("Language", "Other", QStringLiteral("Ёж")));
    const QByteArray written = ReadAll(path);
    TIniFile::Encoding again;
    const QString decoded = TIniFile::Decode(written, &again);
    EXPECT_EQ(again, c.enc);
    EXPECT_TRUE(decoded.contains(QStringLiteral("Other=Ёж")));
  }
  // Bytes that are not valid UTF-8 are Windows-1251.
  TIniFile::Encoding e;
  EXPECT_EQ(TIniFile::Decode(QByteArray("\xC8\x98\xE9"), &e).size(), 3);
  EXPECT_EQ(e, TIniFile::Encoding::Cp1251);
}

TEST(IniFile, ValuesKeysAndNumbers) {
  QTemporaryDir dir;
  const QString path = dir.filePath("t.ini");
  WriteAll(path, "[Options]\r\n  Spin = 12 \r\nBad=12x\r\nHex=$1F\r\nQ=\"a b\"\r\nEmpty=\r\n");
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadInteger("OPTIONS", "spin", 0), 12);
  EXPECT_EQ(ini.ReadInteger("Options", "Bad", 5), 5);
  EXPECT_EQ(ini.ReadInteger("Options", "Hex", 0), 31);
  EXPECT_EQ(ini.ReadString("Options", "Q", ""), "a b");
  EXPECT_TRUE(ini.ValueExists("Options", "Empty"));
  EXPECT_EQ(ini.ReadString("Options", "Missing", "d"), "d");
  EXPECT_EQ(ini.ReadBool("Options", "Bad", true), true);
  // A write reaches the file at once; a new file is UTF-8.
  TIniFile fresh(dir.filePath("new.ini"));
  ASSERT_TRUE(fresh.WriteBool("Options", "CheckBox1", true));
  EXPECT_EQ(ReadAll(dir.filePath("new.ini")), QByteArray("[Options]\r\nCheckBox1=1\r\n"));
  // Line breaks in a value cannot create new keys.
  ASSERT_TRUE(fresh.WriteString("Options", "Edit1", "a\r\nEvil=1"));
  EXPECT_FALSE(TIniFile(dir.filePath("new.ini")).ValueExists("Options", "Evil"));
}

TEST(IniFile, AnyBytesReadWithoutHarm) {
  QTemporaryDir dir;
  const QString path = dir.filePath("r.ini");
  std::uint32_t seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  const char alphabet[] = "[]=;\r\n \xFF\xFE\xEF\xBB\xBF\xD0\x98" "abc";
  for (int round = 0; round < 60; ++round) {
    QByteArray bytes;
    const int n = static_cast<int>(next() % 200);
    for (int i = 0; i < n; ++i)
      bytes.append(round % 2 ? static_cast<char>(next() >> 16) : alphabet[(next() >> 16) % (sizeof alphabet - 1)]);
    WriteAll(path, bytes);
    TIniFile ini(path);
    for (const QString& key : ini.ReadSection("a")) (void)ini.ReadString("a", key, "");
    (void)ini.ReadInteger("Options", "x", 0);
    ASSERT_TRUE(ini.WriteString("Options", "k", "v"));
    EXPECT_EQ(TIniFile(path).ReadString("Options", "k", ""), "v");
  }
}

TEST(MessageFormat, PatternsTakeArgumentsLiterally) {
  using platform::FormatMsg;
  EXPECT_EQ(FormatMsg("%s of %s", {"1", "2"}), "1 of 2");
  EXPECT_EQ(FormatMsg("%s", {"%s%d 100%"}), "%s%d 100%");
  EXPECT_EQ(FormatMsg("100%% %s %s", {"a"}), "100% a ");
  EXPECT_EQ(FormatMsg("end %", {}), "end %");
}

TEST(ClientDataSet, OrderFilterLocateAndRecordNumber) {
  TClientDataSet ds;
  ds.SetFieldDefs({{"name", platform::TFieldType::WideString, 5}, {"n", platform::TFieldType::Integer, 0}});
  ds.CreateDataSet();
  int scrolls = 0;
  ds.AfterScroll = [&] { ++scrolls; };
  const char* names[] = {"Яков", "анна", "Ёлкин", "Борис", "ЕгорAAAAAA"};
  for (int i = 0; i < 5; ++i) ds.AppendRecord({QString::fromUtf8(names[i]), i + 1});
  EXPECT_GE(scrolls, 5);
  EXPECT_EQ(ds.Value(4, 0).toString(), QStringLiteral("ЕгорA"));  // cut to the field width
  ds.SetIndexFieldNames("name");
  ds.First();
  QStringList order;
  for (; !ds.Eof(); ds.Next()) order << ds.FieldValue("name").toString();
  EXPECT_EQ(order, (QStringList{"анна", "Борис", "ЕгорA", "Ёлкин", "Яков"}));  // Russian collation
  ds.AddIndex("i0", "name", true);
  ds.SetIndexName("i0");
  ds.First();
  EXPECT_EQ(ds.FieldValue("name").toString(), "Яков");
  ASSERT_TRUE(ds.Locate("n", 2));
  EXPECT_EQ(ds.RecNo(), 5);
  ds.SetFilter([](const TClientDataSet& d, int row) { return d.Value(row, 1).toInt() % 2 == 1; });
  ds.SetFiltered(true);
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_FALSE(ds.Locate("n", 2));  // hidden rows are not found
  ASSERT_TRUE(ds.Locate("n", 1));
  // Editing keeps the row current even when it moves in the order.
  ds.SetFieldValue("name", "Аарон");
  EXPECT_EQ(ds.FieldValue("n").toInt(), 1);
  EXPECT_EQ(ds.RecNo(), 3);
}

}  // namespace
