// Appends to a MEMORY table through the engine data set, the road every component takes.
//   BM_MemoryTableAppends/<records>: a new table filled with that many records (an integer key
//     under a unique index and a 30-character name), each by Append, two field writes and Post.
// Linear appends keep the time per record flat from 100k to 1M records; a store that grows by
// a fixed step copies everything on each growth and the time per record climbs with the count.
// Run: build-rel/bench/engine-components/bench_engine_components (a Release build).
#include <benchmark/benchmark.h>

#include <string>

#include "engine/components/NRDAdvDefs.h"
#include "engine/components/NRDDataSet.h"
#include "engine/components/NRDLocalCursor.h"
#include "engine/components/NRDSession.h"

namespace {

using namespace nrd;

class Table : public TNRDDataSet {
 public:
  explicit Table(TNRDLocalSession& session) : session_(session) {}
  ~Table() override { Close(); }

 protected:
  std::unique_ptr<TNRDCursor> CreateHandle() override {
    auto c = std::make_unique<TNRDLocalCursor>();
    c->SetSession(&session_);
    c->SetTableName("Persons");
    c->SetInMemory(true);
    TNRDFieldDefs f;
    TNRDIndexDefs i;
    TNRDConstraintDefs k;
    c->OpenTableByFieldDefs(f, i, k);
    return c;
  }

 private:
  TNRDLocalSession& session_;
};

void CreatePersons(TNRDLocalSession& s) {
  TNRDAdvFieldDefs adv;
  adv.Add("ID", aftInteger, 0, true);
  adv.Add("Name", aftString, 30, false);
  TFieldDefs plain;
  AdvFieldDefsToFieldDefs(adv, plain);
  TNRDIndexDefs indexes;
  MakeEngineIndexDef("PK", "ID", ixPrimary | ixUnique, false, "", "", "", plain, *indexes.AddCreated());
  TNRDFieldDefs fields;
  TNRDConstraintDefs constraints;
  AdvFieldDefsToEngineDefs(adv, indexes, false, fields, constraints);
  TNRDLocalCursor c;
  c.SetSession(&s);
  c.SetTableName("Persons");
  c.CreateTable(fields, indexes, constraints);
}

void BM_MemoryTableAppends(benchmark::State& state) {
  EngineStartup();
  const std::int64_t records = state.range(0);
  for (auto _ : state) {
    TNRDLocalSession s;
    s.FDatabaseName = "MEMORY";
    s.SetConnected(true);
    CreatePersons(s);
    {
      Table t(s);
      t.Open();
      TField& id = t.FieldByName("ID");
      TField& name = t.FieldByName("Name");
      for (std::int64_t i = 0; i < records; ++i) {
        t.Append();
        id.SetAsInteger(static_cast<std::int32_t>(i));
        name.SetAsString("Person number " + std::to_string(i));
        t.Post();
      }
      if (t.RecordCount() != records) state.SkipWithError("records lost");
    }
    state.PauseTiming();
    TNRDLocalCursor c;
    c.SetSession(&s);
    c.SetTableName("Persons");
    c.DeleteTable();
    s.SetConnected(false);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * records);
  EngineShutdown();
}
BENCHMARK(BM_MemoryTableAppends)->Arg(100000)->Arg(200000)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
