// Shared by the database and table component tests: a started engine, a folder of its own, and a
// database component on a new file in it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "engine/components/NRDDatabase.h"
#include "engine/components/NRDLocalCursor.h"
#include "engine/components/NRDSession.h"
#include "engine/components/NRDTable.h"

class ComponentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    nrd::EngineStartup();
    static int counter = 0;
    dir_ = std::filesystem::temp_directory_path() /
           ("trevolan-comp-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(dir_);
    file_ = (dir_ / "family.at4").string();
  }
  void TearDown() override {
    dbs_.clear();
    nrd::EngineShutdown();
    std::filesystem::remove_all(dir_);
  }
  // A database component named `name` on `file`, created first when asked.
  nrd::TNRDDatabase& Database(const std::string& name, const std::string& file, bool create = true,
                              const std::string& password = "",
                              nrd::TNRDCryptoAlgorithm algorithm = nrd::craRijndael_128) {
    auto db = std::make_unique<nrd::TNRDDatabase>(nullptr);
    db->SetDatabaseName(name);
    db->SetDatabaseFileName(file);
    db->SetPassword(password);
    db->SetCryptoAlgorithm(algorithm);
    db->SetSilentMode(true);
    if (create) db->CreateDatabase();
    dbs_.push_back(std::move(db));
    return *dbs_.back();
  }
  // A table on the database `dbName` (not opened).
  std::unique_ptr<nrd::TNRDTable> Table(const std::string& dbName, const std::string& tableName) {
    auto t = std::make_unique<nrd::TNRDTable>(nullptr);
    t->SetDatabaseName(dbName);
    t->SetTableName(tableName);
    return t;
  }
  std::filesystem::path dir_;
  std::string file_;
  std::vector<std::unique_ptr<nrd::TNRDDatabase>> dbs_;
};
