// The SQL lexer: cuts a script into commands (separated by ';') and each command into tokens,
// with the line and column of every token, and binds the values of parameters (":name" by name,
// "?" by position over the whole script) into the tokens as it scans, so the parsers above never
// see a parameter without its value. The parsers walk a command's tokens through the navigation
// operations and backtrack by saving and restoring the token number.
//
// Texts are single-byte (Windows-1251) strings. The scan is one pass over the script: its time and
// memory are linear in the script's length whatever the script holds.
// Throws ENRDException from the constructor: 30059 unclosed '(', 30060 surplus ')', 30061
// unterminated quoted text, 30062 a bad character in a number, 30358 a parameter without value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/foundation/NRDVariant.h"
#include "engine/sql/NRDConst.h"

namespace nrd {

enum TTokenType : std::uint8_t {
  tktNone,
  tktString,
  tktQuotedString,
  tktBracketedString,
  tktInt,
  tktFloat,
  tktReservedWord,
  tktParameter,
  tktLeftParenthesis,
  tktRightParenthesis,
  tktComma,
  tktDot
};

// A token is copied by value; the parameter value is shared with the lexer that bound it.
struct TToken {
  TTokenType TokenType = tktNone;
  TReservedWord ReservedWord = rwNone;
  std::string Text;
  std::shared_ptr<TNRDVariant> ParamValue;
  // A '?' parameter: its position in the parameter list; -1 for a named one (found by Text).
  std::int32_t ParamNo = -1;
  std::int32_t LineNum = 0;
  std::int32_t ColumnNum = 0;
};

struct TSQLCommand {
  std::vector<TToken> Tokens;
  std::int32_t NumTokens() const { return static_cast<std::int32_t>(Tokens.size()); }
  std::int32_t CurrentTokenNo = 0;
};

class TNRDSQLParam : public TNRDVariant {
 public:
  std::string Name;
};

class TNRDSQLParams {
 public:
  std::int32_t Count() const { return static_cast<std::int32_t>(FParamList.size()); }
  // REQUIRES: 0 <= index < Count().
  TNRDSQLParam* Items(std::int32_t index) const { return FParamList.at(static_cast<std::size_t>(index)).get(); }
  void SetItem(std::int32_t index, std::unique_ptr<TNRDSQLParam> param);
  // A new NULL parameter of type bftUnknown, appended; the caller fills name and value.
  TNRDSQLParam* AddCreated();
  void Clear() { FParamList.clear(); }
  // Keeps the first `count` parameters.
  void Truncate(std::int32_t count);
  // The first parameter whose name equals `name` ignoring case, or null.
  TNRDSQLParam* GetParamByName(std::string_view name) const;

 private:
  std::vector<std::unique_ptr<TNRDSQLParam>> FParamList;
};

class TNRDLexer {
 public:
  // Scans the script; sqlParams is borrowed for the scan only (may be null). With noParams, words
  // beginning with ':' or '?' stay plain words.
  TNRDLexer(std::string_view sqlScript, const TNRDSQLParams* sqlParams, bool noParams);

  std::int32_t NumCommands() const { return static_cast<std::int32_t>(Commands.size()); }
  std::int32_t CurrentCommandNo() const { return FCurrentCommandNo; }
  void SetCurrentCommandNo(std::int32_t no) { FCurrentCommandNo = no; }
  bool GetNextCommand();
  bool GetCurrentToken(TToken& token) const;
  bool LookNextToken(TToken& token) const;
  // The type of the token after the current one, tktNone at the end of the command.
  TTokenType NextTokenType() const;
  bool GetNextToken(TToken& token);
  std::int32_t GetCurrentTokenNo() const;
  bool SetCurrentTokenNo(std::int32_t tokenNo, TToken& token);
  bool SetCurrentTokenNo(std::int32_t tokenNo);
  bool GetNextSpecifiedToken(TToken& token, std::initializer_list<TTokenType> tokenTypes);
  void AddCommand();
  void AddToken(const TToken& token);
  // A listing of the commands and tokens for diagnostics.
  std::string Test(bool generate, bool showDetails) const;

  std::vector<TSQLCommand> Commands;

 private:
  void ScanScript();
  TSQLCommand* Current();
  const TSQLCommand* Current() const;

  std::string FSQL;
  const TNRDSQLParams* FSQLParams;
  bool FNoParams;
  std::int32_t FCurrentCommandNo = -1;
};

// True when the token is a reserved word and either it is `word` or `word` is rwNone.
bool IsReservedWordToken(const TToken& token, TReservedWord word);

}  // namespace nrd
