// The scan keeps one open token and one open command; every character is looked at once (quoted
// texts and comments are consumed by inner loops that also move forward only).
#include "engine/sql/NRDLexer.h"

#include <cctype>

#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"

namespace nrd {

void TNRDSQLParams::SetItem(std::int32_t index, std::unique_ptr<TNRDSQLParam> param) {
  FParamList.at(static_cast<std::size_t>(index)) = std::move(param);
}

TNRDSQLParam* TNRDSQLParams::AddCreated() {
  FParamList.push_back(std::make_unique<TNRDSQLParam>());
  return FParamList.back().get();
}

TNRDSQLParam* TNRDSQLParams::GetParamByName(std::string_view name) const {
  // Byte by byte through the code page's upper case, as AnsiUpperCase maps a text.
  auto same = [name](const std::string& other) {
    if (other.size() != name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
      if (AnsiUpperChar(other[i]) != AnsiUpperChar(name[i])) return false;
    return true;
  };
  for (const auto& p : FParamList)
    if (same(p->Name)) return p.get();
  return nullptr;
}

void TNRDSQLParams::Truncate(std::int32_t count) {
  if (count >= 0 && static_cast<std::size_t>(count) < FParamList.size()) FParamList.resize(static_cast<std::size_t>(count));
}

bool IsReservedWordToken(const TToken& token, TReservedWord word) {
  return token.TokenType == tktReservedWord && (token.ReservedWord == word || word == rwNone);
}

namespace {

bool IsSeparator(char c) { return c == '\t' || c == '\r' || c == '\n' || c == ' '; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class Scanner {
 public:
  Scanner(const std::string& sql, const TNRDSQLParams* params, bool noParams, std::vector<TSQLCommand>& commands)
      : s_(sql), params_(params), noParams_(noParams), commands_(commands) {}

  void Run() {
    const std::size_t n = s_.size();
    std::size_t i = 0;
    while (i < n) {
      const char c = s_[i];
      if (c == ';') {
        EndCommand();
        ++col_;
        ++i;
        continue;
      }
      if (c == '-' && i + 1 < n && s_[i + 1] == '-') {
        ++line_;
        col_ = 1;
        while (i < n && s_[i] != '\n') ++i;
        if (i < n) ++i;
        continue;
      }
      if (c == '/' && i + 1 < n && s_[i + 1] == '*') {
        i += 2;
        col_ += 2;
        while (i < n && !(s_[i] == '*' && i + 1 < n && s_[i + 1] == '/')) Count(s_[i++]);
        if (i < n) {
          i += 2;
          col_ += 2;
        }
        continue;
      }
      const bool sep = IsSeparator(c);
      bool beginsNew = false;
      if (!tokOpen_) {
        beginsNew = !sep;
      } else if (!sep) {
        const TTokenType k = Tok().TokenType;
        if (std::string_view("><=(),/*:?|").find(c) != std::string_view::npos) beginsNew = true;
        else if (c == '.' && k != tktInt) beginsNew = true;
        else if (k == tktDot && !IsDigit(c)) beginsNew = true;
        else if (k == tktString && (c == '+' || c == '-')) beginsNew = true;
        else if (k == tktInt && (c == '+' || c == '-') && prev_ != 'E' && prev_ != 'e') beginsNew = true;
      }
      if (tokOpen_ && (sep || beginsNew)) FinishToken();
      if (beginsNew) {
        i = StartToken(i);
        continue;
      }
      if (tokOpen_ && !sep) {
        TToken& t = Tok();
        if ((t.TokenType == tktInt || t.TokenType == tktFloat) && !IsDigit(c) && c != '.' && c != 'E' && c != 'e' &&
            c != '+' && c != '-')
          throw ENRDException(30062, "Invalid numeric symbol '%s' at line %d, column %d",
                              {std::string(1, c), line_, col_});
        if (t.TokenType == tktDot && IsDigit(c)) t.TokenType = tktInt;
        t.Text.push_back(c);
      }
      Count(c);
      prev_ = c;
      ++i;
    }
    EndCommand();
  }

 private:
  TToken& Tok() { return commands_.back().Tokens.back(); }

  void Count(char c) {
    if (c == '\n') {
      ++line_;
      col_ = 1;
    } else if (c != '\r') {
      ++col_;
    }
  }

  // Starts a token at s_[i]; returns the index of the next character to look at.
  std::size_t StartToken(std::size_t i) {
    const std::size_t n = s_.size();
    if (!cmdOpen_) {
      commands_.emplace_back();
      cmdOpen_ = true;
      depth_ = 0;
    }
    char c = s_[i];
    TToken t;
    t.Text.assign(1, c);
    t.LineNum = line_;
    t.ColumnNum = col_;
    commands_.back().Tokens.push_back(std::move(t));
    tokOpen_ = true;
    TToken& tok = Tok();
    const bool colonQuote = c == ':' && i + 1 < n && (s_[i + 1] == '\'' || s_[i + 1] == '"' || s_[i + 1] == '[');
    if (c == '\'' || c == '"' || c == '`' || c == '[' || colonQuote) {
      const bool backQuote = c == '`';
      const bool bracketOrBack = c == '[' || c == '`' || (colonQuote && s_[i + 1] == '[');
      if (colonQuote) {
        tok.TokenType = tktString;
        ++col_;
        ++i;
        c = s_[i];
      } else {
        tok.TokenType = c == '[' ? tktBracketedString : c == '`' ? tktString : tktQuotedString;
        tok.Text.clear();
      }
      const char close = c == '[' ? ']' : c;
      quoteLine_ = line_;
      quoteCol_ = col_;
      quoteOpen_ = true;
      ++col_;
      ++i;
      while (i < n) {
        char ch = s_[i];
        if (backQuote && ch == '\\' && i + 1 < n) {
          ++col_;
          ++i;
          ch = s_[i];
        }
        if (ch == close) {
          if (i + 1 < n && s_[i + 1] == close) {
            tok.Text.push_back(close);
            col_ += 2;
            i += 2;
            continue;
          }
          ++col_;
          ++i;
          quoteOpen_ = false;
          break;
        }
        tok.Text.push_back(ch);
        Count(ch);
        ++i;
      }
      FinishToken();
      if (bracketOrBack) commands_.back().Tokens.back().ReservedWord = rwNone;
      prev_ = close;
      return i;
    }
    bool finish = false;
    switch (c) {
      case '(':
        tok.TokenType = tktLeftParenthesis;
        ++depth_;
        lParenLine_ = line_;
        lParenCol_ = col_;
        finish = true;
        break;
      case ')':
        --depth_;
        rParenLine_ = line_;
        rParenCol_ = col_;
        tok.TokenType = tktRightParenthesis;
        finish = true;
        break;
      case '.': tok.TokenType = tktDot; break;
      case ',':
        tok.TokenType = tktComma;
        finish = true;
        break;
      default: tok.TokenType = IsDigit(c) ? tktInt : tktString; break;
    }
    Count(c);
    prev_ = c;
    ++i;
    if (c == '-' || c == '+' || c == '*' || c == '/' || c == '=') {
      finish = true;
    } else if (c == '|' || c == '<' || c == '>') {
      const bool takes = i < n && ((c == '|' && s_[i] == '|') || (c == '<' && (s_[i] == '=' || s_[i] == '>')) ||
                                   (c == '>' && s_[i] == '='));
      if (takes) {
        tok.Text.push_back(s_[i]);
        Count(s_[i]);
        prev_ = s_[i];
        ++i;
      }
      finish = true;
    }
    if (finish) FinishToken();
    return i;
  }

  void FinishToken() {
    if (!tokOpen_) return;
    tokOpen_ = false;
    TToken& t = Tok();
    if (t.TokenType == tktInt && t.Text.find_first_of(".eE") != std::string::npos) t.TokenType = tktFloat;
    if (t.TokenType == tktString && !t.Text.empty() && (t.Text[0] == ':' || t.Text[0] == '?') && !noParams_) {
      t.TokenType = tktParameter;
      const TNRDSQLParam* p = nullptr;
      if (t.Text[0] == ':') {
        t.Text.erase(0, 1);
        if (params_ != nullptr) p = params_->GetParamByName(t.Text);
      } else if (params_ != nullptr) {
        if (positional_ < params_->Count()) p = params_->Items(positional_);
        t.ParamNo = positional_;
        ++positional_;
        t.Text = "Param" + std::to_string(positional_);
      }
      if (p == nullptr) throw ENRDException(30358, "Value for parameter '%s' not found", {t.Text});
      auto v = std::make_shared<TNRDVariant>();
      v->Assign(*p, true);
      t.ParamValue = std::move(v);
      return;
    }
    if (t.TokenType == tktString) {
      const int word = FindReservedWord(t.Text);
      if (word > 0) {
        t.TokenType = tktReservedWord;
        t.ReservedWord = static_cast<TReservedWord>(word);
      }
    }
  }

  void EndCommand() {
    FinishToken();
    const bool wasOpen = cmdOpen_;
    cmdOpen_ = false;
    if (wasOpen && depth_ > 0)
      throw ENRDException(30059, "Missing symbol ')' at line %d, column %d", {lParenLine_, lParenCol_});
    if (wasOpen && depth_ < 0)
      throw ENRDException(30060, "Unexpected symbol ')' found at line %d, column %d", {rParenLine_, rParenCol_});
    prev_ = ' ';
    if (quoteOpen_) throw ENRDException(30061, "Unterminated string at line %d, column %d", {quoteLine_, quoteCol_});
  }

  const std::string& s_;
  const TNRDSQLParams* params_;
  bool noParams_;
  std::vector<TSQLCommand>& commands_;
  std::int32_t line_ = 1, col_ = 1;
  bool cmdOpen_ = false, tokOpen_ = false, quoteOpen_ = false;
  std::int32_t depth_ = 0;
  char prev_ = ' ';
  std::int32_t positional_ = 0;
  std::int32_t lParenLine_ = 0, lParenCol_ = 0, rParenLine_ = 0, rParenCol_ = 0, quoteLine_ = 0, quoteCol_ = 0;
};

const char* const kTokenTypeNames[] = {"tktNone",      "tktString", "tktQuotedString",     "tktBracketedString",
                                       "tktInt",       "tktFloat",  "tktReservedWord",     "tktParameter",
                                       "tktLeftParenthesis", "tktRightParenthesis", "tktComma", "tktDot"};

}  // namespace

TNRDLexer::TNRDLexer(std::string_view sqlScript, const TNRDSQLParams* sqlParams, bool noParams)
    : FSQL(sqlScript), FSQLParams(sqlParams), FNoParams(noParams) {
  ScanScript();
  FSQLParams = nullptr;  // borrowed for the scan only
  FCurrentCommandNo = -1;
  for (auto& c : Commands) c.CurrentTokenNo = 0;
}

void TNRDLexer::ScanScript() { Scanner(FSQL, FSQLParams, FNoParams, Commands).Run(); }

TSQLCommand* TNRDLexer::Current() {
  if (FCurrentCommandNo < 0 || FCurrentCommandNo >= NumCommands()) return nullptr;
  return &Commands[static_cast<std::size_t>(FCurrentCommandNo)];
}
const TSQLCommand* TNRDLexer::Current() const {
  if (FCurrentCommandNo < 0 || FCurrentCommandNo >= NumCommands()) return nullptr;
  return &Commands[static_cast<std::size_t>(FCurrentCommandNo)];
}

bool TNRDLexer::GetNextCommand() {
  if (FCurrentCommandNo < NumCommands()) ++FCurrentCommandNo;
  return FCurrentCommandNo < NumCommands();
}

bool TNRDLexer::GetCurrentToken(TToken& token) const {
  const TSQLCommand* c = Current();
  if (c != nullptr && c->CurrentTokenNo >= 0 && c->CurrentTokenNo < c->NumTokens()) {
    token = c->Tokens[static_cast<std::size_t>(c->CurrentTokenNo)];
    return true;
  }
  token.TokenType = tktNone;
  return false;
}

TTokenType TNRDLexer::NextTokenType() const {
  const TSQLCommand* c = Current();
  if (c != nullptr && c->CurrentTokenNo + 1 >= 0 && c->CurrentTokenNo + 1 < c->NumTokens())
    return c->Tokens[static_cast<std::size_t>(c->CurrentTokenNo + 1)].TokenType;
  return tktNone;
}

bool TNRDLexer::LookNextToken(TToken& token) const {
  const TSQLCommand* c = Current();
  if (c != nullptr && c->CurrentTokenNo + 1 >= 0 && c->CurrentTokenNo + 1 < c->NumTokens()) {
    token = c->Tokens[static_cast<std::size_t>(c->CurrentTokenNo + 1)];
    return true;
  }
  token.TokenType = tktNone;
  token.Text.clear();
  token.ParamValue.reset();
  token.ReservedWord = rwNone;
  return false;
}

bool TNRDLexer::GetNextToken(TToken& token) {
  const bool found = LookNextToken(token);
  if (TSQLCommand* c = Current(); c != nullptr && c->CurrentTokenNo < c->NumTokens()) ++c->CurrentTokenNo;
  return found;
}

std::int32_t TNRDLexer::GetCurrentTokenNo() const {
  const TSQLCommand* c = Current();
  return c == nullptr ? 0 : c->CurrentTokenNo;
}

bool TNRDLexer::SetCurrentTokenNo(std::int32_t tokenNo, TToken& token) {
  if (TSQLCommand* c = Current()) c->CurrentTokenNo = tokenNo;
  return GetCurrentToken(token);
}

bool TNRDLexer::SetCurrentTokenNo(std::int32_t tokenNo) {
  TSQLCommand* c = Current();
  if (c == nullptr) return false;
  c->CurrentTokenNo = tokenNo;
  return tokenNo < c->NumTokens();
}

bool TNRDLexer::GetNextSpecifiedToken(TToken& token, std::initializer_list<TTokenType> tokenTypes) {
  while (GetNextToken(token)) {
    for (TTokenType t : tokenTypes)
      if (token.TokenType == t) return true;
  }
  return false;
}

void TNRDLexer::AddCommand() {
  Commands.emplace_back();
  FCurrentCommandNo = NumCommands() - 1;
}

void TNRDLexer::AddToken(const TToken& token) {
  if (Current() == nullptr) AddCommand();
  TSQLCommand* c = Current();
  c->Tokens.push_back(token);
  c->CurrentTokenNo = c->NumTokens() - 1;
}

std::string TNRDLexer::Test(bool /*generate*/, bool showDetails) const {
  const std::string crlf = "\r\n";
  std::string r = "Number of commands: " + std::to_string(NumCommands());
  for (std::size_t ci = 0; ci < Commands.size(); ++ci) {
    r += "\n";
    r += "Command #" + std::to_string(ci + 1) + ":\n";
    for (const TToken& t : Commands[ci].Tokens) {
      r += t.Text + "\n";
      if (showDetails) {
        r += std::string("Type = ") + kTokenTypeNames[t.TokenType] + crlf;
        r += t.ReservedWord == rwNone ? std::string("ReservedWord = None")
                                      : "ReservedWord = " + std::string(ReservedWordText(t.ReservedWord));
        r += crlf;
        r += "Line = " + std::to_string(t.LineNum) + crlf;
        r += "Column = " + std::to_string(t.ColumnNum) + crlf;
        r += crlf;
      }
    }
  }
  return r;
}

}  // namespace nrd
