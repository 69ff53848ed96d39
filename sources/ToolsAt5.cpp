// The group edit tools on an ".at5" database: they change only rows of ValuesStr, a write run inside one
// transaction that any exception rolls back before it goes on. Persons come from the model read from the
// same file (_UID is the person's id). The rows a tool needs are read once, keyed in memory (the file's
// indexes are not relied on); changes go by row id.
//
// Text columns: vstr holds at most 150 characters, vblob the whole text as UTF-8. A tool works on the
// whole text (vblob when vstr may be cut) and writes vstr cut to 150 characters plus the whole text in
// vblob when the text is longer or the row had a vblob, so a long text is never cut.
#include "sources/PersonChoice.h"
#include "sources/ToolsImpl.h"
#include "sources/Unit3.h"

#include "platform/SqliteDb.h"

#include <sqlite3.h>

#include <QSet>

#include <unordered_map>

using namespace toolsimpl;
using platform::TSqliteStatement;
using platform::TSqliteValue;

namespace {

constexpr int kShortChars = 150;

struct TRow {
  std::int64_t rowid = 0;
  int table = 0, field = 0;
  std::int64_t rec = 0;
  QString text;       // the whole text
  bool blob = false;  // the row has a vblob
};

QString FullText(const TSqliteValue& vstr, const TSqliteValue& vblob) {
  const QString s = QString::fromUtf8(vstr.AsString());
  const std::string& b = vblob.AsBytes();
  if (s.size() >= 120 && !b.empty()) {
    const QString whole = QString::fromUtf8(b.data(), qsizetype(b.size()));
    if (whole.size() >= s.size()) return whole;
  }
  return s;
}

class TAt5Tools {
 public:
  TAt5Tools(TToolContext& ctx, const TToolOptions& o) : ctx_(ctx), o_(o) {}

  TToolResult Run() {
    if (ctx_.write) {
      // The reader's connection is let go: the file is read again after the run.
      if (TDataModule3* dm = DataModule3()) dm->CloseAll();
    }
    conn_.Open(ctx_.file.toStdString(), ctx_.write ? platform::TSqliteConnection::Access::ReadWrite
                                                   : platform::TSqliteConnection::Access::ReadOnly);
    if (ctx_.write) sqlite3_busy_timeout(conn_.Handle(), 5000);
    r_.protocol << HeaderLine(ctx_);
    if (ctx_.write) conn_.StartTransaction();
    try {
      switch (o_.ComboBox4) {
        case gtTechField: TechField(); break;
        case gtNames: Names(); break;
        case gtSurnameCase: SurnameCase(); break;
        case gtTranslit: Translit(); break;
        default: break;
      }
      update_.reset();
      insert_.reset();
      erase_.reset();
      if (ctx_.write) conn_.Commit();
    } catch (...) {
      update_.reset();
      insert_.reset();
      erase_.reset();
      if (conn_.InTransaction()) conn_.Rollback();
      conn_.Close();
      throw;
    }
    conn_.Close();
    r_.changes = changes_;
    r_.reload = ctx_.write && changes_ > 0;
    return r_;
  }

 private:
  void Changed() {
    ++changes_;
    if (ctx_.write && ctx_.afterChange) ctx_.afterChange(changes_);
  }

  // The rows of table `table` with field `field`, the first (by row id) per record.
  std::unordered_map<std::int64_t, TRow>& Rows(int table, int field) {
    const std::int64_t key = std::int64_t(table) * 100000 + field;
    auto it = rows_.find(key);
    if (it != rows_.end()) return it->second;
    auto& map = rows_[key];
    TSqliteStatement st(conn_,
                        "SELECT rowid, rec_id, vstr, vblob FROM ValuesStr WHERE rec_table = ? AND f_id = ? "
                        "ORDER BY rowid");
    st.Bind(1, std::int64_t(table));
    st.Bind(2, std::int64_t(field));
    while (st.Step()) {
      const TSqliteValue rec = st.Column(1);
      if (rec.GetKind() != TSqliteValue::Kind::Integer) continue;
      if (map.count(rec.AsInteger())) continue;
      TRow r;
      r.rowid = st.ColumnInteger(0);
      r.table = table;
      r.field = field;
      r.rec = rec.AsInteger();
      const TSqliteValue blob = st.Column(3);
      r.blob = !blob.IsNull();
      r.text = FullText(st.Column(2), blob);
      map.emplace(r.rec, std::move(r));
    }
    return map;
  }
  TRow* Find(int table, int field, std::int64_t rec) {
    auto& map = Rows(table, field);
    auto it = map.find(rec);
    return it == map.end() ? nullptr : &it->second;
  }

  // Writes a new text into a row (write run); the cached row follows in both runs.
  void SetText(TRow& row, const QString& text) {
    row.text = text;
    if (ctx_.write) {
      if (!update_) update_ = std::make_unique<TSqliteStatement>(conn_, "UPDATE ValuesStr SET vstr = ?, vblob = ? WHERE rowid = ?");
      BindText(*update_, 1, 2, text, row.blob);
      update_->Bind(3, row.rowid);
      update_->Step();
      update_->Reset();
    }
    Changed();
  }
  void BindText(TSqliteStatement& st, int vstr, int vblob, const QString& text, bool hadBlob) {
    qsizetype cut = text.size();
    if (cut > kShortChars) {
      cut = kShortChars;
      if (text[cut - 1].isHighSurrogate()) --cut;
    }
    st.Bind(vstr, std::string_view(text.left(cut).toUtf8().toStdString()));
    if (hadBlob || cut < text.size()) {
      const QByteArray whole = text.toUtf8();
      st.BindBlob(vblob, std::string_view(whole.constData(), std::size_t(whole.size())));
    } else {
      st.BindNull(vblob);
    }
  }
  void Insert(int field, std::int64_t rec, const QString& text) {
    if (ctx_.write) {
      if (!insert_)
        insert_ = std::make_unique<TSqliteStatement>(
            conn_,
            "INSERT INTO ValuesStr (f_id, f_db_id, rec_id, rec_db_id, rec_table, lang_id, lconf, ltrust, vstr, vblob) "
            "VALUES (?, -1, ?, 0, 13, 2, 0, 10, ?, ?)");
      insert_->Bind(1, std::int64_t(field));
      insert_->Bind(2, rec);
      BindText(*insert_, 3, 4, text, false);
      insert_->Step();
      insert_->Reset();
    }
    Changed();
  }
  void Erase(const TRow& row) {
    if (ctx_.write) {
      if (!erase_) erase_ = std::make_unique<TSqliteStatement>(conn_, "DELETE FROM ValuesStr WHERE rowid = ?");
      erase_->Bind(1, row.rowid);
      erase_->Step();
      erase_->Reset();
    }
    Changed();
  }

  static bool Id(const TINDI& p, std::int64_t& id) {
    bool ok = false;
    id = p._UID.trimmed().toLongLong(&ok);
    return ok;
  }
  // The sex filter of these tools: a person of no recorded sex passes both.
  bool Passes(const TINDI& p) const {
    if (o_.RadioGroup13 == 0) return p.SEX != u"F";
    if (o_.RadioGroup13 == 1) return p.SEX != u"M";
    return true;
  }

  void TechField() {
    static const int kCodes[] = {69, 70, 85, 86};
    if (o_.ComboBox5 < 0 || o_.ComboBox5 > 3) throw EGroupEdit(QStringLiteral("ComboBox5: no such field in this database"));
    const int code = kCodes[o_.ComboBox5];
    Model& m = ctx_.model;
    ChooseModelPersons(m, o_, ctx_.current, ctx_.LinkChain, false, {});
    qint64 lines = 0;
    QSet<std::int64_t> done;  // a record id met twice is written once
    for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
      const TINDI& p = m.aIndi[i];
      std::int64_t id = 0;
      if (p.TECH.isEmpty() || !Id(p, id) || done.contains(id)) continue;
      done.insert(id);
      TRow* row = Find(13, code, id);
      if (p.TECH == u"-DEL-") {
        if (!row) continue;
        r_.protocol << p.FIO1 + QStringLiteral(", ") + ToolText(ctx_.lang, "SignClear");
        ++lines;
        Erase(*row);
        Rows(13, code).erase(id);
      } else {
        r_.protocol << p.FIO1 + QStringLiteral(" ") +
                           SignChangeNote(ctx_.lang, o_.Edit24, row ? std::optional<QString>(row->text) : std::nullopt);
        ++lines;
        if (row && row->text == o_.Edit24) continue;
        if (row)
          SetText(*row, o_.Edit24);
        else
          Insert(code, id, o_.Edit24);
      }
    }
    r_.protocol << CountLine(ctx_.lang, o_.RadioGroup14 == 8 ? "AllClearSign" : "AllChangePerson", lines);
  }

  void Names() {
    QString oldText, newValue;
    NameReplacement(o_, oldText, newValue);
    const QStringList olds = OldValues(oldText);
    std::vector<int> codes;
    if (o_.PageControl4 == 0) codes = {66};
    else if (o_.PageControl4 == 1) codes = {67};
    else if (o_.LastNameChange == 0) codes = {64};
    else if (o_.LastNameChange == 1) codes = {65};
    else codes = {64, 65};
    const Qt::CaseSensitivity cs = o_.N5 ? Qt::CaseSensitive : Qt::CaseInsensitive;
    Model& m = ctx_.model;
    qint64 persons = 0;
    for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
      const TINDI& p = m.aIndi[i];
      std::int64_t id = 0;
      if (!Passes(p) || !Id(p, id)) continue;
      bool changed = false;
      for (const QString& o : olds) {
        for (int code : codes) {
          const QString value = code == 66 ? p.FIRS1 : code == 67 ? p.PATR1 : code == 64 ? p.SURN1 : p.SURN0;
          const bool match = o_.N4 ? QString::compare(o, value, cs) == 0 : value.contains(o, cs);
          if (!match) continue;
          TRow* row = Find(13, code, id);
          if (!row) continue;
          const QString now = ReplaceWords(row->text, o, newValue, o_.N4, o_.N5);
          if (now == row->text) continue;
          r_.protocol << p.FIO1 + QStringLiteral(": ") + row->text + QStringLiteral(" -> ") + now;
          SetText(*row, now);
          changed = true;
        }
      }
      if (changed) ++persons;
    }
    r_.protocol << CountLine(ctx_.lang, "AllChangePerson", persons);
    r_.protocol << CountLine(ctx_.lang, "AllChangeValues", changes_);
  }

  void SurnameCase() {
    QSet<std::int64_t> chosen;
    const bool all = o_.RadioGroup8 != 0 && o_.RadioGroup8 != 1;
    chosen.insert(ctx_.current);
    if (o_.RadioGroup8 == 1)
      for (std::int64_t a : ctx_.ancestors) chosen.insert(a);
    Model& m = ctx_.model;
    for (std::size_t i = 1; i < m.aIndi.size(); ++i) {
      const TINDI& p = m.aIndi[i];
      std::int64_t id = 0;
      if (!Passes(p) || (!all && !chosen.contains(std::int64_t(i))) || !Id(p, id)) continue;
      for (int code : {64, 65}) {
        TRow* row = Find(13, code, id);
        if (!row) continue;
        const QString now = ConvertCase(row->text, o_.ComboBox11);
        if (now == row->text) continue;
        r_.protocol << p.FIO1 + QStringLiteral(": ") + row->text + QStringLiteral(" -> ") + now;
        SetText(*row, now);
      }
    }
    r_.protocol << CountLine(ctx_.lang, "AllChangeValues", changes_);
  }

  void Translit() {
    const int variant = o_.ComboBox10 + 1;
    std::vector<std::pair<int, int>> kinds;
    if (o_.TransNames)
      for (int f = 64; f <= 67; ++f) kinds.emplace_back(13, f);
    if (o_.TransPlaces) {
      kinds.emplace_back(14, 93);
      kinds.emplace_back(14, 94);
    }
    std::sort(kinds.begin(), kinds.end());
    for (const auto& [table, field] : kinds) {
      auto& map = Rows(table, field);
      std::vector<TRow*> rows;
      rows.reserve(map.size());
      for (auto& [rec, row] : map) rows.push_back(&row);
      std::sort(rows.begin(), rows.end(), [](const TRow* a, const TRow* b) { return a->rec < b->rec; });
      for (TRow* row : rows) {
        const QString now = TransliterateKeep(ctx_.translit, row->text, variant);
        if (now == row->text) continue;
        r_.protocol << (table == 14 ? QStringLiteral("Place: ") : QStringLiteral("Person: ")) + row->text +
                           QStringLiteral(" -> ") + now;
        SetText(*row, now);
      }
    }
    r_.protocol << CountLine(ctx_.lang, "AllChangeValues", changes_);
  }

  TToolContext& ctx_;
  const TToolOptions& o_;
  platform::TSqliteConnection conn_;
  std::unique_ptr<TSqliteStatement> update_, insert_, erase_;
  std::unordered_map<std::int64_t, std::unordered_map<std::int64_t, TRow>> rows_;
  TToolResult r_;
  int changes_ = 0;
};

}  // namespace

TToolResult Tools_At5(TToolContext& ctx, const TToolOptions& o) { return TAt5Tools(ctx, o).Run(); }
