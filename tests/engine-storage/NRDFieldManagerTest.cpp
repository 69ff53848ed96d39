// Field manager: record layouts of every type, memory and disk forms, defaults (cut to the field,
// empty texts, expressions), autoincrement sequences and field value exchange.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDStreams.h"
#include "engine/foundation/NRDTypesRoutines.h"
#include "engine/sql/NRDExpressions.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/StorageFakes.h"

using namespace nrd;
using enginetest::CodeOf;
using enginetest::ExpectNRD;
using storagetest::DefineFields;
using storagetest::RecordBuffer;

namespace {

TEST(NRDFieldManager, RecordLayoutOfEveryStorageType) {
  struct Case {
    TNRDAdvancedFieldType type;
    std::int32_t size;
    std::int32_t memory, disk;
  } table[] = {
      {aftChar, 20, 21, 21},      {aftString, 20, 21, 21},   {aftWideChar, 20, 42, 42}, {aftWideString, 20, 42, 42},
      {aftShortint, 0, 1, 1},     {aftSmallint, 0, 2, 2},    {aftInteger, 0, 4, 4},     {aftLargeint, 0, 8, 8},
      {aftByte, 0, 1, 1},         {aftWord, 0, 2, 2},        {aftCardinal, 0, 4, 4},    {aftSingle, 0, 4, 4},
      {aftDouble, 0, 8, 8},       {aftExtended, 0, 10, 10},  {aftDate, 0, 4, 4},        {aftTime, 0, 4, 4},
      {aftDateTime, 0, 8, 8},     {aftBlob, 0, 10, 6},       {aftMemo, 0, 10, 6},       {aftWideMemo, 0, 10, 6},
      {aftBoolean, 0, 2, 2},      {aftCurrency, 0, 8, 8},    {aftBytes, 16, 17, 17},    {aftVarBytes, 16, 17, 17},
  };
  TNRDFieldDefs defs;
  for (const Case& c : table) {
    TNRDFieldDef* f = defs.AddCreated();
    f->FName = "F" + std::to_string(defs.GetCount());
    f->SetFieldDefDataType(c.type, c.size);
    EXPECT_EQ(f->FMemoryDataSize, c.memory) << int(c.type);
    EXPECT_EQ(f->FDiskDataSize, c.disk) << int(c.type);
  }
  defs.RecalcFieldOffsets();
  // 24 fields: a 3-byte null bitmap, then the fields back to back in both forms.
  std::int32_t memory = 3, disk = 3;
  for (std::int32_t i = 0; i < defs.GetCount(); ++i) {
    EXPECT_EQ(defs.GetFieldDef(i)->FMemoryOffset, memory);
    EXPECT_EQ(defs.GetFieldDef(i)->FDiskOffset, disk);
    memory += table[i].memory;
    disk += table[i].disk;
  }
  EXPECT_EQ(defs.GetMemoryRecordBufferSize(), memory);
  EXPECT_EQ(defs.GetDiskRecordBufferSize(), disk);
  // Null bitmap sizes.
  for (auto [count, bitmap] : {std::pair{0, 0}, {1, 1}, {8, 1}, {9, 2}, {16, 2}, {17, 3}}) {
    TNRDFieldDefs d;
    for (int i = 0; i < count; ++i) DefineFields(d, {{"X", aftInteger, 0}});
    d.RecalcFieldOffsets();
    EXPECT_EQ(d.NullBitmapSize(), bitmap) << count;
    EXPECT_EQ(d.GetMemoryRecordBufferSize(), bitmap + 4 * count);
  }
  TNRDFieldDef unknown;
  ExpectNRD([&] { unknown.RecalcDataSizes(); }, 30050);
}

// A manager over fields A Integer, B Blob, C Varchar(5), D Smallint.
struct Table {
  Table() : mgr(nullptr) {
    DefineFields(mgr.FFieldDefs, {{"A", aftInteger, 0}, {"B", aftBlob, 0}, {"C", aftString, 5}, {"D", aftSmallint, 0}});
    mgr.RecalcFieldOffsets();
    mgr.InitLastAutoIncValues();
  }
  TNRDFieldDef& F(int i) { return *mgr.FFieldDefs.GetFieldDef(i); }
  TNRDBaseFieldManager mgr;
};

TEST(NRDFieldManager, MemoryAndDiskFormsDifferOnlyInTheBlobTail) {
  Table t;
  const std::int32_t memSize = t.mgr.FFieldDefs.GetMemoryRecordBufferSize();
  const std::int32_t diskSize = t.mgr.FFieldDefs.GetDiskRecordBufferSize();
  ASSERT_EQ(memSize - diskSize, 4);
  RecordBuffer mem(memSize), disk(diskSize), back(memSize);
  for (std::int32_t i = 0; i < memSize; ++i) mem.data()[i] = static_cast<std::uint8_t>(i * 37 + 1);
  t.mgr.MemRecordBufferToDiskRecordBuffer(mem.data(), disk.data());
  t.mgr.DiskRecordBufferToMemRecordBuffer(disk.data(), back.data());
  const std::int32_t blobTail = t.F(1).FMemoryOffset + 6;
  for (std::int32_t i = 0; i < memSize; ++i) {
    if (i >= blobTail && i < blobTail + 4)
      EXPECT_EQ(back.data()[i], 0) << i;
    else
      EXPECT_EQ(back.data()[i], mem.data()[i]) << i;
  }
  // The comparison looks at the disk bytes only: the tail does not count, an upper byte does.
  EXPECT_TRUE(t.mgr.CompareRecordBuffers(mem.data(), back.data()));
  back.data()[t.F(0).FMemoryOffset + 3] ^= 1;
  EXPECT_FALSE(t.mgr.CompareRecordBuffers(mem.data(), back.data()));
  back.data()[t.F(0).FMemoryOffset + 3] ^= 1;
  back.data()[0] ^= 0x08;  // a null bit
  EXPECT_FALSE(t.mgr.CompareRecordBuffers(mem.data(), back.data()));
  EXPECT_TRUE(t.mgr.BlobFieldsPresent());
  t.F(1).FBLOBBlockSize = 0;
  ExpectNRD([&] { t.mgr.BlobFieldsPresent(); }, 10421, "field B");
}

// Defaults through the real expression layer: a text that is an expression is computed, any other
// text is stored as it stands.
TEST(NRDFieldManager, DefaultsAreCutToTheirFieldAndEmptyTextsLeaveNothingBehind) {
  sql::InstallExpressionHooks();
  struct Case {
    const char* what;
    int field;
    std::function<void(TNRDVariant&)> set;
    bool isNull;
    std::string bytes;  // expected field bytes
  };
  const Case table[] = {
      {"integer", 0, [](TNRDVariant& v) { v.SetAsInteger(0x01020304); }, false, std::string("\x04\x03\x02\x01", 4)},
      {"text", 2, [](TNRDVariant& v) { v.SetAsAnsiString("hey"); }, false, std::string("hey\0\0\0", 6)},
      {"text longer than its field", 2, [](TNRDVariant& v) { v.SetAsAnsiString("toolongvalue"); }, false,
       std::string("toolo\0", 6)},
      {"empty text", 2, [](TNRDVariant& v) { v.SetData("", 1, bftVarchar, true); }, false, std::string(6, '\0')},
      {"text for an integer", 3, [](TNRDVariant& v) { v.SetAsAnsiString("42"); }, false, std::string("\x2A\0", 2)},
      {"expression", 3, [](TNRDVariant& v) { v.SetAsAnsiString("90 + 9"); }, false, std::string("\x63\0", 2)},
      {"null", 0, [](TNRDVariant& v) { v.Clear(bftSignedInt32); }, true, std::string("\xEE\xEE\xEE\xEE", 4)},
      {"blob default is skipped", 1, [](TNRDVariant& v) { v.SetData("x", 1, bftBlob, true); }, true,
       std::string(10, '\xEE')},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.what);
    Table t;
    c.set(t.F(c.field).FDefaultValue);
    t.F(c.field).RebuildDefaultValueExpr();
    RecordBuffer rec(t.mgr.FFieldDefs.GetMemoryRecordBufferSize());
    std::memset(rec.data(), 0xEE, static_cast<std::size_t>(rec.size));  // an earlier record's bytes
    rec.data()[0] = 0x0F;                                               // all four fields NULL
    t.mgr.ApplyDefaultValuesToRecordBuffer(nullptr, rec.data());
    EXPECT_EQ(IsFieldNull(rec.data(), c.field), c.isNull);
    const TNRDFieldDef& f = t.F(c.field);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rec.data()) + f.FMemoryOffset, c.bytes.size()), c.bytes);
    // Other fields are untouched.
    for (int i = 0; i < 4; ++i)
      if (i != c.field) {
        EXPECT_TRUE(IsFieldNull(rec.data(), i));
      }
  }
  sql::RemoveExpressionHooks();
}

struct AutoincCase {
  const char* what;
  TNRDAdvancedFieldType type;
  std::int64_t increment, initial, min, max;
  bool cycled;
  std::vector<std::optional<std::int64_t>> expected;  // nullopt: 20160
};

TEST(NRDFieldManager, AutoincrementSequences) {
  const AutoincCase table[] = {
      {"defaults", aftAutoInc, 1, 0, 0, INT64_MAX, false, {1, 2, 3}},
      {"increment 5", aftAutoInc, 5, 0, 0, INT64_MAX, false, {5, 10, 15}},
      {"increment 0 counts as 1", aftAutoInc, 0, 7, 0, INT64_MAX, false, {8, 9}},
      {"maximum 10", aftAutoInc, 5, 0, 0, 10, false, {5, 10, std::nullopt, std::nullopt}},
      {"cycled from minimum 1", aftAutoInc, 5, 0, 1, 10, true, {5, 10, 1, 6, 1}},
      {"maximum 0 means none", aftAutoIncLargeint, 1000, 0, 0, 0, false, {1000, 2000}},
      {"Shortint stops at 127", aftAutoIncShortint, 1, 125, 0, INT64_MAX, false, {126, 127, std::nullopt}},
      {"Byte cycles at 255", aftAutoIncByte, 1, 254, 0, INT64_MAX, true, {255, 0, 1}},
      {"Word stops at 65535", aftAutoIncWord, 100, 65400, 0, INT64_MAX, false, {65500, std::nullopt}},
      {"Cardinal passes 2^31", aftAutoIncCardinal, 1, 2147483647, 0, INT64_MAX, false, {2147483648LL}},
      {"Integer stops at 2^31-1", aftAutoIncInteger, 1, 2147483646, 0, INT64_MAX, false, {2147483647, std::nullopt}},
      {"negative step below a Byte's 0", aftAutoIncByte, -1, 1, 0, INT64_MAX, false, {0, std::nullopt}},
      {"Largeint at the top", aftAutoIncLargeint, 1, INT64_MAX - 1, 0, 0, false, {INT64_MAX, std::nullopt}},
      {"Largeint cycled at the top", aftAutoIncLargeint, 2, INT64_MAX - 2, -5, 0, true, {INT64_MAX, -5}},
  };
  for (const AutoincCase& c : table) {
    SCOPED_TRACE(c.what);
    TNRDBaseFieldManager mgr(nullptr);
    DefineFields(mgr.FFieldDefs, {{"N", aftString, 3}, {"ID", c.type, 0}});
    TNRDFieldDef* f = mgr.FFieldDefs.GetFieldDef(1);
    f->FAutoincIncrement = c.increment;
    f->FAutoincInitialValue = c.initial;
    f->FAutoincMinValue = c.min;
    f->FAutoincMaxValue = c.max;
    f->FAutoincCycled = c.cycled;
    mgr.InitLastAutoIncValues();
    EXPECT_EQ(mgr.FLastAutoIncValues[0], 0);
    for (std::size_t k = 0; k < c.expected.size(); ++k) {
      if (c.expected[k])
        EXPECT_EQ(mgr.IncrementLastAutoinc(1), *c.expected[k]) << k;
      else
        EXPECT_EQ(CodeOf([&] { mgr.IncrementLastAutoinc(1); }), 20160) << k;
    }
  }
  TNRDBaseFieldManager mgr(nullptr);
  DefineFields(mgr.FFieldDefs, {{"ID", aftAutoInc, 0}});
  EXPECT_EQ(CodeOf([&] { mgr.IncrementLastAutoinc(1); }), 30402);
  EXPECT_EQ(CodeOf([&] { mgr.IncrementLastAutoinc(0); }), 30403);  // counters not set up
}

TEST(NRDFieldManager, PostedValuesRaiseTheCounterAndSessionsRememberTheirValues) {
  TNRDBaseFieldManager mgr(nullptr);
  DefineFields(mgr.FFieldDefs, {{"ID", aftAutoInc, 0}, {"SMALL", aftAutoIncShortint, 0}, {"NAME", aftString, 4}});
  mgr.FFieldDefs.GetFieldDef(0)->FObjectID = 7;
  mgr.FFieldDefs.GetFieldDef(1)->FObjectID = 8;
  mgr.RecalcFieldOffsets();
  mgr.InitLastAutoIncValues();
  TNRDBaseSession session;
  RecordBuffer rec(mgr.FFieldDefs.GetMemoryRecordBufferSize());
  auto post = [&](std::optional<std::int32_t> id, std::optional<std::int8_t> small) {
    std::memset(rec.data(), 0, static_cast<std::size_t>(rec.size));
    SetFieldNull(rec.data(), 0, !id);
    SetFieldNull(rec.data(), 1, !small);
    SetFieldNull(rec.data(), 2, true);
    if (id) std::memcpy(rec.data() + mgr.FFieldDefs.GetFieldDef(0)->FMemoryOffset, &*id, 4);
    if (small) std::memcpy(rec.data() + mgr.FFieldDefs.GetFieldDef(1)->FMemoryOffset, &*small, 1);
    mgr.ApplyAutoincsToRecordBuffer(&session, rec.data());
    std::int32_t outId;
    std::int8_t outSmall;
    std::memcpy(&outId, rec.data() + mgr.FFieldDefs.GetFieldDef(0)->FMemoryOffset, 4);
    std::memcpy(&outSmall, rec.data() + mgr.FFieldDefs.GetFieldDef(1)->FMemoryOffset, 1);
    EXPECT_FALSE(IsFieldNull(rec.data(), 0));
    EXPECT_FALSE(IsFieldNull(rec.data(), 1));
    EXPECT_TRUE(IsFieldNull(rec.data(), 2));
    return std::pair<std::int32_t, int>(outId, outSmall);
  };
  EXPECT_EQ(post(std::nullopt, std::nullopt), (std::pair<std::int32_t, int>(1, 1)));
  EXPECT_EQ(mgr.GetLastAutoinc(&session, 0), 1);
  // A user value of 100 moves the counter on; -5 in a signed field is -5, not 251.
  EXPECT_EQ(post(100, -5), (std::pair<std::int32_t, int>(100, -5)));
  EXPECT_EQ(post(std::nullopt, std::nullopt), (std::pair<std::int32_t, int>(101, 2)));
  EXPECT_EQ(post(50, std::nullopt), (std::pair<std::int32_t, int>(50, 3)));
  EXPECT_EQ(mgr.FLastAutoIncValues[0], 101);
  // One sequence object per field, holding the latest value.
  EXPECT_EQ(session.ObjectCount(), 2);
  EXPECT_EQ(mgr.GetLastAutoinc(&session, 0), 101);
  EXPECT_EQ(mgr.GetLastAutoinc(&session, 1), 3);
  // Without a value in the session: the table's counter, or 30012 for a multi-user session.
  TNRDBaseSession other;
  EXPECT_EQ(mgr.GetLastAutoinc(&other, 0), 101);
  EXPECT_EQ(mgr.GetLastAutoinc(&other, 2), 0);
  other.FMultiUser = true;
  ExpectNRD([&] { mgr.GetLastAutoinc(&other, 0); }, 30012, "sequence 'ID'");
  // The most-updated data keeps the counters.
  std::vector<std::uint8_t> saved(static_cast<std::size_t>(mgr.MostUpdatedSize()) + 3);
  std::int32_t offset = 3;
  mgr.SaveMostUpdated(saved.data(), static_cast<std::int32_t>(saved.size()), offset);
  EXPECT_EQ(offset, 3 + 4 + 3 * 8);
  TNRDBaseFieldManager loaded(nullptr);
  offset = 3;
  loaded.LoadMostUpdated(saved.data(), static_cast<std::int32_t>(saved.size()), offset);
  EXPECT_EQ(loaded.FLastAutoIncValues, mgr.FLastAutoIncValues);
  saved[3] = 0xFF;  // a count far beyond the data
  offset = 3;
  EXPECT_EQ(CodeOf([&] { loaded.LoadMostUpdated(saved.data(), static_cast<std::int32_t>(saved.size()), offset); }), 10159);
  offset = 10;
  EXPECT_EQ(CodeOf([&] { mgr.SaveMostUpdated(saved.data(), static_cast<std::int32_t>(saved.size()), offset); }), 10158);
  // Metadata load sets the counters up from the initial values.
  mgr.FFieldDefs.GetFieldDef(0)->FAutoincInitialValue = 40;
  TNRDMemoryStream s;
  mgr.SaveMetadata(s);
  s.SetPosition(0);
  TNRDBaseFieldManager fromStream(nullptr);
  fromStream.LoadMetadata(s);
  EXPECT_EQ(fromStream.FLastAutoIncValues, (std::vector<std::int64_t>{40, 0, 0}));
  EXPECT_EQ(fromStream.FFieldDefs.GetFieldDef(2)->FMemoryOffset, 1 + 4 + 1);
}

TEST(NRDFieldManager, FieldValuesTravelInTheCallersForm) {
  TNRDFieldDefs defs;
  DefineFields(defs, {{"S", aftShortint, 0}, {"C", aftCardinal, 0}, {"F", aftSingle, 0}, {"E", aftExtended, 0},
                      {"T", aftString, 4}, {"W", aftWideString, 3}, {"B", aftBlob, 0}, {"I", aftInteger, 0}});
  defs.RecalcFieldOffsets();
  RecordBuffer rec(defs.GetMemoryRecordBufferSize());
  const std::int16_t s = -3;
  const std::uint32_t c = 4000000000u;
  const double single = 1.5, extended = -2.25;
  const char text[5] = "abcd";
  const char16_t wide[4] = u"xyz";
  const std::int32_t i = 77;
  SetFieldDataToBuffer(0, defs, &s, rec.data());
  SetFieldDataToBuffer(1, defs, &c, rec.data());
  SetFieldDataToBuffer(2, defs, &single, rec.data());
  SetFieldDataToBuffer(3, defs, &extended, rec.data());
  SetFieldDataToBuffer(4, defs, text, rec.data());
  SetFieldDataToBuffer(5, defs, wide, rec.data());
  SetFieldDataToBuffer(7, defs, &i, rec.data());
  EXPECT_EQ(rec.data()[defs.GetFieldDef(0)->FMemoryOffset], 0xFD);
  EXPECT_EQ(GetExtended(rec.data() + defs.GetFieldDef(3)->FMemoryOffset), -2.25L);
  std::int16_t s2 = 0;
  std::uint64_t c2 = 0;
  double f2 = 0, e2 = 0;
  char t2[5] = {};
  EXPECT_TRUE(GetFieldDataFromBuffer(0, defs, &s2, rec.data()));
  EXPECT_TRUE(GetFieldDataFromBuffer(1, defs, &c2, rec.data()));
  EXPECT_TRUE(GetFieldDataFromBuffer(2, defs, &f2, rec.data()));
  EXPECT_TRUE(GetFieldDataFromBuffer(3, defs, &e2, rec.data()));
  EXPECT_TRUE(GetFieldDataFromBuffer(4, defs, t2, rec.data()));
  EXPECT_EQ(s2, -3);
  EXPECT_EQ(c2, 4000000000u);
  EXPECT_EQ(f2, 1.5);
  EXPECT_EQ(e2, -2.25);
  EXPECT_STREQ(t2, "abcd");
  // A BLOB column reports a value but copies nothing; NULL reports false.
  char blob[16];
  std::memset(blob, 0x5A, sizeof blob);
  SetFieldNull(rec.data(), 6, false);
  EXPECT_TRUE(GetFieldDataFromBuffer(6, defs, blob, rec.data()));
  EXPECT_EQ(blob[0], 0x5A);
  // Empty texts and missing buffers store NULL and keep the bytes.
  const char empty[5] = "";
  const char16_t emptyWide[4] = u"";
  SetFieldDataToBuffer(4, defs, empty, rec.data());
  SetFieldDataToBuffer(5, defs, emptyWide, rec.data());
  SetFieldDataToBuffer(7, defs, nullptr, rec.data());
  EXPECT_TRUE(IsFieldNull(rec.data(), 4));
  EXPECT_TRUE(IsFieldNull(rec.data(), 5));
  EXPECT_TRUE(IsFieldNull(rec.data(), 7));
  EXPECT_FALSE(GetFieldDataFromBuffer(4, defs, t2, rec.data()));
  EXPECT_EQ(rec.data()[defs.GetFieldDef(4)->FMemoryOffset], 'a');
  EXPECT_EQ(CodeOf([&] { GetFieldDataFromBuffer(8, defs, t2, rec.data()); }), 10000);
  EXPECT_EQ(CodeOf([&] { GetFieldDataFromBuffer(0, defs, t2, nullptr); }), 10003);
  EXPECT_EQ(CodeOf([&] { SetFieldDataToBuffer(-1, defs, t2, rec.data()); }), 10004);
  EXPECT_TRUE(BuffersEqual("abc", "abd", 2));
  EXPECT_FALSE(BuffersEqual("abc", "abd", 3));
  EXPECT_EQ(CodeOf([&] { BuffersEqual(nullptr, "a", 1); }), 10122);
  EXPECT_EQ(CodeOf([&] { BuffersEqual("a", nullptr, 1); }), 10123);
}

}  // namespace
