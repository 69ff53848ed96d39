// The ".at4" data module; see Unit2.h.
#include "sources/Unit2.h"

#include "engine/components/NRDSession.h"
#include "engine/sql/NRDExpressions.h"

namespace {
TDataModule2* g_dm2 = nullptr;
int g_made = 0;  // modules made so far: the names of the later ones
}  // namespace

const char* const TDataModule2::kPersonSQL =
    "select p1.id, p1.fullname fio, P1.isfav, p1.sex,P1.birth_id,P1.death_id\n"
    "     from \"Persons\" P1 order by p1.id";

const char* const TDataModule2::kRoleSQL =
    "select ed2.p_id pid2,ed2.er_id,ed2.e_ord ord2,  ed3.p_id pid3,ed3.er_id,ed3.e_ord,  ed1.p_id,ed1.er_id "
    "from EventDetails ed1 left join eventdetails ed2 on ed1.e_id=ed2.e_id and ed2.er_id=2 "
    "left join eventdetails ed3 on ed1.e_id=ed3.e_id and ed3.er_id=3 where ed1.er_id=1 "
    "union select ed5.p_id,ed5.er_id,ed5.e_ord,  ed6.p_id,ed6.er_id,ed6.e_ord,ed5.e_id,0 "
    "from EventDetails ed5 join EventDetails ed6 on ed5.e_id=ed6.e_id where ed5.er_id=5 and ed6.er_id=6 "
    "order by pid2,pid3,ord2";

const char* const TDataModule2::kFamiliesSQL =
    "select v1.r_id r_id,v1.vstr vstr,(select v2.vlink from values v2 where (v2.f_id='FAM_4') and "
    "(v1.r_id=v2.r_id)) vlink from values v1\n"
    "where (v1.f_id='FAM_3')\n"
    "union\n"
    "select ' ' r_id,'----' vstr,' ' vlink from global\n"
    "order by vstr ";

TDataModule2::EngineUse::EngineUse() {
  nrd::EngineStartup();
  nrd::sql::InstallExpressionHooks();
}

TDataModule2::EngineUse::~EngineUse() { nrd::EngineShutdown(); }

TDataModule2::TDataModule2(QObject* owner) : QObject(owner) {
  setObjectName(QStringLiteral("DataModule2"));
  ++g_made;
  databaseName_ = g_dm2 == nullptr ? std::string("at4") : "at4_" + std::to_string(g_made);

  dbAT4.SetName("dbAT4");
  dbAT4.SetDatabaseName(databaseName_);
  dbAT4.SetExclusive(false);
  dbAT4.SetReadOnly(true);
  dbAT4.SetKeepConnection(false);
  dbAT4.SetMaxConnections(5);
  dbAT4.SetMultiUser(false);
  dbAT4.SetSessionName("Default");
  // A repair rewrites the file: a file that was not closed cleanly is read as it is.
  dbAT4.SetNoRequestAutoRepair(true);

  for (nrd::TNRDDataSet* ds : {static_cast<nrd::TNRDDataSet*>(&Query_), static_cast<nrd::TNRDDataSet*>(&Table_Dates),
                               static_cast<nrd::TNRDDataSet*>(&Table_Values), static_cast<nrd::TNRDDataSet*>(&Query_TMP),
                               static_cast<nrd::TNRDDataSet*>(&Table_Place),
                               static_cast<nrd::TNRDDataSet*>(&EventDetailsTable),
                               static_cast<nrd::TNRDDataSet*>(&EventsTable),
                               static_cast<nrd::TNRDDataSet*>(&QueryFamilies),
                               static_cast<nrd::TNRDDataSet*>(&EventDetailsTable2)})
    ds->SetDatabaseName(databaseName_);

  Query_.SetName("Query_");
  Query_.SetReadOnly(true);
  Query_.SetRequestLive(true);
  Query_.SetSQL(kPersonSQL);

  Table_Dates.SetName("Table_Dates");
  Table_Dates.SetTableName("Dates");
  Table_Dates.SetReadOnly(true);
  Table_Dates.SetIndexFieldNames("id");

  Table_Values.SetName("Table_Values");
  Table_Values.SetTableName("Values");
  Table_Values.SetReadOnly(true);
  Table_Values.SetIndexName("search");

  Query_TMP.SetName("Query_TMP");
  Query_TMP.SetReadOnly(false);

  Table_Place.SetName("Table_Place");
  Table_Place.SetTableName("Places");
  Table_Place.SetReadOnly(true);
  Table_Place.SetIndexName("id");

  PersonsSource.SetName("PersonsSource");
  PersonsSource.SetDataSet(&Query_);

  EventDetailsTable.SetName("EventDetailsTable");
  EventDetailsTable.SetTableName("EventDetails");
  EventDetailsTable.SetReadOnly(false);
  EventDetailsTable.SetFilter("(er_id =1) or (er_id =2)");
  EventDetailsTable.SetFiltered(true);
  EventDetailsTable.SetIndexName("srole");
  EventDetailsTable.SetMasterFields("id");
  EventDetailsTable.SetMasterSource(&PersonsSource);

  EventsTable.SetName("EventsTable");
  EventsTable.SetTableName("Events");
  EventsTable.SetReadOnly(false);
  EventsTable.SetFiltered(true);
  EventsTable.SetIndexName("id");

  QueryFamilies.SetName("QueryFamilies");
  QueryFamilies.SetReadOnly(true);
  QueryFamilies.SetRequestLive(true);
  QueryFamilies.SetSQL(kFamiliesSQL);

  EventDetailsSource.SetName("EventDetailsSource");
  EventDetailsSource.SetDataSet(&EventDetailsTable);
  FamiliesSource.SetName("FamiliesSource");
  FamiliesSource.SetDataSet(&QueryFamilies);

  EventDetailsTable2.SetName("EventDetailsTable2");
  EventDetailsTable2.SetTableName("EventDetails");
  EventDetailsTable2.SetReadOnly(false);
  EventDetailsTable2.SetFiltered(true);
  EventDetailsTable2.SetIndexName("e_id");
  EventDetailsTable2.SetMasterFields("e_id");
  EventDetailsTable2.SetMasterSource(&EventDetailsSource);

  if (g_dm2 == nullptr) g_dm2 = this;
}

TDataModule2::~TDataModule2() {
  CloseAll();
  // The links go before their sources.
  EventDetailsTable2.SetMasterSource(nullptr);
  EventDetailsTable.SetMasterSource(nullptr);
  if (g_dm2 == this) g_dm2 = nullptr;
}

void TDataModule2::CloseAll() noexcept {
  for (nrd::TNRDDataSet* ds :
       {static_cast<nrd::TNRDDataSet*>(&EventDetailsTable2), static_cast<nrd::TNRDDataSet*>(&QueryFamilies),
        static_cast<nrd::TNRDDataSet*>(&EventsTable), static_cast<nrd::TNRDDataSet*>(&EventDetailsTable),
        static_cast<nrd::TNRDDataSet*>(&Table_Place), static_cast<nrd::TNRDDataSet*>(&Query_TMP),
        static_cast<nrd::TNRDDataSet*>(&Table_Values), static_cast<nrd::TNRDDataSet*>(&Table_Dates),
        static_cast<nrd::TNRDDataSet*>(&Query_)}) {
    try {
      ds->Close();
    } catch (...) {
    }
  }
  try {
    dbAT4.Close();
  } catch (...) {
  }
}

TDataModule2* DataModule2() { return g_dm2; }
