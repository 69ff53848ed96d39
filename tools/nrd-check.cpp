// nrd-check FILE [--password TEXT] [--repair] [--compact] [--set-password TEXT]: first runs the
// asked maintenance (in that order; see NrdCheckMaintenance.h), then checks the file as it is
// afterwards (with the new password). A maintenance that cannot run exits 2 like a file that
// cannot be opened.
// The check: opens a database read-only and runs the B-tree integrity check
// over every index it finds (see engine/storage/NRDBTreeCheck.h for what it sees today), then the
// check of every table: records, BLOB values and pages, free space accounting
// (engine/storage/NRDTableCheck.h).
// Leaked pages (allocated by a transaction that never committed) are reported on their own line
// and are not damage. Opening the file rolls back the unfinished change set of a writer that is
// gone, as every opener does, and the tool says so: that is the only change it makes.
// Exit 0 when all is sound, 1 when damage is found, 2 when the file cannot be opened (the engine's
// message on stderr).
#include <exception>
#include <iostream>
#include <sstream>
#include <string>

#include "engine/storage/NRDBTreeCheck.h"
#include "engine/storage/NRDDiskPageManager.h"
#include "engine/storage/NRDTableCheck.h"
#include "NrdCheckMaintenance.h"

int main(int argc, char** argv) {
  std::string file;
  nrd::TNRDPassword password;
  NrdCheckMaintenance maintenance;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--password" && i + 1 < argc) {
      password.Password = argv[++i];
    } else if (arg == "--compact") {
      maintenance.compact = true;
    } else if (arg == "--repair") {
      maintenance.repair = true;
    } else if (arg == "--set-password" && i + 1 < argc) {
      maintenance.setPassword = true;
      maintenance.newPassword = argv[++i];
    } else if (file.empty() && arg.rfind("--", 0) != 0) {
      file = arg;
    } else {
      file.clear();
      break;
    }
  }
  if (file.empty()) {
    std::cerr << "usage: nrd-check FILE [--password TEXT] [--repair] [--compact] [--set-password TEXT]\n";
    return 2;
  }
  if (maintenance.compact || maintenance.repair || maintenance.setPassword) {
    if (!RunNrdCheckMaintenance(file, password.Password, maintenance, std::cout, std::cerr)) return 2;
    if (maintenance.setPassword) password.Password = maintenance.newPassword;
  }
  nrd::TNRDDiskPageManager pm;
  const bool hadJournal = platform::FileSystem::Native().Exists(nrd::TNRDJournal::JournalPath(file));
  try {
    bool readOnly = true, repairNeeded = false, multiUser = false;
    pm.OpenDatabase(file, password, readOnly, repairNeeded, false, multiUser);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 2;
  }
  if (hadJournal && pm.RecoveredChangeSets() > 0) {
    std::cout << "journal: the unfinished change set of a writer that is gone was rolled back\n";
  }
  // The index check ends with its own verdict line; the tool gives one verdict for both checks, last.
  std::ostringstream indexes;
  bool sound = nrd::CheckDatabaseIndexes(pm, indexes);
  std::string indexLines = indexes.str();
  if (!indexLines.empty() && indexLines.back() == '\n') indexLines.pop_back();
  const std::size_t lastLine = indexLines.rfind('\n');
  indexLines = lastLine == std::string::npos ? std::string() : indexLines.substr(0, lastLine + 1);
  std::cout << indexLines;
  sound = nrd::CheckDatabaseTables(pm, std::cout) && sound;
  std::cout << (sound ? "ok" : "damaged") << "\n";
  try {
    pm.CloseDatabase();
  } catch (const std::exception&) {
  }
  return sound ? 0 : 1;
}
