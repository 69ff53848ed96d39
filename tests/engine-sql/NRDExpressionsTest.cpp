// Expressions without a table: precedence, rewrites, truth tables, every function, casts, CASE,
// dates, aggregates, errors of hostile input. Each table row is one expression and what it gives.
#include <gtest/gtest.h>

#include <string>

#include "tests/engine-sql/SqlTestUtil.h"

namespace {

using namespace nrd;
using sqltest::Eval;

struct Case {
  const char* text;
  const char* expected;
};

// Value expressions.
const Case kValues[] = {
    // precedence and association
    {"1 - 2 - 3", "i:-4"},
    {"8 / 4 / 2", "i:1"},
    {"2 + 3 * 4", "i:14"},
    {"(2 + 3) * 4", "i:20"},
    {"-5", "i:-5"},
    {"2147483646", "i:2147483646"},
    {"2147483647", "l:2147483647"},
    {"1.5 * 2", "d:3"},
    {"'a' || 'b'", "s:ab"},
    {"'a' + 'b'", "s:ab"},
    {"1 + 'a'", "s:1a"},
    {"'a' || NULL || 'b'", "s:ab"},
    {"(((((((((((((((((((('deep'))))))))))))))))))))", "s:deep"},
    // overflow and division: defined errors
    {"2147483646 + 1", "i:2147483647"},
    {"2147483646 + 2", "E30508"},
    {"-2147483646 - 3", "E30508"},
    {"65536 * 65536", "E30508"},
    {"9223372036854775807 + 1", "E30508"},
    {"9223372036854775807 * 2", "E30508"},
    {"99999999999999999999", "E30508"},
    {"1e999", "E30508"},
    {"1e308 * 10", "E30508"},
    {"7 / 0", "E30128"},
    {"7.0 / 0", "E30128"},
    {"SQR(65536)", "E30508"},
    {"POWER(10, 400)", "E30514"},
    {"EXP(1000)", "E30514"},
    {"SQRT(-1)", "E30514"},
    {"LOG(0)", "E30514"},
    {"ACOS(2)", "E30514"},
    {"CEIL(1e20)", "E30514"},
    {"ROUND(1e20)", "E30514"},
    {"RAND(0)", "E30514"},
    // a conversion the target type cannot hold, and a day beyond the calendar
    {"CAST(32767 AS SMALLINT) + 0", "i:32767"},
    {"CAST(70000 AS SMALLINT)", "E30051"},
    {"CAST(-1 AS WORD)", "E30051"},
    {"CAST(256 AS BYTE)", "E30051"},
    {"CAST(3000000000 AS INTEGER)", "E30051"},
    {"CAST(1e10 AS SMALLINT)", "E30051"},
    {"CAST('70000' AS SMALLINT)", "E30051"},
    {"CAST(-2147483646 - 2 AS INTEGER)", "i:-2147483648"},
    {"CAST(-2147483646 - 2 AS LARGEINT)", "l:-2147483648"},
    {"TODATE('2020-02-28', 'YYYY-MM-DD') + 1", "date:2020-02-29"},
    {"TODATE('9999-12-31', 'YYYY-MM-DD') + 1", "E30508"},
    {"TODATE('0001-01-01', 'YYYY-MM-DD') - 1", "E30508"},
    {"TODATE('2020-02-29', 'YYYY-MM-DD') + 2147483647", "E30508"},
    {"TODATE('2020-02-29', 'YYYY-MM-DD') + 4294967296", "E30508"},
    {"TODATE('2020-02-29 10:00', 'YYYY-MM-DD HH24:NN') + 1e300", "E30508"},
    {"NOW - 4294967296", "E30508"},
    // string functions
    {"POS('b', 'abc')", "i:2"},
    {"POS('x', 'abc')", "i:0"},
    {"POSITION('c' IN 'abc')", "i:3"},
    {"SUBSTRING('abcdef', 3)", "s:cdef"},
    {"SUBSTRING('abcdef', 2, 3)", "s:bcd"},
    {"SUBSTRING('abc' FROM 0 FOR 2)", "s:ab"},
    {"SUBSTRING('abc', 2, -1)", "NULL"},
    {"LENGTH(NULL)", "i:0"},
    {"LENGTH('abc')", "i:3"},
    {"UPPER(NULL)", "NULL"},
    {"UPPER('abc')", "s:ABC"},
    {"LOWER('\xC0\xC1')", "s:\xE0\xE1"},
    {"TRIM('  a  ')", "s:a"},
    {"LTRIM('  a  ')", "s:a  "},
    {"RTRIM('  a  ')", "s:  a"},
    // mathematical functions
    {"ROUND(2.5)", "i:2"},
    {"ROUND(3.5)", "i:4"},
    {"ROUND(2.345, 2)", "d:2.34"},
    {"ROUND(2.345, 2, HALFUP)", "d:2.35"},
    {"ROUND(2.5, 0, SELECT)", "E30513"},
    {"CEIL(1.2)", "i:2"},
    {"FLOOR(-1.2)", "i:-2"},
    {"SIGN(-3)", "i:-1"},
    {"SQR(3)", "i:9"},
    {"POWER(2, 10)", "d:1024"},
    {"ABS(-7)", "i:7"},
    {"ABS(-2147483646 - 1)", "i:2147483647"},
    {"SQRT(16)", "d:4"},
    // cast
    {"CAST(12345 AS CHAR)", "s:12345"},
    {"CAST('abcdef' AS VARCHAR(3))", "s:abc"},
    {"CAST(NULL AS INTEGER)", "NULL"},
    {"CAST(NULL, INTEGER)", "NULL"},
    {"CAST('12' AS INTEGER) + 1", "i:13"},
    {"CAST(1 AS BLOB)", "E30077"},
    {"CAST(1 AS NOSUCHTYPE)", "E30077"},
    {"CAST('x' AS VARCHAR(3 4))", "E30465"},
    {"CAST('x' AS VARCHAR(3) 4)", "E30076"},
    {"CAST('x' AS VARCHAR(3)) ", "s:x"},
    // CASE and COALESCE
    {"COALESCE(NULL, NULL, 3)", "i:3"},
    {"COALESCE(NULL)", "NULL"},
    {"CASE 'a' WHEN 'A' THEN 1 END", "i:1"},
    {"CASE WHEN FALSE THEN 1 END", "NULL"},
    {"CASE WHEN NULL = NULL THEN 1 ELSE 2 END", "i:2"},
    {"CASE WHEN 1 = 1 THEN 'x' ELSE 'y' END", "s:x"},
    {"CASE 3 WHEN 1 THEN 'one' WHEN 3 THEN 'three' ELSE 'many' END", "s:three"},
    {"CASE WHEN 1 = 1 THEN END", "E30476"},
    {"CASE 1 WHEN 1 THEN 2", "E30472"},
    {"COALESCE(1 2)", "E20275"},
    // dates
    {"EXTRACT(MONTH FROM DATE '2020-07-15')", "u16:7"},
    {"EXTRACT(HOUR FROM TIME '13:45:00')", "u16:13"},
    {"EXTRACT(WEEK FROM DATE '2020-07-15')", "E20278"},
    {"EXTRACT(ZONE FROM DATE '2020-07-15')", "E20279"},
    {"EXTRACT(YEAR DATE '2020-07-15')", "E20280"},
    {"TODATE('2020-07-15', 'YYYY-MM-DD')", "date:2020-07-15"},
    {"TODATE('13:45', 'HH24:NN')", "time:13:45:00"},
    {"TODATE('2020-07-15 13:45', 'YYYY-MM-DD HH24:NN')", "dt:2020-07-15 13:45:00"},
    {"TODATE('2020-02-30', 'YYYY-MM-DD')", "E30510"},
    // day 0 at midnight is a date or a time as the format says, never day number 0
    {"TODATE('1899-12-30', 'YYYY-MM-DD')", "date:1899-12-30"},
    {"TOSTRING(TODATE('1899-12-30', 'YYYY-MM-DD'), 'DD.MM.YYYY')", "s:30.12.1899"},
    {"TODATE('00:00', 'HH24:NN')", "time:00:00:00"},
    {"TODATE('1899-12-30 00:00', 'YYYY-MM-DD HH24:NN')", "dt:1899-12-30 00:00:00"},
    {"TOSTRING(DATE '2020-07-15', 'DD.MM.YYYY')", "s:15.07.2020"},
    {"TOSTRING(TIMESTAMP '2020-07-15 12:00:00', 'HH12 AMPM')", "s:12 PM"},
    {"DATE '2020-02-30'", "E20284"},
    {"DATE 5", "E20283"},
    {"TIME '25:00:00'", "E20286"},
    {"MIMETOBIN('aGVsbG8=')", "blob:hello"},
    {"ROWNUM", "i:1"},
};

TEST(NRDExpressions, ValueExpressions) {
  for (const Case& c : kValues) EXPECT_EQ(Eval(c.text, false), c.expected) << c.text;
}

// Conditions (three-valued logic, rewrites, predicates).
const Case kConditions[] = {
    {"NULL = NULL", "FALSE"},
    {"NULL <> 1", "FALSE"},
    {"1 > NULL", "FALSE"},
    {"NOT (NULL = 1)", "TRUE"},
    {"TRUE AND NULL IS NULL", "TRUE"},
    {"1 = 1 AND 2 = 2 AND 3 = 3", "TRUE"},
    {"1 = 1 AND 2 = 3", "FALSE"},
    {"1 = 2 OR 2 = 2", "TRUE"},
    {"1 = 2 OR 2 = 3 OR 3 = 4", "FALSE"},
    {"'abc' IN ('ABC')", "TRUE"},
    {"NULL IN (1, 2)", "NULL"},
    {"3 NOT IN (1, NULL)", "TRUE"},
    {"2 IN (1 2 3)", "TRUE"},
    {"5 BETWEEN 1 AND NULL", "NULL"},
    {"5 NOT BETWEEN 1 AND 4", "TRUE"},
    {"'b' BETWEEN 'A' AND 'C'", "TRUE"},
    {"'a_c' LIKE 'a\\_c' ESCAPE '\\'", "TRUE"},
    {"'abc' LIKE 'a\\_c' ESCAPE '\\'", "FALSE"},
    {"'abc' LIKE 'a_c'", "TRUE"},
    {"'ABC' LIKE 'a%'", "FALSE"},
    {"'abc' LIKE '%c'", "TRUE"},
    {"'abc' NOT LIKE '%c'", "FALSE"},
    {"'a' LIKE NULL", "NULL"},
    {"'abc' LIKE 'ab' ESCAPE 'xy'", "E20294"},
    {"MIMETOBIN('aGVsbG8=') LIKE 'a%b%'", "E30120"},
    {"1 LIKE '1'", "TRUE"},
    {"NULL IS NULL", "TRUE"},
    {"1 IS NOT NULL", "TRUE"},
    {"(1 = 1) IS NOT TRUE", "FALSE"},
    {"(1 = 2) IS FALSE", "TRUE"},
    {"(1 = 2) IS NOT FALSE", "FALSE"},
    {"(1 = 1) IS UNKNOWN", "FALSE"},
    {"(1 = 1) IS maybe", "E30067"},
    {"(1 = 1", "E30059"},
    {"(1 = 1) AND", "E30069"},
    {"1 = 1 OR", "E30070"},
    {"+", "E30066"},
    {"((1 = 1)", "E30059"},
    {"TRUE", "TRUE"},
    {"(((1 = 1)))", "TRUE"},
    {"((((1)))) = 1", "TRUE"},
    {"'a' || 'b' = 'ab'", "TRUE"},
    {"UPPER('x') = 'X'", "TRUE"},
    {"NOW + 1 > NOW", "TRUE"},
    {"NOW - 1 < NOW", "TRUE"},
    {"EXISTS (SELECT 1)", "E30512"},
    {"1 IN (SELECT 1)", "E30512"},
};

TEST(NRDExpressions, Conditions) {
  for (const Case& c : kConditions) EXPECT_EQ(Eval(c.text, true), c.expected) << c.text;
}

TEST(NRDExpressions, ThreeValuedTruthTables) {
  // Every pair of TRUE, FALSE and NULL under AND, OR, and NOT of each.
  const char* v[] = {"(1 = 1)", "(1 = 2)", "(NULL IS NULL AND NULL IN (1))"};
  const char* name[] = {"T", "F", "N"};
  const char* andTable[3][3] = {{"TRUE", "FALSE", "NULL"}, {"FALSE", "FALSE", "FALSE"}, {"NULL", "FALSE", "NULL"}};
  const char* orTable[3][3] = {{"TRUE", "TRUE", "TRUE"}, {"TRUE", "FALSE", "NULL"}, {"TRUE", "NULL", "NULL"}};
  const char* notTable[3] = {"FALSE", "TRUE", "NULL"};
  for (int a = 0; a < 3; ++a) {
    EXPECT_EQ(Eval(std::string("NOT ") + v[a], true), notTable[a]) << name[a];
    for (int b = 0; b < 3; ++b) {
      EXPECT_EQ(Eval(std::string(v[a]) + " AND " + v[b], true), andTable[a][b]) << name[a] << " AND " << name[b];
      EXPECT_EQ(Eval(std::string(v[a]) + " OR " + v[b], true), orTable[a][b]) << name[a] << " OR " << name[b];
    }
  }
}

TEST(NRDExpressions, HostileTextGivesDefinedErrors) {
  // 100,000 nested parentheses: a parse error, not a stack overflow.
  const std::string deep = std::string(100000, '(') + "1" + std::string(100000, ')');
  EXPECT_EQ(Eval(deep, false), "E30507");
  EXPECT_EQ(Eval(deep + " = 1", true), "E30507");
  EXPECT_EQ(Eval(std::string(100000, '(') + "1 = 1" + std::string(100000, ')'), true), "E30507");
  std::string nots;
  for (int i = 0; i < 100000; ++i) nots += "NOT ";
  EXPECT_EQ(Eval(nots + "1 = 1", true), "E30507");
  std::string product = "1";
  for (int i = 0; i < 100000; ++i) product += " * 1";
  EXPECT_EQ(Eval(product, false), "E30507");
  // Long flat chains are fine.
  std::string sum = "1";
  for (int i = 0; i < 100000; ++i) sum += " + 1";
  EXPECT_EQ(Eval(sum, false), "i:100001");
  std::string ors = "1 = 2";
  for (int i = 0; i < 20000; ++i) ors += " OR 1 = 2";
  EXPECT_EQ(Eval(ors + " OR 2 = 2", true), "TRUE");
  // Nesting that the grammar has to try several ways at every level (strings inside parentheses)
  // stays within the depth cap without re-parsing each level over and over.
  std::string strings = "'s'";
  for (int i = 0; i < 60; ++i) strings = "(UPPER(" + strings + ") || '')";
  EXPECT_EQ(Eval(strings, false), "s:S");
  // A LIKE pattern of 10,000 '%' against a long text, and a 1 MB literal.
  const std::string value(100000, 'a');
  EXPECT_EQ(Eval("'" + value + "' LIKE '" + std::string(10000, '%') + "b'", true), "FALSE");
  EXPECT_EQ(Eval("'" + value + "' LIKE '" + std::string(10000, '%') + "'", true), "TRUE");
  const std::string mb(1 << 20, 'z');
  EXPECT_EQ(Eval("LENGTH('" + mb + "')", false), "i:1048576");
}

TEST(NRDExpressions, ConstantHelpersAndUnitRoutines) {
  using sql::SplitFieldList;
  EXPECT_EQ(SplitFieldList(" a ; b;;c;"), (std::vector<std::string>{"A", "B", "", "C"}));
  EXPECT_EQ(sql::MirrorCompareOperator(doGT), doLT);
  EXPECT_EQ(sql::MirrorCompareOperator(doLIKE), doUNDEFINED);
  EXPECT_EQ(sql::NegateCompareOperator(doLT), doGE);
  EXPECT_EQ(sql::OperatorText(doCOUNTALL), "COUNT(*)");
  EXPECT_EQ(sql::OperatorText(doROUND), "unknown");
  auto pattern = [](const char* t) {
    sql::TNRDExprNodeConst k;
    k.Value.SetAsAnsiString(t);
    return k.IsLikePatternEqualToPartialComparePattern();
  };
  EXPECT_TRUE(pattern("abc%"));
  EXPECT_FALSE(pattern("%"));
  EXPECT_FALSE(pattern("a%b%"));
  EXPECT_FALSE(pattern("ab"));
  TNRDVariant now, twelve, nullText(bftVarchar);
  now.SetAsAnsiString("NOW");
  twelve.SetAsAnsiString("12");
  EXPECT_TRUE(sql::IsExpressionDefaultValue(now));
  EXPECT_FALSE(sql::IsExpressionDefaultValue(twelve));
  EXPECT_FALSE(sql::IsExpressionDefaultValue(nullText));
  sql::TNRDExpression e;
  EXPECT_TRUE(e.ParseForDefaultValueExpression("NOW"));
  EXPECT_FALSE(e.ParseForDefaultValueExpression("1 2"));
  EXPECT_FALSE(e.ParseForDefaultValueExpression("a; b"));
  EXPECT_FALSE(e.ParseForDefaultValueExpression("'open"));
  EXPECT_EQ(Eval("'ab' || 'cde'", false), "s:abcde");
}

TEST(NRDExpressions, DataTypesAndSizes) {
  auto typeOf = [](const std::string& text, std::int32_t* size = nullptr) {
    TNRDLexer lex(text, nullptr, false);
    lex.GetNextCommand();
    sql::TNRDExpression e;
    e.ParseForValueExpression(&lex);
    if (size != nullptr) *size = e.GetDataSize();
    return e.GetDataType();
  };
  std::int32_t size = 0;
  EXPECT_EQ(typeOf("'ab' || 'cde'", &size), aftString);
  EXPECT_EQ(size, 5);
  EXPECT_EQ(typeOf("CAST(12345 AS CHAR)", &size), aftChar);
  EXPECT_EQ(size, 11);
  EXPECT_EQ(typeOf("ROUND(2.5)"), aftInteger);
  EXPECT_EQ(typeOf("ROUND(2.5, 1)"), aftDouble);
  EXPECT_EQ(typeOf("TOSTRING(NOW, 'YYYY-MM-DD')", &size), aftString);
  EXPECT_EQ(size, 10);
  EXPECT_EQ(typeOf("TODATE('1', 'HH24')"), aftTime);
  EXPECT_EQ(typeOf("EXTRACT(DAY FROM NOW)"), aftWord);
  EXPECT_EQ(typeOf("COUNT(*)"), aftInteger);
  EXPECT_EQ(typeOf("SUM(1)"), aftLargeint);
  EXPECT_EQ(typeOf("SUM(1.5)"), aftDouble);
  EXPECT_EQ(typeOf("AVG(1)"), aftDouble);
}

// Aggregates over the rows (1, NULL, 3), the empty group, and DISTINCT.
TEST(NRDExpressions, Aggregates) {
  struct Agg {
    const char* text;
    std::vector<const char*> rows;  // each row's argument as an expression text
    const char* expected;
  };
  const std::vector<const char*> k13 = {"1", "NULL", "3"};
  const Agg kAgg[] = {
      {"COUNT(x)", k13, "i:2"},
      {"COUNT(*)", k13, "i:3"},
      {"SUM(x)", k13, "l:4"},
      {"AVG(x)", k13, "d:2"},
      {"MIN(x)", k13, "i:1"},
      {"MAX(x)", k13, "i:3"},
      {"SUM(x)", {}, "NULL"},
      {"SUM(x)", {"NULL", "NULL"}, "NULL"},
      {"COUNT(x)", {}, "i:0"},
      {"COUNT(*)", {}, "i:0"},
      {"AVG(x)", {}, "NULL"},
      {"MIN(x)", {"'b'", "'A'", "'c'"}, "s:A"},
      {"MAX(x)", {"'b'", "'A'", "'c'"}, "s:c"},
      {"SUM(x)", {"'x'"}, "E30132"},
      {"AVG(x)", {"'x'"}, "E30133"},
      {"COUNT(DISTINCT x)", {"1", "1", "2", "NULL"}, "i:2"},
      {"SUM(DISTINCT x)", {"1", "1", "2"}, "l:3"},
      {"AVG(DISTINCT x)", {"1", "1", "4"}, "d:2.5"},
      {"SUM(x)", {"9223372036854775807", "1"}, "E30508"},
      {"SUM(x)", {"2147483646", "2147483646"}, "l:4294967292"},
  };
  for (const Agg& a : kAgg) {
    // The argument x is a constant node whose value each row replaces, as a bound field would.
    std::string text = a.text;
    const std::size_t at = text.find('x');
    std::string got;
    try {
      TNRDLexer lex(at == std::string::npos ? text : text.replace(at, 1, "0"), nullptr, false);
      lex.GetNextCommand();
      sql::TNRDExpression e;
      e.ParseForValueExpression(&lex);
      ASSERT_TRUE(e.IsAggregated());
      auto* agg = sql::NodeAs<sql::TNRDExprNodeAggregated>(e.Root());
      ASSERT_NE(agg, nullptr);
      e.Init();
      for (const char* row : a.rows) {
        if (!agg->Children.empty()) {
          auto* k = sql::NodeAs<sql::TNRDExprNodeConst>(agg->Child(0));
          ASSERT_NE(k, nullptr);
          const std::string v = Eval(row, false);
          TNRDLexer rl(row, nullptr, false);
          rl.GetNextCommand();
          sql::TNRDExpression re;
          re.ParseForValueExpression(&rl);
          k->Value.Assign(*re.GetValue(true), true);
        }
        e.Accumulate();
      }
      got = sqltest::Show(*e.GetValue(true));
      // A second read of the same group gives the same answer.
      EXPECT_EQ(sqltest::Show(*e.GetValue(true)), got) << a.text;
    } catch (const ENRDException& x) {
      got = "E" + std::to_string(x.NativeError);
    }
    EXPECT_EQ(got, a.expected) << a.text << " over " << a.rows.size() << " rows";
  }
}

}  // namespace

// Comparisons and BETWEEN of integers of every storage width order them by value, including the
// ends of each range and mixed signed and unsigned operands (a negative 8- or 16-bit value against
// an unsigned 16- or 32-bit one once compared as unsigned, so that -1 came out greater than 0).
TEST(NRDExpressions, IntegerComparisonsOfEveryWidthOrderByValue) {
  const TNRDBaseFieldType types[] = {bftSignedInt8,   bftSignedInt16,   bftSignedInt32, bftSignedInt64,
                                     bftUnsignedInt8, bftUnsignedInt16, bftUnsignedInt32};
  const std::int64_t values[] = {INT64_MIN, INT32_MIN, -129, -128, -1, 0, 1, 127, 128, 255, 65535, INT32_MAX,
                                 UINT32_MAX, INT64_MAX};
  auto constant = [](TNRDBaseFieldType t, std::int64_t v) {
    auto k = std::make_unique<sql::TNRDExprNodeConst>();
    k->Value.Clear(bftSignedInt64);
    k->Value.SetAsInt64(v);
    k->Value.Cast(t);
    return k;
  };
  auto fits = [](TNRDBaseFieldType t, std::int64_t v) {
    switch (t) {
      case bftSignedInt8: return v >= INT8_MIN && v <= INT8_MAX;
      case bftSignedInt16: return v >= INT16_MIN && v <= INT16_MAX;
      case bftSignedInt32: return v >= INT32_MIN && v <= INT32_MAX;
      case bftUnsignedInt8: return v >= 0 && v <= UINT8_MAX;
      case bftUnsignedInt16: return v >= 0 && v <= UINT16_MAX;
      case bftUnsignedInt32: return v >= 0 && v <= UINT32_MAX;
      default: return true;
    }
  };
  for (TNRDBaseFieldType ta : types)
    for (TNRDBaseFieldType tb : types)
      for (std::int64_t a : values)
        for (std::int64_t b : values) {
          if (!fits(ta, a) || !fits(tb, b)) continue;
          const TNRDCompareResult expected = a < b ? cmprLower : a > b ? cmprGreater : cmprEqual;
          for (TNRDDataOperator op : {doLT, doEQ, doGT}) {
            sql::TNRDExprNodeComparison c(op, sql::qUNDEFINED, constant(ta, a), constant(tb, b), true, false, false);
            const bool want = op == doLT ? expected == cmprLower : op == doEQ ? expected == cmprEqual : expected == cmprGreater;
            ASSERT_EQ(c.GetDataValue().AsBoolean(), want) << a << " (type " << int{ta} << ") vs " << b << " (type " << int{tb} << ")";
          }
          // a BETWEEN b AND b holds exactly when they are equal.
          sql::TNRDExprNodeBoolean between(doBETWEEN, false, false);
          between.AddChild(constant(ta, a));
          between.AddChild(constant(tb, b));
          between.AddChild(constant(tb, b));
          ASSERT_EQ(between.GetDataValue().AsBoolean(), expected == cmprEqual) << a << " between " << b;
        }
}

namespace {

// A value read as one lone literal (it is followed by a comma, as in INSERT ... VALUES) is the
// same constant, of the same type, as the full grammar reads where it cannot take the short way
// (followed by AS).
TEST(NRDExpressions, ALoneLiteralReadsAsTheFullGrammarReadsIt) {
  TNRDSQLParams params;
  params.AddCreated()->Name = "i";
  params.GetParamByName("i")->SetAsInteger(7);
  TNRDSQLParam* big = params.AddCreated();
  big->Name = "big";
  big->SetAsInt64(5000000000LL);
  TNRDSQLParam* d = params.AddCreated();
  d->Name = "d";
  d->SetAsDouble(2.25);
  TNRDSQLParam* s = params.AddCreated();
  s->Name = "s";
  s->SetAsAnsiString("txt");
  auto read = [&](const std::string& text) {
    TNRDLexer lex(text, &params, false);
    lex.GetNextCommand();
    sql::TNRDExpression e;
    e.ParseForValueExpression(&lex);
    TNRDVariant* v = e.GetValue(true);
    if (v == nullptr) return std::string("null pointer");
    return std::to_string(static_cast<int>(v->DataType())) + ":" + (v->IsNull() ? "NULL" : v->AsAnsiString()) + ":" +
           std::to_string(static_cast<int>(e.GetDataType()));
  };
  for (const std::string literal :
       {"5", "0", "2147483646", "2147483647", "-2147483647", "9223372036854775807", "1.5", "1e3", "2.50", "'abc'", "''",
        "'2020-01-02'", ":i", ":big", ":d", ":s"}) {
    const std::string full = read(literal + " AS x");
    EXPECT_EQ(read(literal + " , 1"), full) << literal;
    EXPECT_EQ(read(literal), full) << literal;
  }
}

}  // namespace
