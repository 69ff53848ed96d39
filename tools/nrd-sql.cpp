// nrd-sql: runs SQL statements against a database file of the engine (or the in-memory database
// "MEMORY") without writing code.
//
//   nrd-sql FILE [--create] [--password TEXT] [STATEMENT ...]
//
// Each STATEMENT argument is run, or, when none is given, the ';'-separated script on standard
// input. A SELECT prints a header line of column names and one line per row, values separated by
// tabs, NULL as an empty field, dates in ISO form, floats in the shortest form that reads back,
// with "."; any other statement prints "rows <RowsAffected>". Texts are UTF-8 on the command line
// and on the terminal, Windows-1251 inside the engine.
// An error prints the engine's code and message on standard error and exits with 1; a script stops
// at its first error, and earlier statements stay as their transactions left them. --create makes
// the file when it does not exist yet (an existing file is opened, never replaced). Exit code 2
// is a usage error.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDQuery.h"
#include "engine/components/NRDSession.h"
#include "engine/foundation/NRDExcept.h"
#include "engine/foundation/NRDText.h"
#include "engine/sql/NRDExpressions.h"
#include "engine/sql/NRDLexer.h"

namespace {

using namespace nrd;

// ----- UTF-8 on the outside ----------------------------------------------------------------------------------

std::u16string Utf8ToWide(std::string_view s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    char32_t cp = 0xFFFD;
    std::size_t n = 1;
    if (c < 0x80) cp = c;
    else if ((c >> 5) == 0x6) cp = c & 0x1F, n = 2;
    else if ((c >> 4) == 0xE) cp = c & 0x0F, n = 3;
    else if ((c >> 3) == 0x1E) cp = c & 0x07, n = 4;
    if (n > 1) {
      if (i + n > s.size()) {
        cp = 0xFFFD;
        n = 1;
      } else {
        for (std::size_t k = 1; k < n; ++k) {
          const auto cc = static_cast<unsigned char>(s[i + k]);
          if ((cc >> 6) != 0x2) {
            cp = 0xFFFD;
            n = 1;
            break;
          }
          cp = (cp << 6) | (cc & 0x3F);
        }
      }
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string WideToUtf8(std::u16string_view w) {
  std::string out;
  for (std::size_t i = 0; i < w.size(); ++i) {
    char32_t cp = w[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (w[++i] - 0xDC00);
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::string ToEngine(std::string_view utf8) { return WideToAnsi(Utf8ToWide(utf8)); }
std::string FromEngine(std::string_view ansi) { return WideToUtf8(AnsiToWide(ansi)); }

// ----- values ------------------------------------------------------------------------------------------------

std::string FieldText(const TField& f) {
  if (f.IsNull()) return "";
  switch (f.DataType()) {
    case ftDate: return DateToISO(f.AsDateTime());
    case ftTime: return TimeToISO(f.AsDateTime());
    case ftDateTime:
    case ftTimeStamp: return DateTimeToISO(f.AsDateTime());
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd:
    case ftExtended:
    case ftSingle: return FloatToShortestText(f.AsFloat());
    case ftWideString:
    case ftFixedWideChar:
    case ftWideMemo: return WideToUtf8(f.AsWideString());
    case ftBlob:
    case ftGraphic:
    case ftBytes:
    case ftVarBytes: return f.AsBytes();
    default: return FromEngine(ValueToText(f.AsVariant()));
  }
}

// ----- the script --------------------------------------------------------------------------------------------

// The commands of a script as texts of their own (each from its first token up to the next
// command's first token), and whether each is a SELECT.
struct Command {
  std::string text;
  bool select = false;
};

std::vector<Command> SplitScript(const std::string& script) {
  TNRDLexer lex(script, nullptr, true);
  std::vector<std::size_t> lineStart{0};
  for (std::size_t i = 0; i < script.size(); ++i)
    if (script[i] == '\n') lineStart.push_back(i + 1);
  auto offsetOf = [&](const TToken& t) {
    const std::size_t line = static_cast<std::size_t>(t.LineNum > 0 ? t.LineNum - 1 : 0);
    std::size_t at = line < lineStart.size() ? lineStart[line] : script.size();
    // Columns count characters other than '\r'.
    for (std::int32_t col = 1; col < t.ColumnNum && at < script.size(); ++at)
      if (script[at] != '\r') ++col;
    while (at < script.size() && script[at] == '\r') ++at;
    return at;
  };
  std::vector<std::size_t> starts;
  std::vector<bool> selects;
  for (const TSQLCommand& c : lex.Commands) {
    if (c.Tokens.empty()) continue;
    const TToken& first = c.Tokens.front();
    starts.push_back(offsetOf(first));
    selects.push_back(IsReservedWordToken(first, rwSELECT) || first.TokenType == tktLeftParenthesis);
  }
  std::vector<Command> out;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : script.size();
    out.push_back({script.substr(starts[i], end - starts[i]), selects[i]});
  }
  return out;
}

void RunCommand(TNRDQuery& query, const Command& c) {
  query.SetSQL(c.text);
  if (!c.select) {
    query.ExecSQL();
    std::cout << "rows " << query.RowsAffected() << '\n';
    return;
  }
  query.Open();
  std::string line;
  for (std::int32_t i = 0; i < query.FieldCount(); ++i) {
    if (i > 0) line += '\t';
    line += FromEngine(query.Fields(i).FieldName());
  }
  std::cout << line << '\n';
  for (query.First(); !query.Eof(); query.Next()) {
    line.clear();
    for (std::int32_t i = 0; i < query.FieldCount(); ++i) {
      if (i > 0) line += '\t';
      line += FieldText(query.Fields(i));
    }
    std::cout << line << '\n';
  }
  query.Close();
}

int Usage() {
  std::cerr << "usage: nrd-sql FILE [--create] [--password TEXT] [STATEMENT ...]\n"
               "  FILE is a database file, or MEMORY for the in-memory database;\n"
               "  without STATEMENT arguments the ';'-separated script is read from standard input.\n";
  return 2;
}

int Run(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string file = argv[1];
  bool create = false;
  std::string password;
  std::vector<std::string> statements;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--create") create = true;
    else if (a == "--password") {
      if (++i >= argc) return Usage();
      password = ToEngine(argv[i]);
    } else if (a == "--help" || a == "-h") {
      Usage();
      return 0;
    } else {
      statements.push_back(a);
    }
  }
  if (file.empty()) return Usage();

  EngineStartup();
  sql::InstallExpressionHooks();
  TNRDDatabase db(nullptr);
  TNRDQuery query(nullptr);
  query.SetParamCheck(false);
  if (IsMemoryDatabaseName(file)) {
    query.SetDatabaseName("MEMORY");
  } else {
    db.SetDatabaseName("nrd_sql");
    db.SetDatabaseFileName(file);
    db.SetPassword(password);
    db.SetSilentMode(true);
    db.SetNoRequestAutoRepair(true);
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
      if (!create) throw ENRDException(20002, "Database file '%s' does not exist", {file});
      db.CreateDatabase();
    }
    // Held open for the whole run, so a transaction spans the statements that follow it.
    db.Open();
    query.SetDatabaseName("nrd_sql");
  }

  std::vector<Command> commands;
  if (statements.empty()) {
    const std::string script{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    commands = SplitScript(ToEngine(script));
  } else {
    for (const std::string& s : statements)
      for (Command& c : SplitScript(ToEngine(s))) commands.push_back(std::move(c));
  }
  for (const Command& c : commands) {
    RunCommand(query, c);
    std::cout.flush();
  }
  query.Close();
  if (db.Connected()) db.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int rc = 1;
  try {
    rc = Run(argc, argv);
  } catch (const nrd::ENRDException& e) {
    std::cout.flush();
    std::cerr << "error " << e.NativeError << ": " << FromEngine(e.what()) << '\n';
  } catch (const nrd::ENRDEngineError& e) {
    std::cout.flush();
    std::cerr << "error " << e.FErrorCode << ": " << FromEngine(e.what()) << '\n';
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "error: " << FromEngine(e.what()) << '\n';
  }
  try {
    nrd::EngineShutdown();
  } catch (...) {
  }
  return rc;
}
