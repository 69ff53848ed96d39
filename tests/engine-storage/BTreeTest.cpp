// B-tree keys, pages and algorithms: golden key bytes, key paths, and a random insert/delete run
// checked against a sorted-multiset model after every step on a small page size (integrity check,
// both walking directions, positioning by condition), plus planted damage that the check finds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "engine/foundation/NRDExcept.h"
#include "engine/storage/NRDBTreePage.h"
#include "engine/storage/NRDFieldManager.h"
#include "tests/engine-foundation/EngineTestUtil.h"
#include "tests/engine-storage/StorageFakes.h"
#include "tests/engine-storage/StorageTestUtil.h"

using namespace nrd;
using enginetest::CodeOf;
using namespace storagetest;

namespace {

std::string Hex(const std::uint8_t* p, std::size_t n) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

// A table with ID Integer, NAME String(12) (indexed on its first 4 bytes) and W WideString(3).
struct KeyTable {
  KeyTable() : table(new FakeTable(&db)) {
    TNRDFieldDefs fields;
    DefineFields(fields, {{"ID", aftInteger, 0}, {"NAME", aftString, 12}, {"W", aftWideString, 3}});
    table->InitFieldManager(fields);
  }
  const TNRDFieldDefs& Fields() const { return table->FieldManager().FFieldDefs; }
  std::vector<std::uint8_t> Record(std::int32_t id, const char* name, bool nameNull = false) const {
    std::vector<std::uint8_t> r(static_cast<std::size_t>(Fields().GetMemoryRecordBufferSize()), 0);
    const TNRDFieldDef& fid = *Fields().GetFieldDef(0);
    const TNRDFieldDef& fname = *Fields().GetFieldDef(1);
    std::memcpy(r.data() + fid.FMemoryOffset, &id, 4);
    if (nameNull)
      SetFieldNull(r.data(), 1, true);
    else
      std::strncpy(reinterpret_cast<char*>(r.data()) + fname.FMemoryOffset, name, 12);
    SetFieldNull(r.data(), 2, true);
    return r;
  }
  TNRDIndexDef Def(std::vector<std::string> columns, std::int32_t maxIndexed = 4, bool desc = false) {
    TNRDIndexDef def;
    def.AssignByNames(columns, std::vector<std::string>(columns.size(), desc ? "DESC" : ""),
                      std::vector<std::string>(columns.size()));
    for (std::int32_t i = 0; i < def.ColumnCount(); ++i) def.GetIndexColumn(i).FMaxIndexedSize = maxIndexed;
    return def;
  }
  FakeDatabase db;
  FakeTable* table;
};

TEST(BTreeKeys, ShortAndFullKeyBytesAreTheFileFormat) {
  KeyTable t;
  TNRDRecordKeyRef ref;
  ref.Assign(t.Def({"ID", "NAME", "W"}), t.table);
  // ID: flag + 4 bytes; NAME (13 bytes in memory) cut to 4 kept + 2 added; W (8 bytes) cut to an
  // even 4 bytes (two characters) + 2 added.
  ASSERT_EQ(ref.PartCount(), 3);
  EXPECT_EQ(ref.Parts[0].ShortSize, 5);
  EXPECT_EQ(ref.Parts[1].ShortSize, 7);
  EXPECT_EQ(ref.Parts[1].AddedSize, 2);
  EXPECT_EQ(ref.Parts[2].ShortSize, 7);
  EXPECT_EQ(ref.ShortKeySize(), 19);
  EXPECT_EQ(ref.FullKeySize(), 5 + 14 + 9);
  auto record = t.Record(0x01020304, "Petrov");
  auto shortKey = ref.AllocShortKeyBuffer();
  ref.MakeShortKeyFromRecordBuffer(record.data(), shortKey.data());
  EXPECT_EQ(Hex(shortKey.data(), shortKey.size()),
            "00 04 03 02 01 00 50 65 74 72 00 00 01 00 00 00 00 00 00");
  auto fullKey = ref.AllocFullKeyBuffer();
  ref.MakeFullKeyFromRecordBuffer(record.data(), fullKey.data());
  EXPECT_EQ(Hex(fullKey.data(), 5 + 14), "00 04 03 02 01 00 50 65 74 72 6F 76 00 00 00 00 00 00 00");
  // A NULL writes the flag only.
  auto nullRecord = t.Record(7, "", true);
  std::vector<std::uint8_t> dirty(shortKey.size(), 0xAA);
  ref.MakeShortKeyFromRecordBuffer(nullRecord.data(), dirty.data());
  EXPECT_EQ(Hex(dirty.data() + 5, 7), "01 AA AA AA AA AA AA");

  TNRDPageKeyRef pageRef;
  EXPECT_EQ(pageRef.ShortKeySize(), 4);
  EXPECT_EQ(pageRef.ReferenceSize(), 2);
}

TEST(BTreeKeys, BlobAndUnknownFieldsAreRefused) {
  FakeDatabase db;
  FakeTable* table = new FakeTable(&db);
  TNRDFieldDefs fields;
  DefineFields(fields, {{"B", aftBlob, 0}});
  table->InitFieldManager(fields);
  TNRDIndexDef def;
  def.AssignByNames({"B"}, {""}, {""});
  TNRDRecordKeyRef ref;
  EXPECT_EQ(CodeOf([&] { ref.Assign(def, table); }), 20295);
  def.AssignByNames({"X"}, {""}, {""});
  EXPECT_EQ(CodeOf([&] { ref.Assign(def, table); }), 20043);
}

TEST(BTreeKeys, ComparisonsCollateAndSettleTiesOnFullKeys) {
  KeyTable t;
  TNRDRecordKeyRef ref;
  ref.Assign(t.Def({"NAME"}), t.table);
  auto key = [&](const char* name, bool isNull = false) {
    auto r = t.Record(1, name, isNull);
    auto k = ref.AllocShortKeyBuffer();
    ref.MakeShortKeyFromRecordBuffer(r.data(), k.data());
    return k;
  };
  // Collation: case differences rank after letters (tertiary), Cyrillic after Latin.
  auto a = key("apple"), b = key("Banana");
  EXPECT_LT(ref.CompareShortKeys(a.data(), b.data(), false, 0, nullptr, nullptr), 0);
  auto nul = key("", true);
  EXPECT_LT(ref.CompareShortKeys(nul.data(), a.data(), false, 0, nullptr, nullptr), 0);
  auto nul2 = key("", true);
  EXPECT_EQ(ref.CompareShortKeys(nul.data(), nul2.data(), false, 0, nullptr, nullptr), 0);

  // Two values sharing the kept 4 bytes: equal without full keys, ordered by the records with.
  t.table->Records().Add(10, t.Record(10, "Petrovich"));
  t.table->Records().Add(11, t.Record(11, "Petrova"));
  auto k1 = key("Petrovich");  // remembers its record buffer for key 1's full key
  auto r1 = t.Record(10, "Petrovich");
  ref.MakeShortKeyFromRecordBuffer(r1.data(), k1.data());
  auto k2 = ref.AllocShortKeyBuffer();
  auto r2 = t.Record(11, "Petrova");
  {
    TNRDRecordKeyRef other;
    other.Assign(t.Def({"NAME"}), t.table);
    other.MakeShortKeyFromRecordBuffer(r2.data(), k2.data());
  }
  std::uint8_t id2[6];
  TNRDPageItemID{11, 0}.Encode(id2);
  EXPECT_EQ(ref.CompareShortKeys(k1.data(), k2.data(), false, 0, nullptr, id2), 0);
  EXPECT_GT(ref.CompareShortKeys(k1.data(), k2.data(), true, 0, nullptr, id2), 0);
  EXPECT_EQ(Hex(k1.data(), k1.size()), "00 50 65 74 72 00 00");  // the probe byte is restored

  // Kept bytes that differ only in an accent or in case tie: the whole texts may order the other
  // way ("Семёнов" sorts before "Семенова" by its base letters, though "ё" sorts after "е").
  struct Pair {
    const char* first;
    const char* second;
  };
  for (const Pair& p : {Pair{"\xD1\xE5\xEC\xB8\xED\xEE\xE2", "\xD1\xE5\xEC\xE5\xED\xEE\xE2\xE0"},
                        Pair{"aAaaa", "aaAAb"}}) {
    t.table->Records().Add(20, t.Record(20, p.first));
    t.table->Records().Add(21, t.Record(21, p.second));
    auto r20 = t.Record(20, p.first);
    auto r21 = t.Record(21, p.second);
    auto s20 = ref.AllocShortKeyBuffer();
    auto s21 = ref.AllocShortKeyBuffer();
    ref.MakeShortKeyFromRecordBuffer(r21.data(), s21.data());
    ref.MakeShortKeyFromRecordBuffer(r20.data(), s20.data());
    std::uint8_t id21[6];
    TNRDPageItemID{21, 0}.Encode(id21);
    EXPECT_EQ(ref.CompareShortKeys(s20.data(), s21.data(), false, 0, nullptr, id21), 0) << p.first;
    EXPECT_LT(ref.CompareShortKeys(s20.data(), s21.data(), true, 0, nullptr, id21), 0) << p.first;
  }
  // Different base letters within the kept bytes decide at once.
  auto ka = key("abcdz"), kb = key("abceA");
  EXPECT_LT(ref.CompareShortKeys(ka.data(), kb.data(), false, 0, nullptr, nullptr), 0);

  // Descending negates, NULLs then come last.
  TNRDRecordKeyRef desc;
  desc.Assign(t.Def({"NAME"}, 4, true), t.table);
  EXPECT_GT(desc.CompareShortKeys(nul.data(), a.data(), false, 0, nullptr, nullptr), 0);
  EXPECT_GT(desc.CompareShortKeys(a.data(), b.data(), false, 0, nullptr, nullptr), 0);

  // Prefix search: "Pe" matches "Petr..." only with partial compare.
  auto probe = t.Record(0, "Pe");
  auto pk = ref.AllocShortKeyBuffer();
  ref.MakeShortKeyFromRecordBuffer(probe.data(), pk.data());
  EXPECT_NE(ref.CompareShortKeys(pk.data(), k2.data(), false, 0, nullptr, nullptr), 0);
  ref.SetPartialCompare(probe.data(), true);
  EXPECT_EQ(ref.CompareShortKeys(pk.data(), k2.data(), false, 0, nullptr, nullptr), 0);
  ref.ResetCompareSettings();

  std::uint8_t x[6], y[6];
  TNRDPageItemID{-1, 9}.Encode(x);
  TNRDPageItemID{1, 0}.Encode(y);
  EXPECT_LT(TNRDBTreeKeyRef::CompareReferences(x, y, 6), 0);
  TNRDPageItemID{1, 0xFFFF}.Encode(x);
  EXPECT_GT(TNRDBTreeKeyRef::CompareReferences(x, y, 6), 0);
}

TEST(BTreeKeys, KeyPathsOrderStepAndEncode) {
  TNRDKeyPath a, b;
  a.AddItem(5, 1, 3);
  a.AddItem(9, 4, 7);
  b.AddItem(5, 2, 3);
  b.AddItem(12, 0, 7);
  EXPECT_EQ(a.Compare(b), -1);
  EXPECT_EQ(b.Compare(a), 1);
  TNRDKeyPath shallow;
  shallow.AddItem(5, 1, 3);
  EXPECT_EQ(CodeOf([&] { a.Compare(shallow); }), 20051);
  const std::int64_t bit = a.GetBitmapRecNoByIndexPosition(10);
  EXPECT_EQ(bit, 2 * 11 + 5);
  TNRDKeyPath rebuilt;
  rebuilt.FillItemsByBitmapRecNo(bit, 10);
  ASSERT_EQ(rebuilt.Count, 2);
  EXPECT_EQ(rebuilt.Items[0].EntryNo, 1);
  EXPECT_EQ(rebuilt.Items[1].EntryNo, 4);
  EXPECT_EQ(CodeOf([&] { rebuilt.Compare(a); }), 20052);
  // Deep trees with wide pages go past 32 bits.
  TNRDKeyPath deep;
  for (int i = 0; i < 5; ++i) deep.AddItem(i, 3000, 4000);
  TNRDKeyPath back;
  back.FillItemsByBitmapRecNo(deep.GetBitmapRecNoByIndexPosition(4000), 4000);
  EXPECT_EQ(back.Count, 5);
  EXPECT_EQ(back.Items[4].EntryNo, 3000);
  EXPECT_DOUBLE_EQ(a.GetApproxRecNoInPercents(), (1 + 4.0 / 7) / 3);
  TNRDKeyPath full;
  for (int i = 0; i < kMaxKeyPathLevels; ++i) full.AddItem(i, 0, 1);
  EXPECT_EQ(CodeOf([&] { full.AddItem(99, 0, 1); }), 20020);
}

// ----- the tree against a model -------------------------------------------------------------------

// One B-tree over the NAME column (cut to 4 bytes) of the key table, record IDs as references.
struct NameTree {
  explicit NameTree(std::int32_t pageSize) : pm(pageSize, 40) {
    keyRef.Assign(t.Def({"NAME"}), t.table);
    keyRef.SetReferenceSize(6);
    TNRDBTreePage root(&pm, &keyRef);
    root.Add(1);
    root.InitAsRoot();
    root.SetIsDirty(true);
    rootNo = root.PageNo();
  }
  std::vector<std::uint8_t> KeyOf(std::int32_t id) {
    auto& rec = t.table->Records().Records.at(id);
    auto k = keyRef.AllocShortKeyBuffer();
    keyRef.MakeShortKeyFromRecordBuffer(rec.data(), k.data());
    return k;
  }
  void Insert(std::int32_t id, const std::string& name) {
    t.table->Records().Add(id, t.Record(id, name.c_str()));
    auto k = KeyOf(id);
    std::uint8_t ref[6];
    TNRDPageItemID{id, 0}.Encode(ref);
    TNRDKeyPath path;
    TNRDBTreePage root(&pm, &keyRef);
    root.Get(1, rootNo);
    root.Controller().InsertLeafEntry(1, k.data(), ref, path);
  }
  bool Delete(std::int32_t id) {
    auto k = KeyOf(id);
    std::uint8_t ref[6];
    TNRDPageItemID{id, 0}.Encode(ref);
    TNRDKeyPath path;
    TNRDBTreePage root(&pm, &keyRef);
    root.Get(1, rootNo);
    return root.Controller().DeleteLeafEntry(1, k.data(), ref, path);
  }
  void Check() {
    TNRDKeyPath path;
    TNRDBTreePage root(&pm, &keyRef);
    root.Get(1, rootNo);
    root.Controller().CheckIntegrity(1, path);
  }
  std::int32_t IdAt(const TNRDKeyPath& path) {
    TNRDBTreePage leaf(&pm, &keyRef);
    leaf.Get(1, path.Leaf().PageNo);
    return TNRDPageItemID::Decode(leaf.GetPReference(path.Leaf().EntryNo)).PageNo;
  }
  std::vector<std::int32_t> Walk(bool forward) {
    std::vector<std::int32_t> ids;
    TNRDKeyPath path;
    TNRDBTreePage root(&pm, &keyRef);
    root.Get(1, rootNo);
    if (!(forward ? root.Controller().GetFirstPosition(1, path) : root.Controller().GetLastPosition(1, path)))
      return ids;
    root.Put();
    do {
      ids.push_back(IdAt(path));
    } while (forward ? BTreeMoveToNextPosition(&pm, &keyRef, 1, path, 20069, 20070)
                     : BTreeMoveToPriorPosition(&pm, &keyRef, 1, path, 20069, 20071));
    if (!forward) std::reverse(ids.begin(), ids.end());
    return ids;
  }
  // The record ID found by condition, or -1.
  std::int32_t Find(const std::string& name, TNRDSearchCondition op, bool first) {
    auto probe = t.Record(0, name.c_str());
    auto k = keyRef.AllocShortKeyBuffer();
    keyRef.MakeShortKeyFromRecordBuffer(probe.data(), k.data());
    TNRDKeyPath path;
    TNRDBTreePage root(&pm, &keyRef);
    root.Get(1, rootNo);
    if (!root.FindByCondition(1, first, k.data(), op, path)) return -1;
    root.Put();
    return IdAt(path);
  }
  std::int32_t Depth() {
    TNRDKeyPath path;
    TNRDBTreePage root(&pm, &keyRef);
    root.Get(1, rootNo);
    root.Controller().GetFirstPosition(1, path);
    return path.Count;
  }
  KeyTable t;
  MapPageManager pm;
  TNRDRecordKeyRef keyRef;
  std::int32_t rootNo = -1;
};

using Model = std::set<std::pair<std::string, std::int32_t>>;

std::vector<std::int32_t> ModelIds(const Model& m) {
  std::vector<std::int32_t> ids;
  for (const auto& e : m) ids.push_back(e.second);
  return ids;
}

std::int32_t ModelFind(const Model& m, const std::string& key, TNRDSearchCondition op, bool first) {
  std::vector<std::int32_t> hits;
  for (const auto& [name, id] : m) {
    const int c = name.compare(key);
    const bool ok = op == scEqual ? c == 0 : op == scLower ? c < 0 : op == scGreater ? c > 0
                  : op == scLowerEqual ? c <= 0 : c >= 0;
    if (ok) hits.push_back(id);
  }
  if (hits.empty()) return -1;
  return first ? hits.front() : hits.back();
}

// 200-byte pages: 10 leaf entries (7-byte key + 6), 12 node entries; 128-byte pages: 5 and 6, so a
// few hundred keys make three to five levels.
void RunModelCheck(std::int32_t pageSize, int steps, std::int32_t minDepth) {
  NameTree tree(pageSize);
  Model model;
  std::mt19937 rng(2026);
  std::int32_t nextId = 1;
  const char* letters = "abc";
  auto randomName = [&] {
    // Short alphabet and lengths around the 4 kept bytes: many duplicates and many shared prefixes.
    std::string s(1 + rng() % 7, 'a');
    for (char& c : s) c = letters[rng() % 3];
    return s;
  };
  std::int32_t maxDepth = 0;
  for (int step = 0; step < steps; ++step) {
    const bool grow = step < steps / 2 ? rng() % 10 < 8 : rng() % 10 < 3;
    if (grow || model.empty()) {
      const std::string name = randomName();
      const std::int32_t id = nextId++;
      tree.Insert(id, name);
      model.insert({name, id});
    } else {
      auto it = model.begin();
      std::advance(it, static_cast<long>(rng() % model.size()));
      ASSERT_TRUE(tree.Delete(it->second)) << "step " << step;
      model.erase(it);
    }
    ASSERT_NO_THROW(tree.Check()) << "page size " << pageSize << " step " << step;
    ASSERT_EQ(tree.Walk(true), ModelIds(model)) << "step " << step;
    maxDepth = std::max(maxDepth, tree.Depth());
    if (step % 25 == 0) {
      ASSERT_EQ(tree.Walk(false), ModelIds(model)) << "step " << step;
      const std::string key = randomName();
      for (TNRDSearchCondition op : {scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual})
        for (bool first : {true, false})
          ASSERT_EQ(tree.Find(key, op, first), ModelFind(model, key, op, first))
              << "step " << step << " key " << key << " op " << int(op) << " first " << first;
    }
  }
  EXPECT_GE(maxDepth, minDepth);
  // A record that is not in the tree is not deleted; draining the tree leaves one empty root leaf.
  tree.t.table->Records().Add(99999, tree.t.Record(99999, "abc"));
  EXPECT_FALSE(tree.Delete(99999));
  while (!model.empty()) {
    ASSERT_TRUE(tree.Delete(model.begin()->second));
    model.erase(model.begin());
    ASSERT_NO_THROW(tree.Check());
  }
  EXPECT_EQ(tree.Depth(), 0);
  TNRDBTreePage root(&tree.pm, &tree.keyRef);
  root.Get(1, tree.rootNo);
  EXPECT_TRUE(root.IsRoot());
  EXPECT_TRUE(root.IsLeaf());
  EXPECT_EQ(root.EntryCount(), 0);
}

TEST(BTree, RandomInsertsAndDeletesMatchASortedMultiset) {
  RunModelCheck(200, 1400, 3);
  RunModelCheck(128, 700, 4);
}

TEST(BTree, RootSplitKeepsThePageNumberAndMergesReleasePages) {
  NameTree tree(200);
  for (int i = 0; i < 10; ++i) tree.Insert(i + 1, std::string(1, static_cast<char>('b' + i)));
  EXPECT_EQ(tree.Depth(), 1);
  tree.Insert(11, "a");  // one over, in front: the root leaf splits into 5 + 6 under a root node
  TNRDBTreePage root(&tree.pm, &tree.keyRef);
  root.Get(1, tree.rootNo);
  EXPECT_FALSE(root.IsLeaf());
  ASSERT_EQ(root.EntryCount(), 2);
  EXPECT_EQ(Hex(root.GetPKey(0), 7), "00 00 00 00 00 00 00");
  TNRDBTreePage left(&tree.pm, &tree.keyRef), right(&tree.pm, &tree.keyRef);
  left.Get(1, root.ChildPageNo(0));
  right.Get(1, root.ChildPageNo(1));
  EXPECT_EQ(left.EntryCount(), 5);
  EXPECT_EQ(right.EntryCount(), 6);
  EXPECT_EQ(left.RightPageNo(), right.PageNo());
  EXPECT_EQ(right.LeftPageNo(), left.PageNo());
  EXPECT_EQ(left.LeftPageNo(), -1);
  const std::int32_t rightNo = right.PageNo();
  left.Put();
  right.Put();
  root.Put();
  // One delete leaves the right leaf under half full: it merges into its left neighbour and the root,
  // left with one child, takes that child's entries back.
  ASSERT_TRUE(tree.Delete(10));  // "k", the last
  tree.Check();
  EXPECT_EQ(tree.Depth(), 1);
  root.Get(1, tree.rootNo);
  EXPECT_TRUE(root.IsLeaf());
  EXPECT_TRUE(root.IsRoot());
  EXPECT_EQ(root.EntryCount(), 10);
  const auto& removed = tree.pm.FindSession(1)->RemovedPageNumbers;
  bool rightRemoved = false;
  for (std::int32_t i = 0; i < removed.ItemCount; ++i) rightRemoved |= removed.Items[static_cast<std::size_t>(i)] == rightNo;
  EXPECT_TRUE(rightRemoved);
}

// Keys inserted in ascending order fill their pages: a page that overflows at the end of its level
// hands only the new entry to a new page. Other inserts split in halves.
TEST(BTree, AscendingInsertsLeaveFullPages) {
  for (const bool ascending : {true, false}) {
    SCOPED_TRACE(ascending);
    NameTree tree(200);
    constexpr int kKeys = 400;
    for (int i = 0; i < kKeys; ++i) {
      const int k = ascending ? i : kKeys - 1 - i;
      char name[8];
      std::snprintf(name, sizeof name, "%04d", k);
      tree.Insert(k + 1, name);
    }
    tree.Check();
    std::vector<std::int32_t> expected(kKeys);
    for (int i = 0; i < kKeys; ++i) expected[static_cast<std::size_t>(i)] = i + 1;
    EXPECT_EQ(tree.Walk(true), expected);
    // Walk the leaf level: every leaf but the last is full after ascending inserts; descending ones
    // split in halves.
    TNRDKeyPath path;
    TNRDBTreePage root(&tree.pm, &tree.keyRef);
    root.Get(1, tree.rootNo);
    ASSERT_TRUE(root.Controller().GetFirstPosition(1, path));
    root.Put();
    std::vector<std::int32_t> counts;
    for (std::int32_t no = path.Leaf().PageNo; no != -1;) {
      TNRDBTreePage leaf(&tree.pm, &tree.keyRef);
      leaf.Get(1, no);
      counts.push_back(leaf.EntryCount());
      no = leaf.RightPageNo();
    }
    const std::int32_t full = *std::max_element(counts.begin(), counts.end());
    for (std::size_t i = 0; i + 1 < counts.size(); ++i) {
      if (ascending) {
        EXPECT_EQ(counts[i], full) << "leaf " << i;
      } else if (i > 0) {  // the first leaf takes every new key and fills up before each split
        EXPECT_LE(counts[i], full / 2 + 1) << "leaf " << i;
      }
    }
  }
}

TEST(BTree, DuplicatesKeepRecordOrderAndDeleteExactly) {
  NameTree tree(200);
  for (int id : {30, 10, 50, 20, 40, 60, 70, 80, 90, 15}) tree.Insert(id, std::string("same") + (id % 2 ? "B" : "A"));
  tree.Check();
  EXPECT_EQ(tree.Walk(true), (std::vector<std::int32_t>{10, 20, 30, 40, 50, 60, 70, 80, 90, 15}));
  ASSERT_TRUE(tree.Delete(40));
  EXPECT_FALSE(tree.Delete(40));
  tree.Check();
  EXPECT_EQ(tree.Walk(true), (std::vector<std::int32_t>{10, 20, 30, 50, 60, 70, 80, 90, 15}));
}

TEST(BTree, IntegrityCheckFindsPlantedDamage) {
  struct Damage {
    const char* what;
    int code;
  };
  for (const Damage& d : {Damage{"swap", 20028}, Damage{"link", 20034}, Damage{"cycle", 20032},
                          Damage{"count", 20020}, Damage{"separator", 20031}}) {
    NameTree tree(200);
    for (int i = 0; i < 200; ++i) tree.Insert(i + 1, std::string(1, static_cast<char>('a' + i % 26)) + std::to_string(i));
    ASSERT_NO_THROW(tree.Check());
    TNRDBTreePage root(&tree.pm, &tree.keyRef);
    root.Get(1, tree.rootNo);
    ASSERT_FALSE(root.IsLeaf());
    ASSERT_GE(root.EntryCount(), 3);
    TNRDBTreePage child(&tree.pm, &tree.keyRef);
    child.Get(1, root.ChildPageNo(1));
    TNRDBTreePage leaf(&tree.pm, &tree.keyRef);
    TNRDKeyPath first;
    ASSERT_TRUE(child.Controller().GetFirstPosition(1, first));
    leaf.Get(1, first.Leaf().PageNo);
    const std::string what = d.what;
    if (what == "swap") {
      std::vector<std::uint8_t> tmp(leaf.GetPKey(0), leaf.GetPKey(1));
      std::memcpy(leaf.GetPKey(0), leaf.GetPKey(1), tmp.size());
      std::memcpy(leaf.GetPKey(1), tmp.data(), tmp.size());
    } else if (what == "link") {
      child.SetRightPageNo(12345);
    } else if (what == "cycle") {
      const std::uint32_t self = static_cast<std::uint32_t>(child.PageNo());
      std::memcpy(child.GetPReference(0), &self, 4);
    } else if (what == "count") {
      leaf.SetEntryCount(4000);
    } else if (what == "separator") {
      std::memset(root.GetPKey(2) + 1, 'z', 4);
    }
    leaf.Put();
    child.Put();
    root.Put();
    EXPECT_EQ(CodeOf([&] { tree.Check(); }), d.code) << d.what;
  }
}

}  // namespace
