// The recursive-descent parser behind TNRDExpression's parse entry points (internal to engine/sql).
// Each rule either builds a node and leaves the lexer after its construct, or yields null and
// leaves the position where it was; malformed constructs recognised by their keyword throw.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>

#include "engine/sql/NRDExpressions.h"

namespace nrd::sql {

class TNRDExpressionParser {
 public:
  TNRDExpressionParser(TNRDExpression& expression, TNRDLexer& lexer);
  TNRDExprNodePtr ParseSearchCondition();
  TNRDExprNodePtr ParseValueExpression();
  TNRDExprNodePtr ParseRowSubquery() { return ParseSubquery(false, false); }
  const TToken& CurrentToken() const { return tok_; }

 private:
  enum class Rule { Value, Numeric, String, Primary };
  struct Memo {
    std::int32_t end = 0;
    TNRDExprNodePtr node;
  };
  class DepthGuard {
   public:
    explicit DepthGuard(TNRDExpressionParser& p, int extra = 0);
    ~DepthGuard();
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

   private:
    TNRDExpressionParser& p_;
    int extra_;
  };

  std::int32_t Save() const;
  void Restore(std::int32_t pos);
  void Next();
  bool IsWord(TReservedWord w) const;
  bool IsOp(std::string_view text) const;
  [[noreturn]] void Expected(int code, std::string_view what) const;
  [[noreturn]] void ArgumentExpected(int code, std::string_view function) const;
  void ExpectLeft(int code);
  void ExpectRight(int code);
  void Step();
  template <typename F>
  TNRDExprNodePtr Remembered(Rule rule, F parse);

  TNRDExprNodePtr ParseBooleanTerm();
  TNRDExprNodePtr ParseBooleanFactor();
  TNRDExprNodePtr ParseBooleanTest();
  TNRDExprNodePtr ParseBooleanPrimary();
  TNRDExprNodePtr ParsePredicate();
  TNRDExprNodePtr BuildComparison(TNRDDataOperator op, TNRDExprNodePtr left, TNRDExprNodePtr right);
  TNRDExprNodePtr ParseRowValue();
  TNRDExprNodePtr ParseSubquery(bool mustHaveOneField, bool mustHaveOneRow);
  TNRDExprNodePtr ParseNullOrValue();
  TNRDExprNodePtr ParseLoneLiteral();
  TNRDExprNodePtr ParseValueExpressionPrivate();
  TNRDExprNodePtr ParseDatetimeArithmetic();
  TNRDExprNodePtr ParseNumericValueExpression();
  TNRDExprNodePtr ParseTerm();
  TNRDExprNodePtr ParseFactor();
  TNRDExprNodePtr ParseNumericPrimary();
  TNRDExprNodePtr ParsePrimary();
  TNRDExprNodePtr ParsePrimaryPrivate();
  TNRDExprNodePtr ParseCast();
  TNRDExprNodePtr ParseCase();
  TNRDExprNodePtr ParseNumericFunction();
  TNRDExprNodePtr ParseStringValueExpression();
  TNRDExprNodePtr ParseStringPrimary();
  TNRDExprNodePtr ParseStringFunction();
  TNRDExprNodePtr ParseDatetimePrimary();

  TNRDExpression& e_;
  TNRDLexer& lex_;
  TToken tok_;
  int depth_ = 0;
  std::int64_t steps_ = 0;
  std::unordered_map<std::int64_t, Memo> memo_;
};

}  // namespace nrd::sql
