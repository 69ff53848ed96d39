// The lexer: tokens with kinds and positions, commands, parameters and scan errors, as tables.
#include "engine/sql/NRDLexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/foundation/NRDExcept.h"

namespace {

using namespace nrd;

// One token as "kind:text@line:col"; kinds: w word, q quoted, b bracketed, i int, f float,
// r reserved, p parameter, ( ) , . punctuation.
std::string Show(const TToken& t) {
  static const char* kinds[] = {"-", "w", "q", "b", "i", "f", "r", "p", "(", ")", ",", "."};
  return std::string(kinds[t.TokenType]) + ":" + t.Text + "@" + std::to_string(t.LineNum) + ":" +
         std::to_string(t.ColumnNum);
}

// Commands separated by " | ", tokens by blanks.
std::string Scan(const std::string& sql, const TNRDSQLParams* params = nullptr, bool noParams = false) {
  try {
    TNRDLexer lex(sql, params, noParams);
    std::string r;
    for (const TSQLCommand& c : lex.Commands) {
      if (!r.empty()) r += " | ";
      std::string line;
      for (const TToken& t : c.Tokens) line += (line.empty() ? "" : " ") + Show(t);
      r += line;
    }
    return r;
  } catch (const ENRDException& e) {
    return "E" + std::to_string(e.NativeError) + " " + e.what();
  }
}

struct Case {
  const char* sql;
  const char* expected;
};

const Case kCases[] = {
    {"a;b", "w:a@1:1 | w:b@1:3"},
    {"a;;b", "w:a@1:1 | w:b@1:4"},
    {"  -- only a comment\n /* and a block */ ", ""},
    {"'it''s'", "q:it's@1:1"},
    {"[a]]b]", "b:a]b@1:1"},
    {"\"dq\"", "q:dq@1:1"},
    {"1e+5 1.5 .5 1. 12", "f:1e+5@1:1 f:1.5@1:6 f:.5@1:10 f:1.@1:13 i:12@1:16"},
    {"12ab", "E30062 Invalid numeric symbol 'a' at line 1, column 3 - Native error: 30062"},
    {"x\n 12ab", "E30062 Invalid numeric symbol 'a' at line 2, column 4 - Native error: 30062"},
    {"a-b a+b", "w:a@1:1 w:-@1:2 w:b@1:3 w:a@1:5 w:+@1:6 w:b@1:7"},
    {"1E-3", "f:1E-3@1:1"},
    {"1-3", "i:1@1:1 w:-@1:2 i:3@1:3"},
    {"x||y", "w:x@1:1 w:||@1:2 w:y@1:4"},
    {"a<>b a<=b a>=b", "w:a@1:1 w:<>@1:2 w:b@1:4 w:a@1:6 w:<=@1:7 w:b@1:9 w:a@1:11 w:>=@1:12 w:b@1:14"},
    {"a != b", "w:a@1:1 w:!@1:3 w:=@1:4 w:b@1:6"},
    {"a!=b", "w:a!@1:1 w:=@1:3 w:b@1:4"},
    {"ab/*c*/de", "w:abde@1:1"},
    {"t.name", "w:t@1:1 .:.@1:2 w:name@1:3"},
    {"select From", "r:select@1:1 r:From@1:8"},
    {"absolute", "w:absolute@1:1"},
    {"count(*)", "r:count@1:1 (:(@1:6 w:*@1:7 ):)@1:8"},
    {"(a", "E30059 Missing symbol ')' at line 1, column 1 - Native error: 30059"},
    {"a)", "E30060 Unexpected symbol ')' found at line 1, column 2 - Native error: 30060"},
    {"x = 'abc", "E30061 Unterminated string at line 1, column 5 - Native error: 30061"},
    {"a\r\n  b", "w:a@1:1 w:b@2:3"},
    {"[select]", "b:select@1:1"},
    {":p", "E30358 Value for parameter 'p' not found - Native error: 30358"},
    {"?", "E30358 Value for parameter '?' not found - Native error: 30358"},
};

TEST(NRDLexer, TokensCommandsAndErrors) {
  for (const Case& c : kCases) EXPECT_EQ(Scan(c.sql), c.expected) << c.sql;
}

TEST(NRDLexer, BackQuotedReservedWordIsAnyReservedWordOnly) {
  TNRDLexer lex("`select` `a\\`b`", nullptr, false);
  ASSERT_EQ(lex.Commands.size(), 1u);
  const TToken& t = lex.Commands[0].Tokens[0];
  EXPECT_EQ(t.TokenType, tktReservedWord);
  EXPECT_EQ(t.ReservedWord, rwNone);
  EXPECT_FALSE(IsReservedWordToken(t, rwSELECT));
  EXPECT_TRUE(IsReservedWordToken(t, rwNone));
  EXPECT_EQ(FindReservedWord("absolute"), 0);
  EXPECT_EQ(FindReservedWord("RndUp"), rwRNDUP);
  EXPECT_EQ(FindReservedWord("LASTAUTOINC"), rwLAST_AUTOINC);
  EXPECT_EQ(FindReservedWord("nosuchword"), -1);
}

TEST(NRDLexer, ParametersBindByNameAndPosition) {
  TNRDSQLParams params;
  TNRDSQLParam* p = params.AddCreated();
  p->Name = "P";
  p->SetAsInteger(7);
  TNRDSQLParam* q = params.AddCreated();
  q->Name = "Q";
  q->SetAsAnsiString("x");
  TNRDLexer lex("a = :p; b = ? and c = ?", &params, false);
  ASSERT_EQ(lex.NumCommands(), 2);
  const TToken& named = lex.Commands[0].Tokens[2];
  EXPECT_EQ(named.TokenType, tktParameter);
  EXPECT_EQ(named.Text, "p");
  EXPECT_EQ(named.ParamValue->AsInteger(), 7);
  const TToken& first = lex.Commands[1].Tokens[2];
  const TToken& second = lex.Commands[1].Tokens[6];
  EXPECT_EQ(first.Text, "Param1");
  EXPECT_EQ(first.ParamValue->AsInteger(), 7);
  EXPECT_EQ(second.Text, "Param2");
  EXPECT_EQ(second.ParamValue->AsAnsiString(), "x");
  // A third positional parameter has no value.
  EXPECT_EQ(Scan("? ? ?", &params).substr(0, 6), "E30358");
  // Without parameter binding a colon word is a plain word.
  EXPECT_EQ(Scan(":p", nullptr, true), "w::p@1:1");
}

TEST(NRDLexer, NavigationStopsAtTheEnd) {
  TNRDLexer lex("a b", nullptr, false);
  TToken t;
  EXPECT_FALSE(lex.GetCurrentToken(t));  // no command selected yet
  ASSERT_TRUE(lex.GetNextCommand());
  ASSERT_TRUE(lex.GetCurrentToken(t));
  EXPECT_EQ(t.Text, "a");
  EXPECT_TRUE(lex.GetNextToken(t));
  EXPECT_EQ(t.Text, "b");
  EXPECT_FALSE(lex.GetNextToken(t));
  EXPECT_EQ(t.TokenType, tktNone);
  EXPECT_FALSE(lex.GetNextToken(t));
  EXPECT_TRUE(lex.SetCurrentTokenNo(0, t));
  EXPECT_EQ(t.Text, "a");
  EXPECT_FALSE(lex.GetNextCommand());
}

TEST(NRDLexer, HugeInputsScanInOnePass) {
  // A 1 MB literal, and 100,000 nested parentheses (the lexer only counts them).
  const std::string big(1 << 20, 'x');
  TNRDLexer lex("'" + big + "'", nullptr, false);
  ASSERT_EQ(lex.Commands.size(), 1u);
  EXPECT_EQ(lex.Commands[0].Tokens[0].Text.size(), big.size());
  const std::string deep = std::string(100000, '(') + "1" + std::string(100000, ')');
  TNRDLexer lex2(deep, nullptr, false);
  EXPECT_EQ(lex2.Commands[0].Tokens.size(), 200001u);
}

}  // namespace
