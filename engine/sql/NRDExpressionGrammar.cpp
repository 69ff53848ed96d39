// The expression grammar: recursive descent over one lexer command with ordered alternatives and
// backtracking. Three guards keep hostile text harmless:
// - nesting depth: every rule that can nest (conditions, value expressions, NOT, chains of '*' and
//   '/') counts against kMaxDepth, so deep text is a parse error, never a stack overflow;
// - remembered results: the value rules remember, per token position, what they built (a copy is
//   handed out on the next request), so backtracking over a nested construct never parses it
//   again and the parse stays polynomial in the text;
// - a work bound: a parse that takes more than kMaxSteps rule calls is refused.
#include "engine/sql/NRDExpressionGrammar.h"

#include <cmath>

#include "engine/foundation/NRDConverts.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"
#include "engine/storage/NRDCursor.h"

namespace nrd::sql {

namespace {

constexpr int kMaxDepth = 128;
constexpr std::int64_t kMaxSteps = 4000000;

bool IsWordChar(unsigned char c) { return std::isalpha(c) || c == '_' || c == '$' || c == '#' || c >= 0x80; }

}  // namespace

TNRDExpressionParser::TNRDExpressionParser(TNRDExpression& expression, TNRDLexer& lexer)
    : e_(expression), lex_(lexer) {
  lex_.GetCurrentToken(tok_);
}

// ----- token helpers ----------------------------------------------------------------------------------

std::int32_t TNRDExpressionParser::Save() const { return lex_.GetCurrentTokenNo(); }
void TNRDExpressionParser::Restore(std::int32_t pos) { lex_.SetCurrentTokenNo(pos, tok_); }
void TNRDExpressionParser::Next() { lex_.GetNextToken(tok_); }
bool TNRDExpressionParser::IsWord(TReservedWord w) const { return IsReservedWordToken(tok_, w) && w != rwNone; }
bool TNRDExpressionParser::IsOp(std::string_view text) const {
  return tok_.TokenType == tktString && tok_.Text == text;
}

[[noreturn]] void TNRDExpressionParser::Expected(int code, std::string_view what) const {
  throw ENRDException(code, "Token '%s' expected, but '%s' found at line %d, column %d",
                      {what, tok_.Text, tok_.LineNum, tok_.ColumnNum});
}

[[noreturn]] void TNRDExpressionParser::ArgumentExpected(int code, std::string_view function) const {
  throw ENRDException(code, "Argument expected for function '%s' at line %d, column %d",
                      {function, tok_.LineNum, tok_.ColumnNum});
}

void TNRDExpressionParser::ExpectLeft(int code) {
  if (tok_.TokenType != tktLeftParenthesis) Expected(code, "(");
  Next();
}

void TNRDExpressionParser::ExpectRight(int code) {
  if (tok_.TokenType != tktRightParenthesis) Expected(code, ")");
  Next();
}

void TNRDExpressionParser::Step() {
  if (++steps_ > kMaxSteps)
    throw ENRDException(30511, "Expression is too complex at line %d, column %d", {tok_.LineNum, tok_.ColumnNum});
}

TNRDExpressionParser::DepthGuard::DepthGuard(TNRDExpressionParser& p, int extra) : p_(p), extra_(extra) {
  p_.depth_ += 1 + extra_;
  if (p_.depth_ > kMaxDepth)
    throw ENRDException(30507, "Expression is nested too deeply at line %d, column %d",
                        {p_.tok_.LineNum, p_.tok_.ColumnNum});
}
TNRDExpressionParser::DepthGuard::~DepthGuard() { p_.depth_ -= 1 + extra_; }

template <typename F>
TNRDExprNodePtr TNRDExpressionParser::Remembered(Rule rule, F parse) {
  Step();
  const std::int64_t key = static_cast<std::int64_t>(lex_.GetCurrentTokenNo()) * 8 + static_cast<int>(rule);
  if (auto it = memo_.find(key); it != memo_.end()) {
    if (!it->second.node) return nullptr;
    Restore(it->second.end);
    return it->second.node->Clone();
  }
  const std::int32_t start = Save();
  TNRDExprNodePtr n = parse();
  Memo m;
  m.end = Save();
  if (n) m.node = n->Clone();
  else Restore(start);
  memo_[key] = std::move(m);
  return n;
}

// ----- boolean grammar --------------------------------------------------------------------------------

TNRDExprNodePtr TNRDExpressionParser::ParseSearchCondition() {
  DepthGuard guard(*this);
  Step();
  TNRDExprNodePtr left = ParseBooleanTerm();
  if (!left) return nullptr;
  std::unique_ptr<TNRDExprNodeBoolean> orNode;
  while (IsWord(rwOR)) {
    Next();
    TNRDExprNodePtr right = ParseBooleanTerm();
    if (!right)
      throw ENRDException(30070, "Boolean expression expected, but '%s' found at line %d, column %d",
                          {tok_.Text, tok_.LineNum, tok_.ColumnNum});
    // OR is associative with the same order of evaluation, so a chain is one node (a long chain
    // then costs no nesting).
    if (!orNode) {
      orNode = std::make_unique<TNRDExprNodeBoolean>(doOR, e_.FCaseInsensitive, e_.FPartialKey);
      orNode->AddChild(std::move(left));
    }
    orNode->AddChild(std::move(right));
  }
  if (orNode) return orNode;
  return left;
}

TNRDExprNodePtr TNRDExpressionParser::ParseBooleanTerm() {
  TNRDExprNodePtr first = ParseBooleanFactor();
  if (!first) return nullptr;
  if (!IsWord(rwAND)) return first;
  auto andNode = std::make_unique<TNRDExprNodeBoolean>(doAND, e_.FCaseInsensitive, e_.FPartialKey);
  andNode->AddChild(std::move(first));
  while (IsWord(rwAND)) {
    Next();
    TNRDExprNodePtr f = ParseBooleanFactor();
    if (!f)
      throw ENRDException(30069, "Boolean expression expected, but '%s' found at line %d, column %d",
                          {tok_.Text, tok_.LineNum, tok_.ColumnNum});
    andNode->AddChild(std::move(f));
  }
  return andNode;
}

TNRDExprNodePtr TNRDExpressionParser::ParseBooleanFactor() {
  if (IsWord(rwNOT)) {
    const std::int32_t p = Save();
    Next();
    DepthGuard guard(*this);
    TNRDExprNodePtr t = ParseBooleanFactor();
    if (!t) {
      Restore(p);
      return nullptr;
    }
    auto n = std::make_unique<TNRDExprNodeBoolean>(doNOT, e_.FCaseInsensitive, e_.FPartialKey);
    n->AddChild(std::move(t));
    return n;
  }
  return ParseBooleanTest();
}

TNRDExprNodePtr TNRDExpressionParser::ParseBooleanTest() {
  TNRDExprNodePtr p = ParseBooleanPrimary();
  if (!p || !IsWord(rwIS)) return p;
  Next();
  bool negated = false;
  if (IsWord(rwNOT)) {
    negated = true;
    Next();
  }
  auto wrap = [&](TNRDDataOperator op) {
    auto n = std::make_unique<TNRDExprNodeBoolean>(op, e_.FCaseInsensitive, e_.FPartialKey);
    n->AddChild(std::move(p));
    return n;
  };
  if (IsWord(rwTRUE)) {
    Next();
    return negated ? wrap(doNOT) : std::move(p);
  }
  if (IsWord(rwFALSE)) {
    Next();
    return negated ? std::move(p) : wrap(doNOT);
  }
  if (IsWord(rwUNKNOWN)) {
    Next();
    return wrap(negated ? doISNOTNULL : doISNULL);
  }
  Expected(30067, "TRUE, FALSE or UNKNOWN");
}

TNRDExprNodePtr TNRDExpressionParser::ParseBooleanPrimary() {
  Step();
  const std::int32_t p = Save();
  if (TNRDExprNodePtr n = ParsePredicate()) return n;
  Restore(p);
  if (tok_.TokenType == tktLeftParenthesis) {
    Next();
    TNRDExprNodePtr n = ParseSearchCondition();
    if (n) {
      ExpectRight(30068);
      return n;
    }
    Restore(p);
  }
  return ParseRowValue();
}

namespace {

TNRDDataOperator ComparisonOperatorOf(const TToken& t) {
  if (t.TokenType != tktString) return doUNDEFINED;
  if (t.Text == "=") return doEQ;
  if (t.Text == "<>") return doNE;
  if (t.Text == "<") return doLT;
  if (t.Text == ">") return doGT;
  if (t.Text == "<=") return doLE;
  if (t.Text == ">=") return doGE;
  return doUNDEFINED;
}

bool IsConstOfType(TNRDExprNode* n, bool (*pred)(TNRDBaseFieldType)) {
  auto* k = NodeAs<TNRDExprNodeConst>(n);
  return k != nullptr && pred(k->Value.DataType());
}

bool IsStringOrDate(TNRDBaseFieldType t) { return IsStringBaseFieldType(t) || IsDateTimeBaseFieldType(t); }

}  // namespace

TNRDExprNodePtr TNRDExpressionParser::ParsePredicate() {
  Step();
  if (IsWord(rwTRUE) || IsWord(rwFALSE)) {
    auto k = std::make_unique<TNRDExprNodeConst>();
    k->Value.Clear(bftLogical);
    k->Value.SetAsBoolean(IsWord(rwTRUE));
    Next();
    return k;
  }
  if (tok_.TokenType == tktParameter && tok_.ParamValue && tok_.ParamValue->DataType() == bftLogical) {
    auto k = std::make_unique<TNRDExprNodeConst>();
    k->Value.Assign(*tok_.ParamValue, true);
    Next();
    return k;
  }
  if (IsWord(rwEXISTS)) {
    Next();
    int opened = 0;
    while (tok_.TokenType == tktLeftParenthesis) {
      ++opened;
      Next();
    }
    if (!IsWord(rwSELECT)) return nullptr;
    auto sub = std::make_unique<TNRDExprNodeSubquery>(false, false, &lex_);
    lex_.GetCurrentToken(tok_);
    for (int i = 0; i < opened; ++i) {
      if (tok_.TokenType != tktRightParenthesis)
        throw ENRDException(30492, "Missing symbol ')' at line %d, column %d", {tok_.LineNum, tok_.ColumnNum});
      Next();
    }
    auto n = std::make_unique<TNRDExprNodeBoolean>(doEXISTS, e_.FCaseInsensitive, e_.FPartialKey);
    n->AddChild(std::move(sub));
    return n;
  }
  const std::int32_t start = Save();
  TNRDExprNodePtr left = ParseRowValue();
  if (!left) return nullptr;
  // Every predicate form begins with the same row value; it is read once and the form is chosen by
  // the token after it.
  const TNRDDataOperator op = ComparisonOperatorOf(tok_);
  if (op != doUNDEFINED) {
    Next();
    if (IsWord(rwALL) || IsWord(rwANY) || IsWord(rwSOME)) {
      const TNRDQuantifier q = IsWord(rwALL) ? qALL : qANY;
      Next();
      TNRDExprNodePtr sub = ParseSubquery(true, false);
      if (!sub) {
        Restore(start);
        return nullptr;
      }
      return std::make_unique<TNRDExprNodeComparison>(op, q, std::move(left), std::move(sub), e_.F3ValueLogic,
                                                      e_.FCaseInsensitive, e_.FPartialKey);
    }
    TNRDExprNodePtr right = ParseRowValue();
    if (!right) {
      Restore(start);
      return nullptr;
    }
    return BuildComparison(op, std::move(left), std::move(right));
  }
  bool negated = false;
  const std::int32_t beforeNot = Save();
  if (IsWord(rwNOT)) {
    negated = true;
    Next();
  }
  if (IsWord(rwLIKE)) {
    Next();
    TNRDExprNodePtr pattern = ParseRowValue();
    if (!pattern) {
      Restore(start);
      return nullptr;
    }
    std::string escape;
    bool hasEscape = false;
    if (IsWord(rwESCAPE)) {
      Next();
      hasEscape = true;
      if (tok_.TokenType == tktParameter && tok_.ParamValue)
        escape = tok_.ParamValue->IsNull() ? std::string() : tok_.ParamValue->AsAnsiString();
      else
        escape = tok_.Text;
      if (escape.size() != 1)
        throw ENRDException(20294,
                            "Invalid escape character length (should be a single character) at line %d, column %d",
                            {tok_.LineNum, tok_.ColumnNum});
      Next();
    }
    auto* k = NodeAs<TNRDExprNodeConst>(pattern.get());
    // A pattern 'abc%' is a prefix comparison, which an index can serve; an '_' in the prefix
    // matches any character, which a prefix comparison cannot express, so such a pattern stays LIKE.
    if (!hasEscape && k != nullptr && k->IsLikePatternEqualToPartialComparePattern() &&
        k->Value.AsWideString().find(u'_') == std::u16string::npos) {
      k->TruncateForPartialCompare();
      return std::make_unique<TNRDExprNodeComparison>(negated ? doNE : doEQ, qUNDEFINED, std::move(left),
                                                      std::move(pattern), false, e_.FCaseInsensitive, true);
    }
    auto n = std::make_unique<TNRDExprNodeBoolean>(negated ? doNOTLIKE : doLIKE, e_.FCaseInsensitive, e_.FPartialKey,
                                                   escape);
    n->AddChild(std::move(left));
    n->AddChild(std::move(pattern));
    return n;
  }
  if (!negated && IsWord(rwIS)) {
    const std::int32_t p = Save();
    Next();
    bool isNot = false;
    if (IsWord(rwNOT)) {
      isNot = true;
      Next();
    }
    if (IsWord(rwNULL)) {
      Next();
      auto n = std::make_unique<TNRDExprNodeBoolean>(isNot ? doISNOTNULL : doISNULL, e_.FCaseInsensitive,
                                                     e_.FPartialKey);
      n->AddChild(std::move(left));
      return n;
    }
    Restore(p);
    Restore(start);
    return nullptr;
  }
  if (IsWord(rwBETWEEN)) {
    Next();
    TNRDExprNodePtr low = ParseRowValue();
    if (!low || !IsWord(rwAND)) {
      Restore(start);
      return nullptr;
    }
    Next();
    TNRDExprNodePtr high = ParseRowValue();
    if (!high) {
      Restore(start);
      return nullptr;
    }
    auto n = std::make_unique<TNRDExprNodeBoolean>(negated ? doNOTBETWEEN : doBETWEEN, e_.FCaseInsensitive,
                                                   e_.FPartialKey);
    n->AddChild(std::move(left));
    n->AddChild(std::move(low));
    n->AddChild(std::move(high));
    return n;
  }
  if (IsWord(rwIN)) {
    Next();
    if (tok_.TokenType != tktLeftParenthesis) {
      Restore(start);
      return nullptr;
    }
    auto n = std::make_unique<TNRDExprNodeBoolean>(negated ? doNOTIN : doIN, e_.FCaseInsensitive, e_.FPartialKey);
    n->AddChild(std::move(left));
    Next();
    if (IsWord(rwSELECT)) {
      n->AddChild(std::make_unique<TNRDExprNodeSubquery>(true, false, &lex_));
      lex_.GetCurrentToken(tok_);
      if (tok_.TokenType == tktRightParenthesis) Next();
      return n;
    }
    for (;;) {
      Step();
      TNRDExprNodePtr item = ParseValueExpression();
      if (!item) {
        Restore(start);
        return nullptr;
      }
      n->AddChild(std::move(item));
      if (tok_.TokenType == tktComma) Next();
      if (tok_.TokenType == tktRightParenthesis) {
        Next();
        return n;
      }
      if (tok_.TokenType == tktNone) {
        Restore(start);
        return nullptr;
      }
    }
  }
  (void)beforeNot;
  Restore(start);
  return nullptr;
}

TNRDExprNodePtr TNRDExpressionParser::BuildComparison(TNRDDataOperator op, TNRDExprNodePtr left,
                                                      TNRDExprNodePtr right) {
  const bool lField = NodeAs<TNRDExprNodeField>(left.get()) != nullptr;
  const bool rField = NodeAs<TNRDExprNodeField>(right.get()) != nullptr;
  auto nullStringOrDateConst = [](TNRDExprNode* n) {
    auto* k = NodeAs<TNRDExprNodeConst>(n);
    return k != nullptr && k->Value.IsNull() && IsStringOrDate(k->Value.DataType());
  };
  if ((op == doEQ || op == doNE) &&
      ((lField && nullStringOrDateConst(right.get())) || (rField && nullStringOrDateConst(left.get())))) {
    auto n = std::make_unique<TNRDExprNodeBoolean>(op == doEQ ? doISNULL : doISNOTNULL, e_.FCaseInsensitive,
                                                   e_.FPartialKey);
    n->AddChild(lField ? std::move(left) : std::move(right));
    return n;
  }
  bool partial = false;
  if (e_.FPartialKey) {
    for (TNRDExprNode* side : {left.get(), right.get()}) {
      auto* k = NodeAs<TNRDExprNodeConst>(side);
      if (k != nullptr && !k->Value.IsNull() && k->Value.IsStringDataType()) {
        const std::u16string t = k->Value.AsWideString();
        if (!t.empty() && t.back() == u'*') {
          k->TruncateForPartialCompare();
          partial = true;
        }
      }
    }
  }
  auto valueOf = [](TNRDExprNode* n) -> TNRDVariant* {
    auto* k = NodeAs<TNRDExprNodeConst>(n);
    return k != nullptr ? &k->Value : nullptr;
  };
  bool threeValued = true;
  if ((lField && (IsConstOfType(right.get(), IsStringOrDate) || (valueOf(right.get()) && valueOf(right.get())->IsNull()))) ||
      (rField && (IsConstOfType(left.get(), IsStringOrDate) || (valueOf(left.get()) && valueOf(left.get())->IsNull()))))
    threeValued = false;
  TNRDVariant* lv = valueOf(left.get());
  TNRDVariant* rv = valueOf(right.get());
  if (lv && rv && ((rv->IsStringDataType() && lv->IsNull()) || (lv->IsStringDataType() && rv->IsNull())))
    threeValued = false;
  return std::make_unique<TNRDExprNodeComparison>(op, qUNDEFINED, std::move(left), std::move(right), threeValued,
                                                  e_.FCaseInsensitive, partial);
}

TNRDExprNodePtr TNRDExpressionParser::ParseRowValue() {
  Step();
  if (TNRDExprNodePtr s = ParseSubquery(true, true)) return s;
  return ParseNullOrValue();
}

TNRDExprNodePtr TNRDExpressionParser::ParseSubquery(bool mustHaveOneField, bool mustHaveOneRow) {
  const std::int32_t p = Save();
  int opened = 0;
  while (tok_.TokenType == tktLeftParenthesis) {
    ++opened;
    Next();
  }
  if (!IsWord(rwSELECT)) {
    Restore(p);
    return nullptr;
  }
  auto sub = std::make_unique<TNRDExprNodeSubquery>(mustHaveOneField, mustHaveOneRow, &lex_);
  lex_.GetCurrentToken(tok_);
  for (int i = 0; i < opened; ++i) {
    if (tok_.TokenType != tktRightParenthesis)
      throw ENRDException(30492, "Missing symbol ')' at line %d, column %d", {tok_.LineNum, tok_.ColumnNum});
    Next();
  }
  return sub;
}

TNRDExprNodePtr TNRDExpressionParser::ParseNullOrValue() {
  if (IsWord(rwNULL)) {
    Next();
    auto k = std::make_unique<TNRDExprNodeConst>();
    k->Value.Clear(bftSignedInt32);
    return k;
  }
  if (tok_.TokenType == tktParameter && tok_.ParamValue && tok_.ParamValue->IsNull()) {
    auto k = std::make_unique<TNRDExprNodeConst>();
    const TNRDBaseFieldType t = tok_.ParamValue->DataType();
    k->Value.Clear(t == bftUnknown ? bftSignedInt32 : t);
    Next();
    return k;
  }
  return ParseValueExpression();
}

// ----- value grammar ----------------------------------------------------------------------------------

TNRDExprNodePtr TNRDExpressionParser::ParseValueExpression() {
  if (TNRDExprNodePtr k = ParseLoneLiteral()) return k;
  DepthGuard guard(*this);
  return Remembered(Rule::Value, [&] { return ParseValueExpressionPrivate(); });
}

// A value that is one number, quoted text or number or text parameter, followed by a comma, a
// closing parenthesis or the end of the command (the items of INSERT ... VALUES): every reading
// of the full grammar ends in the same constant, so it is read at once, without the other tries.
TNRDExprNodePtr TNRDExpressionParser::ParseLoneLiteral() {
  const bool literal =
      tok_.TokenType == tktInt || tok_.TokenType == tktFloat || tok_.TokenType == tktQuotedString ||
      (tok_.TokenType == tktParameter && tok_.ParamValue && !tok_.ParamValue->IsNull() &&
       (tok_.ParamValue->IsNumericDataType() || tok_.ParamValue->IsStringDataType()));
  if (!literal) return nullptr;
  const TTokenType next = lex_.NextTokenType();
  if (next != tktNone && next != tktComma && next != tktRightParenthesis) return nullptr;
  return ParsePrimaryPrivate();
}

TNRDExprNodePtr TNRDExpressionParser::ParseValueExpressionPrivate() {
  const std::int32_t p = Save();
  if (TNRDExprNodePtr n = ParseNumericValueExpression()) return n;
  Restore(p);
  if (TNRDExprNodePtr n = ParseDatetimeArithmetic()) return n;
  Restore(p);
  if (TNRDExprNodePtr n = ParseDatetimePrimary()) return n;
  Restore(p);
  if (TNRDExprNodePtr n = ParseStringValueExpression()) return n;
  Restore(p);
  if (IsWord(rwTRUE) || IsWord(rwFALSE)) {
    auto k = std::make_unique<TNRDExprNodeConst>();
    k->Value.Clear(bftLogical);
    k->Value.SetAsBoolean(IsWord(rwTRUE));
    Next();
    return k;
  }
  if (IsWord(rwNULL) || (tok_.TokenType == tktParameter && tok_.ParamValue && tok_.ParamValue->IsNull()))
    return ParseNullOrValue();
  if (IsWord(rwMIMETOBIN)) {
    Next();
    ExpectLeft(30479);
    if (tok_.TokenType != tktQuotedString)
      throw ENRDException(30480, "String argument expected for function '%s', but '%s' found at line %d, column %d",
                          {std::string("MimeToBin()"), tok_.Text, tok_.LineNum, tok_.ColumnNum});
    auto k = std::make_unique<TNRDExprNodeConst>();
    k->Value.Clear(bftVarchar);
    k->Value.SetAsAnsiString(tok_.Text);
    Next();
    ExpectRight(30481);
    return std::make_unique<TNRDExprNodeBlob>(std::move(k));
  }
  return nullptr;
}

TNRDExprNodePtr TNRDExpressionParser::ParseDatetimeArithmetic() {
  const std::int32_t p = Save();
  if (TNRDExprNodePtr d = ParseDatetimePrimary()) {
    if (IsOp("+") || IsOp("-")) {
      const bool minus = IsOp("-");
      Next();
      if (TNRDExprNodePtr v = ParseValueExpression()) {
        auto sign = std::make_unique<TNRDExprNodeArithmetic>(minus ? doSUB : doADD, false, false);
        sign->AddChild(std::move(v));
        auto add = std::make_unique<TNRDExprNodeArithmetic>(doADD, false, false);
        add->AddChild(std::move(d));
        add->AddChild(std::move(sign));
        return add;
      }
    }
  }
  Restore(p);
  if (TNRDExprNodePtr s = ParseStringValueExpression()) {
    if (IsOp("-")) {
      Next();
      if (TNRDExprNodePtr d = ParseDatetimePrimary()) {
        auto sign = std::make_unique<TNRDExprNodeArithmetic>(doSUB, false, false);
        sign->AddChild(std::move(d));
        auto add = std::make_unique<TNRDExprNodeArithmetic>(doADD, false, false);
        add->AddChild(std::move(s));
        add->AddChild(std::move(sign));
        return add;
      }
    }
  }
  Restore(p);
  return nullptr;
}

TNRDExprNodePtr TNRDExpressionParser::ParseNumericValueExpression() {
  return Remembered(Rule::Numeric, [&]() -> TNRDExprNodePtr {
    TNRDExprNodePtr first = ParseTerm();
    if (!first) return nullptr;
    std::vector<TNRDExprNodePtr> terms;
    terms.push_back(std::move(first));
    while (IsOp("+") || IsOp("-")) {
      Step();
      TNRDExprNodePtr t = ParseTerm();
      if (!t) return nullptr;
      terms.push_back(std::move(t));
    }
    if (IsOp("||")) return nullptr;
    if (terms.size() == 1) return std::move(terms[0]);
    auto add = std::make_unique<TNRDExprNodeArithmetic>(doADD, false, false);
    for (auto& t : terms) add->AddChild(std::move(t));
    return add;
  });
}

TNRDExprNodePtr TNRDExpressionParser::ParseTerm() {
  TNRDExprNodePtr f = ParseFactor();
  if (!f) return nullptr;
  int chain = 0;
  while (IsOp("*") || IsOp("/")) {
    const TNRDDataOperator op = IsOp("*") ? doMUL : doDIV;
    Next();
    ++chain;
    DepthGuard guard(*this, chain);  // each operator nests the left side one level deeper
    TNRDExprNodePtr g = ParseFactor();
    if (!g) return nullptr;
    auto n = std::make_unique<TNRDExprNodeArithmetic>(op, false, false);
    n->AddChild(std::move(f));
    n->AddChild(std::move(g));
    f = std::move(n);
  }
  return f;
}

TNRDExprNodePtr TNRDExpressionParser::ParseFactor() {
  const std::int32_t p = Save();
  bool minus = false;
  if (IsOp("+") || IsOp("-")) {
    minus = IsOp("-");
    Next();
  }
  TNRDExprNodePtr prim = ParseNumericPrimary();
  if (!prim) {
    Restore(p);
    return nullptr;
  }
  if (!minus) return prim;
  auto neg = std::make_unique<TNRDExprNodeArithmetic>(doSUB, false, false);
  neg->AddChild(std::move(prim));
  return neg;
}

TNRDExprNodePtr TNRDExpressionParser::ParseNumericPrimary() {
  const std::int32_t p = Save();
  if (TNRDExprNodePtr n = ParsePrimary()) {
    auto* k = NodeAs<TNRDExprNodeConst>(n.get());
    if (k == nullptr || IsNumericBaseFieldType(k->Value.DataType())) return n;
    Restore(p);
    return nullptr;
  }
  Restore(p);
  return ParseNumericFunction();
}

TNRDExprNodePtr TNRDExpressionParser::ParsePrimary() {
  return Remembered(Rule::Primary, [&] { return ParsePrimaryPrivate(); });
}

TNRDExprNodePtr TNRDExpressionParser::ParsePrimaryPrivate() {
  const std::int32_t p = Save();
  // 1. literals
  if (tok_.TokenType == tktInt) {
    std::int64_t v = 0;
    if (!TryStrToInt64(tok_.Text, v))
      throw ENRDException(30508, "Numeric overflow in operator '%s'", {tok_.Text});
    auto k = std::make_unique<TNRDExprNodeConst>();
    if (v < 2147483647 && v > -2147483647) {
      k->Value.Clear(bftSignedInt32);
      k->Value.SetAsInteger(static_cast<std::int32_t>(v));
    } else {
      k->Value.Clear(bftSignedInt64);
      k->Value.SetAsInt64(v);
    }
    Next();
    return k;
  }
  if (tok_.TokenType == tktFloat) {
    long double v = 0;
    if (!TryStrToFloat(tok_.Text, v, TFormatSettings::Invariant()) || !std::isfinite(static_cast<double>(v)))
      throw ENRDException(30508, "Numeric overflow in operator '%s'", {tok_.Text});
    auto k = std::make_unique<TNRDExprNodeConst>();
    k->Value.Clear(bftDouble);
    k->Value.SetAsDouble(static_cast<double>(v));
    Next();
    return k;
  }
  if (tok_.TokenType == tktParameter && tok_.ParamValue && !tok_.ParamValue->IsNull() &&
      (tok_.ParamValue->IsNumericDataType() || tok_.ParamValue->IsStringDataType() ||
       tok_.ParamValue->IsBlobDataType())) {
    auto k = std::make_unique<TNRDExprNodeConst>();
    k->Value.Assign(*tok_.ParamValue, true);
    Next();
    return k;
  }
  if (tok_.TokenType == tktQuotedString) {
    auto k = std::make_unique<TNRDExprNodeConst>();
    k->Value.Clear(bftVarchar);
    k->Value.SetAsAnsiString(tok_.Text);
    Next();
    return k;
  }
  if (IsWord(rwDATE) || IsWord(rwTIME) || IsWord(rwTIMESTAMP)) {
    const TReservedWord w = tok_.ReservedWord;
    Next();
    const bool date = w == rwDATE, time = w == rwTIME;
    if (tok_.TokenType != tktQuotedString) {
      if (date)
        throw ENRDException(20283, "Date string expected \"YYYY-MM-DD\", but found \"%s\" at line %d, column %d",
                            {tok_.Text, tok_.LineNum, tok_.ColumnNum});
      throw ENRDException(time ? 20285 : 20287,
                          "Time string expected \"HH:MM:SS\", but found \"%s\" at line %d, column %d",
                          {tok_.Text, tok_.LineNum, tok_.ColumnNum});
    }
    TDateTime v = 0;
    bool ok = false;
    try {
      ok = date ? TryParseISODate(tok_.Text, v) : time ? TryParseISOTime(tok_.Text, v) : TryParseISODateTime(tok_.Text, v);
    } catch (const Exception&) {
      ok = false;
    }
    if (!ok) {
      if (time)
        throw ENRDException(20286, "Time string expected \"%s\", but found \"%s\" at line %d, column %d",
                            {std::string("HH:MM:SS"), tok_.Text, tok_.LineNum, tok_.ColumnNum});
      throw ENRDException(date ? 20284 : 20288, "Date string expected \"%s\", but found \"%s\" at line %d, column %d",
                          {std::string("YYYY-MM-DD"), tok_.Text, tok_.LineNum, tok_.ColumnNum});
    }
    auto k = std::make_unique<TNRDExprNodeConst>();
    k->Value.Clear(date ? bftDate : time ? bftTime : bftDateTime);
    if (date) k->Value.SetAsTDate(v);
    else if (time) k->Value.SetAsTTime(v);
    else k->Value.SetAsTDateTime(v);
    Next();
    return k;
  }
  // 2. column reference
  auto isName = [](const TToken& t) {
    return (t.TokenType == tktString && !t.Text.empty() && IsWordChar(static_cast<unsigned char>(t.Text[0]))) ||
           t.TokenType == tktBracketedString || (t.TokenType == tktReservedWord && t.ReservedWord == rwNone);
  };
  if (isName(tok_)) {
    std::string first = tok_.Text, second;
    Next();
    bool qualified = false;
    if (tok_.TokenType == tktDot) {
      Next();
      if (!isName(tok_)) {
        Restore(p);
        return nullptr;
      }
      second = tok_.Text;
      qualified = true;
      Next();
    }
    if (tok_.TokenType == tktLeftParenthesis) {
      Restore(p);
      return nullptr;
    }
    return qualified ? std::make_unique<TNRDExprNodeField>(e_.LCursor, second, first)
                     : std::make_unique<TNRDExprNodeField>(e_.LCursor, first, std::string());
  }
  // 3. aggregates
  if (IsWord(rwCOUNT) || IsWord(rwAVG) || IsWord(rwMAX) || IsWord(rwMIN) || IsWord(rwSUM)) {
    const TReservedWord w = tok_.ReservedWord;
    const std::string name(ReservedWordText(w));
    Next();
    ExpectLeft(30074);
    if (w == rwCOUNT && IsOp("*")) {
      Next();
      ExpectRight(30073);
      return std::make_unique<TNRDExprNodeAggregated>(doCOUNTALL, false, nullptr);
    }
    bool distinct = false;
    if (IsWord(rwDISTINCT)) {
      distinct = true;
      Next();
    }
    TNRDExprNodePtr arg = ParseValueExpression();
    if (!arg) ArgumentExpected(30102, name);
    ExpectRight(30075);
    const TNRDDataOperator op = w == rwCOUNT ? doCOUNT : w == rwAVG ? doAVG : w == rwMAX ? doMAX : w == rwMIN ? doMIN : doSUM;
    return std::make_unique<TNRDExprNodeAggregated>(op, distinct, std::move(arg));
  }
  // 4. scalar subquery
  if (TNRDExprNodePtr s = ParseSubquery(true, false)) return s;
  // 5. CASE, COALESCE
  if (IsWord(rwCASE) || IsWord(rwCOALESCE)) return ParseCase();
  // 6. parenthesised value
  if (tok_.TokenType == tktLeftParenthesis) {
    Next();
    TNRDExprNodePtr v = ParseValueExpression();
    if (v && tok_.TokenType == tktRightParenthesis) {
      Next();
      return v;
    }
    Restore(p);
    return nullptr;
  }
  // 7. CAST
  if (IsWord(rwCAST)) return ParseCast();
  return nullptr;
}

TNRDExprNodePtr TNRDExpressionParser::ParseCast() {
  Next();
  ExpectLeft(30076);
  TNRDExprNodePtr operand;
  if (IsWord(rwNULL)) {
    auto k = std::make_unique<TNRDExprNodeConst>();
    k->Value.Clear(bftSignedInt32);
    operand = std::move(k);
    Next();
    Next();  // the separator
  } else {
    operand = ParseValueExpression();
    if (!operand)
      throw ENRDException(30077, "Cannot convert an expression to specified type: '%s'", {tok_.Text});
    if (tok_.TokenType == tktComma || IsWord(rwAS)) Next();
  }
  const TNRDAdvancedFieldType type = SQLTypeNameToFieldType(tok_.Text);
  const bool allowed = (type >= aftChar && type <= aftTimeStamp) || type == aftMemo || type == aftFormattedMemo ||
                       type == aftWideMemo;
  if (!allowed)
    throw ENRDException(30077, "Cannot convert an expression to specified type: '%s'",
                        {AdvancedFieldTypeToSQLName(type)});
  Next();
  TNRDExprNodePtr size;
  if (tok_.TokenType == tktLeftParenthesis) {
    Next();
    size = ParseNumericValueExpression();
    if (!size) ArgumentExpected(30465, "CAST");
    ExpectRight(30465);
  }
  ExpectRight(30076);
  return std::make_unique<TNRDExprNodeCast>(std::move(operand), type, std::move(size));
}

TNRDExprNodePtr TNRDExpressionParser::ParseCase() {
  if (IsWord(rwCOALESCE)) {
    Next();
    ExpectLeft(20275);
    std::vector<TNRDExprNodePtr> items;
    while (tok_.TokenType != tktRightParenthesis) {
      Step();
      TNRDExprNodePtr v = ParseValueExpression();
      // Every turn of the loop must read something, or the list could never end.
      if (!v) Expected(20275, ")");
      items.push_back(std::move(v));
      if (tok_.TokenType == tktComma) Next();
      else if (tok_.TokenType != tktRightParenthesis) Expected(20275, ")");
    }
    if (items.empty())
      throw ENRDException(20276, "COALESCE arguments are missing at line %d, column %d", {tok_.LineNum, tok_.ColumnNum});
    Next();
    return TNRDExprNodeCase::CreateCoalesce(std::move(items));
  }
  Next();  // CASE
  auto found = [&](int code, const char* what) {
    throw ENRDException(code, std::string(what) + " for CASE function expected, but '%s' found at line %d, column %d",
                        {tok_.Text, tok_.LineNum, tok_.ColumnNum});
  };
  std::unique_ptr<TNRDExprNodeCase> c;
  const bool searched = IsWord(rwWHEN);
  if (searched) {
    c = TNRDExprNodeCase::CreateSearchedCase();
  } else {
    TNRDExprNodePtr input = ParseValueExpression();
    if (!input) found(30467, "Input expression");
    c = TNRDExprNodeCase::CreateSimpleCase(std::move(input));
    if (!IsWord(rwWHEN)) Expected(30468, "WHEN");
  }
  while (IsWord(rwWHEN)) {
    Step();
    Next();
    TNRDExprNodePtr w = searched ? ParseSearchCondition() : ParseValueExpression();
    if (!w) searched ? found(30474, "Search Condition") : found(30469, "When Expression");
    c->AddWhenExpression(std::move(w));
    if (!IsWord(rwTHEN)) Expected(searched ? 30475 : 30470, "THEN");
    Next();
    TNRDExprNodePtr r = ParseValueExpression();
    if (!r) found(searched ? 30476 : 30469, "When Expression");
    c->AddResultExpression(std::move(r));
  }
  if (IsWord(rwELSE)) {
    Next();
    TNRDExprNodePtr e = ParseValueExpression();
    if (!e) found(searched ? 30477 : 30471, "'Else Result Expression'");
    c->SetElseResultExpression(std::move(e));
  }
  if (!IsWord(rwEND)) Expected(searched ? 30478 : 30472, "END");
  Next();
  return c;
}

TNRDExprNodePtr TNRDExpressionParser::ParseNumericFunction() {
  if (IsWord(rwPOSITION) || IsWord(rwPOS)) {
    Next();
    ExpectLeft(30078);
    TNRDExprNodePtr a = ParseStringValueExpression();
    if (!a) ArgumentExpected(30079, "POS");
    if (tok_.TokenType == tktComma || IsWord(rwIN)) Next();
    else Expected(30080, ",' or 'IN");
    TNRDExprNodePtr b = ParseStringValueExpression();
    if (!b) ArgumentExpected(30081, "POS");
    ExpectRight(30082);
    auto n = std::make_unique<TNRDExprNodeStringFunction>(doPOS, false, false);
    n->AddChild(std::move(a));
    n->AddChild(std::move(b));
    return n;
  }
  if (IsWord(rwEXTRACT)) {
    Next();
    ExpectLeft(20277);
    static const std::pair<TReservedWord, TNRDDateTimeExtractField> kFields[] = {
        {rwYEAR, dtefYear}, {rwMONTH, dtefMonth}, {rwDAY, dtefDay},
        {rwHOUR, dtefHour}, {rwMINUTE, dtefMinute}, {rwSECOND, dtefSecond}};
    const char* expected = "YEAR or MONTH or DAY or HOUR or MINUTE or SECOND";
    if (tok_.TokenType != tktReservedWord) Expected(20278, expected);
    TNRDDateTimeExtractField field = dtefYear;
    bool ok = false;
    for (const auto& [w, f] : kFields)
      if (IsWord(w)) {
        field = f;
        ok = true;
      }
    if (!ok) Expected(20279, expected);
    Next();
    if (!IsWord(rwFROM)) Expected(20280, "FROM");
    Next();
    TNRDExprNodePtr src = ParsePrimary();
    if (!src) src = ParseDatetimePrimary();
    if (!src) ArgumentExpected(20281, "EXTRACT (... FROM ...)");
    ExpectRight(20282);
    return std::make_unique<TNRDExprNodeDateFunction>(std::move(src), field);
  }
  if (IsWord(rwLENGTH)) {
    Next();
    ExpectLeft(30083);
    TNRDExprNodePtr a = ParseStringValueExpression();
    if (!a) ArgumentExpected(30085, "LENGTH");
    ExpectRight(30084);
    auto n = std::make_unique<TNRDExprNodeStringFunction>(doLENGTH, false, false);
    n->AddChild(std::move(a));
    return n;
  }
  if (IsWord(rwLAST_AUTOINC)) {
    Next();
    ExpectLeft(30086);
    const std::string table = tok_.Text;
    Next();
    bool inMemory = e_.FInMemory;
    if (IsWord(rwMEMORY)) {
      inMemory = true;
      Next();
    }
    if (tok_.TokenType != tktComma) Expected(30334, ",");
    Next();
    const std::string column = tok_.Text;
    Next();
    ExpectRight(30089);
    return std::make_unique<TNRDExprNodeSystem>(doLASTAUTOINC, table, column, inMemory, e_.FSessionName,
                                                e_.FDatabaseName, e_.LCursor);
  }
  if (IsWord(rwROWNUM)) {
    Next();
    return std::make_unique<TNRDExprNodeSystem>(doROWNUM, std::string(), std::string(), false);
  }
  static const std::pair<TReservedWord, TNRDDataOperator> kMath[] = {
      {rwABS, doABS},     {rwACOS, doACOS}, {rwASIN, doASIN}, {rwATAN, doATAN},   {rwCEIL, doCEIL}, {rwCOS, doCOS},
      {rwEXP, doEXP},     {rwFLOOR, doFLOOR}, {rwLOG, doLOG}, {rwPOWER, doPOWER}, {rwRAND, doRAND}, {rwROUND, doROUND},
      {rwSIGN, doSIGN},   {rwSIN, doSIN},   {rwSQR, doSQR},   {rwSQRT, doSQRT}};
  for (const auto& [w, op] : kMath) {
    if (!IsWord(w)) continue;
    const std::string name(ReservedWordText(w));
    Next();
    auto n = std::make_unique<TNRDExprNodeArithmetic>(op, false, false);
    if (op == doPOWER) {
      ExpectLeft(20264);
      TNRDExprNodePtr x = ParseNumericValueExpression();
      if (!x) ArgumentExpected(20265, name);
      if (tok_.TokenType != tktComma)
        throw ENRDException(20267, "comma (\",\") expected but not found at line %d, column %d",
                            {tok_.LineNum, tok_.ColumnNum});
      Next();
      TNRDExprNodePtr y = ParseNumericValueExpression();
      if (!y) ArgumentExpected(20268, name);
      ExpectRight(20266);
      n->AddChild(std::move(x));
      n->AddChild(std::move(y));
      return n;
    }
    if (op == doROUND) {
      ExpectLeft(30502);
      TNRDExprNodePtr x = ParseNumericValueExpression();
      if (!x) ArgumentExpected(30503, name);
      n->AddChild(std::move(x));
      if (tok_.TokenType == tktComma) {
        Next();
        TNRDExprNodePtr d = ParseNumericValueExpression();
        if (!d) ArgumentExpected(30504, name);
        n->AddChild(std::move(d));
        if (tok_.TokenType == tktComma) {
          Next();
          if (tok_.TokenType != tktReservedWord || tok_.ReservedWord == rwNone) ArgumentExpected(30505, name);
          auto k = std::make_unique<TNRDExprNodeConst>();
          k->Value.Clear(bftSignedInt32);
          k->Value.SetAsInteger(tok_.ReservedWord);
          Next();
          n->AddChild(std::move(k));
        }
      }
      ExpectRight(30506);
      return n;
    }
    ExpectLeft(20261);
    TNRDExprNodePtr x = ParseNumericValueExpression();
    if (!x) ArgumentExpected(20262, name);
    ExpectRight(20263);
    n->AddChild(std::move(x));
    return n;
  }
  return nullptr;
}

TNRDExprNodePtr TNRDExpressionParser::ParseStringValueExpression() {
  return Remembered(Rule::String, [&]() -> TNRDExprNodePtr {
    TNRDExprNodePtr first = ParseStringPrimary();
    if (!first) return nullptr;
    if (!IsOp("||") && !IsOp("+")) return first;
    auto concat = std::make_unique<TNRDExprNodeStringFunction>(doCONCAT, false, false);
    concat->AddChild(std::move(first));
    while (IsOp("||") || IsOp("+")) {
      Step();
      Next();
      if (TNRDExprNodePtr o = ParseStringPrimary()) concat->AddChild(std::move(o));
    }
    return concat;
  });
}

TNRDExprNodePtr TNRDExpressionParser::ParseStringPrimary() {
  const std::int32_t p = Save();
  if (TNRDExprNodePtr n = ParsePrimary()) return n;
  Restore(p);
  if (TNRDExprNodePtr n = ParseStringFunction()) return n;
  Restore(p);
  if (TNRDExprNodePtr n = ParseDatetimePrimary()) return n;
  Restore(p);
  // NULL stands where a text may: LENGTH(NULL) is 0, UPPER(NULL) is NULL, and a NULL part of a
  // concatenation reads as an empty text.
  if (IsWord(rwNULL)) return ParseNullOrValue();
  return nullptr;
}

TNRDExprNodePtr TNRDExpressionParser::ParseStringFunction() {
  static const std::pair<TReservedWord, TNRDDataOperator> kFns[] = {
      {rwUPPER, doUPPER}, {rwLOWER, doLOWER}, {rwTRIM, doTRIM}, {rwLTRIM, doLTRIM}, {rwRTRIM, doRTRIM}};
  for (const auto& [w, op] : kFns) {
    if (!IsWord(w)) continue;
    Next();
    ExpectLeft(30090);
    TNRDExprNodePtr a = ParseStringValueExpression();
    if (!a)
      throw ENRDException(30092, "String argument expected for function '%s', but '%s' found at line %d, column %d",
                          {OperatorText(op), tok_.Text, tok_.LineNum, tok_.ColumnNum});
    ExpectRight(30091);
    auto n = std::make_unique<TNRDExprNodeStringFunction>(op, false, false);
    n->AddChild(std::move(a));
    return n;
  }
  if (IsWord(rwSUBSTRING)) {
    Next();
    ExpectLeft(30098);
    TNRDExprNodePtr a = ParseStringValueExpression();
    if (!a) ArgumentExpected(30099, "SUBSTRING");
    if (tok_.TokenType == tktComma || IsWord(rwFROM)) Next();
    else Expected(30100, ",' or 'from");
    TNRDExprNodePtr s = ParseNumericValueExpression();
    if (!s) ArgumentExpected(30101, "SUBSTRING");
    auto n = std::make_unique<TNRDExprNodeStringFunction>(doSUBSTRING, false, false);
    n->AddChild(std::move(a));
    n->AddChild(std::move(s));
    if (tok_.TokenType == tktComma || IsWord(rwFOR)) {
      Next();
      TNRDExprNodePtr c = ParseNumericValueExpression();
      if (!c) ArgumentExpected(30101, "SUBSTRING");
      n->AddChild(std::move(c));
    } else if (tok_.TokenType != tktRightParenthesis) {
      Expected(30103, ")' or ',' or 'FOR");
    }
    ExpectRight(30104);
    return n;
  }
  if (IsWord(rwTOSTRING)) {
    Next();
    ExpectLeft(30093);
    TNRDExprNodePtr v = ParseValueExpression();
    if (!v) ArgumentExpected(30094, "ToString");
    if (tok_.TokenType == tktComma || IsWord(rwFROM)) Next();
    else Expected(30095, ",");
    if (tok_.TokenType != tktQuotedString)
      throw ENRDException(30096, "Const DateFormat string expected, but '%s' found at line %d, column %d",
                          {tok_.Text, tok_.LineNum, tok_.ColumnNum});
    const std::string format = tok_.Text;
    Next();
    ExpectRight(30097);
    return std::make_unique<TNRDExprNodeDateFunction>(doTOSTRING, std::move(v), &format);
  }
  return nullptr;
}

TNRDExprNodePtr TNRDExpressionParser::ParseDatetimePrimary() {
  if (IsWord(rwSYSDATE) || IsWord(rwNOW) || IsWord(rwCURRENT_TIMESTAMP)) {
    Next();
    return std::make_unique<TNRDExprNodeDateFunction>(doSYSDATE, nullptr, nullptr);
  }
  if (IsWord(rwCURRENT_TIME)) {
    Next();
    return std::make_unique<TNRDExprNodeDateFunction>(doCURRENT_TIME, nullptr, nullptr);
  }
  if (IsWord(rwCURRENT_DATE)) {
    Next();
    return std::make_unique<TNRDExprNodeDateFunction>(doCURRENT_DATE, nullptr, nullptr);
  }
  if (IsWord(rwTODATE)) {
    Next();
    ExpectLeft(30105);
    TNRDExprNodePtr s = ParseStringValueExpression();
    if (!s) ArgumentExpected(30107, "ToDate");
    if (tok_.TokenType != tktComma) Expected(30108, ",");
    Next();
    if (tok_.TokenType != tktQuotedString)
      throw ENRDException(30109, "Const DateFormat string expected, but '%s' found at line %d, column %d",
                          {tok_.Text, tok_.LineNum, tok_.ColumnNum});
    const std::string format = tok_.Text;
    Next();
    ExpectRight(30106);
    return std::make_unique<TNRDExprNodeDateFunction>(doTODATE, std::move(s), &format);
  }
  if (tok_.TokenType == tktParameter && tok_.ParamValue && !tok_.ParamValue->IsNull() &&
      tok_.ParamValue->IsDateTimeDataType()) {
    auto k = std::make_unique<TNRDExprNodeConst>();
    k->Value.Assign(*tok_.ParamValue, true);
    Next();
    return k;
  }
  return nullptr;
}

}  // namespace nrd::sql
