// The data definition statements.
#include "engine/sql/NRDSQLDDL.h"

#include <cerrno>
#include <cstdlib>

#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDTable.h"
#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDTypes.h"
#include "engine/sql/NRDExpressions.h"

namespace nrd::sql {

namespace {

constexpr std::string_view kUnexpectedToken = "Unexpected token '%s' found at line %d, column %d";
constexpr std::string_view kParenOrComma = "')' or ',' symbol expected, but '%s' found at line %d, column %d";
constexpr std::string_view kFieldNameExpected = "Field name expected, but '%s' found at line %d, column %d";
constexpr std::string_view kQuotedPassword =
    "Quoted password expected (for PASSWORD \"passwordData\"), but '%s' found at line %d, column %d";

bool IsNameType(TTokenType t) { return t == tktString || t == tktQuotedString || t == tktBracketedString; }
bool IsNameOrWord(const TToken& t) { return IsNameType(t.TokenType) || t.TokenType == tktReservedWord; }

std::string Upper(std::string_view s) { return AnsiUpperCase(s); }

std::string Join(const std::vector<std::string>& items, char separator) {
  std::string r;
  for (const std::string& s : items) {
    if (!r.empty()) r += separator;
    r += s;
  }
  return r;
}

// Runs `work` and re-raises any failure as `code` with the failure's message.
template <typename F>
void Wrapped(int code, std::string_view format, F work) {
  try {
    work();
  } catch (const std::exception& e) {
    throw ENRDException(code, format, {std::string(e.what())});
  }
}

}  // namespace

// ----- shared parsing -------------------------------------------------------------------------------------

void TNRDDDLTableManipulation::Parse() {
  if (!AtEnd()) {
    GetCurrentToken();
    RaiseAtToken(30246, kUnexpectedToken);
  }
}

void TNRDDDLTableManipulation::ParseTable() {
  TNRDTableNameParts parts;
  ParseTableName(parts);
  DatabaseName = parts.DatabaseFileName;
  TableName = parts.TableName;
  IntoMemory = parts.InMemory;
  Password = parts.Password;
  TableAlias = parts.Pseudonym;
}

std::int64_t TNRDDDLTableManipulation::ParseIntegerLiteral() {
  if (!GetNextToken()) RaiseUnexpectedEnd(30292);
  if (Token.TokenType != tktInt) RaiseAtToken(30292, "Integer expected, but '%s' found at line %d, column %d");
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(Token.Text.c_str(), &end, 10);
  if (errno == ERANGE || end == Token.Text.c_str() || *end != '\0')
    RaiseAtToken(30291, "Integer expected, but '%s' found at line %d, column %d");
  return v;
}

void TNRDDDLTableManipulation::ParseIndexColumns(TNRDSQLIndex& index) {
  // The current token is the opening parenthesis.
  for (;;) {
    if (!GetNextToken()) RaiseUnexpectedEnd(30333);
    if (!IsNameOrWord(Token)) RaiseAtToken(30274, kFieldNameExpected);
    TNRDIndexField f;
    f.FieldName = Token.Text;
    for (;;) {
      if (!GetNextToken()) RaiseUnexpectedEnd(30333);
      if (IsWord(rwDESC)) f.desc = true;
      else if (IsWord(rwASC)) f.desc = false;
      else if (IsWord(rwNOCASE)) f.nocase = true;
      else if (IsWord(rwCASE)) f.nocase = false;
      else break;
    }
    index.IndexFields.push_back(std::move(f));
    if (Token.TokenType == tktRightParenthesis) break;
    if (Token.TokenType != tktComma) RaiseAtToken(30229, kParenOrComma);
  }
  GetNextToken();  // past ')'
}

bool TNRDDDLTableManipulation::ParseTableConstraint() {
  TNRDSQLIndex index;
  if (IsWord(rwPRIMARY)) {
    index.Primary = true;
    NextOrRaise(30333);
    if (IsWord(rwKEY)) NextOrRaise(30333);
  } else if (IsWord(rwUNIQUE) || IsWord(rwINDEX)) {
    if (IsWord(rwUNIQUE)) {
      index.Unique = true;
      NextOrRaise(30267);
      if (Token.TokenType != tktReservedWord)
        RaiseAtToken(30267, "'INDEX' keyword expected, but '%s' found at line %d, column %d");
      if (!IsWord(rwINDEX)) RaiseAtToken(30268, "'INDEX' keyword expected, but '%s' found at line %d, column %d");
    }
    NextOrRaise(30269);
  } else {
    return false;
  }
  if (Token.TokenType != tktLeftParenthesis) {
    if (!IsNameOrWord(Token)) RaiseAtToken(30269, "index name expected, but '%s' found at line %d, column %d");
    index.IndexName = Token.Text;
    NextOrRaise(30273);
    if (Token.TokenType != tktLeftParenthesis)
      RaiseAtToken(30273, "'(' symbol expected, but '%s' found at line %d, column %d");
  }
  ParseIndexColumns(index);
  Indexes.push_back(std::move(index));
  return true;
}

void TNRDDDLTableManipulation::ParseColumnDefinitions() {
  if (AtEnd() || Token.TokenType != tktLeftParenthesis) RaiseTokenExpected(30226, "(");
  for (;;) {
    if (!GetNextToken()) return;
    if (!IsNameOrWord(Token)) RaiseAtToken(30227, kFieldNameExpected);
    if (!ParseTableConstraint()) {
      TSQLFieldDef& def = SQLFieldDefs.AddCreated();
      if (IsWord(rwIF)) {
        NextOrRaise(30488);
        if (!IsWord(rwNOT)) RaiseTokenExpected(30488, "NOT");
        NextOrRaise(30489);
        if (!IsWord(rwEXISTS)) RaiseTokenExpected(30489, "EXISTS");
        def.CreateIfNotExists = true;
        NextOrRaise(30227);
        if (!IsNameOrWord(Token)) RaiseAtToken(30227, kFieldNameExpected);
      }
      def.FieldName = Token.Text;
      NextOrRaise(30228);
      if (Token.TokenType != tktString && Token.TokenType != tktBracketedString && Token.TokenType != tktReservedWord)
        RaiseAtToken(30228, "Field type expected, but '%s' found at line %d, column %d");
      ParseColumnType(def);
      ParseColumnOptions(def);
    }
    if (AtEnd()) return;
    if (Token.TokenType == tktRightParenthesis) {
      GetNextToken();
      return;
    }
    if (Token.TokenType != tktComma) RaiseAtToken(30229, kParenOrComma);
  }
}

void TNRDDDLTableManipulation::ParseColumnType(TSQLFieldDef& def) {
  const TNRDAdvancedFieldType type = SQLTypeNameToFieldType(Token.Text);
  if (type == aftUnknown) RaiseAtToken(30232, "Unknown field type '%s' at line %d, column %d");
  def.newFieldType = true;
  def.FieldType = type;
  def.newLength = true;
  def.Length = 0;
  const bool sized = type == aftChar || type == aftString || type == aftWideChar || type == aftWideString ||
                     type == aftBytes || type == aftVarBytes;
  if (sized) {
    if (!GetNextToken() || Token.TokenType != tktLeftParenthesis)
      RaiseAtToken(30233, "'(' symbol expected, but '%s' found at line %d, column %d");
    if (!GetNextToken() || Token.TokenType != tktInt)
      RaiseAtToken(30235, "Decimal constant expected, but '%s' found at line %d, column %d");
    const long long n = std::strtoll(Token.Text.c_str(), nullptr, 10);
    if (n <= 0 || n > INT32_MAX) RaiseAtToken(30235, "Decimal constant expected, but '%s' found at line %d, column %d");
    def.Length = static_cast<std::int32_t>(n);
    if (!GetNextToken() || Token.TokenType != tktRightParenthesis) RaiseAtToken(30236, kParenOrComma);
  }
  GetNextToken();
  if (IsAutoIncAdvancedFieldType(type) && !AtEnd() && Token.TokenType == tktLeftParenthesis) ParseAutoincOptions(def);
}

void TNRDDDLTableManipulation::ParseAutoincOptions(TSQLFieldDef& def) {
  const bool plain = def.FieldType == aftAutoInc;
  for (;;) {
    if (!GetNextToken()) RaiseUnexpectedEnd(30290);
    if (Token.TokenType == tktRightParenthesis) break;
    if (Token.TokenType == tktComma) continue;
    if (IsWord(rwINCREMENT)) {
      def.newAutoincIncrement = true;
      def.AutoincIncrement = ParseIntegerLiteral();
    } else if (IsWord(rwMINVALUE)) {
      def.newAutoincMinValue = true;
      def.AutoincMinValue = ParseIntegerLiteral();
    } else if (IsWord(rwMAXVALUE)) {
      def.newAutoincMaxValue = true;
      def.AutoincMaxValue = ParseIntegerLiteral();
    } else if (IsWord(rwINITIALVALUE) || IsWord(rwSTARTVALUE)) {
      def.newAutoincLastValue = true;
      def.AutoincLastValue = ParseIntegerLiteral();
    } else if (IsWord(rwCYCLED) || IsWord(rwNOCYCLED)) {
      def.newAutoincCycled = true;
      def.AutoincCycled = IsWord(rwCYCLED);
    } else if (IsWord(rwNOMINVALUE)) {
      def.newAutoincMinValue = true;
      def.AutoincMinValue = 0;
    } else if (IsWord(rwNOMAXVALUE)) {
      def.newAutoincMaxValue = true;
      def.AutoincMaxValue = INT64_MAX;
    } else {
      const TNRDAdvancedFieldType t = SQLTypeNameToFieldType(Token.Text);
      if (t == aftUnknown) RaiseAtToken(30293, kUnexpectedToken);
      if (!plain) RaiseAtToken(30294, kUnexpectedToken);
      TNRDAdvancedFieldType chosen = aftUnknown;
      switch (t) {
        case aftShortint: chosen = aftAutoIncShortint; break;
        case aftSmallint: chosen = aftAutoIncSmallint; break;
        case aftInteger: chosen = aftAutoInc; break;
        case aftLargeint: chosen = aftAutoIncLargeint; break;
        case aftByte: chosen = aftAutoIncByte; break;
        case aftWord: chosen = aftAutoIncWord; break;
        case aftCardinal: chosen = aftAutoIncCardinal; break;
        default:
          if (IsAutoIncAdvancedFieldType(t)) chosen = t;
          break;
      }
      if (chosen == aftUnknown) RaiseAtToken(30295, "Unsupported Autoinc DataType (%s) found at line %d, column %d");
      def.FieldType = chosen;
    }
  }
  GetNextToken();  // past ')'
}

void TNRDDDLTableManipulation::ParseDefault(TSQLFieldDef& def) {
  if (def.newDefaultValue)
    throw ENRDException(30299, "default value for column '%s' declared twice", {def.FieldName});
  if (!GetNextToken()) RaiseUnexpectedEnd(30297);
  static const char* const kWords[] = {"NOW", "CURRENT_TIMESTAMP", "CURRENT_TIME", "CURRENT_DATE", "SYSDATE"};
  const std::string upper = Upper(Token.Text);
  for (const char* w : kWords)
    if (upper == w && (Token.TokenType == tktQuotedString || Token.TokenType == tktReservedWord ||
                       Token.TokenType == tktString)) {
      def.newDefaultValue = true;
      def.DefaultValue.Clear(bftVarchar);
      def.DefaultValue.SetAsAnsiString(w);
      GetNextToken();
      return;
    }
  if (Token.TokenType == tktQuotedString) {
    // Kept as the text of a string constant; the storage reads the default from this text again.
    def.newDefaultValue = true;
    def.DefaultValue.Clear(bftWideVarchar);
    std::string quoted = "\"";
    for (char c : Token.Text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    quoted += "\"";
    def.DefaultValue.SetAsWideString(AnsiToWide(quoted));
    GetNextToken();
    return;
  }
  const TToken start = Token;
  TNRDExpression e;
  e.ParseForValueExpression(LLex);
  TNRDVariant* v = e.Root() != nullptr ? e.GetValue(true) : nullptr;
  if (v == nullptr) {
    Token = start;
    RaiseAtToken(30297, "Error parsing parameter '%s' at line %d, column %d");
  }
  def.newDefaultValue = true;
  def.DefaultValue.Clear(bftWideVarchar);
  if (!v->IsNull()) def.DefaultValue.SetAsWideString(v->AsWideString());
  GetCurrentToken();
}

void TNRDDDLTableManipulation::ParseColumnOptions(TSQLFieldDef& def) {
  // After these the next token must be a name, a reserved word, ')' or ','.
  auto takeNext = [this] {
    if (!GetNextToken()) return;
    if (!IsNameOrWord(Token) && Token.TokenType != tktRightParenthesis && Token.TokenType != tktComma)
      RaiseAtToken(30229, kParenOrComma);
  };
  // A MINVALUE or MAXVALUE literal: integers as 64-bit, other numbers as floats, quoted texts as texts.
  auto literal = [this](TNRDVariant& v) {
    if (!GetNextToken()) RaiseUnexpectedEnd(30292);
    bool negative = false;
    if (Token.TokenType == tktString && Token.Text == "-") {
      negative = true;
      if (!GetNextToken()) RaiseUnexpectedEnd(30292);
    }
    if (Token.TokenType == tktInt) {
      errno = 0;
      const long long n = std::strtoll(Token.Text.c_str(), nullptr, 10);
      if (errno == ERANGE) RaiseAtToken(30291, "Integer expected, but '%s' found at line %d, column %d");
      v.Clear(bftSignedInt64);
      v.SetAsInt64(negative ? -n : n);
    } else if (Token.TokenType == tktFloat) {
      v.Clear(bftDouble);
      const double d = std::strtod(Token.Text.c_str(), nullptr);
      v.SetAsDouble(negative ? -d : d);
    } else if (Token.TokenType == tktQuotedString && !negative) {
      v.Clear(bftVarchar);
      v.SetAsAnsiString(Token.Text);
    } else {
      RaiseAtToken(30292, "Integer expected, but '%s' found at line %d, column %d");
    }
    GetNextToken();
  };
  while (!AtEnd() && Token.TokenType != tktRightParenthesis && Token.TokenType != tktComma) {
    if (IsWord(rwNOT)) {
      NextOrRaise(30237);
      if (Token.TokenType != tktReservedWord)
        RaiseAtToken(30237, "'NULL' expected (for NOT NULL), but '%s' found at line %d, column %d");
      if (!IsWord(rwNULL)) RaiseAtToken(2011, "'NULL' expected (for NOT NULL), but '%s' found at line %d, column %d");
      def.newRequired = true;
      def.Required = true;
      takeNext();
    } else if (IsWord(rwNULL)) {
      def.newRequired = true;
      def.Required = false;
      takeNext();
    } else if (IsWord(rwBLOBBLOCKSIZE)) {
      const std::int64_t n = ParseIntegerLiteral();
      if (n <= 0 || n > INT32_MAX) RaiseAtToken(30291, "Integer expected, but '%s' found at line %d, column %d");
      def.newBlobBlockSize = true;
      def.BlobBlockSize = static_cast<std::int32_t>(n);
      takeNext();
    } else if (IsWord(rwBLOBCOMPRESSIONMODE)) {
      const std::int64_t n = ParseIntegerLiteral();
      if (n < 0 || n > 255) RaiseAtToken(30291, "Integer expected, but '%s' found at line %d, column %d");
      def.newBlobCompressionMode = true;
      def.BlobCompressionMode = static_cast<std::uint8_t>(n);
      takeNext();
    } else if (IsWord(rwBLOBCOMPRESSIONALGORITHM)) {
      NextOrRaise(30229);
      const std::string name = Upper(Token.Text);
      def.newBlobCompressionAlgorithm = true;
      if (name == "ZLIB") def.BlobCompressionAlgorithm = caZLIB;
      else if (name == "BZIP") def.BlobCompressionAlgorithm = caBZIP;
      else if (name == "PPM") def.BlobCompressionAlgorithm = caPPM;
      else if (name == "NONE") def.BlobCompressionAlgorithm = caNone;
      else RaiseAtToken(30229, kParenOrComma);
      takeNext();
    } else if (IsWord(rwDEFAULT)) {
      ParseDefault(def);
    } else if (IsWord(rwMINVALUE)) {
      def.newMinValue = true;
      literal(def.MinValue);
    } else if (IsWord(rwNOMINVALUE)) {
      def.newMinValue = true;
      def.MinValue.Clear(bftUnknown);
      GetNextToken();
    } else if (IsWord(rwMAXVALUE)) {
      def.newMaxValue = true;
      literal(def.MaxValue);
    } else if (IsWord(rwNOMAXVALUE)) {
      def.newMaxValue = true;
      def.MaxValue.Clear(bftUnknown);
      GetNextToken();
    } else if (IsWord(rwPRIMARY) || IsWord(rwUNIQUE)) {
      TNRDSQLIndex index;
      index.Primary = IsWord(rwPRIMARY);
      index.Unique = !index.Primary;
      index.IndexFields.push_back({def.FieldName, false, false});
      Indexes.push_back(std::move(index));
      GetNextToken();
      if (!AtEnd() && IsWord(rwKEY)) GetNextToken();
    } else {
      takeNext();  // an unknown word is skipped
    }
  }
}

// ----- execution helpers ------------------------------------------------------------------------------------

void TNRDDDLTableManipulation::PrepareTable(bool buildDefinitions, std::unique_ptr<TNRDTable>& table,
                                            std::unique_ptr<TNRDDatabase>& db) {
  TNRDDataSet* query = LQuery;
  table = std::make_unique<TNRDTable>(nullptr);
  if (!DatabaseName.empty()) {
    db = std::make_unique<TNRDDatabase>(nullptr);
    db->SetSessionName(query->SessionName());
    db->SetDatabaseFileName(DatabaseName);
    if (TNRDDatabase* own = query->Database()) db->SetDisableTempFiles(own->DisableTempFiles());
    db->SetSilentMode(true);
    db->SetPassword(Password);
    for (int attempt = 1;; ++attempt) {
      try {
        db->SetDatabaseName(MakeUniqueName("ExternalDb"));
        break;
      } catch (const Exception&) {
        if (attempt >= 16) throw;
      }
    }
    table->SetSessionName(query->SessionName());
    table->SetDatabaseName(db->DatabaseName());
  } else {
    table->SetSessionName(query->SessionName());
    table->SetDatabaseName(query->DatabaseName());
  }
  table->SetTableName(TableName);
  if (IntoMemory || query->InMemory()) table->SetInMemory(true);
  if (buildDefinitions) {
    table->AdvFieldDefs().Clear();
    for (std::int32_t i = 0; i < SQLFieldDefs.GetCount(); ++i) {
      const TSQLFieldDef& d = SQLFieldDefs.GetDef(i);
      if (table->AdvFieldDefs().Find(d.FieldName) != nullptr)
        throw ENRDException(30351, "Field by name '%s' already exists", {d.FieldName});
      CopyFieldDef(d, table->AdvFieldDefs().AddFieldDef());
    }
  }
}

void TNRDDDLTableManipulation::CopyFieldDef(const TSQLFieldDef& s, TNRDAdvFieldDef& d) {
  d.FName = s.FieldName;
  if (s.newFieldType) d.FDataType = s.FieldType;
  if (s.newLength) d.FSize = s.Length;
  if (s.newRequired) d.FRequired = s.Required;
  if (s.newAutoincIncrement) d.FAutoincIncrement = s.AutoincIncrement;
  if (s.newAutoincLastValue) d.FAutoincInitialValue = s.AutoincLastValue;
  if (s.newAutoincMinValue) d.FAutoincMinValue = s.AutoincMinValue;
  if (s.newAutoincMaxValue) d.FAutoincMaxValue = s.AutoincMaxValue;
  if (s.newAutoincCycled) d.FAutoincCycled = s.AutoincCycled;
  if (s.newBlobBlockSize) d.FBLOBBlockSize = s.BlobBlockSize;
  if (s.newBlobCompressionAlgorithm) d.FBLOBCompressionAlgorithm = s.BlobCompressionAlgorithm;
  if (s.newBlobCompressionMode) d.FBLOBCompressionMode = s.BlobCompressionMode;
  if (s.newDefaultValue) d.FDefaultValue.Assign(s.DefaultValue, true);
  if (s.newMinValue) d.FMinValue.Assign(s.MinValue, true);
  if (s.newMaxValue) d.FMaxValue.Assign(s.MaxValue, true);
}

void TNRDDDLTableManipulation::BuildIndexDefs(TNRDTable& table, bool clearFirst) {
  if (clearFirst) table.AdvIndexDefs().Clear();
  for (const TNRDSQLIndex& x : Indexes) {
    std::string name = x.IndexName;
    std::vector<std::string> fields, desc, nocase;
    for (const TNRDIndexField& f : x.IndexFields) {
      fields.push_back(f.FieldName);
      if (f.desc) desc.push_back(f.FieldName);
      if (f.nocase) nocase.push_back(f.FieldName);
    }
    if (name.empty()) {
      name = x.Primary ? "C_PK" : x.Unique ? "C_Unique" : "i";
      for (const std::string& f : fields) name += "$" + f;
    }
    TIndexOptions options = 0;
    if (x.Unique) options |= ixUnique;
    if (x.Primary) options |= ixPrimary;
    table.AdvIndexDefs().Add(name, Join(fields, ','), options, false, Join(desc, ','), Join(nocase, ','));
    table.RestructureIndexDefs().Add(name, Join(fields, ','), options, false, Join(desc, ','), Join(nocase, ','));
  }
}

// ----- CREATE TABLE -----------------------------------------------------------------------------------------

void TNRDDDLCreateTable::Parse() {
  // The current token is TABLE.
  if (!GetNextToken()) throw ENRDException(30249, "Blank SQL command");
  if (IsWord(rwIF)) {
    NextOrRaise(30486);
    if (!IsWord(rwNOT)) RaiseTokenExpected(30486, "NOT");
    NextOrRaise(30487);
    if (!IsWord(rwEXISTS)) RaiseTokenExpected(30487, "EXISTS");
    NextOrRaise(30249);
    FCreateIfNotExists = true;
  }
  ParseTable();
  ParseColumnDefinitions();
  if (!AtEnd()) {
    GetCurrentToken();
    RaiseAtToken(30246, kUnexpectedToken);
  }
}

void TNRDDDLCreateTable::ExecSQL(TNRDDataSet*, bool, bool, bool&, TNRDAO*, TNRDCursor*) {
  std::unique_ptr<TNRDTable> table;
  std::unique_ptr<TNRDDatabase> db;
  PrepareTable(true, table, db);
  if (table->Exists()) {
    if (FCreateIfNotExists) return;
    throw ENRDException(30247, "Cannot create table. Table '%s' already exists", {TableName});
  }
  BuildIndexDefs(*table, true);
  Wrapped(30248, "Error creating table: '%s'", [&] { table->CreateTable(); });
}

// ----- DROP TABLE and TRUNCATE --------------------------------------------------------------------------------

void TNRDDDLDropTable::Parse() {
  if (!GetNextToken()) throw ENRDException(30251, "Blank SQL command");
  if (IsWord(rwIF)) {
    NextOrRaise(30485);
    if (!IsWord(rwEXISTS)) RaiseTokenExpected(30485, "EXISTS");
    NextOrRaise(30251);
  }
  ParseTable();
  TNRDDDLTableManipulation::Parse();
}

void TNRDDDLDropTable::ExecSQL(TNRDDataSet*, bool, bool, bool&, TNRDAO*, TNRDCursor*) {
  std::unique_ptr<TNRDTable> table;
  std::unique_ptr<TNRDDatabase> db;
  PrepareTable(false, table, db);
  if (!table->Exists()) return;
  Wrapped(30250, "Error dropping table: '%s'", [&] { table->DeleteTable(); });
}

void TNRDDDLTruncateTable::Parse() {
  // The current token is TRUNCATE.
  if (!GetNextToken()) throw ENRDException(30490, "Blank SQL command");
  if (IsWord(rwTABLE) && !GetNextToken()) throw ENRDException(30490, "Blank SQL command");
  ParseTable();
  TNRDDDLTableManipulation::Parse();
}

void TNRDDDLTruncateTable::ExecSQL(TNRDDataSet*, bool, bool, bool&, TNRDAO*, TNRDCursor*) {
  std::unique_ptr<TNRDTable> table;
  std::unique_ptr<TNRDDatabase> db;
  PrepareTable(false, table, db);
  Wrapped(30491, "Error truncating table: '%s'", [&] { table->EmptyTable(); });
}

// ----- ALTER TABLE and RENAME -----------------------------------------------------------------------------

void TNRDDDLAlterTable::Parse() {
  // The current token is TABLE.
  if (!GetNextToken()) throw ENRDException(30261, "Blank SQL command");
  ParseTable();
  constexpr std::string_view kAction = "ADD, DROP or MODIFY keyword expected, but '%s' found at line %d, column %d";
  if (AtEnd()) RaiseAtToken(30253, kAction);
  GetCurrentToken();
  if (Token.TokenType != tktReservedWord) RaiseAtToken(30253, kAction);
  if (IsWord(rwADD) || IsWord(rwMODIFY)) {
    AlterType = IsWord(rwADD) ? atAdd : atModify;
    GetNextToken();
    ParseColumnDefinitions();
  } else if (IsWord(rwDROP)) {
    AlterType = atDrop;
    NextOrRaise(10408);
    if (IsWord(rwCOLUMN) || Token.TokenType == tktLeftParenthesis) NextOrRaise(10408);
    ParseNameList(DropColumnNamesList);
  } else if (IsWord(rwRENAME)) {
    NextOrRaise(30352);
    if (IsWord(rwTO)) {
      AlterType = atRenameTable;
      NextOrRaise(30352);
      NewTableName = NameText();
    } else {
      AlterType = atRenameColumn;
      if (IsWord(rwCOLUMN)) NextOrRaise(30352);
      RenameColumnOldNamesList.push_back(NameText());
      NextOrRaise(30352);
      if (!IsWord(rwTO)) RaiseTokenExpected(30352, "TO");
      NextOrRaise(30352);
      RenameColumnNewNamesList.push_back(NameText());
    }
  } else {
    RaiseAtToken(30252, kAction);
  }
}

void TNRDDDLRenameTable::Parse() {
  // The current token is the table name.
  if (AtEnd() || !GetCurrentToken()) throw ENRDException(30354, "Blank SQL command");
  ParseTable();
  if (AtEnd()) RaiseTokenExpected(30355, "TO");
  GetCurrentToken();
  if (!IsWord(rwTO)) RaiseTokenExpected(30355, "TO");
  NextOrRaise(30355);
  NewTableName = NameText();
  AlterType = atRenameTable;
}

void TNRDDDLAlterTable::ExecSQL(TNRDDataSet*, bool, bool, bool&, TNRDAO*, TNRDCursor*) {
  std::unique_ptr<TNRDTable> table;
  std::unique_ptr<TNRDDatabase> db;
  try {
    PrepareTable(false, table, db);
    // Opening once loads the table's definitions into the restructure definitions.
    table->Open();
    table->Close();
    TNRDAdvFieldDefs& fields = table->RestructureFieldDefs();
    switch (AlterType) {
      case atAdd:
        for (const auto& d : SQLFieldDefs.List) {
          if (fields.Find(d->FieldName) != nullptr) {
            if (d->CreateIfNotExists) continue;
            throw ENRDException(30351, "Field by name '%s' already exists", {d->FieldName});
          }
          CopyFieldDef(*d, fields.AddFieldDef());
        }
        break;
      case atDrop:
        for (const std::string& name : DropColumnNamesList) fields.DeleteFieldDef(name);
        break;
      case atModify:
        for (const auto& d : SQLFieldDefs.List) {
          TNRDAdvFieldDef* existing = fields.Find(d->FieldName);
          if (existing == nullptr) throw ENRDException(30259, "Field '%s' not found", {d->FieldName});
          CopyFieldDef(*d, *existing);
        }
        break;
      case atRenameColumn:
        for (std::size_t i = 0; i < RenameColumnOldNamesList.size(); ++i)
          table->RenameField(RenameColumnOldNamesList[i], RenameColumnNewNamesList[i]);
        return;
      case atRenameTable: table->RenameTable(NewTableName); return;
    }
    BuildIndexDefs(*table, true);
    std::string log;
    if (!table->RestructureTable(log)) throw ENRDException(30347, "Restructure table error: '%s'", {log});
  } catch (const std::exception& e) {
    throw ENRDException(30265, "Error altering table: '%s'", {std::string(e.what())});
  }
}

// ----- CREATE INDEX and DROP INDEX -----------------------------------------------------------------------

void TNRDDDLCreateIndex::Parse() {
  // The current token is UNIQUE or INDEX.
  if (!GetCurrentToken()) throw ENRDException(30266, "Blank SQL command");
  if (IsWord(rwUNIQUE)) {
    Unique = true;
    NextOrRaise(30267);
    if (Token.TokenType != tktReservedWord)
      RaiseAtToken(30267, "'INDEX' keyword expected, but '%s' found at line %d, column %d");
  }
  if (!IsWord(rwINDEX)) RaiseAtToken(30268, "'INDEX' keyword expected, but '%s' found at line %d, column %d");
  NextOrRaise(30269);
  if (!IsNameOrWord(Token)) RaiseAtToken(30269, "index name expected, but '%s' found at line %d, column %d");
  IndexName = NameText();
  NextOrRaise(30270);
  if (Token.TokenType != tktReservedWord)
    RaiseAtToken(30270, "'ON' keyword expected, but '%s' found at line %d, column %d");
  if (!IsWord(rwON)) RaiseAtToken(30271, "'ON' keyword expected, but '%s' found at line %d, column %d");
  NextOrRaise(30272);
  TNRDTableNameParts parts;
  ParseTableName(parts);
  DatabaseFileName = parts.DatabaseFileName;
  TableName = parts.TableName;
  InMemory = parts.InMemory;
  Password = parts.Password;
  TableAlias = parts.Pseudonym;
  if (AtEnd() || Token.TokenType != tktLeftParenthesis)
    RaiseAtToken(30273, "'(' symbol expected, but '%s' found at line %d, column %d");
  for (;;) {
    NextOrRaise(30277);
    if (!IsNameOrWord(Token)) RaiseAtToken(30274, kFieldNameExpected);
    if (IsWord(rwPASSWORD)) {
      NextOrRaise(30275);
      if (Token.TokenType != tktQuotedString && Token.TokenType != tktParameter) RaiseAtToken(30275, kQuotedPassword);
      Password = NameText();
      NextOrRaise(30276);
      if (Token.TokenType != tktRightParenthesis && Token.TokenType != tktComma) RaiseAtToken(30276, kParenOrComma);
    } else {
      TNRDIndexField f;
      f.FieldName = Token.Text;
      for (;;) {
        NextOrRaise(30277);
        if (Token.TokenType == tktRightParenthesis || Token.TokenType == tktComma) break;
        if (IsWord(rwDESC)) f.desc = true;
        else if (IsWord(rwASC)) f.desc = false;
        else if (IsWord(rwNOCASE)) f.nocase = true;
        else if (IsWord(rwCASE)) f.nocase = false;
        else RaiseAtToken(30276, kParenOrComma);
      }
      NRDIndexFields.push_back(std::move(f));
    }
    if (Token.TokenType == tktRightParenthesis) break;
  }
  if (NRDIndexFields.empty()) RaiseAtToken(30274, kFieldNameExpected);
}

void TNRDDDLCreateIndex::ExecSQL(TNRDDataSet* query, bool, bool, bool&, TNRDAO*, TNRDCursor*) {
  std::vector<std::string> fields, desc, nocase;
  for (const TNRDIndexField& f : NRDIndexFields) {
    fields.push_back(f.FieldName);
    if (f.desc) desc.push_back(f.FieldName);
    if (f.nocase) nocase.push_back(f.FieldName);
  }
  std::unique_ptr<TNRDTable> table;
  std::unique_ptr<TNRDDatabase> db;
  OpenExternalTable(query, DatabaseFileName, TableName, Password, InMemory, table, db);
  table->AddIndex(IndexName, Join(fields, ';'), Unique ? ixUnique : 0, Join(desc, ';'), Join(nocase, ';'));
}

void TNRDDDLDropIndex::Parse() {
  // The current token is INDEX.
  if (!GetNextToken()) RaiseUnexpectedEnd(30278);
  TNRDTableNameParts parts;
  ParseTableName(parts);
  InMemory = parts.InMemory;
  Password = parts.Password;
  if (!AtEnd() && Token.TokenType == tktDot) {
    // file.table.index
    NextOrRaise(30281);
    DatabaseFileName = parts.DatabaseFileName;
    TableName = parts.TableName;
    IndexName = NameText();
    if (GetNextToken() && IsWord(rwPASSWORD)) {
      if (!GetNextToken() || (Token.TokenType != tktQuotedString && Token.TokenType != tktParameter))
        RaiseAtToken(30282, kQuotedPassword);
      Password = NameText();
    }
  } else {
    TableName = parts.DatabaseFileName;
    IndexName = parts.TableName;
  }
  if (TableName.empty())
    throw ENRDException(30498, "Table name expected, but '%s' found at line %d, column %d",
                        {IndexName, Token.LineNum, Token.ColumnNum});
}

void TNRDDDLDropIndex::ExecSQL(TNRDDataSet* query, bool, bool, bool&, TNRDAO*, TNRDCursor*) {
  std::unique_ptr<TNRDTable> table;
  std::unique_ptr<TNRDDatabase> db;
  OpenExternalTable(query, DatabaseFileName, TableName, Password, InMemory, table, db);
  table->DeleteIndex(IndexName);
}

}  // namespace nrd::sql
