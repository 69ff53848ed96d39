// Nested SELECTs through a stand-in for the SELECT layer: quantified comparisons, IN, EXISTS and
// scalar subqueries, the shape checks, and how often an uncorrelated and a correlated subquery run.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "engine/foundation/NRDExcept.h"
#include "tests/engine-sql/SqlTestUtil.h"

namespace {

using namespace nrd;

// "SELECT v1 v2 ..." gives one column with the integer rows v1, v2 ...; the word OUTER anywhere makes
// it correlated. The SELECT ends before a ')' that closes a parenthesis opened outside it.
class StandInRunner : public sql::TNRDSubqueryRunner {
 public:
  struct Rows : sql::TNRDSubqueryResult {
    std::vector<std::int32_t> values;
    std::int32_t FieldCount() const override { return 1; }
    std::int64_t RowCount() const override { return static_cast<std::int64_t>(values.size()); }
    void GetValue(std::int64_t row, std::int32_t, TNRDVariant& value) const override {
      value.Clear(bftSignedInt32);
      value.SetAsInteger(values[static_cast<std::size_t>(row)]);
    }
  };
  void Skip(TNRDLexer& lexer) override {
    TToken t;
    lexer.GetCurrentToken(t);
    int depth = 0;
    while (lexer.GetNextToken(t)) {
      if (t.TokenType == tktLeftParenthesis) ++depth;
      if (t.TokenType == tktRightParenthesis && depth-- == 0) return;
    }
  }
  std::vector<TToken> Tokens(TNRDLexer& lexer, std::int32_t commandNo, std::int32_t tokenNo) {
    std::vector<TToken> r;
    const TSQLCommand& c = lexer.Commands[static_cast<std::size_t>(commandNo)];
    for (std::size_t i = static_cast<std::size_t>(tokenNo) + 1; i < c.Tokens.size(); ++i) {
      if (c.Tokens[i].TokenType == tktRightParenthesis) break;
      r.push_back(c.Tokens[i]);
    }
    return r;
  }
  bool IsUncorrelated(TNRDLexer& lexer, std::int32_t commandNo, std::int32_t tokenNo) override {
    for (const TToken& t : Tokens(lexer, commandNo, tokenNo))
      if (t.Text == "OUTER" || t.Text == "outer") return false;
    return true;
  }
  std::unique_ptr<sql::TNRDSubqueryResult> Execute(TNRDLexer& lexer, std::int32_t commandNo, std::int32_t tokenNo,
                                                   TNRDCursor*, void*) override {
    ++executions;
    auto rows = std::make_unique<Rows>();
    for (const TToken& t : Tokens(lexer, commandNo, tokenNo))
      if (t.TokenType == tktInt) rows->values.push_back(std::stoi(t.Text));
    return rows;
  }
  TNRDAdvancedFieldType GetDataType(TNRDLexer&, std::int32_t, std::int32_t) override { return aftInteger; }
  std::int32_t GetDataSize(TNRDLexer&, std::int32_t, std::int32_t) override { return 0; }
  int executions = 0;
};

class Subqueries : public ::testing::Test {
 protected:
  void SetUp() override { sql::SetSubqueryRunner(&runner_); }
  void TearDown() override { sql::SetSubqueryRunner(nullptr); }
  StandInRunner runner_;
};

struct Case {
  const char* text;
  bool boolean;
  const char* expected;
};

TEST_F(Subqueries, Forms) {
  const Case cases[] = {
      {"3 > ALL (SELECT 1 2)", true, "TRUE"},
      {"2 > ALL (SELECT 1 2)", true, "FALSE"},
      {"2 > ANY (SELECT 1 2)", true, "TRUE"},
      {"1 > SOME (SELECT 1 2)", true, "FALSE"},
      {"5 > ALL (SELECT)", true, "TRUE"},
      {"5 > ANY (SELECT)", true, "FALSE"},
      {"2 IN (SELECT 1 2)", true, "TRUE"},
      {"3 IN (SELECT 1 2)", true, "FALSE"},
      {"3 NOT IN (SELECT 1 2)", true, "TRUE"},
      {"EXISTS (SELECT)", true, "FALSE"},
      {"EXISTS ((SELECT 1))", true, "TRUE"},
      {"(SELECT 5) = 5", true, "TRUE"},
      {"(SELECT 1 2) = 1", true, "E20247"},
      {"(SELECT) = 1", true, "E20249"},
      {"(SELECT 5) + 1", false, "i:6"},
      {"(SELECT 7 8)", false, "i:7"},
      {"(SELECT)", false, "NULL"},
      {"EXISTS ((SELECT 1)", true, "E30059"},
  };
  for (const Case& c : cases) EXPECT_EQ(sqltest::Eval(c.text, c.boolean), c.expected) << c.text;
}

TEST_F(Subqueries, UncorrelatedRunsOnceCorrelatedPerEvaluation) {
  for (const auto& [text, expectedRuns] : {std::pair{"2 IN (SELECT 1 2)", 1}, std::pair{"2 IN (SELECT OUTER 1 2)", 3},
                                           std::pair{"(SELECT 5) = 5", 1}, std::pair{"(SELECT OUTER 5) = 5", 3}}) {
    runner_.executions = 0;
    TNRDLexer lex(text, nullptr, false);
    lex.GetNextCommand();
    sql::TNRDExpression e;
    e.ParseForBooleanExpression(&lex);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(e.GetResult()) << text;
    EXPECT_EQ(runner_.executions, expectedRuns) << text;
  }
}

TEST(SubqueriesWithoutSelectLayer, AreADefinedError) {
  EXPECT_EQ(sqltest::Eval("EXISTS (SELECT 1)", true), "E30512");
  EXPECT_EQ(sqltest::Eval("(SELECT 1) + 1", false), "E30512");
}

}  // namespace
