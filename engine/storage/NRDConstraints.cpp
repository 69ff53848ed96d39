// Constraint manager: linking, automatic names, index constraints and the record check.
#include "engine/storage/NRDConstraints.h"

#include <random>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDVariant.h"
#include "engine/storage/NRDDatabaseData.h"
#include "engine/storage/NRDFieldManager.h"
#include "engine/storage/NRDIndexManager.h"
#include "engine/storage/NRDTableData.h"

namespace nrd {

namespace {

int DefaultRandom() {
  static thread_local std::mt19937 rng{std::random_device{}()};
  return static_cast<int>(std::uniform_int_distribution<int>(0, 65534)(rng));
}

}  // namespace

bool TNRDBaseConstraintManager::CheckConstraints(std::int32_t sessionID, const void* newRecordBuffer,
                                                 const void* oldRecordBuffer, bool toInsert,
                                                 const TNRDPageItemID& currentRecordID, bool raiseException,
                                                 bool checkUniqueIndexes) {
  const TNRDFieldDefs& fields = FTableData->FieldManager().FFieldDefs;
  auto fieldByID = [&](std::int32_t id, int missingCode) -> std::int32_t {
    const std::int32_t no = fields.GetDefNumberByObjectId(id);
    if (no < 0) throw ENRDException(missingCode, "Field #%d not found", {id});
    return no;
  };
  for (std::int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) {
    const TNRDConstraintDef* def = FConstraintDefs.GetConstraintDef(i);
    switch (def->FConstraintType) {
      case ctPK: {
        if (!checkUniqueIndexes) break;
        const auto* pk = static_cast<const TNRDConstraintDefUnique*>(def);
        bool allNull = true;
        std::string names;
        for (const TNRDConstraintColumn& c : pk->Columns) {
          const std::int32_t no = fieldByID(c.ColumnObjectID, 30329);
          if (!IsFieldNull(newRecordBuffer, no)) allNull = false;
          if (!names.empty()) names += ",";
          names += c.ColumnName;
        }
        if (allNull) {
          if (!raiseException) return false;
          throw ENRDException(30330, "Constraint '%s' violated. Value in field '%s' cannot be null", {def->FName, names});
        }
        if (FTableData->IsUniqueConstraintFailed(sessionID, pk->FIndexObjectID, newRecordBuffer, oldRecordBuffer,
                                                 toInsert, currentRecordID)) {
          if (!raiseException) return false;
          throw ENRDException(30319, "Primary Key constraint '%s' violated. Duplicate found.", {def->FName});
        }
        break;
      }
      case ctUnique: {
        if (!checkUniqueIndexes) break;
        const auto* u = static_cast<const TNRDConstraintDefUnique*>(def);
        if (FTableData->IsUniqueConstraintFailed(sessionID, u->FIndexObjectID, newRecordBuffer, oldRecordBuffer,
                                                 toInsert, currentRecordID)) {
          if (!raiseException) return false;
          throw ENRDException(30320, "Constraint unique '%s' violated. Duplicate found.", {def->FName});
        }
        break;
      }
      case ctNotNull: {
        const auto* nn = static_cast<const TNRDConstraintDefColumn*>(def);
        const std::int32_t no = fieldByID(nn->FColumnObjectID, 30024);
        if (IsFieldNull(newRecordBuffer, no)) {
          if (!raiseException) return false;
          throw ENRDException(30026, "Constraint '%s' violated. Value in field '%s' cannot be null",
                              {def->FName, fields.GetFieldDef(no)->FName});
        }
        break;
      }
      case ctCheck: {
        const auto* ck = static_cast<const TNRDConstraintDefCheck*>(def);
        const std::int32_t no = fieldByID(ck->FColumnObjectID, 30028);
        if (IsFieldNull(newRecordBuffer, no)) break;
        const TNRDFieldDef* f = fields.GetFieldDef(no);
        const void* value = static_cast<const std::uint8_t*>(newRecordBuffer) + f->FMemoryOffset;
        auto compareBound = [&](const TNRDVariant& bound) {
          return CompareValues(bound.pData(), value, bound.DataType(), f->FBaseFieldType, false, false, -1, false,
                               LOCALE_USER_DEFAULT, bound.DataSize(), f->FMemoryDataSize);
        };
        if (!ck->FMinValue.IsNull() && compareBound(ck->FMinValue) == cmprGreater) {
          if (!raiseException) return false;
          throw ENRDException(30029, "Constraint '%s' violated. Value in field '%s' cannot be lower than '%s'",
                              {def->FName, f->FName, ck->FMinValue.AsAnsiString()});
        }
        if (!ck->FMaxValue.IsNull() && compareBound(ck->FMaxValue) == cmprLower) {
          if (!raiseException) return false;
          throw ENRDException(30030, "Constraint '%s' violated. Value in field '%s' cannot be greater than '%s'",
                              {def->FName, f->FName, ck->FMaxValue.AsAnsiString()});
        }
        break;
      }
      default:
        throw ENRDException(30036, "Not implemented yet");
    }
  }
  return true;
}

void TNRDBaseConstraintManager::LinkObjectId(TNRDConstraintDef& constraintDef) {
  const TNRDFieldDefs& fields = FTableData->FieldManager().FFieldDefs;
  switch (constraintDef.FConstraintType) {
    case ctPK:
    case ctUnique: {
      auto& u = static_cast<TNRDConstraintDefUnique&>(constraintDef);
      const bool pk = constraintDef.FConstraintType == ctPK;
      const TNRDIndexDef* index = FTableData->IndexManager().FIndexDefs.GetIndexDefByName(u.FIndexName);
      if (index == nullptr) throw ENRDException(pk ? 30325 : 30326, "Index '%s' not found", {u.FIndexName});
      u.FIndexObjectID = index->FObjectID;
      for (TNRDConstraintColumn& c : u.Columns) {
        const TNRDFieldDef* f = fields.GetFieldDefByName(c.ColumnName);
        if (f == nullptr) throw ENRDException(pk ? 30331 : 30332, "Field '%s' not found", {c.ColumnName});
        c.ColumnObjectID = f->FObjectID;
      }
      break;
    }
    case ctNotNull:
    case ctCheck: {
      auto& c = static_cast<TNRDConstraintDefColumn&>(constraintDef);
      const TNRDFieldDef* f = fields.GetFieldDefByName(c.FColumnName);
      if (f == nullptr) throw ENRDException(30027, "Field '%s' not found", {c.FColumnName});
      c.FColumnObjectID = f->FObjectID;
      break;
    }
    default:
      throw ENRDException(30037, "Not implemented yet");
  }
}

void TNRDBaseConstraintManager::LinkObjectIds() {
  for (std::int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) LinkObjectId(*FConstraintDefs.GetConstraintDef(i));
}

void TNRDBaseConstraintManager::FillConstraintAutoNames() {
  for (std::int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) {
    TNRDConstraintDef* def = FConstraintDefs.GetConstraintDef(i);
    if (!def->FName.empty()) continue;
    const char* kind = def->FConstraintType == ctNotNull ? "C_NotNull" : def->FConstraintType == ctCheck ? "C_Check" : nullptr;
    if (kind == nullptr) throw ENRDException(30038, "Not implemented yet");
    const auto* c = static_cast<const TNRDConstraintDefColumn*>(def);
    const std::string base = std::string("$") + kind + "$" + c->FTableName + "$" + c->FColumnName;
    auto taken = [&](const std::string& name) {
      for (std::int32_t k = 0; k < FConstraintDefs.GetCount(); ++k)
        if (k != i && SameName(FConstraintDefs.GetDef(k)->FName, name)) return true;
      return false;
    };
    std::string name = CutShortName(base);
    // The number must survive the cut to 255 bytes, or a long base would never become free.
    const std::string stem = base.substr(0, std::min<std::size_t>(base.size(), kMaxShortNameLength - 5));
    while (taken(name)) name = stem + std::to_string(FRandom ? FRandom() : DefaultRandom());
    def->FName = name;
  }
}

void TNRDBaseConstraintManager::AddConstraintFromIndex(const TNRDIndexDef& indexDef) {
  if (!indexDef.FPrimary && !indexDef.FUnique) return;
  TNRDConstraintDefUnique* def = indexDef.FPrimary ? FConstraintDefs.AddPK() : FConstraintDefs.AddUnique();
  std::string name = indexDef.FPrimary ? "C_PK" : "C_Unique";
  for (std::int32_t c = 0; c < indexDef.ColumnCount(); ++c) {
    const std::string& field = indexDef.GetIndexColumn(c).FFieldName;
    name += "$" + field;
    def->Columns.push_back(TNRDConstraintColumn{CutShortName(field), -1});
  }
  def->FName = CutShortName(name);
  def->FTableName = CutShortName(FTableData->FTableName);
  def->FIndexName = CutShortName(indexDef.FName);
  def->FIndexObjectID = indexDef.FObjectID;
  try {
    def->FObjectID = FTableData->FDatabaseData->GetNewObjectId();
    LinkObjectId(*def);
  } catch (...) {
    // A constraint that cannot be linked is not kept.
    FConstraintDefs.Delete(FConstraintDefs.GetCount() - 1);
    throw;
  }
}

void TNRDBaseConstraintManager::DeleteConstraintForIndexID(std::int32_t indexObjectID) {
  for (std::int32_t i = 0; i < FConstraintDefs.GetCount(); ++i) {
    const TNRDConstraintDef* def = FConstraintDefs.GetConstraintDef(i);
    if ((def->FConstraintType == ctPK || def->FConstraintType == ctUnique) &&
        static_cast<const TNRDConstraintDefUnique*>(def)->FIndexObjectID == indexObjectID) {
      FConstraintDefs.Delete(i);
      return;
    }
  }
}

}  // namespace nrd
