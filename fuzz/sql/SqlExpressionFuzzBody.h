// One fuzz input for the SQL lexer and expression grammar: the bytes are an SQL text, scanned and
// parsed as a condition and as a value expression (with and without parameters bound), and every
// tree that parses is evaluated once. Each input must end in a value or an ENRDException, never
// in a crash, an out-of-bounds access, a stack overflow or a hang.
// Shared by the libFuzzer target and the test that replays the kept corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/foundation/NRDExcept.h"
#include "engine/sql/NRDExpressions.h"
#include "engine/sql/NRDLexer.h"

inline void SqlExpressionFuzzOne(const std::uint8_t* data, std::size_t size) {
  using namespace nrd;
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (int mode = 0; mode < 3; ++mode) {
    try {
      TNRDSQLParams params;
      TNRDSQLParam* p = params.AddCreated();
      p->Name = "P";
      p->SetAsInteger(3);
      TNRDLexer lex(text, mode == 2 ? &params : nullptr, mode == 1);
      while (lex.GetNextCommand()) {
        const std::int32_t start = lex.GetCurrentTokenNo();
        for (int boolean = 0; boolean < 2; ++boolean) {
          lex.SetCurrentTokenNo(start);
          try {
            sql::TNRDExpression e;
            if (boolean) e.ParseForBooleanExpression(&lex);
            else e.ParseForValueExpression(&lex);
            if (e.Root() != nullptr && !e.IsAggregated()) {
              (void)e.GetValue(true);
              (void)e.GetDataType();
              (void)e.GetDataSize();
            }
          } catch (const ENRDException&) {
          }
        }
      }
    } catch (const ENRDException&) {
    }
  }
}
