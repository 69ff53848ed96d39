// The short way of a filter through a record buffer: the expression's conjuncts of the commonest
// forms, read straight from the record's bytes instead of through the node values.
//
// A filter is compiled when its tree is a comparison, or an AND of comparisons, each between a
// column of the cursor's table and a constant:
// - an integer column (any width) with an integer constant, any of = <> < > <= >=;
// - an 8-bit text column with an 8-bit text constant, = or <> (whole or prefix, as LIKE 'abc%'
//   becomes), both of the same storage type.
// Any other tree gives no program, and the expression is evaluated as before.
//
// A program answers True or False only where the answer is certainly the one the nodes give; for
// everything else it answers Undecided and the caller evaluates the tree: a NULL column; texts
// whose bytes differ and that hold a character outside the plain letters, digits and space (the
// collation may find two different texts equal only through such characters: ignorable controls,
// the soft hyphen and the like); a default locale other than the one the program was made under.
// The conjuncts are decided in the tree's order, so a record the tree would reject at its first
// false conjunct is rejected by the same conjunct.
//
// A program holds raw pointers to the nodes it was made from and knows the tree's shape; the
// expression drops it whenever the tree or its binding changes, and Matches checks the shape.
// Not thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/foundation/NRDTypes.h"

namespace nrd::sql {

class TNRDExprNode;

enum class TNRDFastResult : std::uint8_t { False, True, Undecided };

class TNRDFastFilter {
 public:
  // The program for the tree under `root`, or null when some part of it has another form.
  static std::unique_ptr<TNRDFastFilter> Compile(TNRDExprNode* root);

  // True while the tree under `root` has the shape the program was made from.
  bool Matches(const TNRDExprNode* root) const;
  // The filter's answer for a record buffer of the table (REQUIRES: buffer not null).
  TNRDFastResult Evaluate(const void* recordBuffer) const;

 private:
  enum class TKind : std::uint8_t { Integer, Text };
  struct TTest {
    TKind Kind = TKind::Integer;
    TNRDDataOperator Operator = doEQ;
    bool ColumnLeft = true;  // the column is the left operand
    std::int32_t FieldNo = -1;
    std::int32_t Offset = 0;
    std::int32_t Size = 0;  // the column's bytes in the buffer
    TNRDBaseFieldType Type = bftUnknown;
    std::int64_t Number = 0;                   // Integer: the constant
    std::string Text;                          // Text: the constant's compared bytes
    std::int32_t PartialLength = -1;           // Text: -1 for a whole comparison
    bool TextPlain = false;                    // Text: the constant holds plain characters only
  };
  TNRDFastResult Decide(const TTest& test, const std::uint8_t* record) const;
  TNRDFastResult DecideText(const TTest& test, const std::uint8_t* record) const;

  const TNRDExprNode* FRoot = nullptr;
  std::vector<const TNRDExprNode*> FConjuncts;  // the root's children, or the root alone
  std::vector<TTest> FTests;
  // Text tests: whether a code page byte is a plain character, and its comparison key (the
  // character, upper-cased for a case-insensitive comparison).
  std::array<bool, 256> FPlain{};
  std::array<char16_t, 256> FKey{};
  bool FCaseInsensitive = false;
  int FLocale = 0;
};

}  // namespace nrd::sql
