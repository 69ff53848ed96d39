// The group edit tools: four tools that change many persons of the open family-tree file at once (the
// technical field, name replacement, surname case, transliteration), each as a dry run that only writes
// the protocol of what would change, or as a write run that changes the file. The page of the main window
// and tools/trevolan-edit read their controls into TToolOptions and call RunGroupEdit; the protocol comes
// back as lines, the same for both runs.
//
// What a write run guarantees (this is the only place where the program writes a user's family tree):
//   - GEDCOM: the whole new file is written to a temporary file in the same folder, synced, and renamed
//     over the original, after the original was copied to the first free backup "<name>.ged.~N" (N 1 to
//     500). With all 500 backup names taken the protocol says so and the question callback decides; no
//     answer (a null callback) means no write. A failure at any point leaves the original as it was.
//   - ".at5": every change runs inside one SQLite transaction; any exception rolls it back before it
//     leaves RunGroupEdit.
//   - ".at4": the file is opened writable through the engine and every change runs inside one engine
//     transaction (its journal makes a killed writer's changes go back); any exception rolls it back
//     before it leaves RunGroupEdit.
//   - A dry run opens nothing for writing and leaves every file byte-identical.
// Errors: EGroupEdit (a message for the user) for a file that cannot be read or written or a tool that
// cannot run; platform::ESqliteError from the database. The model's TECH marks are the only model change
// (the caller reloads the file after a write run that changed something: TToolResult::reload).
// Single thread.
#pragma once

#include "app/core/Model.h"
#include "platform/qt/IniFile.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <vector>

// A tool that could not run or write, with the text the user is shown.
class EGroupEdit : public std::runtime_error {
 public:
  explicit EGroupEdit(const QString& message) : std::runtime_error(message.toStdString()), text_(message) {}
  const QString& Text() const { return text_; }

 private:
  QString text_;
};

// The tools in the order of the tool list ComboBox4 and the pages of PageControl3.
enum TGroupTool : int { gtTechField = 0, gtNames = 1, gtSurnameCase = 2, gtTranslit = 3 };

// The page's controls, by component name.
struct TToolOptions {
  int ComboBox4 = gtTechField;  // the tool
  // Technical field.
  int ComboBox5 = 0;                    // 0 NPFX, 1 NSFX, 2 phone, 3 e-mail, 4 WWW, 5 fax
  QString Edit24 = QStringLiteral("*");  // the value
  int RadioGroup14 = 0;                 // which persons (0..8)
  bool CheckBox55 = false;              // with spouses
  bool CheckBox56 = false;              // with brothers and sisters
  // Name replacement: page 0 first name (Edit13 old, Edit14 new), 1 patronymic (Edit15, Edit16),
  // 2 surname (Edit9, Edit10). Old values are "~"-separated.
  int PageControl4 = 0;
  QString Edit13, Edit14, Edit15, Edit16, Edit9, Edit10;
  bool N4 = true;         // whole word only
  bool N5 = true;         // match case
  int LastNameChange = 2;  // which surnames: 0 N7 main only, 1 N8 birth only, 2 N9 both
  // Surname case.
  int RadioGroup8 = 2;  // 0 current person, 1 current person and ancestors, 2 everybody
  int ComboBox11 = 0;   // 0 upper case, 1 capitalised words
  // Transliteration.
  int ComboBox10 = 0;          // variant 0 "ISO9", 1 "ГОСТ", 2 "Другой"
  bool TransNames = false;     // CheckListBox2 item 0
  bool TransPlaces = false;    // CheckListBox2 item 1
  // Sex filter (not on the transliteration page): 0 men, 1 women, 2 everybody.
  int RadioGroup13 = 2;
};

// What a run works on besides the options.
struct TToolContext {
  TToolContext(Model& m, QString path) : model(m), file(std::move(path)) {}
  Model& model;   // the tree read from `file`; its TECH marks are set by the technical-field tool
  QString file;   // the open file (its type by the last three letters)
  bool write = false;
  std::int64_t current = 0;  // person index of the person list's current row (0: none)
  // The current person and its ancestors (the ancestor list's persons) for the surname case of item 1.
  std::vector<std::int64_t> ancestors;
  QString LinkChain;                         // ";"-joined person indexes of the kinship path on show
  platform::TIniFile* lang = nullptr;        // texts; null: the Russian defaults
  platform::TIniFile* translit = nullptr;    // the transliteration table (usually the same file)
  // Asked when no GEDCOM backup can be made; true writes without one. Null: no write.
  std::function<bool(const QString& question)> ask;
  // Called at the tools' progress points; the page shows its gauge and processes events.
  std::function<void(std::int64_t position, std::int64_t maximum)> progress;
  // Test hook: called after the k-th change was made (k from 1), in a write run; what it throws ends
  // the run as any failure does.
  std::function<void(int k)> afterChange;
};

struct TToolResult {
  QStringList protocol;  // the header line first
  bool reload = false;   // a write run changed the file: the caller reloads it
  int changes = 0;       // changes made (write run) or that would be made (dry run)
};

// Runs the tool of o.ComboBox4 on ctx.file by its type (GEDCOM, ".at4" or ".at5"). Throws EGroupEdit for a file
// type without tools, a tool that cannot run (transliteration without a table), or a file that cannot
// be read or written.
TToolResult RunGroupEdit(TToolContext& ctx, const TToolOptions& o);

// Whether the language file has a transliteration table (the tool is offered only then).
bool HasTransliteration(const platform::TIniFile* file);

// --- shared helpers (exposed for the tests) ---

// The texts of the tools by key, with their Russian defaults.
QString ToolText(platform::TIniFile* lang, const char* key);

// Replaces `old` by `replacement` in `text`: every occurrence, or with wholeWord only those that are not
// part of a longer word (letters, digits and "_" make words); matchCase false compares ignoring case.
// An empty `old` changes nothing.
QString ReplaceWords(const QString& text, const QString& old, const QString& replacement, bool wholeWord,
                     bool matchCase);

// Whether a person of the model's sex passes the sex filter of the GEDCOM tools (0 men, 1 women,
// 2 everybody, also persons of no recorded sex).
bool SexPasses(const QString& sex, int filter);
