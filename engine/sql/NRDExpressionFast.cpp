// The short way of a filter through a record buffer.
#include "engine/sql/NRDExpressionFast.h"

#include <cstring>

#include "engine/foundation/NRDText.h"
#include "engine/foundation/NRDTypesRoutines.h"
#include "engine/foundation/NRDVariant.h"
#include "engine/sql/NRDExpressions.h"
#include "engine/storage/NRDFieldManager.h"

namespace nrd::sql {

namespace {

// The width of an integer storage type, 0 for any other type.
std::int32_t IntegerWidth(TNRDBaseFieldType t) {
  switch (t) {
    case bftSignedInt8:
    case bftUnsignedInt8: return 1;
    case bftSignedInt16:
    case bftUnsignedInt16: return 2;
    case bftSignedInt32:
    case bftUnsignedInt32: return 4;
    case bftSignedInt64: return 8;
    default: return 0;
  }
}

bool IsComparisonOperator(TNRDDataOperator op) {
  return op == doEQ || op == doNE || op == doGT || op == doLT || op == doGE || op == doLE;
}

// A column the node reads from the record buffer it is bound to (not a column of a relational
// operator or of an enclosing query).
bool IsRecordColumn(const TNRDExprNodeField& f) {
  return f.LAO == nullptr && f.LCursor != nullptr && !f.FGetFromParent && f.FFieldNo >= 0 && f.FMemoryDataSize > 0;
}

// The text lengths of the general comparison: up to the terminator within the size, cut to the
// partial length when one is given.
std::int32_t TextLength(const std::uint8_t* p, std::int32_t size, std::int32_t partialLength) {
  std::int32_t n = 0;
  while ((size < 0 || n < size) && p[n] != 0) ++n;
  return partialLength >= 0 && partialLength < n ? partialLength : n;
}

// Letters, digits and the space: no two different strings of them are equal under the collation
// (they carry no ignorable character, no contraction and no expansion), and case is their only
// tertiary difference.
bool IsPlainCharacter(char16_t c) {
  return c == u' ' || (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
         (c >= 0x0410 && c <= 0x044F) || c == 0x0401 || c == 0x0451;
}

TNRDFastResult FromBool(bool b) { return b ? TNRDFastResult::True : TNRDFastResult::False; }

}  // namespace

std::unique_ptr<TNRDFastFilter> TNRDFastFilter::Compile(TNRDExprNode* root) {
  if (root == nullptr) return nullptr;
  auto program = std::unique_ptr<TNRDFastFilter>(new TNRDFastFilter());
  program->FRoot = root;
  auto* conjunction = NodeAs<TNRDExprNodeBoolean>(root);
  if (conjunction != nullptr && conjunction->Operator == doAND) {
    if (conjunction->Children.empty()) return nullptr;
    for (const auto& c : conjunction->Children) program->FConjuncts.push_back(c.get());
  } else {
    program->FConjuncts.push_back(root);
  }
  bool haveText = false;
  for (const TNRDExprNode* node : program->FConjuncts) {
    auto* cmp = NodeAs<TNRDExprNodeComparison>(const_cast<TNRDExprNode*>(node));
    if (cmp == nullptr || cmp->FQuantifier != qUNDEFINED || cmp->Children.size() != 2 ||
        !IsComparisonOperator(cmp->Operator))
      return nullptr;
    TTest test;
    test.Operator = cmp->Operator;
    auto* field = NodeAs<TNRDExprNodeField>(cmp->Child(0));
    auto* constant = NodeAs<TNRDExprNodeConst>(cmp->Child(1));
    if (field == nullptr || constant == nullptr) {
      field = NodeAs<TNRDExprNodeField>(cmp->Child(1));
      constant = NodeAs<TNRDExprNodeConst>(cmp->Child(0));
      test.ColumnLeft = false;
    }
    if (field == nullptr || constant == nullptr || !IsRecordColumn(*field) || constant->Value.IsNull()) return nullptr;
    test.FieldNo = field->FFieldNo;
    test.Offset = field->FFieldOffsetInBuffer;
    test.Size = field->FMemoryDataSize;
    test.Type = field->FBaseFieldType;
    const std::int32_t width = IntegerWidth(test.Type);
    if (width > 0) {
      if (test.Size < width || !ReadStoredInteger(constant->Value, test.Number)) return nullptr;
      test.Kind = TKind::Integer;
    } else if ((test.Type == bftChar || test.Type == bftVarchar) && constant->Value.DataType() == test.Type &&
               test.ColumnLeft && (test.Operator == doEQ || test.Operator == doNE)) {
      if (haveText && program->FCaseInsensitive != cmp->FCaseInsensitive) return nullptr;
      haveText = true;
      program->FCaseInsensitive = cmp->FCaseInsensitive;
      test.Kind = TKind::Text;
      // The general comparison cuts both texts to the constant's length for a prefix comparison.
      test.PartialLength = cmp->FPartialKey ? constant->Value.StrLen() : -1;
      const auto* p = static_cast<const std::uint8_t*>(constant->Value.pData());
      if (p == nullptr) return nullptr;
      const std::int32_t n = TextLength(p, constant->Value.DataSize(), test.PartialLength);
      test.Text.assign(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
    } else {
      return nullptr;
    }
    program->FTests.push_back(std::move(test));
  }
  if (haveText) {
    const unsigned flags = SORT_STRINGSORT | (program->FCaseInsensitive ? NORM_IGNORECASE : 0u);
    // Without a collator the general comparison raises; the program then leaves texts to it.
    if (CompareStringA(LOCALE_USER_DEFAULT, flags, "a", 1, "a", 1) != CSTR_EQUAL) return nullptr;
    program->FLocale = DefaultLocale();
    for (int b = 0; b < 256; ++b) {
      const char16_t c = AnsiCharToWide(static_cast<std::uint8_t>(b));
      program->FPlain[static_cast<std::size_t>(b)] = IsPlainCharacter(c);
      program->FKey[static_cast<std::size_t>(b)] = program->FCaseInsensitive ? WideUpperChar(c) : c;
    }
    for (TTest& t : program->FTests) {
      if (t.Kind != TKind::Text) continue;
      t.TextPlain = true;
      for (char c : t.Text) t.TextPlain = t.TextPlain && program->FPlain[static_cast<std::uint8_t>(c)];
    }
  }
  return program;
}

bool TNRDFastFilter::Matches(const TNRDExprNode* root) const {
  if (root != FRoot) return false;
  if (FConjuncts.size() == 1 && FConjuncts[0] == root) return true;
  if (root->Children.size() != FConjuncts.size()) return false;
  for (std::size_t i = 0; i < FConjuncts.size(); ++i)
    if (root->Children[i].get() != FConjuncts[i]) return false;
  return true;
}

TNRDFastResult TNRDFastFilter::Evaluate(const void* recordBuffer) const {
  if (FLocale != 0 && DefaultLocale() != FLocale) return TNRDFastResult::Undecided;
  const auto* record = static_cast<const std::uint8_t*>(recordBuffer);
  for (const TTest& t : FTests) {
    const TNRDFastResult r = Decide(t, record);
    if (r != TNRDFastResult::True) return r;
  }
  return TNRDFastResult::True;
}

TNRDFastResult TNRDFastFilter::Decide(const TTest& t, const std::uint8_t* record) const {
  if (IsFieldNull(record, t.FieldNo)) return TNRDFastResult::Undecided;
  if (t.Kind == TKind::Text) return DecideText(t, record);
  const std::int64_t column = GetStoredInt(record + t.Offset, t.Type);
  const std::int64_t a = t.ColumnLeft ? column : t.Number;
  const std::int64_t b = t.ColumnLeft ? t.Number : column;
  switch (t.Operator) {
    case doEQ: return FromBool(a == b);
    case doNE: return FromBool(a != b);
    case doGT: return FromBool(a > b);
    case doLT: return FromBool(a < b);
    case doGE: return FromBool(a >= b);
    case doLE: return FromBool(a <= b);
    default: return TNRDFastResult::Undecided;
  }
}

TNRDFastResult TNRDFastFilter::DecideText(const TTest& t, const std::uint8_t* record) const {
  const std::uint8_t* p = record + t.Offset;
  const std::int32_t n = TextLength(p, t.Size, t.PartialLength);
  const auto* k = reinterpret_cast<const std::uint8_t*>(t.Text.data());
  const auto kn = static_cast<std::int32_t>(t.Text.size());
  bool equal;
  if (n == kn && std::memcmp(p, k, static_cast<std::size_t>(n)) == 0) {
    equal = true;
  } else {
    if (!t.TextPlain) return TNRDFastResult::Undecided;
    for (std::int32_t i = 0; i < n; ++i)
      if (!FPlain[p[i]]) return TNRDFastResult::Undecided;
    equal = n == kn;
    for (std::int32_t i = 0; equal && i < n; ++i) equal = FKey[p[i]] == FKey[k[i]];
  }
  return FromBool(t.Operator == doEQ ? equal : !equal);
}

}  // namespace nrd::sql
