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

const char* const TDataModule3::kRoleSQL =
    "select ed2.p_id pid2,ed2.er_id,ed2.e_ord ord2,  ed3.p_id pid3,ed3.er_id,ed3.e_ord,  ed1.p_id,ed1.er_id "
    "from EventDetails ed1 "
    "left join eventdetails ed2 on ed1.e_id=ed2.e_id and ed2.er_id=2 and ed1.e_db_id=ed2.e_db_id and "
    "ed1.er_db_id=ed2.er_db_id "
    "left join eventdetails ed3 on ed1.e_id=ed3.e_id and ed3.er_id=3 and ed1.e_db_id=ed3.e_db_id and "
    "ed1.er_db_id=ed3.er_db_id "
    "where ed1.er_id=1 "
    "union "
    "select ed5.p_id,ed5.er_id,ed5.e_ord,  ed6.p_id,ed6.er_id,ed6.e_ord,ed5.e_id,0 "
    "from EventDetails ed5 join EventDetails ed6 on ed5.e_id=ed6.e_id and ed5.e_db_id=ed6.e_db_id and "
    "ed5.er_db_id=ed6.er_db_id "
    "where (ed5.er_id=5 and ed6.er_id=6) or (ed5.er_id=40 and ed6.er_id=41)"
    "order by pid2,pid3,ord2";

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
  // rec_db_id: the person's own name values; vblob: the whole text beside a short one that may be cut
  // (only long texts have one), so reading a long note costs no statement.
  FDTable_Values.FieldNames = "vstr;rec_db_id;vblob";
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
