// The engine's data-set layer: components, values, definitions, parameters, fields, data sources
// and the data set's state machine.
#include "engine/components/NRDDB.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/foundation/NRDText.h"

namespace nrd {

// ----- errors -----------------------------------------------------------------------------------------------

void DatabaseError(std::string_view message, const TComponent* component) {
  if (component != nullptr && !component->Name().empty())
    throw EDatabaseError(component->Name() + ": " + std::string(message));
  throw EDatabaseError(std::string(message));
}

void DatabaseErrorFmt(std::string_view format, TVarRecs args, const TComponent* component) {
  DatabaseError(Format(format, args), component);
}

namespace {

std::string Trim(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

std::atomic<std::int64_t> gLiveDataSets{0};

}  // namespace

// ----- components -------------------------------------------------------------------------------------------

TComponent::TComponent(TComponent* owner) : FOwner(owner) {
  if (owner != nullptr) owner->FComponents.push_back(this);
}

TComponent::~TComponent() {
  // Owned components go first, the last made first; each leaves our list as it goes.
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    for (TComponent* other : FComponents)
      if (other != c) other->Notification(c);
    c->FOwner = nullptr;
    FComponents.pop_back();
    delete c;
  }
  if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  for (TComponent* c : FComponents)
    if (!c->Name().empty() && SameText(c->Name(), name)) return c;
  return nullptr;
}

void TComponent::Notification(TComponent*) {}

void TComponent::RemoveComponent(TComponent* component) {
  FComponents.erase(std::remove(FComponents.begin(), FComponents.end(), component), FComponents.end());
  for (TComponent* other : FComponents) other->Notification(component);
}

// ----- values -----------------------------------------------------------------------------------------------

TVariantValue NullValue() { return TVariantValue::Null(); }
TVariantValue BoolValue(bool v) { return TVariantValue::Of(varBoolean, v ? 1 : 0); }
TVariantValue IntValue(std::int64_t v) { return TVariantValue::Of(varInt64, v); }
TVariantValue FloatValue(double v) { return TVariantValue::OfFloat(varDouble, v); }
TVariantValue TextValue(std::string_view v) {
  TVariantValue r{varString};
  r.Ansi = std::string(v);
  return r;
}
TVariantValue WideValue(std::u16string_view v) {
  TVariantValue r{varUString};
  r.Wide = std::u16string(v);
  return r;
}
TVariantValue DateTimeValue(TDateTime v) { return TVariantValue::OfFloat(varDate, v); }

std::string FloatToShortestText(double v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

namespace {

std::string Two(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%02d", v);
  return b;
}

}  // namespace

std::string DateToISO(TDateTime v) {
  int y = 0, m = 0, d = 0;
  if (!TryDecodeDate(v, y, m, d)) return FloatToShortestText(v);
  char b[32];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d", y, m, d);
  return b;
}

std::string TimeToISO(TDateTime v) {
  int h = 0, n = 0, s = 0, ms = 0;
  DecodeTime(v, h, n, s, ms);
  std::string r = Two(h) + ":" + Two(n) + ":" + Two(s);
  if (ms != 0) {
    char b[8];
    std::snprintf(b, sizeof b, ".%03d", ms);
    r += b;
  }
  return r;
}

std::string DateTimeToISO(TDateTime v) { return DateToISO(v) + " " + TimeToISO(v); }

std::string ValueToText(const TVariantValue& v) {
  switch (v.VType) {
    case varEmpty:
    case varNull: return "";
    case varBoolean: return v.Int != 0 ? "True" : "False";
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord: case varLongWord:
    case varInt64: return IntToStr(v.Int);
    case varUInt64: return UIntToStr(v.UInt);
    case varSingle: case varDouble: case varCurrency: return FloatToShortestText(v.Float);
    case varDate: return DateTimeToISO(v.Float);
    case varOleStr: case varUString: return WideToAnsi(v.Wide);
    default: return v.Ansi;
  }
}

bool SameValue(const TVariantValue& a, const TVariantValue& b) {
  if (IsNullValue(a) || IsNullValue(b)) return IsNullValue(a) && IsNullValue(b);
  TNRDVariant x, y;
  x.SetAsVariant(a);
  y.SetAsVariant(b);
  try {
    return x.Compare(y, false, false, false) == cmprEqual;
  } catch (const Exception&) {
    return false;
  }
}

// ----- definitions ------------------------------------------------------------------------------------------

TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType dataType, std::int32_t size, bool required) {
  TFieldDef& d = AddFieldDef();
  d.Name = name;
  d.DataType = dataType;
  d.Size = size;
  d.Required = required;
  return d;
}

TFieldDef& TFieldDefs::AddFieldDef() {
  TFieldDef& d = FItems.AddNew();
  d.FieldNo = Count();
  return d;
}

void TFieldDefs::Delete(std::int32_t i) {
  FItems.Delete(i);
  for (std::int32_t k = 0; k < Count(); ++k) FItems.Item(k).FieldNo = k + 1;
}

TFieldDef& TFieldDefs::Find(std::string_view name) {
  TFieldDef* d = FItems.Find(name);
  if (d == nullptr) DatabaseErrorFmt("Field '%s' not found", {std::string(name)});
  return *d;
}

TIndexDef& TIndexDefs::Add(const std::string& name, const std::string& fields, TIndexOptions options) {
  TIndexDef& d = AddIndexDef();
  d.Name = name;
  d.Fields = fields;
  d.Options = options;
  return d;
}

TIndexDef& TIndexDefs::Find(std::string_view name) {
  TIndexDef* d = FItems.Find(name);
  if (d == nullptr) DatabaseErrorFmt("Index '%s' not found", {std::string(name)});
  return *d;
}

std::vector<std::string> SplitFieldNames(std::string_view fields) {
  std::vector<std::string> names;
  std::string cur;
  auto flush = [&] {
    std::string t = Trim(cur);
    if (!t.empty()) names.push_back(t);
    cur.clear();
  };
  for (char c : fields) {
    if (c == ';' || c == ',') flush();
    else cur += c;
  }
  flush();
  return names;
}

namespace {

std::string UpperList(std::string_view fields) {
  std::string r;
  for (const std::string& n : SplitFieldNames(fields)) {
    if (!r.empty()) r += ';';
    r += AnsiUpperCase(n);
  }
  return r;
}

}  // namespace

TIndexDef* TIndexDefs::FindIndexForFields(std::string_view fields) {
  const std::vector<std::string> want = SplitFieldNames(AnsiUpperCase(fields));
  if (want.empty()) return nullptr;
  for (auto& d : FItems)
    if (SplitFieldNames(UpperList(d->Fields)) == want) return d.get();
  for (auto& d : FItems) {
    const std::vector<std::string> have = SplitFieldNames(UpperList(d->Fields));
    if (have.size() >= want.size() && std::equal(want.begin(), want.end(), have.begin())) return d.get();
  }
  return nullptr;
}

TIndexDef& TIndexDefs::GetIndexForFields(std::string_view fields) {
  TIndexDef* d = FindIndexForFields(fields);
  if (d == nullptr) DatabaseErrorFmt("Index for fields '%s' not found", {std::string(fields)});
  return *d;
}

// ----- parameters -------------------------------------------------------------------------------------------

TParam& TParams::CreateParam(TFieldType dataType, const std::string& name, TParamType paramType) {
  TParam& p = FItems.AddNew();
  p.Name = name;
  p.DataType = dataType;
  p.ParamType = paramType;
  return p;
}

TParam& TParams::ParamByName(std::string_view name) {
  TParam* p = FindParam(name);
  if (p == nullptr) DatabaseErrorFmt("Parameter '%s' not found", {std::string(name)});
  return *p;
}

void TParams::AssignValues(const TParams& source) {
  for (auto& p : FItems)
    for (const auto& s : source.FItems)
      if (SameText(p->Name, s->Name)) {
        p->Value = s->Value;
        if (s->DataType != ftUnknown) p->DataType = s->DataType;
        break;
      }
}

std::string TParams::ParseSQL(std::string_view sql, bool doCreate) {
  std::string out;
  out.reserve(sql.size());
  auto isNameChar = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$' ||
           static_cast<unsigned char>(c) >= 0x80;
  };
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == '\'' || c == '"' || c == '`') {
      // A quoted text up to its closing quote (a doubled quote stays inside).
      const std::size_t start = i++;
      while (i < sql.size()) {
        if (sql[i] == c) {
          if (i + 1 < sql.size() && sql[i + 1] == c) {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      out.append(sql.substr(start, i - start));
      continue;
    }
    if (c == ':') {
      if (i + 1 < sql.size() && sql[i + 1] == ':') {
        out += ':';
        i += 2;
        continue;
      }
      std::string name;
      std::size_t j = i + 1;
      if (j < sql.size() && sql[j] == '"') {
        const std::size_t close = sql.find('"', j + 1);
        if (close != std::string_view::npos) {
          name = std::string(sql.substr(j + 1, close - j - 1));
          j = close + 1;
        }
      } else {
        while (j < sql.size() && isNameChar(sql[j])) name += sql[j++];
      }
      if (name.empty()) {
        out += c;
        ++i;
        continue;
      }
      if (doCreate) CreateParam(ftUnknown, name, ptInput);
      out += '?';
      i = j;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

// ----- fields -----------------------------------------------------------------------------------------------

TNRDBaseFieldType FieldTypeToBaseType(TFieldType t) {
  switch (t) {
    case ftString: case ftFixedChar: case ftGuid: return bftVarchar;
    case ftWideString: case ftFixedWideChar: return bftWideVarchar;
    case ftShortint: return bftSignedInt8;
    case ftSmallint: return bftSignedInt16;
    case ftInteger: case ftAutoInc: return bftSignedInt32;
    case ftLargeint: return bftSignedInt64;
    case ftByte: return bftUnsignedInt8;
    case ftWord: return bftUnsignedInt16;
    case ftLongWord: return bftUnsignedInt32;
    case ftSingle: return bftSingle;
    case ftFloat: return bftDouble;
    case ftExtended: return bftExtended;
    case ftCurrency: case ftBCD: case ftFMTBcd: return bftCurrency;
    case ftBoolean: return bftLogical;
    case ftDate: return bftDate;
    case ftTime: return bftTime;
    case ftDateTime: case ftTimeStamp: return bftDateTime;
    case ftBytes: return bftBytes;
    case ftVarBytes: return bftVarBytes;
    case ftMemo: case ftFmtMemo: return bftClob;
    case ftWideMemo: return bftWideClob;
    case ftBlob: case ftGraphic: case ftTypedBinary: return bftBlob;
    default: return bftUnknown;
  }
}

bool IsBlobFieldType(TFieldType t) {
  return t == ftBlob || t == ftMemo || t == ftGraphic || t == ftFmtMemo || t == ftTypedBinary || t == ftWideMemo ||
         t == ftOraBlob || t == ftOraClob;
}

TField::TField(TComponent* owner) : TComponent(owner) {}

TField::~TField() {
  if (FDataSet != nullptr) {
    auto& list = FDataSet->FFields;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

void TField::SetDataSet(TDataSet* value) {
  if (value == FDataSet) return;
  if (value != nullptr) value->CheckInactive();
  if (FDataSet != nullptr) {
    FDataSet->CheckInactive();
    auto& list = FDataSet->FFields;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  FDataSet = value;
  if (value != nullptr) {
    if (value->FindField(FFieldName) != nullptr) DatabaseErrorFmt("Duplicate field name '%s'", {FFieldName}, value);
    value->FFields.push_back(this);
  }
}

bool TField::IsBlob() const { return IsBlobFieldType(FDataType); }

void TField::GetValue(TNRDVariant& value) const {
  if (FDataSet == nullptr) DatabaseErrorFmt("Field '%s' has no dataset", {FFieldName}, this);
  FDataSet->GetFieldValue(*this, value);
}

void TField::SetValue(TNRDVariant& value) {
  if (FDataSet == nullptr) DatabaseErrorFmt("Field '%s' has no dataset", {FFieldName}, this);
  FDataSet->SetFieldValue(*this, value);
}

bool TField::IsNull() const {
  TNRDVariant v;
  GetValue(v);
  return v.IsNull();
}

void TField::Clear() {
  TNRDVariant v(FieldTypeToBaseType(FDataType));
  SetValue(v);
}

namespace {

[[noreturn]] void BadValue(const TField& f, std::string_view text, const char* kind) {
  DatabaseErrorFmt("'%s' is not a valid %s value for field '%s'", {std::string(text), std::string(kind), f.FieldName()});
}

bool ParseISODate(std::string_view s, TDateTime& out) {
  int y = 0, m = 0, d = 0;
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
  auto num = [&](std::size_t p, std::size_t n, int& v) {
    return std::from_chars(s.data() + p, s.data() + p + n, v).ptr == s.data() + p + n;
  };
  return num(0, 4, y) && num(5, 2, m) && num(8, 2, d) && TryEncodeDate(y, m, d, out);
}

bool ParseISOTime(std::string_view s, TDateTime& out) {
  int h = 0, n = 0, sec = 0, ms = 0;
  if (s.size() < 5 || s[2] != ':') return false;
  auto num = [&](std::size_t p, std::size_t len, int& v) {
    return p + len <= s.size() && std::from_chars(s.data() + p, s.data() + p + len, v).ptr == s.data() + p + len;
  };
  if (!num(0, 2, h) || !num(3, 2, n)) return false;
  std::size_t p = 5;
  if (p < s.size()) {
    if (s[p] != ':' || !num(p + 1, 2, sec)) return false;
    p += 3;
    if (p < s.size()) {
      if (s[p] != '.' || p + 1 >= s.size()) return false;
      const std::size_t len = s.size() - p - 1;
      if (len > 3 || !num(p + 1, len, ms)) return false;
      for (std::size_t k = len; k < 3; ++k) ms *= 10;
    }
  }
  return TryEncodeTime(h, n, sec, ms, out);
}

bool ParseISODateTime(std::string_view s, TDateTime& out) {
  if (s.size() <= 10) return ParseISODate(s, out);
  TDateTime d = 0, t = 0;
  if ((s[10] != ' ' && s[10] != 'T') || !ParseISODate(s.substr(0, 10), d) || !ParseISOTime(s.substr(11), t))
    return false;
  out = ComposeDateTime(d, t);
  return true;
}

}  // namespace

std::string TField::AsString() const {
  TNRDVariant v;
  GetValue(v);
  if (v.IsNull()) return "";
  switch (v.DataType()) {
    case bftSignedInt8: case bftSignedInt16: case bftSignedInt32: case bftSignedInt64: case bftUnsignedInt8:
    case bftUnsignedInt16: case bftUnsignedInt32: return IntToStr(v.AsInt64());
    case bftSingle: return FloatToShortestText(static_cast<double>(v.AsSingle()));
    case bftDouble: case bftExtended: case bftCurrency: return FloatToShortestText(v.AsDouble());
    case bftLogical: return v.AsBoolean() ? "True" : "False";
    case bftDate: return DateToISO(v.AsTDate());
    case bftTime: return TimeToISO(v.AsTTime());
    case bftDateTime: return DateTimeToISO(v.AsTDateTime());
    case bftBlob: case bftBytes: case bftVarBytes: case bftClob:
      return std::string(static_cast<const char*>(v.pData()), static_cast<std::size_t>(v.DataSize()));
    case bftWideClob: {
      std::u16string w(static_cast<std::size_t>(v.DataSize()) / 2, u'\0');
      std::memcpy(w.data(), v.pData(), w.size() * 2);
      return WideToAnsi(w);
    }
    default: return v.AsAnsiString();
  }
}

void TField::SetAsString(std::string_view s) {
  const TNRDBaseFieldType t = FieldTypeToBaseType(FDataType);
  TNRDVariant v(t);
  if (s.empty() && !IsStringBaseFieldType(t)) {
    SetValue(v);  // an empty text clears a non-text field
    return;
  }
  switch (t) {
    case bftSignedInt8: case bftSignedInt16: case bftSignedInt32: case bftSignedInt64: case bftUnsignedInt8:
    case bftUnsignedInt16: case bftUnsignedInt32: {
      std::int64_t i = 0;
      if (!TryStrToInt64(Trim(s), i)) BadValue(*this, s, "integer");
      v.SetAsInt64(i);
      break;
    }
    case bftSingle: case bftDouble: case bftExtended: case bftCurrency: {
      const std::string text = Trim(s);
      double d = 0;
      auto res = std::from_chars(text.data(), text.data() + text.size(), d);
      if (res.ec != std::errc() || res.ptr != text.data() + text.size()) BadValue(*this, s, "floating point");
      v.SetAsDouble(d);
      break;
    }
    case bftLogical: {
      const std::string u = AnsiUpperCase(Trim(s));
      if (u == "TRUE" || u == "1") v.SetAsBoolean(true);
      else if (u == "FALSE" || u == "0") v.SetAsBoolean(false);
      else BadValue(*this, s, "boolean");
      break;
    }
    case bftDate: case bftTime: case bftDateTime: {
      TDateTime d = 0;
      const std::string text = Trim(s);
      const bool ok = t == bftTime ? ParseISOTime(text, d) : ParseISODateTime(text, d);
      if (!ok) BadValue(*this, s, "date and time");
      v.SetAsTDateTime(d);
      break;
    }
    case bftBlob: case bftBytes: case bftVarBytes: case bftClob:
      if (!s.empty()) v.SetData(s.data(), static_cast<std::int32_t>(s.size()), t, true);
      break;
    case bftWideClob: {
      const std::u16string w = AnsiToWide(s);
      if (!w.empty()) v.SetData(w.data(), static_cast<std::int32_t>(w.size() * 2), t, true);
      break;
    }
    default: v.SetAsAnsiString(s); break;
  }
  SetValue(v);
}

std::u16string TField::AsWideString() const {
  TNRDVariant v;
  GetValue(v);
  if (v.IsNull()) return u"";
  if (v.IsStringDataType()) return v.AsWideString();
  if (v.DataType() == bftWideClob) {
    std::u16string w(static_cast<std::size_t>(v.DataSize()) / 2, u'\0');
    std::memcpy(w.data(), v.pData(), w.size() * 2);
    return w;
  }
  return AnsiToWide(AsString());
}

void TField::SetAsWideString(std::u16string_view s) {
  const TNRDBaseFieldType t = FieldTypeToBaseType(FDataType);
  TNRDVariant v(t);
  if (t == bftWideClob) {
    if (!s.empty()) v.SetData(s.data(), static_cast<std::int32_t>(s.size() * 2), t, true);
  } else if (IsStringBaseFieldType(t)) {
    v.SetAsWideString(s);
  } else {
    SetAsString(WideToAnsi(s));
    return;
  }
  SetValue(v);
}

std::int32_t TField::AsInteger() const {
  const std::int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX) DatabaseErrorFmt("Value of field '%s' is out of range", {FFieldName}, this);
  return static_cast<std::int32_t>(v);
}

void TField::SetAsInteger(std::int32_t v) { SetAsLargeInt(v); }

std::int64_t TField::AsLargeInt() const {
  TNRDVariant v;
  GetValue(v);
  if (v.IsNull()) return 0;
  if (v.IsStringDataType()) {
    std::int64_t i = 0;
    if (!TryStrToInt64(Trim(v.AsAnsiString()), i)) BadValue(*this, v.AsAnsiString(), "integer");
    return i;
  }
  return v.AsInt64();
}

void TField::SetAsLargeInt(std::int64_t i) {
  TNRDVariant v(FieldTypeToBaseType(FDataType));
  if (v.IsStringDataType()) v.SetAsAnsiString(IntToStr(i));
  else v.SetAsInt64(i);
  SetValue(v);
}

double TField::AsFloat() const {
  TNRDVariant v;
  GetValue(v);
  if (v.IsNull()) return 0;
  if (v.IsStringDataType()) {
    const std::string text = Trim(v.AsAnsiString());
    double d = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), d);
    if (res.ec != std::errc() || res.ptr != text.data() + text.size()) BadValue(*this, text, "floating point");
    return d;
  }
  if (v.IsDateTimeDataType()) return v.AsTDateTime();
  return v.AsDouble();
}

void TField::SetAsFloat(double d) {
  TNRDVariant v(FieldTypeToBaseType(FDataType));
  if (v.IsStringDataType()) v.SetAsAnsiString(FloatToShortestText(d));
  else if (v.IsDateTimeDataType()) v.SetAsTDateTime(d);
  else v.SetAsDouble(d);
  SetValue(v);
}

bool TField::AsBoolean() const {
  TNRDVariant v;
  GetValue(v);
  if (v.IsNull()) return false;
  if (v.IsStringDataType()) {
    const std::string u = AnsiUpperCase(Trim(v.AsAnsiString()));
    if (u == "TRUE" || u == "1") return true;
    if (u == "FALSE" || u == "0") return false;
    BadValue(*this, v.AsAnsiString(), "boolean");
  }
  return v.AsBoolean();
}

void TField::SetAsBoolean(bool b) {
  TNRDVariant v(FieldTypeToBaseType(FDataType));
  if (v.IsStringDataType()) v.SetAsAnsiString(b ? "True" : "False");
  else v.SetAsBoolean(b);
  SetValue(v);
}

TDateTime TField::AsDateTime() const {
  TNRDVariant v;
  GetValue(v);
  if (v.IsNull()) return 0;
  if (v.IsStringDataType()) {
    TDateTime d = 0;
    if (!ParseISODateTime(Trim(v.AsAnsiString()), d)) BadValue(*this, v.AsAnsiString(), "date and time");
    return d;
  }
  return v.AsTDateTime();
}

void TField::SetAsDateTime(TDateTime d) {
  TNRDVariant v(FieldTypeToBaseType(FDataType));
  if (v.IsStringDataType()) {
    v.SetAsAnsiString(FDataType == ftDate ? DateToISO(d) : DateTimeToISO(d));
  } else {
    v.SetAsTDateTime(d);
  }
  SetValue(v);
}

std::string TField::AsBytes() const {
  TNRDVariant v;
  GetValue(v);
  if (v.IsNull()) return "";
  if (v.IsStringDataType()) return v.AsAnsiString();
  return std::string(static_cast<const char*>(v.pData()), static_cast<std::size_t>(v.DataSize()));
}

void TField::SetAsBytes(std::string_view s) {
  const TNRDBaseFieldType t = FieldTypeToBaseType(FDataType);
  TNRDVariant v(t);
  if (IsStringBaseFieldType(t)) v.SetAsAnsiString(s);
  else if (!s.empty()) v.SetData(s.data(), static_cast<std::int32_t>(s.size()), t, true);
  SetValue(v);
}

TVariantValue TField::AsVariant() const {
  TNRDVariant v;
  GetValue(v);
  if (v.IsNull()) return NullValue();
  switch (v.DataType()) {
    case bftWideClob: return WideValue(AsWideString());
    case bftClob: case bftBytes: case bftVarBytes: case bftBlob: return TextValue(AsBytes());
    case bftDate: case bftTime: case bftDateTime: return DateTimeValue(v.AsTDateTime());
    default: return v.AsVariant();
  }
}

void TField::SetAsVariant(const TVariantValue& value) {
  if (IsNullValue(value)) {
    Clear();
    return;
  }
  const TNRDBaseFieldType t = FieldTypeToBaseType(FDataType);
  switch (value.VType) {
    case varString:
      if (t == bftBlob || t == bftBytes || t == bftVarBytes || t == bftClob) SetAsBytes(value.Ansi);
      else SetAsString(value.Ansi);
      return;
    case varOleStr: case varUString: SetAsWideString(value.Wide); return;
    case varDate:
      if (IsStringBaseFieldType(t) || IsDateTimeBaseFieldType(t)) SetAsDateTime(value.Float);
      else SetAsFloat(value.Float);
      return;
    default: break;
  }
  TNRDVariant v(t);
  TNRDVariant src;
  src.SetAsVariant(value);
  if (IsStringBaseFieldType(t)) {
    // Numbers and booleans take their text form.
    TVariantValue tv = value;
    v.SetAsAnsiString(ValueToText(tv));
  } else {
    v.Assign(src, true);
    v.Cast(t);
  }
  SetValue(v);
}

void TField::Assign(const TField& source) {
  if (source.IsNull()) {
    Clear();
    return;
  }
  if (source.IsBlob() || IsBlob()) {
    if (FDataType == ftWideMemo || source.FDataType == ftWideMemo) SetAsWideString(source.AsWideString());
    else SetAsBytes(source.AsBytes());
    return;
  }
  SetAsVariant(source.AsVariant());
}

// ----- data sources and links -------------------------------------------------------------------------------

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  for (TDataLink* l : FDataLinks) l->FDataSource = nullptr;
  SetDataSet(nullptr);
}

void TDataSource::SetDataSet(TDataSet* value) {
  if (value == FDataSet) return;
  // A detail data set must not become its own master through this source.
  if (value != nullptr)
    for (TDataLink* l : FDataLinks)
      if (TDataSet* owner = l->LinkOwner())
        for (TDataSet* ds = value; ds != nullptr;
             ds = ds->MasterSource() != nullptr ? ds->MasterSource()->DataSet() : nullptr)
          if (ds == owner) DatabaseError("Circular datalinks are not allowed", owner);
  if (FDataSet != nullptr) {
    auto& list = FDataSet->FDataSources;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  FDataSet = value;
  if (value != nullptr) value->FDataSources.push_back(this);
  for (TDataLink* l : FDataLinks) l->DataEvent(deUpdateState, nullptr);
}

void TDataSource::SetEnabled(bool value) {
  FEnabled = value;
  for (TDataLink* l : FDataLinks) l->DataEvent(deUpdateState, nullptr);
}

void TDataSource::DataEvent(TDataEvent event, TField* field) {
  if (!FEnabled) return;
  // A copy: a link may leave the source while it handles the event.
  const std::vector<TDataLink*> links = FDataLinks;
  for (TDataLink* l : links) l->DataEvent(event, field);
  if (event == deUpdateState && OnStateChange) OnStateChange(*this);
  if ((event == deFieldChange || event == deRecordChange || event == deDataSetChange || event == deDataSetScroll) &&
      OnDataChange)
    OnDataChange(*this, event == deFieldChange ? field : nullptr);
}

TDataLink::~TDataLink() {
  if (FDataSource != nullptr) {
    auto& list = FDataSource->FDataLinks;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
}

void TDataLink::SetDataSource(TDataSource* value) {
  if (value == FDataSource) return;
  if (TDataSet* owner = LinkOwner(); owner != nullptr && value != nullptr)
    for (TDataSet* ds = value->DataSet(); ds != nullptr;
         ds = ds->MasterSource() != nullptr ? ds->MasterSource()->DataSet() : nullptr)
      if (ds == owner) DatabaseError("Circular datalinks are not allowed", owner);
  if (FDataSource != nullptr) {
    auto& list = FDataSource->FDataLinks;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  FDataSource = value;
  if (value != nullptr) value->FDataLinks.push_back(this);
  ActiveChanged();
}

TDataSet* TDataLink::DataSet() const { return FDataSource != nullptr ? FDataSource->DataSet() : nullptr; }

bool TDataLink::Active() const {
  return FDataSource != nullptr && FDataSource->Enabled() && DataSet() != nullptr && DataSet()->Active();
}

void TDataLink::DataEvent(TDataEvent event, TField* field) {
  switch (event) {
    case deFieldChange:
    case deRecordChange: RecordChanged(field); break;
    case deDataSetChange:
    case deLayoutChange: DataSetChanged(); break;
    case deDataSetScroll: DataSetScrolled(); break;
    case deUpdateState:
      ActiveChanged();
      EditingChanged();
      break;
    default: break;
  }
}

std::vector<TField*> TMasterDataLink::Fields() const {
  std::vector<TField*> r;
  TDataSet* ds = DataSet();
  if (ds == nullptr) return r;
  for (const std::string& n : SplitFieldNames(FFieldNames)) r.push_back(&ds->FieldByName(n));
  return r;
}

void TMasterDataLink::ActiveChanged() {
  if (FDetail->Active()) FDetail->MasterChanged();
}
void TMasterDataLink::RecordChanged(TField* field) {
  // Only a change of a master key field (or of the whole record) moves the detail.
  if (field == nullptr) {
    if (FDetail->Active()) FDetail->MasterChanged();
    return;
  }
  for (const std::string& n : SplitFieldNames(FFieldNames))
    if (SameText(n, field->FieldName())) {
      if (FDetail->Active()) FDetail->MasterChanged();
      return;
    }
}
void TMasterDataLink::DataSetChanged() {
  if (FDetail->Active()) FDetail->MasterChanged();
}
void TMasterDataLink::DataSetScrolled() {
  if (FDetail->Active()) FDetail->MasterChanged();
}

// ----- the data set -----------------------------------------------------------------------------------------

std::int64_t LiveDataSetCount() { return gLiveDataSets.load(); }

TDataSet::TDataSet(TComponent* owner) : TComponent(owner) { ++gLiveDataSets; }

TDataSet::~TDataSet() {
  // A subclass closes itself in its own destructor (its hooks are gone here); this only drops
  // what the layer holds.
  for (TDataSource* s : FDataSources) s->FDataSet = nullptr;
  FMasterLink.SetDataSource(nullptr);
  for (TField* f : FFields) f->FDataSet = nullptr;
  FFields.clear();
  FOwnedFields.clear();
  --gLiveDataSets;
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError("Cannot perform this operation on a closed dataset", this);
}

void TDataSet::CheckInactive() const {
  if (Active()) DatabaseError("Cannot perform this operation on an open dataset", this);
}

void TDataSet::SetState(TDataSetState value) {
  if (FState == value) return;
  FState = value;
  DataEvent(deUpdateState, nullptr);
}

bool TDataSet::IsEmpty() const { return !Active() || (!FRecordPresent && FState != dsInsert); }

void TDataSet::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    if (BeforeOpen) BeforeOpen(*this);
    FState = dsOpening;
    try {
      OpenCursor();
    } catch (...) {
      FState = dsInactive;
      try {
        CloseCursor();
      } catch (...) {
      }
      throw;
    }
    FState = dsInactive;
    SetState(dsBrowse);
    if (FFiltered || HasFilterHandler() || MasterSource() != nullptr) ActivateFilters();
    InternalFirst();
    TGetResult r = GetRecord(FActiveBuffer, gmNext);
    FRecordPresent = r == grOK;
    FBof = true;
    FEof = !FRecordPresent;
    CalculateFields(FActiveBuffer);
    DataEvent(deDataSetChange, nullptr);
    if (AfterOpen) AfterOpen(*this);
    DoAfterScroll();
  } else {
    if (FState == dsEdit || FState == dsInsert) Cancel();
    if (BeforeClose) BeforeClose(*this);
    CloseCursor();
    SetState(dsInactive);
    DataEvent(deDataSetChange, nullptr);
    if (AfterClose) AfterClose(*this);
  }
}

void TDataSet::OpenCursor() {
  InternalOpen();
  CreateFields();
  FActiveBuffer = AllocRecordBuffer();
  FTempBuffer = AllocRecordBuffer();
}

void TDataSet::CloseCursor() {
  if (FOldBuffer != nullptr) FreeRecordBuffer(FOldBuffer);
  if (FActiveBuffer != nullptr) FreeRecordBuffer(FActiveBuffer);
  if (FTempBuffer != nullptr) FreeRecordBuffer(FTempBuffer);
  FRecordPresent = false;
  FBof = FEof = true;
  FStateBuffer = nullptr;
  InternalClose();
  DestroyFields();
}

void TDataSet::CreateFields() {
  InternalInitFieldDefs();
  for (std::int32_t i = 0; i < FFieldDefs.Count(); ++i) {
    const TFieldDef& d = FFieldDefs[i];
    TField* f = FindField(d.Name);
    if (f == nullptr) {
      auto owned = std::make_unique<TField>(nullptr);
      owned->FFieldName = d.Name;
      owned->FDataType = d.DataType;
      owned->FSize = d.Size;
      owned->FRequired = d.Required;
      owned->FDataSet = this;
      f = owned.get();
      FFields.push_back(f);
      FOwnedFields.push_back(std::move(owned));
    } else if (f->FieldKind() == fkData) {
      f->FDataType = d.DataType;
      f->FSize = d.Size;
    }
    if (f->FieldKind() == fkData) f->FFieldNo = d.FieldNo;
  }
  for (TField* f : FFields)
    if (f->FieldKind() == fkData && FFieldDefs.IndexOf(f->FieldName()) < 0)
      DatabaseErrorFmt("Field '%s' not found", {f->FieldName()}, this);
  OnFieldsCreated();
}

void TDataSet::DestroyFields() {
  for (auto& owned : FOwnedFields) {
    FFields.erase(std::remove(FFields.begin(), FFields.end(), owned.get()), FFields.end());
    owned->FDataSet = nullptr;
  }
  FOwnedFields.clear();
  for (TField* f : FFields) {
    f->FFieldNo = 0;
    f->FCalcValue.Clear(bftUnknown);
  }
}

TField* TDataSet::FindField(std::string_view name) const {
  for (TField* f : FFields)
    if (SameText(f->FieldName(), name)) return f;
  return nullptr;
}

TField& TDataSet::FieldByName(std::string_view name) const {
  TField* f = FindField(name);
  if (f == nullptr) DatabaseErrorFmt("Field '%s' not found", {std::string(name)}, this);
  return *f;
}

std::vector<TVariantValue> TDataSet::FieldValues(std::string_view fieldNames) const {
  std::vector<TVariantValue> r;
  for (const std::string& n : SplitFieldNames(fieldNames)) r.push_back(FieldByName(n).AsVariant());
  return r;
}

void* TDataSet::ActiveRecordBuffer() const {
  switch (FState) {
    case dsBrowse: return FRecordPresent ? FActiveBuffer : nullptr;
    case dsEdit:
    case dsInsert: return FActiveBuffer;
    case dsCalcFields:
    case dsFilter:
    case dsInternalCalc: return FStateBuffer;
    case dsOldValue: return FOldBuffer != nullptr ? FOldBuffer : (FRecordPresent ? FActiveBuffer : nullptr);
    default: return nullptr;
  }
}

void TDataSet::GetFieldValue(const TField& field, TNRDVariant& value) const {
  if (field.Calculated()) {
    value.Assign(field.FCalcValue, true);
    return;
  }
  const void* buffer = ActiveRecordBuffer();
  if (buffer == nullptr) {
    value.Clear(FieldTypeToBaseType(field.DataType()));
    return;
  }
  ReadFieldValue(field, buffer, value);
}

void TDataSet::SetFieldValue(TField& field, TNRDVariant& value) {
  if (field.Calculated()) {
    if (FState != dsCalcFields && FState != dsInternalCalc)
      DatabaseErrorFmt("Field '%s' cannot be modified", {field.FieldName()}, this);
    field.FCalcValue.Assign(value, true);
    return;
  }
  if (FState != dsEdit && FState != dsInsert && FState != dsSetKey && FState != dsNewValue)
    DatabaseError("Dataset not in edit or insert mode", this);
  if (field.ReadOnly()) DatabaseErrorFmt("Field '%s' cannot be modified", {field.FieldName()}, this);
  WriteFieldValue(field, value, FActiveBuffer);
  FModified = true;
  DataEvent(deFieldChange, &field);
  // Calculated fields show the record as it is being edited, not as it was read.
  if (FState == dsEdit || FState == dsInsert) CalculateFields(FActiveBuffer);
}

void TDataSet::SetStateTemp(TDataSetState state, void* buffer, TDataSetState& old, void*& oldBuffer) {
  old = FState;
  oldBuffer = FStateBuffer;
  FState = state;
  FStateBuffer = buffer;
}

void TDataSet::RestoreState(TDataSetState old, void* oldBuffer) {
  FState = old;
  FStateBuffer = oldBuffer;
}

void TDataSet::CalculateFields(void* buffer) {
  bool any = false;
  for (TField* f : FFields)
    if (f->Calculated()) {
      any = true;
      f->FCalcValue.Clear(FieldTypeToBaseType(f->DataType()));
    }
  if (!any || buffer == nullptr || (!FRecordPresent && buffer == FActiveBuffer && FState == dsBrowse)) return;
  TDataSetState old;
  void* oldBuffer;
  SetStateTemp(dsCalcFields, buffer, old, oldBuffer);
  try {
    for (TField* f : FFields) {
      if (f->FieldKind() != fkLookup || f->FLookupDataSet == nullptr) continue;
      std::vector<TVariantValue> keys;
      for (const std::string& n : SplitFieldNames(f->FKeyFields)) keys.push_back(FieldByName(n).AsVariant());
      const TVariantValue r = f->FLookupDataSet->Lookup(f->FLookupKeyFields, keys, f->FLookupResultField);
      if (!IsNullValue(r)) f->SetAsVariant(r);
    }
    if (OnCalcFields) OnCalcFields(*this);
  } catch (...) {
    RestoreState(old, oldBuffer);
    throw;
  }
  RestoreState(old, oldBuffer);
}

void TDataSet::ClearActive() {
  FRecordPresent = false;
  FBof = FEof = true;
}

bool TDataSet::ReadCurrent() {
  if (GetRecord(FTempBuffer, gmCurrent) != grOK) return false;
  std::swap(FTempBuffer, FActiveBuffer);
  FRecordPresent = true;
  return true;
}

void TDataSet::DoBeforeScroll() {
  if (BeforeScroll) BeforeScroll(*this);
}

void TDataSet::DoAfterScroll() {
  if (AfterScroll) AfterScroll(*this);
}

void TDataSet::DataEvent(TDataEvent event, TField* field) {
  if (FDisableCount > 0 && event != deUpdateState) {
    if (event != deFieldChange || FState == dsBrowse) FPendingChange = true;
    if (event != deFieldChange) return;
  }
  const std::vector<TDataSource*> sources = FDataSources;
  for (TDataSource* s : sources) s->DataEvent(event, field);
}

void TDataSet::DisableControls() { ++FDisableCount; }

void TDataSet::EnableControls() {
  if (FDisableCount == 0) return;
  if (--FDisableCount == 0 && FPendingChange) {
    FPendingChange = false;
    DataEvent(deDataSetChange, nullptr);
  }
}

// ----- navigation -----

void TDataSet::First() { MoveToEnd(false); }

void TDataSet::Last() { MoveToEnd(true); }

void TDataSet::MoveToEnd(bool last) {
  CheckBrowseMode();
  DoBeforeScroll();
  if (last)
    InternalLast();
  else
    InternalFirst();
  if (GetRecord(FTempBuffer, last ? gmPrior : gmNext) == grOK) {
    std::swap(FTempBuffer, FActiveBuffer);
    FRecordPresent = true;
    FBof = !last;
    FEof = last;
  } else {
    ClearActive();
  }
  CalculateFields(FActiveBuffer);
  DataEvent(deDataSetChange, nullptr);
  DoAfterScroll();
}

std::int32_t TDataSet::MoveBy(std::int32_t distance) {
  CheckBrowseMode();
  std::int32_t moved = 0;
  if (distance == 0 || !FRecordPresent) return 0;
  const bool forward = distance > 0;
  if ((forward && FEof) || (!forward && FBof)) return 0;
  DoBeforeScroll();
  FBof = FEof = false;
  std::int32_t left = forward ? distance : -distance;
  while (left > 0) {
    InternalSetToRecord(FActiveBuffer);
    if (GetRecord(FTempBuffer, forward ? gmNext : gmPrior) != grOK) {
      if (forward) FEof = true;
      else FBof = true;
      InternalSetToRecord(FActiveBuffer);
      break;
    }
    std::swap(FTempBuffer, FActiveBuffer);
    ++moved;
    --left;
  }
  if (moved != 0) CalculateFields(FActiveBuffer);
  DataEvent(deDataSetScroll, nullptr);
  DoAfterScroll();
  return forward ? moved : -moved;
}

void TDataSet::Next() {
  if (!FEof) MoveBy(1);
  else CheckBrowseMode();
}

void TDataSet::Prior() {
  if (!FBof) MoveBy(-1);
  else CheckBrowseMode();
}

std::int64_t TDataSet::RecordCount() { return 0; }
std::int64_t TDataSet::RecNo() { return -1; }
void TDataSet::SetRecNo(std::int64_t) {}

void TDataSet::Resync() {
  bool found = false;
  if (FRecordPresent) {
    InternalSetToRecord(FActiveBuffer);
    found = ReadCurrent();
    if (!found) {
      // The record left the view: the next one, else the prior one.
      InternalSetToRecord(FActiveBuffer);
      if (GetRecord(FTempBuffer, gmNext) == grOK) found = true;
      else {
        InternalSetToRecord(FActiveBuffer);
        found = GetRecord(FTempBuffer, gmPrior) == grOK;
      }
      if (found) std::swap(FTempBuffer, FActiveBuffer);
    }
  }
  if (!found) {
    InternalFirst();
    found = GetRecord(FTempBuffer, gmNext) == grOK;
    if (found) std::swap(FTempBuffer, FActiveBuffer);
  }
  if (found) {
    FRecordPresent = true;
    FBof = FEof = false;
  } else {
    ClearActive();
  }
  CalculateFields(FActiveBuffer);
  DataEvent(deDataSetChange, nullptr);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  if (BeforeRefresh) BeforeRefresh(*this);
  InternalRefresh();
  Resync();
  if (AfterRefresh) AfterRefresh(*this);
}

// ----- editing -----

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, nullptr);
  if (FState == dsEdit || FState == dsInsert) {
    if (FModified) Post();
    else Cancel();
  } else if (FState == dsSetKey) {
    SetState(dsBrowse);
  }
}

void TDataSet::Edit() {
  if (FState == dsEdit || FState == dsInsert) return;
  CheckActive();
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset", this);
  if (!FRecordPresent) {
    Append();
    return;
  }
  CheckBrowseMode();
  if (BeforeEdit) BeforeEdit(*this);
  FOldBuffer = AllocRecordBuffer();
  std::memcpy(FOldBuffer, FActiveBuffer, static_cast<std::size_t>(RecordBufferSize()));
  try {
    InternalSetToRecord(FActiveBuffer);
    InternalEdit();
  } catch (...) {
    FreeRecordBuffer(FOldBuffer);
    throw;
  }
  FModified = false;
  SetState(dsEdit);
  DataEvent(deRecordChange, nullptr);
  if (AfterEdit) AfterEdit(*this);
}

void TDataSet::DoInsert(bool append) {
  CheckActive();
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset", this);
  CheckBrowseMode();
  if (BeforeInsert) BeforeInsert(*this);
  DoBeforeScroll();
  FInsertReturn = FRecordPresent ? GetBookmarkData(FActiveBuffer) : TBookmark{};
  if (append) InternalLast();
  InternalInitRecord(FActiveBuffer);
  SetBookmarkFlag(FActiveBuffer, 3);
  InternalInsert();
  FModified = false;
  FBof = FEof = false;
  SetState(dsInsert);
  try {
    // A new detail record belongs to the master's current record, or it would leave the view.
    if (TDataSource* ms = MasterSource(); ms != nullptr && ms->DataSet() != nullptr && ms->DataSet()->Active() &&
                                          !FMasterLink.FieldNames().empty() && !FDetailFields.empty()) {
      const std::vector<TField*> masters = FMasterLink.Fields();
      const std::vector<std::string> details = SplitFieldNames(FDetailFields);
      for (std::size_t i = 0; i < masters.size() && i < details.size(); ++i)
        FieldByName(details[i]).SetAsVariant(masters[i]->AsVariant());
    }
    if (OnNewRecord) OnNewRecord(*this);
  } catch (...) {
    Cancel();
    throw;
  }
  FModified = false;
  CalculateFields(FActiveBuffer);
  DataEvent(deDataSetChange, nullptr);
  if (AfterInsert) AfterInsert(*this);
  DoAfterScroll();
}

void TDataSet::Insert() { DoInsert(false); }
void TDataSet::Append() { DoInsert(true); }

void TDataSet::CheckRequiredFields() {
  for (TField* f : FFields)
    if (f->Required() && !f->ReadOnly() && f->FieldKind() == fkData && f->DataType() != ftAutoInc && f->IsNull())
      DatabaseErrorFmt("Field '%s' must have a value", {f->DisplayName()}, this);
}

void TDataSet::Post() {
  CheckActive();
  if (FState != dsEdit && FState != dsInsert) DatabaseError("Dataset not in edit or insert mode", this);
  DataEvent(deUpdateRecord, nullptr);
  if (BeforePost) BeforePost(*this);
  CheckRequiredFields();
  InternalPost();
  if (FOldBuffer != nullptr) FreeRecordBuffer(FOldBuffer);
  FModified = false;
  SetState(dsBrowse);
  // The cursor stands on the posted record; it may be hidden by a filter now.
  Resync();
  if (AfterPost) AfterPost(*this);
}

void TDataSet::Cancel() {
  if (FState != dsEdit && FState != dsInsert) return;
  if (BeforeCancel) BeforeCancel(*this);
  const bool wasInsert = FState == dsInsert;
  InternalCancel();
  if (wasInsert) {
    FRecordPresent = false;
    if (!FInsertReturn.empty()) {
      InternalGotoBookmark(FInsertReturn);
      FRecordPresent = ReadCurrent();
    }
    FInsertReturn.clear();
  } else if (FOldBuffer != nullptr) {
    std::memcpy(FActiveBuffer, FOldBuffer, static_cast<std::size_t>(RecordBufferSize()));
  }
  if (FOldBuffer != nullptr) FreeRecordBuffer(FOldBuffer);
  FModified = false;
  SetState(dsBrowse);
  if (wasInsert) Resync();
  else {
    CalculateFields(FActiveBuffer);
    DataEvent(deDataSetChange, nullptr);
  }
  if (AfterCancel) AfterCancel(*this);
}

void TDataSet::Delete() {
  CheckActive();
  if (FState == dsInsert || FState == dsSetKey) {
    Cancel();
    return;
  }
  if (!FRecordPresent) DatabaseError("Cannot perform this operation on an empty dataset", this);
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset", this);
  if (BeforeDelete) BeforeDelete(*this);
  DoBeforeScroll();
  InternalSetToRecord(FActiveBuffer);
  InternalDelete();
  if (FOldBuffer != nullptr) FreeRecordBuffer(FOldBuffer);
  FModified = false;
  SetState(dsBrowse);
  // The record that takes the deleted one's place: where the cursor now stands (an engine
  // moves it there), else the next one, else the prior one.
  const TBookmark deleted = GetBookmarkData(FActiveBuffer);
  bool found = GetRecord(FTempBuffer, gmCurrent) == grOK;
  if (!found) {
    InternalSetToRecord(FActiveBuffer);
    found = GetRecord(FTempBuffer, gmNext) == grOK;
  }
  if (!found) {
    InternalSetToRecord(FActiveBuffer);
    found = GetRecord(FTempBuffer, gmPrior) == grOK;
  }
  FEof = found && CompareBookmarks(GetBookmarkData(FTempBuffer), deleted) < 0;
  if (found) {
    std::swap(FTempBuffer, FActiveBuffer);
    FRecordPresent = true;
    FBof = false;
  } else {
    ClearActive();
  }
  CalculateFields(FActiveBuffer);
  DataEvent(deDataSetChange, nullptr);
  if (AfterDelete) AfterDelete(*this);
  DoAfterScroll();
}

void TDataSet::InsertRecord(const std::vector<TVariantValue>& values) {
  Insert();
  try {
    for (std::size_t i = 0; i < values.size() && i < FFields.size(); ++i) FFields[i]->SetAsVariant(values[i]);
    Post();
  } catch (...) {
    Cancel();
    throw;
  }
}

void TDataSet::AppendRecord(const std::vector<TVariantValue>& values) {
  Append();
  try {
    for (std::size_t i = 0; i < values.size() && i < FFields.size(); ++i) FFields[i]->SetAsVariant(values[i]);
    Post();
  } catch (...) {
    Cancel();
    throw;
  }
}

// ----- bookmarks -----

TBookmark TDataSet::GetBookmark() {
  if (!Active() || !FRecordPresent || GetBookmarkFlag(FActiveBuffer) != 0) return {};
  return GetBookmarkData(FActiveBuffer);
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark);
  if (!ReadCurrent()) {
    if (FRecordPresent) InternalSetToRecord(FActiveBuffer);
    DatabaseError("Record not found", this);
  }
  FBof = FEof = false;
  CalculateFields(FActiveBuffer);
  DataEvent(deDataSetChange, nullptr);
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark&) { return false; }

std::int32_t TDataSet::CompareBookmarks(const TBookmark& b1, const TBookmark& b2) {
  if (b1.empty()) return b2.empty() ? 0 : 1;
  if (b2.empty()) return -1;
  return 0;
}

// ----- filters -----

void TDataSet::SetFilter(const std::string& value) {
  if (Active()) CheckBrowseMode();
  FFilterText = value;
  if (Active() && FFiltered) {
    ActivateFilters();
    First();
  }
}

void TDataSet::SetFilterOptions(TFilterOptions value) {
  if (Active()) CheckBrowseMode();
  FFilterOptions = value;
  if (Active() && FFiltered) {
    ActivateFilters();
    First();
  }
}

void TDataSet::SetFiltered(bool value) {
  if (!Active()) {
    FFiltered = value;
    return;
  }
  CheckBrowseMode();
  if (value != FFiltered) {
    FFiltered = value;
    if (value) ActivateFilters();
    else DeactivateFilters();
  }
  if (value) First();
  else Refresh();
}

void TDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  if (Active()) CheckBrowseMode();
  const bool changed = static_cast<bool>(handler) != static_cast<bool>(FOnFilterRecord);
  FOnFilterRecord = std::move(handler);
  if (Active() && changed && FFiltered) ActivateFilters();
  if (Active() && FFiltered) First();
}

bool TDataSet::FilterRecordBuffer(void* buffer) {
  // A detail shows only the records whose key fields equal the master's.
  if (TDataSource* ms = MasterSource(); ms != nullptr && ms->DataSet() != nullptr && ms->DataSet()->Active() &&
                                        !FMasterLink.FieldNames().empty() && !FDetailFields.empty()) {
    const std::vector<TField*> masters = FMasterLink.Fields();
    const std::vector<std::string> details = SplitFieldNames(FDetailFields);
    TDataSetState old;
    void* oldBuffer;
    SetStateTemp(dsFilter, buffer, old, oldBuffer);
    bool match = true;
    try {
      for (std::size_t i = 0; i < masters.size() && i < details.size() && match; ++i)
        match = SameValue(masters[i]->AsVariant(), FieldByName(details[i]).AsVariant());
    } catch (...) {
      RestoreState(old, oldBuffer);
      throw;
    }
    RestoreState(old, oldBuffer);
    if (!match) return false;
  }
  if ((!FFiltered && FFindingRecord == 0) || !FOnFilterRecord) return true;
  // The handler may read calculated fields: they are computed for the record under test and the
  // current record's values come back afterwards.
  std::vector<std::pair<TField*, std::unique_ptr<TNRDVariant>>> saved;
  for (TField* f : FFields)
    if (f->Calculated()) {
      saved.emplace_back(f, std::make_unique<TNRDVariant>());
      saved.back().second->Assign(f->FCalcValue, true);
    }
  struct RestoreCalc {
    std::vector<std::pair<TField*, std::unique_ptr<TNRDVariant>>>& values;
    ~RestoreCalc() {
      for (auto& [field, value] : values) field->FCalcValue.Assign(*value, true);
    }
  } restoreCalc{saved};
  if (!saved.empty()) CalculateFields(buffer);
  TDataSetState old;
  void* oldBuffer;
  SetStateTemp(dsFilter, buffer, old, oldBuffer);
  bool accept = true;
  try {
    FOnFilterRecord(*this, accept);
  } catch (...) {
    accept = false;
    RestoreState(old, oldBuffer);
    InternalHandleException();
    return false;
  }
  RestoreState(old, oldBuffer);
  return accept;
}

void TDataSet::InternalHandleException() {}

bool TDataSet::FindRecord(bool restart, bool goForward) {
  CheckBrowseMode();
  DoBeforeScroll();
  bool found = false;
  const bool temporary = !FFiltered;
  if (temporary) {
    ++FFindingRecord;
    ActivateFilters();
  }
  try {
    if (restart) {
      if (goForward) InternalFirst();
      else InternalLast();
    } else if (FRecordPresent) {
      InternalSetToRecord(FActiveBuffer);
    }
    found = GetRecord(FTempBuffer, goForward ? gmNext : gmPrior) == grOK;
  } catch (...) {
    if (temporary) {
      --FFindingRecord;
      DeactivateFilters();
    }
    throw;
  }
  if (temporary) {
    --FFindingRecord;
    DeactivateFilters();
  }
  if (found) {
    std::swap(FTempBuffer, FActiveBuffer);
    FRecordPresent = true;
    FBof = FEof = false;
    CalculateFields(FActiveBuffer);
    DataEvent(deDataSetChange, nullptr);
    DoAfterScroll();
  } else if (FRecordPresent) {
    InternalSetToRecord(FActiveBuffer);
  }
  return found;
}

// ----- searching -----

bool TDataSet::Locate(std::string_view keyFields, const std::vector<TVariantValue>& keyValues,
                      TLocateOptions options) {
  CheckBrowseMode();
  DoBeforeScroll();
  const std::vector<std::string> names = SplitFieldNames(keyFields);
  for (const std::string& n : names) FieldByName(n);
  const bool found = LocateRecord(names, keyValues, options, FTempBuffer);
  if (!found) {
    if (FRecordPresent) InternalSetToRecord(FActiveBuffer);
    return false;
  }
  std::swap(FTempBuffer, FActiveBuffer);
  FRecordPresent = true;
  FBof = FEof = false;
  CalculateFields(FActiveBuffer);
  DataEvent(deDataSetChange, nullptr);
  DoAfterScroll();
  return true;
}

TVariantValue TDataSet::Lookup(std::string_view keyFields, const std::vector<TVariantValue>& keyValues,
                               std::string_view resultFields) {
  CheckBrowseMode();
  const std::vector<std::string> names = SplitFieldNames(keyFields);
  TVariantValue result = NullValue();
  if (!LocateRecord(names, keyValues, 0, FTempBuffer)) {
    if (FRecordPresent) InternalSetToRecord(FActiveBuffer);
    return result;
  }
  CalculateFields(FTempBuffer);
  TDataSetState old;
  void* oldBuffer;
  SetStateTemp(dsCalcFields, FTempBuffer, old, oldBuffer);
  try {
    const std::vector<std::string> results = SplitFieldNames(resultFields);
    if (!results.empty()) result = FieldByName(results.front()).AsVariant();
  } catch (...) {
    RestoreState(old, oldBuffer);
    throw;
  }
  RestoreState(old, oldBuffer);
  if (FRecordPresent) InternalSetToRecord(FActiveBuffer);
  CalculateFields(FActiveBuffer);
  return result;
}

void TDataSet::MasterChanged() {
  if (!Active()) return;
  CheckBrowseMode();
  ActivateFilters();
  First();
}

}  // namespace nrd
