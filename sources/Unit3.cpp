// The ".at5" data module; see Unit3.h.
#include "sources/Unit3.h"

namespace {
TDataModule3* g_dm3 = nullptr;
}  // namespace

const char* const TDataModule3::kPersonSQL =
    "select p1.id, P1.isfav, p1.sex,P1.birth_id,P1.death_id,vs1.f_id, vs1.vstr,rr.rec_di,rr.rec_de\n"
    "from Persons p1\n"
    "left join ValuesStr vs1 on p1.id=vs1.rec_id and vs1.rec_table=13 and vs1.rec_db_id=0 \n"
    "join __Recs rr on p1.id=rr.rec_id and rr.rec_table=13 and rr.rec_db_id=0\n"
    "order by p1.id,p1.db_id";

TDataModule3::TDataModule3(QObject* owner) : QObject(owner) {
  setObjectName(QStringLiteral("DataModule3"));
  FDQuery_.SetSQL(kPersonSQL);
  FDTable_Dates.TableName = "ValuesDates";
  FDTable_Dates.IndexFieldNames = "rec_table;rec_id";
  FDTable_Values.TableName = "ValuesStr";
  FDTable_Values.IndexFieldNames = "rec_table;f_id;rec_id";
  FDTable_ValuesLinks.TableName = "ValuesLinks";
  FDTable_ValuesLinks.IndexFieldNames = "rec_table;f_id;rec_id";
  // A read looks up about ten values per person: the tables keep their keys and the columns the reader
  // uses in memory, so a lookup costs no SQL (vblob, rarely needed, is read by row id when it is).
  FDTable_Dates.Prefetch = true;
  FDTable_Dates.FieldNames = "d;m;y;d2;m2;y2;isjulian;isdateBC;type;sortdate;sortdate2";
  FDTable_Values.Prefetch = true;
  FDTable_Values.FieldNames = "vstr";
  FDTable_ValuesLinks.Prefetch = true;
  FDTable_ValuesLinks.FieldNames = "vlink_id";
  // The first module made is the program's; later ones (tests, tools) are private to their maker.
  if (!g_dm3) g_dm3 = this;
}

TDataModule3::~TDataModule3() {
  CloseAll();
  if (g_dm3 == this) g_dm3 = nullptr;
}

void TDataModule3::CloseAll() noexcept {
  FDQuery_.Close();
  FDQuery_TMP.Close();
  FDTable_Dates.Close();
  FDTable_Values.Close();
  FDTable_ValuesLinks.Close();
  FDConnection1.Close();
}

TDataModule3* DataModule3() { return g_dm3; }
