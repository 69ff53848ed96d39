// The data-set layer and the engine data set over a stand-in cursor: navigation, editing, engine
// errors, bookmarks, filters, locate and lookup, BLOB streams, events, controls, master/detail.
#include <gtest/gtest.h>

#include <cstring>

#include "StandInCursor.h"
#include "engine/foundation/NRDExcept.h"

using namespace nrd;
using standin::StandInDataSet;
using standin::Table;

namespace {

std::shared_ptr<Table> PeopleTable() {
  auto t = std::make_shared<Table>();
  t->fields = {{"ID", {aftInteger, 0}},
               {"Name", {aftString, 20}},
               {"Born", {aftDate, 0}},
               {"Note", {aftMemo, 0}},
               {"Big", {aftLargeint, 0}}};
  return t;
}

struct People {
  std::shared_ptr<Table> table = PeopleTable();
  StandInDataSet ds{table};
  People() {
    ds.SetName("People");
    ds.Open();
    ds.AppendRecord({IntValue(1), TextValue("Anna"), DateTimeValue(EncodeDate(1900, 1, 2))});
    ds.AppendRecord({IntValue(2), TextValue("boris")});
    ds.AppendRecord({IntValue(3), TextValue("Clara")});
    ds.First();
  }
  std::vector<std::string> Names() {
    std::vector<std::string> r;
    for (ds.First(); !ds.Eof(); ds.Next()) r.push_back(ds.FieldByName("name").AsString());
    return r;
  }
};

using Names = std::vector<std::string>;

}  // namespace

TEST(DataSet, NavigatesWithBofEofRecNoAndMoveBy) {
  People p;
  auto& ds = p.ds;
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 1);
  EXPECT_EQ(ds.RecNo(), 1);
  ds.Next();
  EXPECT_FALSE(ds.Bof());
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "boris");
  ds.Last();
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.RecNo(), 3);
  ds.Next();  // stays on the last record
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  EXPECT_EQ(ds.MoveBy(-5), -2);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 1);
  ds.SetRecNo(2);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);
  EXPECT_EQ(p.Names(), (Names{"Anna", "boris", "Clara"}));
  EXPECT_EQ(ds.FieldByName("Born").AsString(), "");  // Clara's date is null
  ds.First();
  EXPECT_EQ(ds.FieldByName("Born").AsString(), "1900-01-02");
  EXPECT_TRUE(ds.FieldByName("Note").IsNull());
}

TEST(DataSet, EmptyTableIsBofAndEof) {
  StandInDataSet ds(PeopleTable());
  ds.Open();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Bof() && ds.Eof());
  EXPECT_TRUE(ds.FieldByName("ID").IsNull());
  EXPECT_THROW(ds.Delete(), EDatabaseError);
  ds.Next();
  ds.Prior();
  EXPECT_EQ(ds.RecNo(), -1);
}

TEST(DataSet, EditPostCancelInsertAndDelete) {
  People p;
  auto& ds = p.ds;
  ds.Next();
  ds.Edit();
  EXPECT_EQ(ds.State(), dsEdit);
  ds.FieldByName("Name").SetAsString("Boris");
  ds.Post();
  EXPECT_EQ(ds.State(), dsBrowse);
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "Boris");

  ds.Edit();
  ds.FieldByName("Name").SetAsString("changed");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "Boris");

  ds.Insert();
  EXPECT_EQ(ds.RecNo(), -1);
  EXPECT_TRUE(ds.FieldByName("Name").IsNull());
  ds.FieldByName("Name").SetAsString("never");
  ds.Cancel();
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "Boris");  // back where the insert started
  EXPECT_EQ(ds.RecordCount(), 3);

  ds.Delete();  // the next record takes its place
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "Clara");
  ds.Delete();  // the last record: the prior one shows
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "Anna");
  EXPECT_TRUE(ds.Eof());
  ds.Delete();
  EXPECT_TRUE(ds.IsEmpty());
}

TEST(DataSet, MisuseNamesTheComponent) {
  People p;
  auto& ds = p.ds;
  try {
    ds.Post();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "People: Dataset not in edit or insert mode");
  }
  EXPECT_THROW(ds.FieldByName("ID").SetAsInteger(5), EDatabaseError);
  EXPECT_THROW(ds.FieldByName("nope"), EDatabaseError);
  ds.SetReadOnly(true);
  EXPECT_THROW(ds.Edit(), EDatabaseError);
  EXPECT_THROW(ds.Insert(), EDatabaseError);
  ds.Close();
  EXPECT_THROW(ds.First(), EDatabaseError);
}

TEST(DataSet, PostCheckedOnlyWhenChangedByBrowseMode) {
  People p;
  auto& ds = p.ds;
  ds.Edit();
  ds.FieldByName("Name").SetAsString("Ann");
  ds.Next();  // moving posts the change
  ds.First();
  EXPECT_EQ(ds.FieldByName("Name").AsString(), "Ann");
  ds.Insert();  // unchanged: moving drops it
  ds.Last();
  EXPECT_EQ(ds.RecordCount(), 3);
}

TEST(DataSet, EngineErrorsLeaveTheStateAndNoCopy) {
  People p;
  auto& ds = p.ds;
  p.table->lockedRecord = 1;
  try {
    ds.Edit();
    FAIL();
  } catch (const ENRDEngineError& e) {
    EXPECT_EQ(e.FErrorCode, -12);
    EXPECT_STREQ(e.what(), "Noreld Engine Error # -12 Record is locked");
  }
  EXPECT_EQ(ds.State(), dsBrowse);
  p.table->lockedRecord = 0;

  // Changed by another session since it was read.
  p.table->rows[0].rec[p.ds.StandIn()->FieldDefs().GetFieldDef(0)->FMemoryOffset] = 9;
  try {
    ds.Edit();
    FAIL();
  } catch (const ENRDEngineError& e) {
    EXPECT_EQ(e.FErrorCode, -4);
  }
  ds.Refresh();
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 9);

  ds.Edit();
  p.table->failPost = "Unique index violated";
  try {
    ds.Post();
    FAIL();
  } catch (const ENRDEngineError& e) {
    EXPECT_EQ(e.FErrorCode, -8);
    EXPECT_STREQ(e.what(), "Noreld Engine Error # -8 Unique index violated");
  }
  EXPECT_EQ(ds.State(), dsEdit);
  p.table->failPost.clear();
  ds.Cancel();
  EXPECT_EQ(ENRDEngineError(-20, "x").what(), std::string("Noreld Engine Error # -20 "));
}

TEST(DataSet, Bookmarks) {
  People p;
  auto& ds = p.ds;
  ds.Next();
  const TBookmark b = ds.GetBookmark();
  ds.Last();
  const TBookmark last = ds.GetBookmark();
  EXPECT_EQ(ds.CompareBookmarks(b, last), -1);
  EXPECT_EQ(ds.CompareBookmarks(last, b), 1);
  EXPECT_EQ(ds.CompareBookmarks(b, {}), -1);
  EXPECT_EQ(ds.CompareBookmarks({}, b), 1);
  EXPECT_EQ(ds.CompareBookmarks({}, {}), 0);
  ds.GotoBookmark(b);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);
  EXPECT_TRUE(ds.BookmarkValid(b));
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(b));
  EXPECT_THROW(ds.GotoBookmark(b), EDatabaseError);
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);  // a failed jump does not move
  ds.Insert();
  EXPECT_TRUE(ds.GetBookmark().empty());
  ds.Cancel();
}

TEST(DataSet, FiltersByHandlerAndByText) {
  People p;
  auto& ds = p.ds;
  // The filter text "ID>1" through the stand-in for the expression layer.
  p.table->evaluator = [](TNRDCursor& c, const std::string& text) {
    TNRDVariant v;
    c.GetFieldValue(v, 0, false);
    return text == "ID>1" ? v.AsInteger() > 1 : true;
  };
  ds.SetFilter("ID>1");
  EXPECT_EQ(p.Names().size(), 3u);  // not yet filtered
  ds.SetFiltered(true);
  EXPECT_EQ(p.Names(), (Names{"boris", "Clara"}));
  EXPECT_EQ(ds.RecordCount(), 2);
  ds.SetOnFilterRecord([](TDataSet& d, bool& accept) { accept = d.FieldByName("Name").AsString() != "Clara"; });
  EXPECT_EQ(p.Names(), (Names{"boris"}));
  ds.SetFiltered(false);
  EXPECT_EQ(p.Names(), (Names{"Anna", "boris", "Clara"}));
  EXPECT_EQ(ds.State(), dsBrowse);

  // Unfiltered: FindFirst applies the text and the handler for the search only.
  ds.SetOnFilterRecord(nullptr);
  ds.SetFilter("ID>1");
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);
  EXPECT_TRUE(ds.FindNext());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  EXPECT_FALSE(ds.FindNext());
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 3);
  ds.First();
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 1);

  // A handler that throws rejects the record rather than breaking the scan.
  ds.SetOnFilterRecord([](TDataSet& d, bool&) {
    if (d.FieldByName("ID").AsInteger() == 2) throw std::runtime_error("bad");
  });
  ds.SetFilter("");
  ds.SetFiltered(true);
  EXPECT_EQ(p.Names(), (Names{"Anna", "Clara"}));
}

TEST(DataSet, LocateAndLookup) {
  People p;
  auto& ds = p.ds;
  EXPECT_TRUE(ds.Locate("Name", {TextValue("BOR")}, loCaseInsensitive | loPartialKey));
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);
  EXPECT_FALSE(ds.Locate("Name", {TextValue("BOR")}, 0));
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);  // not found: stays
  EXPECT_TRUE(ds.Locate("ID;Name", {IntValue(3), TextValue("Clara")}, 0));
  EXPECT_EQ(ds.RecNo(), 3);
  EXPECT_THROW(ds.Locate("Nope", {IntValue(1)}, 0), EDatabaseError);

  ds.First();
  EXPECT_EQ(ValueToText(ds.Lookup("ID", {IntValue(3)}, "Name")), "Clara");
  EXPECT_TRUE(IsNullValue(ds.Lookup("ID", {IntValue(42)}, "Name")));
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 1);  // Lookup never moves
  ds.Next();
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 2);  // and the cursor position is kept
}

TEST(DataSet, BlobFieldsThroughStreams) {
  People p;
  auto& ds = p.ds;
  TField& note = ds.FieldByName("Note");
  ds.Edit();
  {
    auto s = ds.CreateBlobStream(note, bmWrite);
    const std::string text(300000, 'x');
    EXPECT_EQ(s->Write(text.data(), static_cast<std::int32_t>(text.size())), 300000);
  }
  EXPECT_TRUE(note.Modified());
  ds.Post();
  ds.Next();
  EXPECT_TRUE(note.IsNull());
  ds.First();
  {
    auto s = ds.CreateBlobStream(note, bmRead);
    EXPECT_EQ(s->GetSize(), 300000);
    char buf[4] = {};
    s->Seek(-3, TSeekOrigin::soEnd);
    EXPECT_EQ(s->Read(buf, 10), 3);
    EXPECT_STREQ(buf, "xxx");
  }
  EXPECT_EQ(note.AsBytes().size(), 300000u);

  // Opening for writing and writing nothing empties the value and marks the field.
  note.SetModified(false);
  ds.Edit();
  { auto s = ds.CreateBlobStream(note, bmWrite); }
  EXPECT_TRUE(note.Modified());
  ds.Post();
  EXPECT_TRUE(note.IsNull());

  // Zero bytes written through a read-write stream change nothing.
  note.SetModified(false);
  ds.Edit();
  {
    auto s = ds.CreateBlobStream(note, bmReadWrite);
    s->Write("", 0);
  }
  EXPECT_FALSE(note.Modified());
  note.SetAsString("short note");
  ds.Post();
  EXPECT_EQ(note.AsString(), "short note");

  // Write streams need an editing state; a read-only data set refuses them.
  EXPECT_THROW(ds.CreateBlobStream(note, bmWrite), ENRDException);
  ds.SetReadOnly(true);
  try {
    TNRDBLOBStream s(note, bmReadWrite);
    FAIL();
  } catch (const ENRDException& e) {
    EXPECT_EQ(e.NativeError, 10106);
  }
  auto r = ds.CreateBlobStream(note, bmRead);
  EXPECT_EQ(r->GetSize(), 10);
}

TEST(DataSet, EventsInOrderAndControlsDisabled) {
  People p;
  auto& ds = p.ds;
  std::vector<std::string> log;
  auto rec = [&log](const char* name) { return [&log, name](TDataSet&) { log.push_back(name); }; };
  ds.BeforeInsert = rec("BeforeInsert");
  ds.AfterInsert = rec("AfterInsert");
  ds.OnNewRecord = [&log](TDataSet& d) {
    log.push_back("OnNewRecord");
    d.FieldByName("ID").SetAsInteger(99);
  };
  ds.BeforePost = rec("BeforePost");
  ds.AfterPost = rec("AfterPost");
  ds.BeforeScroll = rec("BeforeScroll");
  ds.AfterScroll = rec("AfterScroll");
  ds.Insert();
  EXPECT_FALSE(ds.Modified());  // values set by OnNewRecord do not count as a change
  ds.FieldByName("Name").SetAsString("Dora");
  ds.Post();
  EXPECT_EQ(log, (Names{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll", "BeforePost",
                        "AfterPost"}));
  EXPECT_EQ(ds.FieldByName("ID").AsInteger(), 99);

  TDataSource src;
  src.SetDataSet(&ds);
  int changes = 0;
  src.OnDataChange = [&changes](TDataSource&, TField*) { ++changes; };
  ds.DisableControls();
  ds.First();
  ds.Next();
  ds.Next();
  EXPECT_EQ(changes, 0);
  ds.EnableControls();
  EXPECT_EQ(changes, 1);
  ds.Next();
  EXPECT_EQ(changes, 2);
}

TEST(DataSet, MasterDetailAndCircularLinks) {
  auto families = std::make_shared<Table>();
  families->fields = {{"FamID", {aftInteger, 0}}};
  auto persons = std::make_shared<Table>();
  persons->fields = {{"PID", {aftInteger, 0}}, {"Fam", {aftInteger, 0}}};
  StandInDataSet master(families);
  StandInDataSet detail(persons);
  master.SetName("Families");
  detail.SetName("Persons");
  master.Open();
  detail.Open();
  for (int f = 1; f <= 2; ++f) master.AppendRecord({IntValue(f)});
  for (int i = 1; i <= 5; ++i) detail.AppendRecord({IntValue(i), IntValue(i % 2 + 1)});
  TDataSource src;
  src.SetDataSet(&master);
  detail.SetMasterFields("FamID");
  detail.SetDetailFields("Fam");
  detail.SetMasterSource(&src);
  auto ids = [&detail] {
    std::vector<int> r;
    for (detail.First(); !detail.Eof(); detail.Next()) r.push_back(detail.FieldByName("PID").AsInteger());
    return r;
  };
  master.First();
  EXPECT_EQ(ids(), (std::vector<int>{2, 4}));
  master.Next();
  EXPECT_EQ(ids(), (std::vector<int>{1, 3, 5}));

  TDataSource detailSrc;
  detailSrc.SetDataSet(&detail);
  try {
    master.SetMasterSource(&detailSrc);
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Families: Circular datalinks are not allowed");
  }
  TDataSource self;
  self.SetDataSet(&master);
  EXPECT_THROW(master.SetMasterSource(&self), EDatabaseError);
}

TEST(DataSet, CalculatedAndLookupFields) {
  People p;
  auto& ds = p.ds;
  ds.Close();
  TField calc(nullptr);
  calc.SetFieldName("Greeting");
  calc.SetDataType(ftWideString);
  calc.SetSize(40);
  calc.SetFieldKind(fkCalculated);
  calc.SetDataSet(&ds);
  ds.OnCalcFields = [](TDataSet& d) {
    d.FieldByName("Greeting").SetAsWideString(u"Hi " + d.FieldByName("Name").AsWideString());
  };
  ds.Open();
  EXPECT_EQ(calc.AsString(), "Hi Anna");
  ds.Next();
  EXPECT_EQ(calc.AsString(), "Hi boris");
  EXPECT_THROW(calc.SetAsString("x"), EDatabaseError);  // only while fields are calculated
  ds.Close();
  EXPECT_TRUE(calc.IsNull());
  calc.SetDataSet(nullptr);
}

TEST(DataSet, OwnerFreesItsDataSets) {
  const auto before = LiveDataSetCount();
  {
    TComponent module;
    auto* ds = new StandInDataSet(PeopleTable(), &module);
    ds->SetName("T1");
    ds->Open();
    EXPECT_EQ(module.FindComponent("t1"), ds);
    auto* other = new StandInDataSet(PeopleTable(), &module);
    delete other;  // leaves the owner's list
    EXPECT_EQ(module.ComponentCount(), 1);
  }
  EXPECT_EQ(LiveDataSetCount(), before);
}

TEST(Fields, TextFormsOfValues) {
  auto t = std::make_shared<Table>();
  t->fields = {{"I", {aftInteger, 0}},  {"F", {aftDouble, 0}},    {"B", {aftBoolean, 0}},
               {"D", {aftDate, 0}},     {"DT", {aftDateTime, 0}}, {"W", {aftWideString, 10}},
               {"L", {aftLargeint, 0}}, {"T", {aftTime, 0}}};
  StandInDataSet ds(t);
  ds.Open();
  ds.Append();
  ds.FieldByName("I").SetAsString("-42");
  ds.FieldByName("F").SetAsFloat(0.1);
  ds.FieldByName("B").SetAsBoolean(true);
  ds.FieldByName("D").SetAsString("2024-02-29");
  ds.FieldByName("DT").SetAsString("2024-02-29 13:05:07");
  ds.FieldByName("W").SetAsWideString(u"\u0416\u0438\u0437\u043d\u044c");
  ds.FieldByName("L").SetAsString("9007199254740993");
  ds.FieldByName("T").SetAsString("23:59:59.5");
  ds.Post();
  EXPECT_EQ(ds.FieldByName("I").AsString(), "-42");
  EXPECT_EQ(ds.FieldByName("F").AsString(), "0.1");
  EXPECT_EQ(ds.FieldByName("B").AsString(), "True");
  EXPECT_EQ(ds.FieldByName("D").AsString(), "2024-02-29");
  EXPECT_EQ(ds.FieldByName("DT").AsString(), "2024-02-29 13:05:07");
  EXPECT_EQ(ds.FieldByName("W").AsWideString(), u"\u0416\u0438\u0437\u043d\u044c");
  EXPECT_EQ(ds.FieldByName("L").AsLargeInt(), 9007199254740993LL);
  EXPECT_EQ(ds.FieldByName("T").AsString(), "23:59:59.500");
  EXPECT_DOUBLE_EQ(ds.FieldByName("D").AsDateTime(), EncodeDate(2024, 2, 29));
  ds.Edit();
  EXPECT_THROW(ds.FieldByName("I").SetAsString("12x"), EDatabaseError);
  EXPECT_THROW(ds.FieldByName("D").SetAsString("2023-02-29"), EDatabaseError);
  EXPECT_THROW(ds.FieldByName("B").SetAsString("yes"), EDatabaseError);
  EXPECT_EQ(ds.FieldByName("I").AsInteger(), -42);  // a refused text changes nothing
  ds.FieldByName("I").SetAsString("");
  EXPECT_TRUE(ds.FieldByName("I").IsNull());
  ds.Cancel();
  EXPECT_EQ(FloatToShortestText(1e21), "1e+21");
  EXPECT_EQ(ValueToText(BoolValue(false)), "False");
}

TEST(DataSet, CalculatedFieldsFollowEditsAndTheFilteredRecord) {
  People p;
  auto& ds = p.ds;
  ds.Close();
  TField calc(nullptr);
  calc.SetFieldName("Greeting");
  calc.SetDataType(ftWideString);
  calc.SetSize(40);
  calc.SetFieldKind(fkCalculated);
  calc.SetDataSet(&ds);
  ds.OnCalcFields = [](TDataSet& d) {
    d.FieldByName("Greeting").SetAsWideString(u"Hi " + d.FieldByName("Name").AsWideString());
  };
  ds.Open();
  // While editing, a changed field is seen by the calculated one at once.
  ds.Edit();
  ds.FieldByName("Name").SetAsString("Ann");
  EXPECT_EQ(calc.AsString(), "Hi Ann");
  ds.Cancel();
  EXPECT_EQ(calc.AsString(), "Hi Anna");
  ds.Append();
  ds.FieldByName("Name").SetAsString("Dora");
  EXPECT_EQ(calc.AsString(), "Hi Dora");
  ds.Cancel();
  // A filter reads the calculated value of the record it tests, not of the current one.
  ds.First();
  ds.SetOnFilterRecord([](TDataSet& d, bool& accept) { accept = d.FieldByName("Greeting").AsString() != "Hi boris"; });
  ds.SetFiltered(true);
  EXPECT_EQ(p.Names(), (Names{"Anna", "Clara"}));
  ds.First();
  EXPECT_EQ(calc.AsString(), "Hi Anna");
  ds.SetFiltered(false);
  ds.Close();
  calc.SetDataSet(nullptr);
}

TEST(DataSet, DetailAppendTakesTheMastersKey) {
  auto families = std::make_shared<Table>();
  families->fields = {{"FamID", {aftInteger, 0}}};
  auto persons = std::make_shared<Table>();
  persons->fields = {{"PID", {aftInteger, 0}}, {"Fam", {aftInteger, 0}}};
  StandInDataSet master(families);
  StandInDataSet detail(persons);
  master.Open();
  detail.Open();
  for (int f = 1; f <= 2; ++f) master.AppendRecord({IntValue(f)});
  TDataSource src;
  src.SetDataSet(&master);
  detail.SetMasterFields("FamID");
  detail.SetDetailFields("Fam");
  detail.SetMasterSource(&src);
  master.Last();
  detail.Append();
  EXPECT_EQ(detail.FieldByName("Fam").AsInteger(), 2);
  detail.FieldByName("PID").SetAsInteger(7);
  detail.Post();
  // The posted record stays in the detail's view.
  std::vector<int> ids;
  for (detail.First(); !detail.Eof(); detail.Next()) ids.push_back(detail.FieldByName("PID").AsInteger());
  EXPECT_EQ(ids, std::vector<int>{7});
}
