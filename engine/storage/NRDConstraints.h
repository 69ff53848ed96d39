// The constraint manager of a table: holds the table's constraint definitions, links them to the
// object IDs of the table's fields and indexes, names unnamed ones, keeps the primary-key and
// unique constraints in step with the indexes that enforce them, and checks a record buffer
// against every constraint before a cursor posts it.
// No lock of its own: the local cursor holds the database object's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/foundation/NRDTypes.h"
#include "engine/storage/NRDMetadata.h"

namespace nrd {

class TNRDTableData;

class TNRDBaseConstraintManager {
 public:
  explicit TNRDBaseConstraintManager(TNRDTableData* tableData) : FTableData(tableData) {}
  virtual ~TNRDBaseConstraintManager() = default;
  TNRDBaseConstraintManager(const TNRDBaseConstraintManager&) = delete;
  TNRDBaseConstraintManager& operator=(const TNRDBaseConstraintManager&) = delete;

  void LoadMetadata(TStream& stream) { FConstraintDefs.LoadFromStream(stream); }
  void SaveMetadata(TStream& stream) const { FConstraintDefs.SaveToStream(stream); }

  // True when the record passes every constraint. The first violation in list order ends the
  // check: it raises (raiseException) or gives false. Unique and primary-key constraints are
  // checked only with checkUniqueIndexes.
  bool CheckConstraints(std::int32_t sessionID, const void* newRecordBuffer, const void* oldRecordBuffer,
                        bool toInsert, const TNRDPageItemID& currentRecordID, bool raiseException,
                        bool checkUniqueIndexes);
  void LinkObjectId(TNRDConstraintDef& constraintDef);
  void LinkObjectIds();
  // "$C_NotNull$<table>$<column>" / "$C_Check$..." for unnamed definitions, with a random number
  // 0..65534 appended while the name is taken (30038 for another unnamed kind).
  void FillConstraintAutoNames();
  // The constraint a primary or unique index implies (C_PK$A$B / C_Unique$A$B), appended with a
  // new object ID and linked; nothing for another index.
  void AddConstraintFromIndex(const TNRDIndexDef& indexDef);
  void DeleteConstraintForIndexID(std::int32_t indexObjectID);

  TNRDConstraintDefs FConstraintDefs;
  TNRDTableData* FTableData;
  // The random source of automatic names (0..65534); tests may replace it.
  std::function<int()> FRandom;
};

}  // namespace nrd
