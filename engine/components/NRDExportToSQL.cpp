// The SQL script export of a table.
#include "engine/components/NRDExportToSQL.h"

#include <algorithm>
#include <fstream>

#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDTable.h"
#include "engine/foundation/NRDDecUtil.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"

namespace nrd {

namespace {

TNRDReservedWordFinder& Finder() {
  static TNRDReservedWordFinder finder;
  return finder;
}

const char* const kCRLF = "\r\n";

bool IsTextColumn(TNRDAdvancedFieldType t) {
  return t == aftChar || t == aftString || t == aftWideChar || t == aftWideString || t == aftGuid;
}

bool IsBlobColumn(TNRDAdvancedFieldType t) {
  return t == aftBlob || t == aftGraphic || t == aftMemo || t == aftFormattedMemo || t == aftWideMemo;
}

// Default, minimum and maximum values: quoted for text columns (inner quotes doubled, so the
// script reads back as the same text), else their plain text.
std::string ConstraintValueText(const TNRDVariant& v, TNRDAdvancedFieldType t) {
  const std::string text = v.AsAnsiString();
  return IsTextColumn(t) ? SQLQuoted(text) : text;
}

// A string default is kept by the storage in its expression form, between double quotes with
// inner double quotes doubled, which is what CREATE TABLE makes of DEFAULT 'text'. Written as that
// literal it reads back as the same default; written with its double quotes inside single ones it
// would gain a pair of double quotes at every round trip.
std::string DefaultValueText(const TNRDVariant& v, TNRDAdvancedFieldType t) {
  const std::string text = v.AsAnsiString();
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    std::string inner;
    bool paired = true;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
      inner += text[i];
      if (text[i] != '"') continue;
      if (i + 2 < text.size() && text[i + 1] == '"') ++i;
      else paired = false;
    }
    if (paired) return SQLQuoted(inner);
  }
  return ConstraintValueText(v, t);
}

std::string TwoDigits(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }
std::string FourDigits(int v) {
  std::string s = std::to_string(v);
  while (s.size() < 4) s.insert(s.begin(), '0');
  return s;
}

std::string CompressionName(TCompressionAlgorithm a) {
  switch (a) {
    case caZLIB: return "ZLIB";
    case caBZIP: return "BZIP";
    case caPPM: return "PPM";
    default: return "NONE";
  }
}

bool InList(const std::vector<std::string>& list, const std::string& name) {
  for (const std::string& s : list)
    if (AnsiUpperCase(s) == AnsiUpperCase(name)) return true;
  return false;
}

}  // namespace

void SetReservedWordFinder(TNRDReservedWordFinder finder) { Finder() = std::move(finder); }

std::string SQLQuoted(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  out += '\'';
  return out;
}

std::string SQLIdentifier(const std::string& name) {
  const bool reserved = Finder() && Finder()(name) >= 0;
  if (reserved || name.find(' ') != std::string::npos || name.find('-') != std::string::npos) return SQLQuoted(name);
  return name;
}

std::string TNRDTable::ExportToSQL() {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
  const TNRDExportToSqlOptions& o = FExportToSqlOptions;
  std::string out;
  Open();
  try {
    const std::string table = SQLIdentifier(FTableName);
    if (o.Structure) {
      if (o.AddDropTable) out += "DROP TABLE " + table + ";" + kCRLF;
      out += "CREATE TABLE " + table + " (" + kCRLF;
      for (std::int32_t i = 0; i < FAdvFieldDefs.Count(); ++i) {
        const TNRDAdvFieldDef& d = FAdvFieldDefs.GetDef(i);
        if (i > 0) out += std::string(",") + kCRLF;
        out += "  " + SQLIdentifier(d.FName);
        out += d.FDataType == aftString ? std::string(" VARCHAR") : " " + AdvancedFieldTypeToSQLName(d.FDataType);
        if (IsSizedAdvancedFieldType(d.FDataType)) out += "(" + std::to_string(d.FSize) + ")";
        if (o.BlobSettings && IsBlobColumn(d.FDataType)) {
          out += " BLOBBlockSize " + std::to_string(d.FBLOBBlockSize);
          out += " BLOBCompressionAlgorithm " + CompressionName(d.FBLOBCompressionAlgorithm);
          out += " BLOBCompressionMode " + std::to_string(d.FBLOBCompressionMode);
        }
        if (!d.FDefaultValue.IsNull()) out += " DEFAULT " + DefaultValueText(d.FDefaultValue, d.FDataType);
        if (d.FRequired) out += " NOT NULL";
        if (!d.FMinValue.IsNull()) out += " MINVALUE " + ConstraintValueText(d.FMinValue, d.FDataType);
        if (!d.FMaxValue.IsNull()) out += " MAXVALUE " + ConstraintValueText(d.FMaxValue, d.FDataType);
      }
      for (std::int32_t i = 0; i < FAdvIndexDefs.Count(); ++i) {
        const TNRDAdvIndexDef& x = FAdvIndexDefs.GetDef(i);
        out += std::string(", ") + kCRLF;
        if ((x.FOptions & ixPrimary) != 0) out += "  PRIMARY KEY";
        else if ((x.FOptions & ixUnique) != 0) out += "  UNIQUE INDEX";
        else out += "  INDEX";
        if (!x.FName.empty()) out += " " + SQLIdentifier(x.FName);
        out += " (";
        const std::vector<std::string> fields = SplitIndexFieldList(x.FFields);
        const std::vector<std::string> desc = SplitIndexFieldList(x.FDescFields);
        const std::vector<std::string> nocase = SplitIndexFieldList(x.FCaseInsFields);
        for (std::size_t k = 0; k < fields.size(); ++k) {
          if (k > 0) out += ", ";
          out += SQLIdentifier(fields[k]);
          if (InList(desc, fields[k])) out += " DESC";
          if (InList(nocase, fields[k])) out += " NOCASE";
        }
        out += ")";
      }
      out += std::string(kCRLF) + ");" + kCRLF;
    }
    if (o.Data) {
      std::string names;
      for (std::int32_t i = 0; i < FieldCount(); ++i) names += (i > 0 ? ", " : "") + SQLIdentifier(Fields(i).FieldName());
      for (First(); !Eof(); Next()) {
        out += "INSERT INTO " + table + " ";
        out += o.FieldNamesInInserts ? "(" + names + ") values (" : std::string("values (");
        for (std::int32_t i = 0; i < FieldCount(); ++i) {
          if (i > 0) out += ", ";
          TField& f = Fields(i);
          const TNRDAdvFieldDef* d = FAdvFieldDefs.Find(f.FieldName());
          const TNRDAdvancedFieldType t = d != nullptr ? d->FDataType : aftUnknown;
          if (f.IsNull()) {
            out += "NULL";
          } else if (IsTextColumn(t) || t == aftMemo) {
            out += SQLQuoted(f.AsString());
          } else if (t == aftDate || t == aftTime || t == aftDateTime || t == aftTimeStamp) {
            const TDateTime v = f.AsDateTime();
            int y = 0, mo = 0, dd = 0, h = 0, mi = 0, s = 0, ms = 0;
            if (t != aftTime) DecodeDate(v, y, mo, dd);
            if (t != aftDate) DecodeTime(v, h, mi, s, ms);
            const std::string date = FourDigits(y) + "-" + TwoDigits(mo) + "-" + TwoDigits(dd);
            const std::string time = TwoDigits(h) + ":" + TwoDigits(mi) + ":" + TwoDigits(s);
            if (t == aftDate) out += "'" + date + "'";
            else if (t == aftTime) out += "ToDate('" + time + "','HH24:NN:SS')";
            else out += "'" + date + " " + time + "'";
          } else if (t == aftBoolean) {
            out += f.AsBoolean() ? "True" : "False";
          } else if (IsBlobColumn(t) || t == aftBytes || t == aftVarBytes) {
            const std::string bytes = f.AsBytes();
            out += "MIMETOBIN('" +
                   TStringFormat_MIME64::Class()->StrTo(bytes.data(), static_cast<int>(bytes.size())) + "')";
          } else {
            out += f.AsString();
          }
        }
        out += std::string(");") + kCRLF;
      }
      out += kCRLF;
    }
  } catch (...) {
    Close();
    throw;
  }
  Close();
  return out;
}

void TNRDTable::ExportToSQL(TNRDStream& stream) {
  const std::string text = ExportToSQL();
  std::size_t done = 0;
  while (done < text.size()) {
    const auto chunk = static_cast<std::int32_t>(std::min<std::size_t>(text.size() - done, 1u << 20));
    const std::int32_t n = stream.Write(text.data() + done, chunk);
    if (n <= 0) throw ENRDException(10104, "Cannot write stream");
    done += static_cast<std::size_t>(n);
  }
}

void TNRDTable::ExportToSQL(const std::string& fileName) {
  const std::string text = ExportToSQL();
  const std::string tmp = fileName + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) {
      std::remove(tmp.c_str());
      throw ENRDException(10104, "Cannot create file. FileName = %s", {fileName});
    }
  }
  ReplaceFileDurably(tmp, fileName);
}

}  // namespace nrd
